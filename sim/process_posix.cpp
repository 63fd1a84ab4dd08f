// The process's own id and its appended files on POSIX hosts: real, like the
// log, whatever the simulated drives are.
#include "platform/device.h"

#include <fcntl.h>
#include <unistd.h>

uint32_t process_id() {
    return static_cast<uint32_t>(getpid());
}

int append_file(const char* name, const void* data, uint32_t size) {
    const int fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    // One write: a part written is not completed by a second one, which
    // another writer's line could precede.
    const ssize_t written = write(fd, data, size);
    const int closed = close(fd) == 0;
    return written == static_cast<ssize_t>(size) && closed ? 1 : 0;
}
