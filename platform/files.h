// Files the tool reads and writes in the current folder besides its log: the
// station file and its key, the erase record with its lock, the certificates
// page; and the command line as UTF-8. Names are UTF-8 (Windows converts them
// and opens with CreateFileW); each call is one Win32 call or two.
// Windows: platform/files_win.cpp in every Windows program; elsewhere the
// simulator's host (sim/files_posix.cpp), which uses the real file system.
#pragma once

#include <cstdint>

#include "platform/device.h"

// For reading only, shared with readers and writers: GENERIC_READ,
// FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING. INVALID_HANDLE_VALUE on
// failure (no such file among them).
HANDLE open_read(const char* path);

// The erase record: read and append (GENERIC_READ | FILE_APPEND_DATA, every
// write lands at the end), shared, created when missing (OPEN_ALWAYS).
HANDLE open_record(const char* path);

// A file made anew for writing (GENERIC_WRITE, no sharing, CREATE_ALWAYS).
HANDLE create_file(const char* path);

// ReadFile of at most `size` bytes at the file's position: 1 with the count
// in `got` (0 at the end of the file), 0 on failure.
int read_bytes(HANDLE file, void* buffer, uint32_t size, uint32_t* got);

// The same at byte `offset` (SetFilePointerEx, then ReadFile).
int read_at(HANDLE file, uint64_t offset, void* buffer, uint32_t size, uint32_t* got);

// GetFileSizeEx. 1 with the size, 0 on failure.
int file_size(HANDLE file, uint64_t* size);

// LockFileEx: an exclusive lock on the whole file, waiting as long as another
// process holds one. 1 once held. UnlockFileEx gives it back.
int lock_file(HANDLE file);
void unlock_file(HANDLE file);

// WriteFile of every byte: 1 when all were written.
int write_bytes(HANDLE file, const void* bytes, uint32_t size);

void close_file(HANDLE file);

// The command line's arguments as UTF-8: on Windows read again from the wide
// command line (msvcrt's __wgetmainargs), whatever code page the console
// has; elsewhere `argv` as it came. Replaces *argc and *argv; 0 when they
// cannot be read (then they stay as they were).
int utf8_arguments(int* argc, char*** argv);

#ifdef _WIN32
// msvcrt's wide counterpart of the arguments main receives; MinGW-w64 keeps
// its declaration among the runtime's internals.
struct _startupinfo {
    int newmode;
};
extern "C" __declspec(dllimport) int __cdecl __wgetmainargs(int* argc, wchar_t*** argv,
                                                            wchar_t*** env, int glob,
                                                            _startupinfo* info);
#endif
