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
#include "sim/model.h"
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
                  int direction, const AdminCommand& command, const std::string& host = kHost,
                  uint32_t timeout_s = 5) {
    use_host(host);
    HANDLE handle = open_device(path, 0, FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << path;
    Sent sent;
    DriveState drive = drive_on(handle, timeout_s);
    sent.result = transport(&drive, buffer, length, direction, &command);
    close_device(handle);
    for (const nlohmann::json& line : trace_ops(current_trace(), "ioctl")) {
        sent.inputs.push_back(trace_input(line));
        EXPECT_EQ(line.at("in_size"), line.at("out_size"));
    }
    return sent;
}

// The inbox query in the transport call's shape.
int inbox_call(DriveState* drive, void* buffer, uint32_t, int, const AdminCommand*) {
    return inbox_identify_controller(drive, static_cast<uint8_t*>(buffer));
}

// A command without data through the inbox driver's protocol command.
int inbox_format(DriveState* drive, void*, uint32_t, int, const AdminCommand* command) {
    return inbox_protocol_command(drive, command);
}

// A bridge that answers every CDB GOOD, with zeros to read.
class ZeroBridge : public Model {
  public:
    bool scsi(Drive&, const ScsiCommand& c, ScsiResult* result) override {
        result->data.assign(c.length, 0);
        return true;
    }
};

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
    uint8_t data[65536 + 16];
};

} // namespace

