// The OFA NVMe miniport pass-through: one IOCTL_SCSI_MINIPORT request on the
// SCSI port carries the submission entry and the data both ways.
#include "transport/driver/ofa.h"

#include <cstdio>
#include <cstring>

#include "transport/transport.h"
#include "nvme/completion.h"
#include "platform/wire.h"

static uint32_t ofa_direction(int direction) {
    switch (direction & 0xFF) {
    case DIR_FROM_DEVICE:
        return NVME_FROM_DEV_TO_HOST;
    case DIR_TO_DEVICE:
        return NVME_FROM_HOST_TO_DEV;
    default:
        return NVME_NO_DATA_TX;
    }
}

int ofa_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command) {
    if (!check_transfer_length(length))
        return 0;
    uint8_t request[OFA_REQUEST_SIZE];
    memset(request, 0, sizeof request);

    build_submission_entry(command, request + OFA_NVME_CMD);
    put_le32(request, SRB_HEADER_LENGTH, SRB_IO_CONTROL_SIZE);
    memcpy(request + SRB_SIGNATURE, NVME_SIG_STR, 8);
    put_le32(request, SRB_TIMEOUT, drive->timeout);
    put_le32(request, SRB_CONTROL_CODE, NVME_PASS_THROUGH_SRB_IO_CODE);
    put_le32(request, SRB_LENGTH, length + OFA_DATA_BUFFER - SRB_IO_CONTROL_SIZE);
    put_le32(request, OFA_DATA_BUFFER_LEN, length);
    put_le32(request, OFA_RETURN_BUFFER_LEN, length + OFA_DATA_BUFFER);
    put_le32(request, OFA_DIRECTION, ofa_direction(direction));
    if ((direction & 0xFF) == DIR_TO_DEVICE && length != 0)
        memcpy(request + OFA_DATA_BUFFER, buffer, length);

    const uint32_t size = length + OFA_DATA_BUFFER;
    if (!device_control(drive->port, IOCTL_SCSI_MINIPORT, request, size, request, size)) {
        const uint32_t error = last_error();
        printf("IOCtl: NVME_OF failed 0x%x!\n", error);
        // The driver runs the command within this one request: one that timed
        // out had been taken.
        if (error == ERROR_SEM_TIMEOUT)
            drive->no_answer = 1;
        return 0;
    }
    // The driver's answer holds the controller's: a command it completed with
    // an error status did not happen, whatever the request's own outcome.
    drive->completion_known = 1;
    drive->completion_status = print_completion_status(request + OFA_CPL_ENTRY);
    if (drive->completion_status != 0)
        return 0;
    if ((direction & 0xFF) == DIR_FROM_DEVICE && length != 0)
        memcpy(buffer, request + OFA_DATA_BUFFER, length);
    return 1;
}
