// ASMedia USB-to-NVMe bridges (ASM2362 and kin).
//
// Current firmware (`asmedia`) answers two command sets:
// - The two-phase tunnel, 16-byte CDBs with signature 0x5A in byte 1.
//   Command phase: EA 5A 80 00 <dir> 00 00 00 00 00 <length, 32-bit BE>
//   00 00, DataIn 0, length 64, data = the NVMe submission entry; the bridge
//   keeps it. Data phase: EB (EA when the host sends data) 5A 81 00 <dir>
//   00 00 00 00 00 <length, 32-bit BE> 00 00, with <dir> the command phase's
//   (0 none, 1 from the device, 2 to the device), DataIn 2 / 1 / 0 to match,
//   and a length that fits the pending command. It runs the command on the
//   controller and moves its data. The command phase's entry leaves the
//   pointers and the fused and PRP/SGL bits zero (the bridge fills them).
//   Completion query: EB 5A 82 00 00 00 00 00 00 00 <16, 32-bit BE> 00 00,
//   DataIn 1, length 16: the completion entry of the last command the
//   controller ran, with FF FF in bytes 14..15 before it has run any; it
//   leaves a pending command as it is.
// - The single-phase Id/Smart command: E6 <opcode> 00 <CNS> and twelve zero
//   bytes, DataIn 1. Only Identify (opcode 0x06) is known: CNS 1 reads the
//   controller, CNS 0 namespace 1. The bridge always moves a whole Identify
//   structure: DataTransferLength must be exactly 4096, anything shorter or
//   longer is refused rather than truncated or padded.
// Old firmware (`asmedia-legacy`) answers only the Id/Smart command.
//
// Anything else, the JMicron 0xA1 and the Realtek 0xE4/0xE5 included, and
// the completion query when the drive's bridge has `completion` false, is
// refused the way the bridge refuses an unknown CDB (CHECK CONDITION,
// ILLEGAL REQUEST, no data). An error status of the controller comes back
// without data, with CHECK CONDITION, HARDWARE ERROR unless the drive's
// bridge has `check_condition` false.
#include "sim/model.h"
#include "sim/scsi.h"

#include "platform/wire.h"

#include <cstring>

namespace {

constexpr uint32_t ASM_CDB_LENGTH = 16;
constexpr uint8_t ASM_OPCODE_WRITE = 0xEA;
constexpr uint8_t ASM_OPCODE_READ = 0xEB;
constexpr uint8_t ASM_OPCODE_ID_SMART = 0xE6;
constexpr uint8_t ASM_SIGNATURE = 0x5A;
constexpr uint8_t ASM_PHASE_COMMAND = 0x80;
constexpr uint8_t ASM_PHASE_DATA = 0x81;
constexpr uint8_t ASM_PHASE_COMPLETION = 0x82;
constexpr uint8_t ASM_DIR_TO_DEVICE = 2;

class AsmediaModel : public Model {
  public:
    explicit AsmediaModel(bool tunnel) : tunnel_(tunnel) {}
    bool scsi(Drive& drive, const ScsiCommand& command, ScsiResult* result) override;

  private:
    bool command_phase(const ScsiCommand& c);
    bool data_phase(Drive& drive, const ScsiCommand& c, ScsiResult* result);
    bool id_smart(Drive& drive, const ScsiCommand& c, ScsiResult* result);
    bool completion_query(const Drive& drive, const ScsiCommand& c, ScsiResult* result);

