// The simulated Windows storage stack: serves platform/device.h on hosts
// other than Windows. The program itself never calls these; they are for the
// tests, which drive the simulator in-process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Replaces the current host (closing nothing: call sim_reset first; handles
// of the earlier host are forgotten without close lines, and the clock starts
// again at tick_start).
// Returns false and fills `error` with a one-line reason when the text is not
// a valid host. `origin` names the source in the error ("<default>", a path).
bool sim_load_host_text(const std::string& json, const std::string& origin, std::string* error);
bool sim_load_host_file(const std::string& path, std::string* error);
void sim_load_default_host();

// The embedded default host, as JSON text.
const char* sim_default_host_json();

// Forgets every handle, the trace kept in memory and the host; the next
// device operation loads the host from the environment again, unless a host
// is loaded first.
void sim_reset();

// Trace lines made since the last reset, kept in memory when VELTRANE_SIM_TRACE
// is not set (in-process tests); otherwise they go to that file alone.
const std::vector<std::string>& sim_trace();

// Number of handles currently open.
int sim_open_handles();

// Closes of handles that were not open (never opened, or closed already);
// such closes write no trace line.
int sim_bad_closes();

// The namespace of drive `number` as its controller holds it now: the format
// in use and the size in blocks of that format. False when there is no such
// drive (or no host yet).
bool sim_namespace(int number, uint32_t* flbas, uint64_t* nsze);

// Writes made since the program started to the appended file opened as
// `name` (the log, the erase record).
int sim_appends(const char* name);

// Console model for in-process tests: with `attached` 0 standard input is
// not an interactive console; otherwise `keys` key presses are waiting.
// Without a call the simulator looks at standard input: a terminal is the
// console (the Windows build of the simulator uses the Win32 console and no
// model). Reading a key of the model never blocks: it takes one waiting key,
// if any, and returns '\r'. sim_reset forgets the model.
void sim_set_console(int attached, int keys);
