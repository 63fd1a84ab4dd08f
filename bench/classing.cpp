// The rate at which the check classes what it reads: each 4 KiB unit of a
// 1 MiB request tested for a blank fill (every byte read, as on an erased
// drive, the slowest case) and hashed (as a sample is). Prints the two
// rates in GB/s (10^9 bytes), the best of five rounds of 4 GiB each, timed
// in the process's CPU time: other programs on a shared machine do not
// count.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "dialogue/verify_unit.h"

namespace {

constexpr uint32_t REQUEST = 1u << 20;
constexpr uint32_t UNIT = 4096;
constexpr int REQUESTS = 4096; // 4 GiB a round

template <typename Class> double rate_gbs(const uint8_t* buffer, Class classify) {
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        uint64_t sink = 0;
        const std::clock_t start = std::clock();
        for (int r = 0; r < REQUESTS; ++r)
            for (uint32_t at = 0; at < REQUEST; at += UNIT)
                sink += classify(buffer + at);
        const double took = double(std::clock() - start) / CLOCKS_PER_SEC;
        const double rate = double(REQUEST) * REQUESTS / took / 1e9;
        if (sink == 42) // keeps the work from being optimised away
            std::printf(" ");
        best = rate > best ? rate : best;
    }
    return best;
}

} // namespace

int main() {
    std::vector<uint64_t> space(REQUEST / 8 + 512, 0);
    uint8_t* buffer = reinterpret_cast<uint8_t*>(space.data());
    buffer += (4096 - reinterpret_cast<uintptr_t>(buffer) % 4096) % 4096;
    const double fill = rate_gbs(buffer, [](const uint8_t* unit) {
        return static_cast<uint64_t>(unit_fill(unit, UNIT) + 1);
    });
    for (uint32_t i = 0; i < REQUEST; ++i)
        buffer[i] = static_cast<uint8_t>(i * 131 + 7);
    const double hash = rate_gbs(buffer, [](const uint8_t* unit) { return unit_hash(unit, UNIT); });
    std::printf("%.2f %.2f\n", fill, hash);
    return 0;
}
