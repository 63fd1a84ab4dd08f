// A quiet disk: every volume with an extent on a disk the erase reaches is
// locked and dismounted before the erase, so that no file system writes its
// cached metadata back onto the erased disk; the handles hold the locks until
// the run ends.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/device.h"
#include "platform/report.h"

// Volumes held offline at once, over every disk an erase reaches: a GPT disk
// has at most 128 partitions, and a controller may show several disks.
constexpr uint32_t VOLUMES_HELD = 512;
// Volumes named one a line; the rest are counted in one line.
constexpr uint32_t VOLUME_LINES = 16;
constexpr uint32_t VOLUME_NAME_SIZE = 260;   // MAX_PATH: "\\?\Volume{GUID}\" is 49 characters
constexpr uint32_t VOLUME_PATHS_SIZE = 1024; // the mount points of one volume

struct QuietDisk {
    HANDLE volumes[VOLUMES_HELD]; // locked and dismounted
    uint32_t count;
};

// Takes every volume with an extent on any of the `count` disks offline,
// once each, in the order Windows enumerates them. The first VOLUME_LINES
// are reported as "Volume  : %s dismounted\n", the others counted in
// "Volume  : %u more dismounted\n" after them. 1 when done; 0, after the
// count line, when a volume cannot be locked or dismounted ("Error: volume
// %s is in use, close what uses it\n") or would be the 513th ("Error: drive
// %u has more than 512 volumes\n", that volume left alone). Volumes whose
// disk extents cannot be read are left alone.
int take_disks_offline(const uint32_t* disks, uint32_t count, LogBlock* log, QuietDisk* quiet);
// The same for the one disk `number`.
int take_volumes_offline(int number, LogBlock* log, QuietDisk* quiet);

// Closes the volume handles: the locks end and Windows mounts the volumes
// again when they are next used.
void release_volumes(QuietDisk* quiet);
