// The JMicron bridge model and the controller behind it, driven with
// envelopes built byte by byte: the two-phase tunnel, what the bridge
// refuses, SCSI pass-through header checks, Format NVM and timeouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/sim.h"

namespace {

const char* const HOST = R"({
  "tick_start": 4294967000,
  "drives": [
    {"number": 2, "path": "jmicron",
     "controller": {"model": "Sim JMS Disk", "serial": "JMS42", "firmware": "FW7",
                    "nsze": 80000, "lbads": [9, 12, 13], "format_ms": 1500}},
    {"number": 3, "path": "jmicron", "controller": {"format_status": 385}},
    {"number": 6, "path": "none", "bus": 7}
  ]
})";

constexpr uint32_t DATA = 68;
constexpr uint32_t SENSE = 44;

// A JMicron envelope: header, CDB A1 <phase> 00 <24-bit length>.
std::vector<uint8_t> envelope(uint8_t phase, uint8_t data_in, uint32_t length, uint32_t timeout) {
    std::vector<uint8_t> e(DATA + length, 0);
    uint8_t* p = e.data();
    put_le16(p, 0, 44);
    put_u8(p, 6, 12);
    put_u8(p, 7, 24);
    put_u8(p, 8, data_in);
    put_le32(p, 12, length);
    put_le32(p, 16, timeout);
    put_le32(p, 20, DATA);
    put_le32(p, 24, SENSE);
    put_u8(p, 28, 0xA1);
    put_u8(p, 29, phase);
    put_be(p, 31, 3, length);
    return e;
}

std::vector<uint8_t> command_phase(uint8_t opcode, uint32_t nsid, uint32_t cdw10,
                                   uint32_t timeout = 5) {
    std::vector<uint8_t> e = envelope(0x80, 0, 512, timeout);
    std::memcpy(e.data() + DATA, "NVME", 4);
    put_u8(e.data(), DATA + 8, opcode);
    put_le32(e.data(), DATA + 12, nsid);
    put_le32(e.data(), DATA + 48, cdw10);
    return e;
}

std::vector<uint8_t> identify_data_phase() {
    return envelope(0x82, 1, 4096, 5);
}

class SimJmicron : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_reset();
        std::string error;
        ASSERT_TRUE(sim_load_host_text(HOST, "test", &error)) << error;
        disk = open_device("\\\\.\\PhysicalDrive2", 0, 128);
        ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        close_device(disk);
        EXPECT_EQ(sim_open_handles(), 0);
        sim_reset();
    }

    int send(std::vector<uint8_t>& e, HANDLE h = nullptr) {
        uint32_t size = static_cast<uint32_t>(e.size());
        return device_control(h ? h : disk, IOCTL_SCSI_PASS_THROUGH, e.data(), size, e.data(),
                              size);
    }

    // Sends both phases; returns the data phase envelope as answered.
    std::vector<uint8_t> identify(uint32_t nsid, uint32_t cns, HANDLE h = nullptr) {
        std::vector<uint8_t> c = command_phase(0x06, nsid, cns);
        EXPECT_TRUE(send(c, h));
        EXPECT_EQ(c[2], 0) << "command phase status";
        std::vector<uint8_t> d = identify_data_phase();
        EXPECT_TRUE(send(d, h));
        return d;
    }

    std::vector<uint8_t> format(uint32_t cdw10, uint32_t timeout, int* ok) {
        std::vector<uint8_t> c = command_phase(0x80, 1, cdw10, timeout);
        EXPECT_TRUE(send(c));
        std::vector<uint8_t> d = envelope(0x81, 0, 0, timeout);
        *ok = send(d);
        return d;
    }

    HANDLE disk = INVALID_HANDLE_VALUE;
};

std::string text(const std::vector<uint8_t>& e, uint32_t off, uint32_t size) {
    return std::string(reinterpret_cast<const char*>(e.data() + DATA + off), size);
}

bool zero_from(const std::vector<uint8_t>& e, size_t from) {
    return std::all_of(e.begin() + static_cast<long>(from), e.end(),
                       [](uint8_t b) { return b == 0; });
}

// CHECK CONDITION, fixed sense ILLEGAL REQUEST, nothing transferred.
void expect_refused(const std::vector<uint8_t>& e, const char* what) {
    EXPECT_EQ(e[2], 0x02) << what;
    EXPECT_EQ(e[SENSE], 0x70) << what;
    EXPECT_EQ(e[SENSE + 2], 0x05) << what;
    EXPECT_EQ(e[SENSE + 12], 0x20) << what;
    EXPECT_EQ(get_le32(e.data(), 12), 0u) << what;
}

