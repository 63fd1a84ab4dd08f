// The bytes each transport hands to the device, read back from the
// simulator's trace: envelopes, command blocks, CDBs, request sizes. Each
// envelope is also checked against the simulator tests' builders, so that
// those tests drive exactly what the tool sends.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "transport/transport.h"
#include "platform/wire.h"
#include "sim_support.h"
#include "support.h"
#include "transport/driver/inbox.h"
#include "transport/driver/ofa.h"
#include "transport/usb/scsi_envelope.h"

namespace {

const char* const kHost = R"({"drives": [
  {"number": 2, "path": "jmicron"},
  {"number": 3, "path": "asmedia"},
  {"number": 5, "path": "realtek"},
  {"number": 6, "path": "none", "bus": 7},
  {"number": 1, "path": "ofa", "port": 4},
  {"number": 0, "path": "inbox"}
]})";

struct Sent {
    std::vector<std::vector<uint8_t>> inputs;
    int result = -1;
};

// Runs one transport call on a fresh host and returns the inputs it sent.
Sent send_through(TransportCall transport, const char* path, void* buffer, uint32_t length,
                  int direction, const AdminCommand& command) {
    use_host(kHost);
    HANDLE handle = open_device(path, 0, FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << path;
    Sent sent;
    sent.result = transport(handle, buffer, length, direction, &command);
    close_device(handle);
    for (const nlohmann::json& line : trace_ops(current_trace(), "ioctl")) {
        sent.inputs.push_back(trace_input(line));
        EXPECT_EQ(line.at("in_size"), line.at("out_size"));
    }
    return sent;
}

std::vector<uint8_t> head(const std::vector<uint8_t>& bytes, size_t count) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(count));
}

