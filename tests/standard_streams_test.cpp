// Standard streams closed when the built program starts (a POSIX matter:
// Windows gives every process its three standard handles).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "dialogue/dialogue.h"
#include "sim_support.h"
#include "support.h"

namespace {

// The built program started with standard descriptors `closed` closed (the
// others on files), in a fresh directory that holds `existing_log`.
RunResult run_with_closed(const std::string& host_json, const std::vector<std::string>& args,
                          const std::vector<int>& closed, const std::string& existing_log) {
    char pattern[] = "/tmp/veltrane-closed-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    std::ofstream(dir + "/host.json") << host_json;
    std::ofstream(dir + "/" LOG_FILE_NAME) << existing_log;
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        for (int fd = 3; fd < 64; ++fd)
            close(fd);
        for (int fd : closed)
            close(fd);
        setenv("VELTRANE_SIM_HOST", "host.json", 1);
        setenv("VELTRANE_SIM_TRACE", "trace.jsonl", 1);
        std::vector<std::string> storage = {VELTRANE_BINARY};
        storage.insert(storage.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : storage)
            argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        execv(VELTRANE_BINARY, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto read = [&dir](const char* name) {
        std::stringstream text;
        text << std::ifstream(dir + "/" + name).rdbuf();
        return text.str();
    };
    result.out = read("stdout.txt");
    result.log = read(LOG_FILE_NAME);
    std::istringstream trace(read("trace.jsonl"));
    for (std::string line; std::getline(trace, line);)
        result.trace.push_back(nlohmann::json::parse(line));
    std::filesystem::remove_all(dir);
    return result;
}

} // namespace

TEST(StandardStreams, ClosedOnesAreNotTakenByTheLog) {
    const std::string host = drive_host(2, "jmicron");
    // Standard input closed: the log would be read as the answers "1", "1",
    // "Y". Input at its end answers nothing: the confirmation is not given.
    const RunResult no_input = run_with_closed(host, {"2"}, {0}, "1\n1\nY\n");
    EXPECT_EQ(no_input.status, 4);
    EXPECT_FALSE(format_sent(no_input.trace));
    EXPECT_TRUE(ends_with(no_input.out, "Not sure - Exit!\n\nPress any key to exit\n"))
        << no_input.out;
    EXPECT_EQ(no_input.log.find("1\n1\nY\n" + LOG_HEAD + "Drive   : 2(USB)\n"), 0u);

    // Standard output closed: the console would go into the log.
    const RunResult no_output = run_with_closed(host, {"2Y"}, {1}, "");
    EXPECT_EQ(no_output.status, 0);
    EXPECT_TRUE(format_sent(no_output.trace));
    EXPECT_EQ(no_output.log.find(LOG_HEAD + "Drive   : 2(USB)\n"), 0u) << no_output.log;
    EXPECT_EQ(no_output.log.find("Veltrane (FormatUnit)"), std::string::npos) << no_output.log;
}
