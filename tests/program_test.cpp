// The built program run with a host file: console, log, trace and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/wire.h"
#include "sim_support.h"
#include "support.h"

using namespace std::string_literals;

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
    // Whether this is Windows PE, asked before any device is opened; the
    // drive's descriptor query on a shared handle; the system volume,
    // opened for queries only, whose extents query fails (no drive holds
    // it); then the probe, namespace, format, the completion query and
    // Windows' size refresh and geometry: nothing else.
    EXPECT_EQ(run.trace.at(0), nlohmann::json::parse(R"({"op": "registry", "found": false,
                                   "key": "SYSTEM\\CurrentControlSet\\Control\\MiniNT"})"));
    EXPECT_EQ(trace_ops(run.trace, "registry").size(), 1u);
    EXPECT_EQ(run.trace.at(1).at("share"), 3);
    const nlohmann::json& volume = run.trace.at(4);
    EXPECT_EQ(volume.at("path"), SYSTEM_VOLUME);
    EXPECT_EQ(volume.at("access"), 0);
    EXPECT_EQ(volume.at("share"), 3);
    EXPECT_EQ(volume.at("flags"), 0);
    const std::vector<nlohmann::json> ioctls = trace_ops(run.trace, "ioctl");
    ASSERT_EQ(ioctls.size(), 13u);
    EXPECT_EQ(ioctls[1].at("code"), 0x00560000);
    EXPECT_EQ(ioctls[1].at("error"), 1);
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
         "Error - possible incompatible nvme driver\nSanitize is possible through this driver: run "
         "with S (e.g. 0S)\n\nPress any key to exit\n",
         "Error - possible incompatible nvme driver\n",
         7},
        // Options stand anywhere and are not counted as answers.
        {{"--note=a", "1Y", "--asset= b ", "1", "--note="},
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
        const char drive = k.args[0][0] == '-' ? k.args[1][0] : k.args[0][0];
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
  {"number": 24, "path": "asmedia", "fail": [{"nth": 9, "error": 121}]},
  {"number": 25, "path": "asmedia", "fail": [{"nth": 4, "error": 121}]}
]})";

// Windows PE, where the inbox driver formats: a format that succeeds (on a
// drive marked as the system's, which Windows PE's RAM disk is on no drive),
// one the controller fails, a failed request (the 5th: the format), one that
// times out while the controller goes on, one the driver answers "busy", and
// a second namespace.
const char* const kPeHost = R"({"winpe": true, "drives": [
  {"number": 1, "path": "inbox", "system": true},
  {"number": 2, "path": "inbox", "controller": {"format_status": 266}},
  {"number": 3, "path": "inbox", "fail": [{"nth": 5, "error": 31}]},
  {"number": 4, "path": "inbox", "controller": {"format_ms": 300001}},
  {"number": 5, "path": "inbox", "controller": {"protocol_return_status": 5}},
  {"number": 6, "path": "inbox", "lun": 1}
]})";

// The "Error: ..." line of an expected text.
std::string refusal_line(const std::string& text) {
    const size_t start = text.rfind("Error");
    return text.substr(start, text.find('\n', start) + 1 - start);
}

