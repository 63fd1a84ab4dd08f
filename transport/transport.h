// The paths to the controller, the dispatcher that sends a command along the
// chosen one, and the detection that chooses it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "nvme/admin_command.h"
#include "transport/drive_state.h"

struct LogBlock;

enum TransportKind {
    TRANSPORT_NONE = 0,
    TRANSPORT_INBOX = 1,
    TRANSPORT_OFA = 2,
    TRANSPORT_JMS = 3,
    TRANSPORT_ASM = 4,
    TRANSPORT_RTL = 5,
};

// Every transport has this shape: the drive (the transport sends through its
// own handle of it: the disk for the inbox driver and the bridges, the port
// for the OFA driver), caller's buffer (null when length is 0), length in
// bytes, DataDirection (low byte compared), command; 1 or 0.
typedef int (*TransportCall)(DriveState* drive, void* buffer, uint32_t length, int direction,
                             const AdminCommand* command);

// Sends a command along the path detection chose for the drive; 0 without a
// message for a kind that carries no commands.
int nvme_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                     const AdminCommand* command);

// Identify Namespace 1 into a 4096-byte buffer along the chosen path; 1 when
// the path carried the command and delivered the data.
int nvme_identify_namespace(DriveState* drive, void* buffer);
// Format NVM of namespace 1 along the chosen path, with the protection
// settings the namespace keeps; 1 when the path carried it and, where the
// controller's answer can be had, the controller reported success.
int nvme_format(DriveState* drive, int lbaf, int ses, const FormatProtection& protection);
// A command without data (Format NVM, Sanitize) along the chosen path, then,
// through a bridge, the controller's completion as the bridge kept it; 1 when
// the path carried it and no status says the controller refused it. Clears
// the drive's no-answer flag first.
int nvme_run_no_data(DriveState* drive, const AdminCommand* command);

// Sanitize of the whole controller along the chosen path, the action by its
// operator's number (nvme/sanitize.h). The OFA driver and the bridges carry
// the command with the drive's timeout; a bridge's record of the completion
// must show success. Through the inbox driver the erase request itself waits
// until the sanitize ends, at most `limit_s` seconds, in the form `os_build`
// allows. 1 when the request was accepted. A request that failed after the
// drive may have taken it sets the drive's no-answer flag (a timeout on any
// path, any failure of a JMicron data phase, the inbox driver's failures
// other than an invalid function, access denied or an invalid parameter);
// the controller's own answer is in its completion status when known.
// The request that carried a sanitize through the inbox driver.
enum SanitizeRoute {
    ROUTE_NONE = 0,
    ROUTE_REINITIALIZE_MEDIA = 1,
    ROUTE_SCSI_SANITIZE = 2,
    ROUTE_PROTOCOL_COMMAND = 3,
};
int nvme_sanitize(DriveState* drive, int action, uint32_t limit_s, uint32_t os_build,
                  SanitizeRoute* route = nullptr);
// The 512-byte Sanitize Status log along the chosen path; 1 when it came.
// With `untold_error`, the inbox driver's refused query is not told: its
// last-error code goes there, for the caller to tell with the others.
int nvme_sanitize_log(DriveState* drive, uint8_t* log, uint32_t* untold_error = nullptr);
// The actions a sanitize through the drive's path can take, as SANICAP bits,
// from the controller's own and what the path carries.
uint32_t path_sanitize_actions(const DriveState* drive, const uint8_t* identify, uint32_t os_build);

// The transports.
int ofa_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command);
int jms_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command);
int asm_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command);
int asm_legacy_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                           const AdminCommand* command);
int rtl_passthrough(DriveState* drive, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command);

// The bridges' record of the completion entry (16 bytes) of the last command
// their controller ran. 1 with `entry` filled when the bridge answered with a
// valid entry; 0, printing nothing, when the query failed in any way.
int jms_completion(DriveState* drive, uint8_t* entry);
int asm_completion(DriveState* drive, uint8_t* entry);
int rtl_completion(DriveState* drive, uint8_t* entry);

// Identify Controller through the inbox driver's property query; 1 when the
// driver answered with data that are not all zero.
int inbox_identify_controller(DriveState* drive, uint8_t* identify);

// The inbox driver's namespace data, Sanitize Status log (property
// queries) and sanitize (IOCTL_STORAGE_REINITIALIZE_MEDIA, then the SCSI
// SANITIZE command when that request is an invalid function); the actions it
// can run on a build (SANICAP bits).
int inbox_identify_namespace(DriveState* drive, uint8_t* ns);
int inbox_sanitize_log(DriveState* drive, uint8_t* log, uint32_t* untold_error = nullptr);
int inbox_sanitize(DriveState* drive, int action, uint32_t timeout_s, uint32_t os_build,
                   SanitizeRoute* route = nullptr);
uint32_t inbox_sanitize_actions(uint32_t os_build);

// A command without data through the inbox driver's protocol command. 1 when
// the driver reports success; otherwise 0 after one line: the request's
// failure (a timeout, 121, sets the drive's no-answer flag), the
// controller's status, or the driver's ReturnStatus. `refused`, when given,
// is set when the driver would not carry the command (last-error 1 or
// ReturnStatus "not supported").
int inbox_protocol_command(DriveState* drive, const AdminCommand* command, int* refused = nullptr);
// Sanitize in Windows PE: the protocol command, or, when the driver will not
// carry it, once the route outside Windows PE (inbox_sanitize) where that
// route can run the action on `os_build`.
int inbox_protocol_sanitize(DriveState* drive, int action, uint32_t limit_s, uint32_t os_build,
                            SanitizeRoute* route = nullptr);
// The route an inbox drive's sanitize tries first.
SanitizeRoute inbox_first_route(const DriveState* drive);

// Probes: Identify Controller through one transport into `identify` (4096
// bytes); 1 when the transport succeeded and the data are not all zero.
int probe_jms(DriveState* drive, uint8_t* identify);
int probe_asm_legacy(DriveState* drive, uint8_t* identify);
int probe_asm(DriveState* drive, uint8_t* identify);
int probe_rtl(DriveState* drive, uint8_t* identify);
int probe_ofa(DriveState* drive, uint8_t* identify);

// Tries the paths in their fixed order: the bridges for a USB drive, else
// the inbox driver on the disk handle and the OFA driver on the port handle.
// On success sets the drive's transport, leaves the Identify Controller data
// in `identify` and returns 1; otherwise prints "Identify error!\n" and
// returns 0 (the drive's old_asmedia flag tells a bridge that answered only
// its old firmware's command).
int detect_transport(DriveState* drive, uint8_t* identify, LogBlock* log);
