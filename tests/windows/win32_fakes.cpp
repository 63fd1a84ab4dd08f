// The Win32 layer (platform/device_win.cpp, console_win.cpp, process_win.cpp,
// files_win.cpp) against
// recording fakes, run under Wine, in the 32-bit and in the 64-bit build.
// Every Win32 and msvcrt function the layer calls is taken over at link time:
// the layer calls through the function's import slot (`__imp__Name@N` in the
// 32-bit build, `__imp_Name` in the 64-bit one), and this program defines
// those slots itself, pointing at fakes that record their arguments and
// answer as told. Each check below
// states what the layer must pass on, and what it must not do in between.
#include "platform/device.h"
#include "platform/files.h"

#include <conio.h>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <io.h>

namespace {

// One recorded call: the function's name and its arguments as words.
struct Call {
    const char* name;
    uintptr_t arg[8];
};

Call g_calls[16];
int g_call_count = 0;

// The fake thread's last-error code, and what the next calls answer.
DWORD g_last_error = 0;
struct Answers {
    uintptr_t result;
    DWORD error; // set as the last error when the call fails
    const char* text;
    DWORD count;    // bytes ReadFile reports read
    int seek_fails; // SetFilePointerEx fails with `error`
};
Answers g_answer;

int g_failures = 0;

void record(const char* name, uintptr_t a0 = 0, uintptr_t a1 = 0, uintptr_t a2 = 0,
            uintptr_t a3 = 0, uintptr_t a4 = 0, uintptr_t a5 = 0, uintptr_t a6 = 0,
            uintptr_t a7 = 0) {
    if (g_call_count < 16)
        g_calls[g_call_count] = Call{name, {a0, a1, a2, a3, a4, a5, a6, a7}};
    ++g_call_count;
}

template <typename T> uintptr_t word(T value) {
    return (uintptr_t)(value);
}

HANDLE WINAPI fake_CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE templ) {
    record("CreateFileA", word(path), access, share, word(sa), disposition, flags, word(templ));
    HANDLE handle = reinterpret_cast<HANDLE>(g_answer.result);
    if (handle == INVALID_HANDLE_VALUE)
        g_last_error = g_answer.error;
    return handle;
}

WINBOOL WINAPI fake_DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                    DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) {
    record("DeviceIoControl", word(handle), code, word(in), in_size, word(out), out_size,
           word(returned), word(overlapped));
    if (!g_answer.result)
        g_last_error = g_answer.error;
    return static_cast<WINBOOL>(g_answer.result);
}

DWORD WINAPI fake_GetLastError() {
    record("GetLastError");
    return g_last_error;
}

void WINAPI fake_SetLastError(DWORD error) {
    record("SetLastError", error);
    g_last_error = error;
}

WINBOOL WINAPI fake_WriteFile(HANDLE handle, LPCVOID bytes, DWORD size, LPDWORD written,
                              LPOVERLAPPED overlapped) {
    record("WriteFile", word(handle), word(bytes), size, word(written), word(overlapped));
    if (written)
        *written = static_cast<DWORD>(g_answer.result);
    return TRUE;
}

WINBOOL WINAPI fake_CloseHandle(HANDLE handle) {
    record("CloseHandle", word(handle));
    return TRUE;
}

UINT WINAPI fake_GetSystemWindowsDirectoryA(LPSTR buffer, UINT size) {
    record("GetSystemWindowsDirectoryA", word(buffer), size);
    // Like Windows: the text when it fits, else the size it needs.
    const UINT length = static_cast<UINT>(strlen(g_answer.text));
    if (length < size)
        memcpy(buffer, g_answer.text, length + 1);
    return length < size ? length : length + 1;
}

HANDLE WINAPI fake_FindFirstVolumeA(LPSTR name, DWORD size) {
    record("FindFirstVolumeA", word(name), size);
    return reinterpret_cast<HANDLE>(g_answer.result);
}

WINBOOL WINAPI fake_FindNextVolumeA(HANDLE search, LPSTR name, DWORD size) {
    record("FindNextVolumeA", word(search), word(name), size);
    return static_cast<WINBOOL>(g_answer.result);
}

WINBOOL WINAPI fake_FindVolumeClose(HANDLE search) {
    record("FindVolumeClose", word(search));
    return TRUE;
}

WINBOOL WINAPI fake_GetVolumePathNamesForVolumeNameA(LPCSTR name, LPCH paths, DWORD size,
                                                     PDWORD length) {
    record("GetVolumePathNamesForVolumeNameA", word(name), word(paths), size, word(length));
    return static_cast<WINBOOL>(g_answer.result);
}

// The position as its two halves, low first.
WINBOOL WINAPI fake_SetFilePointerEx(HANDLE handle, LARGE_INTEGER to, PLARGE_INTEGER now,
                                     DWORD method) {
    record("SetFilePointerEx", word(handle), to.LowPart, static_cast<uintptr_t>(to.HighPart),
           word(now), method);
    if (g_answer.seek_fails)
        g_last_error = g_answer.error;
    return !g_answer.seek_fails;
}

