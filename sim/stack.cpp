// The simulated Windows storage stack behind platform/device.h: device paths,
// handles and sharing, device-control dispatch to the drives, fault
// injection, the simulated clock, the OS-version and registry answers and the
// trace.
//
// Choices where Windows leaves room:
// - Handles are 1, 2, 3, ... in the order opened, never reused until a reset.
// - Sharing follows Windows for opens that all ask for read and write access:
//   a second open of a device succeeds only when both it and every open
//   handle share read and write (share & 3 == 3); otherwise error 32. The
//   system volume is always open with that sharing: an open of it must share
//   read and write too.
// - Closing a handle that is not open writes no trace line, sets last error
//   6 and is counted (sim_bad_closes) so tests can catch double closes.
// - Successful operations leave the last-error code as it was.
// - A request whose timeout field holds 0 times out as soon as the device
//   spends any time on it.
#include "sim/sim.h"

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/calendar.h"
#include "sim/disk.h"
#include "sim/media.h"
#include "sim/model.h"
#include "sim/console_model.h"
#include "sim/stack.h"
#include "sim/volume.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t ERROR_INVALID_HANDLE_CODE = 6;
constexpr uint32_t ERROR_SHARING_VIOLATION_CODE = 32;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_NOACCESS_CODE = 998;

struct OpenHandle {
    std::string path; // as given to the open
    size_t drive;     // index into Stack::drives, or the volume's index
    bool port;        // the SCSI port rather than the disk
    bool volume;      // a volume rather than a drive
    uint32_t share;
    uint32_t access;
};

// Volume searches have handles of their own, apart from the files'.
constexpr uintptr_t FIRST_SEARCH_HANDLE = 0x10000;
constexpr uint32_t ERROR_NO_MORE_FILES_CODE = 18;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE_CODE = 206;

struct Stack {
    bool loaded = false;
    HostConfig host;
    std::vector<Drive> drives;
    std::map<uintptr_t, OpenHandle> handles;
    uintptr_t next_handle = 1;
    std::vector<VolumeState> volumes;     // by volume index
    std::map<uintptr_t, size_t> searches; // open volume searches: the next volume
    uintptr_t next_search = FIRST_SEARCH_HANDLE;
    uint32_t last_error = 0;
    // Device time since the host was loaded, in microseconds: a read takes
    // tens of them; the tick counter shows whole milliseconds.
    uint64_t device_us = 0;
    bool trace_ready = false;
    FILE* trace_file = nullptr;
    std::vector<std::string> trace;
    int bad_closes = 0;
};

Stack& stack() {
    static Stack s;
    return s;
}

[[noreturn]] void fatal(const std::string& message) {
    std::fprintf(stderr, "veltrane: %s\n", message.c_str());
    std::fflush(stderr);
    std::exit(2);
}

std::string json_text(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string hex(const uint8_t* p, uint32_t size) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string out(size * 2u, '0');
    for (uint32_t i = 0; i < size; ++i) {
        out[2 * i] = DIGITS[p[i] >> 4];
        out[2 * i + 1] = DIGITS[p[i] & 0xF];
    }
    return out;
}

void record(const std::string& line) {
    Stack& s = stack();
    // A run with a trace file keeps nothing in memory: a read-back traces
    // thousands of reads.
    if (!s.trace_file) {
        s.trace.push_back(line);
        return;
    }
    std::fputs(line.c_str(), s.trace_file);
    std::fputc('\n', s.trace_file);
    std::fflush(s.trace_file);
}

long long handle_number(HANDLE handle) {
    return static_cast<long long>(reinterpret_cast<intptr_t>(handle));
}

