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
                                    "Erased [2500 ms]!\n" +
                                    VERIFIED)),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.log.find(run.text("v0.7a\nOS: 10.0 build 22631 SP9\nDrive   : 2(USB)\n")), 0u);
    EXPECT_NE(run.log.find("S/N     : JM42"), std::string::npos);
    EXPECT_TRUE(handles_balanced(run.trace));
    // The system volume first, opened for queries only, whose extents query
    // fails (no drive holds it); then the drive's descriptor query, probe,
    // namespace, format, the completion query and Windows' size refresh and
    // geometry: nothing else.
    const nlohmann::json& volume = run.trace.at(0);
    EXPECT_EQ(volume.at("path"), SYSTEM_VOLUME);
    EXPECT_EQ(volume.at("access"), 0);
    EXPECT_EQ(volume.at("share"), 3);
    EXPECT_EQ(volume.at("flags"), 0);
    const std::vector<nlohmann::json> ioctls = trace_ops(run.trace, "ioctl");
    ASSERT_EQ(ioctls.size(), 13u);
    EXPECT_EQ(ioctls[0].at("code"), 0x00560000);
    EXPECT_EQ(ioctls[0].at("error"), 1);
    const std::vector<nlohmann::json> drive = trace_ops(drive_trace(run.trace), "ioctl");
    ASSERT_EQ(drive.size(), 11u);
    for (const nlohmann::json& line : drive)
        EXPECT_TRUE(line.at("ok").get<bool>());
    const uint32_t refresh[] = {0x0007C0C8, 0x00070140, 0x000700A0};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(drive[8 + i].at("code"), refresh[i]);
    EXPECT_EQ(trace_ops(run.trace, "read").size(), 4004u);
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
         "Erased [1500 ms]!\n" + VERIFIED,
         "",
         0},
        {{"3Y", "1"}, "Drive   : 3(USB)\nBridge  : ASM\n", "Erased [1500 ms]!\n" + VERIFIED, "", 0},
        {{"4Y"}, "Drive   : 4(USB)\n" + old_firmware + "Identify error!\n", "", "", 7},
        {{"5Y", "1"}, "Drive   : 5(USB)\nBridge  : RTL\n", "Erased [1500 ms]!\n" + VERIFIED, "", 0},
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
        std::string outcome;
        std::vector<uint8_t> last; // the last request: the completion query, when sent
        int status;
    } cases[] = {
        {"2Y", "IOCtl: SCSI status 0x02, sense 4/44/00!\n", "Erase error [1500 ms]!\n",
         jms_envelope(0x81, SPT_OUT, 0, 300), 1},
        {"3Y", "NVME status: SC: 0x0A, SCT: 1\n", "Erase error [1500 ms]!\n",
         asm_completion_query(), 1},
        // Told by nobody: Windows still sees the old sector size.
        {"5Y", "", "Erased [1500 ms]!\n" + STALE_512, rtl_completion_query(), 10},
        {"7Y", "", "Erased [5000 ms]!\n" + VERIFIED, rtl_completion_query(), 0},
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
  {"number": 19, "path": "ofa", "system": true}
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
        // Refused for safety: the system disk (nothing of it opened), and
        // drives that are not namespace 1 of their controller behind the OFA
        // driver (refused after their identity lines).
        {{"3Y"},
         "",
         "Drive   : 3(NVME)\nError: drive 3 holds the running system\n",
         8,
         "\\\\.\\PhysicalDrive3"},
        {{"19"},
         "",
         "Drive   : 19(NVME)\nError: drive 19 holds the running system\n\nPress any key to exit\n",
         8,
         "\\\\.\\PhysicalDrive19"},
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
        if (c.status == 5 && c.has.find("bad drive number") != std::string::npos) {
            EXPECT_FALSE(run.log_exists) << what;
            for (const nlohmann::json& open : trace_ops(run.trace, "open"))
                EXPECT_EQ(open.at("share"), 3) << what; // the drive list's only
        }
        // Refusals for safety are recorded in the log as well.
        if (c.status == 8) {
            EXPECT_NE(run.log.find(run.text(refusal_line(c.has))), std::string::npos)
                << what << run.log;
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
        {{"2Y", "1"}, "", "Erased [1500 ms]!\n" + VERIFIED, 0},
        {{"17Y"}, "", "NVME status: SC: 0x0A, SCT: 1\nErase error [1500 ms]!\n", 1},
        // The JMicron data phase fails (its 7th request) before it reaches
        // the drive: the check finds every sample as it was.
        {{"18Y"},
         "",
         "IOCtl: phase2 failed 0x48f!\nPossible Erased [0 ms], re-plug drive!\n" + SURVIVED,
         9},
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
    const RunResult run =
        run_program(drive_host(2, "jmicron",
                               R"(, "vendor": "\u001b[2J", "product": "Evil\n 9: Fake",
                      "controller": {"model": "Evil\nErased [1234 ms]!", "firmware": "1.0\t\u007f",
                                     "serial": "S\r\u0001N"})"),
                    {}, "2N\n0\n1\nn\n");
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

TEST(Program, LogBlockSurvivesARunEndedWhileFormatting) {
    // The simulated host ends the process during Format NVM, as a crash or a
    // power loss would: what was handed to the log file before it stays.
    for (const char* path : {"jmicron", "ofa"}) {
        const RunResult run = run_program(
            drive_host(2, path, R"(, "controller": {"abort_in_format": true})"), {"2Y", "1"});
        EXPECT_EQ(run.status, 70) << path;
        EXPECT_TRUE(ends_with(run.log, run.text("LBA fmt list:\n##  LBAsize\n 0+  512\n 1  4096\n"
                                                "Change LBA data size format (512->4096)\n"
                                                "Selected SES action: 1 - User Data Erase\n")))
            << path << "\n"
            << run.log;
        EXPECT_EQ(run.log.find(run.text(LOG_HEAD + "Drive   : 2(")), 0u) << path << run.log;
    }
}

namespace {

// Drives whose media, erase or reads differ, behind OFA and JMicron; disk 2
// has two volumes and disk 3 one, disk 4 a volume in use.
const char* const kMediaHost = R"({
  "volumes": [{"letter": "E", "disks": [2]}, {"letter": null, "disks": [2]},
              {"letter": "F", "disks": [3]}, {"letter": "G", "disks": [4], "in_use": true}],
  "drives": [
    {"number": 1, "path": "ofa"},
    {"number": 2, "path": "jmicron"},
    {"number": 3, "path": "ofa", "controller": {"erase_effect": "none"}},
    {"number": 4, "path": "jmicron"},
    {"number": 5, "path": "ofa", "controller": {"erase_effect": "partial"}},
    {"number": 6, "path": "jmicron", "controller": {"media": "blank"}},
    {"number": 7, "path": "ofa", "controller": {"sector_refresh": "replug"}},
    {"number": 8, "path": "jmicron", "read_fail": [{"nth": 2002, "error": 23}]},
    {"number": 9, "path": "ofa", "read_fail": [{"nth": 2003, "error": 1117}]},
    {"number": 10, "path": "jmicron", "controller": {"erase_effect": "random", "nsze": 4000}},
    {"number": 11, "path": "ofa", "controller": {"media": 0.5, "dlfeat": 2}},
    {"number": 12, "path": "jmicron", "fail": [{"nth": 7, "error": 1167}],
     "read_fail": [{"nth": 2003, "error": 23}]}
  ]})";

} // namespace

TEST(Program, VolumesGoOfflineAndTheReadBackJudgesTheErase) {
    const std::string ses1 = "Selected SES action: 1 - User Data Erase\n";
    const std::string erased = "Erased [1500 ms]!\n";
    struct Case {
        std::vector<std::string> args;
        std::string tail; // of standard output, from the SES line
        int status;
        size_t reads;
    } cases[] = {
        {{"1Y"}, ses1 + erased + VERIFIED, 0, 4004},
        {{"2Y", "1", "2"},
         "Selected SES action: 2 - Cryptographic Erase\nVolume  : E:\\ dismounted\n"
         "Volume  : \\\\?\\Volume{00000000-0000-0000-0000-000000000002}\\ dismounted\n" +
             erased + VERIFIED,
         0,
         4004},
        {{"3Y"}, ses1 + "Volume  : F:\\ dismounted\n" + erased + SURVIVED, 9, 4004},
        {{"4Y"}, ses1 + "Error: volume G:\\ is in use, close what uses it\n", 8, 0},
        {{"5Y"},
         ses1 + erased + "Verify  : 2002 samples, 2002 held data, 501 unchanged\n" +
             "Verify error: data survived the erase!\n",
         9,
         4004},
        {{"6Y"},
         ses1 + erased + "Verify  : 2002 samples, 0 held data, 0 unchanged\n" +
             "Verify  : nothing to compare, the samples were blank before the erase\n",
         0,
         4004},
        {{"7Y", "1"}, ses1 + erased + STALE_512, 10, 2002},
        {{"8Y"},
         ses1 + "Verify  : read error 23 at offset 1000204881920\n" + erased +
             "Verify  : skipped, the samples could not be read before the erase\n",
         10,
         2002},
        {{"9Y"}, ses1 + erased + "Verify  : read error 1117 at offset 0\n", 10, 2003},
        // Fewer units than samples: every one of them.
        {{"10Y", "1"},
         ses1 + erased + "Verify  : 500 samples, 500 held data, 0 unchanged\nVerified!\n",
         0,
         1000},
        {{"11Y"},
         ses1 + erased + "Verify  : 2002 samples, 985 held data, 0 unchanged\nVerified!\n",
         0,
         4004},
        {{"12Y"},
         ses1 + "IOCtl: phase2 failed 0x48f!\nPossible Erased [0 ms], re-plug drive!\n" +
             "Verify  : read error 23 at offset 0\n",
         3,
         2003},
    };
    for (const Case& k : cases) {
        const RunResult run = run_program(kMediaHost, k.args);
        const std::string& what = k.args[0];
        EXPECT_EQ(run.status, k.status) << what;
        EXPECT_EQ(run.err, "") << what;
        EXPECT_TRUE(ends_with(run.out, run.text(k.tail))) << what << "\n" << run.out;
        std::string logged = k.tail; // the transport's message is the console's alone
        const size_t message = logged.find("IOCtl:");
        if (message != std::string::npos)
            logged.erase(message, logged.find('\n', message) + 1 - message);
        EXPECT_TRUE(ends_with(run.log, run.text(logged))) << what << "\n" << run.log;
        EXPECT_TRUE(handles_balanced(run.trace)) << what;
        EXPECT_EQ(format_sent(run.trace), k.status != 8) << what;

        // Reads of whole 4 KiB units through the disk handle; the first
        // half before the format, the rest after it.
        const std::vector<nlohmann::json> reads = trace_ops(run.trace, "read");
        EXPECT_EQ(reads.size(), k.reads) << what;
        const std::string disk = "\\\\.\\PhysicalDrive" + std::to_string(std::stoi(what));
        for (const nlohmann::json& read : reads) {
            EXPECT_EQ(read.at("path"), disk) << what;
            EXPECT_EQ(read.at("size"), 4096) << what;
            EXPECT_EQ(read.at("offset").get<uint64_t>() % 4096, 0u) << what;
        }
        // Only the chosen disk's volumes are locked; they stay so until the
        // disk handle has closed.
        size_t locks = 0, disk_closed = 0, last_volume_closed = 0;
        for (size_t i = 0; i < run.trace.size(); ++i) {
            const nlohmann::json& line = run.trace[i];
            const std::string path = line.value("path", "");
            if (line.at("op") == "ioctl" && line.at("code") == 0x00090018)
                ++locks;
            if (line.at("op") == "close" && path == disk)
                disk_closed = i;
            if (line.at("op") == "close" && path.rfind("\\\\?\\", 0) == 0)
                last_volume_closed = i;
        }
        const size_t volumes = count_substr(k.tail, "dismounted");
        EXPECT_EQ(locks, volumes + (k.status == 8)) << what;
        if (volumes) {
            EXPECT_GT(last_volume_closed, disk_closed) << what;
        }
        // Every volume was handed out, the system volume's first.
        const std::vector<nlohmann::json> found = trace_ops(run.trace, "find_volume");
        ASSERT_EQ(found.size(), 5u) << what;
        EXPECT_EQ(found[0].at("name"), "\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\");
    }
}
