// Drives that are not on USB: the inbox driver's query, then the OFA miniport
// on the SCSI port; the run as the operator sees it, the log, and the
// requests each path sends.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dialogue/dialogue.h"
#include "dialogue/scope.h"
#include "nvme/completion.h"
#include "transport/transport.h"
#include "platform/wire.h"
#include "sim/model.h"
#include "sim/sim.h"
#include "sim_support.h"
#include "support.h"
#include "transport/driver/ofa.h"

std::unique_ptr<Model> make_ofa_model();
std::unique_ptr<Model> make_inbox_model();

namespace {

const std::string kIdentity = "Model   : Simulated NVMe                          \n"
                              "Fw      : 1.0     \n";
const std::string kSerial = "S/N     : SIM00000001         \n";

std::string ofa_host(const std::string& extra = "") {
    return drive_host(1, "ofa", R"(, "port": 4)" + extra);
}

// The status line of a completion entry with `dword3`.
std::string status_line(uint32_t dword3) {
    uint8_t completion[16];
    std::memset(completion, 0, sizeof completion);
    put_le32(completion, 12, dword3);
    testing::internal::CaptureStdout();
    print_completion_status(completion);
    return testing::internal::GetCapturedStdout();
}

uint32_t status_dword(uint32_t sct, uint32_t sc) {
    return sct << 25 | sc << 17;
}

// The OFA driver in front of a controller that completes every command with
// `status` ((SCT << 8) | SC) while still returning its data.
class FailingOfa : public Model {
  public:
    explicit FailingOfa(uint32_t status) : status_(status) {}
    bool control(Drive& drive, bool port, const Request& request, Reply* reply) override {
        const bool mine = inner_->control(drive, port, request, reply);
        if (mine && reply->ok)
            put_le32(reply->out.data(), 128, get_le32(reply->out.data(), 128) | status_ << 17);
        return mine;
    }

  private:
    std::unique_ptr<Model> inner_ = make_ofa_model();
    uint32_t status_;
};

// The inbox driver with every reply it gives changed by `patch`.
class PatchedInbox : public Model {
  public:
    explicit PatchedInbox(std::function<void(std::vector<uint8_t>&)> patch)
        : patch_(std::move(patch)) {}
    bool control(Drive& drive, bool port, const Request& request, Reply* reply) override {
        const bool mine = inner_->control(drive, port, request, reply);
        if (mine && reply->ok)
            patch_(reply->out);
        return mine;
    }

  private:
    std::unique_ptr<Model> inner_ = make_inbox_model();
    std::function<void(std::vector<uint8_t>&)> patch_;
};

} // namespace

TEST(DriverPaths, OfaDriveIdentifiedAndFormattedThroughItsPort) {
    const RunResult run = run_dialogue(ofa_host(), {"1Y", "1"});
    const std::string tail = "Size    : 953869 MB\nLBA Size: 512\n"
                             "LBA fmt list:\n##  LBAsize\n 0+  512\n 1  4096\n"
                             "Change LBA data size format (512->4096)\n"
                             "Selected SES action: 1 - User Data Erase\n"
                             "Erased [1500 ms]!\n" +
                             VERIFIED;
    // The inbox query is tried first and fails on this drive (console only).
    EXPECT_EQ(run.out, BANNER +
                           "Drive   : 1(NVME)\nScsi    : 4\nIOCtl: ID failed 0x32!\n"
                           "Driver  : OFA\n" +
                           kIdentity + kSerial + with_note(tail));
    EXPECT_EQ(run.log,
              LOG_HEAD + "Drive   : 1(NVME)\nScsi    : 4\nDriver  : OFA\n" + kIdentity + tail);

    // Identify Controller, Identify Namespace, Format NVM: all on the port,
    // the format alone with the long timeout.
    const auto miniport = ioctls_with_code(run.trace, CODE_MINIPORT);
    ASSERT_EQ(miniport.size(), 3u);
    const uint32_t timeouts[3] = {5, 5, 300};
    for (size_t i = 0; i < miniport.size(); ++i) {
        EXPECT_EQ(miniport[i].at("path"), "\\\\.\\SCSI4:");
        EXPECT_TRUE(miniport[i].at("ok").get<bool>());
        EXPECT_EQ(get_le32(trace_input(miniport[i]).data(), 12), timeouts[i]);
    }
    const std::vector<uint8_t> format = trace_input(miniport[2]);
    ASSERT_EQ(format.size(), 152u);
    EXPECT_EQ(format[52], 0x80);
    EXPECT_EQ(get_le32(format.data(), 92), 0x201u);
    EXPECT_TRUE(ioctls_with_code(run.trace, CODE_PASS_THROUGH).empty());
    EXPECT_TRUE(handles_balanced(run.trace));
    uint32_t flbas = 0;
    uint64_t nsze = 0;
    ASSERT_TRUE(sim_namespace(1, &flbas, &nsze));
    EXPECT_EQ(flbas, 1u);
}

