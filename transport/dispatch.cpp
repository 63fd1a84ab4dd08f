// The single entry through which the admin commands reach a transport, and
// the two commands the dialogue sends after detection.
#include "transport/transport.h"

#include "nvme/completion.h"

void drive_state_init(DriveState* drive, int number) {
    drive->number = number;
    drive->disk = INVALID_HANDLE_VALUE;
    drive->port = INVALID_HANDLE_VALUE;
    drive->namespace_id = 1;
    drive->transport = TRANSPORT_NONE;
    drive->is_usb = 0;
    drive->bus_type = 0;
    drive->old_asmedia = 0;
    drive->windows_pe = 0;
    drive->timeout = IDENTIFY_TIMEOUT_S;
    drive->no_answer = 0;
    drive->probing = 0;
    drive->completion_known = 0;
    drive->completion_status = 0;
}

int nvme_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                     const AdminCommand* command) {
    switch (drive->transport) {
    case TRANSPORT_OFA:
        return ofa_passthrough(drive, buffer, length, direction, command);
    case TRANSPORT_JMS:
        return jms_passthrough(drive, buffer, length, direction, command);
    case TRANSPORT_ASM:
        return asm_passthrough(drive, buffer, length, direction, command);
    case TRANSPORT_RTL:
        return rtl_passthrough(drive, buffer, length, direction, command);
    default:
        // No path, or the inbox driver, which only identifies.
        return 0;
    }
}

int nvme_identify_namespace(DriveState* drive, void* buffer) {
    if (drive->transport == TRANSPORT_INBOX)
        return inbox_identify_namespace(drive, static_cast<uint8_t*>(buffer));
    const AdminCommand command = identify_namespace_command();
    return nvme_passthrough(drive, buffer, IDENTIFY_SIZE, DIR_FROM_DEVICE, &command);
}

// The active bridge's record of the last completion; 0 for the OFA driver,
// which returned the completion with the request itself.
static int bridge_completion(DriveState* drive, uint8_t* entry) {
    switch (drive->transport) {
    case TRANSPORT_JMS:
        return jms_completion(drive, entry);
    case TRANSPORT_ASM:
        return asm_completion(drive, entry);
    case TRANSPORT_RTL:
        return rtl_completion(drive, entry);
    default:
        return 0;
    }
}

int nvme_run_no_data(DriveState* drive, const AdminCommand* command) {
    drive->no_answer = 0;
    drive->completion_known = 0;
    if (drive->transport == TRANSPORT_INBOX && drive->windows_pe)
        return inbox_protocol_command(drive, command);
    if (!nvme_passthrough(drive, nullptr, 0, DIR_NONE, command))
        return 0;
    // A bridge may end the data phase GOOD whatever the controller answered;
    // its record of the completion has the controller's own word. Without
    // one, the outcome rests on the requests.
    uint8_t entry[COMPLETION_ENTRY_SIZE];
    if (!bridge_completion(drive, entry))
        return 1;
    drive->completion_known = 1;
    drive->completion_status = print_completion_status(entry);
    return drive->completion_status == 0;
}

int nvme_format(DriveState* drive, int lbaf, int ses, const FormatProtection& protection) {
    const AdminCommand command = format_command(lbaf, ses, protection);
    return nvme_run_no_data(drive, &command);
}
