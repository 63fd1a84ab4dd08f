// The host-file loader over arbitrary text: a host is loaded or refused with
// one line, never a crash or an escaping exception.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/sim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    sim_reset();
    const bool loaded = sim_load_host_text(text, "<fuzz>", &error);
    if (loaded != error.empty() || error.find('\n') != std::string::npos)
        abort();
    if (loaded) {
        // What the loaded host answers: the version and every drive's
        // descriptor and Identify data through its own path.
        OSVERSIONINFOEXA version;
        version.dwOSVersionInfoSize = OS_VERSION_EX_SIZE;
        os_version(&version);
        for (int n = 0; n < 4; ++n) {
            const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(n);
            HANDLE handle = open_device(path.c_str(), 3, 0);
            if (handle == INVALID_HANDLE_VALUE)
                continue;
            uint8_t query[12] = {0};
            uint8_t reply[1024];
            device_control(handle, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, reply,
                           sizeof reply);
            close_device(handle);
        }
        if (sim_open_handles() != 0)
            abort();
    }
    sim_reset();
    return 0;
}
