#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "dialogue/dialogue.h"
#include "dialogue/host_facts.h"
#include "dialogue/record.h"
#include "transport/transport.h"
#include "sim/sim.h"

namespace {

std::string read_file(const std::string& path, bool* exists = nullptr) {
    std::ifstream in(path, std::ios::binary);
    if (exists)
        *exists = static_cast<bool>(in);
    if (!in)
        return "";
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string make_temp_dir() {
    char pattern[] = "/tmp/veltrane-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir)
        ADD_FAILURE() << "mkdtemp failed";
    return dir ? dir : "/tmp";
}

std::vector<nlohmann::json> parse_lines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty())
            lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

bool env_is(const char* name, const char* value) {
    const char* set = getenv(name);
    return set && std::string(set) == value;
}

// The program tests run a Windows program under Wine: veltrane-sim.exe under
// 32-bit Wine ("wine"), or veltrane-sim64.exe under wine64 ("wine64").
bool wine64_runner() {
    return env_is("VELTRANE_TEST_RUNNER", "wine64");
}

bool wine_runner() {
    return env_is("VELTRANE_TEST_RUNNER", "wine") || wine64_runner();
}

bool on_path(const std::string& program) {
    const char* path = getenv("PATH");
    std::istringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

// Every line of a Windows program's console and log ends in CR LF (msvcrt's
// text mode); a bare LF is a line written in binary mode.
void expect_crlf_lines(const std::string& text, const char* what) {
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        if (at == 0 || text[at - 1] != '\r') {
            ADD_FAILURE() << what << ": a line ends in LF without CR, at byte " << at << ":\n"
                          << text;
            return;
        }
    }
}

} // namespace

int program_runner_unusable() {
    if (!wine_runner())
        return 0;
    const bool wide = wine64_runner();
    if (wide ? access(VELTRANE_WINE64, X_OK) != 0 : !on_path("wine")) {
        const char* wine = wide ? "wine64" : "wine";
        if (env_is("VELTRANE_REQUIRE_WINE", "1")) {
            printf("FAIL: Wine is required (VELTRANE_REQUIRE_WINE=1) but %s is not installed\n",
                   wine);
            return 1;
        }
        printf("SKIP: %s is not installed (scripts/setup.sh installs it)\n", wine);
        return 77;
    }
    const char* exe = wide ? VELTRANE_SIM64_EXE : VELTRANE_SIM_EXE;
    if (access(exe, R_OK) != 0) {
        printf("FAIL: %s was not built\n", exe);
        return 1;
    }
    return 0;
}

bool program_is_64bit() {
#ifdef VELTRANE_WIN64
    const bool native_64 = true;
#else
    const bool native_64 = false;
#endif
    return wine_runner() ? wine64_runner() : native_64;
}

std::string RunResult::text(const std::string& lf_text) const {
    std::string out;
    for (char c : lf_text) {
        if (c == '\n')
            out += eol;
        else
            out += c;
    }
    return out;
}

const char* const LOG_AS_DIRECTORY = "\x01directory";
const char* const LOG_ON_FULL_DEVICE = "\x01full";
const char* const RECORD_AS_DIRECTORY = "\x01record directory";
const char* const RECORD_ON_FULL_DEVICE = "\x01record full";

namespace {

std::string validator_problems(const std::string& records, const std::string& extra) {
    char path[] = "/tmp/veltrane-records-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return "mkstemp failed";
    close(fd);
    write_file(path, records);
    const std::string out = std::string(path) + ".out";
    const int status =
        std::system((std::string(VELTRANE_PYTHON) + " " + VELTRANE_RECORD_VALIDATOR + " " +
                     VELTRANE_RECORD_SCHEMA + " " + path + extra + " >" + out + " 2>&1")
                        .c_str());
    const std::string problems = read_file(out);
    unlink(path);
    unlink(out.c_str());
    return status == 0 ? "" : "validator status " + std::to_string(status) + ": " + problems;
}

} // namespace

std::string record_schema_problems(const std::string& records) {
    return validator_problems(records, "");
}