TEST(DriverPaths, OfaFormatsRejectedAreErrorsAndTimedOutAreDoubtful) {
    // A forced status, an error; a format that outlasts the request's 300 s,
    // doubtful.
    struct Case {
        const char* extra;
        std::vector<std::string> args;
        std::string console;
        std::string logged;
    } cases[] = {
        {R"(, "controller": {"format_status": 266})",
         {"1Y"},
         "Selected SES action: 1 - User Data Erase\nNVME status: SC: 0x0A, SCT: 1\n"
         "Erase error [1500 ms]!\n",
         "Selected SES action: 1 - User Data Erase\nErase error [1500 ms]!\n"},
        {R"(, "controller": {"format_ms": 300001})",
         {"1Y"},
         "IOCtl: NVME_OF failed 0x79!\nPossible Erased [300000 ms], re-plug drive!\n" + VERIFIED,
         "\nPossible Erased [300000 ms], re-plug drive!\n" + VERIFIED},
    };
    for (const Case& c : cases) {
        const RunResult run = run_dialogue(ofa_host(c.extra), c.args);
        EXPECT_TRUE(ends_with(run.out, c.console)) << c.extra << "\n" << run.out;
        EXPECT_TRUE(ends_with(run.log, c.logged)) << c.extra << "\n" << run.log;
        EXPECT_EQ(run.log.find("NVME status"), std::string::npos);
        EXPECT_EQ(run.log.find("IOCtl"), std::string::npos);
        EXPECT_TRUE(handles_balanced(run.trace));
    }
}

