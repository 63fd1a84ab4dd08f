// What the dialogue learns from the host: the drives, the bus of the chosen
// one, the operating-system version, whether it is Windows PE.
#pragma once

#include <cstdint>

#include "dialogue/record.h"
#include "platform/device.h"

constexpr uint32_t DESCRIPTOR_BUFFER_SIZE = 4096;
constexpr uint32_t PROPERTY_QUERY_SIZE = 12;
// STORAGE_DEVICE_DESCRIPTOR fields the tool reads.
constexpr uint32_t DESCRIPTOR_VENDOR_ID_OFFSET = 12;
constexpr uint32_t DESCRIPTOR_PRODUCT_ID_OFFSET = 16;
constexpr uint32_t DESCRIPTOR_BUS_TYPE = 28;
constexpr int LISTED_DRIVES = 99;
// SCSI_ADDRESS, the answer to the SCSI address query.
constexpr uint32_t SCSI_ADDRESS_SIZE = 8;
constexpr uint32_t SCSI_ADDRESS_PORT_NUMBER = 4;
constexpr uint32_t SCSI_ADDRESS_PATH_ID = 5;
constexpr uint32_t SCSI_ADDRESS_TARGET_ID = 6;
constexpr uint32_t SCSI_ADDRESS_LUN = 7;
// VOLUME_DISK_EXTENTS, the answer to the volume's disk extents query: a
// count, then DISK_EXTENTs of 24 bytes each.
constexpr uint32_t VOLUME_EXTENTS_COUNT = 0;
constexpr uint32_t VOLUME_EXTENTS_FIRST = 8;
constexpr uint32_t DISK_EXTENT_SIZE = 24;
constexpr uint32_t DISK_EXTENT_DISK_NUMBER = 0;
// Extents the query's buffer holds: far more than the disks one Windows
// volume can span. A volume with more fails the query (more data).
constexpr uint32_t VOLUME_EXTENTS_HELD = 256;
constexpr uint32_t WINDOWS_DIRECTORY_SIZE = 260; // MAX_PATH

extern OSVERSIONINFOEXA g_os_version;

HANDLE open_physical_drive(int number);
void list_drives();
// The bus type (STORAGE_BUS_TYPE) of the drive's device descriptor, 0 when
// the drive cannot be queried; with `vendor` and `product` given, they
// receive the descriptor's texts, made printable, when it has them.
uint8_t query_bus_type(int number, RecordText* vendor = nullptr, RecordText* product = nullptr);
void read_os_version();
// Whether the host runs Windows PE: the key WINDOWS_PE_KEY under
// HKEY_LOCAL_MACHINE exists there alone. Asked once a run, right after the OS
// version, before any device is opened; the run's record and each of its
// drives (DriveState) carry the answer.
constexpr const char* WINDOWS_PE_KEY = "SYSTEM\\CurrentControlSet\\Control\\MiniNT";
int read_windows_pe();

// Whether disk `number` holds the volume of the running system's Windows
// directory. 0 as well when that volume cannot be opened or queried (a RAM
// disk, no such volume): nothing tells then.
int holds_running_system(int number);

// The text at `offset` of a descriptor reply, never read past the reply:
// "" for offset 0 or an offset outside it; a text without a terminator inside
// the reply is cut at its end. Copies into `text` (size bytes, size >= 1).
void descriptor_text(const uint8_t* reply, uint32_t reply_size, uint32_t offset, char* text,
                     uint32_t size);
