// Host files: what makes one invalid (and how that is told), the defaults of
// the optional fields, the embedded default host, and loading from the
// environment on the first device operation.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/host.h"
#include "sim/sim.h"

namespace {

class SimHost : public ::testing::Test {
  protected:
    void SetUp() override { sim_reset(); }
    void TearDown() override { sim_reset(); }
};

std::string drive_json(const std::string& fields) {
    return R"({"drives": [{"number": 2, "path": "jmicron")" + fields + "}]}";
}

struct BadHost {
    const char* name;
    std::string json;
    const char* reason; // expected after "host file 'h.json': "
};

TEST_F(SimHost, InvalidHostsAreRefusedWithTheirReason) {
    std::string lbads_65;
    for (int i = 0; i < 64; ++i)
        lbads_65 += "9,";
    const BadHost cases[] = {
        {"bad JSON", "{\"drives\": [", "not valid JSON: "},
        {"top level", "[]", "the top level must be an object"},
        {"no drives", "{}", "\"drives\" is missing"},
        {"drives not a list", R"({"drives": 3})", "\"drives\" must be a list"},
        {"no number", R"({"drives": [{"path": "none"}]})", "drives[0]: \"number\" is missing"},
        {"number too big", R"({"drives": [{"number": 256, "path": "none"}]})",
         "drives[0]: \"number\" must be an integer from 0 to 255, not 256"},
        {"number negative", R"({"drives": [{"number": -1, "path": "none"}]})",
         "drives[0]: \"number\" must be an integer from 0 to 255, not -1"},
        {"number as text", R"({"drives": [{"number": "2", "path": "none"}]})",
         "drives[0]: \"number\" must be an integer"},
        {"unknown path", R"({"drives": [{"number": 2, "path": "foo"}]})",
         "drive 2: unknown path \"foo\""},
        {"no path", R"({"drives": [{"number": 2}]})", "drive 2: \"path\" is missing"},
        {"duplicate number",
         R"({"drives": [{"number": 1, "path": "none"}, {"number": 1, "path": "ofa"}]})",
         "drive 1: number used twice"},
        {"bus as text", drive_json(R"(, "bus": "7")"),
         "drive 2: \"bus\" must be an integer from 0 to 255, not \"7\""},
        {"port too big", drive_json(R"(, "port": 300)"), "drive 2: \"port\" must be an integer"},
        {"vendor number", drive_json(R"(, "vendor": 5)"),
         "drive 2: \"vendor\" must be a text or null"},
        {"tick_start float", R"({"tick_start": 1.5, "drives": []})", "\"tick_start\" must be"},
        {"os not object", R"({"os": 10, "drives": []})", "\"os\" must be an object"},
        {"ex_fails not bool", R"({"os": {"ex_fails": 1}, "drives": []})",
         "os: \"ex_fails\" must be true or false"},
        {"model too long",
         drive_json(R"(, "controller": {"model": ")" + std::string(41, 'M') + "\"}"),
         "drive 2: controller: \"model\" is 41 bytes long, more than 40"},
        {"serial too long", drive_json(R"(, "controller": {"serial": "123456789012345678901"})"),
         "drive 2: controller: \"serial\" is 21 bytes long, more than 20"},
        {"firmware too long", drive_json(R"(, "controller": {"firmware": "123456789"})"),
         "drive 2: controller: \"firmware\" is 9 bytes long, more than 8"},
        {"model not ASCII", drive_json(R"(, "controller": {"model": "Mod\u00e8le"})"),
         "drive 2: controller: \"model\" holds a character that is not ASCII"},
        {"serial with NUL", drive_json(R"(, "controller": {"serial": "S\u0000N"})"),
         "drive 2: controller: \"serial\" holds a character that is NUL"},
        {"abort_in_format not bool", drive_json(R"(, "controller": {"abort_in_format": 1})"),
         "drive 2: controller: \"abort_in_format\" must be true or false"},
        {"sanitize_state unknown", drive_json(R"(, "controller": {"sanitize_state": "done"})"),
         "drive 2: controller: \"sanitize_state\" must be \"never\", \"completed\", \"failed\""},
        {"sanitize_state action",
         drive_json(R"(, "controller": {"sanitize_state": {"action": "x"}})"),
         "drive 2: controller: \"sanitize_state\": \"action\" must be \"block\""},
        {"sanitize_state action 8",
         drive_json(R"(, "controller": {"sanitize_state": {"action": 8}})"),
         "drive 2: controller: \"sanitize_state\": \"action\" must be \"block\", \"crypto\", "
         "\"overwrite\" or a number from 0 to 7, not 8"},
        {"sanitize_state status never",
         drive_json(
             R"(, "controller": {"sanitize_state": {"status": "never", "action": "block"}})"),
         "drive 2: controller: \"sanitize_state\": \"status\" must be \"completed\" or "
         "\"failed\", not \"never\""},
        {"sanitize_state status raw action",
         drive_json(R"(, "controller": {"sanitize_state": {"status": "failed", "action": 2}})"),
         "drive 2: controller: \"sanitize_state\": \"action\" must be \"block\", \"crypto\" or "
         "\"overwrite\", not 2"},
        {"sanitize_state status with time",
         drive_json(R"(, "controller": {"sanitize_state": {"status": "completed", "action": )"
                    R"("crypto", "remaining_ms": 5}})"),
         "drive 2: controller: \"sanitize_state\": \"remaining_ms\" is for a sanitize in "
         "progress"},
        {"sanitize_noop not bool", drive_json(R"(, "controller": {"sanitize_noop": 1})"),
         "drive 2: controller: \"sanitize_noop\" must be true or false, not 1"},
        {"log_error behind a bridge", drive_json(R"(, "log_error": 0)"),
         "drive 2: \"log_error\" is only for the inbox driver's path"},
        {"log_error text", R"({"drives": [{"number": 1, "path": "inbox", "log_error": "31"}]})",
         "drive 1: \"log_error\" must be an integer from 0 to 4294967295, not \"31\""},
        {"sanitize_ms as number", drive_json(R"(, "controller": {"sanitize_ms": 5})"),
         "drive 2: controller: \"sanitize_ms\" must be an object, not 5"},
        {"sanitize_ms block text", drive_json(R"(, "controller": {"sanitize_ms": {"block": "1"}})"),
         "drive 2: controller: sanitize_ms: \"block\" must be an integer"},
        {"system not bool", drive_json(R"(, "system": "yes")"),
         "drive 2: \"system\" must be true or false"},
        {"lun too big", drive_json(R"(, "lun": 256)"),
         "drive 2: \"lun\" must be an integer from 0 to 255, not 256"},
        {"windows_dir number", R"({"windows_dir": 3, "drives": []})",
         "\"windows_dir\" must be a text, not 3"},
        {"system_time not a day", R"({"system_time": "2026-02-29T00:00:00Z", "drives": []})",
         "\"system_time\" must read YYYY-MM-DDThh:mm:ssZ, not \"2026-02-29T00:00:00Z\""},
        {"system_time without zone", R"({"system_time": "2026-01-01T00:00:00", "drives": []})",
         "\"system_time\" must read"},
        {"computer number", R"({"computer": 7, "drives": []})", "\"computer\" must be a text"},
        {"lbads entry 32", drive_json(R"(, "controller": {"lbads": [9, 32]})"),
         "drive 2: controller: \"lbads\" entries must be integers from 0 to 31, not 32"},
        {"lbads 65 entries", drive_json(R"(, "controller": {"lbads": [)" + lbads_65 + "9]}"),
         "drive 2: controller: \"lbads\" must be a list of 1 to 64 integers"},
        {"lbads empty", drive_json(R"(, "controller": {"lbads": []})"),
         "drive 2: controller: \"lbads\" must be a list of 1 to 64 integers"},
        {"nlbaf 64", drive_json(R"(, "controller": {"nlbaf": 64})"),
         "drive 2: controller: \"nlbaf\" must be null or an integer from 0 to 63, not 64"},
        {"flbas without entry", drive_json(R"(, "controller": {"flbas": 2})"),
         "drive 2: controller: \"flbas\" 2 names no entry of \"lbads\""},
        {"flbas bits 6:5 without entry", drive_json(R"(, "controller": {"flbas": 32})"),
         "drive 2: controller: \"flbas\" 32 names no entry of \"lbads\""},
        {"ms longer than lbads", drive_json(R"(, "controller": {"ms": [0, 8, 8]})"),
         "drive 2: controller: \"ms\" must be a list of at most as many integers as"},
        {"ms entry", drive_json(R"(, "controller": {"ms": [65536]})"),
         "drive 2: controller: \"ms\" entries must be integers from 0 to 65535, not 65536"},
        {"fail not a list", drive_json(R"(, "fail": {"nth": 1, "error": 5})"),
         "drive 2: \"fail\" must be a list"},
        {"fail without error", drive_json(R"(, "fail": [{"nth": 1}])"),
         "drive 2: \"fail\" entries must be objects with \"nth\" and \"error\""},
        {"fail nth 0", drive_json(R"(, "fail": [{"nth": 0, "error": 5}])"),
         "drive 2: fail: \"nth\" must be an integer from 1 to 4294967295, not 0"},
        {"bridge not an object", drive_json(R"(, "bridge": true)"),
         "drive 2: \"bridge\" must be an object, not true"},
        {"check_condition not bool", drive_json(R"(, "bridge": {"check_condition": 0})"),
         "drive 2: bridge: \"check_condition\" must be true or false, not 0"},
        {"completion not bool", drive_json(R"(, "bridge": {"completion": "no"})"),
         "drive 2: bridge: \"completion\" must be true or false"},
        {"bridge behind a driver", R"({"drives": [{"number": 1, "path": "ofa", "bridge": {}}]})",
         "drive 1: \"bridge\" is only for the paths of USB bridges"},
        {"media above 1", drive_json(R"(, "controller": {"media": 1.5})"),
         "drive 2: controller: \"media\" must be \"data\", \"blank\" or a number from 0 to 1"},
        {"unknown erase effect", drive_json(R"(, "controller": {"erase_effect": "wipe"})"),
         "drive 2: controller: \"erase_effect\" must be one of \"deallocate\", \"random\", "
         "\"none\", \"partial\", not \"wipe\""},
        {"keep_share above 1", drive_json(R"(, "controller": {"erase_effect": {"keep_share": 2}})"),
         "drive 2: controller: \"erase_effect\" must be {\"keep_share\": a number from 0 to 1}"},
        {"keep_share and more",
         drive_json(R"(, "controller": {"erase_effect": {"keep_share": 0.1, "x": 1}})"),
         "drive 2: controller: \"erase_effect\" must be {\"keep_share\""},
        {"read_model without mb_s", drive_json(R"(, "read_model": {"latency_us": 80})"),
         "drive 2: \"read_model\" must hold \"latency_us\" and \"mb_s\" and nothing else"},
        {"read_model and more",
         drive_json(R"(, "read_model": {"latency_us": 80, "mb_s": 3000, "jitter_us": 5})"),
         "drive 2: \"read_model\" must hold \"latency_us\" and \"mb_s\" and nothing else"},
        {"read_model of 0 MB/s", drive_json(R"(, "read_model": {"latency_us": 80, "mb_s": 0})"),
         "drive 2: read_model: \"mb_s\" must be an integer from 1 to 4294967295, not 0"},
        {"read_model latency as text",
         drive_json(R"(, "read_model": {"latency_us": "80", "mb_s": 3000})"),
         "drive 2: read_model: \"latency_us\" must be an integer"},
        {"read_fail nth 0", drive_json(R"(, "read_fail": [{"nth": 0, "error": 5}])"),
         "drive 2: read_fail: \"nth\" must be an integer from 1"},
        {"volume letter twice", R"({"drives": [], "volumes": [{"letter": "E", "disks": [1]},
                                    {"letter": "e", "disks": [2]}]})",
         "volumes[1]: letter e is used twice"},
        {"volume at the system letter",
         R"({"drives": [], "volumes": [{"letter": "C", "disks": [1]}]})",
         "volumes[0]: letter C is used twice"},
        {"volume without disks", R"({"drives": [], "volumes": [{"letter": null}]})",
         "volumes[0]: \"disks\" must be a list of drive numbers"},
        {"fna too big", drive_json(R"(, "controller": {"fna": 256})"),
         "drive 2: controller: \"fna\" must be an integer from 0 to 255"},
        {"nn negative", drive_json(R"(, "controller": {"nn": -2})"), "drive 2: controller: \"nn\""},
        {"dps as text", drive_json(R"(, "controller": {"dps": "1"})"),
         "drive 2: controller: \"dps\""},
        {"partitions without style", drive_json(R"(, "partitions": {"types": []})"),
         "drive 2: \"partitions\" must be {\"style\": \"gpt\" or \"mbr\""},
        {"GPT type not a GUID", drive_json(R"(, "partitions": {"style": "gpt", "types":
                                ["E75CAF8F-F680-4CEE-AFA3-B001E56EFC2"]})"),
         "drive 2: \"partitions\" types must be GUID texts"},
        {"MBR type too big", drive_json(R"(, "partitions": {"style": "mbr", "types": [256]})"),
         "drive 2: \"partitions\" types must be integers from 0 to 255, not 256"},
        {"winpe not bool", R"({"winpe": 1, "drives": []})",
         "\"winpe\" must be true or false, not 1"},
        {"protocol_sanitize not bool", drive_json(R"(, "controller": {"protocol_sanitize": 0})"),
         "drive 2: controller: \"protocol_sanitize\" must be true or false, not 0"},
        {"protocol_return_status text",
         drive_json(R"(, "controller": {"protocol_return_status": "busy"})"),
         "drive 2: controller: \"protocol_return_status\" must be null or an integer from 0 to "
         "4294967295, not \"busy\""},
        {"volume at Windows PE's letter",
         R"({"winpe": true, "drives": [], "volumes": [{"letter": "X", "disks": [1]}]})",
         "volumes[0]: letter X is used twice"},
    };
    for (const BadHost& c : cases) {
        std::string error;
        EXPECT_FALSE(sim_load_host_text(c.json, "h.json", &error)) << c.name;
        std::string expected = "host file 'h.json': " + std::string(c.reason);
        EXPECT_EQ(error.substr(0, expected.size()), expected) << c.name;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.name;
    }
}

