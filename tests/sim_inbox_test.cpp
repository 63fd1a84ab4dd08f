// The inbox driver model: the protocol-specific identify property it answers,
// the queries it refuses, the descriptor it returns, the port that takes
// neither its query nor a raw command, and the protocol command that carries
// Format NVM and Sanitize in Windows PE.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/sim.h"
#include "sim_support.h"

namespace {

const char* const HOST = R"({
  "winpe": true,
  "drives": [
    {"number": 0, "path": "inbox", "port": 3, "product": "Inbox SSD",
     "controller": {"model": "Sim Inbox Disk", "serial": "INBOX7", "firmware": "FW1",
                    "nsze": 123456, "lbads": [9]}}
  ]
})";

class SimInbox : public SimTest {
  protected:
    void SetUp() override {
        load(HOST);
        disk = open_device("\\\\.\\PhysicalDrive0", 0, 128);
        ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        close_device(disk);
        SimTest::TearDown();
    }

    int send(std::vector<uint8_t>& q, HANDLE h = nullptr,
             uint32_t code = IOCTL_STORAGE_QUERY_PROPERTY) {
        return send_in_place(h ? h : disk, q, code);
    }

    HANDLE disk = INVALID_HANDLE_VALUE;
};

} // namespace

TEST_F(SimInbox, IdentifyControllerBehindTheDescriptor) {
    std::vector<uint8_t> q = inbox_query(1, 0);
    ASSERT_TRUE(send(q));
    const uint8_t* p = q.data();
    EXPECT_EQ(get_le32(p, 0), 48u); // Version
    EXPECT_EQ(get_le32(p, 4), 48u); // Size
    EXPECT_EQ(get_le32(p, 8), 3u);
    EXPECT_EQ(get_le32(p, 12), 1u);
    EXPECT_EQ(get_le32(p, 16), 1u);
    EXPECT_EQ(get_le32(p, 24), 40u);
    EXPECT_EQ(get_le32(p, 28), 4096u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 48 + 4), 20), "INBOX7              ");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 48 + 24), 40),
              "Sim Inbox Disk                          ");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 48 + 64), 8), "FW1     ");

    std::vector<uint8_t> ns = inbox_query(0, 1);
    ASSERT_TRUE(send(ns));
    EXPECT_EQ(get_le64(ns.data(), 48), 123456u);
}

TEST_F(SimInbox, EveryMalformedQueryFailsWithInvalidParameter) {
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> spoil;
        uint32_t code = IOCTL_STORAGE_QUERY_PROPERTY; // else a protocol command's
    };
    const uint32_t PROTOCOL = IOCTL_STORAGE_PROTOCOL_COMMAND;
    const Case cases[] = {
        {"QueryType exists", [](std::vector<uint8_t>& q) { put_le32(q.data(), 4, 1); }},
        {"ProtocolType ATA", [](std::vector<uint8_t>& q) { put_le32(q.data(), 8, 2); }},
        {"DataType log page", [](std::vector<uint8_t>& q) { put_le32(q.data(), 12, 2); }},
        {"CNS 2", [](std::vector<uint8_t>& q) { put_le32(q.data(), 16, 2); }},
        {"controller with a namespace", [](std::vector<uint8_t>& q) { put_le32(q.data(), 20, 1); }},
        {"namespace 0",
         [](std::vector<uint8_t>& q) {
             put_le32(q.data(), 16, 0);
             put_le32(q.data(), 20, 0);
         }},
        {"namespace 2",
         [](std::vector<uint8_t>& q) {
             put_le32(q.data(), 16, 0);
             put_le32(q.data(), 20, 2);
         }},
        {"ProtocolDataOffset", [](std::vector<uint8_t>& q) { put_le32(q.data(), 24, 48); }},
        {"ProtocolDataLength short", [](std::vector<uint8_t>& q) { put_le32(q.data(), 28, 512); }},
        {"ProtocolDataLength long", [](std::vector<uint8_t>& q) { put_le32(q.data(), 28, 8192); }},
        {"buffer short", [](std::vector<uint8_t>& q) { q.resize(4143); }},
        {"buffer long", [](std::vector<uint8_t>& q) { q.resize(4145); }},
        {"header only", [](std::vector<uint8_t>& q) { q.resize(48); }},
        // The protocol command's header, its areas, and the entry: nothing
        // reaches the controller (a format would change its LBA format).
        {"command Version 0", [](std::vector<uint8_t>& r) { put_le32(r.data(), 0, 0); }, PROTOCOL},
        {"command Length 80", [](std::vector<uint8_t>& r) { put_le32(r.data(), 4, 80); }, PROTOCOL},
        {"command ProtocolType ATA", [](std::vector<uint8_t>& r) { put_le32(r.data(), 8, 2); },
         PROTOCOL},
        {"command not an adapter request",
         [](std::vector<uint8_t>& r) { put_le32(r.data(), 12, 0); }, PROTOCOL},
        {"command CommandLength 40", [](std::vector<uint8_t>& r) { put_le32(r.data(), 24, 40); },
         PROTOCOL},
        {"command not an admin command", [](std::vector<uint8_t>& r) { put_le32(r.data(), 56, 2); },
         PROTOCOL},
        {"command shorter than its entry", [](std::vector<uint8_t>& r) { r.resize(143); },
         PROTOCOL},
        {"command error info past the buffer",
         [](std::vector<uint8_t>& r) {
             put_le32(r.data(), 28, 16); // ErrorInfoLength
             put_le32(r.data(), 44, 136);
         },
         PROTOCOL},
        {"command data offset past the buffer",
         [](std::vector<uint8_t>& r) { put_le32(r.data(), 52, 145); }, PROTOCOL},
        {"format with data to read",
         [](std::vector<uint8_t>& r) {
             r.resize(144 + 512);
             put_le32(r.data(), 36, 512); // DataFromDeviceTransferLength
             put_le32(r.data(), 52, 144);
         },
         PROTOCOL},
        {"command entry with a data pointer", [](std::vector<uint8_t>& r) { r[80 + 24] = 1; },
         PROTOCOL},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> q =
            c.code == PROTOCOL ? protocol_command(0x80, 1, 0x201) : inbox_query(1, 0);
        c.spoil(q);
        const std::vector<uint8_t> sent = q;
        EXPECT_FALSE(send(q, nullptr, c.code)) << c.what;
        EXPECT_EQ(last_error(), 87u) << c.what;
        EXPECT_EQ(q, sent) << c.what; // nothing written back
        EXPECT_EQ(flbas_of(0), 0u) << c.what;
    }
    // Input of 4144 bytes, output one byte short or long.
    std::vector<uint8_t> q = inbox_query(1, 0);
    q.resize(4145);
    for (uint32_t out_size : {4143u, 4145u}) {
        EXPECT_FALSE(
            device_control(disk, IOCTL_STORAGE_QUERY_PROPERTY, q.data(), 4144, q.data(), out_size));
        EXPECT_EQ(last_error(), 87u) << out_size;
    }
}

