// IOCTL_SCSI_PASS_THROUGH as the port driver handles it: the envelope is
// checked the way the storage stack checks it, the CDB goes to the drive's
// model, and the SCSI status, sense data, transfer length and data come back
// in the caller's buffer.
#pragma once

#include "sim/model.h"

// SCSI_PASS_THROUGH of the Windows build the simulator stands in for: the
// 32-bit one, or the 64-bit one (veltrane-sim64.exe, and a native build with
// VELTRANE_WIN64), whose DataBufferOffset is 8 bytes. Kept apart from the
// tool's own definition on purpose: this decoder is what checks the tool's
// envelopes. The other build's envelope is refused: its Length is not this
// one's.
constexpr uint32_t SPT_OFF_LENGTH = 0;
constexpr uint32_t SPT_OFF_SCSI_STATUS = 2;
constexpr uint32_t SPT_OFF_PATH_ID = 3;
constexpr uint32_t SPT_OFF_TARGET_ID = 4;
constexpr uint32_t SPT_OFF_LUN = 5;
constexpr uint32_t SPT_OFF_CDB_LENGTH = 6;
constexpr uint32_t SPT_OFF_SENSE_INFO_LENGTH = 7;
constexpr uint32_t SPT_OFF_DATA_IN = 8;
constexpr uint32_t SPT_OFF_DATA_TRANSFER_LENGTH = 12;
constexpr uint32_t SPT_OFF_TIMEOUT_VALUE = 16;
#if defined(_WIN64) || defined(VELTRANE_WIN64)
constexpr bool SPT_WIDE = true;
constexpr uint32_t SPT_HEADER_SIZE = 56;
constexpr uint32_t SPT_OFF_DATA_BUFFER_OFFSET = 24;
constexpr uint32_t SPT_OFF_SENSE_INFO_OFFSET = 32;
constexpr uint32_t SPT_OFF_CDB = 36;
#else
constexpr bool SPT_WIDE = false;
constexpr uint32_t SPT_HEADER_SIZE = 44;
constexpr uint32_t SPT_OFF_DATA_BUFFER_OFFSET = 20;
constexpr uint32_t SPT_OFF_SENSE_INFO_OFFSET = 24;
constexpr uint32_t SPT_OFF_CDB = 28;
#endif

// Fixed-format sense data length written on CHECK CONDITION.
constexpr uint32_t SENSE_FIXED_SIZE = 18;

// Whether CDB bytes from..to-1 are all zero: the bridges refuse a CDB with
// anything in the bytes they do not use.
bool cdb_zero(const uint8_t* cdb, uint32_t from, uint32_t to);

Reply scsi_pass_through(Drive& drive, const Request& request);

// A bridge's data phase running the pending command on the controller: the
// device time, and from-device data for the host. An error status of the
// controller comes back without data, as CHECK CONDITION, HARDWARE ERROR
// (the bridge's `check_condition`) or as GOOD.
void bridge_run(Drive& drive, const uint8_t* entry, bool from_device, ScsiResult* result);
