// What a run of the dialogue has opened, shared by its modes.
#pragma once

#include <cstdio>

#include "dialogue/record.h"
#include "dialogue/verify.h"
#include "dialogue/volumes.h"
#include "platform/device.h"

// What the run has opened, released by the closing step, and the record of
// its erase.
struct RunResources {
    FILE* log;
    int log_failure_told; // "Write Log File Error" is printed once a run
    HANDLE disk;
    HANDLE port;
    QuietDisk volumes;     // offline until the end of the run
    VerifySamples* verify; // the read-back's samples
    EraseRecord record;
};

// Hands what the log holds to the file, so that the record survives the
// process; a write that failed is told and the run goes on.
void flush_log(RunResources& run);
