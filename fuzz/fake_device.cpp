// The fake answers by what a request carries, as the drivers and bridges do,
// but with whatever bytes it was given: nothing here checks a request beyond
// what is needed to pick the reply. No heap, no C library state.
#include "fuzz/fake_device.h"
#include "platform/files.h"

#include <cstring>

#include "platform/device.h"
#include "platform/wire.h"
#include "transport/usb/scsi_envelope.h"

namespace {

constexpr int MAX_HANDLES = 8;
constexpr uint32_t FIRST_ERROR = 0x1f;

struct State {
    FakeReplies replies;
    uintptr_t open[MAX_HANDLES]; // 0: free slot
    uintptr_t next_handle;
    int bad_closes;
    uint32_t requests;
    uint32_t opens;
    uint32_t formats;
    uint32_t last_error;
    int last_cns; // CNS of the last Identify a command phase carried
    int keys;
    uint32_t slept_ms;
    uint32_t next_volume; // volumes handed out by the open search
    int searching;        // a volume search is open
};

State g_state;

void copy_reply(void* out, uint32_t out_size, uint32_t offset, const uint8_t* data, uint32_t size) {
    if (!out || !data || offset >= out_size)
        return;
    const uint32_t room = out_size - offset;
    memcpy(static_cast<uint8_t*>(out) + offset, data, size < room ? size : room);
}

// The submission entry of a command phase: remembers what the data phase
// returns and counts formats.
void note_command(const uint8_t* entry) {
    if (entry[0] == 0x80)
        ++g_state.formats;
    if (entry[0] == 0x06)
        g_state.last_cns = entry[40];
}

void identify_reply(void* out, uint32_t out_size, uint32_t offset) {
    const FakeReplies& r = g_state.replies;
    if (g_state.last_cns == 0)
        copy_reply(out, out_size, offset, r.ns, r.ns_size);
    else
        copy_reply(out, out_size, offset, r.controller, r.controller_size);
}

// The envelope in the build's layout (the 64-bit one's header is longer).
void pass_through(const uint8_t* in, uint32_t in_size, void* out, uint32_t out_size) {
    constexpr uint32_t DATA = ENVELOPE_DATA_OFFSET;
    if (!in || in_size < DATA)
        return;
    const uint8_t* cdb = in + SPT_CDB;
    const uint8_t data_in = in[8];
    // The bridges' completion queries: the entry of the last command, whose
    // status is the one the OFA driver would return (JMicron: in a block
    // after "NVME" and 4 zero bytes).
    uint8_t entry[16];
    memset(entry, 0, sizeof entry);
    put_le32(entry, 12, g_state.replies.completion_dword3);
    if (cdb[0] == 0xA1 && cdb[1] == 0x8F) {
        copy_reply(out, out_size, DATA, reinterpret_cast<const uint8_t*>("NVME"), 4);
        copy_reply(out, out_size, DATA + 8, entry, sizeof entry);
    } else if ((cdb[0] == 0xEB && cdb[2] == 0x82) || (cdb[0] == 0xE4 && cdb[3] == 0xF9)) {
        copy_reply(out, out_size, DATA, entry, sizeof entry);
    } else if (cdb[0] == 0xA1 && cdb[1] == 0x80 && in_size >= DATA + 8 + 64) {
        note_command(in + DATA + 8);
    } else if ((cdb[0] == 0xEA && cdb[2] == 0x80) || (cdb[0] == 0xE5 && cdb[3] == 0xF7)) {
        if (in_size >= DATA + 64)
            note_command(in + DATA);
    } else if (cdb[0] == 0xE6) {
        g_state.last_cns = cdb[3];
        identify_reply(out, out_size, DATA);
    } else if (data_in == 1) {
        identify_reply(out, out_size, DATA);
    }
    if (out && out_size > 2)
        static_cast<uint8_t*>(out)[2] = g_state.replies.scsi_status;
}

void miniport(const uint8_t* in, uint32_t in_size, void* out, uint32_t out_size) {
    if (!in || in_size < 116)
        return;
    const uint8_t opcode = in[52];
    note_command(in + 52);
    uint8_t completion[4];
    put_le32(completion, 0, g_state.replies.completion_dword3);
    copy_reply(out, out_size, 116 + 12, completion, 4);
    if (opcode == 0x06)
        identify_reply(out, out_size, 152);
}

// "\\.\PhysicalDriveN": whether N is one of the drives; ports and volumes
// always answer.
bool path_answers(const char* path) {
    static const char PREFIX[] = "\\\\.\\PhysicalDrive";
    if (strncmp(path, PREFIX, sizeof PREFIX - 1) != 0)
        return strncmp(path, "\\\\.\\SCSI", 8) == 0 || strncmp(path, "\\\\.\\C:", 7) == 0 ||
               strncmp(path, "\\\\?\\Volume{", 11) == 0;
    uint32_t n = 0;
    const char* p = path + sizeof PREFIX - 1;
    if (*p < '0' || *p > '9')
        return false;
    for (; *p >= '0' && *p <= '9' && n < 1000; ++p)
        n = n * 10 + static_cast<uint32_t>(*p - '0');
    return *p == 0 && n < g_state.replies.drives;
}

int slot_of(HANDLE handle) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(handle);
    for (int i = 0; i < MAX_HANDLES; ++i)
        if (id != 0 && g_state.open[i] == id)
            return i;
    return -1;
}

} // namespace

