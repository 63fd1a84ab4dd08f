// The erase's scope: the disks that share the chosen drive's controller,
// the lines that name what the erase reaches, and the guards of every
// reached disk.
#include "dialogue/scope.h"

#include <cstring>

#include "dialogue/dialogue.h"
#include "dialogue/host_facts.h"
#include "nvme/identify.h"
#include "platform/report.h"
#include "platform/wire.h"
#include "transport/transport.h"

// Protection information takes the first or the last 8 bytes of a block's
// metadata: a format with less metadata cannot keep it.
constexpr uint32_t PROTECTION_INFO_SIZE = 8;

// Partitions whose data live on a virtual disk made of several disks: GPT
// types of a Storage Spaces member and of a dynamic disk's (LDM) metadata
// and data, in their in-memory byte order; the MBR type of a dynamic disk.
static const uint8_t POOLED_GPT_TYPES[3][16] = {
    // E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D
    {0x8F, 0xAF, 0x5C, 0xE7, 0x80, 0xF6, 0xEE, 0x4C, 0xAF, 0xA3, 0xB0, 0x01, 0xE5, 0x6E, 0xFC,
     0x2D},
    // 5808C8AA-7E8F-42E0-85D2-E1E90434CFB3
    {0xAA, 0xC8, 0x08, 0x58, 0x8F, 0x7E, 0xE0, 0x42, 0x85, 0xD2, 0xE1, 0xE9, 0x04, 0x34, 0xCF,
     0xB3},
    // AF9B60A0-1431-4F62-BC68-3311714A69AD
    {0xA0, 0x60, 0x9B, 0xAF, 0x31, 0x14, 0x62, 0x4F, 0xBC, 0x68, 0x33, 0x11, 0x71, 0x4A, 0x69,
     0xAD},
};
constexpr uint8_t MBR_TYPE_DYNAMIC = 0x42;

// A disk the erase reaches and the namespace it is.
struct ReachedDisk {
    uint32_t number;
    uint32_t namespace_id;
};

// Besides the chosen one: the record holds every reached disk.
constexpr uint32_t OTHERS_HELD = RECORD_REACH_HELD - 1;

EraseKind sanitize_erase(int followed) {
    EraseKind erase;
    erase.sanitize = 1;
    erase.followed = followed;
    erase.ses = 0;
    erase.protection_lost = 0;
    return erase;
}

uint32_t format_protection(const uint8_t* ns, uint32_t chosen, FormatProtection* protection) {
    const uint32_t type = protection_type(ns);
    if (lba_metadata_size(ns, chosen) >= PROTECTION_INFO_SIZE) {
        protection->pi = type;
        protection->pil = type ? protection_first(ns) : 0;
        protection->mset = metadata_inline(ns);
        return 0;
    }
    *protection = NO_PROTECTION;
    return type;
}

int pooled_layout(const uint8_t* layout, uint32_t size) {
    const uint32_t count = get_le32(layout, LAYOUT_COUNT);
    for (uint32_t i = 0; i < count && LAYOUT_ENTRIES + (i + 1) * LAYOUT_ENTRY_SIZE <= size; ++i) {
        const uint8_t* entry = layout + LAYOUT_ENTRIES + i * LAYOUT_ENTRY_SIZE;
        const uint32_t style = get_le32(entry, LAYOUT_ENTRY_STYLE);
        if (style == PARTITION_STYLE_MBR && entry[LAYOUT_ENTRY_TYPE] == MBR_TYPE_DYNAMIC)
            return 1;
        if (style != PARTITION_STYLE_GPT)
            continue;
        for (const uint8_t* type : POOLED_GPT_TYPES)
            if (memcmp(entry + LAYOUT_ENTRY_TYPE, type, sizeof POOLED_GPT_TYPES[0]) == 0)
                return 1;
    }
    return 0;
}

// The drives other than `chosen` at the same SCSI port, PathId and TargetId
// as `address`, in drive-number order, with their namespaces (Lun + 1). Each
// is opened with sharing, asked its address and closed, nothing more; one
// that cannot be opened or asked is not counted.
static uint32_t sharing_disks(uint32_t chosen, const uint8_t* address, ReachedDisk* others) {
    uint32_t count = 0;
    for (uint32_t number = 0; number < SCOPE_DRIVES && count < OTHERS_HELD; ++number) {
        if (number == chosen)
            continue;
        HANDLE handle = open_physical_drive(static_cast<int>(number));
        if (handle == INVALID_HANDLE_VALUE)
            continue;
        uint8_t other[SCSI_ADDRESS_SIZE];
        memset(other, 0, sizeof other);
        const int asked =
            device_control(handle, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, other, sizeof other);
        close_device(handle);
        if (asked && other[SCSI_ADDRESS_PORT_NUMBER] == address[SCSI_ADDRESS_PORT_NUMBER] &&
            other[SCSI_ADDRESS_PATH_ID] == address[SCSI_ADDRESS_PATH_ID] &&
            other[SCSI_ADDRESS_TARGET_ID] == address[SCSI_ADDRESS_TARGET_ID])
            others[count++] = ReachedDisk{number, other[SCSI_ADDRESS_LUN] + 1u};
    }
    return count;
}

