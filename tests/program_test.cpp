// The built program run with a host file: console, log, trace and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dialogue/sha256.h"
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
    EXPECT_NE(run.out.find(run.text(with_note("Change LBA data size format (512->4096)\n"
                                              "Selected SES action: 2 - Cryptographic Erase\n"
                                              "Erased [2500 ms]!\n" +
                                              VERIFIED))),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.log.find(run.text("v0.7a\nOS: 10.0 build 22631 SP9\nDrive   : 2(USB)\n")), 0u);
    EXPECT_NE(run.log.find("S/N     : JM42"), std::string::npos);
    EXPECT_TRUE(handles_balanced(run.trace));
    // Whether this is Windows PE, asked before any device is opened; the
    // drive's descriptor query on a shared handle; the system volume,
    // opened for queries only, whose extents query fails (no drive holds
    // it); then the probe, namespace, the layout, format, the completion
    // query and Windows' size refresh and geometry: nothing else.
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
    ASSERT_EQ(ioctls.size(), 14u);
    EXPECT_EQ(ioctls[1].at("code"), 0x00560000);
    EXPECT_EQ(ioctls[1].at("error"), 1);
    const std::vector<nlohmann::json> drive = trace_ops(drive_trace(run.trace), "ioctl");
    ASSERT_EQ(drive.size(), 12u);
    for (const nlohmann::json& line : drive)
        EXPECT_TRUE(line.at("ok").get<bool>());
    const uint32_t refresh[] = {0x00070050, 0x0007C0C8, 0x00070140, 0x000700A0};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(drive[i ? 8 + i : 5].at("code"), refresh[i]);
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
  {"number": 18, "path": "jmicron", "fail": [{"nth": 8, "error": 1167}]},
  {"number": 19, "path": "ofa", "system": true},
  {"number": 20, "path": "jmicron", "controller": {"flbas": 1}},
  {"number": 21, "path": "ofa", "controller": {"format_ms": 300001}},
  {"number": 22, "path": "ofa",
   "controller": {"sanitize_state": {"action": "block", "remaining_ms": 3000}}},
  {"number": 23, "path": "realtek", "bridge": {"check_condition": false},
   "controller": {"format_status": 28}},
  {"number": 24, "path": "asmedia", "fail": [{"nth": 10, "error": 121}]},
  {"number": 25, "path": "asmedia", "fail": [{"nth": 4, "error": 121}]},
  {"number": 26, "path": "jmicron", "controller": {"lbads": [12], "nsze": 4503599627370496}}
]})";

// Windows PE, where the inbox driver formats: a format that succeeds (on a
// drive marked as the system's, which Windows PE's RAM disk is on no drive),
// one the controller fails, a failed request (the 5th: the format), one that
// times out while the controller goes on, one the driver answers "busy", and
// a second namespace.
const char* const kPeHost = R"({"winpe": true, "drives": [
  {"number": 1, "path": "inbox", "system": true},
  {"number": 2, "path": "inbox", "controller": {"format_status": 266}},
  {"number": 3, "path": "inbox", "fail": [{"nth": 6, "error": 31}]},
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
    const std::string not_a_level = "is not a level: quick, full or 0.01% to 100%";
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string has; // standard output holds it
        int status;
        std::string untouched; // a path the run never opens
        Files files = {};
        bool pe = false; // on kPeHost: Windows PE
    };
    // Refused right after the OS line, before the drive list; drive
    // `untouched` is never opened.
    const auto early = [](std::vector<std::string> args, const std::string& error, int untouched,
                          Files files = {}) {
        return Case{args,
                    "",
                    "19045 \nError: " + error + "\n",
                    5,
                    "\\\\.\\PhysicalDrive" + std::to_string(untouched),
                    files};
    };
    const Case cases[] = {
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
        early({"2Y", "--bogus=1"}, "unknown option --bogus=1", 0),
        early({"--Asset=x", "2Y"}, "unknown option --Asset=x", 2),
        early({"--note"}, "unknown option --note", 0),
        early({"2Y", "1", "1", "1"}, "too many arguments", 2),
        early({"2SY", "1", "2"}, "too many arguments", 2),
        early({"2VY", "1"}, "too many arguments", 2),
        early({"2SV"}, "bad drive number", 2),
        // A level that is none, before anything is opened; one the
        // namespace is too large for, before the confirmation.
        early({"2Y", "--verify=0%"}, "--verify=0% " + not_a_level, 2),
        early({"2Y", "--verify=101%"}, "--verify=101% " + not_a_level, 2),
        early({"--verify=1.234%", "2Y"}, "--verify=1.234% " + not_a_level, 2),
        early({"2Y", "--verify=x"}, "--verify=x " + not_a_level, 2),
        early({"2Y", "--verify="}, "--verify= " + not_a_level, 2),
        {{"2", "0", "1", "--verify=7%"},
         "",
         "SES action: 1 - User Data Erase\n"
         "Error: --verify=7% reads more than 16777216 samples: use full\n",
         5,
         ""},
        // 2^64 bytes: no size the check or the record could hold.
        {{"26Y"}, "", "LBA Size: 4096\nError: the namespace size is out of range\n\0"s, 6, ""},
        // The station file: each kind of bad line, lines counted from 1
        // (blank ones and comments included); keys are lower-case. Options'
        // texts must fit the record. Told like an option error.
        early({"2Y"}, "veltrane.ini line 3: unknown key Organization", 2,
              {{"veltrane.ini", "# x\r\n\r\nOrganization = A\r\n"}}),
        early({"2Y"}, "veltrane.ini line 2: not key = value", 2,
              {{"veltrane.ini", "title = T\n Hall 2\n"}}),
        early({"2Y"}, "veltrane.ini line 1: not key = value", 2, {{"veltrane.ini", " = x"}}),
        early({"2Y"}, "veltrane.ini line 1: not UTF-8", 2,
              {{"veltrane.ini", "location = Soci\xE9t\xE9\n"}}),
        early({"2Y"}, "veltrane.ini line 2: cannot read missing.key", 2,
              {{"veltrane.ini", "\xEF\xBB\xBFtitle = x=y\nkey_file = missing.key \n"}}),
        early({"2Y"}, "veltrane.ini line 1: value longer than 255 bytes", 2,
              {{"veltrane.ini", "contact = " + std::string(256, 'c')}}),
        early({"2Y", "--note=" + std::string(256, 'n')}, "option --note is longer than 255 bytes",
              2),
        // The record's modes: no drive, no positional argument.
        early({"--check", "2Y"}, "too many arguments", 2),
        early({"--certificates=none.jsonl"}, "cannot read none.jsonl", 0),
        early({"Y2", "1", "1", "1"}, "bad drive number", 2),
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
        // A NUL byte in an answer, at any prompt: no text.
        {{"2"},
         std::string("1\n2\0\nN\nY\n", 9),
         "default 1):Error: answers must be ANSI or UTF-8 text\n",
         5,
         ""},
        {{}, "2\0\n\0"s, "drive number:Error: answers must be ANSI or UTF-8 text\n", 5, ""},
        {{"2", "1", "1"}, "Y\0\n"s, "cancel Error: answers must be ANSI or UTF-8 text\n", 5, ""},
        // Lone CR line ends: the confirmation is asked, and answered no.
        {{}, "2\r0\r1\rn\rY\r", "Selected SES action: 1 - User Data Erase\n", 4, ""},
        // Formats the list does not show: past a hole, up to NLBAF past the
        // rows, none at all, a current one past a hole.
        {{"4Y", "2"}, "", " 0+  512\nError: wrong LBA data size format\n", 5, ""},
        {{"5Y", "1"}, "", " 0+  512\nError: wrong LBA data size format\n", 5, ""},
        {{"6Y"}, "", "##  LBAsize\nError: wrong LBA data size format\n", 5, ""},
        {{"7Y"}, "", " 0   512\nError: wrong LBA data size format\n", 5, ""},
        {{"2", "0", "3"}, "", "Error: wrong SES action selected\n", 5, ""},
        // Cancelled at the confirmation: nothing of the check, whatever
        // its level.
        {{"2", "1", "1", "--verify=full"}, "n\n", "cancel Not sure - Exit!\n", 4, ""},
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
         {},
         true},
    };
    for (const Case& c : cases) {
        const RunResult run = run_program(c.pe ? kPeHost : kGuardedHost, c.args, c.input, c.files);
        const std::string what = (c.args.empty() ? "" : c.args[0]) + " / " + c.input;
        // A text that ends in NUL ends standard output and the log.
        const size_t last = c.has.find('\0');
        const std::string has = run.text(c.has.substr(0, last));
        EXPECT_NE(run.out.find(has), std::string::npos) << what << "\n" << run.out;
        if (last != std::string::npos) {
            EXPECT_TRUE(ends_with(run.out, has) && ends_with(run.log, has)) << what << run.log;
        }
        EXPECT_TRUE(trace_ops(run.trace, "read").empty()) << what;
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
            c.has.find("19045 \nError") != std::string::npos ||
            c.has.find("Error: bad drive number") != std::string::npos) {
            EXPECT_FALSE(run.log_exists) << what;
            for (const nlohmann::json& open : trace_ops(run.trace, "open"))
                EXPECT_EQ(open.at("share"), 3) << what; // the drive list's only
        }
        // Refusals for safety are recorded in the log as well, and a level
        // the namespace is too large for.
        if (c.status == 8 || c.has.find("use full") != std::string::npos) {
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
    // The lines of an interactive format from the model on, alike on every
    // path.
    const std::string dialogue =
        "Model   : Simulated NVMe                          \nFw      : 1.0     \n"
        "S/N     : SIM00000001         \nSize    : 953869 MB\nLBA Size: 512\n"
        "LBA fmt list:\n##  LBAsize\n 0+  512\n 1  4096\n"
        "Please select LBA data size format number:Change LBA data size format (512->4096)\n" +
        NOTE_4096 +
        "\nPlease select SES action (0/1/2 - default 1):Selected SES action: 1 - User Data "
        "Erase\n\nAll data on disk will be lost, You sure?\n"
        "Press 'Y' and 'Enter' for continue, 'N' for cancel Erased [1500 ms]!\n";
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string outcome;
        int status;
        bool pe = false; // on kPeHost: Windows PE, the inbox driver formats
    } cases[] = {
        {{"2Y", "1"}, "", "Erased [1500 ms]!\n" + VERIFIED, 0},
        {{"17Y"}, "", "NVME status: SC: 0x0A, SCT: 1\nErase error [1500 ms]!\n", 1},
        // The JMicron data phase fails (its 8th request) before it reaches
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
        // The controller sanitizes, or failed its last sanitize: a hint.
        {{"22Y"},
         "",
         "NVME status: SC: 0x1D, SCT: 0\nThe drive is sanitizing: run the tool with S to follow "
         "it.\nErase error [0 ms]!\n",
         1},
        {{"23Y"},
         "",
         "NVME status: SC: 0x1C, SCT: 0\nThe drive is in sanitize failure mode: run a sanitize "
         "with S.\nErase error [1500 ms]!\n",
         1},
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
         "Please select drive number:Drive   : 2(USB)\nBridge  : JMS\n" + dialogue,
         0},
        // Through the inbox driver in Windows PE: every outcome, after the
        // lines of a format on any path (the Mode line before the drive
        // list); the system's disk is none of the drives.
        {{},
         "1\n1\n1\nY\n",
         "19045 \nMode    : Windows PE\n 1: \n 2: \n 3: \n 4: \n 5: \n 6: \n"
         "Please select drive number:Drive   : 1(NVME)\nScsi    : 1\nDriver  : W10\n" +
             dialogue + VERIFIED,
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
        EXPECT_EQ(run.log.find("The drive is"), std::string::npos) << what; // console only
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
        EXPECT_TRUE(
            ends_with(run.out, run.text(with_note("Change LBA data size format (512->4096)\n"
                                                  "Selected SES action: 1 - User Data "
                                                  "Erase\n"))))
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
        // Back to 512-byte blocks: no note.
        {0, 0x200, "2Y 0", R"("flbas": 1)",
         "(4096->512)\nSelected SES action: 1 - User Data Erase\n"},
        // Protection kept (PI, PIL, MSET) where the new format has room for
        // it; PIL and MSET alone likewise; turned off, and told, where not.
        {0, 0x220, "2Y", R"("lbads": [9, 9], "ms": [8, 0], "dps": 1)",
         "Dont change - Secure Erase only\nSelected SES action: 1 - User Data Erase\nErased"},
        {0, 0x350, "2Y", R"("lbads": [9, 9], "ms": [16, 0], "flbas": 16, "dps": 10)",
         " 0+ 512+16\n 1   512\nDont change - Secure Erase only\n"},
        {0, 0x200, "2Y", R"("ms": [8, 0], "dps": 8)", "Dont change - Secure Erase only\n"},
        {0, 0x211, "2Y 1", R"("lbads": [9, 9], "ms": [0, 8], "flbas": 16)",
         "(512->512+8)\nSelected SES action: 1 - User Data Erase\nErased"},
        {0, 0x201, "2Y 1", R"("lbads": [9, 9], "ms": [8, 0], "dps": 3)",
         "Change LBA data size format (512+8->512)\nSelected SES action: 1 - User Data Erase\n"
         "Protection: type 3 protection information is turned off: the new format has no "
         "metadata\nErased"},
        // The capacity does not wrap: 2^64 - 4096 bytes are erased and
        // recorded exactly.
        {10, 0x200, "2Y", R"("lbads": [31])", "Size    : 4000819544064 MB\nLBA Size: 2147483648\n"},
        {0, 0x200, "2Y", R"("lbads": [12], "nsze": 4503599627370495)",
         "Size    : 17592186044415 MB\n"},
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
        // The record's capacity is the Size line's.
        const std::vector<nlohmann::json> records = record_lines(run.record);
        ASSERT_EQ(records.size(), c.status == 5 ? 0u : 2u) << c.controller;
        const size_t size = run.out.find("Size    : ") + 10;
        for (const nlohmann::json& record : records)
            EXPECT_EQ(
                std::to_string(record.at("drive").at("capacity_bytes").get<uint64_t>() >> 20) +
                    " MB",
                run.out.substr(size, run.out.find(run.eol, size) - size))
                << c.controller;
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
    std::vector<Sent> sent;           // empty: no sanitize at all
    bool pe;                          // the host runs Windows PE
    std::vector<nlohmann::json> logs; // the record's evidence, when checked: before, after
};

