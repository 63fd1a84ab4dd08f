// The inbox NVMe driver's protocol-specific property query, which returns the
// Identify Controller data after a STORAGE_PROTOCOL_DATA_DESCRIPTOR.
#pragma once

#include <cstdint>

// STORAGE_PROPERTY_QUERY with STORAGE_PROTOCOL_SPECIFIC_DATA in its
// AdditionalParameters, offsets from the start of the buffer.
constexpr uint32_t INBOX_PROPERTY_ID = 0;
constexpr uint32_t INBOX_QUERY_TYPE = 4;
constexpr uint32_t INBOX_PROTOCOL_TYPE = 8;
constexpr uint32_t INBOX_DATA_TYPE = 12;
constexpr uint32_t INBOX_REQUEST_VALUE = 16;
constexpr uint32_t INBOX_REQUEST_SUB_VALUE = 20;
constexpr uint32_t INBOX_DATA_OFFSET_FIELD = 24;
constexpr uint32_t INBOX_DATA_LENGTH_FIELD = 28;
constexpr uint32_t INBOX_SPECIFIC_DATA = 8;       // STORAGE_PROTOCOL_SPECIFIC_DATA
constexpr uint32_t INBOX_SPECIFIC_DATA_SIZE = 40; // its size; the data follow it
constexpr uint32_t INBOX_DATA = INBOX_SPECIFIC_DATA + INBOX_SPECIFIC_DATA_SIZE; // 48
constexpr uint32_t INBOX_QUERY_SIZE = INBOX_DATA + 4096;                        // 4144
constexpr uint32_t NVME_IDENTIFY_CNS_CONTROLLER = 1;
