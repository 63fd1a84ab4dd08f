// The inbox driver's sanitize and the queries around it.
//
// - Namespace query: property 50 (the device's protocol data), NVMe,
//   Identify, value 0 (the namespace), sub-value 1 (its NSID), data right
//   behind the 40-byte protocol block, 4144 bytes in and out.
// - Log query: property 49, NVMe, log page, value 0x81, sub-value 0, data at
//   40, 512 bytes; 560 bytes in and out. Another log page fails with error 1,
//   as the driver refuses logs outside its list; anything else malformed
//   with 87. With the drive's `log_error` every log query fails with it.
// - IOCTL_STORAGE_REINITIALIZE_MEDIA: no input (a crypto erase, AUSE set) or,
//   from build 19043, the 16-byte STORAGE_REINITIALIZE_MEDIA: Version 16,
//   Size 16, TimeoutInSeconds, SanitizeMethod (0 the default crypto erase,
//   1 block erase, 2 crypto erase) in bits 3:0, bit 4 disallowing an
//   unrestricted exit, the rest zero. The request waits until the sanitize
//   ends, at most TimeoutInSeconds (12 hours without input), and then fails
//   with error 121.
// - SCSI SANITIZE (0x48, 10 bytes, from build 18362): IMMED 0, ZNR 0, AUSE
//   in bit 5, service action 2 block erase or 3 crypto erase, no parameter
//   data; it waits like the request above, bounded by the envelope's timeout.
//   A sanitize already running answers CHECK CONDITION, NOT READY, 04/1B.
// Both erase requests fail with error 1 below build 14393, on the disk of
// the running system, on a disk with a mounted volume that is not locked,
// and when SANICAP lacks the method.
#include "sim/inbox.h"

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/sanitize.h"
#include "sim/scsi.h"
#include "sim/stack.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t ERROR_INVALID_FUNCTION_CODE_ = 1;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_IO_DEVICE_CODE = 1117;
constexpr int ABORT_IN_SANITIZE_STATUS = 70;

constexpr uint32_t SPECIFIC_DATA = 8;
constexpr uint32_t SPECIFIC_DATA_SIZE = 40;
constexpr uint32_t DESCRIPTOR_SIZE = SPECIFIC_DATA + SPECIFIC_DATA_SIZE; // 48
constexpr uint32_t DATA_TYPE_IDENTIFY = 1;
constexpr uint32_t DATA_TYPE_LOG_PAGE = 2;

constexpr uint32_t BUILD_REINITIALIZE = 14393;
constexpr uint32_t BUILD_REINITIALIZE_INPUT = 19043;
constexpr uint32_t BUILD_SCSI_SANITIZE = 18362;
constexpr uint32_t REINIT_SIZE = 16;
constexpr uint32_t NO_INPUT_WAIT_S = 12 * 3600;

constexpr uint8_t SCSI_SANITIZE = 0x48;
constexpr uint8_t SENSE_KEY_NOT_READY = 0x02;

// Windows refuses to erase a disk with a volume mounted and not locked.
bool volume_mounted_unlocked(const Drive& drive) {
    return sim_volume_mounted_on(drive.config.number);
}

// The query with the standard type and the NVMe protocol, this data type,
// value and sub-value, and `length` bytes of data right behind the
// descriptor, in and out.
bool protocol_query(const Request& r, uint32_t data_type, uint32_t value, uint32_t sub_value,
                    uint32_t length) {
    const uint8_t* p = r.in;
    return r.in_size == DESCRIPTOR_SIZE + length && r.out_size == r.in_size &&
           get_le32(p, 4) == PropertyStandardQuery &&
           get_le32(p, SPECIFIC_DATA) == ProtocolTypeNvme &&
           get_le32(p, SPECIFIC_DATA + 4) == data_type && get_le32(p, SPECIFIC_DATA + 8) == value &&
           get_le32(p, SPECIFIC_DATA + 12) == sub_value &&
           get_le32(p, SPECIFIC_DATA + 16) == SPECIFIC_DATA_SIZE &&
           get_le32(p, SPECIFIC_DATA + 20) == length;
}

