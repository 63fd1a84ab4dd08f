#include "nvme/completion.h"

#include <cstdio>

#include "platform/wire.h"

uint32_t print_completion_status(const uint8_t* entry) {
    const uint32_t status = (get_le32(entry, 12) >> 17) & 0x7FF;
    if (status != 0)
        printf("NVME status: SC: 0x%02X, SCT: %x\n", status & 0xFF, status >> 8);
    return status;
}