SanitizeCase row(uint32_t build, const std::string& path, const std::string& fields,
                 const std::vector<std::string>& args, const std::string& input,
                 const std::string& out_tail, const std::string& log_tail, int status,
                 const std::vector<Sent>& sent, bool pe = false) {
    return {build, path, fields, args, input, out_tail, log_tail, status, sent, pe, {}};
}

// A row whose record keeps the Sanitize Status log read before the request
// and the last one read after it: SPROG, SSTAT and SCDW10 as given (in hex),
// then the drive's estimates; "" for a log never read.
SanitizeCase with_logs(SanitizeCase c, const std::string& before, const std::string& after) {
    const std::string estimates = "3c0000000600000002000000" + std::string(24, '0');
    for (const std::string& head : {before, after})
        c.logs.push_back(head.empty() ? nlohmann::json() : nlohmann::json(head + estimates));
    return c;
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
    const std::string running =
        "Sanitize still running: keep the drive powered, run again with S to follow it\n";
    const std::string still = running + unsure;
    const std::string all = R"(, "controller": {"sanicap": 7, "sanitize_ms": {"overwrite": 3000}})";
    const std::string failed =
        "Sanitize failed: the drive reports a failed sanitize\nSanitize error [2000 ms]!\n";
    std::string failed_out = failed; // and on the console, what that leaves
    failed_out.insert(failed.find('\n') + 1, "The drive stays in sanitize failure mode and "
                                             "refuses reads until a sanitize succeeds.\n");
    const std::string unheard = "Sanitize unconfirmed [0 ms]!\n";
    const std::string other_done = "Sanitize unconfirmed [3000 ms]!\n";
    const std::string other = "Sanitizing: 50%\nSanitizing: 60%\nSanitizing: 80%\n" + other_done;
    const std::string text_only = "Error: answers must be ANSI or UTF-8 text\n";
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
        with_logs(row(19042, "inbox", "", {"2SY"}, "",
                      "Sanitize: crypto erase\nSize    : 953869 MB\nLBA Size: 512\n"
                      "Selected sanitize action: 2 - Crypto Erase\nSanitized [2000 ms]!\n",
                      "Sanitized [2000 ms]!\n", 0, inbox_sent(0, 0)),
                  "ffff000000000000", "ffff01000c000000"),
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
        row(19045, "inbox", R"(, "fail": [{"nth": 7, "error": 1}])", {"2SY", "1"}, "",
            "Block Erase\nIOCtl: REINITIALIZE_MEDIA failed 0x1!\nSanitized [6000 ms]!\n",
            "Block Erase\nSanitized [6000 ms]!\n", 0, {scsi_sanitize(2, 78)}),
        row(17763, "inbox", R"(, "fail": [{"nth": 7, "error": 1}])", {"2SY"}, "",
            "0x1!\nIOCtl: SCSI status 0x02, sense 5/20/00!\nSanitize error [0 ms]!\n",
            "Crypto Erase\nSanitize error [0 ms]!\n", 1, {scsi_sanitize(3, 66)}),
        // Actions the drive or the path does not offer, and answers that are
        // not a number.
        row(19045, "jmicron", R"(, "controller": {"sanicap": 0})", {"2SY", "1"}, "",
            "Sanitize: not supported\n", "Sanitize: not supported\n", 7, {}),
        row(19045, "ofa", "", {"2SY", "3"}, "", refused, "LBA Size: 512\n", 5, {}),
        // A namespace of 2^64 bytes or more is out of range, as in a format.
        row(19045, "realtek", R"(, "controller": {"lbads": [13], "nsze": 2251799813685248})",
            {"2SY"}, "", "LBA Size: 8192\nError: the namespace size is out of range\n",
            "LBA Size: 8192\nError: the namespace size is out of range\n", 6, {}),
        row(19045, "inbox", "", {"2SY", "3"}, "", refused, "", 5, {}),
        row(19045, "asmedia", "", {"2S"}, "2x\n", prompt + refused + kKeyWait, "LBA Size: 512\n", 5,
            {}),
        row(19045, "realtek", "", {"2S", "-2"}, "", refused + kKeyWait, "", 5, {}),
        row(19045, "ofa", "", {"2S"}, "1\nn\n", confirm + "Not sure - Exit!\n" + kKeyWait,
            "1 - Block Erase\n", 4, {}),
        // The drive fails the sanitize: it stays in failure mode.
        row(19045, "asmedia", R"(, "controller": {"sanitize_fails": true})", {"2SY"}, "",
            "Sanitizing: 50%\n" + failed_out, "Crypto Erase\n" + failed, 1, asm_sent(0x0C)),
        row(19045, "inbox", R"(, "controller": {"sanitize_fails": true})", {"2SY"}, "",
            "Crypto Erase\n" + failed_out, failed, 1, inbox_sent(2, 66)),
        // A request that failed after the drive may have taken it: a timeout,
        // any failure of a JMicron data phase, a failure of the inbox
        // driver's but an invalid function, access denied or an invalid
        // parameter. The log tells; these never reached the drive.
        row(19045, "ofa", R"(, "fail": [{"nth": 8, "error": 121}])", {"2SY"}, "",
            "IOCtl: NVME_OF failed 0x79!\n" + unheard, "Crypto Erase\n" + unheard, 9,
            {ofa_sent(0x0C)[0]}),
        row(19045, "jmicron", R"(, "fail": [{"nth": 10, "error": 31}])", {"2SY"}, "",
            "IOCtl: phase2 failed 0x1f!\n" + unheard, "Crypto Erase\n" + unheard, 9,
            {jms_sent(0x0C)[1]}),
        row(19045, "asmedia", R"(, "fail": [{"nth": 12, "error": 121}])", {"2SY"}, "",
            "IOCtl: asm data exchange[2] failed 0x79!\n" + unheard, "Crypto Erase\n" + unheard, 9,
            {asm_sent(0x0C)[1]}),
        row(19045, "realtek", R"(, "fail": [{"nth": 12, "error": 121}])", {"2SY"}, "",
            "IOCtl: rtl data exchange[2] 1 failed 0x79!\n" + unheard, "Crypto Erase\n" + unheard, 9,
            {rtl_sent(0x0C)[1]}),
        row(19045, "inbox", R"(, "fail": [{"nth": 7, "error": 121}])", {"2SY"}, "",
            "IOCtl: REINITIALIZE_MEDIA failed 0x79!\n" + unheard, "Crypto Erase\n" + unheard, 9,
            inbox_sent(2, 66)),
        row(19045, "inbox", R"(, "fail": [{"nth": 7, "error": 1}, {"nth": 8, "error": 1117}])",
            {"2SY"}, "", "0x1!\nIOCtl: SCSI SANITIZE failed 0x45d!\n" + unheard,
            "Crypto Erase\n" + unheard, 9, {scsi_sanitize(3, 66)}),
        // Refused before the drive: a bridge's command phase, the inbox
        // driver's access denied.
        row(19045, "asmedia", R"(, "fail": [{"nth": 11, "error": 121}])", {"2SY"}, "",
            "IOCtl: asm cmd send[1] failed 0x79!\nSanitize error [0 ms]!\n",
            "Crypto Erase\nSanitize error [0 ms]!\n", 1, {asm_sent(0x0C)[0]}),
        row(19045, "inbox", R"(, "fail": [{"nth": 7, "error": 5}])", {"2SY"}, "",
            "IOCtl: REINITIALIZE_MEDIA failed 0x5!\nSanitize error [0 ms]!\n",
            "Crypto Erase\nSanitize error [0 ms]!\n", 1, {inbox_sent(2, 66)[0]}),
        // The drive answers that a sanitize runs, one the first log read,
        // which failed, did not show: SC 1Dh, or the inbox driver's device
        // error. The log follows it: another action is no confirmation, the
        // action sent is. A bridge's CHECK CONDITION is a refusal.
        row(19045, "ofa", R"(, "fail": [{"nth": 5, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nNVME status: SC: 0x1D, SCT: 0\n" + other, "Crypto Erase\n" + other_done,
            3, {ofa_sent(0x0C)[0]}),
        row(19045, "ofa",
            R"(, "fail": [{"nth": 5, "error": 31}], "controller": {"sanitize_state": )"
            R"({"action": "crypto", "remaining_ms": 3000}})",
            {"2SY"}, "",
            "NVME status: SC: 0x1D, SCT: 0\nSanitizing: 30%\nSanitizing: 60%\nSanitized [3000 "
            "ms]!\n",
            "Crypto Erase\nSanitized [3000 ms]!\n", 10, {ofa_sent(0x0C)[0]}),
        row(19045, "jmicron", R"(, "fail": [{"nth": 4, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nIOCtl: SCSI status 0x02, sense 4/44/00!\nSanitize error [0 ms]!\n",
            "Sanitize error [0 ms]!\n", 1, {}),
        row(19045, "realtek",
            R"(, "bridge": {"check_condition": false}, "fail": [{"nth": 6, "error": 31}])" +
                kRunning,
            {"2SY"}, "", "Crypto Erase\nNVME status: SC: 0x1D, SCT: 0\n" + other, other_done, 3,
            {rtl_sent(0x0C)[1]}),
        row(19045, "inbox", R"(, "fail": [{"nth": 4, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nIOCtl: REINITIALIZE_MEDIA failed 0x45d!\n" + other, other_done, 3,
            {inbox_sent(2, 43200)[0]}),
        row(19045, "asmedia", R"(, "fail": [{"nth": 6, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nIOCtl: SCSI status 0x02, sense 0/00/00!\nSanitize error [0 ms]!\n",
            "Sanitize error [0 ms]!\n", 1, {}),
        // Only a change in the log confirms: a log an earlier sanitize of the
        // same action left is no proof (the inbox driver shows no progress),
        // nor is a request the drive accepts and ignores. A failed one of
        // another action before is a change.
        row(19045, "inbox",
            R"(, "controller": {"sanitize_state": {"status": "completed", "action": "crypto"}})",
            {"2SY"}, "", "Crypto Erase\nSanitize unconfirmed [2000 ms]!\n",
            "Crypto Erase\nSanitize unconfirmed [2000 ms]!\n", 0, inbox_sent(2, 66)),
        with_logs(
            row(19045, "inbox",
                R"(, "controller": {"sanitize_state": {"status": "failed", "action": "block"}})",
                {"2SY"}, "", "Crypto Erase\nSanitized [2000 ms]!\n",
                "Crypto Erase\nSanitized [2000 ms]!\n", 0, inbox_sent(2, 66)),
            "ffff03000a000000", "ffff01000c000000"),
        row(19045, "jmicron",
            R"(, "controller": {"sanitize_noop": true, "sanitize_state": {"status": "completed", )"
            R"("action": "crypto"}})",
            {"2SY"}, "", "Crypto Erase\n" + unheard, "Crypto Erase\n" + unheard, 9, jms_sent(0x0C)),
        // The log cannot be read: before the request, it only hides the
        // estimate (and through the inbox driver, which shows no progress,
        // leaves nothing to compare); after it, nothing confirms the
        // sanitize.
        row(19045, "ofa", R"(, "fail": [{"nth": 5, "error": 31}])", {"2SY"}, "",
            "IOCtl: NVME_OF failed 0x1f!\nSanitize: block erase, crypto erase\nSize    : 953869 "
            "MB\nLBA Size: 512\n" +
                kSanitized2s,
            "Sanitized [2000 ms]!\n", 0, ofa_sent(0x0C)),
        row(19045, "inbox", R"(, "fail": [{"nth": 4, "error": 31}])", {"2SY"}, "",
            "IOCtl: LOG failed 0x1f!\nSanitize: block erase, crypto erase\nSize    : 953869 MB\n"
            "LBA Size: 512\nSelected sanitize action: 2 - Crypto Erase\n"
            "Sanitize unconfirmed [2000 ms]!\n",
            "Sanitize unconfirmed [2000 ms]!\n", 0, inbox_sent(2, 43200)),
        row(19045, "ofa", fails_from(9, 81), {"2SY"}, "",
            "IOCtl: NVME_OF failed 0x1f!\n" + unsure +
                "IOCtl: update drive size failed 0x1f!\nIOCtl: update properties failed "
                "0x1f!\nIOCtl: drive geometry failed 0x1f!\n",
            "Crypto Erase\n" + unsure, 3, ofa_sent(0x0C)),
        // Through the inbox driver the failed reads after the request are
        // told in one line; five in a row end the polling, the time up to
        // the request's return; after fewer, the read that succeeds ends it.
        with_logs(row(19045, "inbox", R"(, "log_error": 31)", {"2SY"}, "",
                      "IOCtl: LOG failed 0x1f!\nSanitize: block erase, crypto erase\nSize    : "
                      "953869 MB\nLBA Size: 512\nSelected sanitize action: 2 - Crypto Erase\n"
                      "IOCtl: LOG failed 0x1f! (5 times)\nSanitize unconfirmed [2000 ms]!\n",
                      "Crypto Erase\nSanitize unconfirmed [2000 ms]!\n", 0, inbox_sent(2, 43200)),
                  "", ""),
        row(19045, "inbox", R"(, "fail": [{"nth": 8, "error": 31}, {"nth": 9, "error": 1117}])",
            {"2SY"}, "", "Crypto Erase\nIOCtl: LOG failed 0x45d! (2 times)\nSanitized [4000 ms]!\n",
            "Crypto Erase\nSanitized [4000 ms]!\n", 0, inbox_sent(2, 66)),
        row(19045, "inbox", R"(, "fail": [{"nth": 8, "error": 31}])", {"2SY"}, "",
            "Crypto Erase\nIOCtl: LOG failed 0x1f!\nSanitized [3000 ms]!\n",
            "Crypto Erase\nSanitized [3000 ms]!\n", 0, inbox_sent(2, 66)),
        // The process ends during the sanitize: no partial log block; the
        // console holds what was shown before the request.
        row(19045, "ofa", R"(, "controller": {"abort_in_sanitize": true})", {"2SY"}, "",
            "LBA Size: 512\nSelected sanitize action: 2 - Crypto Erase\n", "", 70,
            {ofa_sent(0x0C)[0]}),
        row(19045, "inbox", R"(, "controller": {"abort_in_sanitize": true})", {"2SY"}, "",
            "LBA Size: 512\nSelected sanitize action: 2 - Crypto Erase\n", "", 70, {}),
        // A sanitize found in progress is followed: no question, no
        // confirmation, no request; an action given is not used. One whose
        // action the tool does not know is never confirmed.
        row(19045, "jmicron", kRunning, {"2S"}, "", "LBA Size: 512\n" + kFollowed + kKeyWait,
            "LBA Size: 512\nSelected sanitize action: 1 - Block Erase\nSanitized [3000 ms]!\n", 10,
            {}),
        row(19045, "inbox", kRunning, {"2SY", "2"}, "",
            "Sanitize: following the block erase already running; the action given is not used\n" +
                kFollowed,
            "LBA Size: 512\n" + kFollowed.substr(0, 42) + "Sanitized [3000 ms]!\n", 10, {}),
        row(19045, "realtek",
            R"(, "controller": {"sanitize_state": {"action": 5, "remaining_ms": 3000}})",
            {"2SY", "x"}, "",
            "Sanitize: following the sanact 5 already running; the action given is not used\n"
            "Selected sanitize action: 5 - Unknown\nSanitizing: 90%\n"
            "Sanitize unconfirmed [3000 ms]!\n",
            "LBA Size: 512\nSelected sanitize action: 5 - Unknown\nSanitize unconfirmed [3000 "
            "ms]!\n",
            3, {}),
        // A sanitize that never ends: followed up to three times its
        // estimate and a minute; through the inbox driver the request waits
        // that long and times out, and the log is followed as long again.
        row(19045, "realtek", stalled, {"2SY"}, "", "Sanitizing: 50%\n" + still,
            "Crypto Erase\n" + still, 3, rtl_sent(0x0C)),
        row(19045, "inbox", stalled, {"2SY"}, "",
            "IOCtl: REINITIALIZE_MEDIA failed 0x79!\nSanitizing: 50%\n" + running +
                "Sanitize unconfirmed [132000 ms]!\n",
            "Crypto Erase\n" + running + "Sanitize unconfirmed [132000 ms]!\n", 3,
            inbox_sent(2, 66)),
        // An estimate of 46 days is not believed: 48 hours at most (the log
        // is unreadable after it).
        row(19045, "inbox",
            R"(, "controller": {"sanitize_ms": {"crypto": 4000000000}})" + fails_from(8, 12),
            {"2SY"}, "",
            "IOCtl: REINITIALIZE_MEDIA failed 0x79!\nIOCtl: LOG failed 0x1f! (5 times)\n"
            "Sanitize unconfirmed [172800000 ms]!\n",
            "Crypto Erase\nSanitize unconfirmed [172800000 ms]!\n", 3, inbox_sent(2, 172800)),
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
        row(19045, "inbox", R"(, "fail": [{"nth": 7, "error": 1}])", {"2SY"}, "",
            "Crypto Erase\nIOCtl: SANITIZE failed 0x1!\nSanitized [2000 ms]!\n",
            "Crypto Erase\nSanitized [2000 ms]!\n", 0,
            {{CODE_PROTOCOL_COMMAND, protocol_command(0x84, 0, 0x0C)}, inbox_sent(2, 66)[0]}, true),
        row(19045, "inbox", R"(, "controller": {"sanicap": 7, "protocol_sanitize": false})",
            {"2SY", "3"}, "", "Overwrite\nIOCtl: SANITIZE status 0xff!\nSanitize error [0 ms]!\n",
            "Overwrite\nSanitize error [0 ms]!\n", 1,
            {{CODE_PROTOCOL_COMMAND, protocol_command(0x84, 0, 0x1B)}}, true),
        // The controller answers that a sanitize runs (one the first log
        // read, which failed, did not show): the log follows it, and another
        // action is no confirmation.
        row(19045, "inbox", R"(, "fail": [{"nth": 4, "error": 31}])" + kRunning, {"2SY"}, "",
            "Crypto Erase\nNVME status: SC: 0x1D, SCT: 0\n" + other, "Crypto Erase\n" + other_done,
            3, {{CODE_PROTOCOL_COMMAND, protocol_command(0x84, 0, 0x0C)}}, true),
        // A NUL byte in the answer: no text.
        row(19045, "asmedia", "", {"2S"}, "1\0\n"s, prompt + text_only + kKeyWait,
            "LBA Size: 512\n", 5, {}),
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
        // The verdict: a sanitize still running or followed from an earlier
        // run is never read back.
        const bool checked = c.status == 0 || c.status == 3 || c.status == 9 || c.status == 10;
        const bool still_running = c.out_tail.find("still running") != std::string::npos;
        const bool followed = checked && !sanitize_sent(run.trace);
        const std::string verdict =
            !checked         ? ""
            : still_running  ? "Verify  : skipped, the sanitize is still running\n"
            : followed       ? "Verify  : skipped, the sanitize began before this run\n"
            : c.status == 0  ? "Verified!\n"
            : c.status == 9  ? "Verify error: data survived the erase!\n"
            : c.status == 10 ? "Verify  : skipped, the samples could not be read before the erase\n"
                             : "";
        if (!verdict.empty()) {
            const std::string tail = run.out.substr(run.out.rfind(run.text("\nSanitize")));
            EXPECT_NE(tail.find(run.text(verdict)), std::string::npos) << what;
            // A skip alone, or the samples' line and the verdict.
            EXPECT_EQ(count_substr(tail, "Verif"),
                      verdict.find("skipped") != std::string::npos ? 1 : 2)
                << what;
            EXPECT_NE(run.log.find(run.text(verdict)), std::string::npos) << what;
        }
        if (c.fields.find("log_error") != std::string::npos) { // the first read, and five after
            const std::vector<uint8_t> log_query = inbox_query(0x81, 0, 49, 2, 512);
            size_t reads = 0;
            for (const nlohmann::json& op : ioctls_with_code(run.trace, CODE_QUERY_PROPERTY))
                reads += trace_input(op) == log_query && !op.at("ok").get<bool>();
            EXPECT_EQ(reads, 6u) << what;
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
        if (c.status == 4 || c.status == 5 || c.status == 6 || c.status == 7) {
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
        if (!c.logs.empty()) { // the started line has the log read before alone
            EXPECT_EQ(end.at("evidence").at("sanitize_log_before"), c.logs[0]) << what;
            EXPECT_EQ(end.at("evidence").at("sanitize_log_after"), c.logs[1]) << what;
            EXPECT_EQ(records[0].at("evidence"), nlohmann::json({{"completion", nullptr},
                                                                 {"sanitize_log_before", c.logs[0]},
                                                                 {"sanitize_log_after", nullptr}}))
                << what;
        }
        EXPECT_EQ(end.at("method").at("command"), "Sanitize") << what;
        EXPECT_EQ(end.at("category").at("ieee_2883"), "Purge") << what;
        if (c.status != 70) {
            EXPECT_EQ(end.at("exit_status"), run.status) << what;
            const std::string outcome = end.at("outcome_line");
            EXPECT_NE(run.out.find(run.text(outcome + "\n")), std::string::npos) << what;
            EXPECT_EQ(end.at("method").at("route"), route) << what;
            // The action as the console names it ("1 - Block Erase"), or,
            // unknown, by its SANACT.
            const size_t at = run.log.find("Selected sanitize action: ") + 26;
            std::string action = run.log.substr(at, run.log.find(run.eol, at) - at);
            action = action.find("Unknown") != std::string::npos ? "sanact " + action.substr(0, 1)
                                                                 : action.substr(4);
            std::transform(action.begin(), action.end(), action.begin(), ::tolower);
            EXPECT_EQ(end.at("method").at("action"), action) << what;
        }
    }
}

namespace {

// Drives whose media, erase or reads differ, behind OFA and JMicron; disk 2
// has two volumes and disk 3 one, disk 4 a volume in use. From 16 on, a
// namespace of 64 MiB and 12 KiB (16387 units of 4 KiB) that reads at a
// drive's speed, for the deeper levels.
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
    {"number": 12, "path": "jmicron", "fail": [{"nth": 8, "error": 1167}],
     "read_fail": [{"nth": 2003, "error": 23}]},
    {"number": 13, "path": "inbox"},
    {"number": 14, "path": "inbox"},
    {"number": 15, "path": "inbox", "controller": {"erase_effect": "none"}},
    {"number": 16, "path": "ofa", "controller": {"nsze": 131096}, "read_model": {"latency_us": 80, "mb_s": 3000}},
    {"number": 17, "path": "jmicron", "controller": {"nsze": 131096}, "read_model": {"latency_us": 80, "mb_s": 3000}},
    {"number": 18, "path": "inbox", "controller": {"nsze": 131096, "dlfeat": 2}, "read_model": {"latency_us": 80, "mb_s": 3000}},
    {"number": 19, "path": "ofa", "controller": {"nsze": 131096, "erase_effect": "none"}},
    {"number": 20, "path": "jmicron", "controller": {"nsze": 131096, "erase_effect": "partial"}},
    {"number": 21, "path": "ofa", "controller": {"nsze": 131096, "erase_effect": {"keep_share": 0.001}}},
    {"number": 22, "path": "jmicron", "controller": {"nsze": 131096, "erase_effect": "random"}},
    {"number": 23, "path": "ofa", "controller": {"nsze": 131096, "dlfeat": 0}},
    {"number": 24, "path": "jmicron", "controller": {"nsze": 131096}, "read_fail": [{"nth": 2005, "error": 23}]},
    {"number": 25, "path": "ofa", "controller": {"media": 0.005}},
    {"number": 26, "path": "ofa", "controller": {"media": 0.005, "format_ms": 300001}},
    {"number": 27, "path": "ofa", "controller": {"media": "blank", "format_ms": 300001}},
    {"number": 28, "path": "jmicron", "controller": {"nsze": 4}},
    {"number": 29, "path": "jmicron", "controller": {"nsze": 131096}, "read_model": {"latency_us": 80, "mb_s": 1}},
    {"number": 30, "path": "ofa", "controller": {"nsze": 131096, "media": "blank", "dlfeat": 2, "erase_effect": "none"}}
  ]})";