// "\\.\PhysicalDriveN" or "\\.\SCSIn:", N decimal without leading zeros;
// the names compare without regard to case, as Windows object names do.
bool parse_path(const std::string& path, bool* port, uint32_t* number) {
    static const char PREFIX[] = "\\\\.\\";
    if (path.compare(0, 4, PREFIX) != 0)
        return false;
    std::string rest = path.substr(4);
    auto starts = [&rest](const char* word) {
        size_t n = std::strlen(word);
        if (rest.size() < n)
            return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(rest[i])) != word[i])
                return false;
        return true;
    };
    std::string digits;
    if (starts("physicaldrive")) {
        *port = false;
        digits = rest.substr(13);
    } else if (starts("scsi") && rest.size() > 5 && rest.back() == ':') {
        *port = true;
        digits = rest.substr(4, rest.size() - 5);
    } else {
        return false;
    }
    if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits[0] == '0'))
        return false;
    for (char c : digits)
        if (c < '0' || c > '9')
            return false;
    *number = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 10));
    return true;
}

// Index of the drive that answers the path, or -1. A port belongs to the
// first drive in the host file that names it.
long find_device(const std::string& path, bool* port) {
    uint32_t number = 0;
    if (!parse_path(path, port, &number))
        return -1;
    const std::vector<Drive>& drives = stack().drives;
    for (size_t i = 0; i < drives.size(); ++i) {
        uint32_t n = *port ? drives[i].config.port : drives[i].config.number;
        if (n == number)
            return static_cast<long>(i);
    }
    return -1;
}

bool sharing_allows(size_t drive, bool port, uint32_t share) {
    for (const auto& entry : stack().handles) {
        const OpenHandle& h = entry.second;
        if (!h.volume && h.drive == drive && h.port == port &&
            ((share & 3) != 3 || (h.share & 3) != 3))
            return false;
    }
    return true;
}

std::string read_file(const std::string& path, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = std::strerror(errno);
        return {};
    }
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    if (std::ferror(f))
        *error = std::strerror(errno);
    std::fclose(f);
    return text;
}

// Drives behind the OFA or the inbox driver at one SCSI port, PathId and
// TargetId are namespaces of one controller, namespace Lun + 1; the drive
// with the lowest Lun holds the controller. The drives no longer move.
void group_namespaces(std::vector<Drive>& drives) {
    std::map<uint32_t, std::vector<Drive*>> controllers;
    for (Drive& drive : drives) {
        const DriveConfig& c = drive.config;
        if (c.path == "ofa" || c.path == "inbox")
            controllers[c.port << 16 | uint32_t(c.path_id) << 8 | c.target_id].push_back(&drive);
    }
    for (auto& entry : controllers) {
        std::vector<Drive*>& members = entry.second;
        std::sort(members.begin(), members.end(),
                  [](const Drive* a, const Drive* b) { return a->config.lun < b->config.lun; });
        Controller& owner = members.front()->controller;
        for (Drive* member : members) {
            member->controller.nsid = member->config.lun + 1u;
            member->controller.owner = member == members.front() ? nullptr : &owner;
            owner.namespaces.push_back(&member->controller);
        }
    }
}

void install_host(HostConfig host) {
    Stack& s = stack();
    s.handles.clear();
    s.drives.clear();
    s.device_us = 0;
    for (const DriveConfig& config : host.drives) {
        Drive drive;
        drive.config = config;
        drive.controller = controller_make(config.controller);
        drive.model = make_model(config.path);
        drive.windows_sector = 1u << config.controller.lbads[flbas_index(config.controller.flbas)];
        s.drives.push_back(std::move(drive));
    }
    group_namespaces(s.drives);
    s.volumes.assign(volume_count(host), VolumeState());
    s.host = std::move(host);
    s.loaded = true;
}

} // namespace

void sim_ensure_ready() {
    Stack& s = stack();
    if (!s.loaded) {
        const char* path = std::getenv("VELTRANE_SIM_HOST");
        std::string error;
        if (path && *path) {
            if (!sim_load_host_file(path, &error))
                fatal(error);
        } else {
            sim_load_default_host();
        }
    }
    if (!s.trace_ready) {
        s.trace_ready = true;
        const char* path = std::getenv("VELTRANE_SIM_TRACE");
        if (path && *path) {
            s.trace_file = std::fopen(path, "ab"); // the same bytes on every host
            if (!s.trace_file)
                fatal(std::string("trace file '") + path +
                      "': cannot open: " + std::strerror(errno));
        }
    }
}

