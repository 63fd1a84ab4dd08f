// The Realtek tunnel: the submission entry in an 0xE5 command phase, then the
// data phase (0xE4 to the host, 0xE5 otherwise), at most 4096 bytes.
#include <cstring>

#include "transport/transport.h"
#include "platform/wire.h"
#include "transport/usb/scsi_envelope.h"

constexpr uint8_t RTL_OPCODE_WRITE = 0xE5;
constexpr uint8_t RTL_OPCODE_READ = 0xE4;
constexpr uint8_t RTL_PHASE_COMMAND = 0xF7;
constexpr uint8_t RTL_PHASE_DATA = 0xF8;
constexpr uint8_t RTL_CDB_LENGTH = 16;
constexpr uint32_t RTL_TIMEOUT = 2;
constexpr uint32_t RTL_MAX_DATA = 4096;

static EnvelopeHeader rtl_header(uint8_t data_in, uint32_t length, uint8_t sense_length) {
    return {RTL_CDB_LENGTH, sense_length, data_in, length, RTL_TIMEOUT, ENVELOPE_SENSE_OFFSET};
}

int rtl_passthrough(HANDLE handle, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command) {
    if (!check_transfer_length(length))
        return 0;
    if (length > RTL_MAX_DATA)
        length = RTL_MAX_DATA; // the bridge moves one 4096-byte page per command
    uint8_t envelope[ENVELOPE_SIZE];

    envelope_begin(envelope, rtl_header(SCSI_IOCTL_DATA_OUT, SUBMISSION_ENTRY_SIZE, 0));
    put_u8(envelope, SPT_CDB + 0, RTL_OPCODE_WRITE);
    put_le16(envelope, SPT_CDB + 1, SUBMISSION_ENTRY_SIZE);
    put_u8(envelope, SPT_CDB + 3, RTL_PHASE_COMMAND);
    build_submission_entry(command, envelope + ENVELOPE_DATA_OFFSET);
    if (!envelope_send(handle, envelope, "IOCtl: rtl cmd send[1] failed 0x%x!\n"))
        return 0;

    envelope_begin(envelope,
                   rtl_header(data_in_code_unspecified(direction), length, ENVELOPE_SENSE_SIZE));
    put_u8(envelope, SPT_CDB + 0,
           (direction & 0xFF) == DIR_FROM_DEVICE ? RTL_OPCODE_READ : RTL_OPCODE_WRITE);
    put_le16(envelope, SPT_CDB + 1, length);
    put_u8(envelope, SPT_CDB + 3, RTL_PHASE_DATA);
    put_u8(envelope, SPT_CDB + 6, static_cast<uint8_t>((direction & 0xFF) - 1));
    envelope_copy_in(envelope, buffer, length, direction);
    if (!envelope_send_with_direction(handle, envelope,
                                      "IOCtl: rtl data exchange[2] %u failed 0x%x!\n", direction))
        return 0;
    envelope_copy_out(envelope, buffer, length, direction);
    return 1;
}
