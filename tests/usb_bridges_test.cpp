// ASMedia and Realtek bridges from detection to erase, in-process: the probe
// order seen in the trace, the old-firmware refusal, a bridge that answers
// only zeros, formats that succeed and formats that fail in either phase.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "nvme/transport.h"
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
        "Drive   : 3(USB)\nBridge  : ASM\n" + kIdentityAndErase + "Erased [1500 ms]!\n";
    EXPECT_EQ(run.out, BANNER + body);
    EXPECT_EQ(run.log, LOG_HEAD + without_serial(body));
    EXPECT_EQ(flbas_of(3), 1u);
    EXPECT_TRUE(handles_balanced(run.trace));

    // JMicron probe first (both phases refused), then the Id/Smart probe,
    // the tunnel's probe, Identify Namespace and Format NVM; never a Realtek
    // CDB.
    const std::vector<uint8_t> opcodes = scsi_opcodes(run.trace);
    EXPECT_EQ(opcodes,
              (std::vector<uint8_t>{0xA1, 0xA1, 0xE6, 0xEA, 0xEB, 0xEA, 0xEB, 0xEA, 0xEB}));
    EXPECT_FALSE(has_realtek_opcode(opcodes));
    // Format NVM: 5 s in the command phase, 2 s in the data phase, whatever
    // g_timeout says (300).
    const auto inputs = scsi_inputs(run.trace);
    ASSERT_EQ(inputs.size(), 9u);
    EXPECT_EQ(inputs[7][68], 0x80);
    EXPECT_EQ(get_le32(inputs[7].data(), 16), 5u);
    EXPECT_EQ(inputs[8].size(), 68u);
    EXPECT_EQ(get_le32(inputs[8].data(), 16), 2u);
    for (const nlohmann::json& line : trace_ops(drive_trace(run.trace), "ioctl"))
        EXPECT_TRUE(line.at("ok").get<bool>());
}

TEST(UsbBridges, RealtekDriveIsDetectedIdentifiedAndErased) {
    const RunResult run = run_dialogue(bridge_host(5, "realtek"), {"5Y", "1"});
    const std::string body =
        "Drive   : 5(USB)\nBridge  : RTL\n" + kIdentityAndErase + "Erased [1500 ms]!\n";
    EXPECT_EQ(run.out, BANNER + body);
    EXPECT_EQ(run.log, LOG_HEAD + without_serial(body));
    EXPECT_EQ(flbas_of(5), 1u);
    EXPECT_TRUE(handles_balanced(run.trace));

    // JMicron, then the ASMedia Id/Smart probe, both answered with zeros;
    // then Realtek for the probe, Identify Namespace and Format NVM.
    EXPECT_EQ(scsi_opcodes(run.trace),
              (std::vector<uint8_t>{0xA1, 0xA1, 0xE6, 0xE5, 0xE4, 0xE5, 0xE4, 0xE5, 0xE5}));
    const auto inputs = scsi_inputs(run.trace);
    ASSERT_EQ(inputs.size(), 9u);
    // Identify Namespace moved its 4096 bytes in the data phase.
    EXPECT_EQ(inputs[6].size(), 4164u);
    EXPECT_EQ(get_le32(inputs[6].data(), 12), 4096u);
    // Format NVM: 2 s in both phases.
    EXPECT_EQ(get_le32(inputs[7].data(), 16), 2u);
    EXPECT_EQ(get_le32(inputs[8].data(), 16), 2u);
    EXPECT_EQ(inputs[8].size(), 68u);
}

TEST(UsbBridges, OldAsmediaFirmwareIsRefusedWithoutARealtekProbe) {
    const RunResult run = run_dialogue(bridge_host(4, "asmedia-legacy"), {"4Y"});
    EXPECT_EQ(run.out, BANNER + "Drive   : 4(USB)\n" + kOldFirmware + "Identify error!\n");
    EXPECT_EQ(run.log, LOG_HEAD + "Drive   : 4(USB)\n" + kOldFirmware);
    const std::vector<uint8_t> opcodes = scsi_opcodes(run.trace);
    EXPECT_EQ(opcodes, (std::vector<uint8_t>{0xA1, 0xA1, 0xE6, 0xEA, 0xEB}));
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
    // Every request is completed (with CHECK CONDITION and no data).
    EXPECT_EQ(scsi_opcodes(run.trace), (std::vector<uint8_t>{0xA1, 0xA1, 0xE6, 0xE5, 0xE4}));
    for (const nlohmann::json& line : trace_ops(drive_trace(run.trace), "ioctl"))
        EXPECT_TRUE(line.at("ok").get<bool>());
    EXPECT_TRUE(handles_balanced(run.trace));
}