Reply descriptor_reply(const Request& r, const std::vector<uint8_t>& data) {
    Reply reply;
    reply.ok = true;
    reply.out.assign(r.in_size, 0);
    uint8_t* out = reply.out.data();
    put_le32(out, 0, DESCRIPTOR_SIZE); // Version
    put_le32(out, 4, DESCRIPTOR_SIZE); // Size
    std::memcpy(out + SPECIFIC_DATA, r.in + SPECIFIC_DATA, SPECIFIC_DATA_SIZE);
    std::memcpy(out + DESCRIPTOR_SIZE, data.data(),
                std::min<size_t>(data.size(), r.in_size - DESCRIPTOR_SIZE));
    return reply;
}

Reply run(Drive& drive, uint8_t opcode, uint32_t nsid, uint32_t cdw10, const Request& r) {
    uint8_t entry[NVME_ENTRY_SIZE] = {};
    put_u8(entry, 0, opcode);
    put_le32(entry, 4, nsid);
    put_le32(entry, 40, cdw10);
    NvmeCompletion done = controller_execute(drive.controller, entry);
    if (done.status != NVME_SC_SUCCESS)
        return reply_error(ERROR_IO_DEVICE_CODE);
    return descriptor_reply(r, done.data);
}

// Error 1 when the driver will not erase this disk with this SANACT; 0 when
// it will.
uint32_t refusal(const Drive& drive, uint32_t sanact) {
    if (sim_os_build() < BUILD_REINITIALIZE || (drive.config.system && !sim_ram_disk_system()) ||
        volume_mounted_unlocked(drive) || !sanitize_supported(drive.controller, sanact))
        return ERROR_INVALID_FUNCTION_CODE_;
    return 0;
}

// Starts the sanitize; the time until it ends in `wait_ms`.
uint16_t start(Drive& drive, uint32_t cdw10, uint32_t* wait_ms) {
    uint8_t entry[NVME_ENTRY_SIZE] = {};
    put_u8(entry, 0, NVME_ADMIN_SANITIZE);
    put_le32(entry, 40, cdw10);
    const uint16_t status = controller_execute(drive.controller, entry).status;
    if (status == NVME_SC_SUCCESS && controller_owner(drive.controller).config.abort_in_sanitize)
        std::_Exit(ABORT_IN_SANITIZE_STATUS); // a crash or power loss inside the request
    *wait_ms = sanitize_remaining_ms(drive.controller);
    return status;
}

} // namespace

Reply inbox_namespace_query(Drive& drive, const Request& request) {
    // The sub-value names the namespace (1 and up): one the controller does
    // not have fails as the Identify does.
    const uint32_t nsid =
        request.in_size >= DESCRIPTOR_SIZE ? get_le32(request.in, SPECIFIC_DATA + 12) : 0;
    if (nsid == 0 || !protocol_query(request, DATA_TYPE_IDENTIFY, 0, nsid, NVME_IDENTIFY_SIZE))
        return reply_error(ERROR_INVALID_PARAMETER_CODE);
    return run(drive, NVME_ADMIN_IDENTIFY, nsid, 0, request);
}

Reply inbox_log_query(Drive& drive, const Request& request) {
    const uint32_t log =
        request.in_size >= DESCRIPTOR_SIZE ? get_le32(request.in, SPECIFIC_DATA + 8) : 0;
    if (!protocol_query(request, DATA_TYPE_LOG_PAGE, log, 0, NVME_SANITIZE_LOG_SIZE))
        return reply_error(ERROR_INVALID_PARAMETER_CODE);
    if (log != NVME_LOG_SANITIZE_STATUS)
        return reply_error(ERROR_INVALID_FUNCTION_CODE_);
    if (drive.config.log_error)
        return reply_error(drive.config.log_error);
    const uint32_t numdl = NVME_SANITIZE_LOG_SIZE / 4 - 1;
    return run(drive, NVME_ADMIN_GET_LOG_PAGE, 0xFFFFFFFF, log | (numdl << 16), request);
}

