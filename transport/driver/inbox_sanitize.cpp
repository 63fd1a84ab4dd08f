// What the inbox driver offers beyond Identify Controller: the namespace
// data and the Sanitize Status log through the property query, and the erase
// through IOCTL_STORAGE_REINITIALIZE_MEDIA, or, where the driver refuses that
// request as an invalid function, through the SCSI SANITIZE command it
// translates.
#include <cstdio>
#include <cstring>

#include "nvme/sanitize.h"
#include "platform/wire.h"
#include "transport/driver/inbox.h"
#include "transport/transport.h"
#include "transport/usb/scsi_envelope.h"

constexpr uint32_t ERROR_INVALID_FUNCTION_CODE = 1;
constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;

static int descriptor_valid(const uint8_t* query) {
    return get_le32(query, INBOX_DESCRIPTOR_VERSION) == INBOX_DESCRIPTOR_SIZE &&
           get_le32(query, INBOX_DESCRIPTOR_SIZE_FIELD) == INBOX_DESCRIPTOR_SIZE;
}

// A protocol-specific query of `length` bytes of data into `data`; on
// failure, "IOCtl: <name> failed 0x%x!" or, for a reply without its
// descriptor, "IOCtl: <name> returned no <what> data!". With `untold_error`
// a refused query is not told: its last-error code goes there.
static int protocol_read(HANDLE disk, uint32_t property, uint32_t data_type, uint32_t value,
                         uint32_t sub_value, uint8_t* data, uint32_t length, const char* name,
                         const char* what, uint32_t* untold_error = nullptr) {
    uint8_t query[INBOX_QUERY_SIZE];
    const uint32_t size = INBOX_DATA + length;
    inbox_protocol_query(query, property, data_type, value, sub_value, length);
    if (!device_control(disk, IOCTL_STORAGE_QUERY_PROPERTY, query, size, query, size)) {
        if (untold_error)
            *untold_error = last_error();
        else
            printf("IOCtl: %s failed 0x%x!\n", name, last_error());
        return 0;
    }
    if (!descriptor_valid(query)) {
        printf("IOCtl: %s returned no %s data!\n", name, what);
        return 0;
    }
    memcpy(data, query + INBOX_DATA, length);
    return 1;
}

int inbox_identify_namespace(DriveState* drive, uint8_t* ns) {
    // The disk's own namespace: the size shown and read back is the chosen
    // disk's, whichever namespace of its controller it is.
    return protocol_read(drive->disk, StorageDeviceProtocolSpecificProperty, NVMeDataTypeIdentify,
                         NVME_IDENTIFY_CNS_NAMESPACE, drive->namespace_id, ns, IDENTIFY_SIZE,
                         "ID NS", "namespace");
}

int inbox_sanitize_log(DriveState* drive, uint8_t* log, uint32_t* untold_error) {
    return protocol_read(drive->disk, StorageAdapterProtocolSpecificProperty, NVMeDataTypeLogPage,
                         SANITIZE_LOG_ID, 0, log, SANITIZE_LOG_SIZE, "LOG", "log", untold_error);
}

uint32_t inbox_sanitize_actions(uint32_t os_build) {
    if (os_build >= BUILD_REINITIALIZE_INPUT)
        return sanitize_action_bit(SANITIZE_BLOCK_ERASE) |
               sanitize_action_bit(SANITIZE_CRYPTO_ERASE);
    if (os_build >= BUILD_REINITIALIZE_MEDIA)
        return sanitize_action_bit(SANITIZE_CRYPTO_ERASE); // what the request without input runs
    return 0;
}

// A failed erase request, told: Windows refuses a request before the drive
// sees it with an invalid function, access denied or an invalid parameter;
// after any other failure (a timeout, a device error) the drive may have
// taken the sanitize, and may still run it. Returns the last-error code.
static uint32_t request_failed(DriveState* drive, const char* failure_format) {
    const uint32_t error = last_error();
    printf(failure_format, error);
    drive->no_answer = error != ERROR_INVALID_FUNCTION_CODE && error != ERROR_ACCESS_DENIED_CODE &&
                       error != ERROR_INVALID_PARAMETER_CODE;
    return error;
}

static int scsi_sanitize(DriveState* drive, int action, uint32_t timeout_s) {
    uint8_t envelope[ENVELOPE_SIZE];
    envelope_begin(envelope, {SCSI_SANITIZE_CDB_LENGTH, ENVELOPE_SENSE_SIZE,
                              SCSI_IOCTL_DATA_UNSPECIFIED, 0, timeout_s, ENVELOPE_SENSE_OFFSET});
    put_u8(envelope, SPT_CDB + 0, SCSI_SANITIZE_OPCODE);
    put_u8(envelope, SPT_CDB + 1,
           SCSI_SANITIZE_AUSE | (action == SANITIZE_BLOCK_ERASE ? SCSI_SANITIZE_BLOCK_ERASE
                                                                : SCSI_SANITIZE_CRYPTO_ERASE));
    // No data: the envelope alone goes in and out.
    if (!device_control(drive->disk, IOCTL_SCSI_PASS_THROUGH, envelope, ENVELOPE_DATA_OFFSET,
                        envelope, ENVELOPE_DATA_OFFSET)) {
        request_failed(drive, "IOCtl: SCSI SANITIZE failed 0x%x!\n");
        return 0;
    }
    // CHECK CONDITION: the driver or the drive refused it.
    return envelope_status_good(drive, envelope);
}

int inbox_sanitize(DriveState* drive, int action, uint32_t timeout_s, uint32_t os_build,
                   SanitizeRoute* route) {
    uint8_t input[REINIT_SIZE];
    memset(input, 0, sizeof input);
    put_le32(input, REINIT_VERSION, REINIT_SIZE);
    put_le32(input, REINIT_SIZE_FIELD, REINIT_SIZE);
    put_le32(input, REINIT_TIMEOUT, timeout_s);
    // Unrestricted sanitize exit allowed: bit 4 stays 0.
    put_le32(input, REINIT_OPTIONS,
             action == SANITIZE_BLOCK_ERASE ? REINIT_METHOD_BLOCK_ERASE
                                            : REINIT_METHOD_CRYPTO_ERASE);
    const int with_input = os_build >= BUILD_REINITIALIZE_INPUT;
    if (route)
        *route = ROUTE_REINITIALIZE_MEDIA;
    if (device_control(drive->disk, IOCTL_STORAGE_REINITIALIZE_MEDIA, with_input ? input : nullptr,
                       with_input ? REINIT_SIZE : 0, nullptr, 0))
        return 1;
    // Only an invalid function leads to the SCSI command: after any other
    // failure the drive may be sanitizing already.
    if (request_failed(drive, "IOCtl: REINITIALIZE_MEDIA failed 0x%x!\n") !=
        ERROR_INVALID_FUNCTION_CODE)
        return 0;
    if (route)
        *route = ROUTE_SCSI_SANITIZE;
    return scsi_sanitize(drive, action, timeout_s);
}
