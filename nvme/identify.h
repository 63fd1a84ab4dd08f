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

constexpr uint32_t ID_NS_NSZE = 0;
constexpr uint32_t ID_NS_NLBAF = 25;
constexpr uint32_t ID_NS_FLBAS = 26;
constexpr uint32_t ID_NS_LBAF = 128;
constexpr uint32_t LBA_FORMAT_COUNT = 16;

// Copies at most `size` bytes of a text field into `text`, stopping at a zero
// byte; `text` must hold size + 1 bytes and is zero-filled first, so it always
// ends in a zero byte. Trailing spaces stay.
void identify_text(const uint8_t* identify, uint32_t offset, uint32_t size, char* text);

// LBA data size of format entry `index` (0..15): 2 to the power LBADS modulo 32.
uint32_t lba_data_size(const uint8_t* ns, uint32_t index);
uint32_t current_format_index(const uint8_t* ns);
uint32_t highest_format_index(const uint8_t* ns);
uint64_t namespace_size(const uint8_t* ns);
