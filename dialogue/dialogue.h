// The dialogue with the operator, from the banner to the key wait.
#pragma once

#include <cstdint>

#define VELTRANE_VERSION "0.7a"
#define LOG_FILE_NAME "veltrane-log.txt"

extern uint32_t g_quiet;
extern uint32_t g_log_serial;

// Exit status of a run, so that a script can tell the outcomes apart. 2 is
// the simulated host's own (a bad host file) and never returned here.
enum ExitStatus {
    EXIT_ERASED = 0,
    EXIT_ERASE_ERROR = 1,     // Format NVM was sent and failed or was rejected
    EXIT_POSSIBLY_ERASED = 3, // the request that runs the format got no answer
    EXIT_NOT_CONFIRMED = 4,
    EXIT_BAD_INPUT = 5,       // drive number, LBA format, SES action, unreadable input
    EXIT_NOT_REACHED = 6,     // opens, SCSI address, Identify, Identify Namespace
    EXIT_NOT_SUPPORTED = 7,   // the inbox driver, old ASMedia firmware
    EXIT_REFUSED = 8,         // the system disk, a namespace other than 1, a volume in use
    EXIT_DATA_SURVIVED = 9,   // the read-back found old data after the erase
    EXIT_NOT_VERIFIED = 10,   // erased, but the read-back could not run
    EXIT_RECORD_ALTERED = 11, // --check, --certificates: a record line was altered or removed
};

// The whole run; `main` hands over to it. Returns its ExitStatus.
int dialogue_main(int argc, char** argv);
