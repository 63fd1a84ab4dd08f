// The operating system's own NVMe driver: it answers the protocol-specific
// property query (IOCTL_STORAGE_QUERY_PROPERTY, property 49) on the disk
// handle by sending Identify itself, and returns the data behind a
// STORAGE_PROTOCOL_DATA_DESCRIPTOR. Its sanitize requests, the namespace
// query (property 50) and the log query are in sim/inbox_sanitize.cpp. It
// carries raw commands only in Windows PE, through its protocol command
// (sim/inbox_protocol.cpp): the SCSI port refuses the miniport request
// (error 1) and vendor SCSI commands get CHECK CONDITION.
//
// Answered: a standard query for NVMe Identify data, CNS 1 (controller,
// namespace id 0) or CNS 0 with namespace 1, the data right behind the
// 40-byte protocol block (offset 40, length 4096), in and out buffers of
// exactly the descriptor and the data (4144 bytes: a longer buffer declares
// more data than the query asks for). Any other property-49 query fails with
// error 87; other properties go to the common handling.
#include "sim/inbox.h"
#include "sim/model.h"

#include "platform/device.h"
#include "platform/wire.h"

#include <cstring>

namespace {

constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_IO_DEVICE_CODE = 1117;

constexpr uint32_t QUERY_PROPERTY_ID = 0;
constexpr uint32_t QUERY_TYPE = 4;
constexpr uint32_t SPECIFIC_DATA = 8; // STORAGE_PROTOCOL_SPECIFIC_DATA
constexpr uint32_t SPECIFIC_DATA_SIZE = 40;
constexpr uint32_t PROTOCOL_TYPE = SPECIFIC_DATA + 0;
constexpr uint32_t DATA_TYPE = SPECIFIC_DATA + 4;
constexpr uint32_t REQUEST_VALUE = SPECIFIC_DATA + 8;
constexpr uint32_t REQUEST_SUB_VALUE = SPECIFIC_DATA + 12;
constexpr uint32_t DATA_OFFSET = SPECIFIC_DATA + 16;
constexpr uint32_t DATA_LENGTH = SPECIFIC_DATA + 20;
constexpr uint32_t DESCRIPTOR_SIZE = SPECIFIC_DATA + SPECIFIC_DATA_SIZE; // 48
constexpr uint32_t QUERY_SIZE = DESCRIPTOR_SIZE + NVME_IDENTIFY_SIZE;    // 4144

constexpr uint32_t CNS_NAMESPACE = 0;
constexpr uint32_t CNS_CONTROLLER = 1;

class InboxModel : public Model {
  public:
    bool control(Drive& drive, bool port, const Request& request, Reply* reply) override;
    bool scsi(Drive& drive, const ScsiCommand& command, ScsiResult* result) override {
        return inbox_scsi_sanitize(drive, command, result);
    }
};

// The Identify the query asks for as a submission entry; false when it is
// not one the driver answers.
bool identify_entry(const Request& r, uint8_t* entry) {
    const uint8_t* p = r.in;
    if (r.in_size != QUERY_SIZE || r.out_size != QUERY_SIZE)
        return false;
    if (get_le32(p, QUERY_TYPE) != PropertyStandardQuery ||
        get_le32(p, PROTOCOL_TYPE) != ProtocolTypeNvme ||
        get_le32(p, DATA_TYPE) != NVMeDataTypeIdentify ||
        get_le32(p, DATA_OFFSET) != SPECIFIC_DATA_SIZE ||
        get_le32(p, DATA_LENGTH) != NVME_IDENTIFY_SIZE)
        return false;
    const uint32_t cns = get_le32(p, REQUEST_VALUE);
    const uint32_t nsid = get_le32(p, REQUEST_SUB_VALUE);
    if (!(cns == CNS_CONTROLLER && nsid == 0) && !(cns == CNS_NAMESPACE && nsid == 1))
        return false;
    std::memset(entry, 0, NVME_ENTRY_SIZE);
    put_u8(entry, 0, NVME_ADMIN_IDENTIFY);
    put_le32(entry, 4, nsid);
    put_le32(entry, 40, cns);
    return true;
}

bool InboxModel::control(Drive& drive, bool port, const Request& request, Reply* reply) {
    if (port)
        return false;
    if (request.code == IOCTL_STORAGE_REINITIALIZE_MEDIA_CODE) {
        *reply = inbox_reinitialize_media(drive, request);
        return true;
    }
    if (request.code == IOCTL_STORAGE_PROTOCOL_COMMAND_CODE) {
        *reply = inbox_protocol_command(drive, request);
        return true;
    }
    if (request.code == IOCTL_SCSI_PASS_THROUGH)
        return inbox_sanitize_refused(drive, request, reply);
    if (request.code != IOCTL_STORAGE_QUERY_PROPERTY || !request.in || request.in_size < 8)
        return false;
    const uint32_t property = get_le32(request.in, QUERY_PROPERTY_ID);
    if (property == StorageDeviceProtocolSpecificProperty) {
        *reply = inbox_namespace_query(drive, request);
        return true;
    }
    if (property != StorageAdapterProtocolSpecificProperty)
        return false;
    if (request.in_size >= DATA_TYPE + 4 &&
        get_le32(request.in, DATA_TYPE) == NVMeDataTypeLogPage) {
        *reply = inbox_log_query(drive, request);
        return true;
    }
    uint8_t entry[NVME_ENTRY_SIZE];
    if (!identify_entry(request, entry)) {
        *reply = reply_error(ERROR_INVALID_PARAMETER_CODE);
        return true;
    }
    NvmeCompletion done = controller_execute(drive.controller, entry);
    if (done.status != NVME_SC_SUCCESS) {
        *reply = reply_error(ERROR_IO_DEVICE_CODE);
        return true;
    }
    reply->ok = true;
    reply->device_ms = done.device_ms; // the query carries no timeout
    reply->out.assign(QUERY_SIZE, 0);
    uint8_t* out = reply->out.data();
    put_le32(out, 0, DESCRIPTOR_SIZE); // Version
    put_le32(out, 4, DESCRIPTOR_SIZE); // Size
    // The protocol block as asked, with the offset and length returned.
    std::memcpy(out + SPECIFIC_DATA, request.in + SPECIFIC_DATA, SPECIFIC_DATA_SIZE);
    put_le32(out, DATA_OFFSET, SPECIFIC_DATA_SIZE);
    put_le32(out, DATA_LENGTH, NVME_IDENTIFY_SIZE);
    std::memcpy(out + DESCRIPTOR_SIZE, done.data.data(), NVME_IDENTIFY_SIZE);
    return true;
}

} // namespace

std::unique_ptr<Model> make_inbox_model() {
    return std::make_unique<InboxModel>();
}