// A pass of samples over `units` units, as the unit index of each read:
// the first and the last unit and two distinct ones in each of the parts,
// ascending; every unit once when there are no more units than samples.
// The number of parts that break it.
int broken_parts(const std::vector<uint64_t>& at, uint64_t units) {
    if (at.size() >= units)
        return at.size() == units && std::is_sorted(at.begin(), at.end()) &&
                       std::adjacent_find(at.begin(), at.end()) == at.end()
                   ? 0
                   : 1;
    if (at.size() < 4)
        return 1;
    const uint64_t parts = (at.size() - 2) / 2;
    int broken = at.front() != 0 || at.back() != units - 1;
    for (uint64_t s = 0; s < parts; ++s)
        broken += !(s * units / parts <= at[1 + 2 * s] && at[1 + 2 * s] < at[2 + 2 * s] &&
                    at[2 + 2 * s] < (s + 1) * units / parts);
    return broken;
}

// The lines of `text`, each with its line end.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size() - 1);
        lines.push_back(text.substr(at, end - at + 1));
    }
    return lines;
}

// What the log holds of a console text: not the transport's messages, nor
// the progress.
std::string logged_part(const std::string& text) {
    std::string logged;
    for (const std::string& line : lines_of(text))
        if (line.rfind("IOCtl:", 0) != 0 && line.rfind("Verifying:", 0) != 0)
            logged += line;
    return logged;
}

