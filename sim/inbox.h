// The inbox driver's sanitize requests and the queries that go with them
// (sim/inbox_sanitize.cpp) and its protocol command (sim/inbox_protocol.cpp),
// for the inbox model (sim/inbox.cpp).
#pragma once

#include "sim/model.h"

constexpr uint32_t IOCTL_STORAGE_REINITIALIZE_MEDIA_CODE = 0x002D9640;
constexpr uint32_t IOCTL_STORAGE_PROTOCOL_COMMAND_CODE = 0x002DD3C0;

// Property 50: Identify Namespace 1 behind a protocol data descriptor.
Reply inbox_namespace_query(Drive& drive, const Request& request);
// Property 49 with the log page data type: the Sanitize Status log.
Reply inbox_log_query(Drive& drive, const Request& request);
// IOCTL_STORAGE_PROTOCOL_COMMAND on the disk handle: Format NVM and Sanitize
// in Windows PE.
Reply inbox_protocol_command(Drive& drive, const Request& request);
// IOCTL_STORAGE_REINITIALIZE_MEDIA on the disk handle.
Reply inbox_reinitialize_media(Drive& drive, const Request& request);
// IOCTL_SCSI_PASS_THROUGH holding SCSI SANITIZE, before the envelope goes
// to the device: true with an error reply when the driver refuses the erase
// (the request fails with error 1); false hands it on.
bool inbox_sanitize_refused(Drive& drive, const Request& request, Reply* reply);
// The SCSI SANITIZE command as the driver translates it; false for any
// other CDB.
bool inbox_scsi_sanitize(Drive& drive, const ScsiCommand& command, ScsiResult* result);
