// The single entry through which the admin commands reach a transport.
#include "nvme/transport.h"

uint8_t g_transport = TRANSPORT_NONE;

int nvme_passthrough(HANDLE handle, void* buffer, uint32_t length, int direction,
                     const AdminCommand* command) {
    switch (g_transport & 0xFF) {
    case TRANSPORT_OFA:
        return ofa_passthrough(handle, buffer, length, direction, command);
    case TRANSPORT_JMS:
        return jms_passthrough(handle, buffer, length, direction, command);
    case TRANSPORT_ASM:
        return asm_passthrough(handle, buffer, length, direction, command);
    case TRANSPORT_RTL:
        return rtl_passthrough(handle, buffer, length, direction, command);
    default:
        // No path, or the inbox driver, which only identifies.
        return 0;
    }
}
