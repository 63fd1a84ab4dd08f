// IOCTL_STORAGE_PROTOCOL_COMMAND on the inbox driver's disk handle: a raw
// admin command, which the driver carries for Format NVM and Sanitize in
// Windows PE only (elsewhere the request fails with last-error 1 and nothing
// reaches the controller).
//
// The request is one buffer, in and out, of equal sizes: the 84-byte
// STORAGE_PROTOCOL_COMMAND header (Version 1, Length 84, ProtocolType 3 NVMe,
// Flags 0x80000000 an adapter request, CommandLength 64, CommandSpecific 1 an
// admin command), the 64-byte submission entry at 80, and whatever error-info
// and data areas its offsets and lengths name inside the buffer. Anything
// else fails with 87, as do data areas for a command that moves no data and
// an entry with pointers or fused bits the driver fills in itself. Other
// opcodes come back "not supported" (ReturnStatus 0xFF).
//
// Format NVM blocks for its time, bounded by TimeOutValue (past it the request
// fails with 121; the controller still completes the format). Sanitize starts
// the background operation and returns at once. The reply: ReturnStatus 1
// and FixedProtocolReturnData the completion's dword 0; or ReturnStatus 2 and
// ErrorCode the completion's 16-bit status field (phase tag 0, SC in bits
// 8:1, SCT in bits 11:9). The controller's `protocol_sanitize` false answers a
// Sanitize "not supported", `protocol_return_status` every command with that
// ReturnStatus; neither reaches the controller.
#include "sim/inbox.h"

#include "platform/wire.h"
#include "sim/sanitize.h"
#include "sim/stack.h"

#include <cstring>

namespace {

constexpr uint32_t ERROR_INVALID_FUNCTION_CODE_ = 1;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;

constexpr uint32_t VERSION = 0;
constexpr uint32_t LENGTH = 4;
constexpr uint32_t PROTOCOL_TYPE = 8;
constexpr uint32_t FLAGS = 12;
constexpr uint32_t RETURN_STATUS = 16;
constexpr uint32_t ERROR_CODE = 20;
constexpr uint32_t COMMAND_LENGTH = 24;
constexpr uint32_t ERROR_INFO_LENGTH = 28;
constexpr uint32_t TO_DEVICE_LENGTH = 32;
constexpr uint32_t FROM_DEVICE_LENGTH = 36;
constexpr uint32_t TIMEOUT_VALUE = 40;
constexpr uint32_t ERROR_INFO_OFFSET = 44;
constexpr uint32_t TO_DEVICE_OFFSET = 48;
constexpr uint32_t FROM_DEVICE_OFFSET = 52;
constexpr uint32_t COMMAND_SPECIFIC = 56;
constexpr uint32_t FIXED_RETURN_DATA = 64;
constexpr uint32_t HEADER_SIZE = 84;
constexpr uint32_t COMMAND = 80;

constexpr uint32_t STATUS_SUCCESS = 1;
constexpr uint32_t STATUS_ERROR = 2;
constexpr uint32_t STATUS_NOT_SUPPORTED = 0xFF;

// An area of `length` bytes at `offset` lies inside the buffer; with no
// length, its offset may be anything up to the buffer's end.
bool inside(const uint8_t* p, uint32_t offset_field, uint32_t length_field, uint32_t size) {
    const uint64_t offset = get_le32(p, offset_field);
    const uint64_t length = get_le32(p, length_field);
    return length == 0 ? offset <= size
                       : offset >= COMMAND + NVME_ENTRY_SIZE && offset + length <= size;
}

// 0 when the request is well formed, else the last-error code it fails with.
uint32_t check(const Request& r) {
    const uint8_t* p = r.in;
    if (!p || r.in_size < COMMAND + NVME_ENTRY_SIZE || r.out_size != r.in_size)
        return ERROR_INVALID_PARAMETER_CODE;
    if (get_le32(p, VERSION) != 1 || get_le32(p, LENGTH) != HEADER_SIZE ||
        get_le32(p, PROTOCOL_TYPE) != 3 || get_le32(p, FLAGS) != 0x80000000u ||
        get_le32(p, COMMAND_LENGTH) != NVME_ENTRY_SIZE || get_le32(p, COMMAND_SPECIFIC) != 1)
        return ERROR_INVALID_PARAMETER_CODE;
    if (!inside(p, ERROR_INFO_OFFSET, ERROR_INFO_LENGTH, r.in_size) ||
        !inside(p, TO_DEVICE_OFFSET, TO_DEVICE_LENGTH, r.in_size) ||
        !inside(p, FROM_DEVICE_OFFSET, FROM_DEVICE_LENGTH, r.in_size))
        return ERROR_INVALID_PARAMETER_CODE;
    // Format NVM and Sanitize move no data.
    if (get_le32(p, TO_DEVICE_LENGTH) != 0 || get_le32(p, FROM_DEVICE_LENGTH) != 0 ||
        !controller_entry_plain(p + COMMAND))
        return ERROR_INVALID_PARAMETER_CODE;
    return 0;
}

Reply answer(const Request& r, uint32_t status, uint32_t error_code, uint32_t dword0) {
    Reply reply;
    reply.ok = true;
    reply.out.assign(r.in, r.in + r.in_size);
    put_le32(reply.out.data(), RETURN_STATUS, status);
    put_le32(reply.out.data(), ERROR_CODE, error_code);
    put_le32(reply.out.data(), FIXED_RETURN_DATA, dword0);
    return reply;
}

} // namespace

Reply inbox_protocol_command(Drive& drive, const Request& request) {
    if (!sim_windows_pe())
        return reply_error(ERROR_INVALID_FUNCTION_CODE_);
    if (const uint32_t error = check(request))
        return reply_error(error);
    const uint8_t* entry = request.in + COMMAND;
    const ControllerConfig& config = drive.controller.config;
    if (config.protocol_return_status >= 0)
        return answer(request, static_cast<uint32_t>(config.protocol_return_status), 0, 0);
    const uint8_t opcode = entry[0];
    if ((opcode != NVME_ADMIN_FORMAT_NVM && opcode != NVME_ADMIN_SANITIZE) ||
        (opcode == NVME_ADMIN_SANITIZE && !config.protocol_sanitize))
        return answer(request, STATUS_NOT_SUPPORTED, 0, 0);

    const NvmeCompletion done = controller_execute(drive.controller, entry);
    Reply reply = done.status == NVME_SC_SUCCESS
                      ? answer(request, STATUS_SUCCESS, 0, get_le32(drive.controller.completion, 0))
                      : answer(request, STATUS_ERROR, (done.status & 0x7FFu) << 1, 0);
    // A sanitize runs on in the background; a format holds the request.
    reply.device_ms = done.device_ms;
    reply.has_timeout = true;
    reply.timeout_s = get_le32(request.in, TIMEOUT_VALUE);
    return reply;
}
