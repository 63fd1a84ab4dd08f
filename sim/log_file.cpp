// The log file on the simulated host: a real file in the current directory,
// opened for appends, so that each write lands whole at its end.
#include "platform/device.h"
#include "sim/sim.h"

#include <fcntl.h>
#include <map>
#include <string>
#ifdef _WIN32
#include <io.h>
// The tool writes its line ends itself: no text mode.
#define open(path, flags, mode) _open(path, (flags) | _O_BINARY, mode)
#define write _write
#define close _close
#else
#include <unistd.h>
#endif

namespace {

// The writes made to each file, by the name it was opened with.
std::map<int, std::string> g_names;
std::map<std::string, int> g_writes;

} // namespace

HANDLE open_append(const char* path) {
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0666);
    if (fd >= 0)
        g_names[fd] = path;
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

int append_bytes(HANDLE file, const char* bytes, uint32_t size) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(file));
    ++g_writes[g_names[fd]];
    return write(fd, bytes, size) == static_cast<long>(size) ? 1 : 0;
}

void close_append(HANDLE file) {
    close(static_cast<int>(reinterpret_cast<intptr_t>(file)));
}

int sim_appends(const char* name) {
    return g_writes[name];
}
