#include "sim/scsi.h"

#include "platform/wire.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;

// The header checks of the storage stack: a malformed envelope never reaches
// the device. Besides what the port driver refuses outright, this refuses
// what it would misread:
// - PathId, TargetId, Lun other than 0: a disk's pass-through addresses the
//   disk itself;
// - a request size (in or out) other than the data's end: the data the caller
//   meant to move and the DataTransferLength the driver moves differ;
// - a sense area shorter than fixed-format sense data (18 bytes), which cuts
//   off ASC and ASCQ, or one that overlaps the header or the data.
// DataBufferOffset, a pointer-sized field.
uint64_t data_buffer_offset(const uint8_t* h) {
    return SPT_WIDE ? get_le64(h, SPT_OFF_DATA_BUFFER_OFFSET)
                    : get_le32(h, SPT_OFF_DATA_BUFFER_OFFSET);
}

bool well_formed(const uint8_t* h, uint32_t in_size, uint32_t out_size) {
    if (in_size < SPT_HEADER_SIZE || out_size < SPT_HEADER_SIZE)
        return false;
    uint32_t cdb_length = h[SPT_OFF_CDB_LENGTH];
    uint32_t sense_length = h[SPT_OFF_SENSE_INFO_LENGTH];
    uint64_t data_offset = data_buffer_offset(h);
    uint64_t sense_offset = get_le32(h, SPT_OFF_SENSE_INFO_OFFSET);
    uint64_t data_end = data_offset + get_le32(h, SPT_OFF_DATA_TRANSFER_LENGTH);
    if (get_le16(h, SPT_OFF_LENGTH) != SPT_HEADER_SIZE)
        return false;
    if (h[SPT_OFF_PATH_ID] != 0 || h[SPT_OFF_TARGET_ID] != 0 || h[SPT_OFF_LUN] != 0)
        return false;
    if (cdb_length < 1 || cdb_length > 16 || h[SPT_OFF_DATA_IN] > 2)
        return false;
    if (data_offset < SPT_HEADER_SIZE || data_end != in_size || data_end != out_size)
        return false;
    if (sense_length > 0) {
        uint64_t sense_end = sense_offset + sense_length;
        bool apart = sense_end <= data_offset || sense_offset >= data_end;
        if (sense_length < SENSE_FIXED_SIZE || sense_offset < SPT_HEADER_SIZE || !apart ||
            sense_end > out_size)
            return false;
    }
    return true;
}

} // namespace

Reply scsi_pass_through(Drive& drive, const Request& request) {
    if (!request.in || !well_formed(request.in, request.in_size, request.out_size))
        return reply_error(ERROR_INVALID_PARAMETER_CODE);

    // The port driver works in one buffer that starts as the input.
    std::vector<uint8_t> work(std::max(request.in_size, request.out_size), 0);
    std::memcpy(work.data(), request.in, request.in_size);
    uint8_t* h = work.data();
    const uint32_t data_offset = static_cast<uint32_t>(data_buffer_offset(h));

    ScsiCommand command{};
    command.cdb_length = h[SPT_OFF_CDB_LENGTH];
    std::memcpy(command.cdb, h + SPT_OFF_CDB, command.cdb_length);
    command.data_in = h[SPT_OFF_DATA_IN];
    command.data = h + data_offset;
    command.length = get_le32(h, SPT_OFF_DATA_TRANSFER_LENGTH);

    ScsiResult result;
    if (!drive.model->scsi(drive, command, &result))
        result = scsi_illegal_request();

    put_u8(h, SPT_OFF_SCSI_STATUS, result.status);
    uint32_t transferred = command.length;
    if (result.status == SCSI_STATUS_CHECK_CONDITION) {
        transferred = 0;
        uint8_t sense[SENSE_FIXED_SIZE] = {};
        sense[0] = 0x70;
        sense[2] = result.sense_key;
        sense[7] = SENSE_FIXED_SIZE - 8;
        sense[12] = result.asc;
        sense[13] = result.ascq;
        uint32_t sense_length = h[SPT_OFF_SENSE_INFO_LENGTH];
        std::memcpy(h + get_le32(h, SPT_OFF_SENSE_INFO_OFFSET), sense,
                    std::min(sense_length, SENSE_FIXED_SIZE));
    } else if (command.data_in == 1) {
        transferred = std::min<uint32_t>(command.length, static_cast<uint32_t>(result.data.size()));
        if (transferred > 0)
            std::memcpy(h + data_offset, result.data.data(), transferred);
    }
    put_le32(h, SPT_OFF_DATA_TRANSFER_LENGTH, transferred);

    Reply reply;
    reply.ok = true;
    work.resize(request.out_size);
    reply.out = std::move(work);
    reply.device_ms = result.device_ms;
    reply.has_timeout = true;
    reply.timeout_s = get_le32(request.in, SPT_OFF_TIMEOUT_VALUE);
    return reply;
}

void bridge_run(Drive& drive, const uint8_t* entry, bool from_device, ScsiResult* result) {
    NvmeCompletion done = controller_execute(drive.controller, entry);
    result->device_ms = done.device_ms;
    if (done.status != NVME_SC_SUCCESS) {
        if (drive.config.bridge.check_condition) {
            result->status = SCSI_STATUS_CHECK_CONDITION;
            result->sense_key = SENSE_KEY_HARDWARE_ERROR;
            result->asc = 0x44; // INTERNAL TARGET FAILURE
        }
        return;
    }
    if (from_device)
        result->data = std::move(done.data);
}

bool cdb_zero(const uint8_t* cdb, uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i)
        if (cdb[i] != 0)
            return false;
    return true;
}