TEST(UsbBridges, FormatLongerThanTheDataPhaseTimeoutIsAnEraseError) {
    struct Case {
        const char* path;
        const char* message;
    } cases[] = {
        {"asmedia", "IOCtl: asm data exchange[2] failed 0x79!\n"},
        {"realtek", "IOCtl: rtl data exchange[2] 1 failed 0x79!\n"},
    };
    for (const Case& k : cases) {
        const RunResult run =
            run_dialogue(bridge_host(2, k.path, "\"format_ms\": 5000"), {"2Y", "1"});
        // The data phase gives up after its 2 seconds; the controller still
        // formats.
        EXPECT_NE(run.out.find(std::string("Selected SES action: 1 - User Data Erase\n") +
                               k.message + "Erase error [2000 ms]!\n"),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.log.find("Selected SES action: 1 - User Data Erase\n"
                               "Erase error [2000 ms]!\n"),
                  std::string::npos)
            << k.path;
        EXPECT_EQ(run.log.find("IOCtl"), std::string::npos) << k.path;
        EXPECT_EQ(run.out.find("Possible Erased"), std::string::npos) << k.path;
        EXPECT_EQ(flbas_of(2), 1u) << k.path;
        EXPECT_TRUE(handles_balanced(run.trace));
        const nlohmann::json last = trace_ops(run.trace, "ioctl").back();
        EXPECT_FALSE(last.at("ok").get<bool>());
        EXPECT_EQ(last.at("error"), 121);
    }
}

TEST(UsbBridges, FormatWithinTheDataPhaseTimeoutSucceeds) {
    for (const char* path : {"asmedia", "realtek"}) {
        const RunResult run =
            run_dialogue(bridge_host(2, path, "\"format_ms\": 2000"), {"2Y", "1"});
        EXPECT_NE(run.out.find("Erased [2000 ms]!\n"), std::string::npos) << path << run.out;
    }
}

TEST(UsbBridges, FailedFormatPhasesGiveTheirMessageAndAnEraseError) {
    // Requests to the drive: 1 bus query; 2-3 JMicron probe; 4 Id/Smart
    // probe; 5-6 the bridge's probe; 7-8 Identify Namespace; 9-10 Format NVM.
    struct Case {
        const char* path;
        int nth;
        const char* message;
        size_t scsi_requests;
    } cases[] = {
        {"asmedia", 9, "IOCtl: asm cmd send[1] failed 0x1f!\n", 8},
        {"asmedia", 10, "IOCtl: asm data exchange[2] failed 0x1f!\n", 9},
        {"realtek", 9, "IOCtl: rtl cmd send[1] failed 0x1f!\n", 8},
        {"realtek", 10, "IOCtl: rtl data exchange[2] 1 failed 0x1f!\n", 9},
    };
    for (const Case& k : cases) {
        const std::string fail =
            ", \"fail\": [{\"nth\": " + std::to_string(k.nth) + ", \"error\": 31}]";
        const RunResult run = run_dialogue(bridge_host(2, k.path, "", fail), {"2Y", "1"});
        EXPECT_NE(run.out.find(std::string(k.message) + "Erase error [0 ms]!\n"), std::string::npos)
            << k.path << k.nth << run.out;
        EXPECT_NE(run.log.find("Erase error [0 ms]!\n"), std::string::npos);
        EXPECT_EQ(run.log.find("IOCtl"), std::string::npos);
        EXPECT_EQ(run.out.find("Possible Erased"), std::string::npos);
        // A failed command phase sends no data phase.
        EXPECT_EQ(scsi_opcodes(run.trace).size(), k.scsi_requests) << k.path << k.nth;
        EXPECT_EQ(flbas_of(2), 0u);
        EXPECT_TRUE(handles_balanced(run.trace));
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
        const AdminCommand command = identify_controller_command();
        EXPECT_EQ(k.transport(h, buffer.data(), 4096, DIR_FROM_DEVICE, &command), 1) << k.path;
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
    const AdminCommand command = identify_namespace_command();
    EXPECT_EQ(rtl_passthrough(h, ns.data(), 4096, DIR_FROM_DEVICE, &command), 1);
    close_device(h);
    EXPECT_EQ(get_le64(ns.data(), 0), 1953525168u);
    EXPECT_EQ(ns[130], 9);
    EXPECT_EQ(ns[134], 12);
    EXPECT_EQ(ns[4095], 0);
    EXPECT_EQ(sim_open_handles(), 0);
}
