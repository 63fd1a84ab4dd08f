// Read-back verification of an erase: samples of the namespace read through
// the disk handle before the erase, read again after it and compared.
//
// Samples are units of U bytes (4096, or the larger of the old and new LBA
// data sizes): the first and the last unit, and two units at pseudo-random
// positions in each of 1000 equal subsections of the capacity; every unit
// when there are fewer than 2002. Of each, only a 64-bit hash and whether it
// was blank (all 00h or all FFh) are kept.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/device.h"
#include "platform/report.h"

constexpr uint32_t VERIFY_MIN_UNIT = 4096;
constexpr uint32_t VERIFY_MAX_UNIT = 65536; // the largest LBA data size the check reads
constexpr uint32_t VERIFY_SUBSECTIONS = 1000;
constexpr uint32_t VERIFY_MAX_SAMPLES = 2 + 2 * VERIFY_SUBSECTIONS;
constexpr uint32_t VERIFY_PAGE = 4096;
constexpr uint32_t VERIFY_REASON_SIZE = 80;
constexpr uint32_t VERIFY_LEVEL_SIZE = 16; // "quick", "full", "0.01%" .. "100%"

// DISK_GEOMETRY (24 bytes), the reply of IOCTL_DISK_UPDATE_DRIVE_SIZE and the
// head of DISK_GEOMETRY_EX, the reply of IOCTL_DISK_GET_DRIVE_GEOMETRY_EX
// (which Windows follows with partition and detection data).
constexpr uint32_t DISK_GEOMETRY_SIZE = 24;
constexpr uint32_t DISK_GEOMETRY_BYTES_PER_SECTOR = 20;
constexpr uint32_t DISK_GEOMETRY_EX_DISK_SIZE = 24;
constexpr uint32_t GEOMETRY_BUFFER_SIZE = 256;

enum VerifyVerdict {
    VERIFY_NOT_RUN = 0,            // no check: the erase failed, or it did not come to it
    VERIFY_VERIFIED = 1,           // "Verified!"
    VERIFY_DATA_SURVIVED = 2,      // "Verify error: data survived the erase!"
    VERIFY_NOTHING_TO_COMPARE = 3, // every sample was blank before the erase
    VERIFY_SKIPPED = 4,            // `skip_reason` says why
    VERIFY_READ_ERROR = 5,         // a read after the erase failed
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
    uint64_t units_read; // U-byte units the pass after the erase read, when it read them all
    // A full pass that knows what an erased unit reads (DLFEAT's 00h or FFh)
    // counts the units that do not read it in all their bytes.
    int pattern_known;
    uint64_t units_not_erased;
};

// The samples and the page-aligned buffer they are read into: owned by the
// dialogue, no heap.
struct VerifySamples {
    uint8_t space[VERIFY_MAX_UNIT + VERIFY_PAGE];
    uint64_t unit_index[VERIFY_MAX_SAMPLES];
    uint64_t hash[VERIFY_MAX_SAMPLES];
    uint8_t blank[VERIFY_MAX_SAMPLES];
    uint32_t count; // samples taken
    uint32_t unit;  // U, bytes
    int sampled;    // every sample was read before the erase
    VerifyResult result;
};

// U for a format of `old_size` bytes changed to `new_size`.
uint32_t verify_unit(uint32_t old_size, uint32_t new_size);

// Before the erase, after the volumes went offline: reads the samples of a
// namespace of `capacity` bytes. A read that fails ends the sampling:
// "Verify  : read error %u at offset %llu\n" on the console and the log.
void verify_sample(VerifySamples* v, HANDLE disk, uint64_t capacity, uint32_t unit, LogBlock* log);

// After an erase that reported success (`confirmed`: Erased, Sanitized) or
// a doubtful one (Possible Erased, Sanitize unconfirmed): has Windows read
// the drive's size again, checks that it sees `lba_size`-byte sectors, reads
// the samples again and prints the verdict. Returns the run's exit status:
// confirmed, 0 when verified or every sample was blank, 9 when data
// survived, 10 when the check could not run; doubtful, 0 when verified, 9
// when data survived, else 3.
int verify_after_erase(VerifySamples* v, HANDLE disk, uint32_t lba_size, LogBlock* log,
                       int confirmed);

// An erase whose media could not be sampled before it (a sanitize that
// began before this run): "Verify  : skipped, <reason>\n", and the exit
// status of a check that could not run.
int verify_impossible(VerifySamples* v, LogBlock* log, const char* reason, int confirmed);
