#include "platform/report.h"

#include <cstdarg>

#ifdef _WIN32
constexpr int LOG_CR_LF = 1;
#else
constexpr int LOG_CR_LF = 0;
#endif

// The longest single report; the device texts in it are short and bounded.
constexpr uint32_t REPORT_LINE_SIZE = 1024;

int log_open(LogBlock* log, const char* path) {
    log->file = open_append(path);
    log->length = 0;
    log->overflowed = 0;
    return log->file != INVALID_HANDLE_VALUE;
}

int log_close(LogBlock* log) {
    const int written = append_bytes(log->file, log->text, log->length);
    close_append(log->file);
    log->file = INVALID_HANDLE_VALUE;
    return written && !log->overflowed;
}

static void add_to_block(LogBlock* log, const char* format, va_list args) {
    char line[REPORT_LINE_SIZE];
    const int length = vsnprintf(line, sizeof line, format, args);
    if (length < 0 || static_cast<uint32_t>(length) >= sizeof line)
        log->overflowed = 1;
    if (log->overflowed)
        return;
    // Windows text files end their lines in CR LF.
    uint32_t need = 0;
    for (int i = 0; i < length; ++i)
        need += line[i] == '\n' && LOG_CR_LF ? 2 : 1;
    if (log->length + need > LOG_BLOCK_SIZE) {
        log->overflowed = 1;
        return;
    }
    for (int i = 0; i < length; ++i) {
        if (line[i] == '\n' && LOG_CR_LF)
            log->text[log->length++] = '\r';
        log->text[log->length++] = line[i];
    }
}

void report(LogBlock* log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    if (log) {
        va_start(args, format);
        add_to_block(log, format, args);
        va_end(args);
    }
}

void log_only(LogBlock* log, const char* format, ...) {
    if (!log)
        return;
    va_list args;
    va_start(args, format);
    add_to_block(log, format, args);
    va_end(args);
}

void make_printable(char* text) {
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) < 0x20 || static_cast<unsigned char>(*text) > 0x7E)
            *text = '?';
}
