// Compile-time proof that the wire layouts the tool writes by offset match
// the Windows SDK's own structures and constants, in the 32-bit and in the
// 64-bit program alike: each build compiles this file against its own
// MinGW-w64 headers. SCSI_PASS_THROUGH is the one structure whose layout
// differs between them (its DataBufferOffset is pointer-sized); every other
// one is checked against the same offsets and sizes in both. Nothing here
// runs and nothing includes this file: it stands above every layer whose
// layouts it checks, and is compiled into the Windows program alone; a
// mismatch stops the build.
#include <cstddef>

#include "dialogue/host_facts.h"
#include "dialogue/scope.h"
#include "dialogue/verify.h"
#include "dialogue/volumes.h"
#include "platform/device.h"
#include "transport/driver/inbox.h"
#include "transport/driver/inbox_protocol.h"
#include "transport/driver/ofa.h"
#include "transport/usb/scsi_envelope.h"

#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(void*) == 4 && ENVELOPE_HEADER_SIZE == 44, "the 32-bit layout");
#elif defined(_M_X64) || defined(__x86_64__)
static_assert(sizeof(void*) == 8 && ENVELOPE_HEADER_SIZE == 56, "the 64-bit layout");
#else
#error "veltrane is built for x86 and x86-64 Windows only"
#endif

#define LAYOUT(type, field, offset)                                                                \
    static_assert(offsetof(type, field) == (offset), #type "." #field " is at " #offset)

// SCSI pass-through envelope: header, then sense area, then data area.
static_assert(sizeof(SCSI_PASS_THROUGH) == ENVELOPE_HEADER_SIZE, "SCSI_PASS_THROUGH size");
LAYOUT(SCSI_PASS_THROUGH, Length, SPT_LENGTH);
LAYOUT(SCSI_PASS_THROUGH, ScsiStatus, SPT_SCSI_STATUS);
LAYOUT(SCSI_PASS_THROUGH, PathId, SPT_PATH_ID);
LAYOUT(SCSI_PASS_THROUGH, TargetId, SPT_TARGET_ID);
LAYOUT(SCSI_PASS_THROUGH, Lun, SPT_LUN);
LAYOUT(SCSI_PASS_THROUGH, CdbLength, SPT_CDB_LENGTH);
LAYOUT(SCSI_PASS_THROUGH, SenseInfoLength, SPT_SENSE_INFO_LENGTH);
LAYOUT(SCSI_PASS_THROUGH, DataIn, SPT_DATA_IN);
LAYOUT(SCSI_PASS_THROUGH, DataTransferLength, SPT_DATA_TRANSFER_LENGTH);
LAYOUT(SCSI_PASS_THROUGH, TimeOutValue, SPT_TIMEOUT_VALUE);
LAYOUT(SCSI_PASS_THROUGH, DataBufferOffset, SPT_DATA_BUFFER_OFFSET);
static_assert(sizeof(((SCSI_PASS_THROUGH*)0)->DataBufferOffset) == SPT_DATA_BUFFER_OFFSET_SIZE,
              "SCSI_PASS_THROUGH.DataBufferOffset size");
LAYOUT(SCSI_PASS_THROUGH, SenseInfoOffset, SPT_SENSE_INFO_OFFSET);
LAYOUT(SCSI_PASS_THROUGH, Cdb, SPT_CDB);
static_assert(sizeof(((SCSI_PASS_THROUGH*)0)->Cdb) == SPT_CDB_SIZE, "SCSI_PASS_THROUGH.Cdb size");
static_assert(ENVELOPE_SENSE_OFFSET == sizeof(SCSI_PASS_THROUGH), "sense follows the header");
static_assert(ENVELOPE_DATA_OFFSET == ENVELOPE_SENSE_OFFSET + ENVELOPE_SENSE_SIZE,
              "data follows the sense area");

// OFA miniport request header (the NVMe pass-through body follows it).
static_assert(sizeof(SRB_IO_CONTROL) == SRB_IO_CONTROL_SIZE, "SRB_IO_CONTROL size");
LAYOUT(SRB_IO_CONTROL, HeaderLength, SRB_HEADER_LENGTH);
LAYOUT(SRB_IO_CONTROL, Signature, SRB_SIGNATURE);
LAYOUT(SRB_IO_CONTROL, Timeout, SRB_TIMEOUT);
LAYOUT(SRB_IO_CONTROL, ControlCode, SRB_CONTROL_CODE);
LAYOUT(SRB_IO_CONTROL, ReturnCode, SRB_RETURN_CODE);
LAYOUT(SRB_IO_CONTROL, Length, SRB_LENGTH);
static_assert(sizeof(((SRB_IO_CONTROL*)0)->Signature) == sizeof(NVME_SIG_STR) - 1,
              "SRB_IO_CONTROL.Signature holds \"NvmeMini\" without its terminator");

// Storage property queries: the device descriptor and the inbox driver's
// NVMe identify query.
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == PROPERTY_QUERY_SIZE, "STORAGE_PROPERTY_QUERY size");
LAYOUT(STORAGE_PROPERTY_QUERY, PropertyId, INBOX_PROPERTY_ID);
LAYOUT(STORAGE_PROPERTY_QUERY, QueryType, INBOX_QUERY_TYPE);
LAYOUT(STORAGE_PROPERTY_QUERY, AdditionalParameters, INBOX_SPECIFIC_DATA);

