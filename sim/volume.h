// The volume of the running system's Windows directory, as the tool asks
// for it: which drives hold it.
#pragma once

#include <string>
#include <vector>

#include "sim/model.h"

constexpr uint32_t ERROR_MORE_DATA_CODE = 234;

// Whether `path` names a volume, "\\.\X:" with X a letter; its letter in
// upper case.
bool parse_volume_path(const std::string& path, char* letter);

// The one volume there is: the system volume, at the letter of the host's
// Windows directory.
bool volume_exists(char letter, const std::string& windows_dir);

// A request on a volume handle. IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS
// answers one extent per drive marked `system`, in drive-number order.
Reply volume_request(const std::vector<Drive>& drives, const Request& request);