// The layout guard on an open disk: 1 after the refusal's line. A layout
// that cannot be read tells so on the console and refuses nothing.
static int layout_refused(HANDLE disk, uint32_t number, LogBlock* log) {
    uint8_t layout[LAYOUT_BUFFER_SIZE];
    memset(layout, 0, sizeof layout);
    if (!device_control(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, layout, sizeof layout)) {
        printf("IOCtl: drive %u layout failed 0x%x!\n", number, last_error());
        return 0;
    }
    if (!pooled_layout(layout, sizeof layout))
        return 0;
    report(log,
           "Error: drive %u belongs to a storage pool or a dynamic volume: remove it there "
           "first\n",
           number);
    return 1;
}

// The guards of a reached disk other than the chosen one, on a handle of
// its own.
static int other_disk_refused(uint32_t number, LogBlock* log) {
    if (holds_running_system(static_cast<int>(number))) {
        report(log, "Error: drive %u holds the running system\n", number);
        return 1;
    }
    HANDLE disk = open_physical_drive(static_cast<int>(number));
    if (disk == INVALID_HANDLE_VALUE) {
        printf("IOCtl: drive %u layout failed 0x%x!\n", number, last_error());
        return 0;
    }
    const int refused = layout_refused(disk, number, log);
    close_device(disk);
    return refused;
}

// The record's reach: the chosen disk among the others, in drive-number
// order.
static void record_reached(EraseRecord* record, ReachedDisk chosen, const ReachedDisk* others,
                           uint32_t count) {
    record->reach_count = 0;
    int placed = 0;
    for (uint32_t i = 0; i <= count; ++i) {
        if (!placed && (i == count || others[i].number > chosen.number)) {
            record_reach(record, chosen.number, chosen.namespace_id);
            placed = 1;
        }
        if (i < count)
            record_reach(record, others[i].number, others[i].namespace_id);
    }
}

int settle_scope(RunResources& run, const uint8_t* identify, const EraseKind& erase) {
    const uint32_t nn = controller_namespaces(identify);
    const uint32_t fna = format_attributes(identify);
    set_number(&run.record.nn, nn);
    const int every = erase.sanitize || (fna & FNA_FORMAT_ALL) ||
                      ((fna & FNA_ERASE_ALL) && (erase.ses == 1 || erase.ses == 2));
    // Through the drivers each namespace of a controller is a disk of its
    // own, at its Lun; behind a bridge the disk is namespace 1, and the only
    // disk of its controller.
    const int driver =
        run.drive.transport == TRANSPORT_OFA || run.drive.transport == TRANSPORT_INBOX;
    const ReachedDisk chosen = {static_cast<uint32_t>(run.drive.number),
                                driver ? run.address[SCSI_ADDRESS_LUN] + 1u : 1u};
    ReachedDisk others[OTHERS_HELD];
    const uint32_t count = every && driver ? sharing_disks(chosen.number, run.address, others) : 0;

    if (every) {
        for (uint32_t i = 0; i < count; ++i)
            report(run.log, "Also erased: drive %u (namespace %u)\n", others[i].number,
                   others[i].namespace_id);
        if (nn > count + 1)
            report(run.log, "Also erased: any other namespace of the drive (it supports %u)\n", nn);
    } else if (nn > 1) {
        report(run.log, "Scope   : namespace 1 of %u; the others keep their data\n", nn);
    }
    if (erase.protection_lost)
        report(run.log,
               "Protection: type %u protection information is turned off: the new format has no "
               "metadata\n",
               erase.protection_lost);
    record_reached(&run.record, chosen, others, count);
    if (erase.followed)
        return 0; // the sanitize runs already: refusing would stop nothing

    if (layout_refused(run.drive.disk, chosen.number, run.log))
        return EXIT_REFUSED;
    for (uint32_t i = 0; i < count; ++i)
        if (other_disk_refused(others[i].number, run.log))
            return EXIT_REFUSED;
    return 0;
}