bool sim_load_host_text(const std::string& json, const std::string& origin, std::string* error) {
    HostConfig host;
    std::string problem;
    if (!parse_host(json, origin, &host, &problem)) {
        if (error)
            *error = problem;
        return false;
    }
    install_host(std::move(host));
    return true;
}

bool sim_load_host_file(const std::string& path, std::string* error) {
    std::string problem;
    std::string text = read_file(path, &problem);
    if (!problem.empty()) {
        if (error)
            *error = "host file '" + path + "': cannot read: " + problem;
        return false;
    }
    return sim_load_host_text(text, path, error);
}

void sim_load_default_host() {
    std::string error;
    if (!sim_load_host_text(sim_default_host_json(), "<default>", &error))
        fatal(error); // the embedded host is checked by the tests
}

void sim_reset() {
    Stack& s = stack();
    if (s.trace_file)
        std::fclose(s.trace_file);
    s = Stack();
    console_sim_reset();
}

const std::vector<std::string>& sim_trace() {
    return stack().trace;
}

int sim_open_handles() {
    return static_cast<int>(stack().handles.size() + stack().searches.size());
}

bool sim_volume_mounted_on(uint32_t number) {
    const Stack& s = stack();
    return volume_mounted_on(s.host, s.volumes, number);
}

int sim_bad_closes() {
    return stack().bad_closes;
}

bool sim_namespace(int number, uint32_t* flbas, uint64_t* nsze) {
    for (const Drive& drive : stack().drives) {
        if (static_cast<int>(drive.config.number) == number) {
            *flbas = drive.controller.flbas;
            *nsze = drive.controller.nsze;
            return true;
        }
    }
    return false;
}

bool sim_replace_model(int number, std::unique_ptr<Model> model) {
    for (Drive& drive : stack().drives) {
        if (static_cast<int>(drive.config.number) == number) {
            drive.model = std::move(model);
            return true;
        }
    }
    return false;
}

namespace {

// CreateFileA on a device path with OPEN_EXISTING: a drive, its SCSI port or
// a volume.
HANDLE open_path(const char* path, uint32_t access, uint32_t share, uint32_t flags) {
    sim_ensure_ready();
    Stack& s = stack();
    std::string name = path ? path : "";
    bool port = false;
    long index = -1;
    const bool volume = parse_volume_path(s.host, name, &index);
    long drive = volume ? index : find_device(name, &port);
    uint32_t error = 0;
    if (volume) {
        if (index < 0)
            error = ERROR_FILE_NOT_FOUND_CODE;
        else if ((share & 3) != 3)
            error = ERROR_SHARING_VIOLATION_CODE;
    } else if (drive < 0) {
        error = ERROR_FILE_NOT_FOUND_CODE;
    } else {
        const DriveConfig& config = s.drives[static_cast<size_t>(drive)].config;
        error = port ? config.port_open_error : config.open_error;
        if (error == 0 && !sharing_allows(static_cast<size_t>(drive), port, share))
            error = ERROR_SHARING_VIOLATION_CODE;
    }
    long long number = -1;
    if (error == 0) {
        uintptr_t id = s.next_handle++;
        s.handles[id] = OpenHandle{name, static_cast<size_t>(drive), port, volume, share, access};
        number = static_cast<long long>(id);
    }
    record("{\"op\":\"open\",\"path\":" + json_text(name) +
           ",\"access\":" + std::to_string(access) + ",\"share\":" + std::to_string(share) +
           ",\"disposition\":3,\"flags\":" + std::to_string(flags) +
           ",\"handle\":" + std::to_string(number) + ",\"error\":" + std::to_string(error) + "}");
    if (error != 0) {
        s.last_error = error;
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(number));
}

} // namespace

