// The built program run with a host file: console, log, trace and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/wire.h"
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
    // The drive's descriptor query on a shared handle; the system volume,
    // opened for queries only, whose extents query fails (no drive holds
    // it); then the probe, namespace, format, the completion query.
    EXPECT_EQ(run.trace.at(0).at("share"), 3);
    const nlohmann::json& volume = run.trace.at(3);
    EXPECT_EQ(volume.at("path"), SYSTEM_VOLUME);
    EXPECT_EQ(volume.at("access"), 0);
    EXPECT_EQ(volume.at("share"), 3);
    EXPECT_EQ(volume.at("flags"), 0);
    const std::vector<nlohmann::json> ioctls = trace_ops(run.trace, "ioctl");
    ASSERT_EQ(ioctls.size(), 9u);
    EXPECT_EQ(ioctls[1].at("code"), 0x00560000);
    EXPECT_EQ(ioctls[1].at("error"), 1);
    for (size_t i = 0; i < ioctls.size(); ++i)
        EXPECT_EQ(ioctls[i].at("ok").get<bool>(), i != 1);
}

TEST(Program, DriveListAndBadNumber) {
    const RunResult run = run_program(kHost, {}, "100\n");
    EXPECT_EQ(run.out, run.text("Veltrane (FormatUnit) v0.7a by Brastel\nOS: 10.0 build 22631 SP9\n"
                                " 2: JMicron Generic NVMe\n 3: \n 4: \n 6: USB Flash\n"
                                "Please select drive number:Error: bad drive number\n"));
    EXPECT_EQ(run.status, 5);
    EXPECT_FALSE(run.log_exists);
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(Program, DefaultHostRunsWithoutAHostFile) {
    const RunResult run = run_program("", {}, "99\n");
    EXPECT_EQ(run.status, 6);
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
        int status;
    } cases[] = {
        {{"0"},
         "Drive   : 0(NVME)\nScsi    : 0\nDriver  : W10\nModel   : Simulated NVMe SSD 512GB",
         "Error - possible incompatible nvme driver\n\nPress any key to exit\n",
         "Error - possible incompatible nvme driver\n",
         7},
        {{"1Y", "1"},
         "Drive   : 1(NVME)\nScsi    : 1\nIOCtl: ID failed 0x32!\n"
         "Driver  : OFA\nModel   : Simulated NVMe SSD 1TB",
         "Erased [1500 ms]!\n",
         "",
         0},
        {{"3Y", "1"}, "Drive   : 3(USB)\nBridge  : ASM\n", "Erased [1500 ms]!\n", "", 0},
        {{"4Y"}, "Drive   : 4(USB)\n" + old_firmware + "Identify error!\n", "", "", 7},
        {{"5Y", "1"}, "Drive   : 5(USB)\nBridge  : RTL\n", "Erased [1500 ms]!\n", "", 0},
        {{"6"}, "Drive   : 6(USB)\nIdentify error!\n\nPress any key to exit\n", "", "", 6},
    };
    for (const Case& k : cases) {
        const RunResult run = run_program("", k.args);
        const char drive = k.args[0][0];
        EXPECT_EQ(run.status, k.status) << drive;
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
        int status;
    } cases[] = {
        {"2Y", "IOCtl: SCSI status 0x02, sense 4/44/00!\n", "Erase error [1500 ms]!\n",
         jms_envelope(0x81, SPT_OUT, 0, 300), 1},
        {"3Y", "NVME status: SC: 0x0A, SCT: 1\n", "Erase error [1500 ms]!\n",
         asm_completion_query(), 1},
        {"5Y", "", "Erased [1500 ms]!\n", rtl_completion_query(), 0},
        {"7Y", "", "Erased [5000 ms]!\n", rtl_completion_query(), 0},
    };
    for (const Case& k : cases) {
        const RunResult run = run_program(host, {k.drive, "1"});
        EXPECT_EQ(run.status, k.status) << k.drive;
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
        // Two drives at one SCSI port and address.
        R"({"drives": [{"number": 1, "path": "ofa", "port": 2}, {"number": 2, "path": "none"}]})",
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

namespace {

// Drives for the runs that must end without erasing; the system volume spans
// drives 3 and 19.
const char* const kGuardedHost = R"({"drives": [
  {"number": 0, "path": "ofa"},
  {"number": 1, "path": "ofa", "lun": 1},
  {"number": 2, "path": "jmicron"},
  {"number": 3, "path": "jmicron", "system": true},
  {"number": 4, "path": "jmicron", "controller": {"lbads": [9, 0, 12]}},
  {"number": 5, "path": "jmicron", "controller": {"lbads": [9], "nlbaf": 1}},
  {"number": 6, "path": "jmicron", "controller": {"lbads": [0], "nsze": 0}},
  {"number": 7, "path": "jmicron", "controller": {"lbads": [9, 0, 12], "flbas": 2}},
  {"number": 8, "path": "inbox"},
  {"number": 9, "path": "asmedia-legacy"},
  {"number": 10, "path": "none", "bus": 7},
  {"number": 11, "path": "jmicron", "fail": [{"nth": 5, "error": 31}]},
  {"number": 12, "path": "ofa", "open_error": 5},
  {"number": 13, "path": "ofa", "address_error": 1117},
  {"number": 14, "path": "ofa", "port_open_error": 2},
  {"number": 15, "path": "ofa", "target_id": 1},
  {"number": 16, "path": "ofa", "path_id": 2},
  {"number": 17, "path": "ofa", "controller": {"format_status": 266}},
  {"number": 18, "path": "jmicron", "fail": [{"nth": 7, "error": 1167}]},
  {"number": 19, "path": "ofa", "system": true},
  {"number": 20, "path": "jmicron", "controller": {"flbas": 1}},
  {"number": 21, "path": "ofa", "controller": {"format_ms": 300001}},
  {"number": 22, "path": "asmedia", "controller": {"format_ms": 300001}},
  {"number": 23, "path": "realtek", "controller": {"format_ms": 300001}},
  {"number": 24, "path": "asmedia", "fail": [{"nth": 9, "error": 121}]},
  {"number": 25, "path": "asmedia", "fail": [{"nth": 4, "error": 121}]}
]})";

