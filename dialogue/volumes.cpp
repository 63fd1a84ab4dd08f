#include "dialogue/volumes.h"

#include <cstring>

#include "dialogue/host_facts.h"
#include "platform/report.h"
#include "platform/wire.h"

// The first of the `count` disks on which the volume has an extent; -1 when
// none, or when the extents cannot be read.
static int64_t reached_disk(HANDLE volume, const uint32_t* disks, uint32_t count) {
    uint8_t extents[VOLUME_EXTENTS_FIRST + VOLUME_EXTENTS_HELD * DISK_EXTENT_SIZE];
    memset(extents, 0, sizeof extents);
    if (!device_control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents,
                        sizeof extents))
        return -1;
    const uint32_t extent_count = get_le32(extents, VOLUME_EXTENTS_COUNT);
    for (uint32_t i = 0; i < extent_count && i < VOLUME_EXTENTS_HELD; ++i) {
        const uint32_t disk = get_le32(extents, VOLUME_EXTENTS_FIRST + i * DISK_EXTENT_SIZE +
                                                    DISK_EXTENT_DISK_NUMBER);
        for (uint32_t d = 0; d < count; ++d)
            if (disks[d] == disk)
                return disk;
    }
    return -1;
}

// The name an operator knows the volume by: its first drive letter ("E:\"),
// else its name as enumerated.
static void shown_name(const char* name, char* shown) {
    char paths[VOLUME_PATHS_SIZE];
    memset(paths, 0, sizeof paths);
    // Two bytes kept zero: the list always ends, whatever came back.
    if (volume_path_names(name, paths, sizeof paths - 2)) {
        for (const char* path = paths; *path; path += strlen(path) + 1) {
            if (path[1] == ':' && path[2] == '\\' && path[3] == 0) {
                memcpy(shown, path, 4);
                return;
            }
        }
    }
    snprintf(shown, VOLUME_NAME_SIZE, "%s", name);
}

// Why a volume of the disks stays online.
enum Refusal { VOLUME_OFFLINE, VOLUME_IN_USE, VOLUME_TOO_MANY };

// One volume of the enumeration, taken offline when it lies on the disks.
// On a refusal `shown` holds its name, `disk` the reached disk it lies on.
// `before`: the volumes held before this step began.
static Refusal take_offline(const char* name, const uint32_t* disks, uint32_t count,
                            uint32_t before, LogBlock* log, QuietDisk* quiet, char* shown,
                            int64_t* disk) {
    // Without its trailing backslash the name opens the volume itself, not
    // its root folder.
    char path[VOLUME_NAME_SIZE];
    memset(path, 0, sizeof path);
    snprintf(path, sizeof path, "%s", name);
    const size_t length = strlen(path);
    if (length > 0 && path[length - 1] == '\\')
        path[length - 1] = 0;
    HANDLE volume = open_device(path, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    if (volume == INVALID_HANDLE_VALUE)
        return VOLUME_OFFLINE;
    *disk = reached_disk(volume, disks, count);
    if (*disk < 0) {
        close_device(volume);
        return VOLUME_OFFLINE;
    }
    shown_name(name, shown);
    if (quiet->count == VOLUMES_HELD) {
        close_device(volume);
        return VOLUME_TOO_MANY;
    }
    if (!device_control(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0) ||
        !device_control(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0)) {
        close_device(volume);
        return VOLUME_IN_USE;
    }
    quiet->volumes[quiet->count++] = volume;
    if (quiet->count - before <= VOLUME_LINES)
        report(log, "Volume  : %s dismounted\n", shown);
    return VOLUME_OFFLINE;
}

int take_disks_offline(const uint32_t* disks, uint32_t count, LogBlock* log, QuietDisk* quiet) {
    char name[VOLUME_NAME_SIZE];
    memset(name, 0, sizeof name);
    char shown[VOLUME_NAME_SIZE];
    int64_t disk = -1;
    Refusal refusal = VOLUME_OFFLINE;
    const uint32_t before = quiet->count;
    HANDLE search = find_first_volume(name, sizeof name);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            refusal = take_offline(name, disks, count, before, log, quiet, shown, &disk);
        } while (refusal == VOLUME_OFFLINE && find_next_volume(search, name, sizeof name));
        find_volume_close(search);
    }
    const uint32_t taken = quiet->count - before;
    if (taken > VOLUME_LINES)
        report(log, "Volume  : %u more dismounted\n", taken - VOLUME_LINES);
    if (refusal == VOLUME_IN_USE)
        report(log, "Error: volume %s is in use, close what uses it\n", shown);
    if (refusal == VOLUME_TOO_MANY)
        report(log, "Error: drive %u has more than %u volumes\n", static_cast<unsigned>(disk),
               VOLUMES_HELD);
    return refusal == VOLUME_OFFLINE;
}

int take_volumes_offline(int number, LogBlock* log, QuietDisk* quiet) {
    const uint32_t disk = static_cast<uint32_t>(number);
    return take_disks_offline(&disk, 1, log, quiet);
}

void release_volumes(QuietDisk* quiet) {
    for (uint32_t i = 0; i < quiet->count; ++i)
        close_device(quiet->volumes[i]);
    quiet->count = 0;
}