std::string record_chain_problems(const std::string& records, const std::string& key) {
    if (key.empty())
        return validator_problems(records, " --chain");
    char path[] = "/tmp/veltrane-key-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    write_file(path, key);
    const std::string problems = validator_problems(records, std::string(" --chain ") + path);
    unlink(path);
    return problems;
}

std::string certificates_problems(const std::string& page, const std::string& records,
                                  bool render) {
    const std::string dir = make_temp_dir();
    write_file(dir + "/page.html", page);
    write_file(dir + "/records.jsonl", records);
    const std::string out = dir + "/problems.txt";
    const int status =
        std::system((std::string(VELTRANE_PYTHON) + " " + VELTRANE_CERTIFICATES_CHECKER + " " +
                     dir + "/page.html " + dir + "/records.jsonl" +
                     (render ? " --pdf " + dir : "") + " >" + out + " 2>&1")
                        .c_str());
    const std::string problems = read_file(out);
    std::filesystem::remove_all(dir);
    return status == 0 ? "" : "checker status " + std::to_string(status) + ": " + problems;
}

std::string host_with(const std::string& drives_json) {
    return std::string("{\"drives\": ") + drives_json + "}";
}

std::string drive_host(int number, const std::string& path, const std::string& fields) {
    return host_with("[{\"number\": " + std::to_string(number) + ", \"path\": \"" + path + "\"" +
                     fields + "}]");
}

const std::string BANNER = "Veltrane (FormatUnit) v0.7a by Brastel\nOS: 10.0 build 19045 \n";
const std::string LOG_HEAD = "v0.7a\nOS: 10.0 build 19045 \n";
const std::string VERIFIED = "Verify  : 2002 samples, 2002 held data, 0 unchanged\nVerified!\n";
const std::string SURVIVED = "Verify  : 2002 samples, 2002 held data, 2002 unchanged\n"
                             "Verify error: data survived the erase!\n";
const std::string STALE_512 =
    "Verify  : skipped, Windows still sees 512-byte sectors: re-plug the drive\n";
const std::string NOTE_4096 = "Note: some computers cannot boot from, and some USB enclosures "
                              "cannot read, a drive with 4096-byte blocks\n";

