// The process's own id and its command line on Win32, shared by every Windows
// program of the project: the tool and its build on the simulated storage
// stack.
#include "platform/device.h"
#include "platform/files.h"

uint32_t process_id() {
    return GetCurrentProcessId();
}

namespace {

// A command line holds at most 32767 UTF-16 units, each at most 3 bytes of
// UTF-8, and at most one argument for every two units.
constexpr int COMMAND_LINE_UNITS = 32768;
char g_text[3 * COMMAND_LINE_UNITS];
char* g_argv[COMMAND_LINE_UNITS / 2 + 2];

} // namespace

int utf8_arguments(int* argc, char*** argv) {
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    _startupinfo info = {0}; // msvcrt reads it: the allocator's mode as it is
    // No wildcard expansion: the arguments as typed.
    if (__wgetmainargs(&count, &wide, &environment, 0, &info) < 0 || !wide || count < 1 ||
        count > COMMAND_LINE_UNITS / 2)
        return 0;
    int used = 0;
    for (int i = 0; i < count; ++i) {
        const int written = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, g_text + used,
                                                static_cast<int>(sizeof g_text) - used, NULL, NULL);
        if (written <= 0)
            return 0;
        g_argv[i] = g_text + used;
        used += written;
    }
    g_argv[count] = nullptr;
    *argc = count;
    *argv = g_argv;
    return 1;
}