bool touches(const std::vector<nlohmann::json>& trace, const std::string& path) {
    for (const nlohmann::json& line : trace)
        if (line.value("path", "") == path)
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
        bool pe = false;       // on kPeHost: Windows PE
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
        // Every argument is read first: an unknown option, or one that needs
        // its '=', ends the run before the drive list; positional arguments
        // past what the mode reads are refused with the drive string.
        {{"2Y", "--bogus=1"},
         "",
         "19045 \nError: unknown option --bogus=1\n",
         5,
         "\\\\.\\PhysicalDrive0"},
        {{"--Asset=x", "2Y"}, "", "Error: unknown option --Asset=x\n", 5, "\\\\.\\PhysicalDrive2"},
        {{"--note"}, "", "19045 \nError: unknown option --note\n", 5, "\\\\.\\PhysicalDrive0"},
        {{"2Y", "1", "1", "1"},
         "",
         "19045 \nError: too many arguments\n",
         5,
         "\\\\.\\PhysicalDrive2"},
        {{"2SY", "1", "2"}, "", "19045 \nError: too many arguments\n", 5, "\\\\.\\PhysicalDrive2"},
        {{"Y2", "1", "1", "1"},
         "",
         "19045 \nError: bad drive number\n",
         5,
         "\\\\.\\PhysicalDrive2"},
        {{}, "2 (WD My Passport)\n1\n0\nN\n", "number:Error: bad drive number\n", 5, ""},
        // Lines past 4096 bytes and UTF-16 end the run: at once at the drive
        // prompt, through the closing step later (input from /dev/zero).
        {{}, std::string(5000, '2'), "drive number:Error: input line too long\n", 5, ""},
        {{},
         "\xFF\xFE\x32\0\n\0"s,
         "drive number:Error: answers must be ANSI or UTF-8 text\n",
         5,
         ""},
        {{"2"},
         std::string(5000, '\0'),
         "format number:Error: input line too long\n\nPress",
         5,
         ""},
        {{"2", "1"},
         "\xFE\xFF\0\x31\n"s,
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
        // In Windows PE the inbox driver formats namespace 1 alone.
        {{"6Y"},
         "",
         "Driver  : W10\nModel   : Simulated NVMe                          \nFw      : 1.0     \n"
         "S/N     : SIM00000001         \nError: drive 6 is not namespace 1 of its controller\n",
         8,
         "",
         true},
    };
    for (const Case& c : cases) {
        const RunResult run = run_program(c.pe ? kPeHost : kGuardedHost, c.args, c.input);
        const std::string what = (c.args.empty() ? "" : c.args[0]) + " / " + c.input;
        EXPECT_NE(run.out.find(run.text(c.has)), std::string::npos) << what << "\n" << run.out;
        EXPECT_EQ(run.status, c.status) << what;
        EXPECT_EQ(run.err, "") << what;
        EXPECT_FALSE(format_sent(run.trace)) << what;
        // Nothing goes the inbox driver's Windows PE route (the inbox drive
        // without S outside it among them), which the Mode line announces.
        EXPECT_TRUE(ioctls_with_code(run.trace, CODE_PROTOCOL_COMMAND).empty()) << what;
        EXPECT_EQ(run.out.find("Mode    :") == std::string::npos, !c.pe) << what;
        EXPECT_EQ(run.record, "") << what; // no erase, no record
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
        bool pe = false; // on kPeHost: Windows PE, the inbox driver formats
    } cases[] = {
        {{"2Y", "1"}, "", "Erased [1500 ms]!\n" + VERIFIED, 0},
        {{"17Y"}, "", "NVME status: SC: 0x0A, SCT: 1\nErase error [1500 ms]!\n", 1},
        // The JMicron data phase fails (its 7th request) before it reaches
        // the drive: the check finds every sample as it was.
        {{"18Y"},
         "",
         "IOCtl: phase2 failed 0x48f!\nPossible Erased [0 ms], re-plug drive!\n" + SURVIVED,
         9},
        // A format request that timed out after the device took it (the
        // bridges' in UsbBridges): the read-back decides. A command phase that
        // timed out had not reached the controller.
        {{"21Y"},
         "",
         "NVME_OF failed 0x79!\nPossible Erased [300000 ms], re-plug drive!\n" + VERIFIED,
         0},
        {{"24Y"}, "", "Possible Erased [0 ms], re-plug drive!\n" + SURVIVED, 9},
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
        // Through the inbox driver in Windows PE: every outcome, after the
        // lines of a format on any path (the Mode line before the drive
        // list); the system's disk is none of the drives.
        {{},
         "1\n1\n1\nY\n",
         "19045 \nMode    : Windows PE\n 1: \n 2: \n 3: \n 4: \n 5: \n 6: \n"
         "Please select drive number:Drive   : 1(NVME)\nScsi    : 1\nDriver  : W10\n"
         "Model   : Simulated NVMe                          \nFw      : 1.0     \n"
         "S/N     : SIM00000001         \nSize    : 953869 MB\nLBA Size: 512\n"
         "LBA fmt list:\n##  LBAsize\n 0+  512\n 1  4096\n"
         "Please select LBA data size format number:Change LBA data size format (512->4096)\n"
         "\nPlease select SES action (0/1/2 - default 1):Selected SES action: 1 - User Data "
         "Erase\n\nAll data on disk will be lost, You sure?\n"
         "Press 'Y' and 'Enter' for continue, 'N' for cancel Erased [1500 ms]!\n" +
             VERIFIED,
         0,
         true},
        {{"2Y", "1"}, "", "NVME status: SC: 0x0A, SCT: 1\nErase error [1500 ms]!\n", 1, true},
        {{"3Y", "1"}, "", "IOCtl: FORMAT failed 0x1f!\nErase error [0 ms]!\n", 1, true},
        {{"4Y", "1"},
         "",
         "IOCtl: FORMAT failed 0x79!\nPossible Erased [300000 ms], re-plug drive!\n" + VERIFIED,
         0,
         true},
        {{"5Y", "1"}, "", "IOCtl: FORMAT status 0x5!\nErase error [0 ms]!\n", 1, true},
    };
    for (const Case& c : cases) {
        const RunResult run = run_program(c.pe ? kPeHost : kGuardedHost, c.args, c.input);
        const std::string what = c.args.empty() ? c.input : c.args[0];
        EXPECT_NE(run.out.find(run.text(c.outcome)), std::string::npos) << what << run.out;
        EXPECT_EQ(run.status, c.status) << what;
        EXPECT_TRUE(format_sent(run.trace)) << what;
        EXPECT_TRUE(handles_balanced(run.trace)) << what;
        // In Windows PE the format goes out as one protocol command, byte for
        // byte (format 1, SES 1), with no log query; the Mode line follows
        // the OS line in the log too. Elsewhere no protocol command at all.
        const std::vector<nlohmann::json> sent = ioctls_with_code(run.trace, CODE_PROTOCOL_COMMAND);
        ASSERT_EQ(sent.size(), c.pe ? 1u : 0u) << what;
        EXPECT_EQ(trace_ops(run.trace, "registry").at(0).at("found"), c.pe) << what;
        EXPECT_EQ(touches(run.trace, "\\\\.\\X:"), c.pe) << what; // Windows PE's RAM disk
        if (c.pe) {
            EXPECT_EQ(trace_input(sent[0]), protocol_command(0x80, 1, 0x201)) << what;
            for (const nlohmann::json& query : ioctls_with_code(run.trace, CODE_QUERY_PROPERTY))
                EXPECT_NE(trace_input(query), inbox_query(0x81, 0, 49, 2, 512)) << what;
            EXPECT_EQ(run.log.find(run.text(LOG_HEAD + "Mode    : Windows PE\nDrive   : ")), 0u)
                << what << run.log;
        }
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
        // The erase record has its started line, and nothing after it.
        ASSERT_EQ(count_substr(run.record, "\n"), 1) << path << run.record;
        EXPECT_EQ(nlohmann::json::parse(run.record).at("outcome"), "started") << path;
        EXPECT_EQ(record_schema_problems(run.record), "") << path;
    }
}

TEST(Program, LbaFormatsOfNvme2) {
    std::string lbads_64 = "9";
    for (int i = 1; i < 64; ++i)
        lbads_64 += i % 2 ? ", 12" : ", 9";
    struct Case {
        int status;
        uint32_t cdw10; // of the Format NVM sent; 0 for none
        const char* args;
        std::string controller;
        std::string has;
    } cases[] = {
        // The index's bits 5:4 in FLBAS bits 6:5 and in CDW10 bits 13:12.
        {0, 0x1200, "2Y", R"("lbads": [9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,12], "flbas": 32)",
         "15   512\n16+ 4096\nDont change - Secure Erase only\n"},
        {0, 0x340F, "2Y 63 2", R"("lbads": [)" + lbads_64 + R"(], "nlbaf": 63)",
         "62   512\n63  4096\nChange LBA data size format (512->4096)\n"},
        // Rows up to NLBAF only; metadata sizes shown.
        {5, 0, "2Y 2", R"("lbads": [9, 12, 12], "nlbaf": 1)",
         "##  LBAsize\n 0+  512\n 1  4096\nError: wrong LBA data size format\n"},
        {0, 0x201, "2Y 1", R"("lbads": [9, 9, 12], "ms": [0, 8, 0])",
         " 0+  512\n 1  512+8\n 2  4096\nChange LBA data size format (512->512+8)\n"},
        // The capacity does not wrap.
        {10, 0x200, "2Y", R"("lbads": [31])", "Size    : 4000819544064 MB\nLBA Size: 2147483648\n"},
    };
    for (const Case& c : cases) {
        const RunResult run = run_program(
            drive_host(2, "jmicron", ", \"controller\": {" + c.controller + "}"), words(c.args));
        EXPECT_NE(run.out.find(run.text(c.has)), std::string::npos) << c.controller << run.out;
        EXPECT_NE(run.log.find(run.text(c.has.substr(0, c.has.rfind("Error")))), std::string::npos)
            << c.controller << run.log;
        EXPECT_EQ(run.status, c.status) << c.controller;
        uint32_t cdw10 = 0;
        const uint32_t entry = spt().data + 8; // in the JMicron command block
        for (const std::vector<uint8_t>& in : scsi_inputs(run.trace))
            if (in.size() == spt().data + 512 && in[spt().cdb + 1] == 0x80 && in[entry] == 0x80)
                cdw10 = get_le32(in.data(), entry + 40);
        EXPECT_EQ(cdw10, c.cdw10) << c.controller;
    }
}