bool zero_from(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    for (size_t i = from; i < to && i < bytes.size(); ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

class Tunnels : public ::testing::Test {
  protected:
    void SetUp() override { g_timeout = 5; }
    void TearDown() override { g_timeout = 5; }
    uint8_t data[65536 + 16];
};

} // namespace

TEST_F(Tunnels, JmicronIdentifyControllerWorkedExample) {
    memset(data, 0, sizeof data);
    const Sent sent = send_through(jms_passthrough, "\\\\.\\PhysicalDrive2", data, 4096,
                                   DIR_FROM_DEVICE, identify_controller_command());
    ASSERT_EQ(sent.inputs.size(), 2u);
    const std::vector<uint8_t>& command = sent.inputs[0];
    ASSERT_EQ(command.size(), 580u);
    EXPECT_EQ(head(command, 44),
              hex_bytes("2C 00 00 00 00 00 0C 18 00 00 00 00 00 02 00 00 05 00 00 00 44 00 00 "
                        "00 2C 00 00 00 A1 80 00 00 02 00 00 00 00 00 00 00 00 00 00 00"));
    // The whole envelope as the simulator tests build it: "NVME", entry at 8.
    EXPECT_EQ(command, jms_command_phase(0x06, 0, 1));

    const std::vector<uint8_t>& phase2 = sent.inputs[1];
    ASSERT_EQ(phase2.size(), 4164u);
    EXPECT_EQ(head(phase2, 44),
              hex_bytes("2C 00 00 00 00 00 0C 18 01 00 00 00 00 10 00 00 05 00 00 00 44 00 00 "
                        "00 2C 00 00 00 A1 82 00 00 10 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(phase2, jms_envelope(0x82, SPT_IN, 4096, 5));
}

TEST_F(Tunnels, JmicronFormatWorkedExample) {
    g_timeout = 300;
    const Sent sent = send_through(jms_passthrough, "\\\\.\\PhysicalDrive2", nullptr, 0, DIR_NONE,
                                   format_command(1, 1));
    ASSERT_EQ(sent.inputs.size(), 2u);
    EXPECT_EQ(head(sent.inputs[0], 44),
              hex_bytes("2C 00 00 00 00 00 0C 18 00 00 00 00 00 02 00 00 2C 01 00 00 44 00 00 "
                        "00 2C 00 00 00 A1 80 00 00 02 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[0], jms_command_phase(0x80, 1, 0x201, 300));
    EXPECT_EQ(sent.inputs[1],
              hex_bytes("2C 00 00 00 00 00 0C 18 00 00 00 00 00 00 00 00 2C 01 00 00 44 00 00 00 "
                        "2C 00 00 00 A1 81 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
}

TEST_F(Tunnels, JmicronToDeviceDataOnlyInTheDataPhaseAndLengthInBytesThreeToFive) {
    for (uint32_t i = 0; i < 65536; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 1);
    AdminCommand command = identify_controller_command();
    command.cdw0 = 0x09;
    Sent sent =
        send_through(jms_passthrough, "\\\\.\\PhysicalDrive2", data, 16, DIR_TO_DEVICE, command);
    ASSERT_EQ(sent.inputs.size(), 2u);
    EXPECT_TRUE(zero_from(sent.inputs[0], 72 + 68, 580));
    const std::vector<uint8_t>& phase2 = sent.inputs[1];
    ASSERT_EQ(phase2.size(), 84u);
    EXPECT_EQ(phase2[29], 0x83);
    EXPECT_EQ(phase2[8], 0); // data out
    EXPECT_EQ(phase2[33], 0x10);
    EXPECT_EQ(phase2[32], 0x00);
    EXPECT_EQ(phase2[31], 0x00);
    EXPECT_EQ(std::vector<uint8_t>(phase2.begin() + 68, phase2.end()),
              std::vector<uint8_t>(data, data + 16));
    // The whole transfer length, so that 65536 is not sent as 0.
    sent =
        send_through(jms_passthrough, "\\\\.\\PhysicalDrive2", data, 65536, DIR_TO_DEVICE, command);
    ASSERT_EQ(sent.inputs.size(), 2u);
    ASSERT_EQ(sent.inputs[1].size(), 65604u);
    EXPECT_EQ(sent.inputs[1][31], 0x01);
    EXPECT_EQ(sent.inputs[1][32], 0x00);
    EXPECT_EQ(sent.inputs[1][33], 0x00);
}

TEST_F(Tunnels, EveryTunnelRefusesMoreThan65536BytesBeforeAnyRequest) {
    const TransportCall transports[] = {jms_passthrough, asm_passthrough, asm_legacy_passthrough,
                                        rtl_passthrough, ofa_passthrough};
    for (TransportCall transport : transports) {
        ::testing::internal::CaptureStdout();
        const Sent sent = send_through(transport, "\\\\.\\PhysicalDrive6", data, 65537,
                                       DIR_FROM_DEVICE, identify_controller_command());
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Max Size exceed(65537>65536)!\n");
        EXPECT_EQ(sent.result, 0);
        EXPECT_TRUE(sent.inputs.empty());
    }
}

TEST_F(Tunnels, AsmediaIdentifyControllerWorkedExample) {
    const Sent sent = send_through(asm_passthrough, "\\\\.\\PhysicalDrive3", data, 4096,
                                   DIR_FROM_DEVICE, identify_controller_command());
    ASSERT_EQ(sent.inputs.size(), 2u);
    ASSERT_EQ(sent.inputs[0].size(), 132u);
    EXPECT_EQ(head(sent.inputs[0], 44),
              hex_bytes("2C 00 00 00 00 00 10 00 00 00 00 00 40 00 00 00 05 00 00 00 44 00 00 "
                        "00 00 00 00 00 EA 5A 80 00 01 00 00 00 00 00 00 00 00 40 00 00"));
    EXPECT_EQ(sent.inputs[0], asm_command_phase(DIR_FROM_BYTE, 0x06, 0, 1));
    ASSERT_EQ(sent.inputs[1].size(), 4164u);
    EXPECT_EQ(head(sent.inputs[1], 44),
              hex_bytes("2C 00 00 00 00 00 10 00 01 00 00 00 00 10 00 00 02 00 00 00 44 00 00 "
                        "00 00 00 00 00 EB 5A 81 00 01 00 00 00 00 00 00 00 10 00 00 00"));
    EXPECT_EQ(sent.inputs[1], asm_read_phase());
}

TEST_F(Tunnels, AsmediaFormatWorkedExample) {
    g_timeout = 300; // the ASMedia envelopes keep their own timeouts
    const Sent sent = send_through(asm_passthrough, "\\\\.\\PhysicalDrive3", nullptr, 0, DIR_NONE,
                                   format_command(1, 1));
    ASSERT_EQ(sent.inputs.size(), 2u);
    EXPECT_EQ(head(sent.inputs[0], 44),
              hex_bytes("2C 00 00 00 00 00 10 00 00 00 00 00 40 00 00 00 05 00 00 00 44 00 00 "
                        "00 00 00 00 00 EA 5A 80 00 00 00 00 00 00 00 00 00 00 40 00 00"));
    EXPECT_EQ(sent.inputs[0], asm_command_phase(DIR_NONE_BYTE, 0x80, 1, 0x201));
    EXPECT_EQ(sent.inputs[1],
              hex_bytes("2C 00 00 00 00 00 10 00 02 00 00 00 00 00 00 00 02 00 00 00 44 00 00 "
                        "00 00 00 00 00 EB 5A 81 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[1], asm_no_data_phase());
}

TEST_F(Tunnels, AsmediaLengthsBeyondSixteenBitsUseBytesTenToThirteen) {
    const Sent sent = send_through(asm_passthrough, "\\\\.\\PhysicalDrive3", data, 65536,
                                   DIR_FROM_DEVICE, identify_controller_command());
    ASSERT_EQ(sent.inputs.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(sent.inputs[1].begin() + 38, sent.inputs[1].begin() + 42),
              hex_bytes("00 01 00 00"));
}

TEST_F(Tunnels, AsmediaIdSmartWorkedExampleAndItsRefusalToWrite) {
    AdminCommand command = identify_controller_command();
    command.nsid = 7;           // never sent
    command.cdw10 = 0x12345601; // only the low byte is sent
    const Sent sent = send_through(asm_legacy_passthrough, "\\\\.\\PhysicalDrive3", data, 4096,
                                   DIR_FROM_DEVICE, command);
    ASSERT_EQ(sent.inputs.size(), 1u);
    ASSERT_EQ(sent.inputs[0].size(), 4164u);
    EXPECT_EQ(head(sent.inputs[0], 44),
              hex_bytes("2C 00 00 00 00 00 10 18 01 00 00 00 00 10 00 00 02 00 00 00 44 00 00 "
                        "00 2C 00 00 00 E6 06 00 01 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[0], asm_id_smart(0x06, 1));

    ::testing::internal::CaptureStdout();
    const Sent write = send_through(asm_legacy_passthrough, "\\\\.\\PhysicalDrive3", data, 16,
                                    DIR_TO_DEVICE, command);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(write.result, 0);
    EXPECT_TRUE(write.inputs.empty());
    EXPECT_NE(out.find("Id/Smart"), std::string::npos);
}

TEST_F(Tunnels, RealtekIdentifyAndFormat) {
    g_timeout = 300; // the Realtek envelopes keep their 2 seconds
    Sent sent = send_through(rtl_passthrough, "\\\\.\\PhysicalDrive5", data, 4096, DIR_FROM_DEVICE,
                             identify_controller_command());
    ASSERT_EQ(sent.inputs.size(), 2u);
    ASSERT_EQ(sent.inputs[0].size(), 132u);
    EXPECT_EQ(head(sent.inputs[0], 44),
              hex_bytes("2C 00 00 00 00 00 10 00 00 00 00 00 40 00 00 00 02 00 00 00 44 00 00 "
                        "00 2C 00 00 00 E5 40 00 F7 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[0], rtl_command_phase(0x06, 0, 1));
    ASSERT_EQ(sent.inputs[1].size(), 4164u);
    EXPECT_EQ(head(sent.inputs[1], 44),
              hex_bytes("2C 00 00 00 00 00 10 18 01 00 00 00 00 10 00 00 02 00 00 00 44 00 00 "
                        "00 2C 00 00 00 E4 00 10 F8 00 00 01 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[1], rtl_data_phase(DIR_FROM_BYTE, 4096));

    sent = send_through(rtl_passthrough, "\\\\.\\PhysicalDrive5", nullptr, 0, DIR_NONE,
                        format_command(0, 2));
    ASSERT_EQ(sent.inputs.size(), 2u);
    EXPECT_EQ(sent.inputs[0], rtl_command_phase(0x80, 1, 0x400));
    EXPECT_EQ(sent.inputs[1],
              hex_bytes("2C 00 00 00 00 00 10 18 02 00 00 00 00 00 00 00 02 00 00 00 44 00 00 "
                        "00 2C 00 00 00 E5 00 00 F8 00 00 00 00 00 00 00 00 00 00 00 00 "
                        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[1], rtl_data_phase(DIR_NONE_BYTE, 0));
}

TEST_F(Tunnels, RealtekToDeviceAndTheLoweringTo4096) {
    for (uint32_t i = 0; i < 8192; ++i)
        data[i] = static_cast<uint8_t>(i + 3);
    AdminCommand command = identify_controller_command();
    command.cdw0 = 0x09;
    Sent sent =
        send_through(rtl_passthrough, "\\\\.\\PhysicalDrive5", data, 16, DIR_TO_DEVICE, command);
    ASSERT_EQ(sent.inputs.size(), 2u);
    EXPECT_TRUE(zero_from(sent.inputs[0], 132, 132)); // nothing but the entry
    EXPECT_EQ(sent.inputs[0].size(), 132u);
    ASSERT_EQ(sent.inputs[1].size(), 84u);
    EXPECT_EQ(std::vector<uint8_t>(sent.inputs[1].begin() + 28, sent.inputs[1].begin() + 35),
              hex_bytes("E5 10 00 F8 00 00 02"));
    EXPECT_EQ(sent.inputs[1][8], 0);
    EXPECT_EQ(std::vector<uint8_t>(sent.inputs[1].begin() + 68, sent.inputs[1].end()),
              std::vector<uint8_t>(data, data + 16));

    sent = send_through(rtl_passthrough, "\\\\.\\PhysicalDrive5", data, 8192, DIR_FROM_DEVICE,
                        identify_controller_command());
    EXPECT_EQ(sent.result, 1);
    ASSERT_EQ(sent.inputs.size(), 2u);
    ASSERT_EQ(sent.inputs[1].size(), 4164u);
    EXPECT_EQ(sent.inputs[1][29], 0x00);
    EXPECT_EQ(sent.inputs[1][30], 0x10);
    // Only the first 4096 bytes of the caller's buffer are written.
    EXPECT_EQ(data[4096], static_cast<uint8_t>(4096 + 3));
}

TEST_F(Tunnels, OfaRequestLayouts) {
    const Sent format =
        send_through(ofa_passthrough, "\\\\.\\SCSI4:", nullptr, 0, DIR_NONE, format_command(3, 1));
    ASSERT_EQ(format.inputs.size(), 1u);
    const std::vector<uint8_t>& request = format.inputs[0];
    ASSERT_EQ(request.size(), 152u);
    EXPECT_EQ(get_le32(request.data(), 0), 28u);
    EXPECT_EQ(std::string(request.begin() + 4, request.begin() + 12), "NvmeMini");
    EXPECT_EQ(get_le32(request.data(), 12), 5u);
    EXPECT_EQ(get_le32(request.data(), 16), 0xE0002000u);
    EXPECT_EQ(get_le32(request.data(), 20), 0u);
    EXPECT_EQ(get_le32(request.data(), 24), 124u);
    EXPECT_TRUE(zero_from(request, 28, 52));
    EXPECT_EQ(get_le32(request.data(), 52), 0x80u);
    EXPECT_EQ(get_le32(request.data(), 56), 1u);
    EXPECT_TRUE(zero_from(request, 60, 92));
    EXPECT_EQ(get_le32(request.data(), 92), 0x203u);
    EXPECT_TRUE(zero_from(request, 96, 152 - 4));
    EXPECT_EQ(get_le32(request.data(), 148), 152u);

    g_timeout = 300;
    const Sent identify = send_through(ofa_passthrough, "\\\\.\\SCSI4:", data, 4096,
                                       DIR_FROM_DEVICE, identify_controller_command());
    ASSERT_EQ(identify.inputs.size(), 1u);
    const std::vector<uint8_t>& read = identify.inputs[0];
    ASSERT_EQ(read.size(), 4248u);
    EXPECT_EQ(get_le32(read.data(), 12), 300u);
    EXPECT_EQ(get_le32(read.data(), 24), 4220u);
    EXPECT_EQ(get_le32(read.data(), 132), 2u);
    EXPECT_EQ(get_le32(read.data(), 140), 4096u);
    EXPECT_EQ(get_le32(read.data(), 148), 4248u);

    const Sent largest = send_through(ofa_passthrough, "\\\\.\\SCSI4:", data, 65536, DIR_TO_DEVICE,
                                      identify_controller_command());
    ASSERT_EQ(largest.inputs.size(), 1u);
    EXPECT_EQ(largest.inputs[0].size(), 65688u);
    EXPECT_EQ(get_le32(largest.inputs[0].data(), 132), 1u);
}

TEST_F(Tunnels, InboxQueryLayout) {
    uint8_t identify[4096];
    memset(identify, 0, sizeof identify);
    const Sent sent = send_through(
        [](HANDLE handle, void* buffer, uint32_t, int, const AdminCommand*) {
            return inbox_identify_controller(handle, static_cast<uint8_t*>(buffer));
        },
        "\\\\.\\PhysicalDrive0", identify, 4096, DIR_FROM_DEVICE, identify_controller_command());
    ASSERT_EQ(sent.inputs.size(), 1u);
    const std::vector<uint8_t>& query = sent.inputs[0];
    EXPECT_EQ(query, inbox_query(1, 0));
}