void fake_device_reset(const FakeReplies& replies) {
    memset(&g_state, 0, sizeof g_state);
    g_state.replies = replies;
    g_state.next_handle = 1;
    g_state.last_cns = 1;
}

int fake_open_handles() {
    int n = 0;
    for (int i = 0; i < MAX_HANDLES; ++i)
        n += g_state.open[i] != 0;
    return n + g_state.searching;
}

int fake_bad_closes() {
    return g_state.bad_closes;
}

uint32_t fake_requests() {
    return g_state.requests;
}

uint32_t fake_formats() {
    return g_state.formats;
}

HANDLE open_device(const char* path, uint32_t, uint32_t) {
    const int nth = static_cast<int>(g_state.opens++);
    int slot = -1;
    for (int i = 0; i < MAX_HANDLES && slot < 0; ++i)
        if (g_state.open[i] == 0)
            slot = i;
    if (!path || !path_answers(path) || nth == g_state.replies.fail_open || slot < 0) {
        g_state.last_error = 2;
        return INVALID_HANDLE_VALUE;
    }
    g_state.open[slot] = g_state.next_handle++;
    return reinterpret_cast<HANDLE>(g_state.open[slot]);
}

int device_control(HANDLE handle, uint32_t code, void* in, uint32_t in_size, void* out,
                   uint32_t out_size) {
    const int nth = static_cast<int>(g_state.requests++);
    if (slot_of(handle) < 0) {
        g_state.last_error = 6;
        return 0;
    }
    if (nth == g_state.replies.fail_request) {
        g_state.last_error = FIRST_ERROR + static_cast<uint32_t>(nth);
        return 0;
    }
    const uint8_t* request = static_cast<const uint8_t*>(in);
    const FakeReplies& r = g_state.replies;
    switch (code) {
    case IOCTL_STORAGE_QUERY_PROPERTY:
        if (request && in_size >= 4 && get_le32(request, 0) == StorageDeviceProperty) {
            copy_reply(out, out_size, 0, r.descriptor, r.descriptor_size);
        } else {
            g_state.last_cns = 1;
            identify_reply(out, out_size, 48);
        }
        return 1;
    case IOCTL_SCSI_GET_ADDRESS:
        copy_reply(out, out_size, 0, r.address, sizeof r.address);
        return 1;
    case IOCTL_SCSI_MINIPORT:
        miniport(request, in_size, out, out_size);
        return 1;
    case IOCTL_SCSI_PASS_THROUGH:
        pass_through(request, in_size, out, out_size);
        return 1;
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
        if (r.system_disk < 0 || !out || out_size < 32) {
            g_state.last_error = 234;
            return 0;
        }
        memset(out, 0, 32);
        put_le32(static_cast<uint8_t*>(out), 0, 1);
        put_le32(static_cast<uint8_t*>(out), 8, static_cast<uint32_t>(r.system_disk));
        return 1;
    case FSCTL_LOCK_VOLUME:
    case FSCTL_DISMOUNT_VOLUME:
    case IOCTL_DISK_UPDATE_DRIVE_SIZE:
    case IOCTL_DISK_UPDATE_PROPERTIES:
        return 1;
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX:
        if (out && out_size >= 24)
            put_le32(static_cast<uint8_t*>(out), 20, r.sector_size ? r.sector_size : 512);
        return 1;
    default:
        g_state.last_error = 1;
        return 0;
    }
}

// Volume names "\\?\Volume{N}\", N from 0.
static int hand_out_volume(char* name, uint32_t size) {
    if (g_state.next_volume >= g_state.replies.volumes || !name || size < 16) {
        g_state.last_error = 18;
        return 0;
    }
    memcpy(name, "\\\\?\\Volume{0}\\", 15);
    name[11] = static_cast<char>('0' + g_state.next_volume++ % 10);
    return 1;
}

HANDLE find_first_volume(char* name, uint32_t size) {
    g_state.next_volume = 0;
    if (g_state.searching || !hand_out_volume(name, size))
        return INVALID_HANDLE_VALUE;
    g_state.searching = 1;
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5EA));
}