TEST(DriverPaths, InboxDriveIsShownThenRefused) {
    const RunResult run = run_dialogue(host_with(R"([{"number": 0, "path": "inbox"}])"), {"0YN"});
    const std::string body = "Drive   : 0(NVME)\nScsi    : 0\nDriver  : W10\n" + kIdentity +
                             kSerial + "Error - possible incompatible nvme driver\n";
    // On the console only: the driver can sanitize the drive.
    EXPECT_EQ(run.out,
              BANNER + body + "Sanitize is possible through this driver: run with S (e.g. 0S)\n");
    EXPECT_EQ(run.log, LOG_HEAD + body);

    // The descriptor query, the address, the one identify property query:
    // no OFA probe, no namespace command, no format.
    const auto ioctls = trace_ops(drive_trace(run.trace), "ioctl");
    ASSERT_EQ(ioctls.size(), 3u);
    const auto queries = ioctls_with_code(run.trace, CODE_QUERY_PROPERTY);
    ASSERT_EQ(queries.size(), 2u);
    EXPECT_EQ(get_le32(trace_input(queries[1]).data(), 0), 49u);
    EXPECT_TRUE(queries[1].at("ok").get<bool>());
    EXPECT_TRUE(ioctls_with_code(run.trace, CODE_MINIPORT).empty());
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(DriverPaths, InboxAnswerCountsWhenItsIdentifyDataAreNotAllZero) {
    // The descriptor ahead of the data is never zero: the data alone decide,
    // from their first byte to their last, however their bytes add up.
    const std::vector<uint32_t> cases[] = {{}, {48}, {4143}, {48, 4143}};
    for (const std::vector<uint32_t>& set : cases) {
        use_host(drive_host(0, "inbox"));
        // Identify data (bytes 48..4143 of the reply) zero but for 0x80 at
        // the reply's bytes `set`.
        ASSERT_TRUE(
            sim_replace_model(0, std::make_unique<PatchedInbox>([&](std::vector<uint8_t>& out) {
                                  std::memset(out.data() + 48, 0, 4096);
                                  for (uint32_t at : set)
                                      out[at] = 0x80;
                              })));
        HANDLE disk = open_device("\\\\.\\PhysicalDrive0", 0, FILE_ATTRIBUTE_NORMAL);
        std::vector<uint8_t> identify(4096, 0xA5);
        DriveState drive = drive_on(disk);
        EXPECT_EQ(inbox_identify_controller(&drive, identify.data()), set.empty() ? 0 : 1)
            << set.size();
        close_device(disk);
        std::vector<uint8_t> expected(4096, 0xA5);
        if (!set.empty()) {
            expected.assign(4096, 0);
            for (uint32_t at : set)
                expected[at - 48] = 0x80;
        }
        EXPECT_EQ(identify, expected) << set.size();
    }
    sim_reset();
}

TEST(DriverPaths, InboxLogCountsOnlyBehindADescriptorOfVersionAndSize48) {
    const struct {
        uint32_t at;
        uint8_t value;
        int read;
        uint8_t sstat; // the log's byte 2 as the caller receives it
    } cases[] = {{0, 48, 1, 0}, {0, 40, 0, 0xA5}, {4, 49, 0, 0xA5}, {48 + 2, 7, 1, 7}};
    for (const auto& c : cases) {
        use_host(drive_host(0, "inbox"));
        // One byte of every reply's protocol data descriptor changed.
        ASSERT_TRUE(
            sim_replace_model(0, std::make_unique<PatchedInbox>([&](std::vector<uint8_t>& out) {
                                  if (out.size() > c.at)
                                      out[c.at] = c.value;
                              })));
        HANDLE disk = open_device("\\\\.\\PhysicalDrive0", 0, FILE_ATTRIBUTE_NORMAL);
        std::vector<uint8_t> log(512, 0xA5);
        testing::internal::CaptureStdout();
        DriveState drive = drive_on(disk);
        EXPECT_EQ(inbox_sanitize_log(&drive, log.data()), c.read) << c.at;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  c.read ? "" : "IOCtl: LOG returned no log data!\n");
        EXPECT_EQ(log[2], c.sstat) << c.at;
        close_device(disk);
    }
    sim_reset();
}

TEST(DriverPaths, DriveThatAnswersNeitherDriver) {
    for (const char* drive : {R"([{"number": 2, "path": "jmicron", "bus": 17}])",
                              R"([{"number": 2, "path": "none"}])"}) {
        const RunResult run = run_dialogue(host_with(drive), {"2Y"});
        EXPECT_EQ(run.out, BANNER + "Drive   : 2(NVME)\nScsi    : 2\nIOCtl: ID failed 0x32!\n"
                                    "IOCtl: NVME_OF failed 0x1!\nIdentify error!\n")
            << drive;
        EXPECT_EQ(run.log, LOG_HEAD + "Drive   : 2(NVME)\nScsi    : 2\n");
        EXPECT_TRUE(ioctls_with_code(run.trace, CODE_PASS_THROUGH).empty()) << drive;
        EXPECT_EQ(ioctls_with_code(run.trace, CODE_MINIPORT).size(), 1u);
        EXPECT_TRUE(handles_balanced(run.trace));
    }
}

