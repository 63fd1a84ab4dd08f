// The single entry through which the admin commands reach a transport, and
// the two commands the dialogue sends after detection.
#include "transport/transport.h"

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

int nvme_identify_namespace(HANDLE handle, void* buffer) {
    const AdminCommand command = identify_namespace_command();
    return nvme_passthrough(handle, buffer, IDENTIFY_SIZE, DIR_FROM_DEVICE, &command);
}

int nvme_format(HANDLE handle, int lbaf, int ses) {
    const AdminCommand command = format_command(lbaf, ses);
    return nvme_passthrough(handle, nullptr, 0, DIR_NONE, &command);
}
