// The key wait on a POSIX host. Tests set a console model; otherwise standard
// input is the console when it is a terminal, switched to key-at-a-time input
// without echo from key_wait_begin to key_wait_end, so that no key pressed
// during the wait shows.
#include "platform/device.h"
#include "sim/console_model.h"

#include <cerrno>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Terminal {
    bool changed = false; // `saved` is to be restored
    bool gone = false;    // the terminal hung up: no key can come
    termios saved{};
};

Terminal g_terminal;

} // namespace

int key_wait_begin() {
    if (const ConsoleModel* model = console_model())
        return model->attached;
    if (!isatty(STDIN_FILENO))
        return 0;
    g_terminal = Terminal();
    if (tcgetattr(STDIN_FILENO, &g_terminal.saved) == 0) {
        termios raw = g_terminal.saved;
        // Ctrl-C is read as a key like any other: a signal would end the
        // process with the terminal left without echo.
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        g_terminal.changed = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    return 1;
}

void key_wait_end() {
    if (console_model())
        return;
    if (g_terminal.changed)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal.saved);
    g_terminal = Terminal();
}

int console_key_waiting() {
    if (const ConsoleModel* model = console_model())
        return model->attached && model->keys > 0;
    if (g_terminal.gone)
        return 0;
    // A hang-up ends the wait as a key would; reading then fails.
    pollfd p{STDIN_FILENO, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
}

int console_read_key() {
    if (ConsoleModel* model = console_model()) {
        // A modelled console never blocks: with no key left it answers Enter.
        if (model->keys > 0)
            --model->keys;
        return '\r';
    }
    unsigned char c = 0;
    if (read(STDIN_FILENO, &c, 1) != 1) {
        g_terminal.gone = true;
        return -1;
    }
    return c;
}

void idle_ms(uint32_t ms) {
    // A modelled console: the operator presses a key while the tool idles.
    if (ConsoleModel* model = console_model()) {
        if (model->attached)
            model->keys = 1;
        return;
    }
    timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}
