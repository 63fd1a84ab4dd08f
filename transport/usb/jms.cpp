// The JMicron tunnel: a 512-byte "NVME" command block, then the data phase,
// both with operation code 0xA1.
#include <cstring>

#include "transport/transport.h"
#include "platform/wire.h"
#include "transport/usb/scsi_envelope.h"

constexpr uint8_t JMS_OPCODE = 0xA1;
constexpr uint8_t JMS_PHASE_COMMAND = 0x80;
constexpr uint32_t JMS_BLOCK_SIZE = 512;
constexpr uint32_t JMS_ENTRY_OFFSET = 8; // submission entry within the block
constexpr uint8_t JMS_CDB_LENGTH = 12;

// The bridge takes the transfer length big-endian in CDB bytes 3 to 5; for
// the lengths the tool sends (512, 4096, 0) only byte 4 is non-zero.
static void jms_cdb(uint8_t* envelope, uint8_t phase, uint32_t length) {
    put_u8(envelope, SPT_CDB + 0, JMS_OPCODE);
    put_u8(envelope, SPT_CDB + 1, phase);
    put_be(envelope, SPT_CDB + 3, 3, length);
}

static EnvelopeHeader jms_header(uint8_t data_in, uint32_t length) {
    return {JMS_CDB_LENGTH, ENVELOPE_SENSE_SIZE, data_in, length, g_timeout, ENVELOPE_SENSE_OFFSET};
}

int jms_passthrough(HANDLE handle, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command) {
    if (!check_transfer_length(length))
        return 0;
    uint8_t envelope[ENVELOPE_SIZE];

    envelope_begin(envelope, jms_header(SCSI_IOCTL_DATA_OUT, JMS_BLOCK_SIZE));
    jms_cdb(envelope, JMS_PHASE_COMMAND, JMS_BLOCK_SIZE);
    uint8_t* block = envelope + ENVELOPE_DATA_OFFSET;
    memcpy(block, "NVME", 4);
    build_submission_entry(command, block + JMS_ENTRY_OFFSET);
    if (!envelope_send(handle, envelope, "IOCtl: send failed 0x%x!\n"))
        return 0;

    envelope_begin(envelope, jms_header(data_in_code(direction), length));
    jms_cdb(envelope, static_cast<uint8_t>(JMS_PHASE_COMMAND + (direction & 0xFF)), length);
    envelope_copy_in(envelope, buffer, length, direction);
    if (!envelope_send(handle, envelope, "IOCtl: phase2 failed 0x%x!\n"))
        return 0;
    envelope_copy_out(envelope, buffer, length, direction);
    return 1;
}
