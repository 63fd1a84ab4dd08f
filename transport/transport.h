// The paths to the controller, the dispatcher that sends a command along the
// chosen one, and the detection that chooses it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "nvme/admin_command.h"

struct LogBlock;

enum TransportKind {
    TRANSPORT_NONE = 0,
    TRANSPORT_INBOX = 1,
    TRANSPORT_OFA = 2,
    TRANSPORT_JMS = 3,
    TRANSPORT_ASM = 4,
    TRANSPORT_RTL = 5,
};

// Written only by detection; read by the dispatcher and the dialogue.
extern uint8_t g_transport;
// 1 for a drive on USB: written by the dialogue from the drive's bus type,
// read by detection to choose the bridge probes.
extern uint8_t g_is_usb;
// Set by detection when an ASMedia bridge answers only the Id/Smart command
// of its old firmware (not supported, rather than not reached).
extern uint8_t g_old_asmedia;

// Every transport has this shape: handle, caller's buffer (null when length is
// 0), length in bytes, DataDirection (low byte compared), command; 1 or 0.
typedef int (*TransportCall)(HANDLE handle, void* buffer, uint32_t length, int direction,
                             const AdminCommand* command);

// Sends a command along the path detection chose; 0 without a message for a
// kind that carries no commands.
int nvme_passthrough(HANDLE handle, void* buffer, uint32_t length, int direction,
                     const AdminCommand* command);

// Identify Namespace 1 into a 4096-byte buffer along the chosen path; 1 when
// the path carried the command and delivered the data.
int nvme_identify_namespace(HANDLE handle, void* buffer);
// Format NVM of namespace 1 along the chosen path; 1 when the path carried it
// and, where the controller's answer can be had, the controller reported
// success.
int nvme_format(HANDLE handle, int lbaf, int ses);
// A command without data (Format NVM, Sanitize) along the chosen path, then,
// through a bridge, the controller's completion as the bridge kept it; 1 when
// the path carried it and no status says the controller refused it.
int nvme_run_no_data(HANDLE handle, const AdminCommand* command);

// Sanitize of the whole controller along the chosen path, the action by its
// operator's number (nvme/sanitize.h). The OFA driver and the bridges carry
// the command with g_timeout; a bridge's record of the completion must show
// success. Through the inbox driver the erase request itself waits until
// the sanitize ends, at most `limit_s` seconds, in the form `os_build`
// allows. 1 when the request was accepted.
// The request that carried a sanitize through the inbox driver.
enum SanitizeRoute { ROUTE_NONE = 0, ROUTE_REINITIALIZE_MEDIA = 1, ROUTE_SCSI_SANITIZE = 2 };
int nvme_sanitize(HANDLE handle, int action, uint32_t limit_s, uint32_t os_build,
                  SanitizeRoute* route = nullptr);
// The 512-byte Sanitize Status log along the chosen path; 1 when it came.
int nvme_sanitize_log(HANDLE handle, uint8_t* log);
// The actions a sanitize through the chosen path can take, as SANICAP bits,
// from the controller's own and what the path carries.
uint32_t path_sanitize_actions(const uint8_t* identify, uint32_t os_build);

// The transports.
int ofa_passthrough(HANDLE handle, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command);
int jms_passthrough(HANDLE handle, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command);
int asm_passthrough(HANDLE handle, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command);
int asm_legacy_passthrough(HANDLE handle, void* buffer, uint32_t length, int direction,
                           const AdminCommand* command);
int rtl_passthrough(HANDLE handle, void* buffer, uint32_t length, int direction,
                    const AdminCommand* command);

// 1 when the request that runs a command failed after the device had taken
// the command: it timed out (ERROR_SEM_TIMEOUT) on any path, or, through the
// JMicron tunnel, its data phase failed in any way. The command may have run,
// or may still be running. nvme_format clears it before Format NVM.
extern uint8_t g_no_answer;

// The bridges' record of the completion entry (16 bytes) of the last command
// their controller ran. 1 with `entry` filled when the bridge answered with a
// valid entry; 0, printing nothing, when the query failed in any way.
int jms_completion(HANDLE handle, uint8_t* entry);
int asm_completion(HANDLE handle, uint8_t* entry);
int rtl_completion(HANDLE handle, uint8_t* entry);

// Identify Controller through the inbox driver's property query; 1 when the
// driver answered with data that are not all zero.
int inbox_identify_controller(HANDLE handle, uint8_t* identify);

// The inbox driver's namespace data, Sanitize Status log (property
// queries) and sanitize (IOCTL_STORAGE_REINITIALIZE_MEDIA, then the SCSI
// SANITIZE command when that request is an invalid function); the actions it
// can run on a build (SANICAP bits).
int inbox_identify_namespace(HANDLE handle, uint8_t* ns);
int inbox_sanitize_log(HANDLE handle, uint8_t* log);
int inbox_sanitize(HANDLE handle, int action, uint32_t timeout_s, uint32_t os_build,
                   SanitizeRoute* route = nullptr);
uint32_t inbox_sanitize_actions(uint32_t os_build);

// Probes: Identify Controller through one transport into `identify` (4096
// bytes); 1 when the transport succeeded and the data are not all zero.
int probe_jms(HANDLE disk, uint8_t* identify);
int probe_asm_legacy(HANDLE disk, uint8_t* identify);
int probe_asm(HANDLE disk, uint8_t* identify);
int probe_rtl(HANDLE disk, uint8_t* identify);
int probe_ofa(HANDLE port, uint8_t* identify);

// Tries the paths in their fixed order. On success sets g_transport, leaves
// the Identify Controller data in `identify`, names the command handle and
// returns 1; otherwise prints "Identify error!\n" and returns 0.
int detect_transport(HANDLE disk, HANDLE port, uint8_t* identify, LogBlock* log,
                     HANDLE* command_handle);