// The number in the console line that begins with `label`, and the text
// that follows it: "Verify  : " and " samples" say how many samples.
uint64_t number_after(const std::string& text, const std::string& label, const char* unit) {
    for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1)) {
        size_t end = at + label.size();
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        if (end > at + label.size() && text.compare(end, strlen(unit), unit) == 0)
            return std::stoull(text.substr(at + label.size(), end - at - label.size()));
    }
    return 0;
}

} // namespace

TEST(Program, VolumesGoOfflineAndTheReadBackJudgesTheErase) {
    const std::string ses1 = "Selected SES action: 1 - User Data Erase\n";
    const std::string erased = "Erased [1500 ms]!\n";
    const std::string crypto = "Selected sanitize action: 2 - Crypto Erase\n";
    const std::string sanitized = "Sanitized [2000 ms]!\n";
    const std::string blank =
        "Verify  : nothing to compare, the samples were blank before the erase\n";
    const std::string too_few = "Verify  : only 11 samples held data: too few to show the erase\n";
    const std::string timed_out =
        "IOCtl: NVME_OF failed 0x79!\nPossible Erased [300000 ms], re-plug drive!\n";
    const std::string full =
        "Verify  : full, 16387 units of 4096 bytes read in 27 ms (2485 MB/s)\n";
    const std::string full_0 = "Verify  : full, 16387 units of 4096 bytes read in 0 ms (0 MB/s)\n";
    const std::string none_left = "Verify  : 16387 units, 0 not erased\n";
    const std::string held = "Verify  : 2002 samples, 2002 held data, 0 unchanged\n";
    const std::string survived = "Verify error: data survived the erase!\n";
    const std::string holds = "Verify error: the drive holds data!\n";
    const std::string progress = "Verifying: 60%\nVerifying: 70%\nVerifying: 80%\nVerifying: 90%\n";
    const nlohmann::json host = nlohmann::json::parse(kMediaHost);
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
        {10, 4004, "6Y",
         ses1 + erased + "Verify  : 2002 samples, 0 held data, 0 unchanged\n" + blank},
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
        // The levels through OFA, a bridge and the inbox driver: n samples
        // each side, or every byte after the erase in 1 MiB requests (the
        // last one short) with the units that do not read DLFEAT's 00h or FFh.
        {0, 8196, "16Y --verify=25%",
         erased + "Verify  : 25%, 4098 units of 4096 bytes read in 336 ms (49 MB/s)\n" +
             "Verify  : 4098 samples, 4098 held data, 0 unchanged\nVerified!\n"},
        {0, 2067, "17Y --verify=full", erased + full + held + none_left + "Verified!\n"},
        {0, 2067, "18SY --verify=full", sanitized + full + held + none_left + "Verified!\n"},
        // Nothing erased, the last quarter kept, 0.1 % of units kept (which
        // the samples miss), new content (which only the samples judge),
        // DLFEAT 0, 00h where FFh is due; a read of the full pass that fails;
        // every unit a sample.
        {9, 2067, "19Y --verify=full",
         erased + full_0 + "Verify  : 2002 samples, 2002 held data, 2002 unchanged\n" +
             "Verify  : 16387 units, 16387 not erased\n" + survived},
        {9, 2067, "20Y --verify=full",
         erased + full_0 + "Verify  : 2002 samples, 2002 held data, 501 unchanged\n" +
             "Verify  : 16387 units, 4096 not erased\n" + survived},
        {0, 4004, "21Y", ses1 + erased + VERIFIED},
        {9, 2067, "21Y --verify=full",
         erased + full_0 + held + "Verify  : 16387 units, 16 not erased\n" + survived},
        {0, 2067, "21Y 0 0 --verify=full", // no secure erase: no erased content due
         "Selected SES action: 0 - No secure erase\n" + erased + full_0 + VERIFIED},
        {0, 2067, "22Y --verify=full", erased + full_0 + VERIFIED},
        {0, 2067, "23Y --verify=full", erased + full_0 + VERIFIED},
        {9, 2067, "30Y --verify=full",
         erased + full_0 + "Verify  : 2002 samples, 0 held data, 0 unchanged\n" +
             "Verify  : 16387 units, 16387 not erased\n" + survived},
        {10, 2005, "24Y --verify=full", erased + "Verify  : read error 23 at offset 2097152\n"},
        {0, 1000, "10Y 1 --verify=100%",
         erased + "Verify  : 100%, 500 units of 4096 bytes read in 0 ms (0 MB/s)\n" +
             "Verify  : 500 samples, 500 held data, 0 unchanged\nVerified!\n"},
        // Verdicts that show too little: 1 to 15 samples that held data, or
        // none, after Erased (10) and after Possible Erased (3); no unit.
        {10, 4004, "25Y", erased + "Verify  : 2002 samples, 11 held data, 0 unchanged\n" + too_few},
        {3, 4004, "26Y",
         timed_out + "Verify  : 2002 samples, 11 held data, 0 unchanged\n" + too_few},
        {3, 4004, "27Y", timed_out + "Verify  : 2002 samples, 0 held data, 0 unchanged\n" + blank},
        {10, 0, "28Y",
         erased + "Verify  : skipped, the namespace is smaller than one 4096-byte unit\n"},
        // A pass that runs 10 s shows its progress, on the console only.
        {0, 8196, "29Y --verify=25%",
         ses1 + progress + erased + progress +
             "Verify  : 25%, 4098 units of 4096 bytes read in 17113 ms (0 MB/s)\n" +
             "Verify  : 4098 samples, 4098 held data, 0 unchanged\nVerified!\n"},
        // A drive checked alone: its volumes offline, each unit read once.
        {0, 2002, "6VY",
         "LBA Size: 512\nVerify  : 2002 units read, 0 hold data\nVerify  : blank!\n"},
        {9, 2002, "13VY",
         "Volume  : H:\\ dismounted\nVerify  : 2002 units read, 2002 hold data\n" + holds},
        {9, 4097, "16VY --verify=25%",
         "Verify  : 25%, 4097 units of 4096 bytes read in 335 ms (50 MB/s)\n"
         "Verify  : 4097 units read, 4097 hold data\n" +
             holds},
        {9, 65, "19VY --verify=full",
         full_0 + "Verify  : 16387 units read, 16387 hold data\n" + holds},
    };
    std::string records;
    for (const Case& k : cases) {
        const RunResult run = run_program(kMediaHost, words(k.args));
        const std::string what = words(k.args)[0];
        EXPECT_EQ(run.status, k.status) << what;
        EXPECT_EQ(run.err, "") << what;
        EXPECT_TRUE(ends_with(run.out, run.text(k.tail))) << what << "\n" << run.out;
        EXPECT_TRUE(ends_with(run.log, run.text(logged_part(k.tail)))) << what << "\n" << run.log;
        EXPECT_TRUE(handles_balanced(run.trace)) << what;
        const bool sanitize = what.find('S') != std::string::npos;
        const bool alone = what.find('V') != std::string::npos;
        EXPECT_EQ(format_sent(run.trace), k.status != 8 && !sanitize && !alone) << what;
        // The record names a failed read, before or after the erase, by its
        // code and offset, and counts the bytes read again only when every
        // sample was.
        if (k.status != 8) {
            const nlohmann::json check = record_lines(run.record).back().at("verification");
            const size_t failed = k.tail.find("read error ");
            EXPECT_EQ(check.at("read_error"),
                      failed == std::string::npos
                          ? nlohmann::json()
                          : nlohmann::json::parse(
                                "{\"code\": " + words(k.tail.substr(failed))[2] +
                                ", \"offset\": " + words(k.tail.substr(failed))[5] + "}"))
                << what;
            const std::string result = check.at("result");
            const bool read_again = result.rfind("skipped", 0) != 0 && result != "read error";
            EXPECT_EQ(check.at("bytes_read").is_null(), !read_again) << what;
            EXPECT_EQ(record_schema_problems(run.record), "") << what;
        }

        // Reads through the disk handle: whole 4 KiB units, n samples in
        // ascending order before the erase and the same ones after it; or
        // after it every byte in 1 MiB requests. The level line's time is
        // the drive's read model's for those requests.
        const std::vector<nlohmann::json> reads = trace_ops(run.trace, "read");
        EXPECT_EQ(reads.size(), k.reads) << what;
        const std::string disk = "\\\\.\\PhysicalDrive" + std::to_string(std::stoi(what));
        const std::vector<nlohmann::json> lines = record_lines(run.record);
        const uint64_t capacity =
            lines.empty() ? 0 : lines.back().at("drive").at("capacity_bytes").get<uint64_t>();
        const bool full = std::string(k.args).find("full") != std::string::npos;
        uint64_t latency_us = 0, mb_s = 0; // no read model: reads take no time
        for (const nlohmann::json& d : host.at("drives"))
            if (d.at("number") == std::stoi(what) && d.contains("read_model")) {
                latency_us = d.at("read_model").at("latency_us");
                mb_s = d.at("read_model").at("mb_s");
            }
        // The pass after the erase begins where the one before it ends:
        // the first read that goes back.
        size_t split = alone ? 0 : reads.size();
        for (size_t i = 1; i < reads.size() && split == reads.size(); ++i)
            if (reads[i].at("offset") < reads[i - 1].at("offset"))
                split = i;
        std::vector<uint64_t> before, after;
        uint64_t full_bytes = 0, model_us = 0;
        for (size_t i = 0; i < reads.size(); ++i) {
            const uint64_t offset = reads[i].at("offset"), size = reads[i].at("size");
            EXPECT_EQ(reads[i].at("path"), disk) << what;
            if (full && i >= split) {
                EXPECT_EQ(offset, full_bytes) << what;
                EXPECT_EQ(size, std::min<uint64_t>(1 << 20, capacity - offset)) << what;
                full_bytes += size;
            } else {
                EXPECT_EQ(size, 4096u) << what;
                EXPECT_EQ(offset % 4096, 0u) << what;
                (i < split ? before : after).push_back(offset / 4096);
            }
            if (i >= split && mb_s)
                model_us += latency_us + (size + mb_s - 1) / mb_s;
        }
        if (run.out.find(" samples, ") != std::string::npos) { // every sample read
            EXPECT_EQ(broken_parts(before, capacity / 4096), 0) << what;
            EXPECT_EQ(full ? full_bytes : before == after, full ? capacity : 1u) << what;
        }
        if (alone) { // each unit once
            EXPECT_EQ(
                std::adjacent_find(after.begin(), after.end(), std::greater_equal<uint64_t>()),
                after.end())
                << what;
        }
        if (run.out.find("bytes read in ") != std::string::npos) {
            const uint64_t ms = number_after(run.out, "bytes read in ", " ms");
            EXPECT_LE(ms * 1000, model_us * 105 / 100) << what;
            EXPECT_GE(ms * 1000 + 1000, model_us) << what;
        }
        // The record: a drive checked alone has one line, its verdict's.
        records += run.record;
        if (!lines.empty()) {
            EXPECT_EQ(lines.size(), alone ? 1u : 2u) << what;
            EXPECT_EQ(lines.back().at("exit_status"), run.status) << what;
            if (ends_with(k.tail, too_few)) {
                EXPECT_EQ(lines.back().at("verification").at("result"), "too few samples") << what;
            }
        }
        if (alone) {
            EXPECT_EQ(lines.at(0).at("method").at("command"), "Verify") << what;
            EXPECT_EQ(run.text(lines.at(0).at("outcome_line").get<std::string>() + "\n"),
                      run.text(lines_of(k.tail).back()))
                << what;
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
    EXPECT_EQ(record_schema_problems(records), "");
}

namespace {

// Controllers whose namespaces are disks of their own (OFA, inbox), and
// disks whose partitions or volumes decide: drives 1-2 (the system on
// namespace 2), 3-4 (a volume in use on namespace 2), 5-6 (NN 4; beside them
// at port 5 another target, a drive that cannot be opened and one that
// cannot be asked), 9-10 (FNA bit 0), 11-12 (FNA bit 1), 13-14, 17-18 (the
// system on namespace 2) and 27-28 (a volume in use on namespace 2) behind
// the inbox driver, 21-22 (namespace 2 a dynamic disk), 33-34 (a sanitize
// running, namespace 2 a dynamic disk), 35 (NN 2 behind a bridge); one
// volume on each of drives 5, 6, 10, 34; when `crowded`, 20 volumes on drive
// 30 and 600 on 31 (enumerated by every run, they are left out elsewhere).
std::string scope_host(bool crowded, bool pe = false) {
    std::string volumes = R"({"letter": "E", "disks": [5]}, {"letter": "F", "disks": [6]},
        {"letter": "G", "disks": [4], "in_use": true}, {"letter": "H", "disks": [10]})";
    for (int i = 0; i < (crowded ? 620 : 0); ++i)
        volumes += std::string(R"(, {"disks": [)") + (i < 20 ? "30" : "31") + "]}";
    volumes +=
        R"(, {"letter": "I", "disks": [28], "in_use": true}, {"letter": "J", "disks": [34]},)"
        R"( {"letter": "K", "disks": [38]})";
    return std::string(pe ? R"({"winpe": true, )" : "{") + R"("volumes": [)" + volumes +
           R"(], "drives": [
      {"number": 1, "path": "ofa", "port": 1},
      {"number": 2, "path": "ofa", "port": 1, "lun": 1, "system": true},
      {"number": 3, "path": "ofa", "port": 3},
      {"number": 4, "path": "ofa", "port": 3, "lun": 1},
      {"number": 5, "path": "ofa", "port": 5, "controller": {"nn": 4}},
      {"number": 6, "path": "ofa", "port": 5, "lun": 1},
      {"number": 7, "path": "ofa", "port": 5, "target_id": 1},
      {"number": 8, "path": "inbox", "port": 5, "lun": 2, "open_error": 5},
      {"number": 16, "path": "ofa", "port": 5, "lun": 3, "address_error": 1117},
      {"number": 9, "path": "ofa", "port": 9, "controller": {"fna": 1}},
      {"number": 10, "path": "ofa", "port": 9, "lun": 1},
      {"number": 11, "path": "ofa", "port": 11, "controller": {"fna": 2}},
      {"number": 12, "path": "ofa", "port": 11, "lun": 1},
      {"number": 13, "path": "inbox", "port": 13},
      {"number": 14, "path": "inbox", "port": 13, "lun": 1, "controller": {"nsze": 2097152}},
      {"number": 17, "path": "inbox", "port": 17},
      {"number": 18, "path": "inbox", "port": 17, "lun": 1, "system": true},
      {"number": 27, "path": "inbox", "port": 27},
      {"number": 28, "path": "inbox", "port": 27, "lun": 1},
      {"number": 33, "path": "ofa", "port": 33,
       "controller": {"sanitize_state": {"action": "block", "remaining_ms": 3000}}},
      {"number": 34, "path": "ofa", "port": 33, "lun": 1,
       "partitions": {"style": "mbr", "types": [66]}},
      {"number": 35, "path": "jmicron", "controller": {"nn": 2}},
      {"number": 20, "path": "jmicron", "partitions": {"style": "gpt", "types":
        ["EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D"]}},
      {"number": 21, "path": "ofa", "port": 21},
      {"number": 22, "path": "ofa", "port": 21, "lun": 1,
       "partitions": {"style": "gpt", "types": ["5808C8AA-7E8F-42E0-85D2-E1E90434CFB3"]}},
      {"number": 23, "path": "inbox",
       "partitions": {"style": "gpt", "types": ["af9b60a0-1431-4f62-bc68-3311714a69ad"]}},
      {"number": 24, "path": "realtek", "partitions": {"style": "mbr", "types": [7, 66]}},
      {"number": 25, "path": "asmedia", "partitions": {"style": "mbr", "types": [7, 12]}},
      {"number": 26, "path": "jmicron", "fail": [{"nth": 6, "error": 31}],
       "partitions": {"style": "mbr", "types": [66]}},
      {"number": 30, "path": "jmicron"},
      {"number": 31, "path": "jmicron"},
      {"number": 37, "path": "inbox", "port": 37, "controller": {"fna": 1}},
      {"number": 38, "path": "inbox", "port": 37, "lun": 1}]})";
}

} // namespace

