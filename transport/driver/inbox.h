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

// The same query for the namespace data (property 50, the device's own
// protocol data: value 0, the namespace, sub-value its NSID) and for the
// Sanitize Status log (property 49, the log page type, value the log id; a
// 560-byte buffer). A reply counts only when its STORAGE_PROTOCOL_DATA_
// DESCRIPTOR says Version and Size 48.
constexpr uint32_t INBOX_DESCRIPTOR_VERSION = 0;
constexpr uint32_t INBOX_DESCRIPTOR_SIZE_FIELD = 4;
constexpr uint32_t INBOX_DESCRIPTOR_SIZE = INBOX_DATA; // 48
constexpr uint32_t NVME_IDENTIFY_CNS_NAMESPACE = 0;
constexpr uint32_t INBOX_LOG_QUERY_SIZE = INBOX_DATA + 512; // 560

// STORAGE_REINITIALIZE_MEDIA, the input of IOCTL_STORAGE_REINITIALIZE_MEDIA
// from build 19043 (below it the request carries no input and the driver
// runs a crypto erase; below 14393 there is no such request).
constexpr uint32_t REINIT_VERSION = 0;
constexpr uint32_t REINIT_SIZE_FIELD = 4;
constexpr uint32_t REINIT_TIMEOUT = 8;
constexpr uint32_t REINIT_OPTIONS = 12; // bits 3:0 SanitizeMethod, bit 4 disallow AUSE
constexpr uint32_t REINIT_SIZE = 16;
constexpr uint32_t REINIT_METHOD_BLOCK_ERASE = 1;
constexpr uint32_t REINIT_METHOD_CRYPTO_ERASE = 2;
constexpr uint32_t BUILD_REINITIALIZE_MEDIA = 14393;
constexpr uint32_t BUILD_REINITIALIZE_INPUT = 19043;

// The SCSI SANITIZE command the driver translates: 10 bytes, byte 1 AUSE
// (bit 5) | service action, IMMED 0, no parameter data.
constexpr uint8_t SCSI_SANITIZE_OPCODE = 0x48;
constexpr uint8_t SCSI_SANITIZE_CDB_LENGTH = 10;
constexpr uint8_t SCSI_SANITIZE_AUSE = 0x20;
constexpr uint8_t SCSI_SANITIZE_BLOCK_ERASE = 0x02;
constexpr uint8_t SCSI_SANITIZE_CRYPTO_ERASE = 0x03;

// STORAGE_PROPERTY_QUERY for NVMe protocol data: `property`, `data_type`,
// the request value and sub-value, and `length` bytes of data right behind
// the 40-byte protocol block. Zeroes and fills INBOX_DATA + length bytes.
void inbox_protocol_query(uint8_t* query, uint32_t property, uint32_t data_type, uint32_t value,
                          uint32_t sub_value, uint32_t length);