std::string with_note(std::string console) {
    return console.insert(console.find("Selected SES"), NOTE_4096);
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> list;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        list.push_back(word);
    return list;
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void use_host(const std::string& host_json) {
    sim_reset();
    std::string error;
    if (!sim_load_host_text(host_json, "<test>", &error))
        ADD_FAILURE() << "host rejected: " << error;
    sim_set_console(0, 0);
}

std::vector<nlohmann::json> current_trace() {
    std::vector<nlohmann::json> lines;
    for (const std::string& line : sim_trace())
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

RunResult run_dialogue(const std::string& host_json, const std::vector<std::string>& args,
                       const std::string& input, const std::string& existing_log) {
    RunResult result;
    const std::string dir = make_temp_dir();
    char previous_dir[4096];
    if (!getcwd(previous_dir, sizeof previous_dir))
        previous_dir[0] = 0;
    if (chdir(dir.c_str()) != 0)
        ADD_FAILURE() << "chdir " << dir;
    if (existing_log == LOG_AS_DIRECTORY)
        mkdir(LOG_FILE_NAME, 0700);
    else if (existing_log == LOG_ON_FULL_DEVICE && symlink("/dev/full", LOG_FILE_NAME) != 0)
        ADD_FAILURE() << "symlink to /dev/full";
    else if (existing_log == RECORD_AS_DIRECTORY)
        mkdir(RECORD_FILE_NAME, 0700);
    else if (existing_log == RECORD_ON_FULL_DEVICE && symlink("/dev/full", RECORD_FILE_NAME) != 0)
        ADD_FAILURE() << "symlink to /dev/full";
    else if (!existing_log.empty())
        write_file(LOG_FILE_NAME, existing_log);

    use_host(host_json);

    write_file("stdin.txt", input);
    if (!freopen("stdin.txt", "r", stdin))
        ADD_FAILURE() << "freopen stdin";

    fflush(stdout);
    const int saved_out = dup(1);
    const int out_fd = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out_fd, 1);
    close(out_fd);

    std::vector<std::string> storage = {"veltrane"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    result.status = dialogue_main(static_cast<int>(storage.size()), argv.data());

    fflush(stdout);
    dup2(saved_out, 1);
    close(saved_out);

    result.out = read_file("stdout.txt");
    if (existing_log == LOG_ON_FULL_DEVICE)
        unlink(LOG_FILE_NAME); // /dev/full reads as endless zeros
    if (existing_log == RECORD_ON_FULL_DEVICE)
        unlink(RECORD_FILE_NAME);
    result.log = read_file(LOG_FILE_NAME, &result.log_exists);
    result.record = read_file(RECORD_FILE_NAME);
    result.trace = current_trace();
    if (chdir(previous_dir) != 0)
        ADD_FAILURE() << "chdir back";
    // Kept for a look when the test has failed.
    if (!testing::Test::HasFailure())
        std::filesystem::remove_all(dir);
    return result;
}

namespace {

// Starts the program in `dir` (host.json, stdin.txt there) with its own
// output files and trace, suffixed with `tag`.
pid_t start_program(const std::string& dir, bool has_host, const std::vector<std::string>& args,
                    const std::string& tag) {
    const bool wine = wine_runner();
    std::vector<std::string> storage;
    if (wine64_runner())
        storage = {VELTRANE_WINE64, VELTRANE_SIM64_EXE};
    else if (wine)
        storage = {"wine", VELTRANE_SIM_EXE};
    else
        storage = {VELTRANE_BINARY};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // No controlling terminal: the key wait has no console to read.
        setsid();
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        const int in = open("stdin.txt", O_RDONLY);
        const int out = open(("stdout" + tag + ".txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(("stderr" + tag + ".txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (has_host)
            setenv("VELTRANE_SIM_HOST", "host.json", 1);
        else
            unsetenv("VELTRANE_SIM_HOST");
        setenv("VELTRANE_SIM_TRACE", ("trace" + tag + ".jsonl").c_str(), 1);
        // The tool reads no environment variable for its record: the
        // simulated host serves the account.
        unsetenv("USERNAME");
        if (wine) {
            // The prefix and the persistent server of the Wine tests; Wine's
            // own diagnostics off, so standard error is the program's; the
            // arguments' bytes read as UTF-8 into the wide command line.
            setenv("WINEPREFIX", wine64_runner() ? VELTRANE_WINE64_PREFIX : VELTRANE_WINE_PREFIX,
                   1);
            setenv("WINEDEBUG", "-all", 1);
            setenv("LC_ALL", "C.UTF-8", 1);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            execvp(argv[0], argv.data());
        } else {
            execv(VELTRANE_BINARY, argv.data());
        }
        _exit(127);
    }
    return pid;
}

int wait_program(pid_t pid) {
    int status = 0;
    for (int waited_ms = 0;; waited_ms += 10) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (waited_ms > 20000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "program did not end within 20 s";
            break;
        }
        usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string run_dir(const std::string& host_json, const std::string& input, const Files& files) {
    const std::string dir = make_temp_dir();
    if (!host_json.empty())
        write_file(dir + "/host.json", host_json);
    write_file(dir + "/stdin.txt", input);
    for (const auto& file : files)
        write_file(dir + "/" + file.first, file.second);
    return dir;
}

} // namespace

RunResult run_program(const std::string& host_json, const std::vector<std::string>& args,
                      const std::string& input, const Files& files) {
    RunResult result;
    const bool wine = wine_runner();
    std::string dir = run_dir(host_json, input, files);
    result.status = wait_program(start_program(dir, !host_json.empty(), args, ""));
    result.out = read_file(dir + "/stdout.txt");
    result.err = read_file(dir + "/stderr.txt");
    // The tool's first act is its banner. A Wine process that wrote nothing at
    // all never started the tool (seen once under a heavy load, with Wine's
    // own messages off): started again once, in a fresh directory. A tool
    // that writes nothing twice is still a failure of the test.
    if (wine && result.out.empty() && result.err.empty()) {
        std::cerr << "Wine ran nothing (status " << result.status << "), started again\n";
        std::filesystem::remove_all(dir);
        dir = run_dir(host_json, input, files);
        result.status = wait_program(start_program(dir, !host_json.empty(), args, ""));
        result.out = read_file(dir + "/stdout.txt");
        result.err = read_file(dir + "/stderr.txt");
    }
    result.log = read_file(dir + "/" LOG_FILE_NAME, &result.log_exists);
    result.record = read_file(dir + "/" RECORD_FILE_NAME);
    result.certificates = read_file(dir + "/veltrane-certificates.html");
    const std::string trace = read_file(dir + "/trace.jsonl");
    result.trace = parse_lines(trace);
    // The trace is the simulator's, byte for byte the same on every host.
    EXPECT_EQ(trace.find('\r'), std::string::npos) << "a CR in the trace";
    // Records are LF-ended on every host: the same bytes wherever collected.
    EXPECT_EQ(result.record.find('\r'), std::string::npos) << "a CR in the record";
    if (wine) {
        result.eol = "\r\n";
        expect_crlf_lines(result.out, "standard output");
        expect_crlf_lines(result.err, "standard error");
        expect_crlf_lines(result.log, "log");
    }
    // Kept for a look when the test has failed.
    if (!testing::Test::HasFailure())
        std::filesystem::remove_all(dir);
    return result;
}

AtOnce run_programs_at_once(const std::string& host_json,
                            const std::vector<std::vector<std::string>>& runs, const Files& files,
                            int hold_ms) {
    AtOnce result;
    const std::string dir = run_dir(host_json, "", files);
    const std::string record = dir + "/" RECORD_FILE_NAME;
    const std::string before = read_file(record);
    // Read through this one descriptor alone while locked: closing any other
    // descriptor of the file would give the lock back.
    const int fd = open(record.c_str(), O_RDWR | O_CREAT, 0600);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fd < 0 || fcntl(fd, F_SETLKW, &lock) != 0)
        ADD_FAILURE() << "cannot lock " << record;
    const auto size_now = [fd] {
        struct stat status;
        return fstat(fd, &status) == 0 ? static_cast<size_t>(status.st_size) : 0;
    };
    std::vector<pid_t> pids;
    for (size_t i = 0; i < runs.size(); ++i)
        pids.push_back(start_program(dir, !host_json.empty(), runs[i], std::to_string(i)));
    usleep(static_cast<useconds_t>(hold_ms) * 1000);
    result.untouched_while_locked = size_now() == before.size();
    lock.l_type = F_UNLCK;
    fcntl(fd, F_SETLK, &lock);
    close(fd);
    for (pid_t pid : pids)
        result.statuses.push_back(wait_program(pid));
    result.record = read_file(record);
    if (!testing::Test::HasFailure())
        std::filesystem::remove_all(dir);
    return result;
}

std::vector<uint8_t> trace_input(const nlohmann::json& line) {
    const std::string hex = line.at("in").get<std::string>();
    std::vector<uint8_t> bytes(hex.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    return bytes;
}

std::vector<nlohmann::json> trace_ops(const std::vector<nlohmann::json>& trace,
                                      const std::string& op) {
    std::vector<nlohmann::json> lines;
    for (const nlohmann::json& line : trace)
        if (line.at("op") == op)
            lines.push_back(line);
    return lines;
}

bool handles_balanced(const std::vector<nlohmann::json>& trace) {
    std::vector<int> open_handles;
    for (const nlohmann::json& line : trace) {
        if (line.at("op") == "open" && line.at("handle").get<int>() != -1) {
            open_handles.push_back(line.at("handle").get<int>());
        } else if (line.at("op") == "close") {
            const int handle = line.at("handle").get<int>();
            bool found = false;
            for (size_t i = 0; i < open_handles.size(); ++i) {
                if (open_handles[i] == handle) {
                    open_handles.erase(open_handles.begin() + static_cast<long>(i));
                    found = true;
                    break;
                }
            }
            if (!found)
                return false;
        }
    }
    return open_handles.empty();
}

std::vector<uint8_t> hex_bytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    std::string token;
    while (in >> token)
        bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    return bytes;
}

int count_substr(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::vector<nlohmann::json> record_lines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(nlohmann::json::parse(text.substr(at, end - at)));
    return lines;
}