int find_next_volume(HANDLE, char* name, uint32_t size) {
    return hand_out_volume(name, size);
}

void find_volume_close(HANDLE) {
    if (!g_state.searching)
        ++g_state.bad_closes;
    g_state.searching = 0;
}

// Every volume is mounted at E:.
int volume_path_names(const char*, char* paths, uint32_t size) {
    if (!paths || size < 5)
        return 0;
    memcpy(paths, "E:\\\0", 5);
    return 1;
}

int read_disk(HANDLE handle, uint64_t offset, void* buffer, uint32_t size) {
    if (slot_of(handle) < 0 || !g_state.replies.readable || !buffer) {
        g_state.last_error = 23;
        return 0;
    }
    // Content per 4 KiB unit, whatever the cut of the read.
    uint8_t* p = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < size; ++i)
        p[i] = static_cast<uint8_t>(i % 4096 + ((offset + i) >> 12) + 1 + g_state.formats * 131u);
    return 1;
}

// The system volume: any volume path opens like a port.
HANDLE open_volume(const char* path) {
    return open_device(path, 3, 0);
}

uint32_t windows_directory(char* buffer, uint32_t size) {
    static const char DIRECTORY[] = "C:\\Windows";
    if (!buffer || size < sizeof DIRECTORY)
        return 0;
    memcpy(buffer, DIRECTORY, sizeof DIRECTORY);
    return sizeof DIRECTORY - 1;
}

uint32_t last_error() {
    return g_state.last_error;
}

void close_device(HANDLE handle) {
    const int slot = slot_of(handle);
    if (slot < 0) {
        ++g_state.bad_closes;
        return;
    }
    g_state.open[slot] = 0;
}

// The log: taken and dropped, never a file.
HANDLE open_append(const char*) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x106));
}

int append_bytes(HANDLE, const char*, uint32_t) {
    return 1;
}

void close_append(HANDLE) {}

uint32_t tick_ms() {
    return 1000000u + g_state.requests * 10u + g_state.slept_ms;
}

// Time passes an hour for every second slept: a sanitize the replies keep
// "in progress" is followed to its 12-hour limit in a few polls, not 43200.
void sleep_ms(uint32_t ms) {
    g_state.slept_ms += ms * 3600u;
}

int os_version(OSVERSIONINFOEXA* record) {
    const int refused =
        g_state.replies.os_fails == 2 ||
        (g_state.replies.os_fails == 1 && record->dwOSVersionInfoSize == OS_VERSION_EX_SIZE);
    if (refused) {
        g_state.last_error = 87;
        return 0;
    }
    record->dwMajorVersion = 10;
    record->dwBuildNumber = 19045;
    return 1;
}

int key_wait_begin() {
    return g_state.replies.console;
}

void key_wait_end() {}

int console_key_waiting() {
    return g_state.keys > 0;
}

int console_read_key() {
    if (g_state.keys > 0)
        --g_state.keys;
    return '\r';
}

// The operator presses a key while the tool idles.
void idle_ms(uint32_t) {
    g_state.keys = 1;
}

// No registry: not Windows PE.
int machine_key_exists(const char*) {
    return 0;
}

// A fixed moment, name and process; appended files go nowhere.
void system_time(SYSTEMTIME* time) {
    memset(time, 0, sizeof *time);
    time->wYear = 2026;
    time->wMonth = 1;
    time->wDay = 1;
}

uint32_t computer_name(char* buffer, uint32_t size) {
    static const char NAME[] = "FAKEHOST";
    if (!buffer || size < sizeof NAME)
        return 0;
    memcpy(buffer, NAME, sizeof NAME);
    return sizeof NAME - 1;
}

uint32_t account_name(char*, uint32_t) {
    return 0;
}

uint32_t process_id() {
    return 4;
}

// No station file; the record is an empty file that takes every write.
HANDLE open_read(const char*) {
    return INVALID_HANDLE_VALUE;
}

HANDLE open_record(const char*) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x107));
}

HANDLE create_file(const char*) {
    return INVALID_HANDLE_VALUE;
}

int read_bytes(HANDLE, void*, uint32_t, uint32_t* got) {
    *got = 0;
    return 1;
}

int read_at(HANDLE, uint64_t, void*, uint32_t, uint32_t* got) {
    *got = 0;
    return 1;
}

int file_size(HANDLE, uint64_t* size) {
    *size = 0;
    return 1;
}

int lock_file(HANDLE) {
    return 1;
}

void unlock_file(HANDLE) {}

int write_bytes(HANDLE, const void*, uint32_t) {
    return 1;
}

void close_file(HANDLE) {}
