// The report pair: a line to the console and, when the log is open, the same
// text to the log.
#pragma once

#include <cstdio>

#if defined(__GNUC__)
#define VELTRANE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VELTRANE_PRINTF(fmt, args)
#endif

void report(FILE* log, const char* format, ...) VELTRANE_PRINTF(2, 3);
void log_only(FILE* log, const char* format, ...) VELTRANE_PRINTF(2, 3);

// A text a device reported, made safe to show: every byte outside 0x20..0x7E
// becomes '?', so that no control character or escape sequence reaches the
// console or the log and the text keeps its width.
void make_printable(char* text);