TEST_F(SimJmicron, EnvelopesOfTheToolAreTheOnesBuiltHere) {
    const uint8_t command_header[44] = {0x2C, 0,    0,    0, 0, 0, 0x0C, 0x18, 0, 0,    0,
                                        0,    0x00, 0x02, 0, 0, 5, 0,    0,    0, 0x44, 0,
                                        0,    0,    0x2C, 0, 0, 0, 0xA1, 0x80, 0, 0,    0x02};
    const uint8_t data_header[44] = {0x2C, 0,    0,    0, 0, 0, 0x0C, 0x18, 1, 0,    0,
                                     0,    0x00, 0x10, 0, 0, 5, 0,    0,    0, 0x44, 0,
                                     0,    0,    0x2C, 0, 0, 0, 0xA1, 0x82, 0, 0,    0x10};
    std::vector<uint8_t> c = command_phase(0x06, 0, 1);
    EXPECT_EQ(c.size(), 580u);
    EXPECT_EQ(std::memcmp(c.data(), command_header, 44), 0);
    std::vector<uint8_t> d = identify_data_phase();
    EXPECT_EQ(d.size(), 4164u);
    EXPECT_EQ(std::memcmp(d.data(), data_header, 44), 0);
}

TEST_F(SimJmicron, IdentifyControllerThroughBothPhases) {
    std::vector<uint8_t> d = identify(0, 1);
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(get_le32(d.data(), 12), 4096u);
    EXPECT_EQ(text(d, 4, 20), "JMS42               ");
    EXPECT_EQ(text(d, 24, 40), "Sim JMS Disk                            ");
    EXPECT_EQ(text(d, 64, 8), "FW7     ");
    EXPECT_EQ(get_le32(d.data(), DATA + 516), 1u); // NN
    EXPECT_EQ(tick_ms(), 4294967000u);             // Identify takes no device time
}

TEST_F(SimJmicron, DefaultControllerTextsArePadded) {
    HANDLE other = open_device("\\\\.\\PhysicalDrive3", 0, 128);
    std::vector<uint8_t> d = identify(0, 1, other);
    close_device(other);
    EXPECT_EQ(text(d, 4, 20), "SIM00000001         ");
    EXPECT_EQ(text(d, 24, 40), "Simulated NVMe                          ");
    EXPECT_EQ(text(d, 64, 8), "1.0     ");
}

TEST_F(SimJmicron, IdentifyNamespaceGeometry) {
    std::vector<uint8_t> d = identify(1, 0);
    EXPECT_EQ(get_le64(d.data(), DATA + 0), 80000u);
    EXPECT_EQ(get_le64(d.data(), DATA + 8), 80000u);
    EXPECT_EQ(get_le64(d.data(), DATA + 16), 80000u);
    EXPECT_EQ(d[DATA + 25], 2);
    EXPECT_EQ(d[DATA + 26], 0);
    EXPECT_EQ(d[DATA + 130], 9);
    EXPECT_EQ(d[DATA + 134], 12);
    EXPECT_EQ(d[DATA + 138], 13);
    EXPECT_EQ(d[DATA + 142], 0);
}

TEST_F(SimJmicron, ControllerRefusesIdentifyItDoesNotHave) {
    // Errors of the controller come back as CHECK CONDITION, no data.
    for (uint32_t nsid_cns : {0x0002u /*nsid 0, CNS 2*/, 0x0200u /*nsid 2, CNS 0*/}) {
        std::vector<uint8_t> d = identify(nsid_cns >> 8, nsid_cns & 0xFF);
        EXPECT_EQ(d[2], 0x02);
        EXPECT_EQ(d[SENSE + 2], 0x04);
        EXPECT_TRUE(zero_from(d, DATA));
    }
}

