// Device access: the few operating-system operations every transport and the
// dialogue rest on. Windows serves them through Win32 (device_win.cpp); every
// other host through the simulated storage stack (sim/).
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#else
#include "platform/win_names.h"
#endif

// Sizes of the two version records tried in turn.
constexpr uint32_t OS_VERSION_EX_SIZE = 156; // OSVERSIONINFOEXA
constexpr uint32_t OS_VERSION_SIZE = 148;    // OSVERSIONINFOA

// Makes sure the standard input, output and error streams are open before
// the program opens anything else (POSIX: a closed one is opened on
// /dev/null). Called first thing in main.
void ready_standard_streams();

// CreateFileA with GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, no security
// attributes and no template. Returns INVALID_HANDLE_VALUE on failure.
HANDLE open_device(const char* path, uint32_t share, uint32_t flags);

// Synchronous DeviceIoControl; the bytes-returned count is not kept.
// Nonzero on success.
int device_control(HANDLE handle, uint32_t code, void* in, uint32_t in_size, void* out,
                   uint32_t out_size);

uint32_t last_error();
void close_device(HANDLE handle);

// A volume opened for queries only: CreateFileA with no access rights,
// FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, flags 0. Returns
// INVALID_HANDLE_VALUE on failure.
HANDLE open_volume(const char* path);

// The running system's Windows directory (GetSystemWindowsDirectoryA) in
// `buffer` of `size` bytes, zero-terminated: its length, 0 when it cannot be
// read or does not fit.
uint32_t windows_directory(char* buffer, uint32_t size);

// Volume enumeration: FindFirstVolumeA, FindNextVolumeA, FindVolumeClose.
// Each hands out one volume name ("\\?\Volume{...}\", trailing backslash
// kept) into `name` of `size` bytes. find_first_volume returns the search
// handle, INVALID_HANDLE_VALUE on failure; find_next_volume 0 at the end (last
// error 18) or on failure.
HANDLE find_first_volume(char* name, uint32_t size);
int find_next_volume(HANDLE search, char* name, uint32_t size);
void find_volume_close(HANDLE search);

// GetVolumePathNamesForVolumeNameA: the drive letters and folders where the
// volume `name` (trailing backslash kept) is mounted, as zero-terminated
// texts one after another, the list ended by an empty one. Nonzero on
// success.
int volume_path_names(const char* name, char* paths, uint32_t size);

// SetFilePointerEx to `offset` from the start, then ReadFile of `size` bytes
// into `buffer`. 1 when every byte was read; 0 otherwise, with the last error
// of the failing call (ERROR_HANDLE_EOF, 38, for a short read).
int read_disk(HANDLE disk, uint64_t offset, void* buffer, uint32_t size);

// The log file: opened for appending only (created when missing), shared for
// reading and writing with other processes, so that each write lands whole
// at the end of the file however many runs append to it at once
// (Windows: CreateFileA with FILE_APPEND_DATA; POSIX: O_APPEND).
// INVALID_HANDLE_VALUE on failure.
HANDLE open_append(const char* path);
// One write of `size` bytes at the end of the file; 1 when all were written.
int append_bytes(HANDLE file, const char* bytes, uint32_t size);
void close_append(HANDLE file);

// Milliseconds since boot, 32-bit, wrapping.
uint32_t tick_ms();

// Waits `ms` milliseconds (Sleep); the simulated host only moves its clock
// on by them.
void sleep_ms(uint32_t ms);

// GetVersionExA on a record whose dwOSVersionInfoSize is already set.
int os_version(OSVERSIONINFOEXA* record);

// Whether the key `path` exists under HKEY_LOCAL_MACHINE: RegOpenKeyExA for
// reading, then RegCloseKey of what it opened. A key that cannot be opened
// counts as absent.
int machine_key_exists(const char* path);

// The current time in UTC (GetSystemTime).
void system_time(SYSTEMTIME* time);

// The computer's name (GetComputerNameW) and the account the USERNAME
// variable names (GetEnvironmentVariableW), as UTF-8 in `buffer` of `size`
// bytes, zero-terminated: the length in bytes, 0 when unknown or when it does
// not fit. The simulator serves both from its host file.
uint32_t computer_name(char* buffer, uint32_t size);
uint32_t account_name(char* buffer, uint32_t size);

// The running process's id (GetCurrentProcessId).
uint32_t process_id();

// The final key wait. key_wait_begin: whether standard input is an
// interactive console, the only place an operator can press a key; when it
// is, keys are read without echo until key_wait_end. Then whether a key press
// is waiting, and reading one.
int key_wait_begin();
void key_wait_end();
int console_key_waiting();
int console_read_key();
void idle_ms(uint32_t ms);