namespace {

// One request the tool must send: its control code and its input, byte for
// byte.
struct Sent {
    uint32_t code;
    std::vector<uint8_t> in;
};

constexpr uint32_t CODE_REINITIALIZE_MEDIA = 0x002D9640;
constexpr uint32_t LOG_CDW10 = 0x007F8081; // LID 81h, RAE, 128 dwords

std::vector<Sent> ofa_sent(uint32_t cdw10) {
    std::vector<Sent> sent;
    for (bool log : {false, true}) {
        std::vector<uint8_t> r = log ? ofa_request(0x02, 0xFFFFFFFF, LOG_CDW10, 2, 512, 5)
                                     : ofa_request(0x84, 0, cdw10, 0, 0, 300);
        put_le16(r.data(), 54, 0); // no command identifier
        sent.push_back({CODE_MINIPORT, r});
    }
    return sent;
}

std::vector<Sent> jms_sent(uint32_t cdw10) {
    return {{CODE_PASS_THROUGH, jms_command_phase(0x84, 0, cdw10, 300)},
            {CODE_PASS_THROUGH, jms_envelope(0x81, SPT_OUT, 0, 300)},
            {CODE_PASS_THROUGH, jms_completion_query()},
            {CODE_PASS_THROUGH, jms_command_phase(0x02, 0xFFFFFFFF, LOG_CDW10, 5)},
            {CODE_PASS_THROUGH, jms_envelope(0x82, SPT_IN, 512, 5)}};
}

std::vector<Sent> asm_sent(uint32_t cdw10) {
    return {{CODE_PASS_THROUGH, asm_command_phase(DIR_NONE_BYTE, 0x84, 0, cdw10)},
            {CODE_PASS_THROUGH, asm_no_data_phase(300)},
            {CODE_PASS_THROUGH, asm_command_phase(DIR_FROM_BYTE, 0x02, 0xFFFFFFFF, LOG_CDW10)},
            {CODE_PASS_THROUGH, asm_read_phase(512)}};
}

std::vector<Sent> rtl_sent(uint32_t cdw10) {
    return {{CODE_PASS_THROUGH, rtl_command_phase(0x84, 0, cdw10)},
            {CODE_PASS_THROUGH, rtl_data_phase(DIR_NONE_BYTE, 0, 300)},
            {CODE_PASS_THROUGH, rtl_completion_query()},
            {CODE_PASS_THROUGH, rtl_command_phase(0x02, 0xFFFFFFFF, LOG_CDW10)},
            {CODE_PASS_THROUGH, rtl_data_phase(DIR_FROM_BYTE, 512, 2)}};
}

// The erase request (the 16-byte input with the method and the timeout in
// seconds, or none) and the queries of the namespace and the log.
std::vector<Sent> inbox_sent(int method, uint32_t timeout_s) {
    std::vector<uint8_t> input;
    if (method) {
        input.assign(16, 0);
        put_le32(input.data(), 0, 16);
        put_le32(input.data(), 4, 16);
        put_le32(input.data(), 8, timeout_s);
        put_le32(input.data(), 12, static_cast<uint32_t>(method));
    }
    return {{CODE_REINITIALIZE_MEDIA, input},
            {CODE_QUERY_PROPERTY, inbox_query(0, 1, 50)},
            {CODE_QUERY_PROPERTY, inbox_query(0x81, 0, 49, 2, 512)}};
}

// SCSI SANITIZE: AUSE and the service action, no data, sense asked for.
Sent scsi_sanitize(uint8_t service_action, uint32_t timeout_s) {
    std::vector<uint8_t> e = spt_envelope(10, SPT_NONE, 0, timeout_s, 24, spt().sense);
    e[spt().cdb] = 0x48;
    e[spt().cdb + 1] = static_cast<uint8_t>(0x20 | service_action);
    return {CODE_PASS_THROUGH, e};
}

bool was_sent(const std::vector<nlohmann::json>& trace, const Sent& sent) {
    for (const nlohmann::json& op : trace_ops(trace, "ioctl"))
        if (op.at("code") == sent.code && trace_input(op) == sent.in)
            return true;
    return false;
}

// Whether any request carried a sanitize: the erase requests of the inbox
// driver, or an NVMe Sanitize in a miniport request or a tunnel's entry.
bool sanitize_sent(const std::vector<nlohmann::json>& trace) {
    for (const nlohmann::json& op : trace_ops(trace, "ioctl")) {
        const std::vector<uint8_t> in = trace_input(op);
        const uint32_t code = op.at("code");
        const uint32_t cdb = spt().cdb, data = spt().data;
        if (code == CODE_REINITIALIZE_MEDIA ||
            (code == CODE_MINIPORT && in.size() > 52 && in[52] == 0x84) ||
            (code == CODE_PROTOCOL_COMMAND && in.size() > 80 && in[80] == 0x84) ||
            (code == CODE_PASS_THROUGH &&
             ((in.size() > cdb && in[cdb] == 0x48) || (in.size() > data && in[data] == 0x84) ||
              (in.size() > data + 8 && in[cdb] == 0xA1 && in[data + 8] == 0x84))))
            return true;
    }
    return false;
}

std::string fails_from(uint32_t first, uint32_t last) {
    std::string list;
    for (uint32_t nth = first; nth <= last; ++nth)
        list += (list.empty() ? "" : ", ") + std::string("{\"nth\": ") + std::to_string(nth) +
                ", \"error\": 31}";
    return ", \"fail\": [" + list + "]";
}

const std::string kSanitized2s =
    "Selected sanitize action: 2 - Crypto Erase\nSanitizing: 50%\nSanitized [2000 ms]!\n";
const std::string kRunning =
    ", \"controller\": {\"sanitize_state\": {\"action\": \"block\", \"remaining_ms\": 3000}}";
const std::string kFollowed =
    "Selected sanitize action: 1 - Block Erase\nSanitizing: 50%\nSanitizing: "
    "60%\nSanitizing: 80%\nSanitized [3000 ms]!\n";
const std::string kKeyWait = "\nPress any key to exit\n";

// Console or log text without the read-back's lines.
std::string without_verify(const std::string& text) {
    std::string kept;
    for (size_t at = 0, end; at < text.size(); at = end) {
        end = std::min(text.find('\n', at), text.size() - 1) + 1;
        if (text.compare(at, 5, "Verif") != 0)
            kept += text.substr(at, end - at);
    }
    return kept;
}

struct SanitizeCase {
    uint32_t build;
    std::string path;
    std::string fields; // of the drive, after its path
    std::vector<std::string> args;
    std::string input;
    std::string out_tail;
    std::string log_tail;
    int status;
    std::vector<Sent> sent; // empty: no sanitize at all
    bool pe;                // the host runs Windows PE
};

SanitizeCase row(uint32_t build, const std::string& path, const std::string& fields,
                 const std::vector<std::string>& args, const std::string& input,
                 const std::string& out_tail, const std::string& log_tail, int status,
                 const std::vector<Sent>& sent, bool pe = false) {
    return {build, path, fields, args, input, out_tail, log_tail, status, sent, pe};
}

// Sanitize through the inbox driver in Windows PE: the protocol command
// (300 s), then the namespace and log queries.
std::vector<Sent> protocol_sent(uint32_t cdw10) {
    std::vector<Sent> sent = inbox_sent(0, 0);
    sent[0] = {CODE_PROTOCOL_COMMAND, protocol_command(0x84, 0, cdw10)};
    return sent;
}

// Whether a request starts a sanitize through the inbox driver: the protocol
// command, REINITIALIZE_MEDIA, SCSI SANITIZE.
bool starts_inbox_sanitize(uint32_t code, const std::vector<uint8_t>& in) {
    return code == CODE_PROTOCOL_COMMAND || code == CODE_REINITIALIZE_MEDIA ||
           (code == CODE_PASS_THROUGH && in.size() > spt().cdb && in[spt().cdb] == 0x48);
}

} // namespace

