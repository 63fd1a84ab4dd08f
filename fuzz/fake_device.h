// An allocation-free device layer for the fuzz targets and the heap test:
// implements platform/device.h with replies taken from caller-owned bytes,
// and keeps count of handles so leaks and double closes show.
#pragma once

#include <cstdint>

struct FakeReplies {
    const uint8_t* descriptor; // storage device descriptor reply
    uint32_t descriptor_size;
    const uint8_t* controller; // Identify Controller data (also the inbox query's)
    uint32_t controller_size;
    const uint8_t* ns; // Identify Namespace data
    uint32_t ns_size;
    uint8_t address[8];         // SCSI_ADDRESS reply
    uint32_t completion_dword3; // OFA completion entry, dword 3
    uint8_t scsi_status;        // ScsiStatus of every pass-through reply
    uint32_t drives;            // \\.\PhysicalDriveN answers for N < drives
    int fail_request;           // 0-based request that fails; -1 for none
    int fail_open;              // 0-based open that fails; -1 for none
    int os_fails;               // 0: answers, 1: the long record refused, 2: both
    int console;                // standard input is a console: the key wait runs
    int system_disk;            // the disk of the system volume; -1: the query fails
    uint32_t volumes;           // volumes enumerated, each with one extent on system_disk
    uint32_t sector_size;       // what the geometry query reports (0: 512)
    int readable;               // reads return content that each format changes; 0: they fail
};

// Installs the replies (the bytes must outlive the run) and forgets every
// handle and count.
void fake_device_reset(const FakeReplies& replies);

// Handles still open, volume searches included.
int fake_open_handles();
int fake_bad_closes();
uint32_t fake_requests();
// Format NVM commands that reached the fake controller.
uint32_t fake_formats();