    bool tunnel_; // firmware that knows the two-phase tunnel
    bool pending_ = false;
    uint8_t direction_ = 0; // CDB byte 4 of the pending command
    uint8_t entry_[NVME_ENTRY_SIZE] = {};
};

// The two-phase CDB apart from byte 0: signature, phase, byte 3 zero, the
// direction in byte 4, bytes 5..9 zero, the 32-bit big-endian length in bytes
// 10..13 equal to the transfer length, bytes 14..15 zero.
bool tunnel_cdb(const ScsiCommand& c, uint8_t phase) {
    return c.cdb[1] == ASM_SIGNATURE && c.cdb[2] == phase && c.cdb[3] == 0 &&
           c.cdb[4] <= ASM_DIR_TO_DEVICE && cdb_zero(c.cdb, 5, 10) &&
           get_be(c.cdb, 10, 4) == c.length && cdb_zero(c.cdb, 14, ASM_CDB_LENGTH);
}

bool AsmediaModel::scsi(Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    if (c.cdb_length != ASM_CDB_LENGTH)
        return false;
    if (c.cdb[0] == ASM_OPCODE_ID_SMART)
        return id_smart(drive, c, result);
    if (!tunnel_ || (c.cdb[0] != ASM_OPCODE_WRITE && c.cdb[0] != ASM_OPCODE_READ))
        return false;
    if (c.cdb[1] == ASM_SIGNATURE && c.cdb[2] == ASM_PHASE_COMMAND)
        return command_phase(c);
    if (c.cdb[1] == ASM_SIGNATURE && c.cdb[2] == ASM_PHASE_DATA)
        return data_phase(drive, c, result);
    if (c.cdb[1] == ASM_SIGNATURE && c.cdb[2] == ASM_PHASE_COMPLETION)
        return completion_query(drive, c, result);
    return false;
}

bool AsmediaModel::command_phase(const ScsiCommand& c) {
    pending_ = false;
    if (c.cdb[0] != ASM_OPCODE_WRITE || !tunnel_cdb(c, ASM_PHASE_COMMAND) || c.data_in != 0 ||
        c.length != NVME_ENTRY_SIZE || !controller_entry_plain(c.data))
        return false;
    std::memcpy(entry_, c.data, NVME_ENTRY_SIZE);
    direction_ = c.cdb[4];
    pending_ = true;
    return true;
}

bool AsmediaModel::data_phase(Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    // The data phase consumes the pending command whatever happens to it.
    bool had_command = pending_;
    pending_ = false;
    if (!had_command || !tunnel_cdb(c, ASM_PHASE_DATA) || c.cdb[4] != direction_)
        return false;
    const HostTransfer direction = static_cast<HostTransfer>(direction_);
    const uint8_t opcode = direction == HOST_XFER_TO_DEVICE ? ASM_OPCODE_WRITE : ASM_OPCODE_READ;
    static const uint8_t DATA_IN[3] = {2, 1, 0}; // none, from, to
    if (c.cdb[0] != opcode || c.data_in != DATA_IN[direction] ||
        !controller_transfer_fits(entry_, direction, c.length))
        return false;
    bridge_run(drive, entry_, direction == HOST_XFER_FROM_DEVICE, result);
    return true;
}

bool AsmediaModel::completion_query(const Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    if (!drive.config.bridge.completion || c.cdb[0] != ASM_OPCODE_READ ||
        !tunnel_cdb(c, ASM_PHASE_COMPLETION) || c.cdb[4] != 0 || c.data_in != 1 ||
        c.length != NVME_COMPLETION_SIZE)
        return false;
    result->data.assign(drive.controller.completion,
                        drive.controller.completion + NVME_COMPLETION_SIZE);
    if (!drive.controller.executed)
        result->data[14] = result->data[15] = 0xFF;
    return true;
}

bool AsmediaModel::id_smart(Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    const uint8_t cns = c.cdb[3];
    if (c.cdb[1] != NVME_ADMIN_IDENTIFY || c.cdb[2] != 0 || (cns != 0 && cns != 1) ||
        !cdb_zero(c.cdb, 4, ASM_CDB_LENGTH) || c.data_in != 1 || c.length != NVME_IDENTIFY_SIZE)
        return false;
    // The bridge builds the command itself: Identify Controller, or Identify
    // Namespace of namespace 1.
    uint8_t entry[NVME_ENTRY_SIZE] = {};
    put_u8(entry, 0, NVME_ADMIN_IDENTIFY);
    put_le32(entry, 4, cns == 1 ? 0 : 1);
    put_le32(entry, 40, cns);
    bridge_run(drive, entry, true, result);
    return true;
}

} // namespace

std::unique_ptr<Model> make_asmedia_model() {
    return std::make_unique<AsmediaModel>(true);
}

std::unique_ptr<Model> make_asmedia_legacy_model() {
    return std::make_unique<AsmediaModel>(false);
}
