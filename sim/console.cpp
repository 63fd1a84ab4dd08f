// The console key wait. Tests set a console model; otherwise the process's
// controlling terminal is used, switched to non-canonical no-echo input only
// for the duration of each call, so a process without one never blocks.
#include "sim/sim.h"

#include "platform/device.h"
#include "sim/stack.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

int g_attached = -1; // -1: no model, look at the terminal
int g_keys = 0;

// The controlling terminal in raw key mode; restored by the destructor.
struct RawTerminal {
    int fd;
    bool changed = false;
    termios saved{};

    explicit RawTerminal(int min_chars) : fd(open("/dev/tty", O_RDWR | O_NOCTTY)) {
        if (fd < 0 || tcgetattr(fd, &saved) != 0)
            return;
        termios raw = saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = static_cast<cc_t>(min_chars);
        raw.c_cc[VTIME] = 0;
        changed = tcsetattr(fd, TCSANOW, &raw) == 0;
    }
    ~RawTerminal() {
        if (changed)
            tcsetattr(fd, TCSANOW, &saved);
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

void console_sim_reset() {
    g_attached = -1;
    g_keys = 0;
}

void sim_set_console(int attached, int keys) {
    g_attached = attached ? 1 : 0;
    g_keys = keys;
}

int console_attached() {
    sim_ensure_ready();
    if (g_attached >= 0)
        return g_attached;
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0)
        return 0;
    close(fd);
    return 1;
}

int console_key_waiting() {
    sim_ensure_ready();
    if (g_attached >= 0)
        return g_attached && g_keys > 0;
    RawTerminal tty(0);
    if (tty.fd < 0)
        return 0;
    pollfd p{tty.fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) ? 1 : 0;
}

int console_read_key() {
    sim_ensure_ready();
    if (g_attached >= 0) {
        // A modelled console never blocks: with no key left it answers Enter.
        if (g_keys > 0)
            --g_keys;
        return '\r';
    }
    RawTerminal tty(1);
    unsigned char c = 0;
    if (tty.fd < 0 || read(tty.fd, &c, 1) != 1)
        return 0;
    return c;
}

void idle_ms(uint32_t ms) {
    sim_ensure_ready();
    timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}
