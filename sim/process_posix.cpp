// The process's own id and its command line on POSIX hosts: real, whatever
// the simulated drives are.
#include "platform/device.h"
#include "platform/files.h"

#include <unistd.h>

uint32_t process_id() {
    return static_cast<uint32_t>(getpid());
}

// The arguments come as the bytes typed: UTF-8 on the hosts the simulator
// runs on.
int utf8_arguments(int*, char***) {
    return 1;
}
