// Identify Controller through the inbox driver: the driver sends the command
// itself and returns the data behind its protocol data descriptor.
#include "transport/driver/inbox.h"

#include <cstdio>
#include <cstring>

#include "transport/transport.h"
#include "platform/wire.h"

int inbox_identify_controller(HANDLE handle, uint8_t* identify) {
    uint8_t query[INBOX_QUERY_SIZE];
    memset(query, 0, sizeof query);
    put_le32(query, INBOX_PROPERTY_ID, StorageAdapterProtocolSpecificProperty);
    put_le32(query, INBOX_QUERY_TYPE, PropertyStandardQuery);
    put_le32(query, INBOX_PROTOCOL_TYPE, ProtocolTypeNvme);
    put_le32(query, INBOX_DATA_TYPE, NVMeDataTypeIdentify);
    put_le32(query, INBOX_REQUEST_VALUE, NVME_IDENTIFY_CNS_CONTROLLER);
    put_le32(query, INBOX_REQUEST_SUB_VALUE, 0);
    put_le32(query, INBOX_DATA_OFFSET_FIELD, INBOX_SPECIFIC_DATA_SIZE);
    put_le32(query, INBOX_DATA_LENGTH_FIELD, IDENTIFY_SIZE);
    if (!device_control(handle, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, query,
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
