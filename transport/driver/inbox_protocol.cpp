// Format NVM and Sanitize through the inbox driver in Windows PE: one
// IOCTL_STORAGE_PROTOCOL_COMMAND request on the disk handle carries the
// submission entry, the same one the OFA driver receives; the driver answers
// in the request's own header.
#include "transport/driver/inbox_protocol.h"

#include <cstdio>
#include <cstring>

#include "nvme/sanitize.h"
#include "platform/wire.h"
#include "transport/transport.h"

void protocol_command_request(uint8_t* request, const AdminCommand* command, uint32_t timeout_s) {
    memset(request, 0, PROTOCOL_REQUEST_SIZE);
    put_le32(request, PROTOCOL_VERSION, PROTOCOL_STRUCTURE_VERSION);
    put_le32(request, PROTOCOL_LENGTH, PROTOCOL_HEADER_SIZE);
    put_le32(request, PROTOCOL_TYPE, ProtocolTypeNvme);
    put_le32(request, PROTOCOL_FLAGS, PROTOCOL_FLAG_ADAPTER_REQUEST);
    put_le32(request, PROTOCOL_COMMAND_LENGTH, SUBMISSION_ENTRY_SIZE);
    put_le32(request, PROTOCOL_TIMEOUT_VALUE, timeout_s);
    put_le32(request, PROTOCOL_COMMAND_SPECIFIC, PROTOCOL_NVME_ADMIN_COMMAND);
    build_submission_entry(command, request + PROTOCOL_COMMAND);
}

// The command's name in the messages.
static const char* command_name(const AdminCommand* command) {
    switch (command->cdw0 & 0xFF) {
    case NVME_OPC_FORMAT_NVM:
        return "FORMAT";
    case NVME_OPC_SANITIZE:
        return "SANITIZE";
    default:
        return "PROTOCOL COMMAND";
    }
}

int inbox_protocol_command(DriveState* drive, const AdminCommand* command, int* refused) {
    const char* name = command_name(command);
    if (refused)
        *refused = 0;
    uint8_t request[PROTOCOL_REQUEST_SIZE];
    protocol_command_request(request, command, drive->timeout);
    if (!device_control(drive->disk, IOCTL_STORAGE_PROTOCOL_COMMAND, request, sizeof request,
                        request, sizeof request)) {
        const uint32_t error = last_error();
        printf("IOCtl: %s failed 0x%x!\n", name, error);
        // The driver runs the command within this one request: one that timed
        // out had been taken.
        if (error == ERROR_SEM_TIMEOUT)
            drive->no_answer = 1;
        if (refused)
            *refused = error == PROTOCOL_REFUSED_ERROR;
        return 0;
    }
    const uint32_t status = get_le32(request, PROTOCOL_RETURN_STATUS);
    if (status == PROTOCOL_STATUS_SUCCESS) {
        drive->completion_known = 1;
        drive->completion_status = 0;
        return 1;
    }
    // The completion's status field as the driver reports it: the phase tag
    // in bit 0, SC in bits 8:1, SCT in bits 11:9.
    const uint32_t field = get_le32(request, PROTOCOL_ERROR_CODE);
    const uint32_t sc = (field >> 1) & 0xFF;
    const uint32_t sct = (field >> 9) & 0x7;
    if (sc != 0 || sct != 0) {
        printf("NVME status: SC: 0x%02X, SCT: %u\n", sc, sct);
        drive->completion_known = 1;
        drive->completion_status = sct << 8 | sc;
    } else {
        printf("IOCtl: %s status 0x%x!\n", name, status);
    }
    if (refused)
        *refused = status == PROTOCOL_STATUS_NOT_SUPPORTED;
    return 0;
}

int inbox_protocol_sanitize(DriveState* drive, int action, uint32_t limit_s, uint32_t os_build,
                            SanitizeRoute* route) {
    if (route)
        *route = ROUTE_PROTOCOL_COMMAND;
    drive->no_answer = 0;
    drive->completion_known = 0;
    const AdminCommand command = sanitize_command(action);
    int refused = 0;
    if (inbox_protocol_command(drive, &command, &refused))
        return 1;
    // A driver that does not carry Sanitize this way may still run it as it
    // does outside Windows PE, where it can run this action at all.
    if (!refused || !(inbox_sanitize_actions(os_build) & sanitize_action_bit(action)))
        return 0;
    return inbox_sanitize(drive, action, limit_s, os_build, route);
}

SanitizeRoute inbox_first_route(const DriveState* drive) {
    return drive->windows_pe ? ROUTE_PROTOCOL_COMMAND : ROUTE_REINITIALIZE_MEDIA;
}
