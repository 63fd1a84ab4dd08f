// Spreads every bit of a 64-bit value over the result (the splitmix64
// finalizer): sample positions from their seed, and the record's run id.
#pragma once

#include <cstdint>

inline uint64_t mix64(uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}
