// Read-back verification of an erase: samples of the namespace read through
// the disk handle before the erase, read again after it and compared; and
// the check of a drive that is not erased (the letter V).
//
// Samples are units of U bytes (4096, or the larger of the old and new LBA
// data sizes): the first and the last unit, and two distinct units at
// pseudo-random positions in each of m equal parts of the capacity; every
// unit when there are no more units than samples. How many the level
// --verify chose says: `quick` 2002 (m = 1000), `P%` that share of the
// units (at least 2002), `full` the quick samples before the erase and every
// byte of the namespace after it, in 1 MiB requests. Of each sample only a
// hash and whether it was blank (all 00h or all FFh) are kept; positions are
// made again from their seed when the samples are read again.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/device.h"
#include "platform/report.h"

constexpr uint32_t VERIFY_MIN_UNIT = 4096;
constexpr uint32_t VERIFY_MAX_UNIT = 65536; // the largest LBA data size the check reads
constexpr uint32_t VERIFY_SUBSECTIONS = 1000;
constexpr uint32_t VERIFY_MAX_SAMPLES = 2 + 2 * VERIFY_SUBSECTIONS; // the quick check's
// A P% level's samples at most: their table takes 8 bytes each, 128 MiB.
constexpr uint64_t VERIFY_MOST_SAMPLES = 16777216;
constexpr uint32_t VERIFY_FULL_READ = 1u << 20; // the full read's requests
// Samples that held data before the erase that a verdict of "Verified!"
// needs: fewer show too little of the erase.
constexpr uint32_t VERIFY_ENOUGH_HELD = 16;
constexpr uint32_t VERIFY_PAGE = 4096;
constexpr uint32_t VERIFY_REASON_SIZE = 80;
constexpr uint32_t VERIFY_LEVEL_SIZE = 16; // "quick", "full", "0.01%" .. "100%"
constexpr int VERIFY_NO_FILL = -1;

// DISK_GEOMETRY (24 bytes), the reply of IOCTL_DISK_UPDATE_DRIVE_SIZE and the
// head of DISK_GEOMETRY_EX, the reply of IOCTL_DISK_GET_DRIVE_GEOMETRY_EX
// (which Windows follows with partition and detection data).
constexpr uint32_t DISK_GEOMETRY_SIZE = 24;
constexpr uint32_t DISK_GEOMETRY_BYTES_PER_SECTOR = 20;
constexpr uint32_t DISK_GEOMETRY_EX_DISK_SIZE = 24;
constexpr uint32_t GEOMETRY_BUFFER_SIZE = 256;

// Identify Namespace DLFEAT: bits 2:0 say what a deallocated block reads.
constexpr uint32_t ID_NS_DLFEAT = 33;

enum VerifyDepth { VERIFY_QUICK = 0, VERIFY_PERCENT = 1, VERIFY_FULL = 2 };

enum VerifyVerdict {
    VERIFY_NOT_RUN = 0,            // no check: the erase failed, or it did not come to it
    VERIFY_VERIFIED = 1,           // "Verified!"
    VERIFY_DATA_SURVIVED = 2,      // "Verify error: data survived the erase!"
    VERIFY_NOTHING_TO_COMPARE = 3, // every sample was blank before the erase
    VERIFY_SKIPPED = 4,            // `skip_reason` says why
    VERIFY_READ_ERROR = 5,         // a read after the erase failed
    VERIFY_TOO_FEW = 6,            // fewer than VERIFY_ENOUGH_HELD samples held data
    VERIFY_BLANK = 7,              // a drive checked alone: every unit read is blank
    VERIFY_HOLDS_DATA = 8,         // and not every one
};

// What the check found, for the record of the erase.
struct VerifyResult {
    uint32_t samples;     // samples compared after the erase
    uint32_t held_data;   // of them, not blank before the erase
    uint32_t unchanged;   // of those, reading the same after it
    uint32_t not_pattern; // of those, changed but reading neither blank value
    uint64_t seed;        // of the sample positions
    VerifyVerdict verdict;
    char skip_reason[VERIFY_REASON_SIZE]; // as printed after "Verify  : skipped, "
    uint32_t read_error;                  // last error of the read that failed, before or after
    uint64_t read_offset;                 // and its byte offset
    uint32_t check_ms;                    // time of the reads after the erase
    // How deep the check reads (--verify): the level as given, "quick" when
    // none was, and whether the pass after the erase reads every byte.
    char level[VERIFY_LEVEL_SIZE];
    int full;
    uint64_t units_read; // U-byte units the pass after the erase read (a short last one counts)
    uint64_t bytes_read; // and their bytes
    // A full pass that knows what an erased unit reads (DLFEAT's 00h or FFh)
    // counts the units that do not read it in all their bytes. A drive
    // checked alone expects blank units: it counts those that hold data.
    int pattern_known;
    uint64_t units_not_erased;
};