HANDLE open_device(const char* path, uint32_t share, uint32_t flags) {
    return open_path(path, GENERIC_READ | GENERIC_WRITE, share, flags);
}

HANDLE open_volume(const char* path) {
    return open_path(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
}

uint32_t windows_directory(char* buffer, uint32_t size) {
    sim_ensure_ready();
    const std::string& directory = stack().host.windows_dir;
    if (!buffer || directory.empty() || directory.size() >= size)
        return 0;
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return static_cast<uint32_t>(directory.size());
}

int device_control(HANDLE handle, uint32_t code, void* in, uint32_t in_size, void* out,
                   uint32_t out_size) {
    sim_ensure_ready();
    Stack& s = stack();
    const uint8_t* in_bytes = static_cast<const uint8_t*>(in);
    // The input as handed over, before any reply can overwrite it.
    std::vector<uint8_t> input;
    if (in_bytes && in_size > 0)
        input.assign(in_bytes, in_bytes + in_size);

    auto it = s.handles.find(reinterpret_cast<uintptr_t>(handle));
    Reply reply;
    std::string path;
    if (it == s.handles.end()) {
        reply = reply_error(ERROR_INVALID_HANDLE_CODE);
    } else if ((!in && in_size > 0) || (!out && out_size > 0)) {
        path = it->second.path;
        reply = reply_error(ERROR_NOACCESS_CODE);
    } else if (it->second.volume) {
        // Not a drive: fault injection does not count it.
        path = it->second.path;
        reply = volume_request(
            s.host, s.drives, s.volumes, it->second.drive, it->first, it->second.access,
            Request{code, input.empty() ? nullptr : input.data(), in_size, out_size});
        // The lock and the dismount answer nothing, into no buffer.
        if (reply.ok && !reply.out.empty() && out)
            std::memcpy(out, reply.out.data(), std::min<size_t>(reply.out.size(), out_size));
    } else {
        path = it->second.path;
        Drive& drive = s.drives[it->second.drive];
        bool port = it->second.port;
        uint32_t nth = ++drive.requests;
        uint32_t injected = 0;
        for (const FaultConfig& fault : drive.config.fail)
            if (fault.nth == nth && injected == 0)
                injected = fault.error;
        Request request{code, input.empty() ? nullptr : input.data(), in_size, out_size};
        if (injected != 0)
            reply = reply_error(injected);
        else if (!drive.model->control(drive, port, request, &reply))
            reply = port ? reply_error(ERROR_INVALID_FUNCTION_CODE) : disk_request(drive, request);
        uint64_t limit_ms = static_cast<uint64_t>(reply.timeout_s) * 1000u;
        if (reply.has_timeout && reply.device_ms > limit_ms) {
            s.device_us += limit_ms * 1000u;
            reply = reply_error(ERROR_SEM_TIMEOUT_CODE);
        } else {
            s.device_us += static_cast<uint64_t>(reply.device_ms) * 1000u;
        }
        if (reply.ok && !reply.out.empty() && out)
            std::memcpy(out, reply.out.data(), std::min<size_t>(reply.out.size(), out_size));
    }
    uint32_t error = reply.ok ? 0 : reply.error;
    record("{\"op\":\"ioctl\",\"handle\":" + std::to_string(handle_number(handle)) +
           ",\"path\":" + json_text(path) + ",\"code\":" + std::to_string(code) +
           ",\"in_size\":" + std::to_string(in_size) + ",\"out_size\":" + std::to_string(out_size) +
           ",\"in\":\"" + hex(input.data(), static_cast<uint32_t>(input.size())) + "\",\"ok\":" +
           (reply.ok ? "true" : "false") + ",\"error\":" + std::to_string(error) + "}");
    if (!reply.ok) {
        s.last_error = error;
        return 0;
    }
    return 1;
}

uint32_t last_error() {
    sim_ensure_ready();
    return stack().last_error;
}

void close_device(HANDLE handle) {
    sim_ensure_ready();
    Stack& s = stack();
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == s.handles.end()) {
        ++s.bad_closes;
        s.last_error = ERROR_INVALID_HANDLE_CODE;
        return;
    }
    record("{\"op\":\"close\",\"handle\":" + std::to_string(handle_number(handle)) +
           ",\"path\":" + json_text(it->second.path) + "}");
    if (it->second.volume)
        volume_handle_closed(s.volumes, it->second.drive, it->first);
    s.handles.erase(it);
}

