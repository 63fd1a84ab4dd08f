#include "sim/disk.h"

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/media.h"
#include "sim/scsi.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t PROPERTY_QUERY_SIZE = 12;

// Appends a NUL-terminated text and returns its offset, 0 for none.
uint32_t append_text(std::vector<uint8_t>* d, bool present, const std::string& text) {
    if (!present)
        return 0;
    uint32_t offset = static_cast<uint32_t>(d->size());
    d->insert(d->end(), text.begin(), text.end());
    d->push_back(0);
    return offset;
}

// Copies what fits of `full` into the reply; the caller's buffer receives no
// more than it declared.
Reply truncated(const std::vector<uint8_t>& full, uint32_t out_size) {
    Reply reply;
    reply.ok = true;
    reply.out.assign(full.begin(), full.begin() + std::min<size_t>(full.size(), out_size));
    return reply;
}

Reply query_property(const Drive& drive, const Request& request) {
    if (!request.in || request.in_size < PROPERTY_QUERY_SIZE)
        return reply_error(ERROR_INVALID_PARAMETER_CODE);
    uint32_t property = get_le32(request.in, 0);
    uint32_t query = get_le32(request.in, 4);
    if (property != StorageDeviceProperty || query != PropertyStandardQuery)
        return reply_error(ERROR_NOT_SUPPORTED_CODE);
    if (drive.config.query_error != 0)
        return reply_error(drive.config.query_error);
    if (request.out_size < 8)
        return reply_error(ERROR_INSUFFICIENT_BUFFER_CODE);
    return truncated(device_descriptor(drive.config), request.out_size);
}

Reply scsi_address(const Drive& drive, const Request& request) {
    if (drive.config.address_error != 0)
        return reply_error(drive.config.address_error);
    if (request.out_size < 8)
        return reply_error(ERROR_INSUFFICIENT_BUFFER_CODE);
    Reply reply;
    reply.ok = true;
    reply.out.assign(8, 0);
    put_le32(reply.out.data(), 0, 8);               // Length
    put_u8(reply.out.data(), 4, drive.config.port); // PortNumber
    put_u8(reply.out.data(), 5, drive.config.path_id);
    put_u8(reply.out.data(), 6, drive.config.target_id);
    put_u8(reply.out.data(), 7, drive.config.lun);
    return reply;
}

// DISK_GEOMETRY as Windows makes one up for a disk: 255 heads, 63 sectors
// a track, the sector size it sees; with the disk's byte size after it
// (DISK_GEOMETRY_EX) when `ex`.
Reply geometry(const Drive& drive, uint32_t out_size, bool ex) {
    const uint32_t size = ex ? 32 : 24;
    if (out_size < size)
        return reply_error(ERROR_INSUFFICIENT_BUFFER_CODE);
    const uint64_t bytes = media_capacity(drive.controller);
    Reply reply;
    reply.ok = true;
    reply.out.assign(size, 0);
    uint8_t* p = reply.out.data();
    put_le64(p, 0, bytes / (255u * 63u * drive.windows_sector)); // Cylinders
    put_le32(p, 8, 12);                                          // MediaType: FixedMedia
    put_le32(p, 12, 255);                                        // TracksPerCylinder
    put_le32(p, 16, 63);                                         // SectorsPerTrack
    put_le32(p, 20, drive.windows_sector);                       // BytesPerSector
    if (ex)
        put_le64(p, 24, bytes); // DiskSize
    return reply;
}

// Windows reads the drive's capacity again: it sees a changed sector size,
// unless the drive must be re-plugged first.
Reply update_drive_size(Drive& drive, const Request& request) {
    if (!drive.controller.config.sector_replug) {
        const Controller& c = drive.controller;
        drive.windows_sector = 1u << c.config.lbads[flbas_index(c.flbas)];
    }
    return geometry(drive, request.out_size, false);
}

// DRIVE_LAYOUT_INFORMATION_EX: style and count, 40 bytes of the style's
// data, then a 144-byte PARTITION_INFORMATION_EX per partition (its style,
// start, length, number, and at 32 the MBR type byte or the GPT type GUID);
// the partitions share what follows the disk's first MiB in equal parts.
Reply drive_layout(const Drive& drive, const Request& request) {
    constexpr uint32_t ENTRIES = 48;
    constexpr uint32_t ENTRY_SIZE = 144;
    const PartitionTable& table = drive.config.partitions;
    const uint32_t count = static_cast<uint32_t>(table.types.size());
    if (request.in_size != 0)
        return reply_error(ERROR_INVALID_PARAMETER_CODE);
    if (request.out_size < ENTRIES + count * ENTRY_SIZE)
        return reply_error(ERROR_INSUFFICIENT_BUFFER_CODE);
    Reply reply;
    reply.ok = true;
    reply.out.assign(ENTRIES + count * ENTRY_SIZE, 0);
    uint8_t* p = reply.out.data();
    put_le32(p, 0, table.style);
    put_le32(p, 4, count);
    const uint64_t start = 1u << 20;
    const uint64_t bytes = media_capacity(drive.controller);
    const uint64_t share = count && bytes > start ? (bytes - start) / count : 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* entry = p + ENTRIES + i * ENTRY_SIZE;
        put_le32(entry, 0, table.style);
        put_le64(entry, 8, start + share * i);
        put_le64(entry, 16, share);
        put_le32(entry, 24, i + 1); // PartitionNumber
        std::memcpy(entry + 32, table.types[i].data(), table.types[i].size());
    }
    return reply;
}

} // namespace

std::vector<uint8_t> device_descriptor(const DriveConfig& drive) {
    const ControllerConfig& c = drive.controller;
    std::vector<uint8_t> d(DEVICE_DESCRIPTOR_HEADER, 0);
    uint32_t vendor = append_text(&d, drive.has_vendor, drive.vendor);
    uint32_t product = append_text(&d, drive.has_product, drive.product);
    uint32_t revision = append_text(&d, true, c.firmware);
    uint32_t serial = append_text(&d, true, c.serial);
    uint8_t* p = d.data();
    put_le32(p, 0, DEVICE_DESCRIPTOR_HEADER);        // Version
    put_le32(p, 4, static_cast<uint32_t>(d.size())); // Size
    put_u8(p, 8, 0);                                 // DeviceType: direct access
    put_u8(p, 10, drive.bus == BusTypeUsb ? 1 : 0);  // RemovableMedia
    put_u8(p, 11, drive.bus == BusTypeNvme ? 1 : 0); // CommandQueueing
    put_le32(p, 12, vendor);
    put_le32(p, 16, product);
    put_le32(p, 20, revision);
    put_le32(p, 24, serial);
    put_le32(p, 28, drive.bus);
    put_le32(p, 32, 0); // RawPropertiesLength
    return d;
}

Reply disk_request(Drive& drive, const Request& request) {
    switch (request.code) {
    case IOCTL_STORAGE_QUERY_PROPERTY:
        return query_property(drive, request);
    case IOCTL_SCSI_GET_ADDRESS:
        return scsi_address(drive, request);
    case IOCTL_SCSI_PASS_THROUGH:
        return scsi_pass_through(drive, request);
    case IOCTL_DISK_UPDATE_DRIVE_SIZE:
        return update_drive_size(drive, request);
    case IOCTL_DISK_UPDATE_PROPERTIES: {
        Reply reply;
        reply.ok = true;
        return reply;
    }
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX:
        return geometry(drive, request.out_size, true);
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX:
        return drive_layout(drive, request);
    default:
        return reply_error(ERROR_INVALID_FUNCTION_CODE);
    }
}
