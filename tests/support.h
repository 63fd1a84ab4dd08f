// Running the tool in-process against the simulated host and as a program,
// and reading back what it printed, logged and sent.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct RunResult {
    std::string out; // standard output
    std::string err; // standard error
    std::string log; // veltrane-log.txt after the run ("" when absent)
    bool log_exists = false;
    std::string record;                // veltrane-erase.jsonl after the run ("" when absent)
    std::string certificates;          // veltrane-certificates.html after the run
    int status = -1;                   // exit status or main's return value
    std::vector<nlohmann::json> trace; // device operations, in order
    // Line end of the console and the log: "\n" here, "\r\n" for a Windows
    // program. Expected texts are written with "\n" and go through text().
    std::string eol = "\n";
    std::string text(const std::string& lf_text) const;
};

// A host with the given drives (JSON array text) and default OS facts.
std::string host_with(const std::string& drives_json);
// A host with one drive; `fields` goes on inside the drive's object (", ...").
std::string drive_host(int number, const std::string& path, const std::string& fields = "");

// The banner on the default OS, and the head of the log block.
extern const std::string BANNER;
extern const std::string LOG_HEAD;

// What the read-back check prints after an erase of a drive whose units all
// held data (2002 samples): the data gone, the data all there, and Windows
// still at 512-byte sectors after a format to 4096.
extern const std::string VERIFIED;
extern const std::string SURVIVED;
extern const std::string STALE_512;
// The console's note after a change to 4096-byte blocks; `console` with it
// right before its SES line.
extern const std::string NOTE_4096;
std::string with_note(std::string console);

bool ends_with(const std::string& text, const std::string& tail);
// The words of `text`, split at spaces: a command line without empty arguments.
std::vector<std::string> words(const std::string& text);

// An `existing_log` that puts a directory where the log would be.
extern const char* const LOG_AS_DIRECTORY;
// An `existing_log` that makes the log a link to /dev/full, where every write
// fails.
extern const char* const LOG_ON_FULL_DEVICE;
// The same two for the erase record file; the log is written as usual.
extern const char* const RECORD_AS_DIRECTORY;
extern const char* const RECORD_ON_FULL_DEVICE;

// What the schema validator finds wrong with erase record lines: "" when
// every line is valid.
std::string record_schema_problems(const std::string& records);
// The same, and the chain: each line's prev and mac as Python's hashlib and
// hmac compute them, with the key `key` ("" for none).
std::string record_chain_problems(const std::string& records, const std::string& key);
// What is wrong with a certificates page made from `records`: "" when
// nothing; with `render`, also its pages as Chromium prints them.
std::string certificates_problems(const std::string& page, const std::string& records, bool render);

// The lines of the record file, parsed.
std::vector<nlohmann::json> record_lines(const std::string& text);

// The dialogue in this process: fresh process-wide state, the host loaded,
// `input` as standard input, no console for the key wait.
RunResult run_dialogue(const std::string& host_json, const std::vector<std::string>& args,
                       const std::string& input = "", const std::string& existing_log = "");

// The built program in a fresh directory, with the host in a file and the
// trace file read back. `host_json` empty: the embedded default host.
// The program is the Linux build, or, with VELTRANE_TEST_RUNNER=wine in the
// environment, the Windows build on the simulated stack (veltrane-sim.exe)
// under Wine (with "wine64", veltrane-sim64.exe under wine64); then every
// console and log line must end in CR LF (checked here), and `eol` says so.
// `files` are put in the run's directory first (name, content): a station
// file, a key, an earlier record.
using Files = std::vector<std::pair<std::string, std::string>>;
RunResult run_program(const std::string& host_json, const std::vector<std::string>& args,
                      const std::string& input = "", const Files& files = {});

// Runs of the program started at once in one directory, each with its own
// arguments, while this process holds a lock on the whole record file for
// `hold_ms` (the runs must wait for it): the record after them all, and
// whether it was still as `files` left it when the lock was given back.
struct AtOnce {
    std::string record;
    bool untouched_while_locked = false;
    std::vector<int> statuses;
};
AtOnce run_programs_at_once(const std::string& host_json,
                            const std::vector<std::vector<std::string>>& runs, const Files& files,
                            int hold_ms);

// 0 when run_program's program can run; otherwise, with the reason printed,
// 77 (skip: no Wine) or 1 (fail: Wine required, or the program missing).
int program_runner_unusable();
// Whether run_program's program is the 64-bit one: veltrane-sim64.exe under
// wine64 (VELTRANE_TEST_RUNNER=wine64), or the Linux program of a
// VELTRANE_WIN64 build.
bool program_is_64bit();

// Bytes of a trace line's "in" field.
std::vector<uint8_t> trace_input(const nlohmann::json& line);

// Trace lines of one kind ("open", "ioctl", "close").
std::vector<nlohmann::json> trace_ops(const std::vector<nlohmann::json>& trace,
                                      const std::string& op);

// Every handle opened was closed, once.
bool handles_balanced(const std::vector<nlohmann::json>& trace);

// Hex text such as "2C 00 0C" as bytes.
std::vector<uint8_t> hex_bytes(const std::string& text);

// The simulator's in-memory trace, parsed.
std::vector<nlohmann::json> current_trace();

// Starts a fresh in-process simulator with the given host.
void use_host(const std::string& host_json);

int count_substr(const std::string& text, const std::string& part);
