#include "dialogue/report.h"

#include <cstdarg>

void report(FILE* log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    if (log) {
        va_start(args, format);
        vfprintf(log, format, args);
        va_end(args);
    }
}

void log_only(FILE* log, const char* format, ...) {
    if (!log)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(log, format, args);
    va_end(args);
}

void make_printable(char* text) {
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) < 0x20 || static_cast<unsigned char>(*text) > 0x7E)
            *text = '?';
}
