// IOCTL_SCSI_PASS_THROUGH as the port driver handles it: the envelope is
// checked the way the storage stack checks it, the CDB goes to the drive's
// model, and the SCSI status, sense data, transfer length and data come back
// in the caller's buffer.
#pragma once

#include "sim/model.h"

// SCSI_PASS_THROUGH in a 32-bit process. Kept apart from the tool's own
// definition on purpose: this decoder is what checks the tool's envelopes.
constexpr uint32_t SPT_HEADER_SIZE = 44;
constexpr uint32_t SPT_OFF_LENGTH = 0;
constexpr uint32_t SPT_OFF_SCSI_STATUS = 2;
constexpr uint32_t SPT_OFF_CDB_LENGTH = 6;
constexpr uint32_t SPT_OFF_SENSE_INFO_LENGTH = 7;
constexpr uint32_t SPT_OFF_DATA_IN = 8;
constexpr uint32_t SPT_OFF_DATA_TRANSFER_LENGTH = 12;
constexpr uint32_t SPT_OFF_TIMEOUT_VALUE = 16;
constexpr uint32_t SPT_OFF_DATA_BUFFER_OFFSET = 20;
constexpr uint32_t SPT_OFF_SENSE_INFO_OFFSET = 24;
constexpr uint32_t SPT_OFF_CDB = 28;

// Fixed-format sense data length written on CHECK CONDITION.
constexpr uint32_t SENSE_FIXED_SIZE = 18;

Reply scsi_pass_through(Drive& drive, const Request& request);
