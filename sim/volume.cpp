#include "sim/volume.h"

#include <algorithm>
#include <cstdio>

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/disk.h"

namespace {

constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t EXTENTS_FIRST = 8; // after the count and its padding
constexpr uint32_t EXTENT_SIZE = 24;  // DiskNumber, StartingOffset, ExtentLength
constexpr uint64_t PARTITION_START = 1u << 20;

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

char system_letter(const HostConfig& host) {
    return host.windows_dir.empty() ? 0 : upper(host.windows_dir[0]);
}

// Bytes of the drive's namespace in the format it uses now; 0 for a disk the
// host does not have.
uint64_t capacity(const std::vector<Drive>& drives, uint32_t number) {
    for (const Drive& drive : drives) {
        if (drive.config.number == number) {
            const Controller& c = drive.controller;
            return c.nsze << c.config.lbads[flbas_index(c.flbas)];
        }
    }
    return 0;
}

// The disks of volume `index`, in the order the extents list them.
std::vector<uint32_t> disks_of(const HostConfig& host, const std::vector<Drive>& drives,
                               size_t index) {
    std::vector<uint32_t> disks;
    if (index > 0)
        return host.volumes[index - 1].disks;
    if (host.ram_disk_system)
        return disks; // Windows PE's RAM disk lies on no drive
    for (const Drive& drive : drives)
        if (drive.config.system)
            disks.push_back(drive.config.number);
    std::sort(disks.begin(), disks.end());
    return disks;
}

// Where volume `index` lies on disk `number`: the volumes of a disk share
// what follows its first MiB in equal parts, in list order; the system
// volume has it whole.
void place(const HostConfig& host, const std::vector<Drive>& drives, size_t index, uint32_t number,
           uint64_t* start, uint64_t* length) {
    const uint64_t bytes = capacity(drives, number);
    const uint64_t room = bytes > PARTITION_START ? bytes - PARTITION_START : 0;
    uint64_t count = 1, before = 0;
    if (index > 0) {
        count = 0;
        for (size_t i = 0; i < host.volumes.size(); ++i) {
            const std::vector<uint32_t>& disks = host.volumes[i].disks;
            if (std::find(disks.begin(), disks.end(), number) == disks.end())
                continue;
            if (i + 1 < index)
                ++before;
            ++count;
        }
    }
    *start = PARTITION_START + room / count * before;
    *length = room / count;
}

Reply extents(const HostConfig& host, const std::vector<Drive>& drives, size_t index,
              const Request& request) {
    const std::vector<uint32_t> disks = disks_of(host, drives, index);
    if (disks.empty())
        return reply_error(ERROR_INVALID_FUNCTION_CODE);
    const uint32_t size = EXTENTS_FIRST + EXTENT_SIZE * static_cast<uint32_t>(disks.size());
    if (request.out_size < size)
        return reply_error(ERROR_MORE_DATA_CODE);
    Reply reply;
    reply.ok = true;
    reply.out.assign(size, 0);
    uint8_t* p = reply.out.data();
    put_le32(p, 0, static_cast<uint32_t>(disks.size()));
    for (size_t i = 0; i < disks.size(); ++i) {
        uint8_t* extent = p + EXTENTS_FIRST + EXTENT_SIZE * i;
        uint64_t start = 0, length = 0;
        place(host, drives, index, disks[i], &start, &length);
        put_le32(extent, 0, disks[i]);
        put_le64(extent, 8, start);
        put_le64(extent, 16, length);
    }
    return reply;
}

} // namespace

bool parse_volume_path(const HostConfig& host, const std::string& path, long* index) {
    *index = -1;
    if (path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':') {
        const char letter = upper(path[4]);
        if (letter < 'A' || letter > 'Z')
            return false;
        if (letter == system_letter(host))
            *index = 0;
        for (size_t i = 0; i < host.volumes.size(); ++i)
            if (host.volumes[i].letter == letter)
                *index = static_cast<long>(i + 1);
        return true;
    }
    if (path.compare(0, 11, "\\\\?\\Volume{") != 0)
        return false;
    for (size_t i = 0; i < volume_count(host); ++i) {
        const std::string name = volume_name(i);
        if (path == name.substr(0, name.size() - 1))
            *index = static_cast<long>(i);
    }
    return true;
}

size_t volume_count(const HostConfig& host) {
    return host.volumes.size() + 1;
}

std::string volume_name(size_t index) {
    char name[64];
    std::snprintf(name, sizeof name, "\\\\?\\Volume{00000000-0000-0000-0000-%012u}\\",
                  static_cast<unsigned>(index));
    return name;
}

bool volume_paths(const HostConfig& host, const std::string& name, std::vector<uint8_t>* out,
                  uint32_t* error) {
    for (size_t i = 0; i < volume_count(host); ++i) {
        if (name != volume_name(i))
            continue;
        const char letter = i == 0 ? system_letter(host) : host.volumes[i - 1].letter;
        out->clear();
        if (letter) {
            const uint8_t path[] = {static_cast<uint8_t>(letter), ':', '\\', 0};
            out->assign(path, path + sizeof path);
        }
        out->push_back(0);
        return true;
    }
    *error = ERROR_FILE_NOT_FOUND_CODE;
    return false;
}

Reply volume_request(const HostConfig& host, const std::vector<Drive>& drives,
                     std::vector<VolumeState>& states, size_t index, uintptr_t handle,
                     uint32_t access, const Request& request) {
    VolumeState& state = states[index];
    switch (request.code) {
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
        return extents(host, drives, index, request);
    case FSCTL_LOCK_VOLUME:
        // The system's own volume and a volume in use are never let go; a
        // handle without access rights may not lock.
        if (index == 0 || host.volumes[index - 1].in_use || state.locked_by != 0 ||
            (access & (GENERIC_READ | GENERIC_WRITE)) == 0)
            return reply_error(ERROR_ACCESS_DENIED_CODE);
        state.locked_by = handle;
        break;
    case FSCTL_DISMOUNT_VOLUME:
        // Only the lock's holder: the tool never forces a volume off.
        if (state.locked_by != handle)
            return reply_error(ERROR_ACCESS_DENIED_CODE);
        break;
    default:
        return reply_error(ERROR_INVALID_FUNCTION_CODE);
    }
    Reply reply;
    reply.ok = true;
    return reply;
}

void volume_handle_closed(std::vector<VolumeState>& states, size_t index, uintptr_t handle) {
    if (states[index].locked_by == handle)
        states[index] = VolumeState();
}

bool volume_mounted_on(const HostConfig& host, const std::vector<VolumeState>& states,
                       uint32_t number) {
    for (size_t i = 1; i < volume_count(host); ++i) {
        const std::vector<uint32_t>& disks = host.volumes[i - 1].disks;
        if (std::find(disks.begin(), disks.end(), number) != disks.end() &&
            states[i].locked_by == 0)
            return true;
    }
    for (const DriveConfig& drive : host.drives)
        if (drive.system && !host.ram_disk_system && drive.number == number)
            return true;
    return false;
}