// The "Error: ..." line of an expected text.
std::string refusal_line(const std::string& text) {
    const size_t start = text.rfind("Error");
    return text.substr(start, text.find('\n', start) + 1 - start);
}

bool touches(const std::vector<nlohmann::json>& trace, const std::string& path) {
    for (const nlohmann::json& line : trace)
        if (line.at("path") == path)
            return true;
    return false;
}

} // namespace

TEST(Program, RunsThatMustNotEraseEndWithTheirStatus) {
    const std::string identity_of_1 = "Scsi    : 1\nIOCtl: ID failed 0x32!\nDriver  : OFA\n"
                                      "Model   : Simulated NVMe                          \n"
                                      "Fw      : 1.0     \nS/N     : SIM00000001         \n";
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string has; // standard output holds it
        int status;
        std::string untouched; // a path the run never opens
    } cases[] = {
        // Drive strings that do not begin with their number: drive 0 is
        // never opened, no log is written.
        {{"Y2"}, "", "Error: bad drive number\n", 5, "\\\\.\\PhysicalDrive0"},
        {{"-y"}, "", "Error: bad drive number\n", 5, "\\\\.\\PhysicalDrive0"},
        {{"yes"}, "", "Error: bad drive number\n", 5, "\\\\.\\PhysicalDrive0"},
        {{"Y"}, "", "Error: bad drive number\n", 5, "\\\\.\\PhysicalDrive0"},
        {{}, "Yes, 2\n1\n", "Please select drive number:Error: bad drive number\n", 5, ""},
        {{}, "", "Please select drive number:Error: bad drive number\n", 5, ""},
        // Only a number and option letters: nothing else turns into a drive
        // or an option (the y of "My").
        {{"0x2Y"}, "", "Error: bad drive number\n", 5, "\\\\.\\PhysicalDrive0"},
        {{"0.2Y"}, "", "Error: bad drive number\n", 5, "\\\\.\\PhysicalDrive0"},
        {{"0 2Y"}, "", "Error: bad drive number\n", 5, "\\\\.\\PhysicalDrive0"},
        {{}, "2 (WD My Passport)\n1\n0\nN\n", "number:Error: bad drive number\n", 5, ""},
        // Lines past 4096 bytes and UTF-16 end the run: at once at the drive
        // prompt, through the closing step later (input from /dev/zero).
        {{}, std::string(5000, '2'), "drive number:Error: input line too long\n", 5, ""},
        {{},
         std::string("\xFF\xFE"
                     "2\0\n\0",
                     6),
         "drive number:Error: answers must be ANSI or "
         "UTF-8 text\n",
         5,
         ""},
        {{"2"},
         std::string(5000, '\0'),
         "format number:Error: input line too long\n\nPress",
         5,
         ""},
        {{"2", "1"},
         "\xFE\xFF\0"
         "1\n",
         "default 1):Error: answers must be ANSI or UTF-8 text\n",
         5,
         ""},
        // A format or SES that is not a number is not 0.
        {{"2Y", "1", "crypto"}, "", "Error: wrong SES action selected\n", 5, ""},
        {{"2Y", "x"}, "", "Error: wrong LBA data size format\n", 5, ""},
        {{"2Y", "", "2"}, "", "Error: wrong LBA data size format\n", 5, ""},
        {{"2", "1"}, "x\n", "default 1):Error: wrong SES action selected\n", 5, ""},
        // The NUL ends "2", the N answers the confirmation.
        {{"2"}, std::string("1\n2\0\nN\nY\n", 9), "'N' for cancel Not sure - Exit!\n", 4, ""},
        // Lone CR line ends: the confirmation is asked, and answered no.
        {{}, "2\r0\r1\rn\rY\r", "Selected SES action: 1 - User Data Erase\n", 4, ""},
        // Formats the list does not show: past a hole, up to NLBAF past the
        // rows, none at all, a current one past a hole.
        {{"4Y", "2"}, "", " 0+  512\nError: wrong LBA data size format\n", 5, ""},
        {{"5Y", "1"}, "", " 0+  512\nError: wrong LBA data size format\n", 5, ""},
        {{"6Y"}, "", "##  LBAsize\nError: wrong LBA data size format\n", 5, ""},
        {{"7Y"}, "", " 0   512\nError: wrong LBA data size format\n", 5, ""},
        {{"2", "0", "3"}, "", "Error: wrong SES action selected\n", 5, ""},
        {{"2", "1", "1"}, "n\n", "Not sure - Exit!\n", 4, ""},
        // The drive is not reached.
        {{"12Y"}, "", "Drive   : 12(NVME)\nError open disk\n", 6, ""},
        {{"13Y"}, "", "IOCTL: Error scsi get address\n", 6, ""},
        {{"14Y"}, "", "Scsi    : 14\nError open scsi device\n", 6, ""},
        {{"10Y"}, "", "Identify error!\n", 6, ""},
        {{"11Y"}, "", "IOCtl: phase2 failed 0x1f!\n", 6, ""},
        // Not supported.
        {{"8Y"}, "", "Error - possible incompatible nvme driver\n", 7, ""},
        {{"9Y"}, "", "need to update firmware to 19xxxx\nIdentify error!\n", 7, ""},
        // A transient error on the ASMedia tunnel's probe is no old firmware.
        {{"25Y"},
         "",
         "Drive   : 25(USB)\nIOCtl: asm cmd send[1] failed 0x79!\nIdentify error!\n",
         6,
         ""},
        // Refused for safety: the system disk (its real bus asked on a shared
        // handle, nothing opened for the run), and
        // drives that are not namespace 1 of their controller behind the OFA
        // driver (refused after their identity lines).
        {{"3Y"}, "", "Drive   : 3(USB)\nError: drive 3 holds the running system\n", 8, ""},
        {{"19"},
         "",
         "Drive   : 19(NVME)\nError: drive 19 holds the running system\n\nPress any key to exit\n",
         8,
         ""},
        {{"1Y"},
         "",
         identity_of_1 + "Error: drive 1 is not namespace 1 of its controller\n",
         8,
         ""},
        {{"15Y"}, "", "Error: drive 15 is not namespace 1 of its controller\n", 8, ""},
        {{"16Y"}, "", "Error: drive 16 is not namespace 1 of its controller\n", 8, ""},
    };
    for (const Case& c : cases) {
        const RunResult run = run_program(kGuardedHost, c.args, c.input);
        const std::string what = (c.args.empty() ? "" : c.args[0]) + " / " + c.input;
        EXPECT_NE(run.out.find(run.text(c.has)), std::string::npos) << what << "\n" << run.out;
        EXPECT_EQ(run.status, c.status) << what;
        EXPECT_EQ(run.err, "") << what;
        EXPECT_FALSE(format_sent(run.trace)) << what;
        EXPECT_TRUE(handles_balanced(run.trace)) << what;
        if (!c.untouched.empty()) {
            EXPECT_FALSE(touches(run.trace, c.untouched)) << what;
        }
        if (c.has.find("drive number:Error") != std::string::npos ||
            c.has.find("Error: bad drive number") != std::string::npos) {
            EXPECT_FALSE(run.log_exists) << what;
            for (const nlohmann::json& open : trace_ops(run.trace, "open"))
                EXPECT_EQ(open.at("share"), 3) << what; // the drive list's only
        }
        // Refusals for safety are recorded in the log as well.
        if (c.status == 8) {
            EXPECT_NE(run.log.find(run.text(refusal_line(c.has))), std::string::npos)
                << what << run.log;
        }
        if (c.has.find("running system") != std::string::npos) {
            for (const nlohmann::json& open : trace_ops(run.trace, "open"))
                EXPECT_EQ(open.at("share"), 3) << what;
        }
    }
    // Nothing is sent to a namespace the OFA driver would take for another.
    const RunResult lun = run_program(kGuardedHost, {"1Y"});
    EXPECT_EQ(ioctls_with_code(lun.trace, CODE_MINIPORT).size(), 1u); // the probe
}

