// ASMedia and Realtek bridges from detection to erase, in-process: the probe
// order seen in the trace, the old-firmware refusal, a bridge that answers
// only zeros, formats that succeed and formats that fail in either phase.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "transport/transport.h"
#include "platform/device.h"
#include "platform/wire.h"
#include "sim/sim.h"
#include "sim_support.h"
#include "support.h"

namespace {

const std::string kOldFirmware =
    "ASM2362 with old firmware is not supported, need to update firmware to 19xxxx\n";

// One USB drive behind `path`, with extra controller fields and drive fields.
std::string bridge_host(int number, const std::string& path, const std::string& controller = "",
                        const std::string& extra = "") {
    return drive_host(number, path, ", \"controller\": {" + controller + "}" + extra);
}

bool has_realtek_opcode(const std::vector<uint8_t>& opcodes) {
    for (uint8_t op : opcodes)
        if (op == 0xE4 || op == 0xE5)
            return true;
    return false;
}

// The quiet erase from 512 to 4096 of the default controller, as printed
// after the bridge line.
const std::string kIdentityAndErase = "Model   : Simulated NVMe                          \n"
                                      "Fw      : 1.0     \n"
                                      "S/N     : SIM00000001         \n"
                                      "Size    : 953869 MB\n"
                                      "LBA Size: 512\n"
                                      "LBA fmt list:\n##  LBAsize\n"
                                      " 0+  512\n"
                                      " 1  4096\n"
                                      "Change LBA data size format (512->4096)\n"
                                      "Selected SES action: 1 - User Data Erase\n";

std::string without_serial(std::string text) {
    const size_t at = text.find("S/N     : ");
    return text.erase(at, text.find('\n', at) + 1 - at);
}

} // namespace

TEST(UsbBridges, AsmediaDriveIsDetectedIdentifiedAndErased) {
    const RunResult run = run_dialogue(bridge_host(3, "asmedia"), {"3Y", "1"});
    const std::string body =
        "Drive   : 3(USB)\nBridge  : ASM\n" + kIdentityAndErase + "Erased [1500 ms]!\n" + VERIFIED;
    EXPECT_EQ(run.out, BANNER + with_note(body));
    EXPECT_EQ(run.log, LOG_HEAD + without_serial(body));
    EXPECT_EQ(flbas_of(3), 1u);
    EXPECT_TRUE(handles_balanced(run.trace));

    // JMicron probe first (its command phase refused), then the Id/Smart
    // probe, the tunnel's probe, Identify Namespace, Format NVM and the
    // completion query; never a Realtek CDB.
    const std::vector<uint8_t> opcodes = scsi_opcodes(run.trace);
    EXPECT_EQ(opcodes,
              (std::vector<uint8_t>{0xA1, 0xE6, 0xEA, 0xEB, 0xEA, 0xEB, 0xEA, 0xEB, 0xEB}));
    EXPECT_FALSE(has_realtek_opcode(opcodes));
    // Format NVM: 5 s in the command phase, the drive's timeout (300 s) in the data
    // phase, which runs it.
    const auto inputs = scsi_inputs(run.trace);
    ASSERT_EQ(inputs.size(), 9u);
    EXPECT_EQ(inputs[6][spt().data], 0x80);
    EXPECT_EQ(get_le32(inputs[6].data(), 16), 5u);
    EXPECT_EQ(inputs[7].size(), spt().data);
    EXPECT_EQ(get_le32(inputs[7].data(), 16), 300u);
    EXPECT_EQ(inputs[8], asm_completion_query());
    for (const nlohmann::json& line : trace_ops(drive_trace(run.trace), "ioctl"))
        EXPECT_TRUE(line.at("ok").get<bool>());
}