// Where ReadFile was told to put its count: recorded as this one address,
// so that any place the layer passes compares equal, and a null one does not.
DWORD g_read_count;

WINBOOL WINAPI fake_ReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read,
                             LPOVERLAPPED overlapped) {
    record("ReadFile", word(handle), word(buffer), size, read ? word(&g_read_count) : 0,
           word(overlapped));
    if (read)
        *read = g_answer.count;
    if (!g_answer.result)
        g_last_error = g_answer.error;
    return static_cast<WINBOOL>(g_answer.result);
}

void WINAPI fake_GetSystemTime(LPSYSTEMTIME time) {
    record("GetSystemTime", word(time));
    time->wYear = static_cast<WORD>(g_answer.result);
}

// UTF-8 and UTF-16 of the characters the checks use (the Basic
// Multilingual Plane), as Windows converts them.
int utf16_of(const char* text, wchar_t* out, int size) {
    int n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text);; ++n) {
        unsigned code = *p++;
        if (code >= 0xE0) {
            code = (code & 0x0F) << 12 | (p[0] & 0x3Fu) << 6 | (p[1] & 0x3Fu);
            p += 2;
        } else if (code >= 0xC0) {
            code = (code & 0x1F) << 6 | (p[0] & 0x3Fu);
            p += 1;
        }
        if (n < size)
            out[n] = static_cast<wchar_t>(code);
        if (code == 0)
            return n + 1;
    }
}

int utf8_of(const wchar_t* text, char* out, int size) {
    int n = 0;
    for (;; ++text) {
        const unsigned code = static_cast<unsigned>(*text);
        unsigned char bytes[3] = {static_cast<unsigned char>(code), 0, 0};
        int count = 1;
        if (code >= 0x800) {
            bytes[0] = static_cast<unsigned char>(0xE0 | code >> 12);
            bytes[1] = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            count = 3;
        } else if (code >= 0x80) {
            bytes[0] = static_cast<unsigned char>(0xC0 | code >> 6);
            bytes[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            count = 2;
        }
        if (n + count > size)
            return 0; // ERROR_INSUFFICIENT_BUFFER
        memcpy(out + n, bytes, count);
        n += count;
        if (code == 0)
            return n;
    }
}

WINBOOL WINAPI fake_GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    record("GetComputerNameW", word(buffer), *size);
    // Like Windows: the name and its length when it fits, else the size it
    // needs and a failure.
    wchar_t name[300];
    const DWORD length = static_cast<DWORD>(utf16_of(g_answer.text, name, 300) - 1);
    const bool fits = length < *size;
    if (fits)
        memcpy(buffer, name, (length + 1) * sizeof(wchar_t));
    *size = fits ? length : length + 1;
    return fits && g_answer.result;
}

DWORD WINAPI fake_GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    record("GetEnvironmentVariableW", name && wcscmp(name, L"USERNAME") == 0, word(buffer), size);
    // Like Windows: the length when it fits, else the size it needs; 0 for
    // a variable that is not set.
    if (!g_answer.result)
        return 0;
    wchar_t value[300];
    const DWORD length = static_cast<DWORD>(utf16_of(g_answer.text, value, 300) - 1);
    if (length >= size)
        return length + 1;
    memcpy(buffer, value, (length + 1) * sizeof(wchar_t));
    return length;
}

// The wide texts handed over, kept here: their places on the layer's stack
// are not known in advance, so they are recorded as these addresses.
wchar_t g_wide[1100];

int WINAPI fake_MultiByteToWideChar(UINT page, DWORD flags, LPCCH text, int length, LPWSTR out,
                                    int size) {
    record("MultiByteToWideChar", page, flags, word(text), static_cast<uintptr_t>(length),
           out ? word(g_wide) : 0, static_cast<uintptr_t>(size));
    const int needed = utf16_of(text, g_wide, 1100);
    if (needed > size)
        return 0;
    memcpy(out, g_wide, needed * sizeof(wchar_t));
    return needed;
}

int WINAPI fake_WideCharToMultiByte(UINT page, DWORD flags, LPCWCH text, int length, LPSTR out,
                                    int size, LPCCH fallback, LPBOOL used) {
    record("WideCharToMultiByte", page, flags, word(g_wide), static_cast<uintptr_t>(length),
           word(out), static_cast<uintptr_t>(size), word(fallback), word(used));
    wcsncpy(g_wide, text, 1099);
    return utf8_of(text, out, size);
}

HANDLE WINAPI fake_CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE templ) {
    record("CreateFileW", word(g_wide), access, share, word(sa), disposition, flags, word(templ));
    wcsncpy(g_wide, path, 1099);
    return reinterpret_cast<HANDLE>(g_answer.result);
}

WINBOOL WINAPI fake_GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    record("GetFileSizeEx", word(file), size != nullptr);
    if (size)
        size->QuadPart = 0x123456789LL;
    return static_cast<WINBOOL>(g_answer.result);
}

// An OVERLAPPED that names offset 0 and no event is recorded as 1.
uintptr_t from_start(LPOVERLAPPED o) {
    return o && o->Offset == 0 && o->OffsetHigh == 0 && o->hEvent == nullptr;
}

