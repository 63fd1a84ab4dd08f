// The built program run with a host file: console, log, trace and exit status.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

#include "sim_support.h"
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
              run.text("Veltrane (FormatUnit) v0.7a by Brastel\nOS: 10.0 build 22631 SP9\n"));
    EXPECT_NE(run.out.find("Model   : Jm Disk"), std::string::npos);
    // The tick counter wraps during the format: the elapsed time does not.
    EXPECT_NE(run.out.find(run.text("Change LBA data size format (512->4096)\n"
                                    "Selected SES action: 2 - Cryptographic Erase\n"
                                    "Erased [2500 ms]!\n")),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.log.find(run.text("v0.7a\nOS: 10.0 build 22631 SP9\nDrive   : 2(USB)\n")), 0u);
    EXPECT_NE(run.log.find("S/N     : JM42"), std::string::npos);
    EXPECT_TRUE(handles_balanced(run.trace));
    // Descriptor query, probe, namespace, format, the completion query:
    // nothing else.
    EXPECT_EQ(trace_ops(run.trace, "ioctl").size(), 8u);
    for (const nlohmann::json& line : trace_ops(run.trace, "ioctl"))
        EXPECT_TRUE(line.at("ok").get<bool>());
}

TEST(Program, DriveListAndBadNumber) {
    const RunResult run = run_program(kHost, {}, "100\n");
    EXPECT_EQ(run.out, run.text("Veltrane (FormatUnit) v0.7a by Brastel\nOS: 10.0 build 22631 SP9\n"
                                " 2: JMicron Generic NVMe\n 3: \n 4: \n 6: USB Flash\n"
                                "Please select drive number:Error: bad drive number\n"));
    EXPECT_FALSE(run.log_exists);
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(Program, DefaultHostRunsWithoutAHostFile) {
    const RunResult run = run_program("", {}, "99\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(
        run.out.find(run.text("Please select drive number:Drive   : 99(NVME)\nError open disk\n")),
        std::string::npos)
        << run.out;
    EXPECT_GE(count_substr(run.out, ": "), 7); // the drive list
}

TEST(Program, DefaultHostDrivesEndToEnd) {
    const std::string old_firmware =
        "ASM2362 with old firmware is not supported, need to update firmware to 19xxxx\n";
    struct Case {
        std::vector<std::string> args;
        std::string has;      // standard output holds it
        std::string out_tail; // standard output ends with it
        std::string log_tail;
    } cases[] = {
        {{"0"},
         "Drive   : 0(NVME)\nScsi    : 0\nDriver  : W10\nModel   : Simulated NVMe SSD 512GB",
         "Error - possible incompatible nvme driver\n\nPress any key to exit\n",
         "Error - possible incompatible nvme driver\n"},
        {{"1Y", "1"},
         "Drive   : 1(NVME)\nScsi    : 1\nIOCtl: ID failed 0x32!\n"
         "Driver  : OFA\nModel   : Simulated NVMe SSD 1TB",
         "Erased [1500 ms]!\n",
         ""},
        {{"3Y", "1"}, "Drive   : 3(USB)\nBridge  : ASM\n", "Erased [1500 ms]!\n", ""},
        {{"4Y"}, "Drive   : 4(USB)\n" + old_firmware + "Identify error!\n", "", ""},
        {{"5Y", "1"}, "Drive   : 5(USB)\nBridge  : RTL\n", "Erased [1500 ms]!\n", ""},
        {{"6"}, "Drive   : 6(USB)\nIdentify error!\n\nPress any key to exit\n", "", ""},
    };
    for (const Case& k : cases) {
        const RunResult run = run_program("", k.args);
        const char drive = k.args[0][0];
        EXPECT_EQ(run.status, 0) << drive;
        EXPECT_EQ(run.err, "") << drive;
        EXPECT_NE(run.out.find(run.text(k.has)), std::string::npos) << run.out;
        EXPECT_TRUE(ends_with(run.out, run.text(k.out_tail))) << run.out;
        EXPECT_TRUE(ends_with(run.log, run.text(k.log_tail))) << run.log;
        EXPECT_TRUE(handles_balanced(run.trace)) << drive;
        const std::vector<uint8_t> opcodes = scsi_opcodes(run.trace);
        if (drive == '0') { // the inbox driver answered: no OFA request
            EXPECT_TRUE(ioctls_with_code(run.trace, CODE_MINIPORT).empty());
        }
        if (drive >= '3') { // USB: the JMicron probe comes first
            ASSERT_FALSE(opcodes.empty()) << drive;
            EXPECT_EQ(opcodes[0], 0xA1) << drive;
        }
        if (drive == '3' || drive == '4') { // ASMedia found: no Realtek CDB
            EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), 0xE4) +
                          std::count(opcodes.begin(), opcodes.end(), 0xE5),
                      0)
                << drive;
        }
    }
}

TEST(Program, BridgeOutcomesEndToEnd) {
    // A format the controller rejects, told by the bridge's SCSI status, by
    // its completion query, or not at all; and a format longer than the
    // bridge's own 2 s.
    const std::string host = host_with(R"([
      {"number": 2, "path": "jmicron", "controller": {"format_status": 266}},
      {"number": 3, "path": "asmedia", "bridge": {"check_condition": false},
       "controller": {"format_status": 266}},
      {"number": 5, "path": "realtek", "bridge": {"check_condition": false, "completion": false},
       "controller": {"format_status": 266}},
      {"number": 7, "path": "realtek", "controller": {"format_ms": 5000}}])");
    struct Case {
        const char* drive;
        const char* line;
        const char* outcome;
        std::vector<uint8_t> last; // the last request: the completion query, when sent
    } cases[] = {
        {"2Y", "IOCtl: SCSI status 0x02, sense 4/44/00!\n", "Erase error [1500 ms]!\n",
         jms_envelope(0x81, SPT_OUT, 0, 300)},
        {"3Y", "NVME status: SC: 0x0A, SCT: 1\n", "Erase error [1500 ms]!\n",
         asm_completion_query()},
        {"5Y", "", "Erased [1500 ms]!\n", rtl_completion_query()},
        {"7Y", "", "Erased [5000 ms]!\n", rtl_completion_query()},
    };
    for (const Case& k : cases) {
        const RunResult run = run_program(host, {k.drive, "1"});
        EXPECT_EQ(run.err, "") << k.drive;
        const std::string choice = "Selected SES action: 1 - User Data Erase\n";
        EXPECT_TRUE(ends_with(run.out, run.text(choice + k.line + k.outcome))) << k.drive << "\n"
                                                                               << run.out;
        EXPECT_TRUE(ends_with(run.log, run.text(choice + k.outcome))) << k.drive << "\n" << run.log;
        EXPECT_TRUE(handles_balanced(run.trace)) << k.drive;
        const std::vector<std::vector<uint8_t>> inputs = scsi_inputs(run.trace);
        ASSERT_FALSE(inputs.empty()) << k.drive;
        EXPECT_EQ(inputs.back(), k.last) << k.drive;
    }
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
