// What a run of the dialogue has opened, shared by its modes.
#pragma once

#include <cstdio>

#include "dialogue/record.h"
#include "dialogue/verify.h"
#include "dialogue/volumes.h"
#include "platform/device.h"
#include "platform/report.h"

// What the run has opened, released by the closing step, and the record of
// its erase.
struct RunResources {
    LogBlock* log; // null when the log file cannot be opened
    HANDLE disk;
    HANDLE port;
    QuietDisk volumes;     // offline until the end of the run
    VerifySamples* verify; // the read-back's samples
    EraseRecord record;
};