// The protocol-specific block sits in AdditionalParameters, at offset 8.
#define PROTOCOL_LAYOUT(field, offset)                                                             \
    LAYOUT(STORAGE_PROTOCOL_SPECIFIC_DATA, field, (offset)-INBOX_SPECIFIC_DATA)
static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == INBOX_SPECIFIC_DATA_SIZE,
              "STORAGE_PROTOCOL_SPECIFIC_DATA size");
PROTOCOL_LAYOUT(ProtocolType, INBOX_PROTOCOL_TYPE);
PROTOCOL_LAYOUT(DataType, INBOX_DATA_TYPE);
PROTOCOL_LAYOUT(ProtocolDataRequestValue, INBOX_REQUEST_VALUE);
PROTOCOL_LAYOUT(ProtocolDataRequestSubValue, INBOX_REQUEST_SUB_VALUE);
PROTOCOL_LAYOUT(ProtocolDataOffset, INBOX_DATA_OFFSET_FIELD);
PROTOCOL_LAYOUT(ProtocolDataLength, INBOX_DATA_LENGTH_FIELD);
static_assert(NVMeDataTypeIdentify == 1 && NVME_IDENTIFY_CNS_CONTROLLER == 1, "identify request");

// The reply's descriptor: Version and Size are both its size when the data
// that follow it are valid.
static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == INBOX_DESCRIPTOR_SIZE,
              "STORAGE_PROTOCOL_DATA_DESCRIPTOR size");
LAYOUT(STORAGE_PROTOCOL_DATA_DESCRIPTOR, Version, INBOX_DESCRIPTOR_VERSION);
LAYOUT(STORAGE_PROTOCOL_DATA_DESCRIPTOR, Size, INBOX_DESCRIPTOR_SIZE_FIELD);
LAYOUT(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData, INBOX_SPECIFIC_DATA);
static_assert(INBOX_LOG_QUERY_SIZE == sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) + 512,
              "the log query holds the descriptor and the 512-byte log");
// STORAGE_REINITIALIZE_MEDIA has no SDK definition in MinGW-w64: its 16
// bytes are written by offset (Version, Size, TimeoutInSeconds, options).
static_assert(REINIT_SIZE == 4 * sizeof(ULONG), "STORAGE_REINITIALIZE_MEDIA is four ULONGs");

LAYOUT(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset, DESCRIPTOR_VENDOR_ID_OFFSET);
LAYOUT(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset, DESCRIPTOR_PRODUCT_ID_OFFSET);
LAYOUT(STORAGE_DEVICE_DESCRIPTOR, BusType, DESCRIPTOR_BUS_TYPE);

