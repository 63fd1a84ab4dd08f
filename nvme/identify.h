// Fields the tool reads from the Identify Controller and Identify Namespace
// data.
#pragma once

#include <cstdint>

constexpr uint32_t ID_CTRL_SN = 4;
constexpr uint32_t ID_CTRL_SN_SIZE = 20;
constexpr uint32_t ID_CTRL_MN = 24;
constexpr uint32_t ID_CTRL_MN_SIZE = 40;
constexpr uint32_t ID_CTRL_FR = 64;
constexpr uint32_t ID_CTRL_FR_SIZE = 8;
constexpr uint32_t ID_CTRL_NN = 516;
constexpr uint32_t ID_CTRL_FNA = 524;
// FNA bit 0: a format applies to every namespace; bit 1: a format's secure
// erase erases every namespace.
constexpr uint32_t FNA_FORMAT_ALL = 1;
constexpr uint32_t FNA_ERASE_ALL = 2;

constexpr uint32_t ID_NS_NSZE = 0;
constexpr uint32_t ID_NS_NLBAF = 25;
constexpr uint32_t ID_NS_FLBAS = 26;
constexpr uint32_t ID_NS_DPS = 29;
constexpr uint32_t ID_NS_LBAF = 128;
constexpr uint32_t LBA_FORMAT_COUNT = 64; // NVMe 2.0: NLBAF up to 63

// Copies at most `size` bytes of a text field into `text`, stopping at a zero
// byte; `text` must hold size + 1 bytes and is zero-filled first, so it always
// ends in a zero byte. Trailing spaces stay.
void identify_text(const uint8_t* identify, uint32_t offset, uint32_t size, char* text);

// LBA data size of format entry `index` (0..63): 2 to the power LBADS modulo 32.
uint32_t lba_data_size(const uint8_t* ns, uint32_t index);
// Metadata bytes per block of format entry `index` (MS).
uint32_t lba_metadata_size(const uint8_t* ns, uint32_t index);
// FLBAS bits 3:0, with bits 6:5 as the index's bits 5:4.
uint32_t current_format_index(const uint8_t* ns);
// NLBAF, the whole byte; at most 63.
uint32_t highest_format_index(const uint8_t* ns);
uint64_t namespace_size(const uint8_t* ns);

// NN: the namespaces the controller supports (not how many exist).
uint32_t controller_namespaces(const uint8_t* identify);
// FNA, the format attributes byte.
uint32_t format_attributes(const uint8_t* identify);
// The namespace's end-to-end protection: DPS bits 2:0 the PI type, bit 3
// PIL (the protection information in the metadata's first bytes); FLBAS
// bit 4 MSET (metadata at the end of each block).
uint32_t protection_type(const uint8_t* ns);
uint32_t protection_first(const uint8_t* ns);
uint32_t metadata_inline(const uint8_t* ns);

// Formats that can be shown and chosen: entries 0..NLBAF, up to the first
// whose LBADS is outside 9..31 (no data size of 512 bytes or more that 32
// bits hold; all-zero data list none).
uint32_t listed_formats(const uint8_t* ns);
// The namespace's capacity in MB (2^20 bytes) in its current format: NSZE
// times the data size, whole, computed without overflow.
double capacity_mb(const uint8_t* ns);
// "512", or "512+8" for a format with metadata: the size shown for entry
// `index` in `text` (at least LBA_SIZE_TEXT bytes).
constexpr uint32_t LBA_SIZE_TEXT = 24;
void lba_size_text(const uint8_t* ns, uint32_t index, char* text);