TEST(Program, OutcomesOfAFormatHaveTheirStatus) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string outcome;
        int status;
    } cases[] = {
        {{"2Y", "1"}, "", "Erased [1500 ms]!\n", 0},
        {{"17Y"}, "", "NVME status: SC: 0x0A, SCT: 1\nErase error [1500 ms]!\n", 1},
        // The JMicron data phase fails (its 7th request).
        {{"18Y"}, "", "IOCtl: phase2 failed 0x48f!\nPossible Erased [0 ms], re-plug drive!\n", 3},
        // A format request that timed out after the device took it, on every
        // path; a command phase that timed out had not reached the controller.
        {{"21Y"}, "", "NVME_OF failed 0x79!\nPossible Erased [300000 ms], re-plug drive!\n", 3},
        {{"22Y"}, "", "exchange[2] failed 0x79!\nPossible Erased [300000 ms], re-plug drive!\n", 3},
        {{"23Y"}, "", "[2] 1 failed 0x79!\nPossible Erased [300000 ms], re-plug drive!\n", 3},
        {{"24Y"}, "", "Possible Erased [0 ms], re-plug drive!\n", 3},
        // Blank answers keep the format in use and SES 1.
        {{"20"},
         " \n\t\nY\n",
         "format number:Dont change - Secure Erase only\n\nPlease select SES action (0/1/2 - "
         "default 1):Selected SES action: 1 - User Data Erase\n",
         0},
        // An answers file with a byte-order mark and CR LF line ends selects
        // the drive it names, and the format it names.
        {{},
         "\xEF\xBB\xBF"
         "2\r\n1\r\n1\r\nY\r\n",
         "Please select drive number:Drive   : 2(USB)\n"
         "Bridge  : JMS\nModel   : Simulated NVMe                          \nFw      : 1.0     \n"
         "S/N     : SIM00000001         \nSize    : 953869 MB\nLBA Size: 512\n"
         "LBA fmt list:\n##  LBAsize\n 0+  512\n 1  4096\n"
         "Please select LBA data size format number:Change LBA data size format (512->4096)\n"
         "\nPlease select SES action (0/1/2 - default 1):Selected SES action: 1 - User Data "
         "Erase\n\nAll data on disk will be lost, You sure?\n"
         "Press 'Y' and 'Enter' for continue, 'N' for cancel Erased [1500 ms]!\n",
         0},
    };
    for (const Case& c : cases) {
        const RunResult run = run_program(kGuardedHost, c.args, c.input);
        const std::string what = c.args.empty() ? c.input : c.args[0];
        EXPECT_NE(run.out.find(run.text(c.outcome)), std::string::npos) << what << run.out;
        EXPECT_EQ(run.status, c.status) << what;
        EXPECT_TRUE(format_sent(run.trace)) << what;
        EXPECT_TRUE(handles_balanced(run.trace)) << what;
    }
}

