// JMicron USB-to-NVMe bridge: vendor command 0xA1 in two phases. The command
// phase hands over a 512-byte block "NVME", 0, submission entry, zeros; the
// bridge keeps it. The data phase (CDB byte 1 = 0x80 + direction) runs it on
// the controller and moves its data. The completion query (CDB byte 1 =
// 0x8F, 512 bytes to the host) answers "NVME", 0, the completion entry of the
// last command the controller ran, zeros. Anything else, and the query when
// the drive's bridge has `completion` false, is refused the way the bridge
// refuses an unknown CDB.
#include "sim/model.h"
#include "sim/scsi.h"

#include "platform/wire.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t JMS_OPCODE = 0xA1;
constexpr uint8_t JMS_COMMAND_PHASE = 0x80;
constexpr uint8_t JMS_COMPLETION_QUERY = 0x8F;
constexpr uint8_t JMS_DIR_NONE = 1;
constexpr uint8_t JMS_DIR_FROM_DEVICE = 2;
constexpr uint8_t JMS_DIR_TO_DEVICE = 3;
constexpr uint32_t JMS_CDB_LENGTH = 12;
constexpr uint32_t JMS_BLOCK_SIZE = 512;
constexpr uint32_t JMS_ENTRY_OFFSET = 8;

class JmicronModel : public Model {
  public:
    bool scsi(Drive& drive, const ScsiCommand& command, ScsiResult* result) override;

  private:
    bool completion_query(Drive& drive, const ScsiCommand& c, ScsiResult* result);

    bool pending_ = false;
    uint8_t entry_[NVME_ENTRY_SIZE] = {};
};

// CDB shape shared by both phases: 12 bytes, 0xA1, byte 2 zero, the 24-bit
// big-endian length in bytes 3..5 equal to the transfer length, 6..11 zero.
bool jms_cdb(const ScsiCommand& c) {
    if (c.cdb_length != JMS_CDB_LENGTH || c.cdb[0] != JMS_OPCODE || c.cdb[2] != 0)
        return false;
    return get_be(c.cdb, 3, 3) == c.length && cdb_zero(c.cdb, 6, JMS_CDB_LENGTH);
}

// The block: signature, four zero bytes, a plain submission entry, zeros.
bool command_block(const ScsiCommand& c) {
    static const uint8_t SIGNATURE[8] = {'N', 'V', 'M', 'E', 0, 0, 0, 0};
    return c.data_in == 0 && c.length == JMS_BLOCK_SIZE &&
           std::memcmp(c.data, SIGNATURE, sizeof SIGNATURE) == 0 &&
           controller_entry_plain(c.data + JMS_ENTRY_OFFSET) &&
           std::all_of(c.data + JMS_ENTRY_OFFSET + NVME_ENTRY_SIZE, c.data + JMS_BLOCK_SIZE,
                       [](uint8_t b) { return b == 0; });
}

bool JmicronModel::scsi(Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    if (c.cdb_length < 2 || c.cdb[0] != JMS_OPCODE)
        return false;
    uint8_t phase = c.cdb[1];
    if (phase == JMS_COMPLETION_QUERY)
        return completion_query(drive, c, result);
    if (phase == JMS_COMMAND_PHASE) {
        pending_ = false;
        if (!jms_cdb(c) || !command_block(c))
            return false;
        std::memcpy(entry_, c.data + JMS_ENTRY_OFFSET, NVME_ENTRY_SIZE);
        pending_ = true;
        return true;
    }
    uint8_t dir = static_cast<uint8_t>(phase - JMS_COMMAND_PHASE);
    if (phase < JMS_COMMAND_PHASE + JMS_DIR_NONE || phase > JMS_COMMAND_PHASE + JMS_DIR_TO_DEVICE)
        return false;
    // The data phase consumes the pending command whatever happens to it.
    bool had_command = pending_;
    pending_ = false;
    uint8_t data_in = dir == JMS_DIR_FROM_DEVICE ? 1 : 0;
    if (!had_command || !jms_cdb(c) || c.data_in != data_in ||
        !controller_transfer_fits(entry_, static_cast<HostTransfer>(dir - 1), c.length))
        return false;

    bridge_run(drive, entry_, dir == JMS_DIR_FROM_DEVICE, result);
    return true;
}

// Leaves any pending command as it is.
bool JmicronModel::completion_query(Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    if (!drive.config.bridge.completion || !jms_cdb(c) || c.data_in != 1 ||
        c.length != JMS_BLOCK_SIZE)
        return false;
    result->data.assign(JMS_BLOCK_SIZE, 0);
    std::memcpy(result->data.data(), "NVME", 4);
    std::memcpy(result->data.data() + JMS_ENTRY_OFFSET, drive.controller.completion,
                NVME_COMPLETION_SIZE);
    return true;
}

} // namespace

std::unique_ptr<Model> make_jmicron_model() {
    return std::make_unique<JmicronModel>();
}