TEST(Program, SanitizeOnEveryPath) {
    const std::string confirm =
        "\nAll data on disk will be lost, You sure?\nPress 'Y' and 'Enter' for continue, 'N' for "
        "cancel ";
    const std::string prompt =
        "Please select sanitize action (1 block erase, 2 crypto erase, 3 overwrite - default 2):";
    const std::string hint = "Sanitize is possible through this driver: run with S (e.g. 2S)\n";
    const std::string refused = "Error: wrong sanitize action selected\n";
    const std::string stalled = ", \"controller\": {\"sanitize_stalls\": true}";
    const std::string unsure = "Sanitize unconfirmed [66000 ms]!\n";
    const std::string still =
        "Sanitize still running: keep the drive powered, run again with S to follow it\n" + unsure;
    const std::string all = R"(, "controller": {"sanicap": 7, "sanitize_ms": {"overwrite": 3000}})";
    const std::string failed =
        "Sanitize failed: the drive reports a failed sanitize\nSanitize error [2000 ms]!\n";
    const SanitizeCase cases[] = {
        // Each path, and each action, by argument, quiet default or answer.
        row(19045, "ofa", "", {"2SY"}, "", kSanitized2s, "2 - Crypto Erase\nSanitized [2000 ms]!\n",
            0, ofa_sent(0x0C)),
        row(19045, "jmicron", "", {"2SY", "1"}, "",
            "1 - Block Erase\nSanitizing: 10%\nSanitizing: 30%\nSanitizing: 50%\nSanitizing: 60%\n"
            "Sanitizing: 80%\nSanitized [6000 ms]!\n",
            "1 - Block Erase\nSanitized [6000 ms]!\n", 0, jms_sent(0x0A)),
        row(19045, "asmedia", all, {"2SY", "3"}, "",
            "3 - Overwrite\nSanitizing: 30%\nSanitizing: 60%\nSanitized [3000 ms]!\n",
            "Sanitized [3000 ms]!\n", 0, asm_sent(0x1B)),
        row(19045, "realtek", "", {"2s"}, "\nY\n",
            "LBA Size: 512\n" + prompt + kSanitized2s.substr(0, 43) + confirm +
                "Sanitizing: 50%\nSanitized [2000 ms]!\n" + kKeyWait,
            kSanitized2s.substr(0, 43) + "Sanitized [2000 ms]!\n", 0, rtl_sent(0x0C)),
        row(19045, "inbox", "", {"2SY", " 1 "}, "",
            "Sanitize: block erase, crypto erase\nSize    : 953869 MB\nLBA Size: 512\n"
            "Selected sanitize action: 1 - Block Erase\nSanitized [6000 ms]!\n",
            "1 - Block Erase\nSanitized [6000 ms]!\n", 0, inbox_sent(1, 78)),
        // Before build 19043 the request has no input and erases by crypto
        // erase only; before 14393 there is none.
        row(19042, "inbox", "", {"2SY"}, "",
            "Sanitize: crypto erase\nSize    : 953869 MB\nLBA Size: 512\n"
            "Selected sanitize action: 2 - Crypto Erase\nSanitized [2000 ms]!\n",
            "Sanitized [2000 ms]!\n", 0, inbox_sent(0, 0)),
        row(14393, "inbox", "", {"2SY"}, "", "Sanitized [2000 ms]!\n", "Sanitized [2000 ms]!\n", 0,
            inbox_sent(0, 0)),
        row(14393, "inbox", "", {"2SY", "1"}, "", refused,
            "Sanitize: crypto erase\nSize    : 953869 MB\nLBA Size: 512\n", 5, {}),
        row(10586, "inbox", "", {"2SY"}, "", "Sanitize: not supported\n",
            "Sanitize: not supported\n", 7, {}),
        // Without S the inbox driver ends the run, with a hint where it can
        // sanitize.
        row(14393, "inbox", "", {"2Y"}, "", "incompatible nvme driver\n" + hint,
            "incompatible nvme driver\n", 7, {}),
        row(10586, "inbox", "", {"2Y"}, "", "incompatible nvme driver\n",
            "incompatible nvme driver\n", 7, {}),
        row(19045, "inbox", R"(, "controller": {"sanicap": 0})", {"2Y"}, "",
            "incompatible nvme driver\n", "", 7, {}),
        // The driver refuses the request as an invalid function: the SCSI
        // SANITIZE command takes over, from build 18362 on.
        row(19045, "inbox", R"(, "fail": [{"nth": 6, "error": 1}])", {"2SY", "1"}, "",
            "Block Erase\nIOCtl: REINITIALIZE_MEDIA failed 0x1!\nSanitized [6000 ms]!\n",
            "Block Erase\nSanitized [6000 ms]!\n", 0, {scsi_sanitize(2, 78)}),
        row(17763, "inbox", R"(, "fail": [{"nth": 6, "error": 1}])", {"2SY"}, "",
            "0x1!\nIOCtl: SCSI status 0x02, sense 5/20/00!\nSanitize error [0 ms]!\n",
            "Crypto Erase\nSanitize error [0 ms]!\n", 1, {scsi_sanitize(3, 66)}),
        // Actions the drive or the path does not offer, and answers that are
        // not a number.
        row(19045, "jmicron", R"(, "controller": {"sanicap": 0})", {"2SY", "1"}, "",
            "Sanitize: not supported\n", "Sanitize: not supported\n", 7, {}),
        row(19045, "ofa", "", {"2SY", "3"}, "", refused, "LBA Size: 512\n", 5, {}),
        row(19045, "inbox", "", {"2SY", "3"}, "", refused, "", 5, {}),
        row(19045, "asmedia", "", {"2S"}, "2x\n", prompt + refused + kKeyWait, "LBA Size: 512\n", 5,
            {}),
        row(19045, "realtek", "", {"2S", "-2"}, "", refused + kKeyWait, "", 5, {}),
        row(19045, "ofa", "", {"2S"}, "1\nn\n", confirm + "Not sure - Exit!\n" + kKeyWait,
            "1 - Block Erase\n", 4, {}),
        // The drive fails the sanitize.
        row(19045, "asmedia", R"(, "controller": {"sanitize_fails": true})", {"2SY"}, "",
            "Sanitizing: 50%\n" + failed, "Crypto Erase\n" + failed, 1, asm_sent(0x0C)),
        row(19045, "inbox", R"(, "controller": {"sanitize_fails": true})", {"2SY"}, "",
            "Crypto Erase\n" + failed, failed, 1, inbox_sent(2, 66)),
        // The drive rejects the command: a sanitize runs that the first log
        // read, which failed, did not show.
        row(19045, "ofa", R"(, "fail": [{"nth": 5, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nNVME status: SC: 0x1D, SCT: 0\nSanitize error [0 ms]!\n",
            "Crypto Erase\nSanitize error [0 ms]!\n", 1, {}),
        row(19045, "jmicron", R"(, "fail": [{"nth": 4, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nIOCtl: SCSI status 0x02, sense 4/44/00!\nSanitize error [0 ms]!\n",
            "Sanitize error [0 ms]!\n", 1, {}),
        row(19045, "realtek",
            R"(, "bridge": {"check_condition": false}, "fail": [{"nth": 6, "error": 31}])" +
                kRunning,
            {"2SY"}, "", "Crypto Erase\nNVME status: SC: 0x1D, SCT: 0\nSanitize error [0 ms]!\n",
            "Sanitize error [0 ms]!\n", 1, {}),
        row(19045, "inbox", R"(, "fail": [{"nth": 4, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nIOCtl: REINITIALIZE_MEDIA failed 0x45d!\nSanitize error [0 ms]!\n",
            "Sanitize error [0 ms]!\n", 1, {}),
        row(19045, "asmedia", R"(, "fail": [{"nth": 6, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nIOCtl: SCSI status 0x02, sense 0/00/00!\nSanitize error [0 ms]!\n",
            "Sanitize error [0 ms]!\n", 1, {}),
        // The log cannot be read: before the request, it only hides the
        // estimate; after it, nothing confirms the sanitize.
        row(19045, "ofa", R"(, "fail": [{"nth": 5, "error": 31}])", {"2SY"}, "",
            "IOCtl: NVME_OF failed 0x1f!\nSanitize: block erase, crypto erase\nSize    : 953869 "
            "MB\nLBA Size: 512\n" +
                kSanitized2s,
            "Sanitized [2000 ms]!\n", 0, ofa_sent(0x0C)),
        row(19045, "inbox", R"(, "fail": [{"nth": 4, "error": 31}])", {"2SY"}, "",
            "IOCtl: LOG failed 0x1f!\nSanitize: block erase, crypto erase\nSize    : 953869 MB\n"
            "LBA Size: 512\nSelected sanitize action: 2 - Crypto Erase\nSanitized [2000 ms]!\n",
            "Sanitized [2000 ms]!\n", 0, inbox_sent(2, 43200)),
        row(19045, "ofa", fails_from(8, 80), {"2SY"}, "",
            "IOCtl: NVME_OF failed 0x1f!\n" + unsure +
                "IOCtl: update drive size failed 0x1f!\nIOCtl: update properties failed "
                "0x1f!\nIOCtl: drive geometry failed 0x1f!\n",
            "Crypto Erase\n" + unsure, 3, ofa_sent(0x0C)),
        // The process ends during the sanitize: no partial log block; the
        // console holds what was shown before the request.
        row(19045, "ofa", R"(, "controller": {"abort_in_sanitize": true})", {"2SY"}, "",
            "LBA Size: 512\nSelected sanitize action: 2 - Crypto Erase\n", "", 70,
            {ofa_sent(0x0C)[0]}),
        row(19045, "inbox", R"(, "controller": {"abort_in_sanitize": true})", {"2SY"}, "",
            "LBA Size: 512\nSelected sanitize action: 2 - Crypto Erase\n", "", 70, {}),
        // A sanitize found in progress is followed: no question, no
        // confirmation, no request.
        row(19045, "jmicron", kRunning, {"2S"}, "", "LBA Size: 512\n" + kFollowed + kKeyWait,
            "LBA Size: 512\nSelected sanitize action: 1 - Block Erase\nSanitized [3000 ms]!\n", 10,
            {}),
        row(19045, "inbox", kRunning, {"2SY", "2"}, "", kFollowed, "Sanitized [3000 ms]!\n", 10,
            {}),
        // A sanitize that never ends: followed up to three times its
        // estimate and a minute; through the inbox driver the request waits
        // that long.
        row(19045, "realtek", stalled, {"2SY"}, "", "Sanitizing: 50%\n" + still,
            "Crypto Erase\n" + still, 3, rtl_sent(0x0C)),
        row(19045, "inbox", stalled, {"2SY"}, "",
            "IOCtl: REINITIALIZE_MEDIA failed 0x79!\nSanitize error [66000 ms]!\n",
            "Sanitize error [66000 ms]!\n", 1, inbox_sent(2, 66)),
        // In Windows PE the inbox driver carries Sanitize itself and SANICAP
        // alone decides the actions, whatever the build; the log shows the
        // progress. Where the driver does not carry it, once the route used
        // outside Windows PE, if that can run the action.
        row(19045, "inbox", "", {"2SY"}, "",
            "Sanitize: block erase, crypto erase\nSize    : 953869 MB\nLBA Size: 512\n" +
                kSanitized2s,
            "2 - Crypto Erase\nSanitized [2000 ms]!\n", 0, protocol_sent(0x0C), true),
        row(10586, "inbox", all, {"2SY", "3"}, "",
            "Sanitize: block erase, crypto erase, overwrite\nSize    : 953869 MB\nLBA Size: 512\n"
            "Selected sanitize action: 3 - Overwrite\nSanitizing: 30%\nSanitizing: 60%\n"
            "Sanitized [3000 ms]!\n",
            "Sanitized [3000 ms]!\n", 0, protocol_sent(0x1B), true),
        row(19045, "inbox", R"(, "controller": {"protocol_sanitize": false})", {"2SY", "1"}, "",
            "Block Erase\nIOCtl: SANITIZE status 0xff!\nSanitized [6000 ms]!\n",
            "Block Erase\nSanitized [6000 ms]!\n", 0,
            {{CODE_PROTOCOL_COMMAND, protocol_command(0x84, 0, 0x0A)}, inbox_sent(1, 78)[0]}, true),
        row(19045, "inbox", R"(, "fail": [{"nth": 6, "error": 1}])", {"2SY"}, "",
            "Crypto Erase\nIOCtl: SANITIZE failed 0x1!\nSanitized [2000 ms]!\n",
            "Crypto Erase\nSanitized [2000 ms]!\n", 0,
            {{CODE_PROTOCOL_COMMAND, protocol_command(0x84, 0, 0x0C)}, inbox_sent(2, 66)[0]}, true),
        row(19045, "inbox", R"(, "controller": {"sanicap": 7, "protocol_sanitize": false})",
            {"2SY", "3"}, "", "Overwrite\nIOCtl: SANITIZE status 0xff!\nSanitize error [0 ms]!\n",
            "Overwrite\nSanitize error [0 ms]!\n", 1,
            {{CODE_PROTOCOL_COMMAND, protocol_command(0x84, 0, 0x1B)}}, true),
        // Other failures end there: the controller's status (a sanitize the
        // first log read, which failed, did not show).
        row(19045, "inbox", R"(, "fail": [{"nth": 4, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nNVME status: SC: 0x1D, SCT: 0\nSanitize error [0 ms]!\n",
            "Crypto Erase\nSanitize error [0 ms]!\n", 1,
            {{CODE_PROTOCOL_COMMAND, protocol_command(0x84, 0, 0x0C)}}, true),
        // An estimate of 46 days is not believed: 48 hours at most.
        row(19045, "inbox", R"(, "controller": {"sanitize_ms": {"crypto": 4000000000}})", {"2SY"},
            "", "IOCtl: REINITIALIZE_MEDIA failed 0x79!\nSanitize error [172800000 ms]!\n",
            "Sanitize error [172800000 ms]!\n", 1, inbox_sent(2, 172800)),
    };
    for (const SanitizeCase& c : cases) {
        const std::string host = std::string(c.pe ? "{\"winpe\": true, " : "{") +
                                 "\"os\": {\"build\": " + std::to_string(c.build) +
                                 "}, \"drives\": [{\"number\": 2, \"path\": \"" + c.path + "\"" +
                                 c.fields + "}]}";
        const RunResult run = run_program(host, c.args, c.input);
        const std::string what = c.path + " " + std::to_string(c.build) + " " + c.fields + " " +
                                 (c.args.size() > 1 ? c.args[1] : c.input);
        EXPECT_EQ(run.status, c.status) << what;
        EXPECT_EQ(run.err, "") << what;
        // The read-back's lines are checked by their verdict alone.
        EXPECT_TRUE(ends_with(without_verify(run.out), run.text(c.out_tail))) << what << "\n"
                                                                              << run.out;
        EXPECT_TRUE(ends_with(without_verify(run.log), run.text(c.log_tail))) << what << "\n"
                                                                              << run.log;
        if (c.status == 0 || c.status == 10) {
            const std::string verdict =
                c.status == 0 ? "Verified!\n"
                              : "Verify  : skipped, the sanitize began before this run\n";
            EXPECT_NE(run.out.find(run.text(verdict)), std::string::npos) << what;
            EXPECT_NE(run.log.find(run.text(verdict)), std::string::npos) << what;
        }
        EXPECT_EQ(handles_balanced(run.trace), c.status != 70) << what; // 70: ended at once
        if (c.status == 70) {
            EXPECT_EQ(run.log, "") << what;
        }
        for (const Sent& sent : c.sent)
            EXPECT_TRUE(was_sent(run.trace, sent)) << what << " " << std::hex << sent.code;
        if (c.sent.empty() && c.status != 1) {
            EXPECT_FALSE(sanitize_sent(run.trace)) << what;
        }
        // Outside Windows PE the protocol command is never sent; in it, no
        // sanitize request but those listed.
        size_t listed = 0, made = 0;
        for (const Sent& sent : c.sent)
            listed += starts_inbox_sanitize(sent.code, sent.in);
        for (const nlohmann::json& op : trace_ops(run.trace, "ioctl"))
            made += starts_inbox_sanitize(op.at("code"), trace_input(op));
        if (c.pe) {
            EXPECT_EQ(made, listed) << what;
        } else {
            EXPECT_TRUE(ioctls_with_code(run.trace, CODE_PROTOCOL_COMMAND).empty()) << what;
        }
        EXPECT_FALSE(format_sent(run.trace)) << what;
        // The record: the started line of every sanitize sent or followed,
        // then, unless the run died, the final line with the outcome shown.
        const std::vector<nlohmann::json> records = record_lines(run.record);
        if (c.status == 4 || c.status == 5 || c.status == 7) {
            EXPECT_TRUE(records.empty()) << what;
            continue;
        }
        EXPECT_EQ(records.size(), c.status == 70 ? 1u : 2u) << what;
        if (records.empty())
            continue;
        EXPECT_EQ(record_schema_problems(run.record), "") << what;
        // The started line names the route tried first, the final one the
        // route that carried the sanitize (the last erase request listed).
        const bool inbox = c.path == "inbox" && c.status != 10;
        const nlohmann::json none;
        EXPECT_EQ(records[0].at("method").at("route"),
                  !inbox ? none : nlohmann::json(c.pe ? "protocol command" : "reinitialize media"))
            << what;
        nlohmann::json route = inbox ? nlohmann::json("reinitialize media") : none;
        for (const Sent& sent : c.sent)
            if (inbox && starts_inbox_sanitize(sent.code, sent.in))
                route = sent.code == CODE_PROTOCOL_COMMAND ? "protocol command"
                        : sent.code == CODE_PASS_THROUGH   ? "SCSI sanitize"
                                                           : "reinitialize media";
        const nlohmann::json& end = records.back();
        EXPECT_EQ(end.at("method").at("command"), "Sanitize") << what;
        EXPECT_EQ(end.at("category").at("ieee_2883"), "Purge") << what;
        if (c.status != 70) {
            EXPECT_EQ(end.at("exit_status"), run.status) << what;
            const std::string outcome = end.at("outcome_line");
            EXPECT_NE(run.out.find(run.text(outcome + "\n")), std::string::npos) << what;
            EXPECT_EQ(end.at("method").at("route"), route) << what;
        }
    }
}

