// Checking the erase record (--check[=FILE]) and printing its certificates
// (--certificates[=FILE]): modes of the program that open no drive and write
// no log. Each line of the file gets a status, each run (its lines grouped by
// run id) the first status of its lines in the order below.
#pragma once

#include <cstdint>

#include "dialogue/sha256.h"
#include "platform/device.h"

enum LineStatus {
    STATUS_NOT_JSON = 0,     // not a JSON text
    STATUS_UNCHAINED = 1,    // not a version 2 line: nothing to check
    STATUS_MAC_WRONG = 2,    // a key is set and its mac is missing or wrong
    STATUS_CHAIN_BROKEN = 3, // its prev is not the SHA-256 of the line before
    STATUS_ALTERED = 4,      // the next version 2 line's prev is not its SHA-256
    STATUS_OK = 5,
};
extern const char* const STATUS_NAMES[];

// Runs (and lines that are no run's) a file may hold.
constexpr uint32_t CHECK_ENTRIES_HELD = 65536;
// A longer line is not one the tool wrote: it counts as not JSON.
constexpr uint32_t CHECK_LINE_HELD = 65536;

// One run, or a line of no run: where its last line is, and its status.
struct CheckEntry {
    uint64_t id; // of the run id text
    uint64_t last_offset;
    uint32_t last_length;
    uint8_t has_run;
    uint8_t status;
};

struct RecordCheck {
    uint32_t lines;
    uint32_t runs;
    uint32_t altered; // entries neither ok nor unchained
    uint32_t count;
    CheckEntry* entries; // CHECK_ENTRIES_HELD, in the order of each one's first line
};

// Reads `path` and fills `check`. 1 when read; 0 when the file cannot be
// read or holds more entries than held (after printing why).
int check_record_file(HANDLE file, const char* path, const HmacKey* key, RecordCheck* check);

// The last line of an entry, read again into `line` (CHECK_LINE_HELD + 1
// bytes, zero-terminated): its length, 0 when it cannot be read.
uint32_t entry_line(HANDLE file, const CheckEntry& entry, char* line);

// --check and --certificates, after the banner and the OS line: the run's
// exit status.
struct Options;
struct Station;
int record_mode(const Options& options, const Station& station);
