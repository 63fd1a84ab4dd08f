// Internals shared by the stack's files.
#pragma once

#include <cstdint>

// Loads the host and opens the trace on the first device operation after a
// reset; an unusable host or trace file ends the process with status 2 and
// one line on standard error.
void sim_ensure_ready();

// Milliseconds of simulated time since the host was loaded: device time and
// the program's sleeps. Background work of a controller runs on it.
uint64_t sim_clock_ms();

// The build number the OS-version call reports, which the drivers' answers
// depend on.
uint32_t sim_os_build();
// Whether a volume with an extent on drive `number` is mounted and not
// locked: Windows' own erase requests refuse such a disk.
bool sim_volume_mounted_on(uint32_t number);

// Whether the host runs Windows PE, and whether its system volume is the RAM
// disk that lies on no drive.
bool sim_windows_pe();
bool sim_ram_disk_system();
