// The tool's own files through Win32, in every Windows program: names come
// as UTF-8 and are opened by their wide form, so that any name a station
// file or the command line gives reaches the file system as written.
#include "platform/files.h"

namespace {

// MAX_PATH and then some: longer names are not opened.
constexpr int WIDE_PATH_HELD = 1024;

// The wide form of a UTF-8 name; 0 when it does not fit or is not UTF-8.
int wide_of(const char* path, wchar_t* wide) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, WIDE_PATH_HELD);
}

HANDLE open_wide(const char* path, DWORD access, DWORD share, DWORD disposition) {
    wchar_t wide[WIDE_PATH_HELD];
    if (!wide_of(path, wide))
        return INVALID_HANDLE_VALUE;
    return CreateFileW(wide, access, share, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

} // namespace

HANDLE open_read(const char* path) {
    return open_wide(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
}

HANDLE open_record(const char* path) {
    // Append rights without write rights: every write goes to the end of
    // the file, wherever the reads left the position.
    return open_wide(path, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     OPEN_ALWAYS);
}

HANDLE create_file(const char* path) {
    return open_wide(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
}

int read_bytes(HANDLE file, void* buffer, uint32_t size, uint32_t* got) {
    DWORD read = 0;
    const int ok = ReadFile(file, buffer, size, &read, NULL) ? 1 : 0;
    *got = ok ? read : 0;
    return ok;
}

int read_at(HANDLE file, uint64_t offset, void* buffer, uint32_t size, uint32_t* got) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, position, NULL, FILE_BEGIN)) {
        *got = 0;
        return 0;
    }
    return read_bytes(file, buffer, size, got);
}

int file_size(HANDLE file, uint64_t* size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length))
        return 0;
    *size = static_cast<uint64_t>(length.QuadPart);
    return 1;
}

int lock_file(HANDLE file) {
    // Every byte the file has or will have; without LOCKFILE_FAIL_IMMEDIATELY
    // the call waits for another process's lock to go.
    OVERLAPPED from_start = {};
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from_start) ? 1 : 0;
}

void unlock_file(HANDLE file) {
    OVERLAPPED from_start = {};
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &from_start);
}

int write_bytes(HANDLE file, const void* bytes, uint32_t size) {
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, NULL) && written == size ? 1 : 0;
}

void close_file(HANDLE file) {
    CloseHandle(file);
}
