#include "dialogue/volumes.h"

#include <cstring>

#include "dialogue/host_facts.h"
#include "platform/report.h"
#include "platform/wire.h"

// Whether one of the volume's extents lies on disk `number`; 0 as well when
// the extents cannot be read.
static int on_disk(HANDLE volume, int number) {
    uint8_t extents[VOLUME_EXTENTS_FIRST + VOLUME_EXTENTS_HELD * DISK_EXTENT_SIZE];
    memset(extents, 0, sizeof extents);
    if (!device_control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents,
                        sizeof extents))
        return 0;
    const uint32_t count = get_le32(extents, VOLUME_EXTENTS_COUNT);
    for (uint32_t i = 0; i < count && i < VOLUME_EXTENTS_HELD; ++i)
        if (get_le32(extents, VOLUME_EXTENTS_FIRST + i * DISK_EXTENT_SIZE +
                                  DISK_EXTENT_DISK_NUMBER) == static_cast<uint32_t>(number))
            return 1;
    return 0;
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

// One volume of the enumeration: 1 when it is offline or not on the disk.
static int take_offline(const char* name, int number, LogBlock* log, QuietDisk* quiet) {
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
        return 1;
    if (!on_disk(volume, number)) {
        close_device(volume);
        return 1;
    }
    char shown[VOLUME_NAME_SIZE];
    shown_name(name, shown);
    if (quiet->count == VOLUMES_HELD ||
        !device_control(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0) ||
        !device_control(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0)) {
        close_device(volume);
        report(log, "Error: volume %s is in use, close what uses it\n", shown);
        return 0;
    }
    quiet->volumes[quiet->count++] = volume;
    report(log, "Volume  : %s dismounted\n", shown);
    return 1;
}

int take_volumes_offline(int number, LogBlock* log, QuietDisk* quiet) {
    char name[VOLUME_NAME_SIZE];
    memset(name, 0, sizeof name);
    HANDLE search = find_first_volume(name, sizeof name);
    if (search == INVALID_HANDLE_VALUE)
        return 1; // no volume at all
    int offline = 1;
    do {
        offline = take_offline(name, number, log, quiet);
    } while (offline && find_next_volume(search, name, sizeof name));
    find_volume_close(search);
    return offline;
}

void release_volumes(QuietDisk* quiet) {
    for (uint32_t i = 0; i < quiet->count; ++i)
        close_device(quiet->volumes[i]);
    quiet->count = 0;
}
