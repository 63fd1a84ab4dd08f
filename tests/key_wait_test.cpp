// The final key wait of the Linux program on a pseudo-terminal: it waits only
// when standard input is the terminal, keeps the terminal without echo for
// the whole wait, and gives it back as it found it. (Under Wine no key ever
// reaches the Windows program, so this runs against the Linux program only.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <signal.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The program, started in `dir` and in a session of its own whose
// controlling terminal is `terminal`; its standard input is the terminal or
// /dev/null, its standard output the file "out" of `dir`.
pid_t start_program(const std::string& dir, int terminal, bool input_from_terminal) {
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        if (ioctl(terminal, TIOCSCTTY, 0) != 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        const int in = input_from_terminal ? terminal : open("/dev/null", O_RDONLY);
        const int output = open("out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(output, 1);
        dup2(output, 2);
        unsetenv("VELTRANE_SIM_HOST");
        unsetenv("VELTRANE_SIM_TRACE");
        // Drive 99 of the default host does not open: straight to the wait.
        execl(VELTRANE_BINARY, VELTRANE_BINARY, "99", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Waits up to `ms` for the program to end; false when it is still running.
bool ended_within(pid_t pid, int ms, int* status) {
    for (int waited = 0; waited <= ms; waited += 10) {
        if (waitpid(pid, status, WNOHANG) == pid)
            return true;
        usleep(10000);
    }
    return false;
}

std::string read_text(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY);
    char chunk[4096];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    if (fd >= 0)
        close(fd);
    return text;
}

const tcflag_t KEY_MODES = ICANON | ECHO | ISIG;

} // namespace

TEST(KeyWait, OnlyWithInputFromATerminalWithoutEchoUntilAKey) {
    int master = -1;
    int terminal = -1;
    ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(terminal, &before), 0);
    ASSERT_EQ(before.c_lflag & KEY_MODES, KEY_MODES);
    char dir[] = "/tmp/veltrane-keywait-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string out = std::string(dir) + "/out";
    int status = 0;

    // Answers from elsewhere: no wait, even with a terminal at hand.
    pid_t pid = start_program(dir, terminal, false);
    ASSERT_GT(pid, 0);
    if (!ended_within(pid, 5000, &status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "waited for a key with standard input not a terminal";
    }
    EXPECT_NE(read_text(out).find("\nPress any key to exit\n"), std::string::npos);

    // Answers from the terminal: the wait, without echo from its first poll
    // on, not only while each poll runs; a key typed ahead does not end it.
    ASSERT_EQ(write(master, "k", 1), 1);
    pid = start_program(dir, terminal, true);
    ASSERT_GT(pid, 0);
    for (int waited = 0; waited < 5000 && read_text(out).find("Press any key") == std::string::npos;
         waited += 10)
        usleep(10000);
    usleep(200000); // a few polls
    termios during{};
    ASSERT_EQ(tcgetattr(terminal, &during), 0);
    EXPECT_EQ(during.c_lflag & KEY_MODES, 0u) << "echo, line mode or signals on during the wait";
    EXPECT_FALSE(ended_within(pid, 0, &status)) << read_text(out);

    // Ctrl-C is a key like any other: the run ends by itself and gives the
    // terminal back.
    ASSERT_EQ(write(master, "\x03", 1), 1);
    if (!ended_within(pid, 5000, &status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "a key did not end the wait";
    }
    EXPECT_TRUE(WIFEXITED(status)) << "ended by a signal";
    termios after{};
    ASSERT_EQ(tcgetattr(terminal, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);

    std::filesystem::remove_all(dir);
    close(master);
    close(terminal);
}
