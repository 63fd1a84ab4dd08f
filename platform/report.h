// The report pair: a line to the console and, when the log is open, the same
// text to the run's log block, which goes to the log file in one write at the
// end of the run.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/device.h"

#if defined(__GNUC__)
#define VELTRANE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VELTRANE_PRINTF(fmt, args)
#endif

// Far more than a run's lines: 64 LBA formats, 16 volume lines of up to 260
// bytes and the lines of every disk an erase reaches fit many times over.
constexpr uint32_t LOG_BLOCK_SIZE = 65536;

// The lines of one run, collected in order with the line ends of the host's
// text files, and the file they go to.
struct LogBlock {
    HANDLE file;
    uint32_t length;
    int overflowed; // a line did not fit: it and every later one are lost
    char text[LOG_BLOCK_SIZE];
};

// Opens the log file for appends and starts an empty block; 0 when the file
// cannot be opened.
int log_open(LogBlock* log, const char* path);
// Writes the whole block with one write and closes the file; 0 when the
// write failed or the block lost lines.
int log_close(LogBlock* log);

void report(LogBlock* log, const char* format, ...) VELTRANE_PRINTF(2, 3);
void log_only(LogBlock* log, const char* format, ...) VELTRANE_PRINTF(2, 3);

// A text a device reported, made safe to show: every byte outside 0x20..0x7E
// becomes '?', so that no control character or escape sequence reaches the
// console or the log and the text keeps its width.
void make_printable(char* text);
