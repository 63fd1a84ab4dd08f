// Counts heap allocations while detection, the command layer and every
// transport run against the fake device layer; any allocation fails the
// test. malloc, calloc, realloc and the aligned forms are interposed for the
// whole process (the C library's own calls included) and forward to glibc;
// operator new and delete are replaced on top of them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dialogue/dialogue.h"
#include "dialogue/host_facts.h"
#include "dialogue/verify.h"
#include "dialogue/volumes.h"
#include "dialogue/record.h"
#include "platform/report.h"
#include "fuzz/fake_device.h"
#include "nvme/sanitize.h"
#include "transport/transport.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

namespace {

volatile int g_counting = 0;
volatile long g_allocations = 0;
volatile int g_refuse = 0; // counted allocations fail, as when memory runs out

void count() {
    if (g_counting)
        g_allocations = g_allocations + 1;
}

} // namespace

extern "C" void* malloc(size_t size) {
    count();
    return g_refuse && g_counting ? nullptr : __libc_malloc(size);
}

extern "C" void* calloc(size_t n, size_t size) {
    count();
    return __libc_calloc(n, size);
}

extern "C" void* realloc(void* p, size_t size) {
    count();
    return __libc_realloc(p, size);
}

extern "C" void* memalign(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

extern "C" void* aligned_alloc(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

extern "C" int posix_memalign(void** out, size_t alignment, size_t size) {
    count();
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : 12; // ENOMEM
}

extern "C" void free(void* p) {
    __libc_free(p);
}

void* operator new(size_t size) {
    count();
    void* p = __libc_malloc(size ? size : 1);
    if (!p)
        std::abort();
    return p;
}

void* operator new[](size_t size) {
    return operator new(size);
}

void operator delete(void* p) noexcept {
    __libc_free(p);
}

void operator delete[](void* p) noexcept {
    __libc_free(p);
}

void operator delete(void* p, size_t) noexcept {
    __libc_free(p);
}

void operator delete[](void* p, size_t) noexcept {
    __libc_free(p);
}

namespace {

uint8_t g_descriptor[64];
uint8_t g_controller[IDENTIFY_SIZE];
uint8_t g_namespace[IDENTIFY_SIZE];
int g_failures = 0;

FakeReplies replies(uint8_t bus, int fail_request) {
    FakeReplies r;
    memset(&r, 0, sizeof r);
    g_descriptor[28] = bus;
    r.descriptor = g_descriptor;
    r.descriptor_size = sizeof g_descriptor;
    r.controller = g_controller;
    r.controller_size = sizeof g_controller;
    r.ns = g_namespace;
    r.ns_size = sizeof g_namespace;
    r.address[4] = 3;
    r.drives = 4;
    r.fail_request = fail_request;
    r.fail_open = -1;
    r.system_disk = 2;
    return r;
}

void expect(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "noheap: %s\n", what);
        ++g_failures;
    }
}

// Runs `body` with allocations counted and fails the test for any but the
// `allowed` ones.
template <typename Body> void no_allocation(const char* what, Body body, long allowed = 0) {
    g_allocations = 0;
    g_counting = 1;
    body();
    g_counting = 0;
    if (g_allocations != allowed) {
        fprintf(stderr, "noheap: %s: %ld heap allocation(s), not %ld\n", what, g_allocations,
                allowed);
        ++g_failures;
    }
}

HANDLE open_disk() {
    return open_device("\\\\.\\PhysicalDrive2", 0, 0x80);
}

// Identify Controller, Identify Namespace and Format NVM through one
// transport, each answered and each failing in turn.
void transport_round(const char* name, TransportCall call) {
    for (int fail = -1; fail < 4; ++fail) {
        fake_device_reset(replies(7, fail));
        HANDLE disk = open_disk();
        DriveState drive;
        drive_state_init(&drive, 2);
        drive.disk = disk;
        drive.port = disk;
        DriveState* d = &drive;
        uint8_t buffer[IDENTIFY_SIZE];
        no_allocation(name, [&] {
            const AdminCommand identify = identify_controller_command();
            const AdminCommand ns = identify_namespace_command();
            const AdminCommand format = format_command(1, 1, NO_PROTECTION);
            call(d, buffer, IDENTIFY_SIZE, DIR_FROM_DEVICE, &identify);
            call(d, buffer, IDENTIFY_SIZE, DIR_FROM_DEVICE, &ns);
            call(d, nullptr, 0, DIR_NONE, &format);
            const AdminCommand sanitize = sanitize_command(SANITIZE_CRYPTO_ERASE);
            const AdminCommand log = sanitize_log_command();
            call(d, nullptr, 0, DIR_NONE, &sanitize);
            call(d, buffer, SANITIZE_LOG_SIZE, DIR_FROM_DEVICE, &log);
            call(d, buffer, MAX_TRANSFER + 1, DIR_FROM_DEVICE, &identify); // too long
        });
        close_device(disk);
    }
}

} // namespace

