// A quiet disk: every volume with an extent on the chosen disk is locked and
// dismounted before the erase, so that no file system writes its cached
// metadata back onto the erased disk; the handles hold the locks until the
// run ends.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/device.h"
#include "platform/report.h"

// Volumes one disk can hold: a GPT disk has at most 128 partitions.
constexpr uint32_t VOLUMES_HELD = 128;
constexpr uint32_t VOLUME_NAME_SIZE = 260;   // MAX_PATH: "\\?\Volume{GUID}\" is 49 characters
constexpr uint32_t VOLUME_PATHS_SIZE = 1024; // the mount points of one volume

struct QuietDisk {
    HANDLE volumes[VOLUMES_HELD]; // locked and dismounted
    uint32_t count;
};

// Takes every volume on disk `number` offline, each reported as
// "Volume  : %s dismounted\n". 1 when done; 0 when a volume cannot be locked
// or dismounted, after "Error: volume %s is in use, close what uses it\n".
// Volumes whose disk extents cannot be read are left alone.
int take_volumes_offline(int number, LogBlock* log, QuietDisk* quiet);

// Closes the volume handles: the locks end and Windows mounts the volumes
// again when they are next used.
void release_volumes(QuietDisk* quiet);
