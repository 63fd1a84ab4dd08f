// The NVMe completion queue entry: four little-endian dwords, the command's
// status in dword 3. The OFA driver returns it with every request; the USB
// bridges answer a query for the last one.
#pragma once

#include <cstdint>

constexpr uint32_t COMPLETION_ENTRY_SIZE = 16;

// The entry's status as (SCT << 8) | SC, 0 for success: SC from bits 24..17
// of dword 3, SCT from bits 27..25; the command identifier, the phase tag and
// bits 31..28 are not status. A status other than success is printed as
// "NVME status: SC: 0x%02X, SCT: %x\n".
uint32_t print_completion_status(const uint8_t* entry);
