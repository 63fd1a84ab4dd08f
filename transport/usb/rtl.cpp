// The Realtek tunnel: the submission entry in an 0xE5 command phase, then the
// data phase (0xE4 to the host, 0xE5 otherwise), at most 4096 bytes; and the
// bridge's record of the last completion (0xE4 ... 0xF9).
#include <cstring>

#include "nvme/completion.h"
#include "nvme/sanitize.h"
#include "platform/wire.h"
#include "transport/transport.h"
#include "transport/usb/scsi_envelope.h"

constexpr uint8_t RTL_OPCODE_WRITE = 0xE5;
constexpr uint8_t RTL_OPCODE_READ = 0xE4;
constexpr uint8_t RTL_PHASE_COMMAND = 0xF7;
constexpr uint8_t RTL_PHASE_DATA = 0xF8;
constexpr uint8_t RTL_PHASE_COMPLETION = 0xF9;
constexpr uint8_t RTL_CDB_LENGTH = 16;
constexpr uint32_t RTL_TIMEOUT = 2;
constexpr uint32_t RTL_MAX_DATA = 4096;

// CDB bytes 0 to 3: the opcode, the transfer length little-endian, the phase.
static void rtl_cdb(uint8_t* envelope, uint8_t opcode, uint8_t phase, uint32_t length) {
    put_u8(envelope, SPT_CDB + 0, opcode);
    put_le16(envelope, SPT_CDB + 1, length);
    put_u8(envelope, SPT_CDB + 3, phase);
}

static EnvelopeHeader rtl_header(uint8_t data_in, uint32_t length, uint8_t sense_length,
                                 uint32_t timeout) {
    return {RTL_CDB_LENGTH, sense_length, data_in, length, timeout, ENVELOPE_SENSE_OFFSET};
}

int rtl_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command) {
    if (!check_transfer_length(length))
        return 0;
    if (length > RTL_MAX_DATA)
        length = RTL_MAX_DATA; // the bridge moves one 4096-byte page per command
    uint8_t envelope[ENVELOPE_SIZE];

    envelope_begin(envelope,
                   rtl_header(SCSI_IOCTL_DATA_OUT, SUBMISSION_ENTRY_SIZE, 0, RTL_TIMEOUT));
    rtl_cdb(envelope, RTL_OPCODE_WRITE, RTL_PHASE_COMMAND, SUBMISSION_ENTRY_SIZE);
    build_submission_entry(command, envelope + ENVELOPE_DATA_OFFSET);
    if (!envelope_send(drive, envelope, "IOCtl: rtl cmd send[1] failed 0x%x!\n"))
        return 0;

    // The bridge runs the command in the data phase: an erase's data phase
    // waits as long as the erase itself may take.
    const uint32_t timeout = command_waits_long(command) ? drive->timeout : RTL_TIMEOUT;
    envelope_begin(envelope, rtl_header(data_in_code_unspecified(direction), length,
                                        ENVELOPE_SENSE_SIZE, timeout));
    rtl_cdb(envelope, (direction & 0xFF) == DIR_FROM_DEVICE ? RTL_OPCODE_READ : RTL_OPCODE_WRITE,
            RTL_PHASE_DATA, length);
    put_u8(envelope, SPT_CDB + 6, static_cast<uint8_t>((direction & 0xFF) - 1));
    envelope_copy_in(envelope, buffer, length, direction);
    if (!envelope_run_with_direction(drive, envelope,
                                     "IOCtl: rtl data exchange[2] %u failed 0x%x!\n", direction) ||
        !envelope_status_good(drive, envelope))
        return 0;
    envelope_copy_out(envelope, buffer, length, direction);
    return 1;
}

int rtl_completion(DriveState* drive, uint8_t* entry) {
    uint8_t envelope[ENVELOPE_SIZE];
    envelope_begin(envelope, rtl_header(SCSI_IOCTL_DATA_IN, COMPLETION_ENTRY_SIZE,
                                        ENVELOPE_SENSE_SIZE, COMPLETION_QUERY_TIMEOUT));
    rtl_cdb(envelope, RTL_OPCODE_READ, RTL_PHASE_COMPLETION, COMPLETION_ENTRY_SIZE);
    if (!envelope_query(drive, envelope))
        return 0;
    memcpy(entry, envelope + ENVELOPE_DATA_OFFSET, COMPLETION_ENTRY_SIZE);
    return 1;
}
