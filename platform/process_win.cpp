// The process's own id and its appended files on Win32, shared by every
// Windows program of the project: the tool and its build on the simulated
// storage stack, whose drives are simulated but whose files are real.
#include "platform/device.h"

uint32_t process_id() {
    return GetCurrentProcessId();
}

int append_file(const char* name, const void* data, uint32_t size) {
    // Append access alone: every write goes to the end of the file as it is
    // then, whoever else appends at the same time.
    HANDLE file = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    const int whole = WriteFile(file, data, size, &written, NULL) && written == size;
    CloseHandle(file);
    return whole ? 1 : 0;
}
