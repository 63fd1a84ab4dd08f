// The erase's scope: which disks an erase reaches besides the chosen one
// (the other namespaces of its controller, each a disk of its own through
// the OFA and inbox drivers), what it says about them, and the guards every
// reached disk passes before anything is sent: not the running system's,
// not a member of a storage pool or a dynamic volume.
#pragma once

#include <cstdint>

#include "dialogue/run.h"
#include "nvme/admin_command.h"

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX's answer, DRIVE_LAYOUT_INFORMATION_EX: the
// style and the count, 40 bytes of the style's own data, then the
// PARTITION_INFORMATION_EX entries, each with its own style and, at one
// offset, the MBR partition type byte or the GPT partition type GUID (in its
// in-memory byte order).
constexpr uint32_t LAYOUT_STYLE = 0;
constexpr uint32_t LAYOUT_COUNT = 4;
constexpr uint32_t LAYOUT_ENTRIES = 48;
constexpr uint32_t LAYOUT_ENTRY_SIZE = 144;
constexpr uint32_t LAYOUT_ENTRY_STYLE = 0;
constexpr uint32_t LAYOUT_ENTRY_TYPE = 32;
// Entries the answer's buffer holds: every partition a GPT disk can have.
constexpr uint32_t LAYOUT_ENTRIES_HELD = 128;
constexpr uint32_t LAYOUT_BUFFER_SIZE = LAYOUT_ENTRIES + LAYOUT_ENTRIES_HELD * LAYOUT_ENTRY_SIZE;

// Drive numbers searched for disks that share the chosen drive's
// controller: every number the dialogue can be given.
constexpr uint32_t SCOPE_DRIVES = 100;

// The erase about to be sent, as far as its reach goes.
struct EraseKind {
    int sanitize; // Sanitize: every namespace of the controller
    int followed; // a sanitize found in progress: nothing is sent or refused
    int ses;      // Format NVM's Secure Erase Setting
    // Format NVM: the PI type the chosen format turns off, 0 for none.
    uint32_t protection_lost;
};

EraseKind sanitize_erase(int followed);

// The protection settings a format of namespace data `ns` to format
// `chosen` carries: the namespace's own when that format has at least 8
// bytes of metadata per block (room for the protection information), else
// none. Returns the PI type that is turned off, 0 when none is.
uint32_t format_protection(const uint8_t* ns, uint32_t chosen, FormatProtection* protection);

// Whether a partition layout (an IOCTL_DISK_GET_DRIVE_LAYOUT_EX answer of
// `size` bytes) holds a partition of a storage pool or of a dynamic disk.
int pooled_layout(const uint8_t* layout, uint32_t size);

// Right after the line that names the erase, before the confirmation: finds
// the disks that share the chosen drive's controller when the erase reaches
// every namespace, prints the "Also erased" lines or the "Scope" line and
// the "Protection" line, fills the record's NN and reach, and (unless a
// followed sanitize) guards the chosen disk's layout and each other reached
// disk's system volume and layout. 0 to go on; EXIT_REFUSED after the
// refusal's line.
int settle_scope(RunResources& run, const uint8_t* identify, const EraseKind& erase);