int main() {
    // Identify data with texts and two LBA formats.
    memcpy(g_controller + 4, "NOHEAP00000000000001", 20);
    memset(g_controller + 24, 'M', 40);
    memcpy(g_controller + 64, "1.0     ", 8);
    g_namespace[0] = 0x10;
    g_namespace[25] = 1;
    g_namespace[130] = 9;
    g_namespace[134] = 12;

    // The standard stream's buffer exists before counting starts; the log
    // block is the fake's.
    printf("noheap: device path without heap allocation\n");
    fflush(stdout);
    static LogBlock block;
    LogBlock* log = &block;
    expect(log_open(log, "log") == 1, "log block");

    // The counting itself works: a deliberate allocation is seen.
    no_allocation(
        "self-check of the counter",
        [] {
            void* volatile p = malloc(16);
            free(p);
        },
        1);

    // Detection of every bridge and driver, then the commands through the
    // chosen path; the fake answers every command set.
    const struct {
        uint8_t usb;
        uint8_t kind;
    } detections[] = {{1, TRANSPORT_JMS}, {0, TRANSPORT_INBOX}};
    for (const auto& d : detections) {
        for (int fail = -1; fail < 8; ++fail) {
            fake_device_reset(replies(d.usb ? 7 : 17, fail));
            DriveState drive;
            drive_state_init(&drive, 2);
            drive.disk = open_disk();
            drive.port = open_device("\\\\.\\SCSI3:", 0, 0x80);
            drive.is_usb = d.usb;
            uint8_t identify[IDENTIFY_SIZE];
            uint8_t ns[IDENTIFY_SIZE];
            int found = 0;
            no_allocation("detection and commands", [&] {
                found = detect_transport(&drive, identify, log);
                if (found) {
                    nvme_identify_namespace(&drive, ns);
                    nvme_format(&drive, 1, 2, NO_PROTECTION);
                    // The inbox driver's erase request is refused (error 1):
                    // the SCSI SANITIZE command follows.
                    nvme_sanitize(&drive, SANITIZE_BLOCK_ERASE, 78, 19045);
                    nvme_sanitize_log(&drive, ns);
                }
            });
            if (fail == -1)
                expect(found && drive.transport == d.kind, "detection on the answering fake");
            close_device(drive.port);
            close_device(drive.disk);
        }
    }

    // The OFA path as detection's fallback: the inbox query is refused.
    fake_device_reset(replies(17, 0));
    {
        DriveState drive;
        drive_state_init(&drive, 2);
        drive.disk = open_disk();
        drive.port = open_device("\\\\.\\SCSI3:", 0, 0x80);
        uint8_t identify[IDENTIFY_SIZE];
        no_allocation("OFA detection", [&] {
            detect_transport(&drive, identify, log);
            nvme_format(&drive, 0, 1, NO_PROTECTION);
        });
        expect(drive.transport == TRANSPORT_OFA, "OFA detected");
        close_device(drive.port);
        close_device(drive.disk);
    }

    transport_round("JMicron tunnel", jms_passthrough);
    transport_round("ASMedia tunnel", asm_passthrough);
    transport_round("ASMedia Id/Smart", asm_legacy_passthrough);
    transport_round("Realtek tunnel", rtl_passthrough);
    transport_round("OFA pass-through", ofa_passthrough);
    for (int fail = -1; fail < 1; ++fail) {
        fake_device_reset(replies(17, fail));
        DriveState drive;
        drive_state_init(&drive, 2);
        drive.disk = open_disk();
        uint8_t identify[IDENTIFY_SIZE];
        no_allocation("inbox query", [&] { inbox_identify_controller(&drive, identify); });
        close_device(drive.disk);
    }
    // The bridges' completion queries, answered and failing.
    const struct {
        const char* name;
        int (*query)(DriveState*, uint8_t*);
    } queries[] = {{"JMicron completion", jms_completion},
                   {"ASMedia completion", asm_completion},
                   {"Realtek completion", rtl_completion}};
    for (const auto& q : queries) {
        for (int fail = -1; fail < 1; ++fail) {
            fake_device_reset(replies(7, fail));
            DriveState drive;
            drive_state_init(&drive, 2);
            drive.disk = open_disk();
            uint8_t entry[16];
            no_allocation(q.name, [&] { q.query(&drive, entry); });
            close_device(drive.disk);
        }
    }

    // The host facts' short-lived handles.
    fake_device_reset(replies(7, -1));
    int system = 0;
    uint8_t bus_type = 0;
    no_allocation("drive list, bus and system-disk queries", [&] {
        list_drives();
        bus_type = query_bus_type(2);
        read_os_version();
        system = holds_running_system(2);
    });
    expect(bus_type == 7, "bus query answered");
    expect(system == 1, "system disk found");

    // The quiet disk and the read-back at each level: two volumes on the
    // disk taken offline, the samples read before a format and compared
    // after it (or the whole namespace read), and the check of a drive
    // alone. Only a P% level's table of more samples than the quick check's
    // is allocated, once, when the check is planned.
    const struct {
        const char* level;
        uint64_t capacity;
        long table; // allocations for the sample table
        uint32_t samples;
    } levels[] = {{"quick", 1ull << 40, 0, VERIFY_MAX_SAMPLES},
                  {"full", 64ull << 20, 0, VERIFY_MAX_SAMPLES},
                  {"1%", 1ull << 30, 1, 2622}};
    for (const auto& level : levels) {
        FakeReplies r = replies(7, -1);
        r.volumes = 2;
        r.readable = 1;
        r.sector_size = 4096;
        fake_device_reset(r);
        DriveState drive;
        drive_state_init(&drive, 2);
        drive.disk = open_disk();
        drive.transport = TRANSPORT_JMS;
        HANDLE disk = drive.disk;
        static VerifySamples verify;
        QuietDisk quiet;
        quiet.count = 0;
        int offline = 0, status = -1, alone = -1;
        uint32_t samples = 0, held = 0;
        expect(verify_begin(&verify, 1, level.level) == 1, level.level);
        no_allocation(
            level.level,
            [&] { expect(verify_plan(&verify, level.capacity, 4096, 1, log) == 0, "planned"); },
            level.table);
        no_allocation(level.level, [&] {
            offline = take_volumes_offline(2, log, &quiet);
            verify_sample(&verify, disk, log);
            nvme_format(&drive, 1, 1, NO_PROTECTION);
            status = verify_after_erase(&verify, disk, 4096, log, 1);
            samples = verify.result.samples;
            held = verify.result.held_data;
            release_volumes(&quiet);
            verify_release(&verify);
            expect(verify_plan(&verify, level.capacity, 4096, 0, log) == 0, "planned alone");
            char line[128];
            alone = verify_drive_contents(&verify, disk, log, line, sizeof line);
        });
        expect(offline && quiet.count == 0, "volumes taken offline and released");
        expect(status == EXIT_ERASED && samples == level.samples && held == level.samples,
               level.level);
        expect(alone == EXIT_DATA_SURVIVED, "the drive alone holds the fake's content");
        close_device(disk);
    }
    // Without memory for the table the plan ends the run.
    {
        static VerifySamples verify;
        verify_begin(&verify, 1, "1%");
        g_refuse = 1;
        int status = 0;
        no_allocation(
            "1% without memory", [&] { status = verify_plan(&verify, 1ull << 30, 4096, 1, log); },
            1);
        g_refuse = 0;
        expect(status == EXIT_BAD_INPUT, "the plan refused for want of memory");
    }
    // The erase record, from its first field to its appended line.
    EraseRecord record;
    no_allocation("erase record", [&] {
        record_begin(&record, 2, 0);
        query_bus_type(2, &record.vendor, &record.product);
        record_format(&record, 1, 2);
        record_started(&record, log, 0);
    });

    expect(fake_open_handles() == 0 && fake_bad_closes() == 0, "handles balanced");
    no_allocation("log block", [&] {
        report(log, "Erased [%u ms]!\n", 1500u);
        expect(log_close(log) == 1, "log block written");
    });
    if (g_failures != 0) {
        fprintf(stderr, "noheap: %d failure(s)\n", g_failures);
        return 1;
    }
    printf("noheap: 0 heap allocations\n");
    return 0;
}