// The samples and the page-aligned buffer they and the full read are read
// into: owned by the dialogue, no heap; only a P% level's table of more
// than VERIFY_MAX_SAMPLES samples is allocated, once, before the erase.
struct VerifySamples {
    uint8_t space[VERIFY_FULL_READ + VERIFY_PAGE];
    uint64_t quick_table[VERIFY_MAX_SAMPLES];
    uint64_t* table;     // per sample: its hash, bit 0 set when it was blank
    uint64_t* allocated; // the table when allocated, else null
    VerifyDepth depth;
    uint32_t hundredths; // P%: the level in hundredths of a percent
    int fill;            // what an erased unit reads: 00h, FFh or VERIFY_NO_FILL
    uint64_t capacity;   // bytes of the namespace
    uint64_t units;      // U-byte units in it (0 when U is larger than the check reads)
    uint64_t count;      // samples
    uint32_t unit;       // U, bytes
    int sampled;         // every sample was read before the erase
    VerifyResult result;
};

// Right after the command line is read: the level of --verify (`given`,
// with its `value` after '=', null without '='), "quick" when not given.
// 0 after "Error: --verify=%s is not a level: quick, full or 0.01% to 100%"
// on the console.
int verify_begin(VerifySamples* v, int given, const char* value);

// After the LBA Size line: the namespace's byte capacity in `capacity`,
// and what its deallocated blocks read (DLFEAT), which an erase of user data
// leaves. 0 after "Error: the namespace size is out of range" (console and
// log) for 2^64 bytes or more.
int verify_namespace(VerifySamples* v, const uint8_t* ns, uint32_t lba_size, LogBlock* log,
                     uint64_t* capacity);

// U for a format of `old_size` bytes changed to `new_size`.
uint32_t verify_unit(uint32_t old_size, uint32_t new_size);

// Before any question that leads to the erase: the samples of a namespace
// of `capacity` bytes in units of `unit`, and, for an erase (`erase` 1), the
// table that keeps them. 0, or the run's exit status after its error line
// (console and log): more than VERIFY_MOST_SAMPLES samples, or no memory for
// the table.
int verify_plan(VerifySamples* v, uint64_t capacity, uint32_t unit, int erase, LogBlock* log);

// Before the erase, after the volumes went offline: reads the samples. A
// read that fails ends the sampling: "Verify  : read error %u at offset
// %llu\n" on the console and the log.
void verify_sample(VerifySamples* v, HANDLE disk, LogBlock* log);

// After an erase that reported success (`confirmed`: Erased, Sanitized) or
// a doubtful one (Possible Erased, Sanitize unconfirmed): has Windows read
// the drive's size again, checks that it sees `lba_size`-byte sectors, reads
// the samples again (or, at the full level, the whole namespace) and prints
// the verdict. Returns the run's exit status: 0 when verified, 9 when data
// survived, else 10 after a confirmed erase and 3 after a doubtful one.
int verify_after_erase(VerifySamples* v, HANDLE disk, uint32_t lba_size, LogBlock* log,
                       int confirmed);

// An erase whose media could not be sampled before it (a sanitize that
// began before this run): "Verify  : skipped, <reason>\n", and the exit
// status of a check that could not run.
int verify_impossible(VerifySamples* v, LogBlock* log, const char* reason, int confirmed);

// A drive checked without an erase, after verify_plan: one pass of the
// level, each unit read once, its lines and verdict ("Verify  : blank!",
// "Verify error: the drive holds data!"), the verdict line (without its
// end) in `line` of `size` bytes. Returns 0 (blank), 9 (holds data) or 10
// (a read failed, or nothing could be read).
int verify_drive_contents(VerifySamples* v, HANDLE disk, LogBlock* log, char* line, uint32_t size);

// The end of the run: the table goes.
void verify_release(VerifySamples* v);
