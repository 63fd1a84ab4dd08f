// Little- and big-endian field access in byte buffers: every wire layout of
// the tool is written as offsets into a buffer with these.
#pragma once

#include <cstdint>

inline void put_u8(uint8_t* p, uint32_t off, uint32_t v) {
    p[off] = static_cast<uint8_t>(v);
}

inline void put_le16(uint8_t* p, uint32_t off, uint32_t v) {
    p[off] = static_cast<uint8_t>(v);
    p[off + 1] = static_cast<uint8_t>(v >> 8);
}

inline void put_le32(uint8_t* p, uint32_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void put_le64(uint8_t* p, uint32_t off, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Big-endian field of `width` bytes (1 to 4), as SCSI CDBs carry lengths.
inline void put_be(uint8_t* p, uint32_t off, uint32_t width, uint32_t v) {
    for (uint32_t i = 0; i < width; ++i)
        p[off + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

inline uint32_t get_le16(const uint8_t* p, uint32_t off) {
    return static_cast<uint32_t>(p[off]) | static_cast<uint32_t>(p[off + 1]) << 8;
}

inline uint32_t get_le32(const uint8_t* p, uint32_t off) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[off + i];
    return v;
}

inline uint64_t get_le64(const uint8_t* p, uint32_t off) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[off + i];
    return v;
}

inline uint32_t get_be(const uint8_t* p, uint32_t off, uint32_t width) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < width; ++i)
        v = (v << 8) | p[off + i];
    return v;
}
