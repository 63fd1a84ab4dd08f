// The inbox driver model: the protocol-specific identify property it answers,
// the queries it refuses, the descriptor it returns, and the port that takes
// neither its query nor a raw command.
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
    };
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
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> q = inbox_query(1, 0);
        c.spoil(q);
        const std::vector<uint8_t> sent = q;
        EXPECT_FALSE(send(q)) << c.what;
        EXPECT_EQ(last_error(), 87u) << c.what;
        EXPECT_EQ(q, sent) << c.what; // nothing written back
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
