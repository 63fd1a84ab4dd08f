// The standard streams and the key wait on the Win32 console, shared by every
// Windows program of the project: the tool and its build on the simulated
// storage stack.
#include "platform/device.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>

void ready_standard_streams() {
    // Windows gives every process its three standard handles. Answers are
    // read byte for byte, as on every host: in text mode the C library would
    // wait for the byte after a CR before handing the CR over, and end the
    // input at a Ctrl-Z. The console and the log stay text (CR LF).
    _setmode(0, _O_BINARY);
}

int key_wait_begin() {
    // Answers from a pipe or a file mean nobody sits at the console, even
    // when the process has one (a scripted run in a hidden window): waiting
    // there would never end. _getch reads keys without echo by itself.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) ? 1 : 0;
}

void key_wait_end() {}

int console_key_waiting() {
    return _kbhit() ? 1 : 0;
}

int console_read_key() {
    return _getch();
}

void idle_ms(uint32_t ms) {
    Sleep(ms);
}