namespace {

// Drives whose media, erase or reads differ, behind OFA and JMicron; disk 2
// has two volumes and disk 3 one, disk 4 a volume in use.
const char* const kMediaHost = R"({
  "volumes": [{"letter": "E", "disks": [2]}, {"letter": null, "disks": [2]},
              {"letter": "F", "disks": [3]}, {"letter": "G", "disks": [4], "in_use": true},
              {"letter": "H", "disks": [13]}, {"letter": "I", "disks": [14], "in_use": true}],
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
     "read_fail": [{"nth": 2003, "error": 23}]},
    {"number": 13, "path": "inbox"},
    {"number": 14, "path": "inbox"},
    {"number": 15, "path": "inbox", "controller": {"erase_effect": "none"}}
  ]})";

} // namespace

TEST(Program, VolumesGoOfflineAndTheReadBackJudgesTheErase) {
    const std::string ses1 = "Selected SES action: 1 - User Data Erase\n";
    const std::string erased = "Erased [1500 ms]!\n";
    const std::string crypto = "Selected sanitize action: 2 - Crypto Erase\n";
    const std::string sanitized = "Sanitized [2000 ms]!\n";
    struct Case {
        int status;
        size_t reads;
        const char* args;
        std::string tail; // of standard output, from the SES line
    } cases[] = {
        {0, 4004, "1Y", ses1 + erased + VERIFIED},
        {0, 4004, "2Y 1 2",
         "Selected SES action: 2 - Cryptographic Erase\nVolume  : E:\\ dismounted\n"
         "Volume  : \\\\?\\Volume{00000000-0000-0000-0000-000000000002}\\ dismounted\n" +
             erased + VERIFIED},
        {9, 4004, "3Y", ses1 + "Volume  : F:\\ dismounted\n" + erased + SURVIVED},
        {8, 0, "4Y", ses1 + "Error: volume G:\\ is in use, close what uses it\n"},
        {9, 4004, "5Y",
         ses1 + erased + "Verify  : 2002 samples, 2002 held data, 501 unchanged\n" +
             "Verify error: data survived the erase!\n"},
        {0, 4004, "6Y",
         ses1 + erased + "Verify  : 2002 samples, 0 held data, 0 unchanged\n" +
             "Verify  : nothing to compare, the samples were blank before the erase\n"},
        {10, 2002, "7Y 1", ses1 + erased + STALE_512},
        {10, 2002, "8Y",
         ses1 + "Verify  : read error 23 at offset 1000204881920\n" + erased +
             "Verify  : skipped, the samples could not be read before the erase\n"},
        {10, 2003, "9Y", ses1 + erased + "Verify  : read error 1117 at offset 0\n"},
        // Fewer units than samples: every one of them.
        {0, 1000, "10Y 1",
         ses1 + erased + "Verify  : 500 samples, 500 held data, 0 unchanged\nVerified!\n"},
        {0, 4004, "11Y",
         ses1 + erased + "Verify  : 2002 samples, 985 held data, 0 unchanged\nVerified!\n"},
        {3, 2003, "12Y",
         ses1 + "IOCtl: phase2 failed 0x48f!\nPossible Erased [0 ms], re-plug drive!\n" +
             "Verify  : read error 23 at offset 0\n"},
        // Sanitize through the inbox driver, which Windows runs only on a disk
        // whose volumes are locked.
        {0, 4004, "13SY", crypto + "Volume  : H:\\ dismounted\n" + sanitized + VERIFIED},
        {8, 0, "14SY", crypto + "Error: volume I:\\ is in use, close what uses it\n"},
        {9, 4004, "15SY", crypto + sanitized + SURVIVED},
    };
    for (const Case& k : cases) {
        const RunResult run = run_program(kMediaHost, words(k.args));
        const std::string what = words(k.args)[0];
        EXPECT_EQ(run.status, k.status) << what;
        EXPECT_EQ(run.err, "") << what;
        EXPECT_TRUE(ends_with(run.out, run.text(k.tail))) << what << "\n" << run.out;
        std::string logged = k.tail; // the transport's message is the console's alone
        const size_t message = logged.find("IOCtl:");
        if (message != std::string::npos)
            logged.erase(message, logged.find('\n', message) + 1 - message);
        EXPECT_TRUE(ends_with(run.log, run.text(logged))) << what << "\n" << run.log;
        EXPECT_TRUE(handles_balanced(run.trace)) << what;
        const bool sanitize = what.find('S') != std::string::npos;
        EXPECT_EQ(format_sent(run.trace), k.status != 8 && !sanitize) << what;

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
        // Every volume was handed out, the system volume's first, up to one
        // in use (G is the fifth).
        const std::vector<nlohmann::json> found = trace_ops(run.trace, "find_volume");
        ASSERT_EQ(found.size(), what == "4Y" ? 5u : 7u) << what;
        EXPECT_EQ(found[0].at("name"), "\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\");
    }
}

namespace {

// Every path and every outcome of Format NVM, each once; device texts with characters
// the record must escape. The clock passes midnight, a month's end, during
// a 1.5 s format.
const char* const kRecordHost = R"({
  "system_time": "2026-05-31T23:59:59Z", "computer": "WS\"7\\b",
  "drives": [
    {"number": 1, "path": "ofa"},
    {"number": 2, "path": "ofa", "controller": {"format_status": 266}},
    {"number": 3, "path": "jmicron", "vendor": "JMicron ", "product": "Q\"uote\\",
     "controller": {"model": "M\"odel\\ ", "serial": "SN\"1", "firmware": "F\\2"}},
    {"number": 5, "path": "jmicron", "fail": [{"nth": 7, "error": 1167}]},
    {"number": 6, "path": "asmedia", "vendor": "ASMT", "product": "2362"},
    {"number": 8, "path": "realtek", "controller": {"format_ms": 900}}]})";

