// What a run of the dialogue has opened, shared by its modes.
#pragma once

#include <cstdio>

#include "dialogue/host_facts.h"
#include "dialogue/record.h"
#include "dialogue/verify.h"
#include "dialogue/volumes.h"
#include "platform/device.h"
#include "platform/report.h"
#include "transport/drive_state.h"

// What the run has opened, released by the closing step, and the record of
// its erase.
struct RunResources {
    LogBlock* log;    // null when the log file cannot be opened
    DriveState drive; // the chosen drive: its handles and its path
    // The chosen drive's SCSI address (all zero for a USB drive): the drives
    // at its port, path and target share its controller.
    uint8_t address[SCSI_ADDRESS_SIZE];
    QuietDisk volumes;     // offline until the end of the run
    VerifySamples* verify; // the read-back's samples
    EraseRecord record;
};

// Before an erase request: the read-back's plan for a namespace of
// `capacity` bytes in units of `unit` (a level it cannot read ends the run
// here), the operator's confirmation (outside quiet mode), the volumes of
// every disk the erase reaches (the record's reach, else the chosen disk)
// taken offline, and the read-back's samples. A sanitize followed from
// an earlier run (`fresh` 0) asks nothing and reads nothing: the drive
// refuses reads until it ends. 0 to go on, else the run's exit status.
struct AnswerStream;

// The namespace the run works on: Identify Namespace into `ns` (4096
// bytes), the `Size` and `LBA Size` lines, and the check's view of its
// capacity (one of 2^64 bytes or more ends the run). Fills the LBA data size
// in use and the capacity in bytes, and the record's; 0 to go on, else the
// run's exit status. Without the namespace data the current format is
// unknown: nothing may go on from a zeroed buffer (the transport has said
// why).
int read_namespace(RunResources& run, uint8_t* ns, uint32_t* lba_size, uint64_t* capacity);

int ready_to_erase(RunResources& run, AnswerStream* answers, int fresh, uint64_t capacity,
                   uint32_t unit);
