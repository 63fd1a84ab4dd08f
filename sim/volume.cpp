#include "sim/volume.h"

#include <algorithm>

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/disk.h"

namespace {

constexpr uint32_t EXTENTS_FIRST = 8; // after the count and its padding
constexpr uint32_t EXTENT_SIZE = 24;  // DiskNumber, StartingOffset, ExtentLength
constexpr uint64_t PARTITION_START = 1u << 20;

// Bytes of the drive's namespace in the format it uses now.
uint64_t capacity(const Drive& drive) {
    const Controller& c = drive.controller;
    return c.nsze << c.config.lbads[flbas_index(c.flbas)];
}

} // namespace

bool parse_volume_path(const std::string& path, char* letter) {
    if (path.size() != 6 || path.compare(0, 4, "\\\\.\\") != 0 || path[5] != ':')
        return false;
    const char c = path[4];
    if (c >= 'a' && c <= 'z')
        *letter = static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z')
        *letter = c;
    else
        return false;
    return true;
}

bool volume_exists(char letter, const std::string& windows_dir) {
    char system = 0;
    return !windows_dir.empty() &&
           parse_volume_path(std::string("\\\\.\\") + windows_dir[0] + ":", &system) &&
           letter == system;
}

Reply volume_request(const std::vector<Drive>& drives, const Request& request) {
    if (request.code != IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS)
        return reply_error(ERROR_INVALID_FUNCTION_CODE);
    std::vector<const Drive*> system;
    for (const Drive& drive : drives)
        if (drive.config.system)
            system.push_back(&drive);
    if (system.empty())
        return reply_error(ERROR_INVALID_FUNCTION_CODE);
    std::sort(system.begin(), system.end(),
              [](const Drive* a, const Drive* b) { return a->config.number < b->config.number; });
    const uint32_t size = EXTENTS_FIRST + EXTENT_SIZE * static_cast<uint32_t>(system.size());
    if (request.out_size < size)
        return reply_error(ERROR_MORE_DATA_CODE);
    Reply reply;
    reply.ok = true;
    reply.out.assign(size, 0);
    uint8_t* p = reply.out.data();
    put_le32(p, 0, static_cast<uint32_t>(system.size()));
    for (size_t i = 0; i < system.size(); ++i) {
        uint8_t* extent = p + EXTENTS_FIRST + EXTENT_SIZE * i;
        const uint64_t bytes = capacity(*system[i]);
        put_le32(extent, 0, system[i]->config.number);
        put_le64(extent, 8, PARTITION_START);
        put_le64(extent, 16, bytes > PARTITION_START ? bytes - PARTITION_START : 0);
    }
    return reply;
}
