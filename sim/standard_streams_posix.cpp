// The standard streams on a POSIX host: a descriptor 0, 1 or 2 that is
// closed at start would be taken by the first file the program opens (the
// log), which would then be read as the operator's answers or receive the
// console. Each closed one is opened on /dev/null instead.
#include "platform/device.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {
// The status of a simulated host that cannot run.
constexpr int STREAMS_UNUSABLE_STATUS = 2;
} // namespace

void ready_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor: this one, as those below it are open.
        const int opened = open("/dev/null", O_RDWR);
        if (opened != fd) {
            std::fprintf(stderr, "veltrane: /dev/null cannot stand in for descriptor %d\n", fd);
            std::_Exit(STREAMS_UNUSABLE_STATUS);
        }
    }
}