WINBOOL WINAPI fake_LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD low, DWORD high,
                               LPOVERLAPPED overlapped) {
    record("LockFileEx", word(file), flags, reserved, low, high, from_start(overlapped));
    return static_cast<WINBOOL>(g_answer.result);
}

WINBOOL WINAPI fake_UnlockFileEx(HANDLE file, DWORD reserved, DWORD low, DWORD high,
                                 LPOVERLAPPED overlapped) {
    record("UnlockFileEx", word(file), reserved, low, high, from_start(overlapped));
    return TRUE;
}

// The wide command line msvcrt hands over.
wchar_t g_arg0[] = L"veltrane.exe";
wchar_t g_arg1[] = L"--operator=Jos\u00e9 \u0418\u0432\u0430\u043d";
wchar_t g_arg2[] = L"2Y";
wchar_t* g_wide_argv[] = {g_arg0, g_arg1, g_arg2, nullptr};

int __cdecl fake_wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int glob,
                              _startupinfo* info) {
    record("__wgetmainargs", word(argc) != 0, word(argv) != 0, word(env) != 0,
           static_cast<uintptr_t>(glob), info ? static_cast<uintptr_t>(info->newmode) + 1 : 0);
    *argc = 3;
    *argv = g_wide_argv;
    *env = nullptr;
    return static_cast<int>(g_answer.result);
}

DWORD WINAPI fake_GetCurrentProcessId() {
    record("GetCurrentProcessId");
    return static_cast<DWORD>(g_answer.result);
}

DWORD WINAPI fake_GetTickCount() {
    record("GetTickCount");
    return static_cast<DWORD>(g_answer.result);
}

WINBOOL WINAPI fake_GetVersionExA(LPOSVERSIONINFOA record_) {
    record("GetVersionExA", word(record_));
    return static_cast<WINBOOL>(g_answer.result);
}

HANDLE WINAPI fake_GetStdHandle(DWORD which) {
    record("GetStdHandle", which);
    return reinterpret_cast<HANDLE>(0x5100);
}

WINBOOL WINAPI fake_GetConsoleMode(HANDLE handle, LPDWORD mode) {
    record("GetConsoleMode", word(handle), word(mode));
    return static_cast<WINBOOL>(g_answer.result);
}

void WINAPI fake_Sleep(DWORD ms) {
    record("Sleep", ms);
}

// A key that opens is this handle.
const HKEY OPENED_KEY = reinterpret_cast<HKEY>(0x4E7);

LSTATUS WINAPI fake_RegOpenKeyExA(HKEY key, LPCSTR path, DWORD options, REGSAM access,
                                  PHKEY opened) {
    record("RegOpenKeyExA", word(key), word(path), options, access, word(opened));
    const LSTATUS status = static_cast<LSTATUS>(g_answer.result);
    if (status == ERROR_SUCCESS)
        *opened = OPENED_KEY;
    return status;
}

LSTATUS WINAPI fake_RegCloseKey(HKEY key) {
    record("RegCloseKey", word(key));
    return ERROR_SUCCESS;
}

int __cdecl fake_kbhit() {
    record("_kbhit");
    return static_cast<int>(g_answer.result);
}

int __cdecl fake_getch() {
    record("_getch");
    return static_cast<int>(g_answer.result);
}

int __cdecl fake_setmode(int fd, int mode) {
    record("_setmode", static_cast<uintptr_t>(fd), static_cast<uintptr_t>(mode));
    return _O_TEXT;
}

} // namespace

// The import slots. The declared type is the SDK's own, so a fake whose
// signature or calling convention differs from the real function does not
// compile. SetLastError is called only after a short read: anywhere else a
// call shows in the record. A WINAPI function's slot in the 32-bit build
// carries the C prefix "_" and "@" the bytes of its arguments; the 64-bit
// build has one calling convention and no decoration.
#if defined(__i386__)
#define WINAPI_SLOT(name, bytes) "__imp__" #name "@" #bytes
#define CDECL_SLOT(name) "__imp__" #name
#else
#define WINAPI_SLOT(name, bytes) "__imp_" #name
#define CDECL_SLOT(name) "__imp_" #name
#endif
#define SLOT(function, symbol, fake)                                                               \
    extern "C" decltype(&function) const slot_##function asm(symbol) = fake

SLOT(CreateFileA, WINAPI_SLOT(CreateFileA, 28), fake_CreateFileA);
SLOT(DeviceIoControl, WINAPI_SLOT(DeviceIoControl, 32), fake_DeviceIoControl);
SLOT(GetLastError, WINAPI_SLOT(GetLastError, 0), fake_GetLastError);
SLOT(SetLastError, WINAPI_SLOT(SetLastError, 4), fake_SetLastError);
SLOT(WriteFile, WINAPI_SLOT(WriteFile, 20), fake_WriteFile);
SLOT(CloseHandle, WINAPI_SLOT(CloseHandle, 4), fake_CloseHandle);
SLOT(GetSystemWindowsDirectoryA, WINAPI_SLOT(GetSystemWindowsDirectoryA, 8),
     fake_GetSystemWindowsDirectoryA);