TEST(Program, DeviceTextsReachConsoleAndLogOnlyAsPrintableCharacters) {
    // Control characters, an escape sequence, DEL: each shows as "?", and
    // the fields keep their widths. The model cannot forge an outcome line.
    // The OS's service-pack text alike.
    std::string host = drive_host(2, "jmicron",
                                  R"(, "vendor": "\u001b[2J", "product": "Evil\n 9: Fake",
                      "controller": {"model": "Evil\nErased [1234 ms]!", "firmware": "1.0\t\u007f",
                                     "serial": "S\r\u0001N"})");
    host.insert(1, R"("os": {"csd": "SP\u0007\n9"}, )");
    const RunResult run = run_program(host, {}, "2N\n0\n1\nn\n");
    EXPECT_EQ(count_substr(run.out + run.log, run.text("OS: 10.0 build 19045 SP??9\n")), 2);
    const std::string identity = "Model   : Evil?Erased [1234 ms]!                  \n"
                                 "Fw      : 1.0??   \n"
                                 "S/N     : S??N                \n";
    EXPECT_NE(run.out.find(run.text(" 2: ?[2JEvil? 9: Fake\nPlease select drive number:")),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(run.text(identity)), std::string::npos) << run.out;
    EXPECT_NE(run.log.find(run.text(identity)), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find(run.text("\nErased")), std::string::npos) << run.log;
    for (const std::string* text : {&run.out, &run.log})
        for (char c : *text)
            EXPECT_TRUE((c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\r') << int(c);
    EXPECT_EQ(run.status, 4);
}

TEST(Program, RunEndedWhileFormattingLeavesNoPartialBlock) {
    // The simulated host ends the process during Format NVM, as a crash or a
    // power loss would: the log holds whole blocks only, the console what was
    // shown before the erase request.
    for (const char* path : {"jmicron", "ofa"}) {
        const RunResult run = run_program(
            drive_host(2, path, R"(, "controller": {"abort_in_format": true})"), {"2Y", "1"});
        EXPECT_EQ(run.status, 70) << path;
        EXPECT_EQ(run.log, "") << path;
        EXPECT_TRUE(ends_with(run.out, run.text("Change LBA data size format (512->4096)\n"
                                                "Selected SES action: 1 - User Data Erase\n")))
            << path << "\n"
            << run.out;
    }
}

TEST(Program, LbaFormatsOfNvme2) {
    std::string lbads_64 = "9";
    for (int i = 1; i < 64; ++i)
        lbads_64 += i % 2 ? ", 12" : ", 9";
    struct Case {
        std::string controller;
        std::vector<std::string> args;
        std::string has;
        uint32_t cdw10; // of the Format NVM sent; 0 for none
        int status;
    } cases[] = {
        // The index's bits 5:4 in FLBAS bits 6:5 and in CDW10 bits 13:12.
        {R"("lbads": [9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,12], "flbas": 32)",
         {"2Y"},
         "15   512\n16+ 4096\nDont change - Secure Erase only\n",
         0x1200,
         0},
        {R"("lbads": [)" + lbads_64 + R"(], "nlbaf": 63)",
         {"2Y", "63", "2"},
         "62   512\n63  4096\nChange LBA data size format (512->4096)\n",
         0x340F,
         0},
        // Rows up to NLBAF only; metadata sizes shown.
        {R"("lbads": [9, 12, 12], "nlbaf": 1)",
         {"2Y", "2"},
         "##  LBAsize\n 0+  512\n 1  4096\nError: wrong LBA data size format\n",
         0,
         5},
        {R"("lbads": [9, 9, 12], "ms": [0, 8, 0])",
         {"2Y", "1"},
         " 0+  512\n 1  512+8\n 2  4096\nChange LBA data size format (512->512+8)\n",
         0x201,
         0},
        // The capacity does not wrap.
        {R"("lbads": [31])",
         {"2Y"},
         "Size    : 4000819544064 MB\nLBA Size: 2147483648\n",
         0x200,
         0},
    };
    for (const Case& c : cases) {
        const RunResult run = run_program(
            drive_host(2, "jmicron", ", \"controller\": {" + c.controller + "}"), c.args);
        EXPECT_NE(run.out.find(run.text(c.has)), std::string::npos) << c.controller << run.out;
        EXPECT_NE(run.log.find(run.text(c.has.substr(0, c.has.rfind("Error")))), std::string::npos)
            << c.controller << run.log;
        EXPECT_EQ(run.status, c.status) << c.controller;
        uint32_t cdw10 = 0;
        for (const std::vector<uint8_t>& in : scsi_inputs(run.trace))
            if (in.size() == 580 && in[29] == 0x80 && in[76] == 0x80)
                cdw10 = get_le32(in.data(), 76 + 40);
        EXPECT_EQ(cdw10, c.cdw10) << c.controller;
    }
}
