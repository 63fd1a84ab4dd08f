// The log file on the simulated host: a real file in the current directory,
// opened for appends, so that each write lands whole at its end.
#include "platform/device.h"
#include "sim/sim.h"

#include <fcntl.h>
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

int g_writes = 0;

} // namespace

HANDLE open_append(const char* path) {
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0666);
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

int append_bytes(HANDLE file, const char* bytes, uint32_t size) {
    ++g_writes;
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(file));
    return write(fd, bytes, size) == static_cast<long>(size) ? 1 : 0;
}

void close_append(HANDLE file) {
    close(static_cast<int>(reinterpret_cast<intptr_t>(file)));
}

int sim_log_writes() {
    return g_writes;
}