TEST(DriverPaths, AddressQueryAndPortOpenFailures) {
    const RunResult no_address = run_dialogue(ofa_host(R"(, "address_error": 1117)"), {"1"});
    EXPECT_TRUE(ends_with(no_address.out, "Drive   : 1(NVME)\nIOCTL: Error scsi get address\n"
                                          "\nPress any key to exit\n"))
        << no_address.out;
    EXPECT_TRUE(ends_with(no_address.log, "Drive   : 1(NVME)\nIOCTL: Error scsi get address\n"));
    EXPECT_EQ(trace_ops(drive_trace(no_address.trace), "open").size(),
              2u); // bus query, disk; no port
    EXPECT_TRUE(handles_balanced(no_address.trace));

    const RunResult no_port = run_dialogue(ofa_host(R"(, "port_open_error": 5)"), {"1Y"});
    EXPECT_TRUE(ends_with(no_port.out, "Scsi    : 4\nError open scsi device\n")) << no_port.out;
    EXPECT_TRUE(ends_with(no_port.log, "Drive   : 1(NVME)\nScsi    : 4\n")) << no_port.log;
    const auto opens = trace_ops(drive_trace(no_port.trace), "open");
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[2].at("path"), "\\\\.\\SCSI4:");
    EXPECT_EQ(opens[2].at("handle"), -1);
    EXPECT_EQ(trace_ops(drive_trace(no_port.trace), "ioctl").size(),
              2u); // nothing after the address
    EXPECT_TRUE(handles_balanced(no_port.trace));
}

TEST(DriverPaths, StatusLineWheneverScOrSctIsSet) {
    EXPECT_EQ(status_line(0), "");
    // Identifier, phase and the top four bits are not status.
    EXPECT_EQ(status_line(0xF001FFFFu), "");
    EXPECT_EQ(status_line(status_dword(0, 0x02)), "NVME status: SC: 0x02, SCT: 0\n");
    EXPECT_EQ(status_line(status_dword(1, 0x0A)), "NVME status: SC: 0x0A, SCT: 1\n");
    EXPECT_EQ(status_line(status_dword(1, 0x0B)), "NVME status: SC: 0x0B, SCT: 1\n");
    EXPECT_EQ(status_line(status_dword(2, 0x06)), "NVME status: SC: 0x06, SCT: 2\n");
    EXPECT_EQ(status_line(status_dword(7, 0xFF) | 1u << 16), "NVME status: SC: 0xFF, SCT: 7\n");
    EXPECT_EQ(status_line(status_dword(1, 0)), "NVME status: SC: 0x00, SCT: 1\n");
}

