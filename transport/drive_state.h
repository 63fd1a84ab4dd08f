// One drive and the path to its controller: what every command sent to it
// needs besides its own bytes. The dialogue owns one per drive it opens and
// hands it down; nothing of it is process-wide, so that one run can hold
// several drives (the drives that share a controller are opened beside the
// chosen one).
#pragma once

#include <cstdint>

#include "platform/device.h"

struct DriveState {
    int number;
    HANDLE disk; // \\.\PhysicalDriveN, exclusive: the inbox driver and the bridges
    HANDLE port; // \\.\SCSIn:, exclusive: the OFA driver (none for a USB drive)
    // The namespace the disk is, as the inbox driver shows each namespace of
    // a controller as a disk of its own: its Lun + 1 (1 behind a bridge).
    uint32_t namespace_id;
    uint8_t transport;   // TransportKind, written only by detection
    uint8_t is_usb;      // the descriptor's bus type is USB: detection probes bridges
    uint8_t bus_type;    // STORAGE_BUS_TYPE of the descriptor, 0 when unknown
    uint8_t old_asmedia; // an ASMedia bridge answers only its old firmware's command
    // The host runs Windows PE, where the inbox driver carries Format NVM and
    // Sanitize itself (IOCTL_STORAGE_PROTOCOL_COMMAND): nvme_run_no_data and
    // nvme_sanitize take that route for an inbox drive.
    uint8_t windows_pe;
    // Seconds that the OFA request, the JMicron envelopes and a bridge's
    // erase data phase carry: 5 for identify and log reads, 300 for an erase.
    uint32_t timeout;
    // The request that runs a command failed after the device had taken it
    // (a timeout on any path; any failure of a JMicron data phase): the
    // command may have run or may still be running.
    uint8_t no_answer;
    // Detection probes: a bridge's refusal is another bridge, not an error.
    uint8_t probing;
    // The controller's completion of the last command whose completion entry
    // was read (the OFA driver's reply, a bridge's completion query), as
    // (SCT << 8) | SC; `completion_known` 0 when none was read since
    // nvme_run_no_data began.
    uint8_t completion_known;
    uint32_t completion_status;
};

constexpr uint32_t IDENTIFY_TIMEOUT_S = 5;
constexpr uint32_t ERASE_TIMEOUT_S = 300;

// A drive before anything is opened: no handles, no path, the identify
// timeout.
void drive_state_init(DriveState* drive, int number);