TEST(UsbBridges, RealtekDriveIsDetectedIdentifiedAndErased) {
    const RunResult run = run_dialogue(bridge_host(5, "realtek"), {"5Y", "1"});
    const std::string body =
        "Drive   : 5(USB)\nBridge  : RTL\n" + kIdentityAndErase + "Erased [1500 ms]!\n" + VERIFIED;
    EXPECT_EQ(run.out, BANNER + with_note(body));
    EXPECT_EQ(run.log, LOG_HEAD + without_serial(body));
    EXPECT_EQ(flbas_of(5), 1u);
    EXPECT_TRUE(handles_balanced(run.trace));

    // JMicron, then the ASMedia Id/Smart probe, both refused; then Realtek
    // for the probe, Identify Namespace, Format NVM and the completion query.
    EXPECT_EQ(scsi_opcodes(run.trace),
              (std::vector<uint8_t>{0xA1, 0xE6, 0xE5, 0xE4, 0xE5, 0xE4, 0xE5, 0xE5, 0xE4}));
    const auto inputs = scsi_inputs(run.trace);
    ASSERT_EQ(inputs.size(), 9u);
    // Identify Namespace moved its 4096 bytes in the data phase.
    EXPECT_EQ(inputs[5].size(), spt().data + 4096);
    EXPECT_EQ(get_le32(inputs[5].data(), 12), 4096u);
    // Format NVM: 2 s in the command phase, the drive's timeout (300 s) in the data
    // phase, which runs it.
    EXPECT_EQ(get_le32(inputs[6].data(), 16), 2u);
    EXPECT_EQ(get_le32(inputs[7].data(), 16), 300u);
    EXPECT_EQ(inputs[7].size(), spt().data);
    EXPECT_EQ(inputs[8], rtl_completion_query());
}

TEST(UsbBridges, OldAsmediaFirmwareIsRefusedWithoutARealtekProbe) {
    const RunResult run = run_dialogue(bridge_host(4, "asmedia-legacy"), {"4Y"});
    EXPECT_EQ(run.out, BANNER + "Drive   : 4(USB)\n" + kOldFirmware + "Identify error!\n");
    EXPECT_EQ(run.log, LOG_HEAD + "Drive   : 4(USB)\n" + kOldFirmware);
    const std::vector<uint8_t> opcodes = scsi_opcodes(run.trace);
    EXPECT_EQ(opcodes, (std::vector<uint8_t>{0xA1, 0xE6, 0xEA}));
    EXPECT_FALSE(has_realtek_opcode(opcodes));
    EXPECT_TRUE(handles_balanced(run.trace));
    EXPECT_EQ(flbas_of(4), 0u);
}

TEST(UsbBridges, OldFirmwareLineGoesToTheConsoleAloneWithoutALog) {
    const RunResult run =
        run_dialogue(bridge_host(4, "asmedia-legacy"), {"4Y"}, "", LOG_AS_DIRECTORY);
    EXPECT_EQ(run.out, BANNER + "Create Log File Error\nDrive   : 4(USB)\n" + kOldFirmware +
                           "Identify error!\n");
}

