// The JMicron tunnel: a 512-byte "NVME" command block, then the data phase,
// both with operation code 0xA1; and the bridge's record of the last
// completion.
#include <cstring>

#include "nvme/completion.h"
#include "platform/wire.h"
#include "transport/transport.h"
#include "transport/usb/scsi_envelope.h"

constexpr uint8_t JMS_OPCODE = 0xA1;
constexpr uint8_t JMS_PHASE_COMMAND = 0x80;
constexpr uint8_t JMS_PHASE_COMPLETION = 0x8F;
constexpr uint32_t JMS_BLOCK_SIZE = 512;
constexpr uint32_t JMS_ENTRY_OFFSET = 8; // submission or completion entry within the block
constexpr uint8_t JMS_CDB_LENGTH = 12;

// The bridge takes the transfer length big-endian in CDB bytes 3 to 5; for
// the lengths the tool sends (512, 4096, 0) only byte 4 is non-zero.
static void jms_cdb(uint8_t* envelope, uint8_t phase, uint32_t length) {
    put_u8(envelope, SPT_CDB + 0, JMS_OPCODE);
    put_u8(envelope, SPT_CDB + 1, phase);
    put_be(envelope, SPT_CDB + 3, 3, length);
}

static EnvelopeHeader jms_header(uint8_t data_in, uint32_t length, uint32_t timeout) {
    return {JMS_CDB_LENGTH, ENVELOPE_SENSE_SIZE, data_in, length, timeout, ENVELOPE_SENSE_OFFSET};
}

int jms_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command) {
    if (!check_transfer_length(length))
        return 0;
    uint8_t envelope[ENVELOPE_SIZE];

    envelope_begin(envelope, jms_header(SCSI_IOCTL_DATA_OUT, JMS_BLOCK_SIZE, drive->timeout));
    jms_cdb(envelope, JMS_PHASE_COMMAND, JMS_BLOCK_SIZE);
    uint8_t* block = envelope + ENVELOPE_DATA_OFFSET;
    memcpy(block, "NVME", 4);
    build_submission_entry(command, block + JMS_ENTRY_OFFSET);
    if (!envelope_send(drive, envelope, "IOCtl: send failed 0x%x!\n"))
        return 0;

    envelope_begin(envelope, jms_header(data_in_code(direction), length, drive->timeout));
    jms_cdb(envelope, static_cast<uint8_t>(JMS_PHASE_COMMAND + (direction & 0xFF)), length);
    envelope_copy_in(envelope, buffer, length, direction);
    if (!envelope_run(drive, envelope, "IOCtl: phase2 failed 0x%x!\n")) {
        // The bridge runs the command in this phase: without its answer the
        // command may have run, or may still be running.
        drive->no_answer = 1;
        return 0;
    }
    if (!envelope_status_good(drive, envelope))
        return 0;
    envelope_copy_out(envelope, buffer, length, direction);
    return 1;
}

int jms_completion(DriveState* drive, uint8_t* entry) {
    uint8_t envelope[ENVELOPE_SIZE];
    envelope_begin(envelope,
                   jms_header(SCSI_IOCTL_DATA_IN, JMS_BLOCK_SIZE, COMPLETION_QUERY_TIMEOUT));
    jms_cdb(envelope, JMS_PHASE_COMPLETION, JMS_BLOCK_SIZE);
    // The reply is a block like the command's: "NVME", 4 zero bytes, the entry.
    const uint8_t* block = envelope + ENVELOPE_DATA_OFFSET;
    if (!envelope_query(drive, envelope) || memcmp(block, "NVME", 4) != 0)
        return 0;
    memcpy(entry, block + JMS_ENTRY_OFFSET, COMPLETION_ENTRY_SIZE);
    return 1;
}
