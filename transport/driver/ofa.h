// The OFA NVMe miniport request: an SRB_IO_CONTROL header addressed to
// "NvmeMini", then the driver's NVMe pass-through body.
#pragma once

#include <cstdint>

#include "nvme/admin_command.h"

// SRB_IO_CONTROL
constexpr uint32_t SRB_HEADER_LENGTH = 0;
constexpr uint32_t SRB_SIGNATURE = 4;
constexpr uint32_t SRB_TIMEOUT = 12;
constexpr uint32_t SRB_CONTROL_CODE = 16;
constexpr uint32_t SRB_RETURN_CODE = 20;
constexpr uint32_t SRB_LENGTH = 24;
constexpr uint32_t SRB_IO_CONTROL_SIZE = 28;

// NVME_PASS_THROUGH_IOCTL body, offsets from the start of the request.
constexpr uint32_t OFA_VENDOR_SPECIFIC = 28;
constexpr uint32_t OFA_NVME_CMD = 52;
constexpr uint32_t OFA_CPL_ENTRY = 116;
constexpr uint32_t OFA_CPL_ENTRY_SIZE = 16;
constexpr uint32_t OFA_DIRECTION = 132;
constexpr uint32_t OFA_QUEUE_ID = 136;
constexpr uint32_t OFA_DATA_BUFFER_LEN = 140;
constexpr uint32_t OFA_META_DATA_LEN = 144;
constexpr uint32_t OFA_RETURN_BUFFER_LEN = 148;
constexpr uint32_t OFA_DATA_BUFFER = 152;
constexpr uint32_t OFA_REQUEST_SIZE = OFA_DATA_BUFFER + MAX_TRANSFER; // 65688

constexpr uint32_t NVME_PASS_THROUGH_SRB_IO_CODE = 0xE0002000;
#define NVME_SIG_STR "NvmeMini"

constexpr uint32_t NVME_NO_DATA_TX = 0;
constexpr uint32_t NVME_FROM_HOST_TO_DEV = 1;
constexpr uint32_t NVME_FROM_DEV_TO_HOST = 2;