TEST_F(Tunnels, JmicronIdentifyControllerWorkedExample) {
    memset(data, 0, sizeof data);
    const Sent sent = send_through(jms_passthrough, "\\\\.\\PhysicalDrive2", data, 4096,
                                   DIR_FROM_DEVICE, identify_controller_command());
    ASSERT_EQ(sent.inputs.size(), 2u);
    const std::vector<uint8_t>& command = sent.inputs[0];
    ASSERT_EQ(command.size(), spt().data + 512);
    EXPECT_EQ(head(command, spt().length),
              spt_header("2C 00 00 00 00 00 0C 18 00 00 00 00 00 02 00 00 05 00 00 00 44 00 00 "
                         "00 2C 00 00 00 A1 80 00 00 02 00 00 00 00 00 00 00 00 00 00 00"));
    // The whole envelope as the simulator tests build it: "NVME", entry at 8.
    EXPECT_EQ(command, jms_command_phase(0x06, 0, 1));

    const std::vector<uint8_t>& phase2 = sent.inputs[1];
    ASSERT_EQ(phase2.size(), spt().data + 4096);
    EXPECT_EQ(head(phase2, spt().length),
              spt_header("2C 00 00 00 00 00 0C 18 01 00 00 00 00 10 00 00 05 00 00 00 44 00 00 "
                         "00 2C 00 00 00 A1 82 00 00 10 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(phase2, jms_envelope(0x82, SPT_IN, 4096, 5));
}

TEST_F(Tunnels, JmicronFormatWorkedExample) {
    const Sent sent = send_through(jms_passthrough, "\\\\.\\PhysicalDrive2", nullptr, 0, DIR_NONE,
                                   format_command(1, 1, NO_PROTECTION), kHost, 300);
    ASSERT_EQ(sent.inputs.size(), 2u);
    EXPECT_EQ(head(sent.inputs[0], spt().length),
              spt_header("2C 00 00 00 00 00 0C 18 00 00 00 00 00 02 00 00 2C 01 00 00 44 00 00 "
                         "00 2C 00 00 00 A1 80 00 00 02 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[0], jms_command_phase(0x80, 1, 0x201, 300));
    EXPECT_EQ(
        sent.inputs[1],
        spt_header("2C 00 00 00 00 00 0C 18 00 00 00 00 00 00 00 00 2C 01 00 00 44 00 00 00 "
                   "2C 00 00 00 A1 81 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    // The same data phase in the 64-bit layout, byte for byte.
    if (spt().wide) {
        EXPECT_EQ(
            sent.inputs[1],
            hex_bytes("38 00 00 00 00 00 0C 18 00 00 00 00 00 00 00 00 2C 01 00 00 00 00 00 00 "
                      "50 00 00 00 00 00 00 00 38 00 00 00 A1 81 00 00 00 00 00 00 "
                      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                      "00 00 00 00 00 00 00 00 00 00 00 00"));
    }
}

TEST_F(Tunnels, ToDeviceDataTravelInTheDataPhaseAlone) {
    for (uint32_t i = 0; i < 16; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 1);
    AdminCommand command = identify_controller_command();
    command.cdw0 = 0x09;
    struct Case {
        TransportCall transport;
        const char* path;
        uint32_t command_block_end; // the command phase holds nothing after it
        const char* data_cdb;       // the data phase's 16 CDB bytes
    } cases[] = {
        {jms_passthrough, "\\\\.\\PhysicalDrive2", spt().data + 72,
         "A1 83 00 00 00 10 00 00 00 00 00 00 00 00 00 00"},
        {asm_passthrough, "\\\\.\\PhysicalDrive3", spt().data + 64,
         "EA 5A 81 00 02 00 00 00 00 00 00 00 00 10 00 00"},
        {rtl_passthrough, "\\\\.\\PhysicalDrive5", spt().data + 64,
         "E5 10 00 F8 00 00 02 00 00 00 00 00 00 00 00 00"},
    };
    for (const Case& k : cases) {
        // The controller rejects the unknown opcode; the requests are made.
        testing::internal::CaptureStdout();
        const Sent sent = send_through(k.transport, k.path, data, 16, DIR_TO_DEVICE, command);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(sent.inputs.size(), 2u) << k.path;
        EXPECT_TRUE(zero_from(sent.inputs[0], k.command_block_end, sent.inputs[0].size()))
            << k.path;
        const std::vector<uint8_t>& phase2 = sent.inputs[1];
        ASSERT_EQ(phase2.size(), spt().data + 16) << k.path;
        EXPECT_EQ(phase2[8], SPT_OUT) << k.path;
        EXPECT_EQ(std::vector<uint8_t>(phase2.begin() + spt().cdb, phase2.begin() + spt().cdb + 16),
                  hex_bytes(k.data_cdb))
            << k.path;
        EXPECT_EQ(std::vector<uint8_t>(phase2.begin() + spt().data, phase2.end()),
                  std::vector<uint8_t>(data, data + 16))
            << k.path;
    }
}

TEST_F(Tunnels, JmicronLengthInBytesThreeToFive) {
    AdminCommand command = identify_controller_command();
    command.cdw0 = 0x09;
    // The whole transfer length, so that 65536 is not sent as 0.
    testing::internal::CaptureStdout();
    const Sent sent =
        send_through(jms_passthrough, "\\\\.\\PhysicalDrive2", data, 65536, DIR_TO_DEVICE, command);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(sent.inputs.size(), 2u);
    ASSERT_EQ(sent.inputs[1].size(), spt().data + 65536);
    EXPECT_EQ(sent.inputs[1][spt().cdb + 3], 0x01);
    EXPECT_EQ(sent.inputs[1][spt().cdb + 4], 0x00);
    EXPECT_EQ(sent.inputs[1][spt().cdb + 5], 0x00);
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
    ASSERT_EQ(sent.inputs[0].size(), spt().data + 64);
    EXPECT_EQ(head(sent.inputs[0], spt().length),
              spt_header("2C 00 00 00 00 00 10 00 00 00 00 00 40 00 00 00 05 00 00 00 44 00 00 "
                         "00 00 00 00 00 EA 5A 80 00 01 00 00 00 00 00 00 00 00 40 00 00"));
    EXPECT_EQ(sent.inputs[0], asm_command_phase(DIR_FROM_BYTE, 0x06, 0, 1));
    ASSERT_EQ(sent.inputs[1].size(), spt().data + 4096);
    EXPECT_EQ(head(sent.inputs[1], spt().length),
              spt_header("2C 00 00 00 00 00 10 00 01 00 00 00 00 10 00 00 02 00 00 00 44 00 00 "
                         "00 00 00 00 00 EB 5A 81 00 01 00 00 00 00 00 00 00 10 00 00 00"));
    EXPECT_EQ(sent.inputs[1], asm_read_phase());
}

TEST_F(Tunnels, AsmediaFormatWorkedExample) {
    // The command phase keeps its 5 s; the data phase, which runs the format,
    // carries the drive's timeout.
    const Sent sent = send_through(asm_passthrough, "\\\\.\\PhysicalDrive3", nullptr, 0, DIR_NONE,
                                   format_command(1, 1, NO_PROTECTION), kHost, 300);
    ASSERT_EQ(sent.inputs.size(), 2u);
    EXPECT_EQ(head(sent.inputs[0], spt().length),
              spt_header("2C 00 00 00 00 00 10 00 00 00 00 00 40 00 00 00 05 00 00 00 44 00 00 "
                         "00 00 00 00 00 EA 5A 80 00 00 00 00 00 00 00 00 00 00 40 00 00"));
    EXPECT_EQ(sent.inputs[0], asm_command_phase(DIR_NONE_BYTE, 0x80, 1, 0x201));
    EXPECT_EQ(
        sent.inputs[1],
        spt_header("2C 00 00 00 00 00 10 00 02 00 00 00 00 00 00 00 2C 01 00 00 44 00 00 "
                   "00 00 00 00 00 EB 5A 81 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[1], asm_no_data_phase(300));
}

TEST_F(Tunnels, AsmediaLengthsBeyondSixteenBitsUseBytesTenToThirteen) {
    const Sent sent = send_through(asm_passthrough, "\\\\.\\PhysicalDrive3", data, 65536,
                                   DIR_FROM_DEVICE, identify_controller_command());
    ASSERT_EQ(sent.inputs.size(), 2u);
    const uint32_t cdb = spt().cdb;
    EXPECT_EQ(
        std::vector<uint8_t>(sent.inputs[1].begin() + cdb + 10, sent.inputs[1].begin() + cdb + 14),
        hex_bytes("00 01 00 00"));
}

TEST_F(Tunnels, AsmediaIdSmartWorkedExampleAndItsRefusalToWrite) {
    AdminCommand command = identify_controller_command();
    command.nsid = 7;           // never sent
    command.cdw10 = 0x12345601; // only the low byte is sent
    const Sent sent = send_through(asm_legacy_passthrough, "\\\\.\\PhysicalDrive3", data, 4096,
                                   DIR_FROM_DEVICE, command);
    ASSERT_EQ(sent.inputs.size(), 1u);
    ASSERT_EQ(sent.inputs[0].size(), spt().data + 4096);
    EXPECT_EQ(head(sent.inputs[0], spt().length),
              spt_header("2C 00 00 00 00 00 10 18 01 00 00 00 00 10 00 00 02 00 00 00 44 00 00 "
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
    // Every Realtek envelope keeps its 2 s but the data phase of a format,
    // which carries the drive's timeout.
    Sent sent = send_through(rtl_passthrough, "\\\\.\\PhysicalDrive5", data, 4096, DIR_FROM_DEVICE,
                             identify_controller_command(), kHost, 300);
    ASSERT_EQ(sent.inputs.size(), 2u);
    ASSERT_EQ(sent.inputs[0].size(), spt().data + 64);
    EXPECT_EQ(head(sent.inputs[0], spt().length),
              spt_header("2C 00 00 00 00 00 10 00 00 00 00 00 40 00 00 00 02 00 00 00 44 00 00 "
                         "00 2C 00 00 00 E5 40 00 F7 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[0], rtl_command_phase(0x06, 0, 1));
    ASSERT_EQ(sent.inputs[1].size(), spt().data + 4096);
    EXPECT_EQ(head(sent.inputs[1], spt().length),
              spt_header("2C 00 00 00 00 00 10 18 01 00 00 00 00 10 00 00 02 00 00 00 44 00 00 "
                         "00 2C 00 00 00 E4 00 10 F8 00 00 01 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[1], rtl_data_phase(DIR_FROM_BYTE, 4096));

    sent = send_through(rtl_passthrough, "\\\\.\\PhysicalDrive5", nullptr, 0, DIR_NONE,
                        format_command(0, 2, NO_PROTECTION), kHost, 300);
    ASSERT_EQ(sent.inputs.size(), 2u);
    EXPECT_EQ(sent.inputs[0], rtl_command_phase(0x80, 1, 0x400));
    EXPECT_EQ(
        sent.inputs[1],
        spt_header("2C 00 00 00 00 00 10 18 02 00 00 00 00 00 00 00 2C 01 00 00 44 00 00 "
                   "00 2C 00 00 00 E5 00 00 F8 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(sent.inputs[1], rtl_data_phase(DIR_NONE_BYTE, 0, 300));
}

TEST_F(Tunnels, RealtekLowersTheLengthTo4096) {
    for (uint32_t i = 0; i < 8192; ++i)
        data[i] = static_cast<uint8_t>(i + 3);
    const Sent sent = send_through(rtl_passthrough, "\\\\.\\PhysicalDrive5", data, 8192,
                                   DIR_FROM_DEVICE, identify_controller_command());
    EXPECT_EQ(sent.result, 1);
    ASSERT_EQ(sent.inputs.size(), 2u);
    ASSERT_EQ(sent.inputs[1].size(), spt().data + 4096);
    EXPECT_EQ(sent.inputs[1][spt().cdb + 1], 0x00);
    EXPECT_EQ(sent.inputs[1][spt().cdb + 2], 0x10);
    // Only the first 4096 bytes of the caller's buffer are written.
    EXPECT_EQ(data[4096], static_cast<uint8_t>(4096 + 3));
}

TEST_F(Tunnels, OfaRequestLayouts) {
    const Sent format = send_through(ofa_passthrough, "\\\\.\\SCSI4:", nullptr, 0, DIR_NONE,
                                     format_command(3, 1, NO_PROTECTION));
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

    const Sent identify = send_through(ofa_passthrough, "\\\\.\\SCSI4:", data, 4096,
                                       DIR_FROM_DEVICE, identify_controller_command(), kHost, 300);
    ASSERT_EQ(identify.inputs.size(), 1u);
    const std::vector<uint8_t>& read = identify.inputs[0];
    ASSERT_EQ(read.size(), 4248u);
    EXPECT_EQ(get_le32(read.data(), 12), 300u);
    EXPECT_EQ(get_le32(read.data(), 24), 4220u);
    EXPECT_EQ(get_le32(read.data(), 132), 2u);
    EXPECT_EQ(get_le32(read.data(), 140), 4096u);
    EXPECT_EQ(get_le32(read.data(), 148), 4248u);

    // The caller's data from offset 152 (the driver refuses an Identify that
    // sends data; the request is made).
    for (uint32_t i = 0; i < 65536; ++i)
        data[i] = static_cast<uint8_t>(i * 13 + 7);
    testing::internal::CaptureStdout();
    const Sent largest = send_through(ofa_passthrough, "\\\\.\\SCSI4:", data, 65536, DIR_TO_DEVICE,
                                      identify_controller_command());
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(largest.inputs.size(), 1u);
    EXPECT_EQ(largest.inputs[0].size(), 65688u);
    EXPECT_EQ(get_le32(largest.inputs[0].data(), 132), 1u);
    EXPECT_EQ(std::vector<uint8_t>(largest.inputs[0].begin() + 152, largest.inputs[0].end()),
              std::vector<uint8_t>(data, data + 65536));
}

TEST_F(Tunnels, InboxQueryLayout) {
    uint8_t identify[4096];
    memset(identify, 0, sizeof identify);
    const Sent sent = send_through(inbox_call, "\\\\.\\PhysicalDrive0", identify, 4096,
                                   DIR_FROM_DEVICE, identify_controller_command());
    ASSERT_EQ(sent.inputs.size(), 1u);
    const std::vector<uint8_t>& query = sent.inputs[0];
    EXPECT_EQ(query, inbox_query(1, 0));

    // Format NVM in Windows PE: the 84-byte header (the drive's timeout),
    // the submission entry at 80; 144 bytes in one buffer.
    const Sent format =
        send_through(inbox_format, "\\\\.\\PhysicalDrive0", nullptr, 0, DIR_NONE,
                     format_command(1, 1, NO_PROTECTION),
                     R"({"winpe": true, "drives": [{"number": 0, "path": "inbox"}]})", 300);
    EXPECT_EQ(format.result, 1);
    ASSERT_EQ(format.inputs.size(), 1u);
    EXPECT_EQ(format.inputs[0], hex_bytes("01 00 00 00 54 00 00 00 03 00 00 00 00 00 00 80 "
                                          "00 00 00 00 00 00 00 00 40 00 00 00 00 00 00 00 "
                                          "00 00 00 00 00 00 00 00 2C 01 00 00 00 00 00 00 "
                                          "00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 "
                                          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                                          "80 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 "
                                          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                                          "00 00 00 00 00 00 00 00 01 02 00 00 00 00 00 00 "
                                          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(format.inputs[0], protocol_command(0x80, 1, 0x201));
}

TEST_F(Tunnels, EveryTransportLeavesTheBufferAloneWhenARequestFails) {
    struct Case {
        TransportCall transport;
        const char* drive; // the drive's fields in the host file
        const char* path;
        uint32_t requests;
        bool refusable; // the controller (or bridge) can refuse Identify with CNS 2
    } cases[] = {
        {jms_passthrough, R"("number": 2, "path": "jmicron")", "\\\\.\\PhysicalDrive2", 2, true},
        {asm_passthrough, R"("number": 3, "path": "asmedia")", "\\\\.\\PhysicalDrive3", 2, true},
        {asm_legacy_passthrough, R"("number": 3, "path": "asmedia")", "\\\\.\\PhysicalDrive3", 1,
         true},
        {rtl_passthrough, R"("number": 5, "path": "realtek")", "\\\\.\\PhysicalDrive5", 2, true},
        {ofa_passthrough, R"("number": 1, "path": "ofa", "port": 4)", "\\\\.\\SCSI4:", 1, true},
        {inbox_call, R"("number": 0, "path": "inbox")", "\\\\.\\PhysicalDrive0", 1, false},
    };
    for (const Case& k : cases) {
        // Each request failing in turn; then (0) every request made and the
        // command refused.
        for (uint32_t nth = k.refusable ? 0 : 1; nth <= k.requests; ++nth) {
            std::string drive = k.drive;
            if (nth != 0)
                drive += R"(, "fail": [{"nth": )" + std::to_string(nth) + R"(, "error": 31}])";
            AdminCommand command = identify_controller_command();
            if (nth == 0)
                command.cdw10 = 2;
            memset(data, 0xA5, 4096);
            testing::internal::CaptureStdout();
            const Sent sent = send_through(k.transport, k.path, data, 4096, DIR_FROM_DEVICE,
                                           command, host_with("[{" + drive + "}]"));
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(sent.result, 0) << k.path << " " << nth;
            EXPECT_EQ(sent.inputs.size(), nth == 0 ? k.requests : nth) << k.path << " " << nth;
            EXPECT_NE(out, "") << k.path << " " << nth;
            EXPECT_EQ(std::vector<uint8_t>(data, data + 4096), std::vector<uint8_t>(4096, 0xA5))
                << k.path << " " << nth;
        }
    }
}

TEST_F(Tunnels, CompletionQueriesOfTheBridges) {
    // After Identify with CNS 2, which the controller rejects (SCT 0 / SC
    // 0x02), each bridge's query, with its own 5 s whatever the drive's
    // timeout says.
    struct Case {
        TransportCall transport;
        int (*query)(DriveState*, uint8_t*);
        const char* path;
        std::vector<uint8_t> sent; // as the simulator tests build it
        const char* header;
    } cases[] = {
        {jms_passthrough, jms_completion, "\\\\.\\PhysicalDrive2", jms_completion_query(),
         "2C 00 00 00 00 00 0C 18 01 00 00 00 00 02 00 00 05 00 00 00 44 00 00 00 "
         "2C 00 00 00 A1 8F 00 00 02 00 00 00 00 00 00 00 00 00 00 00"},
        {asm_passthrough, asm_completion, "\\\\.\\PhysicalDrive3", asm_completion_query(),
         "2C 00 00 00 00 00 10 00 01 00 00 00 10 00 00 00 05 00 00 00 44 00 00 00 "
         "00 00 00 00 EB 5A 82 00 00 00 00 00 00 00 00 00 00 10 00 00"},
        {rtl_passthrough, rtl_completion, "\\\\.\\PhysicalDrive5", rtl_completion_query(),
         "2C 00 00 00 00 00 10 18 01 00 00 00 10 00 00 00 05 00 00 00 44 00 00 00 "
         "2C 00 00 00 E4 10 00 F9 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    for (const Case& k : cases) {
        use_host(kHost);
        HANDLE handle = open_device(k.path, 0, FILE_ATTRIBUTE_NORMAL);
        DriveState drive = drive_on(handle, 300);
        AdminCommand command = identify_controller_command();
        command.cdw10 = 2;
        testing::internal::CaptureStdout();
        EXPECT_EQ(k.transport(&drive, data, 4096, DIR_FROM_DEVICE, &command), 0) << k.path;
        testing::internal::GetCapturedStdout();
        uint8_t entry[16];
        memset(entry, 0xEE, sizeof entry);
        testing::internal::CaptureStdout();
        EXPECT_EQ(k.query(&drive, entry), 1) << k.path;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << k.path;
        close_device(handle);
        EXPECT_EQ(std::vector<uint8_t>(entry, entry + 16),
                  hex_bytes("00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 00"))
            << k.path;
        const auto ioctls = trace_ops(current_trace(), "ioctl");
        const std::vector<uint8_t> query = trace_input(ioctls.back());
        EXPECT_EQ(head(query, spt().length), spt_header(k.header)) << k.path;
        EXPECT_EQ(query, k.sent) << k.path;
    }
}

TEST_F(Tunnels, CompletionQueriesThatFailSayNothing) {
    struct Case {
        const char* what;
        int (*query)(DriveState*, uint8_t*);
        std::string host;
        bool zero_bridge; // a bridge that answers every CDB GOOD with zeros
    } cases[] = {
        // The driver fails the request.
        {"JMicron request", jms_completion,
         drive_host(2, "jmicron", R"(, "fail": [{"nth": 1, "error": 31}])"), false},
        {"ASMedia request", asm_completion,
         drive_host(2, "asmedia", R"(, "fail": [{"nth": 1, "error": 31}])"), false},
        {"Realtek request", rtl_completion,
         drive_host(2, "realtek", R"(, "fail": [{"nth": 1, "error": 31}])"), false},
        // The bridge answers CHECK CONDITION.
        {"JMicron status", jms_completion, drive_host(2, "none", R"(, "bus": 7)"), false},
        {"ASMedia status", asm_completion, drive_host(2, "none", R"(, "bus": 7)"), false},
        {"Realtek status", rtl_completion, drive_host(2, "none", R"(, "bus": 7)"), false},
        // The reply is no entry: no "NVME" block; FF FF before any command.
        {"JMicron reply", jms_completion, drive_host(2, "jmicron"), true},
        {"ASMedia reply", asm_completion, drive_host(2, "asmedia"), false},
    };
    for (const Case& k : cases) {
        use_host(k.host);
        if (k.zero_bridge) {
            ASSERT_TRUE(sim_replace_model(2, std::make_unique<ZeroBridge>()));
        }
        HANDLE handle = open_device("\\\\.\\PhysicalDrive2", 0, FILE_ATTRIBUTE_NORMAL);
        DriveState drive = drive_on(handle);
        uint8_t entry[16];
        memset(entry, 0xEE, sizeof entry);
        testing::internal::CaptureStdout();
        EXPECT_EQ(k.query(&drive, entry), 0) << k.what;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << k.what;
        close_device(handle);
        EXPECT_EQ(trace_ops(current_trace(), "ioctl").size(), 1u) << k.what;
        EXPECT_EQ(std::vector<uint8_t>(entry, entry + 16), std::vector<uint8_t>(16, 0xEE))
            << k.what;
    }
}