SLOT(FindFirstVolumeA, WINAPI_SLOT(FindFirstVolumeA, 8), fake_FindFirstVolumeA);
SLOT(FindNextVolumeA, WINAPI_SLOT(FindNextVolumeA, 12), fake_FindNextVolumeA);
SLOT(FindVolumeClose, WINAPI_SLOT(FindVolumeClose, 4), fake_FindVolumeClose);
SLOT(GetVolumePathNamesForVolumeNameA, WINAPI_SLOT(GetVolumePathNamesForVolumeNameA, 16),
     fake_GetVolumePathNamesForVolumeNameA);
SLOT(SetFilePointerEx, WINAPI_SLOT(SetFilePointerEx, 20), fake_SetFilePointerEx);
SLOT(ReadFile, WINAPI_SLOT(ReadFile, 20), fake_ReadFile);
SLOT(GetTickCount, WINAPI_SLOT(GetTickCount, 0), fake_GetTickCount);
SLOT(GetSystemTime, WINAPI_SLOT(GetSystemTime, 4), fake_GetSystemTime);
SLOT(GetComputerNameW, WINAPI_SLOT(GetComputerNameW, 8), fake_GetComputerNameW);
SLOT(GetEnvironmentVariableW, WINAPI_SLOT(GetEnvironmentVariableW, 12),
     fake_GetEnvironmentVariableW);
SLOT(MultiByteToWideChar, WINAPI_SLOT(MultiByteToWideChar, 24), fake_MultiByteToWideChar);
SLOT(WideCharToMultiByte, WINAPI_SLOT(WideCharToMultiByte, 32), fake_WideCharToMultiByte);
SLOT(CreateFileW, WINAPI_SLOT(CreateFileW, 28), fake_CreateFileW);
SLOT(GetFileSizeEx, WINAPI_SLOT(GetFileSizeEx, 8), fake_GetFileSizeEx);
SLOT(LockFileEx, WINAPI_SLOT(LockFileEx, 24), fake_LockFileEx);
SLOT(UnlockFileEx, WINAPI_SLOT(UnlockFileEx, 20), fake_UnlockFileEx);
SLOT(__wgetmainargs, CDECL_SLOT(__wgetmainargs), fake_wgetmainargs);
SLOT(GetCurrentProcessId, WINAPI_SLOT(GetCurrentProcessId, 0), fake_GetCurrentProcessId);
SLOT(GetVersionExA, WINAPI_SLOT(GetVersionExA, 4), fake_GetVersionExA);
SLOT(RegOpenKeyExA, WINAPI_SLOT(RegOpenKeyExA, 20), fake_RegOpenKeyExA);
SLOT(RegCloseKey, WINAPI_SLOT(RegCloseKey, 4), fake_RegCloseKey);
SLOT(GetStdHandle, WINAPI_SLOT(GetStdHandle, 4), fake_GetStdHandle);
SLOT(GetConsoleMode, WINAPI_SLOT(GetConsoleMode, 8), fake_GetConsoleMode);
SLOT(Sleep, WINAPI_SLOT(Sleep, 4), fake_Sleep);
SLOT(_kbhit, CDECL_SLOT(_kbhit), fake_kbhit);
SLOT(_getch, CDECL_SLOT(_getch), fake_getch);
SLOT(_setmode, CDECL_SLOT(_setmode), fake_setmode);

