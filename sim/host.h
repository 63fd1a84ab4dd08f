// The simulated host as described by a host file: the operating system's
// version answers, the clock's first reading and the drives with what stands
// behind each of them. Filled by the loader (host.cpp), read by the stack.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/media.h"

struct OsConfig {
    uint32_t major = 10;
    uint32_t minor = 0;
    uint32_t build = 19045;
    std::string csd;
    bool ex_fails = false; // the 156-byte record is refused, the 148-byte one answered
    bool fails = false;    // both are refused
};

// LBADS 9 and 12: 512-byte and 4 KiB formats. (A function rather than an
// initializer list: GCC 12 warns falsely on the inlined list.)
std::vector<uint8_t> default_lbads();

// How long each sanitize action runs on the simulated clock.
struct SanitizeTimes {
    uint32_t block = 6000;
    uint32_t crypto = 2000;
    uint32_t overwrite = 60000;
};

// The Sanitize Status log as the drive is found: SSTAT status 0 never, 1
// completed, 3 failed, or 2, a sanitize in progress with `remaining_ms` left.
// SCDW10 is `cdw10`: 0, the action as the tool would have sent it, or, in
// progress, a raw SANACT.
struct SanitizeState {
    uint8_t status = 0;
    uint32_t cdw10 = 0;
    uint32_t remaining_ms = 0;
};

struct ControllerConfig {
    std::string model = "Simulated NVMe";
    std::string serial = "SIM00000001";
    std::string firmware = "1.0";
    uint64_t nsze = 1953525168;                   // in blocks of the format `flbas` names
    std::vector<uint8_t> lbads = default_lbads(); // LBADS of LBAF0, LBAF1, ... (up to 64)
    std::vector<uint16_t> ms;                     // MS of LBAF0, LBAF1, ...; 0 past the list
    uint8_t flbas = 0; // raw FLBAS: the index's bits 3:0, and its bits 5:4 in bits 6:5
    int nlbaf = -1;    // -1: entries - 1
    uint32_t format_ms = 1500;
    uint16_t format_status = 0;   // (SCT << 8) | SC forced on Format NVM
    bool abort_in_format = false; // the process ends while Format NVM runs
    uint32_t sanicap = 3;         // crypto erase and block erase
    SanitizeTimes sanitize_ms;
    bool sanitize_estimates = true; // the log reports the times above, in seconds
    bool sanitize_fails = false;    // every sanitize ends with status 3
    bool sanitize_stalls = false;   // a sanitize stops at half its time, never ending
    bool abort_in_sanitize = false; // the process ends at the first log read after one began
    SanitizeState sanitize_state;
    bool sanitize_noop = false; // a Sanitize is accepted and changes nothing
    uint8_t dlfeat = 1;         // Identify Namespace byte 33
    double media_share = 1.0;   // share of units holding data at first ("data" 1, "blank" 0)
    EraseEffect erase_effect = ERASE_DEALLOCATE;
    double keep_share = 0.0;    // ERASE_KEEP_SHARE: share of units an erase leaves as they were
    bool sector_replug = false; // Windows keeps the old sector size until a re-plug
    // Namespaces and protection. NN, Identify Controller bytes 516-519: -1
    // for the number of drives that share the controller. FNA, byte 524.
    // DPS, Identify Namespace byte 29 (PI type bits 2:0, PIL bit 3).
    int64_t nn = -1;
    uint8_t fna = 0;
    uint8_t dps = 0;
    uint16_t vid = 0x1B36;    // Identify Controller bytes 0-1: the PCI vendor
    uint16_t ssvid = 0x1AF4;  // bytes 2-3: the PCI subsystem vendor
    uint32_t ieee = 0x544C56; // bytes 73-75: the maker's OUI
    // The inbox driver's protocol command in Windows PE: whether it carries
    // Sanitize, and a ReturnStatus it answers every one with (-1: none).
    bool protocol_sanitize = true;
    int64_t protocol_return_status = -1;
};

// How long a read of the disk takes on the simulated clock: the latency
// and the size over the bandwidth (1 MB = 10^6 bytes). Without one (the
// default) reads take no time.
struct ReadModel {
    bool set = false;
    uint32_t latency_us = 0;
    uint32_t mb_s = 0;
};

struct FaultConfig {
    uint32_t nth;   // 1-based count of device-control requests to the drive
    uint32_t error; // last-error code of that request
};

// What a USB bridge does besides carrying commands.
struct BridgeConfig {
    bool check_condition = true; // a command the controller fails ends its data phase so
    bool completion = true;      // the bridge answers its completion query
};

// The disk's partition table as IOCTL_DISK_GET_DRIVE_LAYOUT_EX tells it:
// PARTITION_STYLE 0 MBR, 1 GPT, 2 RAW (no table), and each partition's type:
// an MBR type in byte 0, or a GPT type GUID in its in-memory byte order.
struct PartitionTable {
    uint32_t style = 2;
    std::vector<std::vector<uint8_t>> types;
};

struct DriveConfig {
    uint32_t number = 0;
    bool has_vendor = false;
    std::string vendor;
    bool has_product = false;
    std::string product;
    uint32_t bus = 17;
    uint32_t port = 0;
    std::string path;
    uint32_t open_error = 0;
    uint32_t port_open_error = 0;
    uint32_t query_error = 0;
    uint32_t address_error = 0;
    bool system = false; // holds the volume of the Windows directory
    uint8_t path_id = 0; // the rest of the SCSI address
    uint8_t target_id = 0;
    uint8_t lun = 0;
    std::vector<FaultConfig> fail;
    std::vector<FaultConfig> read_fail; // counted over the drive's reads
    uint32_t log_error = 0; // the inbox driver: every Sanitize Status log query fails so
    ReadModel read_model;
    BridgeConfig bridge;
    ControllerConfig controller;
    PartitionTable partitions;
};

// A volume of the host file's `volumes`: one extent on each of its disks.
struct VolumeConfig {
    char letter = 0; // drive letter, upper case; 0 for none
    std::vector<uint32_t> disks;
    bool in_use = false; // its lock fails with last error 5
};

struct HostConfig {
    OsConfig os;
    uint32_t tick_start = 1000000;
    std::string windows_dir = "C:\\Windows";
    std::string system_time = "2026-01-01T00:00:00Z"; // GetSystemTime at the start
    int64_t system_seconds = 1767225600;              // the same, since 1970
    std::string computer = "SIMHOST";                 // GetComputerNameW, as UTF-8
    bool has_account = false;                         // the USERNAME variable is set
    std::string account;                              // and names it, as UTF-8
    // Windows PE: the MiniNT key exists. Without an explicit windows_dir the
    // system runs from a RAM disk at X:, whose volume has no extent on any
    // drive: `system` marks none then.
    bool winpe = false;
    bool ram_disk_system = false;
    std::vector<DriveConfig> drives;
    std::vector<VolumeConfig> volumes;
};

// The format index FLBAS names: bits 3:0, and bits 6:5 as bits 5:4.
inline uint32_t flbas_index(uint8_t flbas) {
    return (flbas & 0xFu) | ((flbas >> 5) & 0x3u) << 4;
}

// Parses and checks a host file's text. On failure returns false and sets
// `error` to "host file '<origin>': <what is wrong>" (one line). Never throws.
bool parse_host(const std::string& text, const std::string& origin, HostConfig* host,
                std::string* error);

// Whether `path` names something that can stand behind a drive, and whether
// that is a USB bridge (which decides the default bus).
bool known_drive_path(const std::string& path, bool* is_bridge);