namespace {

// Hands out the next volume name of a search into `name`.
int hand_out_volume(uintptr_t search, char* name, uint32_t size) {
    Stack& s = stack();
    auto it = s.searches.find(search);
    uint32_t error = 0;
    std::string text;
    if (it == s.searches.end()) {
        error = ERROR_INVALID_HANDLE_CODE;
    } else if (it->second >= volume_count(s.host)) {
        error = ERROR_NO_MORE_FILES_CODE;
    } else {
        text = volume_name(it->second);
        if (!name || text.size() >= size)
            error = ERROR_FILENAME_EXCED_RANGE_CODE;
    }
    if (error != 0) {
        s.last_error = error;
        return 0;
    }
    ++it->second;
    std::memcpy(name, text.c_str(), text.size() + 1);
    record("{\"op\":\"find_volume\",\"name\":" + json_text(text) + "}");
    return 1;
}

} // namespace

HANDLE find_first_volume(char* name, uint32_t size) {
    sim_ensure_ready();
    Stack& s = stack();
    const uintptr_t search = s.next_search++;
    s.searches[search] = 0;
    if (!hand_out_volume(search, name, size)) {
        s.searches.erase(search);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(search);
}

int find_next_volume(HANDLE search, char* name, uint32_t size) {
    sim_ensure_ready();
    return hand_out_volume(reinterpret_cast<uintptr_t>(search), name, size);
}

void find_volume_close(HANDLE search) {
    sim_ensure_ready();
    Stack& s = stack();
    if (s.searches.erase(reinterpret_cast<uintptr_t>(search)) == 0) {
        ++s.bad_closes;
        s.last_error = ERROR_INVALID_HANDLE_CODE;
    }
}

int volume_path_names(const char* name, char* paths, uint32_t size) {
    sim_ensure_ready();
    Stack& s = stack();
    std::vector<uint8_t> list;
    uint32_t error = 0;
    if (!volume_paths(s.host, name ? name : "", &list, &error)) {
        s.last_error = error;
        return 0;
    }
    if (!paths || list.size() > size) {
        s.last_error = ERROR_MORE_DATA_CODE;
        return 0;
    }
    std::memcpy(paths, list.data(), list.size());
    return 1;
}

int read_disk(HANDLE disk, uint64_t offset, void* buffer, uint32_t size) {
    sim_ensure_ready();
    Stack& s = stack();
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(disk));
    std::string path;
    uint32_t error = 0;
    if (it == s.handles.end()) {
        error = ERROR_INVALID_HANDLE_CODE;
    } else if (it->second.volume || it->second.port) {
        path = it->second.path;
        error = ERROR_INVALID_FUNCTION_CODE;
    } else if (!buffer && size > 0) {
        path = it->second.path;
        error = ERROR_NOACCESS_CODE;
    } else {
        path = it->second.path;
        Drive& drive = s.drives[it->second.drive];
        uint64_t device_us = 0;
        error = drive_read(drive, ++drive.reads, offset, static_cast<uint8_t*>(buffer), size,
                           &device_us);
        s.device_us += device_us;
    }
    record("{\"op\":\"read\",\"handle\":" + std::to_string(handle_number(disk)) +
           ",\"path\":" + json_text(path) + ",\"offset\":" + std::to_string(offset) +
           ",\"size\":" + std::to_string(size) + ",\"ok\":" + (error == 0 ? "true" : "false") +
           ",\"error\":" + std::to_string(error) + "}");
    if (error != 0) {
        s.last_error = error;
        return 0;
    }
    return 1;
}

