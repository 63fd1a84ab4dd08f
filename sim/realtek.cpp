// Realtek USB-to-NVMe bridge (RTL9210 and kin): two 16-byte vendor CDBs.
// - Command phase: E5 <length, 16-bit LE> F7 and twelve zero bytes, DataIn 0,
//   length 64, data = the NVMe submission entry; the bridge keeps it.
// - Data phase: E4 when the host receives, E5 otherwise; <length, 16-bit LE>
//   equal to the transfer length and at most 4096 (one page per command);
//   F8; bytes 4..5 zero; byte 6 the direction (0 none, 1 from the device,
//   2 to the device); bytes 7..15 zero; DataIn 2 / 1 / 0 to match; a length
//   that fits the pending command. It runs the command on the controller and
//   moves its data. The command phase's entry leaves the pointers and the
//   fused and PRP/SGL bits zero (the bridge fills them).
// - Completion query: E4 10 00 F9 and twelve zero bytes, DataIn 1, length
//   16: the completion entry of the last command the controller ran (zero
//   before any); it leaves a pending command as it is.
// Anything else, the JMicron 0xA1 and the ASMedia 0xE6/0xEA/0xEB included, and
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

constexpr uint32_t RTL_CDB_LENGTH = 16;
constexpr uint8_t RTL_OPCODE_WRITE = 0xE5;
constexpr uint8_t RTL_OPCODE_READ = 0xE4;
constexpr uint8_t RTL_PHASE_COMMAND = 0xF7;
constexpr uint8_t RTL_PHASE_DATA = 0xF8;
constexpr uint8_t RTL_PHASE_COMPLETION = 0xF9;
constexpr uint32_t RTL_MAX_DATA = 4096;

class RealtekModel : public Model {
  public:
    bool scsi(Drive& drive, const ScsiCommand& command, ScsiResult* result) override;

  private:
    bool command_phase(const ScsiCommand& c);
    bool data_phase(Drive& drive, const ScsiCommand& c, ScsiResult* result);
    bool completion_query(const Drive& drive, const ScsiCommand& c, ScsiResult* result);

    bool pending_ = false;
    uint8_t entry_[NVME_ENTRY_SIZE] = {};
};

bool RealtekModel::scsi(Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    if (c.cdb_length != RTL_CDB_LENGTH)
        return false;
    if (c.cdb[0] == RTL_OPCODE_WRITE && c.cdb[3] == RTL_PHASE_COMMAND)
        return command_phase(c);
    if ((c.cdb[0] == RTL_OPCODE_WRITE || c.cdb[0] == RTL_OPCODE_READ) && c.cdb[3] == RTL_PHASE_DATA)
        return data_phase(drive, c, result);
    if (c.cdb[0] == RTL_OPCODE_READ && c.cdb[3] == RTL_PHASE_COMPLETION)
        return completion_query(drive, c, result);
    return false;
}

bool RealtekModel::command_phase(const ScsiCommand& c) {
    pending_ = false;
    if (get_le16(c.cdb, 1) != NVME_ENTRY_SIZE || !cdb_zero(c.cdb, 4, RTL_CDB_LENGTH) ||
        c.data_in != 0 || c.length != NVME_ENTRY_SIZE || !controller_entry_plain(c.data))
        return false;
    std::memcpy(entry_, c.data, NVME_ENTRY_SIZE);
    pending_ = true;
    return true;
}

bool RealtekModel::data_phase(Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    // The data phase consumes the pending command whatever happens to it.
    bool had_command = pending_;
    pending_ = false;
    const uint8_t dir = c.cdb[6];
    if (!had_command || dir > HOST_XFER_TO_DEVICE || get_le16(c.cdb, 1) != c.length ||
        c.length > RTL_MAX_DATA || !cdb_zero(c.cdb, 4, 6) || !cdb_zero(c.cdb, 7, RTL_CDB_LENGTH))
        return false;
    const HostTransfer direction = static_cast<HostTransfer>(dir);
    const uint8_t opcode = direction == HOST_XFER_FROM_DEVICE ? RTL_OPCODE_READ : RTL_OPCODE_WRITE;
    static const uint8_t DATA_IN[3] = {2, 1, 0}; // none, from, to
    if (c.cdb[0] != opcode || c.data_in != DATA_IN[direction] ||
        !controller_transfer_fits(entry_, direction, c.length))
        return false;

    bridge_run(drive, entry_, direction == HOST_XFER_FROM_DEVICE, result);
    return true;
}

bool RealtekModel::completion_query(const Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    if (!drive.config.bridge.completion || get_le16(c.cdb, 1) != NVME_COMPLETION_SIZE ||
        !cdb_zero(c.cdb, 4, RTL_CDB_LENGTH) || c.data_in != 1 || c.length != NVME_COMPLETION_SIZE)
        return false;
    result->data.assign(drive.controller.completion,
                        drive.controller.completion + NVME_COMPLETION_SIZE);
    return true;
}

} // namespace

std::unique_ptr<Model> make_realtek_model() {
    return std::make_unique<RealtekModel>();
}
