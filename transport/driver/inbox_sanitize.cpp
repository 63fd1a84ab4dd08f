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

static void protocol_query(uint8_t* query, uint32_t property, uint32_t data_type, uint32_t value,
                           uint32_t sub_value, uint32_t length) {
    memset(query, 0, INBOX_DATA + length);
    put_le32(query, INBOX_PROPERTY_ID, property);
    put_le32(query, INBOX_QUERY_TYPE, PropertyStandardQuery);
    put_le32(query, INBOX_PROTOCOL_TYPE, ProtocolTypeNvme);
    put_le32(query, INBOX_DATA_TYPE, data_type);
    put_le32(query, INBOX_REQUEST_VALUE, value);
    put_le32(query, INBOX_REQUEST_SUB_VALUE, sub_value);
    put_le32(query, INBOX_DATA_OFFSET_FIELD, INBOX_SPECIFIC_DATA_SIZE);
    put_le32(query, INBOX_DATA_LENGTH_FIELD, length);
}

static int descriptor_valid(const uint8_t* query) {
    return get_le32(query, INBOX_DESCRIPTOR_VERSION) == INBOX_DESCRIPTOR_SIZE &&
           get_le32(query, INBOX_DESCRIPTOR_SIZE_FIELD) == INBOX_DESCRIPTOR_SIZE;
}

int inbox_identify_namespace(HANDLE handle, uint8_t* ns) {
    uint8_t query[INBOX_QUERY_SIZE];
    protocol_query(query, StorageDeviceProtocolSpecificProperty, NVMeDataTypeIdentify,
                   NVME_IDENTIFY_CNS_NAMESPACE, 1, IDENTIFY_SIZE);
    if (!device_control(handle, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, query,
                        sizeof query)) {
        printf("IOCtl: ID NS failed 0x%x!\n", last_error());
        return 0;
    }
    if (!descriptor_valid(query)) {
        printf("IOCtl: ID NS returned no namespace data!\n");
        return 0;
    }
    memcpy(ns, query + INBOX_DATA, IDENTIFY_SIZE);
    return 1;
}

int inbox_sanitize_log(HANDLE handle, uint8_t* log) {
    uint8_t query[INBOX_LOG_QUERY_SIZE];
    protocol_query(query, StorageAdapterProtocolSpecificProperty, NVMeDataTypeLogPage,
                   SANITIZE_LOG_ID, 0, SANITIZE_LOG_SIZE);
    if (!device_control(handle, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, query,
                        sizeof query)) {
        printf("IOCtl: LOG failed 0x%x!\n", last_error());
        return 0;
    }
    if (!descriptor_valid(query)) {
        printf("IOCtl: LOG returned no log data!\n");
        return 0;
    }
    memcpy(log, query + INBOX_DATA, SANITIZE_LOG_SIZE);
    return 1;
}

uint32_t inbox_sanitize_actions(uint32_t os_build) {
    if (os_build >= BUILD_REINITIALIZE_INPUT)
        return sanitize_action_bit(SANITIZE_BLOCK_ERASE) |
               sanitize_action_bit(SANITIZE_CRYPTO_ERASE);
    if (os_build >= BUILD_REINITIALIZE_MEDIA)
        return sanitize_action_bit(SANITIZE_CRYPTO_ERASE); // what the request without input runs
    return 0;
}

static int scsi_sanitize(HANDLE handle, int action, uint32_t timeout_s) {
    uint8_t envelope[ENVELOPE_SIZE];
    envelope_begin(envelope, {SCSI_SANITIZE_CDB_LENGTH, ENVELOPE_SENSE_SIZE,
                              SCSI_IOCTL_DATA_UNSPECIFIED, 0, timeout_s, ENVELOPE_SENSE_OFFSET});
    put_u8(envelope, SPT_CDB + 0, SCSI_SANITIZE_OPCODE);
    put_u8(envelope, SPT_CDB + 1,
           SCSI_SANITIZE_AUSE | (action == SANITIZE_BLOCK_ERASE ? SCSI_SANITIZE_BLOCK_ERASE
                                                                : SCSI_SANITIZE_CRYPTO_ERASE));
    return envelope_send(handle, envelope, "IOCtl: SCSI SANITIZE failed 0x%x!\n");
}

int inbox_sanitize(HANDLE handle, int action, uint32_t timeout_s, uint32_t os_build,
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
    if (device_control(handle, IOCTL_STORAGE_REINITIALIZE_MEDIA, with_input ? input : nullptr,
                       with_input ? REINIT_SIZE : 0, nullptr, 0))
        return 1;
    const uint32_t error = last_error();
    printf("IOCtl: REINITIALIZE_MEDIA failed 0x%x!\n", error);
    if (error != ERROR_INVALID_FUNCTION_CODE)
        return 0;
    if (route)
        *route = ROUTE_SCSI_SANITIZE;
    return scsi_sanitize(handle, action, timeout_s);
}
