// The volumes of the host: the system volume (at the letter of the Windows
// directory, volume 0) and the host file's `volumes` (1, 2, ...), each with
// one extent on each of its disks. They answer opening by letter or by name,
// the enumeration's names and mount points, the extents query, and the lock
// and dismount requests; a lock lasts until its handle closes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/model.h"

constexpr uint32_t ERROR_MORE_DATA_CODE = 234;
constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;

// What a volume is doing now. A dismounted volume stays so only while it is
// locked: Windows mounts it again on its next use after that.
struct VolumeState {
    uintptr_t locked_by = 0; // the handle holding its lock, 0 when none
};

// Whether `path` is shaped like a volume: "\\.\X:" with X a letter, or a
// volume name without its trailing backslash. `index` is the volume it names,
// -1 for none.
bool parse_volume_path(const HostConfig& host, const std::string& path, long* index);

size_t volume_count(const HostConfig& host);

// "\\?\Volume{00000000-0000-0000-0000-00000000000N}\" for volume N.
std::string volume_name(size_t index);

// The mount points of the volume `name` (trailing backslash kept) as
// GetVolumePathNamesForVolumeNameA lays them out: "E:\", NUL, NUL, or an
// empty list. False with `error` set for an unknown name or a small buffer.
bool volume_paths(const HostConfig& host, const std::string& name, std::vector<uint8_t>* out,
                  uint32_t* error);

// A request on a handle of volume `index`. The extents query answers one
// extent per disk; the system volume's are the drives marked `system`, in
// number order (last error 1 when none is, and for Windows PE's RAM disk).
Reply volume_request(const HostConfig& host, const std::vector<Drive>& drives,
                     std::vector<VolumeState>& states, size_t index, uintptr_t handle,
                     uint32_t access, const Request& request);

// A handle of volume `index` closes: its lock, if it held one, ends.
void volume_handle_closed(std::vector<VolumeState>& states, size_t index, uintptr_t handle);

// Whether a volume with an extent on disk `number` is mounted and not locked:
// what Windows' own erase requests refuse.
bool volume_mounted_on(const HostConfig& host, const std::vector<VolumeState>& states,
                       uint32_t number);
