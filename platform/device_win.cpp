// Device access through Win32, for the Windows build.
#include "platform/device.h"

HANDLE open_device(const char* path, uint32_t share, uint32_t flags) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, share, NULL, OPEN_EXISTING, flags, NULL);
}

int device_control(HANDLE handle, uint32_t code, void* in, uint32_t in_size, void* out,
                   uint32_t out_size) {
    // Some drivers fault without a bytes-returned pointer on a synchronous
    // request, so one is always passed; nobody reads it.
    DWORD returned = 0;
    return DeviceIoControl(handle, code, in, in_size, out, out_size, &returned, NULL) ? 1 : 0;
}

uint32_t last_error() {
    return GetLastError();
}

void close_device(HANDLE handle) {
    CloseHandle(handle);
}

HANDLE open_volume(const char* path) {
    // No access rights: enough for volume queries, and no administrator
    // rights or lock on the volume are needed for it.
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

uint32_t windows_directory(char* buffer, uint32_t size) {
    // The system's own directory, not a terminal-server user's private copy.
    const UINT length = GetSystemWindowsDirectoryA(buffer, size);
    return length != 0 && length < size ? length : 0;
}

HANDLE find_first_volume(char* name, uint32_t size) {
    return FindFirstVolumeA(name, size);
}

int find_next_volume(HANDLE search, char* name, uint32_t size) {
    return FindNextVolumeA(search, name, size) ? 1 : 0;
}

void find_volume_close(HANDLE search) {
    FindVolumeClose(search);
}

int volume_path_names(const char* name, char* paths, uint32_t size) {
    DWORD length = 0;
    return GetVolumePathNamesForVolumeNameA(name, paths, size, &length) ? 1 : 0;
}

int read_disk(HANDLE disk, uint64_t offset, void* buffer, uint32_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(disk, position, NULL, FILE_BEGIN))
        return 0;
    DWORD read = 0;
    if (!ReadFile(disk, buffer, size, &read, NULL))
        return 0;
    if (read != size) {
        // The end of the disk came first: ReadFile succeeded with fewer bytes.
        SetLastError(ERROR_HANDLE_EOF);
        return 0;
    }
    return 1;
}

HANDLE open_append(const char* path) {
    // Append rights alone: every write goes to the end of the file as one
    // piece, whoever else appends meanwhile.
    return CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

int append_bytes(HANDLE file, const char* bytes, uint32_t size) {
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, NULL) && written == size ? 1 : 0;
}

void close_append(HANDLE file) {
    CloseHandle(file);
}

uint32_t tick_ms() {
    return GetTickCount();
}

void sleep_ms(uint32_t ms) {
    Sleep(ms);
}

// GetVersionExA is deprecated since Windows 8.1 but is exactly what the tool
// reports: the version the manifest's supportedOS entries allow it to see.
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#elif defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
int os_version(OSVERSIONINFOEXA* record) {
    return GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(record)) ? 1 : 0;
}
#if defined(_MSC_VER)
#pragma warning(pop)
#elif defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

int machine_key_exists(const char* path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    RegCloseKey(key);
    return 1;
}

void system_time(SYSTEMTIME* time) {
    GetSystemTime(time);
}

// A wide text as UTF-8 in `buffer`: its length in bytes, 0 when it does not
// fit.
static uint32_t utf8_of(const wchar_t* wide, char* buffer, uint32_t size) {
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, static_cast<int>(size), NULL, NULL);
    return written > 0 ? static_cast<uint32_t>(written - 1) : 0;
}

// Names longer than these are not names Windows gives: they count as unknown.
constexpr DWORD COMPUTER_NAME_HELD = 256;
constexpr DWORD ACCOUNT_NAME_HELD = 256;

uint32_t computer_name(char* buffer, uint32_t size) {
    // In: the buffer's size in characters; out: the name's length without
    // its zero.
    wchar_t name[COMPUTER_NAME_HELD];
    DWORD length = COMPUTER_NAME_HELD;
    if (!GetComputerNameW(name, &length) || length == 0 || length >= COMPUTER_NAME_HELD)
        return 0;
    return utf8_of(name, buffer, size);
}

uint32_t account_name(char* buffer, uint32_t size) {
    // The length without the zero when it fits; the size it needs, or 0 when
    // the variable is not set, otherwise.
    wchar_t name[ACCOUNT_NAME_HELD];
    const DWORD length = GetEnvironmentVariableW(L"USERNAME", name, ACCOUNT_NAME_HELD);
    if (length == 0 || length >= ACCOUNT_NAME_HELD)
        return 0;
    return utf8_of(name, buffer, size);
}
