#include "nvme/identify.h"

#include <cstring>

#include "platform/wire.h"

void identify_text(const uint8_t* identify, uint32_t offset, uint32_t size, char* text) {
    memset(text, 0, size + 1);
    for (uint32_t i = 0; i < size && identify[offset + i] != 0; ++i)
        text[i] = static_cast<char>(identify[offset + i]);
}

uint32_t lba_data_size(const uint8_t* ns, uint32_t index) {
    const uint32_t lbads = ns[ID_NS_LBAF + 4 * index + 2];
    return 1u << (lbads % 32);
}

uint32_t current_format_index(const uint8_t* ns) {
    return ns[ID_NS_FLBAS] & 0x0F;
}

uint32_t highest_format_index(const uint8_t* ns) {
    return ns[ID_NS_NLBAF] & 0x0F;
}

uint64_t namespace_size(const uint8_t* ns) {
    return get_le64(ns, ID_NS_NSZE);
}