namespace {

void start(uintptr_t result, DWORD error = 0, const char* text = "") {
    g_call_count = 0;
    g_answer = Answers{result, error, text, 0, 0};
    g_last_error = 0x55; // stale: a layer that reads too early gets this
}

void check(bool ok, const char* what) {
    if (!ok) {
        ++g_failures;
        printf("FAIL: %s\n", what);
    }
}

void check_eq(uint32_t got, uint32_t want, const char* what) {
    if (got != want) {
        ++g_failures;
        printf("FAIL: %s: got 0x%lx, want 0x%lx\n", what, static_cast<unsigned long>(got),
               static_cast<unsigned long>(want));
    }
}

// The record holds exactly these calls, by name and first arguments.
struct Expected {
    const char* name;
    int argc;
    uintptr_t arg[8];
};

void expect_calls(const char* what, const Expected* expected, int count) {
    bool same = g_call_count == count;
    for (int i = 0; same && i < count; ++i) {
        same = strcmp(g_calls[i].name, expected[i].name) == 0;
        for (int a = 0; same && a < expected[i].argc; ++a)
            same = g_calls[i].arg[a] == expected[i].arg[a];
    }
    if (same)
        return;
    ++g_failures;
    printf("FAIL: %s: the calls made were\n", what);
    for (int i = 0; i < g_call_count && i < 16; ++i) {
        printf("    %s(", g_calls[i].name);
        for (int a = 0; a < 8; ++a)
            printf(a ? ", 0x%lx" : "0x%lx", static_cast<unsigned long>(g_calls[i].arg[a]));
        printf(")\n");
    }
    printf("  expected\n");
    for (int i = 0; i < count; ++i) {
        printf("    %s(", expected[i].name);
        for (int a = 0; a < expected[i].argc; ++a)
            printf(a ? ", 0x%lx" : "0x%lx", static_cast<unsigned long>(expected[i].arg[a]));
        printf(")\n");
    }
}

const HANDLE DEVICE = reinterpret_cast<HANDLE>(0x1234);

void opens() {
    // One CreateFileA each: no security attributes, no template. The drive
    // read and write, OPEN_EXISTING, share mode and attributes as asked, each
    // in its own place; the volume for queries only; the log for appending,
    // shared, created when missing.
    static const char path[] = "\\\\.\\PhysicalDrive3";
    static const char volume[] = "\\\\.\\C:";
    static const char log[] = "veltrane-log.txt";
    const uintptr_t shared = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const uintptr_t rw = GENERIC_READ | GENERIC_WRITE;
    const struct {
        const char* what;
        HANDLE (*open)();
        uintptr_t arg[7];
    } rows[] = {
        {"open_device, the dialogue's exclusive handle",
         [] { return open_device(path, 0, FILE_ATTRIBUTE_NORMAL); },
         {word(path), rw, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0}},
        {"open_device, a short-lived query handle",
         [] { return open_device(path, shared, 0); },
         {word(path), rw, shared, 0, OPEN_EXISTING, 0, 0}},
        {"open_volume: no access rights, read/write sharing",
         [] { return open_volume(volume); },
         {word(volume), 0, shared, 0, OPEN_EXISTING, 0, 0}},
        {"open_append",
         [] { return open_append(log); },
         {word(log), FILE_APPEND_DATA, shared, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0}},
    };
    for (const auto& row : rows) {
        start(word(DEVICE));
        check(row.open() == DEVICE, row.what);
        Expected call = {"CreateFileA", 7, {}};
        memcpy(call.arg, row.arg, sizeof row.arg);
        expect_calls(row.what, &call, 1);
    }
    for (void (*closer)(HANDLE) : {close_device, close_append}) {
        start(0);
        closer(DEVICE);
        const Expected calls[] = {{"CloseHandle", 1, {word(DEVICE)}}};
        expect_calls("close_device, close_append", calls, 1);
    }
}

// The log block in one WriteFile, which fails unless every byte went.
void log_writes() {
    static const char block[] = "v0.7a\r\n";
    static const uintptr_t counts[] = {7, 6};
    for (uintptr_t written : counts) {
        start(written);
        check(append_bytes(DEVICE, block, 7) == (written == 7), "append_bytes: all bytes or 0");
        const Expected write[] = {{"WriteFile", 3, {word(DEVICE), word(block), 7}}};
        expect_calls("append_bytes: one WriteFile", write, 1);
        check(g_call_count < 1 || (g_calls[0].arg[3] != 0 && g_calls[0].arg[4] == 0),
              "WriteFile gets a count pointer and no OVERLAPPED");
    }
}

void device_controls() {
    uint8_t in[12];
    uint8_t out[40];
    const struct {
        const char* what;
        uintptr_t answer;
        int result;
    } rows[] = {{"device_control that succeeds", TRUE, 1}, {"device_control that fails", FALSE, 0}};
    for (const auto& row : rows) {
        start(row.answer, 0x1F);
        check(device_control(DEVICE, IOCTL_STORAGE_QUERY_PROPERTY, in, sizeof in, out,
                             sizeof out) == row.result,
              row.what);
        // A bytes-returned pointer, which some drivers write without
        // looking, and no OVERLAPPED: the request is synchronous.
        check(g_call_count < 1 || g_calls[0].arg[6] != 0,
              "device_control passes a bytes-returned pointer");
        check(g_call_count < 1 || g_calls[0].arg[7] == 0, "device_control passes no OVERLAPPED");
        const Expected calls[] = {{"DeviceIoControl",
                                   6,
                                   {word(DEVICE), IOCTL_STORAGE_QUERY_PROPERTY, word(in), sizeof in,
                                    word(out), sizeof out}}};
        expect_calls(row.what, calls, 1);
    }

    // No input: a null pointer and size 0 go through as they are.
    start(TRUE);
    device_control(DEVICE, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, out, 8);
    const Expected no_input[] = {
        {"DeviceIoControl", 6, {word(DEVICE), IOCTL_SCSI_GET_ADDRESS, 0, 0, word(out), 8}}};
    expect_calls("device_control without input", no_input, 1);
}

void last_errors() {
    // The code of the failing call, read with nothing in between: no other
    // call may overwrite the thread's last error first.
    start(FALSE, 0x1F);
    device_control(DEVICE, IOCTL_SCSI_MINIPORT, nullptr, 0, nullptr, 0);
    uint32_t error = last_error();
    check_eq(error, 0x1F, "last_error after a failed device_control");
    const Expected after_control[] = {{"DeviceIoControl", 2, {word(DEVICE), IOCTL_SCSI_MINIPORT}},
                                      {"GetLastError", 0, {}}};
    expect_calls("last_error after a failed device_control", after_control, 2);

    start(word(INVALID_HANDLE_VALUE), 2);
    check(open_device("\\\\.\\SCSI9:", 0, FILE_ATTRIBUTE_NORMAL) == INVALID_HANDLE_VALUE,
          "a failed open returns INVALID_HANDLE_VALUE");
    error = last_error();
    check_eq(error, 2, "last_error after a failed open");
    const Expected after_open[] = {{"CreateFileA", 0, {}}, {"GetLastError", 0, {}}};
    expect_calls("last_error after a failed open", after_open, 2);
}

void host_facts() {
    // The system's own Windows directory, not a per-user one; the computer's
    // name and the account, from the wide calls, as UTF-8. Each into the
    // caller's buffer, whole or not at all.
    char buffer[16];
    const struct {
        const char* what;
        uint32_t (*get)(char*, uint32_t);
        const char* call;
        const char* text;
        uintptr_t answer;
        uint32_t result;
    } rows[] = {
        {"windows_directory that fits", windows_directory, "GetSystemWindowsDirectoryA",
         "C:\\WINDOWS", 0, 10},
        {"windows_directory that fills the buffer to its last byte", windows_directory,
         "GetSystemWindowsDirectoryA", "C:\\WINDOWS\\abcd", 0, 15},
        {"windows_directory that does not fit", windows_directory, "GetSystemWindowsDirectoryA",
         "C:\\WINDOWS\\abcde", 0, 0},
        {"windows_directory that cannot be read", windows_directory, "GetSystemWindowsDirectoryA",
         "", 0, 0},
        {"computer_name that fits", computer_name, "GetComputerNameW", "DESK-Jos\xc3\xa9", TRUE,
         10},
        {"computer_name that fills the buffer to its last byte", computer_name, "GetComputerNameW",
         "DESKTOP-7654321", TRUE, 15},
        {"computer_name whose UTF-8 does not fit", computer_name, "GetComputerNameW",
         "DESKTOP-\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd", TRUE, 0},
        {"computer_name that cannot be read", computer_name, "GetComputerNameW", "DESK", FALSE, 0},
        {"account_name", account_name, "GetEnvironmentVariableW",
         "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd", TRUE, 8},
        {"account_name without USERNAME", account_name, "GetEnvironmentVariableW", "", FALSE, 0},
    };
    for (const auto& row : rows) {
        memset(buffer, 0x7E, sizeof buffer);
        start(row.answer, 0, row.text);
        check_eq(row.get(buffer, sizeof buffer), row.result, row.what);
        if (row.result)
            check(strcmp(buffer, row.text) == 0, row.what);
        const Expected directory[] = {{row.call, 2, {word(buffer), sizeof buffer}}};
        const Expected wide[] = {
            {row.call, row.get == account_name, {1}},
            {"WideCharToMultiByte",
             6,
             {CP_UTF8, 0, word(g_wide), static_cast<uintptr_t>(-1), word(buffer), sizeof buffer}}};
        if (row.get == windows_directory)
            expect_calls(row.what, directory, 1);
        else
            expect_calls(row.what, wide, row.answer ? 2 : 1);
    }
    start(TRUE, 0, "");
    static char long_name[400];
    memset(long_name, 'a', 300);
    g_answer.text = long_name;
    check_eq(account_name(buffer, sizeof buffer), 0, "account_name too long for Windows' names");

    start(0xFFFFFF00u);
    check_eq(tick_ms(), 0xFFFFFF00u, "tick_ms is GetTickCount, all 32 bits");
    start(4242);
    check_eq(process_id(), 4242, "process_id is GetCurrentProcessId");
    SYSTEMTIME time;
    start(2031);
    system_time(&time);
    check_eq(time.wYear, 2031, "system_time is GetSystemTime's");
    const Expected time_calls[] = {{"GetSystemTime", 1, {word(&time)}}};
    expect_calls("system_time: GetSystemTime, UTC", time_calls, 1);

    OSVERSIONINFOEXA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = OS_VERSION_EX_SIZE;
    start(FALSE, 87);
    check(os_version(&version) == 0, "os_version fails as GetVersionExA does");
    const Expected version_calls[] = {{"GetVersionExA", 1, {word(&version)}}};
    expect_calls("os_version hands over the caller's record", version_calls, 1);

    // A key under HKEY_LOCAL_MACHINE, opened for reading into a place of the
    // layer's own, and closed when it opened; nothing to close otherwise.
    static const char key[] = "SYSTEM\\CurrentControlSet\\Control\\MiniNT";
    const struct {
        const char* what;
        uintptr_t status; // RegOpenKeyExA's answer
        int result;
    } registry[] = {{"machine_key_exists, the key there", ERROR_SUCCESS, 1},
                    {"machine_key_exists, no such key", ERROR_FILE_NOT_FOUND, 0},
                    {"machine_key_exists, the key not readable", ERROR_ACCESS_DENIED, 0}};
    for (const auto& row : registry) {
        start(row.status);
        check(machine_key_exists(key) == row.result, row.what);
        const Expected calls[] = {
            {"RegOpenKeyExA", 4, {word(HKEY_LOCAL_MACHINE), word(key), 0, KEY_READ}},
            {"RegCloseKey", 1, {word(OPENED_KEY)}}};
        expect_calls(row.what, calls, row.result ? 2 : 1);
        check(g_call_count < 1 || g_calls[0].arg[4] != 0, "RegOpenKeyExA gets a place for the key");
    }
}

void files() {
    // Opened by their wide names: the UTF-8 name converted, refused when it
    // is not UTF-8, then CreateFileW with the access, sharing and
    // disposition of each use.
    static const char path[] = "caf\xc3\xa9.key";
    const uintptr_t shared = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const struct {
        const char* what;
        HANDLE (*open)(const char*);
        uintptr_t access, share, disposition;
    } opens[] = {
        {"open_read", open_read, GENERIC_READ, shared, OPEN_EXISTING},
        {"open_record: read and append, shared", open_record, GENERIC_READ | FILE_APPEND_DATA,
         shared, OPEN_ALWAYS},
        {"create_file", create_file, GENERIC_WRITE, 0, CREATE_ALWAYS},
    };
    for (const auto& row : opens) {
        start(word(DEVICE));
        check(row.open(path) == DEVICE, row.what);
        check(wcscmp(g_wide, L"caf\u00e9.key") == 0, row.what);
        const Expected calls[] = {
            {"MultiByteToWideChar",
             6,
             {CP_UTF8, MB_ERR_INVALID_CHARS, word(path), static_cast<uintptr_t>(-1), word(g_wide),
              1024}},
            {"CreateFileW",
             7,
             {word(g_wide), row.access, row.share, 0, row.disposition, FILE_ATTRIBUTE_NORMAL, 0}}};
        expect_calls(row.what, calls, 2);
    }
    // The whole file locked, waiting; a lock that fails is no lock.
    for (uintptr_t answer : {TRUE, FALSE}) {
        start(answer);
        check_eq(lock_file(DEVICE), answer, "lock_file");
        unlock_file(DEVICE);
        const Expected calls[] = {
            {"LockFileEx", 6, {word(DEVICE), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, 1}},
            {"UnlockFileEx", 5, {word(DEVICE), 0, MAXDWORD, MAXDWORD, 1}}};
        expect_calls("lock_file, unlock_file: every byte, from offset 0", calls, 2);
    }
    uint64_t size = 0;
    start(TRUE);
    check(file_size(DEVICE, &size) == 1 && size == 0x123456789ull, "file_size");
    const Expected size_calls[] = {{"GetFileSizeEx", 2, {word(DEVICE), 1}}};
    expect_calls("file_size", size_calls, 1);
    // Reads at the position, or at an offset; a write of every byte.
    static char bytes[100];
    uint32_t got = 7;
    start(TRUE);
    g_answer.count = 60;
    check(read_bytes(DEVICE, bytes, sizeof bytes, &got) == 1 && got == 60, "read_bytes");
    check(read_at(DEVICE, 0x100000002ull, bytes, sizeof bytes, &got) == 1 && got == 60, "read_at");
    check(write_bytes(DEVICE, bytes, 1) == 1, "write_bytes");
    close_file(DEVICE);
    const Expected io_calls[] = {
        {"ReadFile", 5, {word(DEVICE), word(bytes), sizeof bytes, word(&g_read_count), 0}},
        {"SetFilePointerEx", 5, {word(DEVICE), 2, 1, 0, FILE_BEGIN}},
        {"ReadFile", 5, {word(DEVICE), word(bytes), sizeof bytes, word(&g_read_count), 0}},
        {"WriteFile", 3, {word(DEVICE), word(bytes), 1}},
        {"CloseHandle", 1, {word(DEVICE)}}};
    expect_calls("read_bytes, read_at, write_bytes, close_file", io_calls, 5);
    start(FALSE, 0x21);
    check(read_bytes(DEVICE, bytes, sizeof bytes, &got) == 0 && got == 0, "read_bytes that fails");

    // The wide command line, every argument as UTF-8; msvcrt is given a
    // startup record, no wildcard expansion.
    int argc = 0;
    char** argv = nullptr;
    start(0);
    check(utf8_arguments(&argc, &argv) == 1 && argc == 3 &&
              strcmp(argv[1], "--operator=Jos\xc3\xa9 \xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd") == 0 &&
              strcmp(argv[2], "2Y") == 0 && argv[3] == nullptr,
          "utf8_arguments");
    const Expected args[] = {
        {"__wgetmainargs", 5, {1, 1, 1, 0, 1}},
        {"WideCharToMultiByte", 4, {CP_UTF8, 0, word(g_wide), static_cast<uintptr_t>(-1)}},
        {"WideCharToMultiByte", 4, {CP_UTF8, 0, word(g_wide), static_cast<uintptr_t>(-1)}},
        {"WideCharToMultiByte", 4, {CP_UTF8, 0, word(g_wide), static_cast<uintptr_t>(-1)}}};
    expect_calls("utf8_arguments", args, 4);
}

void volumes() {
    // The search hands over the caller's buffer and closes its handle.
    char name[50];
    const HANDLE search = reinterpret_cast<HANDLE>(0x5EA);
    start(word(search));
    check(find_first_volume(name, sizeof name) == search, "find_first_volume");
    g_answer.result = FALSE;
    check(find_next_volume(search, name, sizeof name) == 0, "find_next_volume at the end");
    find_volume_close(search);
    const Expected search_calls[] = {
        {"FindFirstVolumeA", 2, {word(name), sizeof name}},
        {"FindNextVolumeA", 3, {word(search), word(name), sizeof name}},
        {"FindVolumeClose", 1, {word(search)}}};
    expect_calls("the volume search", search_calls, 3);
    static const char volume[] = "\\\\?\\Volume{x}\\";
    start(TRUE);
    check(volume_path_names(volume, name, sizeof name) == 1, "volume_path_names");
    check(g_call_count == 1 && g_calls[0].arg[3] != 0, "the path names' length has a place");
    const Expected calls[] = {
        {"GetVolumePathNamesForVolumeNameA", 3, {word(volume), word(name), sizeof name}}};
    expect_calls("volume_path_names hands over the caller's buffer", calls, 1);
}

void reads() {
    alignas(4096) static uint8_t buffer[8192];
    const uint64_t offset = 0x123456789000ull;
    const struct {
        const char* what;
        int seek_fails;
        uintptr_t read; // ReadFile's answer
        DWORD count;    // and the bytes it reports
        int result;
        DWORD error; // last_error afterwards
    } rows[] = {{"read_disk that reads every byte", 0, TRUE, 8192, 1, 0},
                {"read_disk whose ReadFile fails", 0, FALSE, 0, 0, 0x17},
                {"read_disk that reads short", 0, TRUE, 4096, 0, ERROR_HANDLE_EOF},
                {"read_disk whose seek fails", 1, FALSE, 0, 0, 0x57}};
    for (const auto& row : rows) {
        start(row.read, row.error);
        g_answer.count = row.count;
        g_answer.seek_fails = row.seek_fails;
        check(read_disk(DEVICE, offset, buffer, sizeof buffer) == row.result, row.what);
        // The position in its two halves, no new-position pointer, from the
        // start; then a synchronous read into the caller's buffer.
        const Expected calls[] = {
            {"SetFilePointerEx", 5, {word(DEVICE), 0x56789000u, 0x1234u, 0, FILE_BEGIN}},
            {"ReadFile", 5, {word(DEVICE), word(buffer), sizeof buffer, word(&g_read_count), 0}},
            {"SetLastError", 1, {ERROR_HANDLE_EOF}}};
        const int made = row.seek_fails ? 1 : row.count == sizeof buffer || !row.read ? 2 : 3;
        expect_calls(row.what, calls, made);
        if (!row.result)
            check_eq(last_error(), row.error, row.what);
    }
}

void standard_streams() {
    // Standard input (descriptor 0) in binary mode: nothing else is touched.
    start(0);
    ready_standard_streams();
    const Expected calls[] = {{"_setmode", 2, {0, _O_BINARY}}};
    expect_calls("ready_standard_streams", calls, 1);
}

void key_wait() {
    // Only a console on standard input counts: a process can have a console
    // while its answers come from a pipe or a file.
    const struct {
        const char* what;
        uintptr_t console_mode;
        int result;
    } rows[] = {{"key_wait_begin, standard input a console", TRUE, 1},
                {"key_wait_begin, standard input a pipe or file", FALSE, 0}};
    for (const auto& row : rows) {
        start(row.console_mode);
        check(key_wait_begin() == row.result, row.what);
        const Expected calls[] = {{"GetStdHandle", 1, {STD_INPUT_HANDLE}},
                                  {"GetConsoleMode", 1, {0x5100}}};
        expect_calls(row.what, calls, 2);
        check(g_call_count < 2 || g_calls[1].arg[1] != 0, "GetConsoleMode gets a mode pointer");
    }

    start(0);
    key_wait_end();
    expect_calls("key_wait_end", nullptr, 0);

    // The keys come from the console itself, not from standard input.
    start(0);
    check(console_key_waiting() == 0, "console_key_waiting without a key");
    start(4);
    check(console_key_waiting() == 1, "console_key_waiting with a key");
    const Expected kbhit[] = {{"_kbhit", 0, {}}};
    expect_calls("console_key_waiting", kbhit, 1);

    start('k');
    check(console_read_key() == 'k', "console_read_key");
    const Expected getch[] = {{"_getch", 0, {}}};
    expect_calls("console_read_key", getch, 1);

    start(0);
    idle_ms(50);
    const Expected sleep[] = {{"Sleep", 1, {50}}};
    expect_calls("idle_ms", sleep, 1);

    start(0);
    sleep_ms(1000);
    const Expected poll[] = {{"Sleep", 1, {1000}}};
    expect_calls("sleep_ms", poll, 1);
}

} // namespace

int main() {
    opens();
    log_writes();
    device_controls();
    last_errors();
    host_facts();
    files();
    volumes();
    reads();
    standard_streams();
    key_wait();
    printf(g_failures ? "%d checks failed\n" : "all checks passed\n", g_failures);
    return g_failures ? 1 : 0;
}
