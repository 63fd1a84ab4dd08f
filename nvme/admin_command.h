// The NVMe admin command descriptor every transport accepts, the direction
// codes that go with it, and the commands the tool sends. Encoding only: the
// path layer (transport/transport.h) sends them.
#pragma once

#include <cstdint>

#include "platform/device.h"

// Eight little-endian words: cdw0 (opcode in the low byte), nsid, cdw10..cdw15.
struct AdminCommand {
    uint32_t cdw0;
    uint32_t nsid;
    uint32_t cdw10;
    uint32_t cdw11;
    uint32_t cdw12;
    uint32_t cdw13;
    uint32_t cdw14;
    uint32_t cdw15;
};
static_assert(sizeof(AdminCommand) == 32, "AdminCommand is 32 bytes");

enum DataDirection { DIR_NONE = 1, DIR_FROM_DEVICE = 2, DIR_TO_DEVICE = 3 };

constexpr uint32_t MAX_TRANSFER = 65536;
constexpr uint32_t IDENTIFY_SIZE = 4096;
constexpr uint32_t SUBMISSION_ENTRY_SIZE = 64;

constexpr uint8_t NVME_OPC_IDENTIFY = 0x06;
constexpr uint8_t NVME_OPC_FORMAT_NVM = 0x80;

AdminCommand identify_controller_command();
AdminCommand identify_namespace_command();
// A format's end-to-end protection settings: PI, the protection
// information type (CDW10 bits 7:5); PIL, its place in the metadata (bit 8);
// MSET, metadata at the end of each block rather than apart (bit 4). Each
// is masked to its field.
struct FormatProtection {
    uint32_t pi;
    uint32_t pil;
    uint32_t mset;
};
// A format without protection information or inline metadata.
constexpr FormatProtection NO_PROTECTION = {0, 0, 0};
AdminCommand format_command(int lbaf, int ses, const FormatProtection& protection);
uint32_t format_cdw10(int lbaf, int ses, const FormatProtection& protection);

// The 64-byte submission entry: word 0 -> dword 0, word 1 -> dword 1,
// words 2..7 -> dwords 10..15, everything else zero.
void build_submission_entry(const AdminCommand* command, uint8_t* entry);

// Prints "Max Size exceed(%u>%u)!\n" and returns 0 for a length above
// MAX_TRANSFER; 1 otherwise.
int check_transfer_length(uint32_t length);