TEST(Program, EveryDiskAnEraseReachesIsNamedAndGuarded) {
    const std::string crypto = "Selected sanitize action: 2 - Crypto Erase\n";
    const std::string ses1 = "Selected SES action: 1 - User Data Erase\n";
    const std::string pooled = " belongs to a storage pool or a dynamic volume: remove it there "
                               "first\n";
    std::string sixteen;
    for (int i = 5; i < 21; ++i)
        sixteen += "Volume  : \\\\?\\Volume{00000000-0000-0000-0000-0000000000" +
                   std::to_string(i / 10) + std::to_string(i % 10) + "}\\ dismounted\n";
    struct Case {
        const char* args;
        std::string has; // standard output holds it, and the log all but its IOCtl line
        int status;
        size_t locks;
        bool scans;      // every other drive is asked its address
        bool pe = false; // in Windows PE
    } cases[] = {
        // A sanitize reaches every namespace: each is guarded, its volumes
        // taken offline, and named.
        {"1SY",
         crypto + "Also erased: drive 2 (namespace 2)\nError: drive 2 holds the running "
                  "system\n",
         8, 0, true},
        {"3SY",
         crypto + "Also erased: drive 4 (namespace 2)\nError: volume G:\\ is in use, close "
                  "what uses it\n",
         8, 1, true},
        {"5SY",
         crypto + "Also erased: drive 6 (namespace 2)\nAlso erased: any other namespace of "
                  "the drive (it supports 4)\nVolume  : E:\\ dismounted\nVolume  : F:\\ "
                  "dismounted\n",
         0, 2, true},
        // The size shown and read back is the chosen namespace's own.
        {"14SY",
         "Size    : 1024 MB\nLBA Size: 512\n" + crypto +
             "Also erased: drive 13 (namespace 1)\nSanitized [2000 ms]!\n",
         0, 0, true},
        {"17SY", "Also erased: drive 18 (namespace 2)\nError: drive 18 holds the running system\n",
         8, 0, true},
        {"27SY", "Also erased: drive 28 (namespace 2)\nError: volume I:\\ is in use", 8, 1, true},
        {"35SY", crypto + "Also erased: any other namespace of the drive (it supports 2)\nSanitiz",
         0, 0, false},
        // A sanitize found running is followed: nothing refused.
        {"33SY",
         "1 - Block Erase\nAlso erased: drive 34 (namespace 2)\nVolume  : J:\\ dismounted\n", 10, 1,
         true},
        // A format reaches namespace 1, unless FNA says it reaches them all.
        {"5Y",
         ses1 + "Scope   : namespace 1 of 4; the others keep their data\nVolume  : E:\\ "
                "dismounted\nErased",
         0, 1, false},
        {"9Y", ses1 + "Also erased: drive 10 (namespace 2)\nVolume  : H:\\ dismounted\nErased", 0,
         1, true},
        {"9Y 0 0",
         "0 - No secure erase\nAlso erased: drive 10 (namespace 2)\nVolume  : H:\\ dismounted\n", 0,
         1, true},
        {"11Y 0 0",
         "Selected SES action: 0 - No secure erase\nScope   : namespace 1 of 2; the "
         "others keep their data\nErased",
         0, 0, false},
        {"11Y 0 1", ses1 + "Also erased: drive 12 (namespace 2)\nErased", 0, 0, true},
        // Members of a storage pool or a dynamic disk, the chosen one or
        // another reached; a layout that cannot be read refuses nothing.
        {"20Y", ses1 + "Error: drive 20" + pooled, 8, 0, false},
        {"21SY", crypto + "Also erased: drive 22 (namespace 2)\nError: drive 22" + pooled, 8, 0,
         true},
        {"23SY", crypto + "Error: drive 23" + pooled, 8, 0, true},
        {"24Y", ses1 + "Error: drive 24" + pooled, 8, 0, false},
        {"25Y", ses1 + "Erased", 0, 0, false},
        {"26Y", ses1 + "IOCtl: drive 26 layout failed 0x1f!\nErased", 0, 0, false},
        // The first 16 volumes by name, the others counted; no more than
        // 512 are held.
        {"30Y", ses1 + sixteen + "Volume  : 4 more dismounted\nErased [1500 ms]!\n" + VERIFIED, 0,
         20, false},
        {"31Y",
         "040}\\ dismounted\nVolume  : 496 more dismounted\nError: drive 31 has more than 512 "
         "volumes\n",
         8, 512, false},
        // In Windows PE the inbox driver formats, and FNA reaches the other
        // namespaces likewise; Windows runs from a RAM disk: no drive holds
        // it, and a sanitize through the driver reaches every namespace.
        {"37Y", ses1 + "Also erased: drive 38 (namespace 2)\nVolume  : K:\\ dismounted\nErased", 0,
         1, true, true},
        {"14SY", crypto + "Also erased: drive 13 (namespace 1)\n", 0, 0, true, true},
        {"17SY", crypto + "Also erased: drive 18 (namespace 2)\n", 0, 0, true, true},
        {"37Y", "Error - possible incompatible nvme driver\n", 7, 0, false},
    };
    const std::string hosts[] = {scope_host(false), scope_host(true), scope_host(false, true)};
    for (const Case& k : cases) {
        const int chosen = std::stoi(k.args);
        const RunResult run =
            run_program(hosts[k.pe ? 2 : chosen == 30 || chosen == 31], words(k.args));
        EXPECT_EQ(run.status, k.status) << k.args;
        EXPECT_EQ(run.err, "") << k.args;
        EXPECT_NE(run.out.find(run.text(k.has)), std::string::npos) << k.args << "\n" << run.out;
        EXPECT_NE(run.log.find(run.text(logged_part(k.has))), std::string::npos) << k.args << "\n"
                                                                                 << run.log;
        EXPECT_TRUE(handles_balanced(run.trace)) << k.args;
        // A refusal sends no erase, reads nothing and leaves no record; a
        // followed sanitize (10) sends nothing either.
        EXPECT_EQ(format_sent(run.trace) || sanitize_sent(run.trace),
                  k.status != 8 && k.status != 10 && k.status != 7)
            << k.args;
        EXPECT_EQ(run.record.empty(), k.status == 8 || k.status == 7) << k.args;
        if (k.status == 8) {
            EXPECT_TRUE(trace_ops(run.trace, "read").empty()) << k.args;
        }
        EXPECT_EQ(ioctls_with_code(run.trace, 0x00090018).size(), k.locks) << k.args;
        // Every other drive is asked its address and nothing else, once, by
        // a handle that shares; a reached one its layout too.
        std::vector<int> asked;
        for (const nlohmann::json& op : trace_ops(drive_trace(run.trace), "ioctl")) {
            const std::string path = op.at("path");
            if (path.find("PhysicalDrive") == std::string::npos) // Windows PE's X: volume
                continue;
            const int number = std::stoi(path.substr(path.find_first_of("0123456789")));
            if (number == chosen)
                continue;
            const bool reached =
                run.out.find("drive " + std::to_string(number) + " (") != std::string::npos;
            if (op.at("code") == CODE_GET_ADDRESS) {
                asked.push_back(number);
            } else {
                EXPECT_TRUE(reached && op.at("code") == 0x00070050) << k.args << " " << path;
            }
        }
        for (const nlohmann::json& open : trace_ops(run.trace, "open")) {
            if (open.at("path") != "\\\\.\\PhysicalDrive" + std::to_string(chosen) &&
                open.at("path").get<std::string>().find("Drive") != std::string::npos) {
                EXPECT_EQ(open.at("share"), 3) << k.args;
            }
        }
        std::vector<int> expected; // every drive that opens
        for (int n : {1,  2,  3,  4,  5,  6,  7,  9,  10, 11, 12, 13, 14, 16, 17, 18,
                      20, 21, 22, 23, 24, 25, 26, 27, 28, 30, 31, 33, 34, 35, 37, 38})
            if (k.scans && n != chosen)
                expected.push_back(n);
        EXPECT_EQ(asked, expected) << k.args;
    }
}

