// The single buffer in which every USB bridge request travels: the 32-bit
// SCSI_PASS_THROUGH header, a sense area and the data area.
#pragma once

#include <cstdint>

#include "nvme/admin_command.h"

// Header field offsets of SCSI_PASS_THROUGH in a 32-bit process; the Windows
// build checks every one of them against the SDK's structure.
constexpr uint32_t SPT_LENGTH = 0;
constexpr uint32_t SPT_SCSI_STATUS = 2;
constexpr uint32_t SPT_PATH_ID = 3;
constexpr uint32_t SPT_TARGET_ID = 4;
constexpr uint32_t SPT_LUN = 5;
constexpr uint32_t SPT_CDB_LENGTH = 6;
constexpr uint32_t SPT_SENSE_INFO_LENGTH = 7;
constexpr uint32_t SPT_DATA_IN = 8;
constexpr uint32_t SPT_DATA_TRANSFER_LENGTH = 12;
constexpr uint32_t SPT_TIMEOUT_VALUE = 16;
constexpr uint32_t SPT_DATA_BUFFER_OFFSET = 20;
constexpr uint32_t SPT_SENSE_INFO_OFFSET = 24;
constexpr uint32_t SPT_CDB = 28;
constexpr uint32_t SPT_CDB_SIZE = 16;

constexpr uint32_t ENVELOPE_HEADER_SIZE = 44;
constexpr uint32_t ENVELOPE_SENSE_OFFSET = 44;
constexpr uint32_t ENVELOPE_SENSE_SIZE = 24;
constexpr uint32_t ENVELOPE_DATA_OFFSET = 68;
constexpr uint32_t ENVELOPE_SIZE = ENVELOPE_DATA_OFFSET + MAX_TRANSFER; // 65604

// Header values of one envelope; everything else of the header is zero.
struct EnvelopeHeader {
    uint8_t cdb_length;
    uint8_t sense_info_length;
    uint8_t data_in;
    uint32_t data_transfer_length;
    uint32_t timeout_value;
    uint32_t sense_info_offset;
};

// Zeroes the whole envelope and writes the header.
void envelope_begin(uint8_t* envelope, const EnvelopeHeader& header);

// Sends the envelope with IOCTL_SCSI_PASS_THROUGH, 68 + DataTransferLength
// bytes in and out. On failure prints `failure_format` with the last-error
// code (and `direction` first when the format has two conversions) and
// returns 0.
int envelope_send(HANDLE handle, uint8_t* envelope, const char* failure_format);
int envelope_send_with_direction(HANDLE handle, uint8_t* envelope, const char* failure_format,
                                 int direction);

// The data phase's copies: the caller's bytes into the data area before a
// to-device send, the data area back into the caller's buffer after a
// from-device one. Nothing moves for other directions or a zero length.
void envelope_copy_in(uint8_t* envelope, const void* buffer, uint32_t length, int direction);
void envelope_copy_out(const uint8_t* envelope, void* buffer, uint32_t length, int direction);

// SCSI pass-through DataIn code for a DataDirection: 1 from the device,
// 0 otherwise; and the variant whose no-data phase says "unspecified" (2).
uint8_t data_in_code(int direction);
uint8_t data_in_code_unspecified(int direction);