TEST_F(SimHost, UnreadableFileNamesTheFile) {
    std::string error;
    EXPECT_FALSE(sim_load_host_file("/nonexistent/h.json", &error));
    EXPECT_EQ(error, "host file '/nonexistent/h.json': cannot read: No such file or directory");
}

TEST_F(SimHost, RefusedHostKeepsThePreviousOne) {
    ASSERT_TRUE(sim_load_host_text(R"({"drives": [{"number": 4, "path": "none"}]})", "a", nullptr));
    EXPECT_FALSE(sim_load_host_text("{", "b", nullptr));
    HANDLE h = open_device("\\\\.\\PhysicalDrive4", 3, 0);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    close_device(h);
}

TEST_F(SimHost, OptionalFieldsTakeTheirDefaults) {
    HostConfig host;
    std::string error;
    ASSERT_TRUE(parse_host(R"({"drives": [{"number": 3, "path": "realtek", "extra": [1]},
                                          {"number": 4, "path": "ofa"}], "comment": "x"})",
                           "h", &host, &error))
        << error;
    EXPECT_EQ(host.os.major, 10u);
    EXPECT_EQ(host.os.minor, 0u);
    EXPECT_EQ(host.os.build, 19045u);
    EXPECT_EQ(host.os.csd, "");
    EXPECT_EQ(host.tick_start, 1000000u);
    EXPECT_EQ(host.windows_dir, "C:\\Windows");
    EXPECT_EQ(host.system_time, "2026-01-01T00:00:00Z");
    EXPECT_EQ(host.system_seconds, 1767225600); // the same instant
    EXPECT_EQ(host.computer, "SIMHOST");
    EXPECT_FALSE(host.winpe);
    EXPECT_FALSE(host.ram_disk_system);
    const DriveConfig& bridge = host.drives[0];
    EXPECT_FALSE(bridge.system);
    EXPECT_EQ(bridge.path_id | bridge.target_id | bridge.lun, 0);
    EXPECT_FALSE(bridge.controller.abort_in_format);
    EXPECT_EQ(bridge.bus, 7u);
    EXPECT_EQ(bridge.port, 3u);
    EXPECT_FALSE(bridge.has_vendor);
    EXPECT_FALSE(bridge.has_product);
    EXPECT_TRUE(bridge.fail.empty());
    EXPECT_EQ(bridge.controller.model, "Simulated NVMe");
    EXPECT_EQ(bridge.controller.serial, "SIM00000001");
    EXPECT_EQ(bridge.controller.firmware, "1.0");
    EXPECT_EQ(bridge.controller.nsze, 1953525168u);
    EXPECT_EQ(bridge.controller.lbads, (std::vector<uint8_t>{9, 12}));
    EXPECT_EQ(bridge.controller.nlbaf, -1);
    EXPECT_EQ(bridge.controller.format_ms, 1500u);
    EXPECT_EQ(bridge.controller.format_status, 0u);
    EXPECT_EQ(bridge.controller.sanitize_state.status, 0u);
    EXPECT_TRUE(bridge.bridge.check_condition);
    EXPECT_TRUE(bridge.bridge.completion);
    EXPECT_TRUE(bridge.controller.protocol_sanitize);
    EXPECT_EQ(bridge.controller.protocol_return_status, -1);
    EXPECT_EQ(host.drives[1].bus, 17u);
    // Windows PE runs from its RAM disk at X: unless the host says otherwise.
    for (const char* dir : {"", R"("windows_dir": "C:\\WIN", )"}) {
        ASSERT_TRUE(parse_host(std::string(R"({"winpe": true, )") + dir + R"("drives": []})", "h",
                               &host, &error))
            << error;
        EXPECT_TRUE(host.winpe);
        EXPECT_EQ(host.windows_dir, *dir ? "C:\\WIN" : "X:\\Windows");
        EXPECT_EQ(host.ram_disk_system, !*dir);
    }
    for (const char* path : {"jmicron", "asmedia", "asmedia-legacy", "realtek"}) {
        ASSERT_TRUE(
            parse_host(std::string(R"({"drives": [{"number": 0, "path": ")") + path + "\"}]}", "h",
                       &host, &error));
        EXPECT_EQ(host.drives[0].bus, 7u) << path;
    }
    for (const char* path : {"inbox", "ofa", "none"}) {
        ASSERT_TRUE(
            parse_host(std::string(R"({"drives": [{"number": 0, "path": ")") + path + "\"}]}", "h",
                       &host, &error));
        EXPECT_EQ(host.drives[0].bus, 17u) << path;
    }
}