namespace {

// Every path and every outcome of Format NVM, each once; device texts with characters
// the record must escape; host texts in UTF-8. The clock passes midnight, a
// month's end, during a 1.5 s format.
const char* const kRecordHost = R"({
  "system_time": "2026-05-31T23:59:59Z", "computer": "WS-Δ\"7\\b", "account": "Иван",
  "drives": [
    {"number": 1, "path": "ofa", "controller": {"vid": 5197, "ssvid": 5197, "ieee": 9528}},
    {"number": 2, "path": "ofa", "controller": {"format_status": 266}},
    {"number": 3, "path": "jmicron", "vendor": "JMicron ", "product": "Q\"uote\\",
     "controller": {"model": "M\"odel\\ ", "serial": "SN\"1", "firmware": "F\\2"}},
    {"number": 5, "path": "jmicron", "fail": [{"nth": 8, "error": 1167}]},
    {"number": 6, "path": "asmedia", "vendor": "ASMT", "product": "2362"},
    {"number": 8, "path": "realtek", "controller": {"format_ms": 900}}]})";

// A station file with every key, comments, blank lines, a byte-order mark,
// CR LF line ends, tabs around a key and a value, and no line end at its end.
const char* const kStation =
    "\xEF\xBB\xBF# The station\r\norganization = Soci\xC3\xA9t\xC3\xA9 G\xC3\xA9n\xC3\xA9rale  \r\n"
    "\tlocation\t=\tHall 2 # east\r\n   # an indented comment\r\n\r\n"
    "operator = Jos\xC3\xA9\r\ntitle = Technician\r\ncontact = +33 1 23\r\n"
    "source = Customer \"A\"\r\ndestination = Resale\r\n"
    "classification = Confidential\r\nvalidator = \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\r\n"
    "key_file = station.key";
