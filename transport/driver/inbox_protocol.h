// IOCTL_STORAGE_PROTOCOL_COMMAND: the inbox NVMe driver's request that
// carries a raw admin command. The driver honours it for Format NVM and
// Sanitize in Windows PE only; elsewhere it refuses them (last-error 1).
#pragma once

#include <cstdint>

#include "nvme/admin_command.h"
#include "transport/drive_state.h"

// STORAGE_PROTOCOL_COMMAND, every field a ULONG; the submission entry
// follows it at PROTOCOL_COMMAND. The error-info and data offsets and lengths
// (28 to 55) stay 0: Format NVM and Sanitize move no data.
constexpr uint32_t PROTOCOL_VERSION = 0;
constexpr uint32_t PROTOCOL_LENGTH = 4;
constexpr uint32_t PROTOCOL_TYPE = 8;
constexpr uint32_t PROTOCOL_FLAGS = 12;
constexpr uint32_t PROTOCOL_RETURN_STATUS = 16; // out
constexpr uint32_t PROTOCOL_ERROR_CODE = 20;    // out
constexpr uint32_t PROTOCOL_COMMAND_LENGTH = 24;
constexpr uint32_t PROTOCOL_TIMEOUT_VALUE = 40; // seconds
constexpr uint32_t PROTOCOL_COMMAND_SPECIFIC = 56;
constexpr uint32_t PROTOCOL_FIXED_RETURN_DATA = 64; // out: the completion's dword 0
constexpr uint32_t PROTOCOL_HEADER_SIZE = 84;       // sizeof(STORAGE_PROTOCOL_COMMAND)
constexpr uint32_t PROTOCOL_COMMAND = 80;           // Command[]
constexpr uint32_t PROTOCOL_REQUEST_SIZE = PROTOCOL_COMMAND + SUBMISSION_ENTRY_SIZE; // 144

constexpr uint32_t PROTOCOL_STRUCTURE_VERSION = 1;
constexpr uint32_t PROTOCOL_FLAG_ADAPTER_REQUEST = 0x80000000; // an admin command
constexpr uint32_t PROTOCOL_NVME_ADMIN_COMMAND = 1;            // CommandSpecific

// ReturnStatus values the tool tells apart.
constexpr uint32_t PROTOCOL_STATUS_SUCCESS = 1;
constexpr uint32_t PROTOCOL_STATUS_NOT_SUPPORTED = 0xFF;
// The last-error code of a request the driver will not carry here.
constexpr uint32_t PROTOCOL_REFUSED_ERROR = 1; // ERROR_INVALID_FUNCTION

// The request for `command`, which moves no data: the header (Version 1,
// Length 84, NVMe, an adapter request, a 64-byte admin command,
// `timeout_s`) and the submission entry. Zeroes and fills
// PROTOCOL_REQUEST_SIZE bytes.
void protocol_command_request(uint8_t* request, const AdminCommand* command, uint32_t timeout_s);
