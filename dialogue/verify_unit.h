// What a unit read from the disk holds: one byte repeated (00h or FFh, a
// blank unit, as deallocated blocks read), and a hash of its content. Pure
// functions over bytes, run on every unit a check reads: they must keep up
// with memory, not slow the drive's reads.
#pragma once

#include <cstdint>

// The byte every byte of the unit holds, when that is 00h or FFh; -1 for
// any other content. `size` is a multiple of 8.
int unit_fill(const uint8_t* unit, uint32_t size);

// A 64-bit hash of the unit's content; `size` is a multiple of 64.
uint64_t unit_hash(const uint8_t* unit, uint32_t size);
