// Sanitize and its status log along the chosen path.
#include "nvme/sanitize.h"
#include "transport/transport.h"

int nvme_sanitize(DriveState* drive, int action, uint32_t limit_s, uint32_t os_build,
                  SanitizeRoute* route) {
    drive->no_answer = 0;
    drive->completion_known = 0;
    if (drive->transport == TRANSPORT_INBOX && drive->windows_pe)
        return inbox_protocol_sanitize(drive, action, limit_s, os_build, route);
    if (drive->transport == TRANSPORT_INBOX)
        return inbox_sanitize(drive, action, limit_s, os_build, route);
    const AdminCommand command = sanitize_command(action);
    return nvme_run_no_data(drive, &command);
}

int nvme_sanitize_log(DriveState* drive, uint8_t* log, uint32_t* untold_error) {
    if (drive->transport == TRANSPORT_INBOX)
        return inbox_sanitize_log(drive, log, untold_error);
    const AdminCommand command = sanitize_log_command();
    return nvme_passthrough(drive, log, SANITIZE_LOG_SIZE, DIR_FROM_DEVICE, &command);
}

uint32_t path_sanitize_actions(const DriveState* drive, const uint8_t* identify,
                               uint32_t os_build) {
    const uint32_t controller = sanitize_capabilities(identify);
    // In Windows PE the driver carries Sanitize as the controller has it.
    if (drive->transport == TRANSPORT_INBOX && !drive->windows_pe)
        return controller & inbox_sanitize_actions(os_build);
    return controller;
}
