#include "dialogue/verify_unit.h"

#include <cstring>

#include "dialogue/mix.h"

namespace {

inline uint64_t word_at(const uint8_t* p) {
    uint64_t word;
    memcpy(&word, p, sizeof word);
    return word;
}

inline uint64_t rotate(uint64_t x, int bits) {
    return x << bits | x >> (64 - bits);
}

} // namespace

int unit_fill(const uint8_t* unit, uint32_t size) {
    const uint64_t first = word_at(unit);
    if (first != 0 && first != ~0ull)
        return -1; // content: told by its first word, as it mostly is
    uint32_t i = 0;
    // Eight words at a time, with one test for the eight.
    for (; i + 64 <= size; i += 64) {
        uint64_t differ = 0;
        for (uint32_t k = 0; k < 64; k += 8)
            differ |= word_at(unit + i + k) ^ first;
        if (differ)
            return -1;
    }
    for (; i < size; i += 8)
        if (word_at(unit + i) != first)
            return -1;
    return static_cast<int>(first & 0xFF);
}

uint64_t unit_hash(const uint8_t* unit, uint32_t size) {
    // Eight lanes, each a multiply-rotate chain over every eighth word, so
    // that the processor runs them side by side; then they are folded and
    // mixed.
    constexpr uint64_t PRIME = 0x9E3779B185EBCA87ull;
    uint64_t lane[8] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull,
                        0x082EFA98EC4E6C89ull, 0x452821E638D01377ull, 0xBE5466CF34E90C6Cull,
                        0xC0AC29B7C97C50DDull, 0x3F84D5B5B5470917ull};
    for (uint32_t i = 0; i < size; i += 64)
        for (uint32_t k = 0; k < 8; ++k)
            lane[k] = rotate((lane[k] ^ word_at(unit + i + 8 * k)) * PRIME, 31);
    uint64_t folded = size;
    for (uint32_t k = 0; k < 8; ++k)
        folded = rotate(folded, 23) ^ lane[k];
    return mix64(folded);
}