TEST_F(SimJmicron, BridgeRefusesWhatItDoesNotDecode) {
    struct Case {
        const char* what;
        void (*spoil_command)(std::vector<uint8_t>&);
        void (*spoil_data)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"signature", [](std::vector<uint8_t>& c) { c[DATA + 3] = 'F'; }, nullptr},
        {"bytes after signature", [](std::vector<uint8_t>& c) { c[DATA + 5] = 1; }, nullptr},
        {"command phase DataIn", [](std::vector<uint8_t>& c) { c[8] = 1; }, nullptr},
        {"command phase CDB length 16", [](std::vector<uint8_t>& c) { c[6] = 16; }, nullptr},
        {"command phase CDB byte 11", [](std::vector<uint8_t>& c) { c[28 + 11] = 1; }, nullptr},
        {"command phase CDB length field", [](std::vector<uint8_t>& c) { c[28 + 4] = 1; }, nullptr},
        {"data phase DataIn 0", nullptr, [](std::vector<uint8_t>& d) { d[8] = 0; }},
        {"data phase DataIn 2", nullptr, [](std::vector<uint8_t>& d) { d[8] = 2; }},
        {"data phase no data", nullptr, [](std::vector<uint8_t>& d) { d[29] = 0x81; }},
        {"data phase to device", nullptr,
         [](std::vector<uint8_t>& d) {
             d[29] = 0x83;
             d[8] = 0;
         }},
        {"data phase CDB length field", nullptr, [](std::vector<uint8_t>& d) { d[28 + 4] = 0x02; }},
        {"other opcode", nullptr, [](std::vector<uint8_t>& d) { d[28] = 0xA2; }},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = command_phase(0x06, 0, 1);
        if (k.spoil_command)
            k.spoil_command(c);
        ASSERT_TRUE(send(c)) << k.what;
        if (k.spoil_command)
            expect_refused(c, k.what);
        std::vector<uint8_t> d = identify_data_phase();
        if (k.spoil_data)
            k.spoil_data(d);
        ASSERT_TRUE(send(d)) << k.what;
        expect_refused(d, k.what);
        EXPECT_TRUE(zero_from(d, DATA)) << k.what;
    }
}

TEST_F(SimJmicron, IdentifyLengthMustBe4096) {
    for (uint32_t length : {512u, 8192u}) {
        std::vector<uint8_t> c = command_phase(0x06, 0, 1);
        send(c);
        std::vector<uint8_t> d = envelope(0x82, 1, length, 5);
        ASSERT_TRUE(send(d));
        expect_refused(d, "length");
        EXPECT_TRUE(zero_from(d, DATA));
    }
}

TEST_F(SimJmicron, DataPhaseNeedsItsOwnCommandPhase) {
    std::vector<uint8_t> d = identify_data_phase();
    ASSERT_TRUE(send(d));
    expect_refused(d, "no command phase");
    // A data phase uses the command up, refused or not.
    identify(0, 1);
    d = identify_data_phase();
    send(d);
    expect_refused(d, "second data phase");
    // A new command phase replaces the pending one.
    std::vector<uint8_t> c = command_phase(0x06, 1, 0);
    send(c);
    d = identify(0, 1);
    EXPECT_EQ(text(d, 24, 12), "Sim JMS Disk");
}

TEST_F(SimJmicron, MalformedHeaderFailsTheCall) {
    struct Case {
        const char* what;
        void (*spoil)(std::vector<uint8_t>&);
        int size_delta;
    };
    const Case cases[] = {
        {"Length 48", [](std::vector<uint8_t>& e) { e[0] = 48; }, 0},
        {"CdbLength 0", [](std::vector<uint8_t>& e) { e[6] = 0; }, 0},
        {"CdbLength 17", [](std::vector<uint8_t>& e) { e[6] = 17; }, 0},
        {"DataIn 3", [](std::vector<uint8_t>& e) { e[8] = 3; }, 0},
        {"DataBufferOffset 40", [](std::vector<uint8_t>& e) { e[20] = 40; }, 0},
        {"DataTransferLength beyond buffer",
         [](std::vector<uint8_t>& e) { put_le32(e.data(), 12, 4097); }, 0},
        {"sense beyond buffer", [](std::vector<uint8_t>& e) { put_le32(e.data(), 24, 4150); }, 0},
        {"buffer one byte short", nullptr, -1},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = command_phase(0x06, 0, 1);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d = identify_data_phase();
        if (k.spoil)
            k.spoil(d);
        uint32_t size = static_cast<uint32_t>(d.size() + k.size_delta);
        std::vector<uint8_t> sent = d;
        EXPECT_FALSE(device_control(disk, IOCTL_SCSI_PASS_THROUGH, d.data(), size, d.data(), size))
            << k.what;
        EXPECT_EQ(last_error(), 87u) << k.what;
        EXPECT_EQ(d, sent) << k.what;
    }
}

TEST_F(SimJmicron, FormatSwitchesTheFormatAndKeepsTheCapacity) {
    int ok = 0;
    std::vector<uint8_t> d = format(0x201, 300, &ok); // LBAF 1, SES 1
    EXPECT_TRUE(ok);
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(tick_ms(), 4294967000u + 1500u); // wrapped: 1204
    EXPECT_EQ(tick_ms(), 1204u);
    uint32_t flbas = 0;
    uint64_t nsze = 0;
    ASSERT_TRUE(sim_namespace(2, &flbas, &nsze));
    EXPECT_EQ(flbas, 1u);
    EXPECT_EQ(nsze, 10000u);
    std::vector<uint8_t> ns = identify(1, 0);
    EXPECT_EQ(ns[DATA + 26], 1);
    EXPECT_EQ(get_le64(ns.data(), DATA), 10000u);

    format(0x002, 300, &ok); // back to 8 KiB... LBAF 2 = 2^13
    ASSERT_TRUE(sim_namespace(2, &flbas, &nsze));
    EXPECT_EQ(flbas, 2u);
    EXPECT_EQ(nsze, 5000u);
}