uint32_t tick_ms() {
    sim_ensure_ready();
    const Stack& s = stack();
    return static_cast<uint32_t>(s.host.tick_start + s.device_us / 1000u);
}

void sleep_ms(uint32_t ms) {
    sim_ensure_ready();
    stack().device_us += static_cast<uint64_t>(ms) * 1000u;
}

uint64_t sim_clock_ms() {
    return stack().device_us / 1000u;
}

uint32_t sim_os_build() {
    return stack().host.os.build;
}

bool sim_windows_pe() {
    return stack().host.winpe;
}

bool sim_ram_disk_system() {
    return stack().host.ram_disk_system;
}

// The registry holds one key, Windows PE's, and only there. Key names
// compare without regard to case, as Windows compares them.
int machine_key_exists(const char* path) {
    sim_ensure_ready();
    const std::string key = path ? path : "";
    static const char MINI_NT[] = "system\\currentcontrolset\\control\\minint";
    bool found = stack().host.winpe && key.size() == std::strlen(MINI_NT);
    for (size_t i = 0; found && i < key.size(); ++i)
        found = std::tolower(static_cast<unsigned char>(key[i])) == MINI_NT[i];
    record("{\"op\":\"registry\",\"key\":" + json_text(key) +
           ",\"found\":" + (found ? "true" : "false") + "}");
    return found ? 1 : 0;
}

void system_time(SYSTEMTIME* time) {
    sim_ensure_ready();
    const Stack& s = stack();
    utc_fields(s.host.system_seconds, s.device_us / 1000u, time);
}

// A name of the host file as Windows' wide calls hand it over, converted to
// UTF-8: whole or not at all.
static uint32_t host_name(bool known, const std::string& name, char* buffer, uint32_t size) {
    if (!buffer || !known || name.empty() || name.size() >= size)
        return 0;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return static_cast<uint32_t>(name.size());
}

uint32_t computer_name(char* buffer, uint32_t size) {
    sim_ensure_ready();
    return host_name(true, stack().host.computer, buffer, size);
}

uint32_t account_name(char* buffer, uint32_t size) {
    sim_ensure_ready();
    const HostConfig& host = stack().host;
    return host_name(host.has_account, host.account, buffer, size);
}

int os_version(OSVERSIONINFOEXA* record) {
    sim_ensure_ready();
    Stack& s = stack();
    const OsConfig& os = s.host.os;
    uint8_t* p = reinterpret_cast<uint8_t*>(record);
    uint32_t size = record ? get_le32(p, 0) : 0;
    bool refused = os.fails || (os.ex_fails && size == OS_VERSION_EX_SIZE);
    if ((size != OS_VERSION_EX_SIZE && size != OS_VERSION_SIZE) || refused) {
        s.last_error = ERROR_INVALID_PARAMETER_CODE;
        return 0;
    }
    // Field by field as bytes: a 148-byte record has nothing after byte 147.
    put_le32(p, 4, os.major);
    put_le32(p, 8, os.minor);
    put_le32(p, 12, os.build);
    put_le32(p, 16, 2); // VER_PLATFORM_WIN32_NT
    std::memset(p + 20, 0, 128);
    std::memcpy(p + 20, os.csd.data(), os.csd.size()); // at most 127 bytes
    if (size == OS_VERSION_EX_SIZE) {
        put_le16(p, 148, 0);      // wServicePackMajor
        put_le16(p, 150, 0);      // wServicePackMinor
        put_le16(p, 152, 0x0100); // wSuiteMask: VER_SUITE_SINGLEUSERTS
        put_u8(p, 154, 1);        // wProductType: VER_NT_WORKSTATION
        put_u8(p, 155, 0);
    }
    return 1;
}
