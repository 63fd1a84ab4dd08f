// The requests every drive answers on its disk handle, whatever stands
// behind it: the device descriptor, the SCSI address and SCSI pass-through.
#pragma once

#include "sim/model.h"

constexpr uint32_t ERROR_INVALID_FUNCTION_CODE = 1;
constexpr uint32_t ERROR_NOT_SUPPORTED_CODE = 50;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER_CODE = 122;

// STORAGE_DEVICE_DESCRIPTOR header size; the texts follow it.
constexpr uint32_t DEVICE_DESCRIPTOR_HEADER = 40;

// The device descriptor of a drive, complete (its Size field is its length).
std::vector<uint8_t> device_descriptor(const DriveConfig& drive);

// A request on the disk handle that the model left to the common handling.
Reply disk_request(Drive& drive, const Request& request);