TEST_F(SimJmicron, FormatErrorsLeaveTheNamespace) {
    struct Case {
        const char* what;
        uint32_t cdw10;
    } cases[] = {{"LBAF above NLBAF", 0x003}, {"SES 3", 0x601}, {"protection info", 0x021}};
    for (const Case& k : cases) {
        int ok = 0;
        std::vector<uint8_t> d = format(k.cdw10, 300, &ok);
        EXPECT_TRUE(ok) << k.what;
        EXPECT_EQ(d[2], 0x02) << k.what;
        EXPECT_EQ(d[SENSE + 2], 0x04) << k.what;
    }
    uint32_t flbas = 9;
    uint64_t nsze = 0;
    sim_namespace(2, &flbas, &nsze);
    EXPECT_EQ(flbas, 0u);
    EXPECT_EQ(nsze, 80000u);
    EXPECT_EQ(tick_ms(), 4294967000u); // refused at once

    // A forced completion status: the format is not applied but takes its time.
    HANDLE other = open_device("\\\\.\\PhysicalDrive3", 0, 128);
    std::vector<uint8_t> c = command_phase(0x80, 1, 0x001, 300);
    send(c, other);
    std::vector<uint8_t> d = envelope(0x81, 0, 0, 300);
    EXPECT_TRUE(send(d, other));
    EXPECT_EQ(d[2], 0x02);
    close_device(other);
    sim_namespace(3, &flbas, &nsze);
    EXPECT_EQ(flbas, 0u);
    EXPECT_EQ(static_cast<uint32_t>(tick_ms() - 4294967000u), 1500u);
}

TEST_F(SimJmicron, FormatLongerThanTheTimeoutFailsButIsApplied) {
    int ok = 1;
    format(0x001, 1, &ok); // 1500 ms against 1 s
    EXPECT_FALSE(ok);
    EXPECT_EQ(last_error(), 121u);
    EXPECT_EQ(static_cast<uint32_t>(tick_ms() - 4294967000u), 1000u);
    uint32_t flbas = 0;
    uint64_t nsze = 0;
    sim_namespace(2, &flbas, &nsze);
    EXPECT_EQ(flbas, 1u);
    // The command-phase timeout plays no part: only the data phase runs it.
    std::vector<uint8_t> c = command_phase(0x80, 1, 0x000, 1);
    send(c);
    std::vector<uint8_t> d = envelope(0x81, 0, 0, 2);
    EXPECT_TRUE(send(d));
    EXPECT_EQ(static_cast<uint32_t>(tick_ms() - 4294967000u), 2500u);
}

TEST_F(SimJmicron, InjectedFaultStopsTheCommandPhase) {
    ASSERT_TRUE(sim_load_host_text(
        R"({"drives": [{"number": 2, "path": "jmicron", "fail": [{"nth": 1, "error": 31}]}]})", "t",
        nullptr));
    disk = open_device("\\\\.\\PhysicalDrive2", 0, 128);
    std::vector<uint8_t> c = command_phase(0x06, 0, 1);
    EXPECT_FALSE(send(c));
    EXPECT_EQ(last_error(), 31u);
    std::vector<uint8_t> d = identify_data_phase();
    EXPECT_TRUE(send(d));
    expect_refused(d, "command phase never arrived");
}

TEST_F(SimJmicron, NoControllerBehindPathNone) {
    HANDLE usb = open_device("\\\\.\\PhysicalDrive6", 0, 128);
    std::vector<uint8_t> c = command_phase(0x06, 0, 1);
    ASSERT_TRUE(send(c, usb));
    expect_refused(c, "command phase");
    std::vector<uint8_t> d = identify_data_phase();
    ASSERT_TRUE(send(d, usb));
    expect_refused(d, "data phase");
    EXPECT_TRUE(zero_from(d, DATA));
    close_device(usb);
}

TEST_F(SimJmicron, PortHandleDoesNotTakePassThrough) {
    HANDLE port = open_device("\\\\.\\SCSI2:", 0, 128);
    std::vector<uint8_t> c = command_phase(0x06, 0, 1);
    EXPECT_FALSE(send(c, port));
    EXPECT_EQ(last_error(), 1u);
    close_device(port);
}

} // namespace