// The same clock and computer in Windows PE, where the inbox driver formats.
const char* const kRecordPeHost = R"({"winpe": true,
  "system_time": "2026-05-31T23:59:59Z", "computer": "WS\"7\\b",
  "drives": [
    {"number": 1, "path": "inbox"},
    {"number": 2, "path": "inbox", "controller": {"format_status": 266}}]})";

// The rest of the console line that begins with `label`.
std::string shown(const RunResult& run, const std::string& label) {
    const size_t at = run.out.find(run.text("\n") + label);
    if (at == std::string::npos)
        return "<no " + label + ">";
    const size_t start = at + run.eol.size() + label.size();
    return run.out.substr(start, run.out.find(run.eol, start) - start);
}

} // namespace

TEST(Program, EveryFormatOutcomeOnEveryPathLeavesItsRecord) {
    const nlohmann::json none;
    struct Case {
        std::vector<std::string> args;
        const char* outcome;
        int status;
        const char* path;
        const char* console_path;
        nlohmann::json vendor, product;
        bool pe = false; // on kRecordPeHost
    } cases[] = {
        {{"1Y", "1"}, "Erased", 0, "OFA driver", "Driver  : OFA", none, none},
        {{"2Y"}, "Erase error", 1, "OFA driver", "Driver  : OFA", none, none},
        {{"3Y", "1", "2"}, "Erased", 0, "JMicron bridge", "Bridge  : JMS", "JMicron ", "Q\"uote\\"},
        // The data phase never reached the drive: the read-back shows it.
        {{"5Y"}, "Possible Erased", 9, "JMicron bridge", "Bridge  : JMS", none, none},
        {{"6Y", "1", "0"}, "Erased", 0, "ASMedia bridge", "Bridge  : ASM", "ASMT", "2362"},
        {{"8Y", "1"}, "Erased", 0, "Realtek bridge", "Bridge  : RTL", none, none},
        {{"1Y", "1", "2"}, "Erased", 0, "inbox driver", "Driver  : W10", none, none, true},
        {{"2Y"}, "Erase error", 1, "inbox driver", "Driver  : W10", none, none, true},
    };
    const char* const NIST[] = {"none", "Purge", "Purge"};
    const char* const IEEE[] = {"none", "Clear", "Clear, possible Purge"};
    std::string records;
    for (const Case& c : cases) {
        const RunResult run = run_program(c.pe ? kRecordPeHost : kRecordHost, c.args);
        const std::string what = c.args[0] + "\n" + run.out + run.record;
        records += run.record;
        const std::vector<nlohmann::json> lines = record_lines(run.record);
        ASSERT_EQ(lines.size(), 2u) << what;
        const nlohmann::json& end = lines[1];
        EXPECT_EQ(run.status, c.status) << what;
        EXPECT_NE(run.out.find(run.text("\n" + std::string(c.console_path) + "\n")),
                  std::string::npos)
            << what;
        // The outcome, as the console's outcome line tells it.
        const size_t at = run.out.find(run.eol + c.outcome + " [") + run.eol.size();
        const std::string line = run.out.substr(at, run.out.find(run.eol, at) - at);
        EXPECT_EQ(end.at("outcome_line"), line) << what;
        EXPECT_EQ(end.at("outcome"), c.outcome) << what;
        const uint64_t elapsed = std::stoull(line.substr(line.find('[') + 1));
        EXPECT_EQ(end.at("elapsed_ms"), elapsed) << what;
        EXPECT_EQ(end.at("exit_status"), run.status) << what;
        EXPECT_EQ(end.at("started"), "2026-05-31T23:59:59Z") << what;
        EXPECT_EQ(end.at("ended"), elapsed < 1000 ? "2026-05-31T23:59:59Z" : "2026-06-01T00:00:00Z")
            << what;
        // The host, the drive and its identity, as the console shows them.
        EXPECT_EQ(end.at("computer"), "WS\"7\\b") << what;
        EXPECT_EQ(end.at("operator"), run.user) << what;
        EXPECT_EQ(end.at("os"), shown(run, "OS: ")) << what;
        const nlohmann::json& drive = end.at("drive");
        EXPECT_EQ(shown(run, "Drive   : "), std::to_string(drive.at("number").get<int>()) + "(" +
                                                drive.at("bus").get<std::string>() + ")")
            << what;
        EXPECT_EQ(drive.at("number"), c.args[0][0] - '0') << what;
        EXPECT_EQ(drive.at("path"), c.path) << what;
        EXPECT_EQ(drive.at("vendor"), c.vendor) << what;
        EXPECT_EQ(drive.at("product"), c.product) << what;
        EXPECT_EQ(drive.at("model"), shown(run, "Model   : ")) << what;
        EXPECT_EQ(drive.at("firmware"), shown(run, "Fw      : ")) << what;
        EXPECT_EQ(drive.at("serial"), shown(run, "S/N     : ")) << what;
        const uint64_t before = drive.at("lba_size_before");
        const uint64_t capacity = drive.at("capacity_bytes");
        EXPECT_EQ(std::to_string(before), shown(run, "LBA Size: ")) << what;
        EXPECT_EQ(std::to_string(capacity >> 20) + " MB", shown(run, "Size    : ")) << what;
        EXPECT_EQ(capacity, 1953525168ull * 512) << what;
        const std::string change = "Change LBA data size format (" + std::to_string(before) + "->";
        EXPECT_EQ(drive.at("lba_size_after"), run.out.find(change) == std::string::npos
                                                  ? before
                                                  : std::stoull(shown(run, change)))
            << what;
        // The method, as the arguments chose it (quiet: the format in use,
        // 0, and SES 1), and what it reaches.
        const nlohmann::json& method = end.at("method");
        const int ses = c.args.size() > 2 ? std::stoi(c.args[2]) : 1;
        EXPECT_EQ(method.at("command"), "Format NVM") << what;
        EXPECT_EQ(method.at("lba_format"), c.args.size() > 1 ? std::stoi(c.args[1]) : 0) << what;
        EXPECT_EQ(method.at("ses"), ses) << what;
        EXPECT_EQ(method.at("route"), c.pe ? nlohmann::json("protocol command") : none) << what;
        EXPECT_EQ(shown(run, "Selected SES action: ").substr(0, 1), std::to_string(ses)) << what;
        EXPECT_EQ(end.at("category").at("nist_800_88_r1"), NIST[ses]) << what;
        EXPECT_EQ(end.at("category").at("ieee_2883"), IEEE[ses]) << what;
        // The read-back, as the console's lines tell it; none after an error.
        const nlohmann::json& check = end.at("verification");
        if (c.status == 1) {
            EXPECT_EQ(check, nullptr) << what;
        } else {
            EXPECT_EQ(check.at("method"), "sampled read-back") << what;
            EXPECT_EQ(check.at("result"), c.status == 0 ? "verified" : "data survived") << what;
            EXPECT_EQ(check.at("not_pattern"), 0) << what;
            EXPECT_NE(check.at("seed"), nullptr) << what;
            EXPECT_EQ(shown(run, "Verify  : "),
                      std::to_string(check.at("samples").get<int>()) + " samples, " +
                          std::to_string(check.at("held_data").get<int>()) + " held data, " +
                          std::to_string(check.at("unchanged").get<int>()) + " unchanged")
                << what;
        }
        EXPECT_EQ(end.at("truncated"), false) << what;
        // The started line: the same run, without what only the end knows.
        nlohmann::json started = end;
        for (const char* key :
             {"ended", "outcome_line", "elapsed_ms", "exit_status", "verification"})
            started[key] = nullptr;
        started["outcome"] = "started";
        EXPECT_EQ(lines[0], started) << what;
    }
    EXPECT_EQ(record_schema_problems(records), "");
}