TEST_F(SimHost, DefaultHostHasOneDriveOfEveryKind) {
    HostConfig host;
    std::string error;
    ASSERT_TRUE(parse_host(sim_default_host_json(), "<default>", &host, &error)) << error;
    const char* paths[] = {"inbox",          "ofa",     "jmicron", "asmedia",
                           "asmedia-legacy", "realtek", "none"};
    ASSERT_EQ(host.drives.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
        const DriveConfig& d = host.drives[i];
        EXPECT_EQ(d.number, i);
        EXPECT_EQ(d.path, paths[i]);
        EXPECT_EQ(d.bus, i == 0 || i == 1 ? 17u : 7u) << paths[i];
        for (size_t j = 0; j < i; ++j) {
            EXPECT_NE(d.controller.model, host.drives[j].controller.model);
            EXPECT_NE(d.controller.serial, host.drives[j].controller.serial);
        }
    }
    EXPECT_EQ(host.drives[2].controller.lbads, (std::vector<uint8_t>{9, 12}));
    EXPECT_FALSE(host.drives[0].has_vendor);
}

// A host file in a temporary directory, removed at the end of the test.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string& text) {
        char name[] = "/tmp/veltrane-sim-XXXXXX";
        int fd = mkstemp(name);
        path = name;
        FILE* f = fdopen(fd, "w");
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    ~TempFile() { std::remove(path.c_str()); }
};

