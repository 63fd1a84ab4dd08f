// The ASMedia tunnels: the two-phase tunnel (0xEA command block, then an
// 0xEA/0xEB data phase) with the bridge's record of the last completion, and
// the single-phase Id/Smart command (0xE6).
#include <cstdio>
#include <cstring>

#include "nvme/completion.h"
#include "nvme/sanitize.h"
#include "platform/wire.h"
#include "transport/transport.h"
#include "transport/usb/scsi_envelope.h"

constexpr uint8_t ASM_OPCODE_WRITE = 0xEA;
constexpr uint8_t ASM_OPCODE_READ = 0xEB;
constexpr uint8_t ASM_OPCODE_ID_SMART = 0xE6;
constexpr uint8_t ASM_TUNNEL_SIGNATURE = 0x5A;
constexpr uint8_t ASM_PHASE_COMMAND = 0x80;
constexpr uint8_t ASM_PHASE_DATA = 0x81;
constexpr uint8_t ASM_PHASE_COMPLETION = 0x82;
constexpr uint8_t ASM_CDB_LENGTH = 16;
constexpr uint32_t ASM_COMMAND_TIMEOUT = 5;
constexpr uint32_t ASM_DATA_TIMEOUT = 2;

// Two-phase CDB: the bridge takes the transfer length big-endian in bytes 10
// to 13; for the lengths the tool sends only bytes 12 and 13 are non-zero.
// Byte 4 is the direction, DataDirection - 1 (0 in the completion query).
static void asm_cdb(uint8_t* envelope, uint8_t opcode, uint8_t phase, uint8_t direction,
                    uint32_t length) {
    put_u8(envelope, SPT_CDB + 0, opcode);
    put_u8(envelope, SPT_CDB + 1, ASM_TUNNEL_SIGNATURE);
    put_u8(envelope, SPT_CDB + 2, phase);
    put_u8(envelope, SPT_CDB + 4, direction);
    put_be(envelope, SPT_CDB + 10, 4, length);
}

static EnvelopeHeader asm_header(uint8_t data_in, uint32_t length, uint32_t timeout) {
    return {ASM_CDB_LENGTH, 0, data_in, length, timeout, 0}; // no sense requested
}

int asm_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command) {
    if (!check_transfer_length(length))
        return 0;
    uint8_t envelope[ENVELOPE_SIZE];
    const uint8_t cdb_direction = static_cast<uint8_t>((direction & 0xFF) - 1);

    envelope_begin(envelope,
                   asm_header(SCSI_IOCTL_DATA_OUT, SUBMISSION_ENTRY_SIZE, ASM_COMMAND_TIMEOUT));
    asm_cdb(envelope, ASM_OPCODE_WRITE, ASM_PHASE_COMMAND, cdb_direction, SUBMISSION_ENTRY_SIZE);
    build_submission_entry(command, envelope + ENVELOPE_DATA_OFFSET);
    if (!envelope_send(drive, envelope, "IOCtl: asm cmd send[1] failed 0x%x!\n"))
        return 0;

    // The bridge runs the command in the data phase: an erase's data phase
    // waits as long as the erase itself may take.
    const uint32_t timeout = command_waits_long(command) ? drive->timeout : ASM_DATA_TIMEOUT;
    const uint8_t opcode = (direction & 0xFF) == DIR_TO_DEVICE ? ASM_OPCODE_WRITE : ASM_OPCODE_READ;
    envelope_begin(envelope, asm_header(data_in_code_unspecified(direction), length, timeout));
    asm_cdb(envelope, opcode, ASM_PHASE_DATA, cdb_direction, length);
    envelope_copy_in(envelope, buffer, length, direction);
    if (!envelope_run(drive, envelope, "IOCtl: asm data exchange[2] failed 0x%x!\n") ||
        !envelope_status_good(drive, envelope))
        return 0;
    envelope_copy_out(envelope, buffer, length, direction);
    return 1;
}

int asm_completion(DriveState* drive, uint8_t* entry) {
    uint8_t envelope[ENVELOPE_SIZE];
    envelope_begin(envelope,
                   asm_header(SCSI_IOCTL_DATA_IN, COMPLETION_ENTRY_SIZE, COMPLETION_QUERY_TIMEOUT));
    asm_cdb(envelope, ASM_OPCODE_READ, ASM_PHASE_COMPLETION, 0, COMPLETION_ENTRY_SIZE);
    const uint8_t* reply = envelope + ENVELOPE_DATA_OFFSET;
    if (!envelope_query(drive, envelope))
        return 0;
    // FF FF in the status half of dword 3: the controller has run no command.
    if (reply[14] == 0xFF && reply[15] == 0xFF)
        return 0;
    memcpy(entry, reply, COMPLETION_ENTRY_SIZE);
    return 1;
}

int asm_legacy_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                           const AdminCommand* command) {
    if (!check_transfer_length(length))
        return 0;
    // The Id/Smart command only reads: the bridge would answer a write with
    // data of its own in a request marked device-to-host.
    if ((direction & 0xFF) == DIR_TO_DEVICE) {
        printf("IOCtl: ASM Id/Smart cannot send data to the device!\n");
        return 0;
    }
    uint8_t envelope[ENVELOPE_SIZE];
    // Unlike the tunnel, the Id/Smart command asks for sense data.
    envelope_begin(envelope, {ASM_CDB_LENGTH, ENVELOPE_SENSE_SIZE, SCSI_IOCTL_DATA_IN, length,
                              ASM_DATA_TIMEOUT, ENVELOPE_SENSE_OFFSET});
    put_u8(envelope, SPT_CDB + 0, ASM_OPCODE_ID_SMART);
    put_u8(envelope, SPT_CDB + 1, command->cdw0 & 0xFF);
    put_u8(envelope, SPT_CDB + 3, command->cdw10 & 0xFF);
    if (!envelope_send(drive, envelope, "IOCtl: ASM Id/Smart failed 0x%x!\n"))
        return 0;
    envelope_copy_out(envelope, buffer, length, direction);
    return 1;
}