TEST(UsbBridges, BridgeAnsweringOnlyZerosFailsEveryProbeInTurn) {
    const RunResult run = run_dialogue(bridge_host(6, "none", "", ", \"bus\": 7"), {"6Y"});
    EXPECT_EQ(run.out, BANNER + "Drive   : 6(USB)\nIdentify error!\n");
    EXPECT_EQ(run.log, LOG_HEAD + "Drive   : 6(USB)\n");
    // Every request is completed, with CHECK CONDITION: each probe ends at its
    // first request, without a line.
    EXPECT_EQ(scsi_opcodes(run.trace), (std::vector<uint8_t>{0xA1, 0xE6, 0xE5}));
    for (const nlohmann::json& line : trace_ops(drive_trace(run.trace), "ioctl"))
        EXPECT_TRUE(line.at("ok").get<bool>());
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(UsbBridges, TheFormatsDataPhaseWaitsForTheFormat) {
    // Within the 300 s every bridge reports the erase; beyond them the data
    // phase gives up (the controller still formats): the format may have run.
    struct Case {
        const char* path;
        uint32_t format_ms;
        const char* message;
        std::string outcome;
    } cases[] = {
        {"jmicron", 5000, "", "Erased [5000 ms]!\n" + VERIFIED},
        {"asmedia", 5000, "", "Erased [5000 ms]!\n" + VERIFIED},
        {"realtek", 5000, "", "Erased [5000 ms]!\n" + VERIFIED},
        // The format ran on: the check decides.
        {"jmicron", 300001, "IOCtl: phase2 failed 0x79!\n",
         "Possible Erased [300000 ms], re-plug drive!\n" + VERIFIED},
        {"asmedia", 300001, "IOCtl: asm data exchange[2] failed 0x79!\n",
         "Possible Erased [300000 ms], re-plug drive!\n" + VERIFIED},
        {"realtek", 300001, "IOCtl: rtl data exchange[2] 1 failed 0x79!\n",
         "Possible Erased [300000 ms], re-plug drive!\n" + VERIFIED},
    };
    for (const Case& k : cases) {
        const std::string ms = std::to_string(k.format_ms);
        const RunResult run =
            run_dialogue(bridge_host(2, k.path, "\"format_ms\": " + ms), {"2Y", "1"});
        const std::string choice = "Selected SES action: 1 - User Data Erase\n";
        EXPECT_TRUE(ends_with(run.out, choice + k.message + k.outcome)) << k.path << ms << "\n"
                                                                        << run.out;
        EXPECT_TRUE(ends_with(run.log, choice + k.outcome)) << k.path << ms << "\n" << run.log;
        EXPECT_EQ(flbas_of(2), 1u) << k.path << ms;
        EXPECT_EQ(run.status, 0) << k.path << ms; // verified, however doubtful the request
        EXPECT_TRUE(handles_balanced(run.trace));
    }
}

TEST(UsbBridges, FailedFormatRequestsGiveTheirMessageAndTheirOutcome) {
    // Requests to the drive. JMicron: 1 bus query, 2-3 probe, 4-5 Identify
    // Namespace, 6 the layout, 7-8 Format NVM. ASMedia and Realtek: 1 bus
    // query, 2 JMicron probe, 3 Id/Smart probe, 4-5 the bridge's probe, 6-7
    // Identify Namespace, 8 the layout, 9-10 Format NVM. Only a JMicron data phase without an
    // answer leaves the format possibly done.
    struct Case {
        const char* path;
        int nth;
        const char* message;
        std::string outcome;
        size_t scsi_requests;
    } cases[] = {
        {"jmicron", 7, "IOCtl: send failed 0x1f!\n", "Erase error [0 ms]!\n", 5},
        {"jmicron", 8, "IOCtl: phase2 failed 0x1f!\n",
         "Possible Erased [0 ms], re-plug drive!\n" + STALE_512, 6},
        {"asmedia", 9, "IOCtl: asm cmd send[1] failed 0x1f!\n", "Erase error [0 ms]!\n", 7},
        {"asmedia", 10, "IOCtl: asm data exchange[2] failed 0x1f!\n", "Erase error [0 ms]!\n", 8},
        {"realtek", 9, "IOCtl: rtl cmd send[1] failed 0x1f!\n", "Erase error [0 ms]!\n", 7},
        {"realtek", 10, "IOCtl: rtl data exchange[2] 1 failed 0x1f!\n", "Erase error [0 ms]!\n", 8},
    };
    for (const Case& k : cases) {
        const std::string fail =
            ", \"fail\": [{\"nth\": " + std::to_string(k.nth) + ", \"error\": 31}]";
        const RunResult run = run_dialogue(bridge_host(2, k.path, "", fail), {"2Y", "1"});
        EXPECT_TRUE(ends_with(run.out, std::string("Selected SES action: 1 - User Data Erase\n") +
                                           k.message + k.outcome))
            << k.path << k.nth << run.out;
        EXPECT_TRUE(ends_with(run.log, std::string("User Data Erase\n") + k.outcome));
        // A failed phase sends nothing after it: no data phase, no query.
        EXPECT_EQ(scsi_opcodes(run.trace).size(), k.scsi_requests) << k.path << k.nth;
        EXPECT_EQ(flbas_of(2), 0u);
        EXPECT_TRUE(handles_balanced(run.trace));
    }
}

TEST(UsbBridges, FormatTheControllerRejects) {
    // format_status 266 (SCT 1 / SC 0x0A). The bridge ends the data phase
    // with CHECK CONDITION; or it ends it GOOD and its completion query has
    // the controller's status; or, answering no query, it leaves only the
    // requests' word.
    const char* const paths[] = {"jmicron", "asmedia", "realtek"};
    struct Case {
        const char* bridge;
        const char* asm_line; // the line before the outcome, ASMedia
        const char* line;     // the same through JMicron and Realtek
        std::string outcome;
        bool queried;
    } cases[] = {
        {"", "IOCtl: SCSI status 0x02, sense 0/00/00!\n",
         "IOCtl: SCSI status 0x02, sense 4/44/00!\n", "Erase error [1500 ms]!\n", false},
        {R"(, "bridge": {"check_condition": false})", "NVME status: SC: 0x0A, SCT: 1\n",
         "NVME status: SC: 0x0A, SCT: 1\n", "Erase error [1500 ms]!\n", true},
        {R"(, "bridge": {"check_condition": false, "completion": false})", "", "",
         "Erased [1500 ms]!\n" + STALE_512, true},
    };
    for (const char* path : paths) {
        for (const Case& k : cases) {
            const bool asmedia = std::string(path) == "asmedia";
            const RunResult run =
                run_dialogue(bridge_host(2, path, "\"format_status\": 266", k.bridge), {"2Y", "1"});
            const std::string tail = std::string("Selected SES action: 1 - User Data Erase\n") +
                                     (asmedia ? k.asm_line : k.line) + k.outcome;
            EXPECT_TRUE(ends_with(run.out, tail)) << path << k.bridge << "\n" << run.out;
            EXPECT_TRUE(ends_with(
                run.log, std::string("Selected SES action: 1 - User Data Erase\n") + k.outcome))
                << path << k.bridge << "\n"
                << run.log;
            EXPECT_EQ(flbas_of(2), 0u);
            EXPECT_TRUE(handles_balanced(run.trace));
            // The query follows a data phase that ended GOOD, and only then.
            const auto inputs = scsi_inputs(run.trace);
            ASSERT_FALSE(inputs.empty());
            const std::vector<uint8_t> query = std::string(path) == "jmicron"
                                                   ? jms_completion_query()
                                               : asmedia ? asm_completion_query()
                                                         : rtl_completion_query();
            EXPECT_EQ(inputs.back() == query, k.queried) << path << k.bridge;
        }
    }
}

TEST(UsbBridges, EveryBridgeDeliversTheSame4096IdentifyBytes) {
    use_host(R"({"drives": [
      {"number": 2, "path": "jmicron", "controller": {"model": "Same", "serial": "S1"}},
      {"number": 3, "path": "asmedia", "controller": {"model": "Same", "serial": "S1"}},
      {"number": 4, "path": "asmedia-legacy", "controller": {"model": "Same", "serial": "S1"}},
      {"number": 5, "path": "realtek", "controller": {"model": "Same", "serial": "S1"}}]})");
    struct Case {
        const char* path;
        TransportCall transport;
    } cases[] = {
        {"\\\\.\\PhysicalDrive2", jms_passthrough},
        {"\\\\.\\PhysicalDrive3", asm_passthrough},
        {"\\\\.\\PhysicalDrive3", asm_legacy_passthrough},
        {"\\\\.\\PhysicalDrive4", asm_legacy_passthrough},
        {"\\\\.\\PhysicalDrive5", rtl_passthrough},
    };
    std::vector<uint8_t> reference;
    for (const Case& k : cases) {
        std::vector<uint8_t> buffer(4096, 0xFF);
        HANDLE h = open_device(k.path, 0, 128);
        DriveState drive = drive_on(h);
        const AdminCommand command = identify_controller_command();
        EXPECT_EQ(k.transport(&drive, buffer.data(), 4096, DIR_FROM_DEVICE, &command), 1) << k.path;
        close_device(h);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()) + 24, 4), "Same");
        EXPECT_EQ(get_le16(buffer.data(), 2048), 2500u) << k.path; // power state 0
        if (reference.empty())
            reference = buffer;
        EXPECT_EQ(buffer, reference) << k.path;
    }
    // Identify Namespace through the Realtek data phase, too.
    std::vector<uint8_t> ns(4096, 0xFF);
    HANDLE h = open_device("\\\\.\\PhysicalDrive5", 0, 128);
    DriveState drive = drive_on(h);
    const AdminCommand command = identify_namespace_command();
    EXPECT_EQ(rtl_passthrough(&drive, ns.data(), 4096, DIR_FROM_DEVICE, &command), 1);
    close_device(h);
    EXPECT_EQ(get_le64(ns.data(), 0), 1953525168u);
    EXPECT_EQ(ns[130], 9);
    EXPECT_EQ(ns[134], 12);
    EXPECT_EQ(ns[4095], 0);
    EXPECT_EQ(sim_open_handles(), 0);
}
