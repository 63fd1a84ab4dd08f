// The process's own id on POSIX hosts: real, whatever the simulated drives
// are.
#include "platform/device.h"

#include <unistd.h>

uint32_t process_id() {
    return static_cast<uint32_t>(getpid());
}