static_assert(sizeof(SCSI_ADDRESS) == SCSI_ADDRESS_SIZE, "SCSI_ADDRESS size");
LAYOUT(SCSI_ADDRESS, PortNumber, SCSI_ADDRESS_PORT_NUMBER);
LAYOUT(SCSI_ADDRESS, PathId, SCSI_ADDRESS_PATH_ID);
LAYOUT(SCSI_ADDRESS, TargetId, SCSI_ADDRESS_TARGET_ID);
LAYOUT(SCSI_ADDRESS, Lun, SCSI_ADDRESS_LUN);

// The disks of a volume: a count, then the extents.
LAYOUT(VOLUME_DISK_EXTENTS, NumberOfDiskExtents, VOLUME_EXTENTS_COUNT);
LAYOUT(VOLUME_DISK_EXTENTS, Extents, VOLUME_EXTENTS_FIRST);
static_assert(sizeof(VOLUME_DISK_EXTENTS) == VOLUME_EXTENTS_FIRST + DISK_EXTENT_SIZE,
              "VOLUME_DISK_EXTENTS size");
static_assert(sizeof(DISK_EXTENT) == DISK_EXTENT_SIZE, "DISK_EXTENT size");
LAYOUT(DISK_EXTENT, DiskNumber, DISK_EXTENT_DISK_NUMBER);
static_assert(WINDOWS_DIRECTORY_SIZE == MAX_PATH, "MAX_PATH");
static_assert(VOLUME_NAME_SIZE == MAX_PATH, "MAX_PATH");

// The disk's geometry as Windows sees it, after a size refresh.
static_assert(sizeof(DISK_GEOMETRY) == DISK_GEOMETRY_SIZE, "DISK_GEOMETRY size");
LAYOUT(DISK_GEOMETRY, BytesPerSector, DISK_GEOMETRY_BYTES_PER_SECTOR);
LAYOUT(DISK_GEOMETRY_EX, Geometry, 0);
LAYOUT(DISK_GEOMETRY_EX, DiskSize, DISK_GEOMETRY_EX_DISK_SIZE);
static_assert(sizeof(DISK_GEOMETRY_EX) <= GEOMETRY_BUFFER_SIZE, "DISK_GEOMETRY_EX fits");

// A disk's partition layout: the header, then the entries; the MBR type
// byte and the GPT type GUID share one offset in each entry.
LAYOUT(DRIVE_LAYOUT_INFORMATION_EX, PartitionStyle, LAYOUT_STYLE);
LAYOUT(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount, LAYOUT_COUNT);
LAYOUT(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry, LAYOUT_ENTRIES);
static_assert(sizeof(PARTITION_INFORMATION_EX) == LAYOUT_ENTRY_SIZE,
              "PARTITION_INFORMATION_EX size");
LAYOUT(PARTITION_INFORMATION_EX, PartitionStyle, LAYOUT_ENTRY_STYLE);
LAYOUT(PARTITION_INFORMATION_EX, Mbr.PartitionType, LAYOUT_ENTRY_TYPE);
LAYOUT(PARTITION_INFORMATION_EX, Gpt.PartitionType, LAYOUT_ENTRY_TYPE);
static_assert(LAYOUT_BUFFER_SIZE == 18480, "the layout buffer holds 128 entries");
static_assert(PARTITION_STYLE_MBR == 0 && PARTITION_STYLE_GPT == 1 && PARTITION_STYLE_RAW == 2,
              "PARTITION_STYLE");
static_assert(IOCTL_DISK_GET_DRIVE_LAYOUT_EX == 0x00070050, "IOCTL_DISK_GET_DRIVE_LAYOUT_EX");

// STORAGE_PROTOCOL_COMMAND has no SDK definition in MinGW-w64 (only its
// control code): its fields are ULONGs written by offset, and the command
// that follows it must start pointer-aligned.
static_assert(PROTOCOL_COMMAND % alignof(void*) == 0, "the command is pointer-aligned");
static_assert(PROTOCOL_REQUEST_SIZE % alignof(void*) == 0, "the request ends pointer-aligned");

