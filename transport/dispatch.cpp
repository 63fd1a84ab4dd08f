// The single entry through which the admin commands reach a transport, and
// the two commands the dialogue sends after detection.
#include "transport/transport.h"

#include "nvme/completion.h"

uint8_t g_transport = TRANSPORT_NONE;
uint8_t g_no_answer = 0;

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
    if (g_transport == TRANSPORT_INBOX)
        return inbox_identify_namespace(handle, static_cast<uint8_t*>(buffer));
    const AdminCommand command = identify_namespace_command();
    return nvme_passthrough(handle, buffer, IDENTIFY_SIZE, DIR_FROM_DEVICE, &command);
}

// The active bridge's record of the last completion; 0 for the OFA driver,
// which returned the completion with the request itself.
static int bridge_completion(HANDLE handle, uint8_t* entry) {
    switch (g_transport & 0xFF) {
    case TRANSPORT_JMS:
        return jms_completion(handle, entry);
    case TRANSPORT_ASM:
        return asm_completion(handle, entry);
    case TRANSPORT_RTL:
        return rtl_completion(handle, entry);
    default:
        return 0;
    }
}

int nvme_run_no_data(HANDLE handle, const AdminCommand* command) {
    g_no_answer = 0;
    if (!nvme_passthrough(handle, nullptr, 0, DIR_NONE, command))
        return 0;
    // A bridge may end the data phase GOOD whatever the controller answered;
    // its record of the completion has the controller's own word. Without
    // one, the outcome rests on the requests.
    uint8_t entry[COMPLETION_ENTRY_SIZE];
    if (!bridge_completion(handle, entry))
        return 1;
    return print_completion_status(entry) == 0;
}

int nvme_format(HANDLE handle, int lbaf, int ses) {
    const AdminCommand command = format_command(lbaf, ses);
    return nvme_run_no_data(handle, &command);
}
