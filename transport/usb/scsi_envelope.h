// The single buffer in which every USB bridge request travels: the
// SCSI_PASS_THROUGH header of the build, a sense area and the data area.
#pragma once

#include <cstdint>

#include "nvme/admin_command.h"
#include "transport/drive_state.h"

// SCSI_PASS_THROUGH holds one pointer-sized field, DataBufferOffset, so its
// layout is the build's: the 64-bit Windows build (and the native build that
// stands in for it, VELTRANE_WIN64) has its own. The Windows build checks
// every offset against the SDK's structure.
#if defined(_WIN32) && !defined(_WIN64) && defined(VELTRANE_WIN64)
#error "VELTRANE_WIN64 stands in for the 64-bit Windows build: not for a 32-bit one"
#endif
#if defined(_WIN64) || defined(VELTRANE_WIN64)
#define VELTRANE_SPT_64 1
#else
#define VELTRANE_SPT_64 0
#endif

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
constexpr uint32_t SPT_CDB_SIZE = 16;
#if VELTRANE_SPT_64
constexpr uint32_t SPT_DATA_BUFFER_OFFSET = 24; // ULONG_PTR: 8 bytes, after 4 of alignment
constexpr uint32_t SPT_DATA_BUFFER_OFFSET_SIZE = 8;
constexpr uint32_t SPT_SENSE_INFO_OFFSET = 32;
constexpr uint32_t SPT_CDB = 36;
constexpr uint32_t ENVELOPE_HEADER_SIZE = 56;
#else
constexpr uint32_t SPT_DATA_BUFFER_OFFSET = 20;
constexpr uint32_t SPT_DATA_BUFFER_OFFSET_SIZE = 4;
constexpr uint32_t SPT_SENSE_INFO_OFFSET = 24;
constexpr uint32_t SPT_CDB = 28;
constexpr uint32_t ENVELOPE_HEADER_SIZE = 44;
#endif

constexpr uint32_t ENVELOPE_SENSE_OFFSET = ENVELOPE_HEADER_SIZE;
constexpr uint32_t ENVELOPE_SENSE_SIZE = 24;
constexpr uint32_t ENVELOPE_DATA_OFFSET = ENVELOPE_SENSE_OFFSET + ENVELOPE_SENSE_SIZE; // 68 or 80
constexpr uint32_t ENVELOPE_SIZE = ENVELOPE_DATA_OFFSET + MAX_TRANSFER;

constexpr uint8_t ENVELOPE_STATUS_GOOD = 0x00;

// Fixed-format sense data: sense key (low four bits), ASC and ASCQ.
constexpr uint32_t SENSE_KEY = 2;
constexpr uint32_t SENSE_ASC = 12;
constexpr uint32_t SENSE_ASCQ = 13;

// The bridges' completion queries carry this timeout (seconds): they only
// read what the bridge kept.
constexpr uint32_t COMPLETION_QUERY_TIMEOUT = 5;

// The drive's probing flag is 1 while detection probes. A bridge answers a
// CDB it does not know with CHECK CONDITION, so a probe that meets a status
// other than GOOD has found another bridge, not an error: the request fails
// without a line, and CHECK CONDITION turns the flag to PROBE_REFUSED.
constexpr uint8_t PROBE_REFUSED = 2;
constexpr uint8_t ENVELOPE_STATUS_CHECK_CONDITION = 0x02;

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

// Sends the envelope with IOCTL_SCSI_PASS_THROUGH, ENVELOPE_DATA_OFFSET +
// DataTransferLength bytes in and out. When the request fails, prints
// `failure_format` with the last-error code and returns 0; nothing is said of
// the SCSI status.
int envelope_request(DriveState* drive, uint8_t* envelope, const char* failure_format);

// The request, and then its SCSI status (envelope_status_good): 1 only when
// the driver completed it and the device answered GOOD. A failed request
// prints `failure_format` with the last-error code.
int envelope_send(DriveState* drive, uint8_t* envelope, const char* failure_format);

// The request that runs the command (a bridge's data phase), as
// envelope_request (with `direction` printed before the last-error code):
// one that timed out had been taken by the bridge, which sets the drive's
// no-answer flag. The SCSI status is the caller's to check.
int envelope_run(DriveState* drive, uint8_t* envelope, const char* failure_format);
int envelope_run_with_direction(DriveState* drive, uint8_t* envelope, const char* failure_format,
                                int direction);

// Whether the device answered a completed request with GOOD. Any other
// status fails it: outside detection this prints "IOCtl: SCSI status 0x%02x,
// sense %x/%02x/%02x!\n" with the sense key, ASC and ASCQ (0/00/00 when the
// envelope asks for no sense data) and returns 0.
int envelope_status_good(DriveState* drive, const uint8_t* envelope);

// Sends the envelope as envelope_send does; 1 when the driver completed the
// request and the device answered GOOD. Prints nothing, whatever failed.
int envelope_query(DriveState* drive, uint8_t* envelope);

// The data phase's copies: the caller's bytes into the data area before a
// to-device send, the data area back into the caller's buffer after a
// from-device one. Nothing moves for other directions or a zero length.
void envelope_copy_in(uint8_t* envelope, const void* buffer, uint32_t length, int direction);
void envelope_copy_out(const uint8_t* envelope, void* buffer, uint32_t length, int direction);

// SCSI pass-through DataIn code for a DataDirection: 1 from the device,
// 0 otherwise; and the variant whose no-data phase says "unspecified" (2).
uint8_t data_in_code(int direction);
uint8_t data_in_code_unspecified(int direction);
