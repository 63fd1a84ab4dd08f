// Identify Controller through the inbox driver: the driver sends the command
// itself and returns the data behind its protocol data descriptor.
#include "transport/driver/inbox.h"

#include <cstdio>
#include <cstring>

#include "transport/transport.h"
#include "platform/wire.h"

void inbox_protocol_query(uint8_t* query, uint32_t property, uint32_t data_type, uint32_t value,
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

int inbox_identify_controller(DriveState* drive, uint8_t* identify) {
    uint8_t query[INBOX_QUERY_SIZE];
    inbox_protocol_query(query, StorageAdapterProtocolSpecificProperty, NVMeDataTypeIdentify,
                         NVME_IDENTIFY_CNS_CONTROLLER, 0, IDENTIFY_SIZE);
    if (!device_control(drive->disk, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, query,
                        sizeof query)) {
        printf("IOCtl: ID failed 0x%x!\n", last_error());
        return 0;
    }
    uint32_t sum = 0;
    for (uint32_t i = 0; i < IDENTIFY_SIZE; ++i)
        sum += query[INBOX_DATA + i];
    if (sum == 0)
        return 0;
    memcpy(identify, query + INBOX_DATA, IDENTIFY_SIZE);
    return 1;
}
