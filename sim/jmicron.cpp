// JMicron USB-to-NVMe bridge: vendor command 0xA1 in two phases. The command
// phase hands over a 512-byte block "NVME", 0, submission entry; the bridge
// keeps it. The data phase (CDB byte 1 = 0x80 + direction) runs it on the
// controller and moves its data. Anything else is refused the way the bridge
// refuses an unknown CDB.
#include "sim/model.h"

#include "platform/wire.h"

#include <cstring>

namespace {

constexpr uint8_t JMS_OPCODE = 0xA1;
constexpr uint8_t JMS_COMMAND_PHASE = 0x80;
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
    bool pending_ = false;
    uint8_t entry_[NVME_ENTRY_SIZE] = {};
};

// CDB shape shared by both phases: 12 bytes, 0xA1, byte 2 zero, the 24-bit
// big-endian length in bytes 3..5 equal to the transfer length, 6..11 zero.
bool jms_cdb(const ScsiCommand& c) {
    if (c.cdb_length != JMS_CDB_LENGTH || c.cdb[0] != JMS_OPCODE || c.cdb[2] != 0)
        return false;
    if (get_be(c.cdb, 3, 3) != c.length)
        return false;
    for (uint32_t i = 6; i < JMS_CDB_LENGTH; ++i)
        if (c.cdb[i] != 0)
            return false;
    return true;
}

bool command_block(const ScsiCommand& c) {
    static const uint8_t SIGNATURE[8] = {'N', 'V', 'M', 'E', 0, 0, 0, 0};
    return c.data_in == 0 && c.length == JMS_BLOCK_SIZE &&
           std::memcmp(c.data, SIGNATURE, sizeof SIGNATURE) == 0;
}

// Whether the data phase's direction and length fit the pending command.
bool fits(const uint8_t* entry, uint8_t dir, uint32_t length) {
    uint32_t need = 0;
    switch (controller_transfer(entry, &need)) {
    case NVME_XFER_NONE:
        return dir == JMS_DIR_NONE && length == 0;
    case NVME_XFER_FROM_DEVICE:
        return dir == JMS_DIR_FROM_DEVICE && length == need;
    case NVME_XFER_ANY:
        break;
    }
    return true;
}

bool JmicronModel::scsi(Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    if (c.cdb_length < 2 || c.cdb[0] != JMS_OPCODE)
        return false;
    uint8_t phase = c.cdb[1];
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
    if (!had_command || !jms_cdb(c) || c.data_in != data_in || !fits(entry_, dir, c.length))
        return false;

    NvmeCompletion done = controller_execute(drive.controller, entry_);
    result->device_ms = done.device_ms;
    if (done.status != NVME_SC_SUCCESS) {
        result->status = SCSI_STATUS_CHECK_CONDITION;
        result->sense_key = SENSE_KEY_HARDWARE_ERROR;
        result->asc = 0x44; // INTERNAL TARGET FAILURE
        return true;
    }
    if (dir == JMS_DIR_FROM_DEVICE)
        result->data = std::move(done.data);
    return true;
}

} // namespace

std::unique_ptr<Model> make_jmicron_model() {
    return std::make_unique<JmicronModel>();
}