const char kKey[] = "\x00\x01 a key of bytes, longer than one block of SHA-256, "
                    "so that HMAC hashes it first: 0123456789";
// The same clock and computer in Windows PE, where the inbox driver formats.
const char* const kRecordPeHost = R"({"winpe": true,
  "system_time": "2026-05-31T23:59:59Z", "computer": "WS-Δ\"7\\b", "account": "Иван",
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
    const std::string key(kKey, sizeof kKey - 1);
    const Files station = {{"veltrane.ini", kStation}, {"station.key", key}};
    const nlohmann::json full_station = {
        {"organization", "Soci\xC3\xA9t\xC3\xA9 G\xC3\xA9n\xC3\xA9rale"},
        {"location", "Hall 2 # east"},
        {"operator", "Jos\xC3\xA9"},
        {"title", "Technician"},
        {"contact", "+33 1 23"},
        {"source", "Customer \"A\""},
        {"destination", "Resale"},
        {"classification", "Confidential"},
        {"validator", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"}};
    nlohmann::json no_station = full_station;
    for (auto& field : no_station)
        field = nullptr;
    nlohmann::json overridden = no_station; // the option's operator, the file's empty validator
    overridden["operator"] =
        "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \xD0\x9F\xD0\xB5\xD1\x82\xD1\x80\xD0\xBE\xD0\xB2";
    struct Case {
        std::vector<std::string> args; // options anywhere among them
        const char* outcome;
        int status;
        const char* path;
        const char* console_path;
        nlohmann::json vendor, product, completion, maker;
        Files files;
        nlohmann::json station, asset, note;
        bool pe; // on kRecordPeHost
    };
    // The simulator's maker, no station file and no option unless given.
    const auto row = [&no_station](std::vector<std::string> args, const char* outcome, int status,
                                   const char* path, const char* console_path,
                                   nlohmann::json completion, nlohmann::json vendor = nullptr,
                                   nlohmann::json product = nullptr, bool pe = false,
                                   Files files = {}, nlohmann::json station = nullptr,
                                   nlohmann::json asset = nullptr, nlohmann::json note = nullptr,
                                   nlohmann::json maker = {"0x1B36", "0x1AF4", "544C56"}) {
        station = station.is_null() ? no_station : station;
        return Case{args,       outcome, status, path,    console_path, vendor, product,
                    completion, maker,   files,  station, asset,        note,   pe};
    };
    const nlohmann::json ok = {{"sct", 0}, {"sc", 0}};
    const Case cases[] = {
        row({"--asset= A-1 ", "1Y", "1", "--note=first\tline"}, "Erased", 0, "OFA driver",
            "Driver  : OFA", ok, none, none, false, station, full_station, "A-1", "first\tline",
            {"0x144D", "0x144D", "002538"}),
        row({"2Y",
             "--operator=  \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD "
             "\xD0\x9F\xD0\xB5\xD1\x82\xD1\x80\xD0\xBE\xD0\xB2 ",
             "--asset="},
            "Erase error", 1, "OFA driver", "Driver  : OFA", {{"sct", 1}, {"sc", 10}}, none, none,
            false, {{"veltrane.ini", "operator = Jos\xC3\xA9\nvalidator =\n"}}, overridden),
        row({"3Y", "1", "2"}, "Erased", 0, "JMicron bridge", "Bridge  : JMS", ok, "JMicron",
            "Q\"uote\\"),
        // The data phase never reached the drive, nor was the completion
        // asked for: the read-back shows it.
        row({"5Y"}, "Possible Erased", 9, "JMicron bridge", "Bridge  : JMS", none),
        row({"6Y", "1", "0"}, "Erased", 0, "ASMedia bridge", "Bridge  : ASM", ok, "ASMT", "2362"),
        row({"8Y", "1"}, "Erased", 0, "Realtek bridge", "Bridge  : RTL", ok),
        row({"1Y", "1", "2"}, "Erased", 0, "inbox driver", "Driver  : W10", none, none, none, true),
        row({"2Y"}, "Erase error", 1, "inbox driver", "Driver  : W10", none, none, none, true),
    };
    const char* const NIST[] = {"none", "Purge", "Purge"};
    const char* const IEEE[] = {"none", "Clear", "Clear, possible Purge"};
    std::string records;
    for (const auto& c : cases) {
        std::vector<std::string> positional;
        for (const std::string& arg : c.args)
            if (arg.rfind("--", 0) != 0)
                positional.push_back(arg);
        const RunResult run = run_program(c.pe ? kRecordPeHost : kRecordHost, c.args, "", c.files);
        const std::string what = positional[0] + "\n" + run.out;
        records += run.record;
        const std::vector<nlohmann::json> lines = record_lines(run.record);
        ASSERT_EQ(lines.size(), 2u) << what;
        const nlohmann::json& end = lines[1];
        EXPECT_EQ(run.status, c.status) << what;
        // The options and the station file change nothing on the console.
        if (!c.files.empty()) {
            EXPECT_EQ(run.out, run_program(kRecordHost, positional).out) << what;
        }
        EXPECT_NE(run.out.find(run.text("\n" + std::string(c.console_path) + "\n")),
                  std::string::npos)
            << what;
        // The outcome, as the console's outcome line tells it.
        const size_t at = run.out.find(run.eol + c.outcome + " [") + run.eol.size();
        const std::string line = run.out.substr(at, run.out.find(run.eol, at) - at);
        EXPECT_EQ(end.at("record"), 2) << what;
        EXPECT_EQ(end.at("outcome_line"), line) << what;
        EXPECT_EQ(end.at("outcome"), c.outcome) << what;
        const uint64_t elapsed = std::stoull(line.substr(line.find('[') + 1));
        EXPECT_EQ(end.at("elapsed_ms"), elapsed) << what;
        EXPECT_EQ(end.at("exit_status"), run.status) << what;
        EXPECT_EQ(end.at("started"), "2026-05-31T23:59:59Z") << what;
        EXPECT_EQ(end.at("ended"), elapsed < 1000 ? "2026-05-31T23:59:59Z" : "2026-06-01T00:00:00Z")
            << what;
        // The station, the options and the host in UTF-8, read back equal.
        nlohmann::json station = c.station;
        station["computer"] = "WS-\xCE\x94\"7\\b";
        station["account"] = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";
        station["windows_pe"] = c.pe;
        EXPECT_EQ(end.at("station"), station) << what;
        EXPECT_EQ(end.at("asset"), c.asset) << what;
        EXPECT_EQ(end.at("note"), c.note) << what;
        EXPECT_EQ(end.at("os"), "10.0 build 19045") << what;
        // The drive and its identity, as the console shows them, trimmed.
        const nlohmann::json& drive = end.at("drive");
        EXPECT_EQ(shown(run, "Drive   : "), std::to_string(drive.at("number").get<int>()) + "(" +
                                                drive.at("bus").get<std::string>() + ")")
            << what;
        EXPECT_EQ(drive.at("number"), positional[0][0] - '0') << what;
        EXPECT_EQ(drive.at("path"), c.path) << what;
        EXPECT_EQ(drive.at("vendor"), c.vendor) << what;
        EXPECT_EQ(drive.at("product"), c.product) << what;
        EXPECT_EQ(drive.at("enclosure"),
                  c.console_path[0] == 'B'
                      ? nlohmann::json({{"vendor", c.vendor}, {"product", c.product}})
                      : none)
            << what;
        EXPECT_EQ(drive.at("maker"), nlohmann::json({{"pci_vendor_id", c.maker[0]},
                                                     {"pci_subsystem_vendor_id", c.maker[1]},
                                                     {"ieee_oui", c.maker[2]}}))
            << what;
        EXPECT_EQ(drive.at("reach"),
                  nlohmann::json::parse("[{\"number\": " + positional[0].substr(0, 1) +
                                        ", \"namespace\": 1}]"))
            << what;
        const auto trimmed = [](std::string text) {
            text.erase(text.find_last_not_of(' ') + 1);
            return text;
        };
        EXPECT_EQ(drive.at("model"), trimmed(shown(run, "Model   : "))) << what;
        EXPECT_EQ(drive.at("firmware"), trimmed(shown(run, "Fw      : "))) << what;
        EXPECT_EQ(drive.at("serial"), trimmed(shown(run, "S/N     : "))) << what;
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
        // 0, and SES 1), what it reaches, and what it achieved: the same
        // when the run ended with status 0.
        const nlohmann::json& method = end.at("method");
        const int ses = positional.size() > 2 ? std::stoi(positional[2]) : 1;
        EXPECT_EQ(method.at("command"), "Format NVM") << what;
        EXPECT_EQ(method.at("lba_format"), positional.size() > 1 ? std::stoi(positional[1]) : 0)
            << what;
        EXPECT_EQ(method.at("ses"), ses) << what;
        EXPECT_EQ(method.at("route"), c.pe ? nlohmann::json("protocol command") : none) << what;
        EXPECT_EQ(shown(run, "Selected SES action: ").substr(0, 1), std::to_string(ses)) << what;
        const nlohmann::json category = {{"nist_800_88_r1", NIST[ses]}, {"ieee_2883", IEEE[ses]}};
        EXPECT_EQ(end.at("category"), category) << what;
        EXPECT_EQ(end.at("achieved"), c.status == 0 ? category
                                                    : nlohmann::json({{"nist_800_88_r1", nullptr},
                                                                      {"ieee_2883", nullptr}}))
            << what;
        EXPECT_EQ(end.at("evidence"), nlohmann::json({{"completion", c.completion},
                                                      {"sanitize_log_before", nullptr},
                                                      {"sanitize_log_after", nullptr}}))
            << what;
        // The read-back, as the console's lines tell it; none after an error.
        const nlohmann::json& check = end.at("verification");
        if (c.status == 1) {
            EXPECT_EQ(check, nullptr) << what;
        } else {
            EXPECT_EQ(check.at("method"), "sampled read-back") << what;
            EXPECT_EQ(check.at("level"), "quick") << what;
            EXPECT_EQ(check.at("algorithm"), "stratified") << what;
            EXPECT_EQ(check.at("result"), c.status == 0 ? "verified" : "data survived") << what;
            EXPECT_EQ(check.at("not_pattern"), 0) << what;
            EXPECT_EQ(check.at("seed").get<std::string>().size(), 16u) << what;
            const uint64_t samples = check.at("samples");
            EXPECT_EQ(check.at("unit_bytes"), 4096) << what;
            EXPECT_EQ(check.at("bytes_read"), samples * 4096) << what;
            EXPECT_NEAR(check.at("coverage").get<double>(), samples * 4096.0 / capacity, 1e-14)
                << what;
            EXPECT_EQ(check.at("read_error"), nullptr) << what;
            EXPECT_EQ(shown(run, "Verify  : "),
                      std::to_string(samples) + " samples, " +
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
        started["achieved"] = {{"nist_800_88_r1", nullptr}, {"ieee_2883", nullptr}};
        started["evidence"]["completion"] = nullptr;
        started["prev"] = nullptr;
        started["mac"] = lines[0].at("mac");
        EXPECT_EQ(lines[0], started) << what;
        // Chained, and signed when the station has a key.
        EXPECT_EQ(record_chain_problems(run.record, c.files.size() > 1 ? key : ""), "") << what;
    }
    EXPECT_EQ(record_schema_problems(records), "");
}

namespace {

// A version 1 line, as the tool wrote them before its record was chained.
const char* const kVersion1 =
    R"({"record":1,"run":"c7d60f3b8a4c4635","tool":"Veltrane","version":"0.7a","started":"2026-01-01T00:00:00Z","ended":"2026-01-01T00:00:01Z","computer":"WS-17","operator":"alice","os":"10.0 build 19045 ","drive":{"number":2,"bus":"USB","path":"JMicron bridge","vendor":"JMicron ","product":"Generic NVMe","model":"Simulated NVMe","serial":"OLD1","firmware":"1.0","capacity_bytes":1000204886016,"lba_size_before":512,"lba_size_after":4096,"media_type":"NVMe flash SSD"},"method":{"command":"Format NVM","ses":2,"action":null,"lba_format":1,"route":null},"category":{"nist_800_88_r1":"Purge","ieee_2883":"Clear, possible Purge"},"outcome":"Erased","outcome_line":"Erased [1500 ms]!","elapsed_ms":1500,"exit_status":0,"verification":null,"truncated":false})"
    "\n";

// Runs each appending to the record the one before left, after a version
// 1 line, signed with the station's key: ten, unless fewer are given.
std::string runs_after(const Files& station,
                       const std::vector<const char*>& runs = {"1Y", "2Y", "3Y 1", "5Y", "6Y", "8Y",
                                                               "1Y", "3Y", "6Y 1", "8Y"}) {
    std::string record = kVersion1;
    for (const char* args : runs) {
        Files files = station;
        files.push_back({"veltrane-erase.jsonl", record});
        record = run_program(kRecordHost, words(args), "", files).record;
    }
    return record;
}

std::string sha256_hex_of(const std::string& text) {
    Sha256 sha;
    sha256_begin(&sha);
    sha256_add(&sha, text.data(), static_cast<uint32_t>(text.size()));
    uint8_t digest[SHA256_SIZE];
    sha256_end(&sha, digest);
    char hex[SHA256_HEX_SIZE];
    sha256_hex(digest, hex);
    return hex;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// What --check prints for the record's runs, each "ok" unless `statuses`
// names it (by its place among the runs), and the count line.
std::string check_lines(const std::string& record, const std::map<size_t, std::string>& statuses,
                        const std::string& extra = "") {
    std::vector<std::string> order;
    std::map<std::string, nlohmann::json> last;
    for (const nlohmann::json& line : record_lines(record)) {
        const std::string run = line.at("run");
        if (!last.count(run))
            order.push_back(run);
        last[run] = line;
    }
    std::string text;
    int altered = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const nlohmann::json& line = last[order[i]];
        const std::string status = statuses.count(i)        ? statuses.at(i)
                                   : line.at("record") == 1 ? "unchained"
                                                            : "ok";
        altered += status != "ok" && status != "unchained";
        text += order[i] + " " + line.at("drive").at("serial").get<std::string>() + " " +
                line.at("outcome").get<std::string>() + " " + status + "\n";
    }
    altered += !extra.empty();
    return text + extra +
           "Records: " + std::to_string(count_substr(record, "\n") + !extra.empty()) + " lines, " +
           std::to_string(order.size()) + " runs, " + std::to_string(altered) + " altered\n";
}

} // namespace

TEST(Program, TheRecordChainsAndItsCheckNamesEveryAlteration) {
    const std::string key(kKey, sizeof kKey - 1);
    const Files station = {{"veltrane.ini", "key_file = station.key\n"}, {"station.key", key}};
    const std::string record = runs_after(station);
    ASSERT_EQ(count_substr(record, "\n"), 21) << record;
    EXPECT_EQ(record_chain_problems(record, key), "");
    const std::vector<std::string> lines = split_lines(record);
    auto edited = [&lines](size_t at, const std::string& from, const std::string& to) {
        std::vector<std::string> changed = lines;
        changed[at].replace(changed[at].find(from), from.size(), to);
        return joined(changed);
    };
    std::vector<std::string> removed = lines, swapped = lines, cut = lines;
    removed.erase(removed.begin() + 8);
    cut.erase(cut.begin());
    std::swap(swapped[4], swapped[5]);
    const Files wrong_key = {{"veltrane.ini", "key_file = station.key\n"},
                             {"station.key", key + "x"}};
    std::map<size_t, std::string> every_mac_wrong;
    for (size_t run = 1; run <= 10; ++run)
        every_mac_wrong[run] = "mac wrong";
    // Runs by their place: 0 the version 1 line, 1 to 10 the ten runs (lines
    // 2i - 1 and 2i).
    const struct {
        const char* what;
        std::string file;
        Files station;
        std::map<size_t, std::string> statuses;
        std::string extra; // a line of no run
    } cases[] = {
        {"as written", record, station, {}, ""},
        {"a byte edited",
         edited(6, "Erased", "Erasee"),
         station,
         {{3, "mac wrong"}, {4, "chain broken"}},
         ""},
        {"a byte edited, no key",
         edited(6, "Erased", "Erasee"),
         {},
         {{3, "altered"}, {4, "chain broken"}},
         ""},
        {"a line removed", joined(removed), station, {{4, "altered"}, {5, "chain broken"}}, ""},
        {"the first line removed", joined(cut), station, {{0, "chain broken"}}, ""},
        {"two lines swapped",
         joined(swapped),
         station,
         {{2, "chain broken"}, {3, "chain broken"}},
         ""},
        {"a line appended by hand", record + lines[20] + "\n", station, {{10, "chain broken"}}, ""},
        {"a wrong key", record, wrong_key, every_mac_wrong, ""},
        {"a line of text", record + "erased fine\n", station, {}, "- - - not JSON\n"},
    };
    for (const auto& c : cases) {
        Files files = c.station;
        files.push_back({"records.jsonl", c.file});
        const RunResult run = run_program(kRecordHost, {"--check=records.jsonl"}, "", files);
        const std::string expected =
            check_lines(c.extra.empty() ? c.file : record, c.statuses, c.extra);
        EXPECT_EQ(run.out, run.text(BANNER + expected)) << c.what;
        EXPECT_EQ(run.status, expected.find(" 0 altered") != std::string::npos ? 0 : 11) << c.what;
        EXPECT_FALSE(run.log_exists) << c.what;
        // Nothing but the Windows PE question, which every run asks first.
        ASSERT_EQ(run.trace.size(), 1u) << c.what;
        EXPECT_EQ(run.trace[0].at("op"), "registry") << c.what;
    }
    // A last line cut short (a run ended while writing it) is ended before
    // the next run's first line, which chains to it.
    Files cut_short = station;
    cut_short.push_back({"veltrane-erase.jsonl", record + "{\"record\":2,\"ru"});
    const RunResult after = run_program(kRecordHost, {"1Y"}, "", cut_short);
    const std::vector<std::string> after_lines = split_lines(after.record);
    ASSERT_EQ(after_lines.size(), 24u);
    EXPECT_EQ(after_lines[21], "{\"record\":2,\"ru");
    EXPECT_EQ(record_lines(after_lines[22] + "\n").at(0).at("prev"),
              sha256_hex_of(after_lines[21]));
    cut_short.back().second = after.record;
    const RunResult checked = run_program(kRecordHost, {"--check"}, "", cut_short);
    EXPECT_TRUE(
        ends_with(checked.out,
                  checked.text("- - - not JSON\n" +
                               record_lines(after.record.substr(
                                   after.record.rfind('\n', after.record.size() - 2) + 1))[0]
                                   .at("run")
                                   .get<std::string>() +
                               " SIM00000001 Erased ok\nRecords: 24 lines, 12 runs, 1 altered\n")))
        << checked.out;
    // Two runs at once: each waits for the file's lock, then chains after
    // the other.
    Files files = station;
    files.push_back({"veltrane-erase.jsonl", record});
    const AtOnce both = run_programs_at_once(kRecordHost, {{"1Y"}, {"3Y", "1"}}, files, 300);
    EXPECT_TRUE(both.untouched_while_locked);
    EXPECT_EQ(both.statuses, std::vector<int>({0, 0}));
    EXPECT_EQ(count_substr(both.record, "\n"), 25);
    files.back().second = both.record;
    const RunResult check = run_program(kRecordHost, {"--check"}, "", files);
    EXPECT_EQ(check.out, check.text(BANNER + check_lines(both.record, {}))) << check.out;
}

TEST(Program, CertificatesPrintOneSelfContainedPagePerRun) {
    // Runs of every outcome, a version 1 line, and a run whose device texts
    // would be markup: every run's serial and outcome shown as text, one
    // printed page per certificate.
    const std::string key(kKey, sizeof kKey - 1);
    Files files = {{"veltrane.ini", kStation}, {"station.key", key}};
    files.push_back({"veltrane-erase.jsonl", runs_after(files, {"1Y", "2Y", "5Y"})});
    files.back().second =
        run_program(drive_host(4, "ofa", R"(, "controller": {"serial": "<script>x</script>",
                                                              "model": "A&B <b>'\""})"),
                    {"4Y"}, "", files)
            .record;
    const RunResult run = run_program(kRecordHost, {"--certificates"}, "", files);
    EXPECT_EQ(run.out,
              run.text(BANNER + "Certificates: 5 runs written to veltrane-certificates.html\n"));
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(run.log_exists);
    ASSERT_EQ(run.trace.size(), 1u); // the Windows PE question alone
    EXPECT_EQ(run.trace[0].at("op"), "registry");
    EXPECT_NE(run.certificates.find("&lt;script&gt;x&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(run.certificates.find("A&amp;B &lt;b&gt;&#39;&quot;"), std::string::npos);
    EXPECT_NE(run.certificates.find("Soci\xC3\xA9t\xC3\xA9 G\xC3\xA9n\xC3\xA9rale"),
              std::string::npos);
    // Facts made of two of the record's values.
    for (const char* fact : {"<th>Tool and version</th><td>Veltrane 0.7a</td>",
                             "<th>Category achieved</th><td>Purge / Clear</td>"})
        EXPECT_NE(run.certificates.find(fact), std::string::npos) << fact;
    // The page's own checks, and Chromium's printing (once: the Windows
    // build writes the same page).
    EXPECT_EQ(certificates_problems(run.certificates, files.back().second, run.eol == "\n"), "");
}