// Version records, tried largest first.
static_assert(sizeof(OSVERSIONINFOEXA) == OS_VERSION_EX_SIZE, "OSVERSIONINFOEXA size");
static_assert(sizeof(OSVERSIONINFOA) == OS_VERSION_SIZE, "OSVERSIONINFOA size");
LAYOUT(OSVERSIONINFOEXA, dwMajorVersion, 4);
LAYOUT(OSVERSIONINFOEXA, dwMinorVersion, 8);
LAYOUT(OSVERSIONINFOEXA, dwBuildNumber, 12);
LAYOUT(OSVERSIONINFOEXA, szCSDVersion, 20);

// Control codes.
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == 0x002D1400, "IOCTL_STORAGE_QUERY_PROPERTY");
static_assert(IOCTL_SCSI_GET_ADDRESS == 0x00041018, "IOCTL_SCSI_GET_ADDRESS");
static_assert(IOCTL_SCSI_MINIPORT == 0x0004D008, "IOCTL_SCSI_MINIPORT");
static_assert(IOCTL_SCSI_PASS_THROUGH == 0x0004D004, "IOCTL_SCSI_PASS_THROUGH");
static_assert(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS == 0x00560000,
              "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS");
static_assert(IOCTL_STORAGE_REINITIALIZE_MEDIA == 0x002D9640, "IOCTL_STORAGE_REINITIALIZE_MEDIA");
static_assert(IOCTL_STORAGE_PROTOCOL_COMMAND == 0x002DD3C0, "IOCTL_STORAGE_PROTOCOL_COMMAND");
static_assert(FSCTL_LOCK_VOLUME == 0x00090018, "FSCTL_LOCK_VOLUME");
static_assert(FSCTL_DISMOUNT_VOLUME == 0x00090020, "FSCTL_DISMOUNT_VOLUME");
static_assert(IOCTL_DISK_UPDATE_DRIVE_SIZE == 0x0007C0C8, "IOCTL_DISK_UPDATE_DRIVE_SIZE");
static_assert(IOCTL_DISK_UPDATE_PROPERTIES == 0x00070140, "IOCTL_DISK_UPDATE_PROPERTIES");
static_assert(IOCTL_DISK_GET_DRIVE_GEOMETRY_EX == 0x000700A0, "IOCTL_DISK_GET_DRIVE_GEOMETRY_EX");

// Enumerators and flags.
static_assert(StorageDeviceProperty == 0, "StorageDeviceProperty");
static_assert(PropertyStandardQuery == 0, "PropertyStandardQuery");
static_assert(StorageAdapterProtocolSpecificProperty == 49,
              "StorageAdapterProtocolSpecificProperty");
static_assert(ProtocolTypeNvme == 3, "ProtocolTypeNvme");
static_assert(NVMeDataTypeIdentify == 1, "NVMeDataTypeIdentify");
static_assert(NVMeDataTypeLogPage == 2, "NVMeDataTypeLogPage");
static_assert(StorageDeviceProtocolSpecificProperty == 50, "StorageDeviceProtocolSpecificProperty");
static_assert(BusTypeUsb == 7, "BusTypeUsb");
static_assert(BusTypeNvme == 17, "BusTypeNvme");
static_assert(SCSI_IOCTL_DATA_OUT == 0, "SCSI_IOCTL_DATA_OUT");
static_assert(SCSI_IOCTL_DATA_IN == 1, "SCSI_IOCTL_DATA_IN");
static_assert(SCSI_IOCTL_DATA_UNSPECIFIED == 2, "SCSI_IOCTL_DATA_UNSPECIFIED");
static_assert((GENERIC_READ | GENERIC_WRITE) == 0xC0000000u, "GENERIC_READ | GENERIC_WRITE");
static_assert((FILE_SHARE_READ | FILE_SHARE_WRITE) == 3, "FILE_SHARE_READ | FILE_SHARE_WRITE");
static_assert(OPEN_EXISTING == 3, "OPEN_EXISTING");
static_assert(FILE_ATTRIBUTE_NORMAL == 0x80, "FILE_ATTRIBUTE_NORMAL");
static_assert(ERROR_SEM_TIMEOUT == 121, "ERROR_SEM_TIMEOUT");
static_assert(ERROR_INVALID_FUNCTION == 1, "ERROR_INVALID_FUNCTION");
