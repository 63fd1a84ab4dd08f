// OFA NVMe miniport: raw admin commands through IOCTL_SCSI_MINIPORT on the
// SCSI port handle. The request is an SRB_IO_CONTROL header addressed to
// "NvmeMini" / 0xE0002000 followed by the NVME_PASS_THROUGH_IOCTL body; the
// driver runs the submission entry on the controller within the one request
// and writes the completion entry and any data read back into it.
//
// What the driver refuses, failing the call:
// - error 87 (invalid parameter), a request it cannot parse: sizes that do
//   not add up (in and out differ, shorter than the 152-byte body,
//   HeaderLength not 28, Length not everything after the header,
//   ReturnBufferLen not the whole request, DataBufferLen not the data area),
//   a direction other than 0, 1, 2, a queue other than the admin queue,
//   metadata, or a data phase that does not fit the command: Identify moves
//   4096 bytes to the host (direction 2), Format NVM moves nothing
//   (direction 0, no data). Opcodes the controller does not know pass with
//   any direction and length; the controller rejects them itself. Fields the
//   driver owns must come zero, or they would be misread: ReturnCode,
//   VendorSpecific, the completion entry, and in the submission entry the
//   fused and PRP/SGL bits and dwords 2..9 (the driver fills the pointers).
// - error 1 (invalid function), a request that is not this driver's: another
//   signature or control code.
// Every other request on the port, and everything on the disk handle, is
// left to the common handling (error 1 on the port; the disk has no
// protocol-specific property: error 50).
#include "sim/model.h"

#include "platform/device.h"
#include "platform/wire.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t ERROR_INVALID_FUNCTION_CODE = 1;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;

constexpr uint32_t SRB_HEADER_LENGTH = 0;
constexpr uint32_t SRB_SIGNATURE = 4;
constexpr uint32_t SRB_TIMEOUT = 12;
constexpr uint32_t SRB_CONTROL_CODE = 16;
constexpr uint32_t SRB_RETURN_CODE = 20;
constexpr uint32_t SRB_LENGTH = 24;
constexpr uint32_t SRB_IO_CONTROL_SIZE = 28;

constexpr uint32_t OFA_VENDOR_SPECIFIC = 28;
constexpr uint32_t OFA_NVME_CMD = 52;
constexpr uint32_t OFA_CPL_ENTRY = 116;
constexpr uint32_t OFA_DIRECTION = 132;
constexpr uint32_t OFA_QUEUE_ID = 136;
constexpr uint32_t OFA_DATA_BUFFER_LEN = 140;
constexpr uint32_t OFA_META_DATA_LEN = 144;
constexpr uint32_t OFA_RETURN_BUFFER_LEN = 148;
constexpr uint32_t OFA_DATA_BUFFER = 152;

constexpr uint32_t OFA_CONTROL_CODE = 0xE0002000;
constexpr char OFA_SIGNATURE[8] = {'N', 'v', 'm', 'e', 'M', 'i', 'n', 'i'};

constexpr uint32_t NVME_NO_DATA_TX = 0;
// Never asked for: no admin command the tool sends writes data.
[[maybe_unused]] constexpr uint32_t NVME_FROM_HOST_TO_DEV = 1;
constexpr uint32_t NVME_FROM_DEV_TO_HOST = 2;

class OfaModel : public Model {
  public:
    bool control(Drive& drive, bool port, const Request& request, Reply* reply) override;
};

// Whether the data phase the request declares fits the command.
bool fits(const uint8_t* entry, uint32_t direction, uint32_t length) {
    uint32_t need = 0;
    switch (controller_transfer(entry, &need)) {
    case NVME_XFER_NONE:
        return direction == NVME_NO_DATA_TX && length == 0;
    case NVME_XFER_FROM_DEVICE:
        return direction == NVME_FROM_DEV_TO_HOST && length == need;
    case NVME_XFER_ANY:
        break;
    }
    return true;
}

bool zero(const uint8_t* from, const uint8_t* to) {
    return std::all_of(from, to, [](uint8_t b) { return b == 0; });
}

// 0 when the request is well formed and addressed to this driver, else the
// last-error code it fails with.
uint32_t check(const Request& r) {
    const uint8_t* p = r.in;
    if (!p || r.in_size < SRB_IO_CONTROL_SIZE || r.out_size != r.in_size)
        return ERROR_INVALID_PARAMETER_CODE;
    if (get_le32(p, SRB_HEADER_LENGTH) != SRB_IO_CONTROL_SIZE ||
        get_le32(p, SRB_LENGTH) != r.in_size - SRB_IO_CONTROL_SIZE)
        return ERROR_INVALID_PARAMETER_CODE;
    if (std::memcmp(p + SRB_SIGNATURE, OFA_SIGNATURE, sizeof OFA_SIGNATURE) != 0 ||
        get_le32(p, SRB_CONTROL_CODE) != OFA_CONTROL_CODE)
        return ERROR_INVALID_FUNCTION_CODE;
    if (r.in_size < OFA_DATA_BUFFER || get_le32(p, OFA_RETURN_BUFFER_LEN) != r.in_size ||
        get_le32(p, OFA_DATA_BUFFER_LEN) != r.in_size - OFA_DATA_BUFFER)
        return ERROR_INVALID_PARAMETER_CODE;
    const uint32_t direction = get_le32(p, OFA_DIRECTION);
    if (direction > NVME_FROM_DEV_TO_HOST || get_le32(p, OFA_QUEUE_ID) != 0 ||
        get_le32(p, OFA_META_DATA_LEN) != 0)
        return ERROR_INVALID_PARAMETER_CODE;
    if (!fits(p + OFA_NVME_CMD, direction, r.in_size - OFA_DATA_BUFFER))
        return ERROR_INVALID_PARAMETER_CODE;
    if (get_le32(p, SRB_RETURN_CODE) != 0 || !zero(p + OFA_VENDOR_SPECIFIC, p + OFA_NVME_CMD) ||
        !zero(p + OFA_CPL_ENTRY, p + OFA_DIRECTION) || !controller_entry_plain(p + OFA_NVME_CMD))
        return ERROR_INVALID_PARAMETER_CODE;
    return 0;
}

bool OfaModel::control(Drive& drive, bool port, const Request& request, Reply* reply) {
    if (!port || request.code != IOCTL_SCSI_MINIPORT)
        return false;
    if (uint32_t error = check(request)) {
        *reply = reply_error(error);
        return true;
    }
    const uint8_t* entry = request.in + OFA_NVME_CMD;
    NvmeCompletion done = controller_execute(drive.controller, entry);

    // The reply is the request as sent, with the completion and the data.
    reply->ok = true;
    reply->out.assign(request.in, request.in + request.in_size);
    uint8_t* out = reply->out.data();
    std::memcpy(out + OFA_CPL_ENTRY, controller_owner(drive.controller).completion,
                NVME_COMPLETION_SIZE);
    if (done.status == NVME_SC_SUCCESS && !done.data.empty())
        std::memcpy(out + OFA_DATA_BUFFER, done.data.data(), done.data.size());
    reply->device_ms = done.device_ms;
    reply->has_timeout = true;
    reply->timeout_s = get_le32(request.in, SRB_TIMEOUT);
    return true;
}

} // namespace

std::unique_ptr<Model> make_ofa_model() {
    return std::make_unique<OfaModel>();
}
