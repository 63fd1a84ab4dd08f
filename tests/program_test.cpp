// The built program run with a host file: console, log, trace and exit status.
#include <gtest/gtest.h>
#include <string>

#include "support.h"

namespace {

const char* const kHost = R"({
  "os": {"major": 10, "minor": 0, "build": 22631, "csd": "SP9"},
  "tick_start": 4294967000,
  "drives": [
    {"number": 2, "path": "jmicron", "vendor": "JMicron ", "product": "Generic NVMe",
     "controller": {"model": "Jm Disk", "serial": "JM42", "format_ms": 2500}},
    {"number": 3, "path": "jmicron", "controller": {"flbas": 1}},
    {"number": 4, "path": "jmicron", "fail": [{"nth": 7, "error": 121}]},
    {"number": 6, "path": "none", "bus": 7, "product": "USB Flash"}
  ]})";

} // namespace

TEST(Program, JmicronEraseEndToEnd) {
    const RunResult run = run_program(kHost, {"2YN", "1", "2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.substr(0, run.out.find("Drive")),
              "Veltrane (FormatUnit) v0.7a by Brastel\nOS: 10.0 build 22631 SP9\n");
    EXPECT_NE(run.out.find("Model   : Jm Disk"), std::string::npos);
    // The tick counter wraps during the format: the elapsed time does not.
    EXPECT_NE(run.out.find("Change LBA data size format (512->4096)\n"
                           "Selected SES action: 2 - Cryptographic Erase\nErased [2500 ms]!\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.log.substr(0, 60).find("v0.7a\nOS: 10.0 build 22631 SP9\nDrive   : 2(USB)\n"),
              0u);
    EXPECT_NE(run.log.find("S/N     : JM42"), std::string::npos);
    EXPECT_TRUE(handles_balanced(run.trace));
    // Descriptor query, probe, namespace, format: nothing else.
    EXPECT_EQ(trace_ops(run.trace, "ioctl").size(), 7u);
    for (const nlohmann::json& line : trace_ops(run.trace, "ioctl"))
        EXPECT_TRUE(line.at("ok").get<bool>());
}

TEST(Program, SecondRunAppendsAndPlusMarksTheCurrentFormat) {
    const RunResult run = run_program(kHost, {"3Y"});
    EXPECT_NE(run.out.find(" 0   512\n 1+ 4096\nDont change - Secure Erase only\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.log.find("S/N"), std::string::npos);
}

TEST(Program, FailedDataPhaseOfTheFormat) {
    const RunResult run = run_program(kHost, {"4Y", "1"});
    EXPECT_NE(run.out.find("IOCtl: phase2 failed 0x79!\nPossible Erased [0 ms], re-plug drive!\n"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(Program, DriveListAndBadNumber) {
    const RunResult run = run_program(kHost, {}, "100\n");
    EXPECT_EQ(run.out, "Veltrane (FormatUnit) v0.7a by Brastel\nOS: 10.0 build 22631 SP9\n"
                       " 2: JMicron Generic NVMe\n 3: \n 4: \n 6: USB Flash\n"
                       "Please select drive number:Error: bad drive number\n");
    EXPECT_FALSE(run.log_exists);
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(Program, UsbDriveWithoutNvme) {
    const RunResult run = run_program(kHost, {"6"});
    EXPECT_NE(run.out.find("Drive   : 6(USB)\nIdentify error!\n\nPress any key to exit\n"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(Program, DefaultHostRunsWithoutAHostFile) {
    const RunResult run = run_program("", {}, "99\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Please select drive number:Drive   : 99(NVME)\nError open disk\n"),
              std::string::npos)
        << run.out;
    EXPECT_GE(count_substr(run.out, ": "), 7); // the drive list
}

TEST(Program, BadHostFilesStopBeforeAnyDeviceOperation) {
    const char* const hosts[] = {
        "{not json",
        R"({"drives": [{"number": 1, "path": "floppy"}]})",
        R"({"drives": [{"number": 256, "path": "none"}]})",
        R"({"drives": [{"number": 1, "path": "none"}, {"number": 1, "path": "ofa"}]})",
        R"({"drives": [{"number": "1", "path": "none"}]})",
        R"({"drives": [{"path": "none"}]})",
    };
    for (const char* host : hosts) {
        const RunResult run = run_program(host, {"1Y"});
        EXPECT_EQ(run.status, 2) << host;
        EXPECT_EQ(run.out, "") << host;
        EXPECT_EQ(count_substr(run.err, "\n"), 1) << run.err;
        EXPECT_NE(run.err.find("host.json"), std::string::npos) << run.err;
        EXPECT_TRUE(run.trace.empty());
        EXPECT_FALSE(run.log_exists);
    }
}
