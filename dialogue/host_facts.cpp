// Drive discovery and host facts: each operation opens, queries and closes on
// its own.
#include "dialogue/host_facts.h"

#include <cstdio>
#include <cstring>

#include "platform/report.h"
#include "platform/wire.h"
#include "transport/transport.h"

OSVERSIONINFOEXA g_os_version;

HANDLE open_physical_drive(int number) {
    char path[128];
    snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", number & 0xFF);
    return open_device(path, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
}

// StorageDeviceProperty, PropertyStandardQuery: the device descriptor.
static int query_descriptor(HANDLE handle, uint8_t* reply) {
    uint8_t query[PROPERTY_QUERY_SIZE];
    memset(query, 0, sizeof query);
    put_le32(query, 0, StorageDeviceProperty);
    put_le32(query, 4, PropertyStandardQuery);
    return device_control(handle, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, reply,
                          DESCRIPTOR_BUFFER_SIZE);
}

void descriptor_text(const uint8_t* reply, uint32_t reply_size, uint32_t offset, char* text,
                     uint32_t size) {
    text[0] = 0;
    if (offset == 0 || offset >= reply_size)
        return;
    uint32_t n = 0;
    while (offset + n < reply_size && reply[offset + n] != 0 && n + 1 < size) {
        text[n] = static_cast<char>(reply[offset + n]);
        ++n;
    }
    text[n] = 0;
}

void list_drives() {
    uint8_t reply[DESCRIPTOR_BUFFER_SIZE];
    memset(reply, 0, sizeof reply);
    for (int number = 0; number < LISTED_DRIVES; ++number) {
        HANDLE handle = open_physical_drive(number);
        if (handle == INVALID_HANDLE_VALUE)
            continue;
        if (query_descriptor(handle, reply)) {
            char vendor[DESCRIPTOR_BUFFER_SIZE];
            char product[DESCRIPTOR_BUFFER_SIZE];
            descriptor_text(reply, sizeof reply, get_le32(reply, DESCRIPTOR_VENDOR_ID_OFFSET),
                            vendor, sizeof vendor);
            descriptor_text(reply, sizeof reply, get_le32(reply, DESCRIPTOR_PRODUCT_ID_OFFSET),
                            product, sizeof product);
            make_printable(vendor);
            make_printable(product);
            printf("%2u: %s%s\n", static_cast<unsigned>(number), vendor, product);
        }
        close_device(handle);
    }
}

// A descriptor text for the record: unknown when the descriptor has none.
static void keep_text(const uint8_t* reply, uint32_t offset_field, RecordText* field) {
    const uint32_t offset = get_le32(reply, offset_field);
    if (!field || offset == 0 || offset >= DESCRIPTOR_BUFFER_SIZE)
        return;
    descriptor_text(reply, DESCRIPTOR_BUFFER_SIZE, offset, field->text, sizeof field->text);
    make_printable(field->text);
    field->known = 1;
}

uint8_t query_bus_type(int number, RecordText* vendor, RecordText* product) {
    uint8_t reply[DESCRIPTOR_BUFFER_SIZE];
    memset(reply, 0, sizeof reply);
    HANDLE handle = open_physical_drive(number);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    uint8_t bus_type = 0;
    if (query_descriptor(handle, reply)) {
        bus_type = reply[DESCRIPTOR_BUS_TYPE];
        keep_text(reply, DESCRIPTOR_VENDOR_ID_OFFSET, vendor);
        keep_text(reply, DESCRIPTOR_PRODUCT_ID_OFFSET, product);
    }
    close_device(handle);
    return bus_type;
}

void read_os_version() {
    memset(&g_os_version, 0, sizeof g_os_version);
    g_os_version.dwOSVersionInfoSize = OS_VERSION_EX_SIZE;
    if (!os_version(&g_os_version)) {
        g_os_version.dwOSVersionInfoSize = OS_VERSION_SIZE;
        os_version(&g_os_version);
    }
}

int read_windows_pe() {
    return machine_key_exists(WINDOWS_PE_KEY);
}

int holds_running_system(int number) {
    char directory[WINDOWS_DIRECTORY_SIZE];
    memset(directory, 0, sizeof directory);
    const uint32_t length = windows_directory(directory, sizeof directory);
    const char letter = directory[0];
    if (length < 2 || directory[1] != ':' ||
        !((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')))
        return 0;
    char volume[8];
    snprintf(volume, sizeof volume, "\\\\.\\%c:", letter);
    HANDLE handle = open_volume(volume);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;

    uint8_t extents[VOLUME_EXTENTS_FIRST + VOLUME_EXTENTS_HELD * DISK_EXTENT_SIZE];
    memset(extents, 0, sizeof extents);
    int holds = 0;
    if (device_control(handle, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents,
                       sizeof extents)) {
        const uint32_t count = get_le32(extents, VOLUME_EXTENTS_COUNT);
        for (uint32_t i = 0; i < count && i < VOLUME_EXTENTS_HELD; ++i) {
            const uint32_t disk = get_le32(extents, VOLUME_EXTENTS_FIRST + i * DISK_EXTENT_SIZE +
                                                        DISK_EXTENT_DISK_NUMBER);
            if (disk == static_cast<uint32_t>(number))
                holds = 1;
        }
    }
    close_device(handle);
    return holds;
}
