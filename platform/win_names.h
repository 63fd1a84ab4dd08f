// The Win32 names the tool uses, with their published values, for hosts
// without the Windows SDK. The Windows build takes them from the SDK instead
// and checks the wire layouts against it (checks/win_layouts.cpp).
#pragma once

#include <cstdint>

typedef void* HANDLE;
typedef uint32_t DWORD;
typedef uint16_t WORD;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define ERROR_SEM_TIMEOUT 121u

#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400u
#define IOCTL_SCSI_GET_ADDRESS 0x00041018u
#define IOCTL_SCSI_MINIPORT 0x0004D008u
#define IOCTL_SCSI_PASS_THROUGH 0x0004D004u
#define IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS 0x00560000u
#define IOCTL_STORAGE_REINITIALIZE_MEDIA 0x002D9640u
#define IOCTL_STORAGE_PROTOCOL_COMMAND 0x002DD3C0u
#define FSCTL_LOCK_VOLUME 0x00090018u
#define FSCTL_DISMOUNT_VOLUME 0x00090020u
#define IOCTL_DISK_UPDATE_DRIVE_SIZE 0x0007C0C8u
#define IOCTL_DISK_UPDATE_PROPERTIES 0x00070140u
#define IOCTL_DISK_GET_DRIVE_GEOMETRY_EX 0x000700A0u
#define IOCTL_DISK_GET_DRIVE_LAYOUT_EX 0x00070050u

#define SCSI_IOCTL_DATA_OUT 0
#define SCSI_IOCTL_DATA_IN 1
#define SCSI_IOCTL_DATA_UNSPECIFIED 2

// STORAGE_PROPERTY_ID, STORAGE_QUERY_TYPE, STORAGE_BUS_TYPE and the NVMe
// protocol enumerators, as far as the tool uses them.
enum {
    StorageDeviceProperty = 0,
    StorageAdapterProtocolSpecificProperty = 49,
    StorageDeviceProtocolSpecificProperty = 50
};
enum { PropertyStandardQuery = 0 };
enum { BusTypeUsb = 7, BusTypeNvme = 17 };
enum { ProtocolTypeNvme = 3 };
enum { NVMeDataTypeIdentify = 1, NVMeDataTypeLogPage = 2 };
// PARTITION_STYLE.
enum { PARTITION_STYLE_MBR = 0, PARTITION_STYLE_GPT = 1, PARTITION_STYLE_RAW = 2 };

// OSVERSIONINFOEXA: 156 bytes; its first 148 are OSVERSIONINFOA.
struct OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
    uint16_t wServicePackMajor;
    uint16_t wServicePackMinor;
    uint16_t wSuiteMask;
    uint8_t wProductType;
    uint8_t wReserved;
};
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA is 156 bytes");

// SYSTEMTIME: the time GetSystemTime fills, in UTC.
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