TEST_F(SimInbox, DescriptorStillAnsweredAndThePortRefusesBoth) {
    // The device descriptor is still answered: bus type NVMe at offset 28.
    std::vector<uint8_t> descriptor(512, 0);
    ASSERT_TRUE(device_control(disk, IOCTL_STORAGE_QUERY_PROPERTY, descriptor.data(), 12,
                               descriptor.data(), 512));
    EXPECT_EQ(get_le32(descriptor.data(), 28), 17u);

    // No raw commands on the port, and the property query belongs to the disk.
    std::vector<uint8_t> miniport = ofa_request(0x80, 1, 0, 0, 0);
    HANDLE port = open_device("\\\\.\\SCSI3:", 0, 128);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(send(miniport, port, IOCTL_SCSI_MINIPORT));
    EXPECT_EQ(last_error(), 1u);
    std::vector<uint8_t> q = inbox_query(1, 0);
    EXPECT_FALSE(send(q, port));
    EXPECT_EQ(last_error(), 1u);
    close_device(port);
}

TEST_F(SimInbox, ProtocolCommandAnswersInItsHeader) {
    // The completion's status field in ErrorCode: phase tag 0, SC in bits
    // 8:1, SCT in bits 11:9; dword 0 in FixedProtocolReturnData.
    struct Case {
        const char* what;
        std::string fields; // of the drive, beyond the others'
        bool winpe;
        uint8_t opcode;
        uint32_t cdw10;
        uint32_t error; // the request's last-error code; 0: it succeeds
        uint32_t return_status, error_code;
        uint32_t flbas; // after it
    } cases[] = {
        {"a format", "", true, 0x80, 0x201, 0, 1, 0, 1},
        {"a format the controller fails", R"(, "controller": {"format_status": 266})", true, 0x80,
         0x201, 0, 2, 0x0A << 1 | 1 << 9, 0},
        {"outside Windows PE", "", false, 0x80, 0x201, 1, 0, 0, 0},
        {"the driver's own status", R"(, "controller": {"protocol_return_status": 5})", true, 0x80,
         0x201, 0, 5, 0, 0},
        {"a sanitize it does not carry", R"(, "controller": {"protocol_sanitize": false})", true,
         0x84, 0x0C, 0, 0xFF, 0, 0},
        {"another command", "", true, 0x06, 1, 0, 0xFF, 0, 0},
    };
    for (const Case& c : cases) {
        close_device(disk);
        load((std::string(c.winpe ? R"({"winpe": true, )" : "{") +
              R"("drives": [{"number": 0, "path": "inbox")" + c.fields + "}]}")
                 .c_str());
        disk = open_device("\\\\.\\PhysicalDrive0", 0, 128);
        std::vector<uint8_t> r = protocol_command(c.opcode, 1, c.cdw10);
        put_le32(r.data(), 64, 0xEEEEEEEE);
        std::vector<uint8_t> expected = r;
        put_le32(expected.data(), 16, c.return_status);
        put_le32(expected.data(), 20, c.error_code);
        put_le32(expected.data(), 64, 0); // the completion's dword 0, or nothing
        EXPECT_EQ(send(r, nullptr, IOCTL_STORAGE_PROTOCOL_COMMAND), c.error == 0) << c.what;
        if (c.error) {
            EXPECT_EQ(last_error(), c.error) << c.what;
        } else {
            EXPECT_EQ(r, expected) << c.what;
        }
        EXPECT_EQ(flbas_of(0), c.flbas) << c.what;
    }
}
