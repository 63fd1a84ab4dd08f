// The process's own id on Win32, shared by every Windows program of the
// project: the tool and its build on the simulated storage stack.
#include "platform/device.h"

uint32_t process_id() {
    return GetCurrentProcessId();
}