TEST(DriverPaths, CommandsCompletedWithAnErrorFail) {
    use_host(ofa_host());
    HANDLE port = open_device("\\\\.\\SCSI4:", 0, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    // CNS 2 is an invalid field: the call is accepted, the command failed,
    // and the caller's buffer keeps what it held.
    AdminCommand command = identify_controller_command();
    command.cdw10 = 2;
    std::vector<uint8_t> buffer(4096, 0xAA);
    testing::internal::CaptureStdout();
    DriveState on_port = drive_on(port);
    EXPECT_EQ(ofa_passthrough(&on_port, buffer.data(), 4096, DIR_FROM_DEVICE, &command), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "NVME status: SC: 0x02, SCT: 0\n");
    EXPECT_EQ(buffer, std::vector<uint8_t>(4096, 0xAA));
    close_device(port);

    // A probe whose Identify comes back with data and an error status finds
    // nothing, and detection ends without a driver.
    use_host(ofa_host());
    ASSERT_TRUE(sim_replace_model(1, std::make_unique<FailingOfa>(0x006)));
    HANDLE disk = open_device("\\\\.\\PhysicalDrive1", 0, FILE_ATTRIBUTE_NORMAL);
    port = open_device("\\\\.\\SCSI4:", 0, FILE_ATTRIBUTE_NORMAL);
    uint8_t identify[4096];
    std::memset(identify, 0, sizeof identify);
    DriveState drive = drive_on(disk);
    drive.port = port;
    EXPECT_EQ(probe_ofa(&drive, identify), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(detect_transport(&drive, identify, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "IOCtl: ID failed 0x32!\nNVME status: SC: 0x06, SCT: 0\nIdentify error!\n");
    EXPECT_EQ(drive.transport, TRANSPORT_NONE);
    close_device(disk);
    close_device(port);
    EXPECT_EQ(sim_open_handles(), 0);
    sim_reset();
}

TEST(DriverPaths, TwoDrivesOpenAtOnceEachKeepTheirOwnPath) {
    // An OFA drive whose controller also shows as drives 5 and 7 (Luns 1
    // and 2), and a JMicron drive open beside it, as the guards open disks
    // while the chosen one is open.
    use_host(R"({"drives": [{"number": 2, "path": "jmicron"},
      {"number": 5, "path": "ofa", "port": 6, "lun": 1}, {"number": 6, "path": "ofa", "port": 6},
      {"number": 7, "path": "ofa", "port": 6, "lun": 2}]})");
    static RunResources run;
    memset(&run, 0, sizeof run);
    drive_state_init(&run.drive, 6);
    run.drive.disk = open_device("\\\\.\\PhysicalDrive6", 0, FILE_ATTRIBUTE_NORMAL);
    run.drive.port = open_device("\\\\.\\SCSI6:", 0, FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(device_control(run.drive.disk, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, run.address, 8));
    DriveState usb;
    drive_state_init(&usb, 2);
    usb.disk = open_device("\\\\.\\PhysicalDrive2", 0, FILE_ATTRIBUTE_NORMAL);
    usb.is_usb = 1;
    uint8_t identify[4096], usb_identify[4096], ns[4096];
    testing::internal::CaptureStdout();
    ASSERT_TRUE(detect_transport(&run.drive, identify, nullptr));
    ASSERT_TRUE(detect_transport(&usb, usb_identify, nullptr));
    // The sanitize reaches drives 5 and 7, recorded around the chosen one
    // with their namespaces; drive 2, open, is not asked.
    EXPECT_EQ(settle_scope(run, identify, sanitize_erase(0)), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "IOCtl: ID failed 0x32!\nDriver  : OFA\nBridge  : JMS\n"
              "Also erased: drive 5 (namespace 2)\nAlso erased: drive 7 (namespace 3)\n");
    EXPECT_EQ(run.record.nn.value, 3u);
    ASSERT_EQ(run.record.reach_count, 3u);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(run.record.reach[i].number << 8 | run.record.reach[i].namespace_id,
                  (std::vector<uint32_t>{0x502, 0x601, 0x703}[i]));

    // Each drive's requests go their own path with their own timeout: the
    // OFA format on the port with 300 s, the JMicron identify with 5 s.
    run.drive.timeout = ERASE_TIMEOUT_S;
    const size_t before = current_trace().size();
    EXPECT_TRUE(nvme_format(&run.drive, 1, 1, NO_PROTECTION));
    EXPECT_TRUE(nvme_identify_namespace(&usb, ns));
    std::vector<nlohmann::json> sent = current_trace();
    sent.erase(sent.begin(), sent.begin() + static_cast<long>(before));
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].at("path"), "\\\\.\\SCSI6:");
    const std::vector<uint8_t> format = trace_input(sent[0]);
    EXPECT_EQ(get_le32(format.data(), 12) << 8 | format[52], 300u << 8 | 0x80);
    EXPECT_EQ(get_le32(format.data(), 92), 0x201u);
    EXPECT_EQ(sent[1].at("path"), "\\\\.\\PhysicalDrive2");
    const std::vector<uint8_t> command = trace_input(sent[1]);
    EXPECT_EQ(command[spt().cdb] << 8 | command[spt().cdb + 1], 0xA180);
    EXPECT_EQ(get_le32(command.data(), 16) << 8 | command[spt().data + 8], 5u << 8 | 0x06);
    EXPECT_EQ(run.drive.transport << 8 | usb.transport, TRANSPORT_OFA << 8 | TRANSPORT_JMS);
    close_device(usb.disk);
    close_device(run.drive.port);
    close_device(run.drive.disk);
    EXPECT_EQ(sim_open_handles(), 0);
    sim_reset();
}