TEST_F(SimHost, FirstDeviceOperationLoadsTheHostNamedByTheEnvironment) {
    TempFile file(R"({"tick_start": 77, "drives": [{"number": 9, "path": "none"}]})");
    setenv("VELTRANE_SIM_HOST", file.path.c_str(), 1);
    EXPECT_EQ(tick_ms(), 77u);
    HANDLE h = open_device("\\\\.\\PhysicalDrive9", 0, 128);
    unsetenv("VELTRANE_SIM_HOST");
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    close_device(h);
}

TEST_F(SimHost, WithoutEnvironmentTheDefaultHostAnswers) {
    unsetenv("VELTRANE_SIM_HOST");
    for (int n = 0; n <= 6; ++n) {
        std::string path = "\\\\.\\PhysicalDrive" + std::to_string(n);
        HANDLE h = open_device(path.c_str(), 3, 0);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << n;
        close_device(h);
    }
    EXPECT_EQ(open_device("\\\\.\\PhysicalDrive7", 3, 0), INVALID_HANDLE_VALUE);
}

TEST_F(SimHost, InvalidHostFileEndsTheProcessWithStatus2) {
    TempFile file(R"({"drives": [{"number": 2, "path": "foo"}]})");
    std::string expected =
        "^veltrane: host file '" + file.path + "': drive 2: unknown path \"foo\"\n$";
    EXPECT_EXIT(
        {
            setenv("VELTRANE_SIM_HOST", file.path.c_str(), 1);
            os_version(nullptr);
        },
        ::testing::ExitedWithCode(2), expected);
    EXPECT_EXIT(
        {
            setenv("VELTRANE_SIM_HOST", "/nonexistent/h.json", 1);
            tick_ms();
        },
        ::testing::ExitedWithCode(2),
        "^veltrane: host file '/nonexistent/h.json': cannot read: No such file or directory\n$");
    EXPECT_EXIT(
        {
            unsetenv("VELTRANE_SIM_HOST");
            setenv("VELTRANE_SIM_TRACE", "/nonexistent/trace.jsonl", 1);
            open_device("\\\\.\\PhysicalDrive0", 3, 0);
        },
        ::testing::ExitedWithCode(2),
        "^veltrane: trace file '/nonexistent/trace.jsonl': cannot open: No such file or "
        "directory\n$");
}

} // namespace
