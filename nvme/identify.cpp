#include "nvme/identify.h"

#include <cstdio>
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

uint32_t lba_metadata_size(const uint8_t* ns, uint32_t index) {
    return get_le16(ns, ID_NS_LBAF + 4 * index);
}

uint32_t current_format_index(const uint8_t* ns) {
    const uint32_t flbas = ns[ID_NS_FLBAS];
    return (flbas & 0x0F) | ((flbas >> 5) & 0x3) << 4;
}

uint32_t highest_format_index(const uint8_t* ns) {
    const uint32_t nlbaf = ns[ID_NS_NLBAF];
    return nlbaf < LBA_FORMAT_COUNT ? nlbaf : LBA_FORMAT_COUNT - 1;
}

uint32_t listed_formats(const uint8_t* ns) {
    uint32_t listed = 0;
    for (; listed <= highest_format_index(ns); ++listed) {
        const uint32_t lbads = ns[ID_NS_LBAF + 4 * listed + 2];
        if (lbads < 9 || lbads > 31)
            break;
    }
    return listed;
}

double capacity_mb(const uint8_t* ns) {
    const uint64_t blocks = namespace_size(ns);
    const uint64_t size = lba_data_size(ns, current_format_index(ns));
    // Whole megabytes of blocks above 2^20, then the rest: neither product
    // leaves 64 bits (the first is a power of two apart from a double).
    return static_cast<double>(blocks >> 20) * static_cast<double>(size) +
           static_cast<double>(((blocks & 0xFFFFF) * size) >> 20);
}

void lba_size_text(const uint8_t* ns, uint32_t index, char* text) {
    const uint32_t metadata = lba_metadata_size(ns, index);
    if (metadata)
        snprintf(text, LBA_SIZE_TEXT, "%u+%u", lba_data_size(ns, index), metadata);
    else
        snprintf(text, LBA_SIZE_TEXT, "%u", lba_data_size(ns, index));
}

uint64_t namespace_size(const uint8_t* ns) {
    return get_le64(ns, ID_NS_NSZE);
}

uint32_t controller_namespaces(const uint8_t* identify) {
    return get_le32(identify, ID_CTRL_NN);
}

uint32_t format_attributes(const uint8_t* identify) {
    return identify[ID_CTRL_FNA];
}

uint32_t protection_type(const uint8_t* ns) {
    return ns[ID_NS_DPS] & 0x7;
}

uint32_t protection_first(const uint8_t* ns) {
    return (ns[ID_NS_DPS] >> 3) & 0x1;
}

uint32_t metadata_inline(const uint8_t* ns) {
    return (ns[ID_NS_FLBAS] >> 4) & 0x1;
}