Reply inbox_reinitialize_media(Drive& drive, const Request& request) {
    if (request.in_size != 0 && request.in_size != REINIT_SIZE)
        return reply_error(ERROR_INVALID_PARAMETER_CODE);
    uint32_t cdw10 = SANACT_CRYPTO | SANITIZE_CDW10_AUSE;
    uint32_t timeout_s = NO_INPUT_WAIT_S;
    const uint32_t build = sim_os_build();
    if (build < BUILD_REINITIALIZE || (request.in_size != 0 && build < BUILD_REINITIALIZE_INPUT))
        return reply_error(ERROR_INVALID_FUNCTION_CODE_);
    if (request.in_size == REINIT_SIZE) {
        const uint8_t* p = request.in;
        const uint32_t options = get_le32(p, 12);
        const uint32_t method = options & 0xF;
        if (get_le32(p, 0) != REINIT_SIZE || get_le32(p, 4) != REINIT_SIZE || method > 2 ||
            (options >> 5) != 0)
            return reply_error(ERROR_INVALID_PARAMETER_CODE);
        cdw10 = (method == 1 ? SANACT_BLOCK : SANACT_CRYPTO) |
                ((options & 0x10) ? 0 : SANITIZE_CDW10_AUSE);
        timeout_s = get_le32(p, 8);
    }
    if (const uint32_t error = refusal(drive, cdw10 & 0x7))
        return reply_error(error);
    uint32_t wait_ms = 0;
    if (start(drive, cdw10, &wait_ms) != NVME_SC_SUCCESS)
        return reply_error(ERROR_IO_DEVICE_CODE);
    Reply reply;
    reply.ok = true;
    reply.device_ms = wait_ms;
    reply.has_timeout = true;
    reply.timeout_s = timeout_s;
    return reply;
}

bool inbox_sanitize_refused(Drive& drive, const Request& request, Reply* reply) {
    const uint8_t* p = request.in;
    // An envelope of the other build's layout is the port driver's to refuse.
    if (!p || request.in_size < SPT_HEADER_SIZE || get_le16(p, SPT_OFF_LENGTH) != SPT_HEADER_SIZE ||
        p[SPT_OFF_CDB] != SCSI_SANITIZE || sim_os_build() < BUILD_SCSI_SANITIZE)
        return false;
    const uint8_t action = p[SPT_OFF_CDB + 1] & 0x1F;
    if (action != 2 && action != 3)
        return false; // the command itself is refused
    const uint32_t error = refusal(drive, action == 2 ? SANACT_BLOCK : SANACT_CRYPTO);
    if (error == 0)
        return false;
    *reply = reply_error(error);
    return true;
}

bool inbox_scsi_sanitize(Drive& drive, const ScsiCommand& c, ScsiResult* result) {
    const uint8_t action = c.cdb[1] & 0x1F;
    if (c.cdb_length != 10 || c.cdb[0] != SCSI_SANITIZE || sim_os_build() < BUILD_SCSI_SANITIZE ||
        (c.cdb[1] & 0xC0) != 0 || (action != 2 && action != 3) || !cdb_zero(c.cdb, 2, 10) ||
        c.length != 0)
        return false;
    const uint32_t cdw10 = (action == 2 ? SANACT_BLOCK : SANACT_CRYPTO) |
                           ((c.cdb[1] & 0x20) ? SANITIZE_CDW10_AUSE : 0);
    uint32_t wait_ms = 0;
    const uint16_t status = start(drive, cdw10, &wait_ms);
    if (status == NVME_SC_SANITIZE_IN_PROGRESS) {
        result->status = SCSI_STATUS_CHECK_CONDITION;
        result->sense_key = SENSE_KEY_NOT_READY;
        result->asc = 0x04;
        result->ascq = 0x1B;
    } else if (status != NVME_SC_SUCCESS) {
        result->status = SCSI_STATUS_CHECK_CONDITION;
        result->sense_key = SENSE_KEY_ILLEGAL_REQUEST;
        result->asc = 0x24;
    }
    result->device_ms = wait_ms;
    return true;
}
