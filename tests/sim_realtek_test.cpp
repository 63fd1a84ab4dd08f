// The Realtek bridge model and the controller behind it, driven with
// envelopes built byte by byte: both phases, what the bridge refuses, its
// 4096-byte limit, Format NVM and the 2-second timeout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/sim.h"
#include "support.h"

namespace {

const char* const HOST = R"({
  "tick_start": 1000,
  "drives": [
    {"number": 5, "path": "realtek",
     "controller": {"model": "Sim RTL Disk", "serial": "RTL42", "firmware": "FW9",
                    "nsze": 80000, "lbads": [9, 12, 13], "format_ms": 1500}},
    {"number": 7, "path": "realtek", "controller": {"format_ms": 5000}},
    {"number": 8, "path": "realtek", "controller": {"format_status": 385}}
  ]
})";

constexpr uint32_t DATA = 68;
constexpr uint32_t SENSE = 44;
constexpr uint8_t NONE = 0, FROM = 1, TO = 2; // CDB byte 6 of the data phase

// A Realtek envelope: 16-byte CDB <opcode> <length LE16> <phase>, sense
// requested at 44 with `sense_length` bytes, 2-second timeout.
std::vector<uint8_t> envelope(uint8_t opcode, uint8_t phase, uint8_t data_in, uint32_t length,
                              uint8_t sense_length, uint32_t timeout = 2) {
    std::vector<uint8_t> e(DATA + length, 0);
    uint8_t* p = e.data();
    put_le16(p, 0, 44);
    put_u8(p, 6, 16);
    put_u8(p, 7, sense_length);
    put_u8(p, 8, data_in);
    put_le32(p, 12, length);
    put_le32(p, 16, timeout);
    put_le32(p, 20, DATA);
    put_le32(p, 24, SENSE);
    put_u8(p, 28, opcode);
    put_le16(p, 29, length);
    put_u8(p, 31, phase);
    return e;
}

std::vector<uint8_t> command_phase(uint8_t opcode, uint32_t nsid, uint32_t cdw10) {
    std::vector<uint8_t> e = envelope(0xE5, 0xF7, 0, 64, 0);
    put_u8(e.data(), DATA + 0, opcode);
    put_le32(e.data(), DATA + 4, nsid);
    put_le32(e.data(), DATA + 40, cdw10);
    return e;
}

std::vector<uint8_t> data_phase(uint8_t dir, uint32_t length, uint32_t timeout = 2) {
    static const uint8_t DATA_IN[3] = {2, 1, 0};
    std::vector<uint8_t> e =
        envelope(dir == FROM ? 0xE4 : 0xE5, 0xF8, DATA_IN[dir], length, 24, timeout);
    put_u8(e.data(), 34, dir);
    return e;
}

std::string text(const std::vector<uint8_t>& e, uint32_t off, uint32_t size) {
    return std::string(reinterpret_cast<const char*>(e.data() + DATA + off), size);
}

// CHECK CONDITION, nothing transferred, no data delivered; with sense
// requested, the fixed sense data of ILLEGAL REQUEST.
// The input of the last request sent.
std::vector<uint8_t> g_sent;

void expect_refused(const std::vector<uint8_t>& e, const std::string& what) {
    EXPECT_EQ(e[2], 0x02) << what;
    EXPECT_EQ(get_le32(e.data(), 12), 0u) << what;
    // Nothing delivered: the data area is as it was sent.
    EXPECT_TRUE(std::equal(e.begin() + DATA, e.end(), g_sent.begin() + DATA, g_sent.end())) << what;
    if (e[7] != 0) {
        EXPECT_EQ(e[SENSE], 0x70) << what;
        EXPECT_EQ(e[SENSE + 2], 0x05) << what;
        EXPECT_EQ(e[SENSE + 12], 0x20) << what;
    }
}

class SimRealtek : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_reset();
        std::string error;
        ASSERT_TRUE(sim_load_host_text(HOST, "test", &error)) << error;
        disk = open_device("\\\\.\\PhysicalDrive5", 0, 128);
        ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        close_device(disk);
        EXPECT_EQ(sim_open_handles(), 0);
        sim_reset();
    }

    int send(std::vector<uint8_t>& e, HANDLE h = nullptr) {
        g_sent = e;
        uint32_t size = static_cast<uint32_t>(e.size());
        return device_control(h ? h : disk, IOCTL_SCSI_PASS_THROUGH, e.data(), size, e.data(),
                              size);
    }

    std::vector<uint8_t> identify(uint32_t nsid, uint32_t cns) {
        std::vector<uint8_t> c = command_phase(0x06, nsid, cns);
        EXPECT_TRUE(send(c));
        EXPECT_EQ(c[2], 0) << "command phase status";
        std::vector<uint8_t> d = data_phase(FROM, 4096);
        EXPECT_TRUE(send(d));
        return d;
    }

    int format(uint32_t cdw10, HANDLE h = nullptr, std::vector<uint8_t>* answered = nullptr) {
        std::vector<uint8_t> c = command_phase(0x80, 1, cdw10);
        EXPECT_TRUE(send(c, h));
        std::vector<uint8_t> d = data_phase(NONE, 0);
        int ok = send(d, h);
        if (answered)
            *answered = d;
        return ok;
    }

    HANDLE disk = INVALID_HANDLE_VALUE;
};

TEST_F(SimRealtek, EnvelopesBuiltHereAreTheToolsEdgeCases) {
    std::vector<uint8_t> c = command_phase(0x06, 0, 1);
    EXPECT_EQ(c.size(), 132u);
    EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.begin() + 44),
              hex_bytes("2C 00 00 00 00 00 10 00 00 00 00 00 40 00 00 00 02 00 00 00 44 00 00 "
                        "00 2C 00 00 00 E5 40 00 F7 00 00 00 00 00 00 00 00 00 00 00 00"));
    std::vector<uint8_t> d = data_phase(FROM, 4096);
    EXPECT_EQ(d.size(), 4164u);
    EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + 44),
              hex_bytes("2C 00 00 00 00 00 10 18 01 00 00 00 00 10 00 00 02 00 00 00 44 00 00 "
                        "00 2C 00 00 00 E4 00 10 F8 00 00 01 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(data_phase(NONE, 0),
              hex_bytes("2C 00 00 00 00 00 10 18 02 00 00 00 00 00 00 00 02 00 00 00 44 00 00 "
                        "00 2C 00 00 00 E5 00 00 F8 00 00 00 00 00 00 00 00 00 00 00 00 "
                        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
}

TEST_F(SimRealtek, IdentifyDataArriveInTheDataPhase) {
    std::vector<uint8_t> d = identify(0, 1);
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(get_le32(d.data(), 12), 4096u);
    EXPECT_EQ(text(d, 4, 20), "RTL42               ");
    EXPECT_EQ(text(d, 24, 40), "Sim RTL Disk                            ");
    EXPECT_EQ(text(d, 64, 8), "FW9     ");
    EXPECT_EQ(get_le32(d.data(), DATA + 516), 1u);
    EXPECT_EQ(get_le16(d.data(), DATA + 2048), 2500u); // deep in the 4096 bytes

    std::vector<uint8_t> ns = identify(1, 0);
    EXPECT_EQ(get_le64(ns.data(), DATA), 80000u);
    EXPECT_EQ(ns[DATA + 25], 2);
    EXPECT_EQ(ns[DATA + 138], 13);
    EXPECT_EQ(tick_ms(), 1000u);
}

TEST_F(SimRealtek, BridgeRefusesWhatItDoesNotDecode) {
    struct Case {
        const char* what;
        void (*spoil_command)(std::vector<uint8_t>&);
        void (*spoil_data)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"command phase opcode E4", [](std::vector<uint8_t>& c) { c[28] = 0xE4; }, nullptr},
        {"command phase length field", [](std::vector<uint8_t>& c) { c[29] = 0x41; }, nullptr},
        {"command phase length high byte", [](std::vector<uint8_t>& c) { c[30] = 0x01; }, nullptr},
        {"command phase byte 3", [](std::vector<uint8_t>& c) { c[31] = 0xF6; }, nullptr},
        {"command phase byte 4", [](std::vector<uint8_t>& c) { c[32] = 0x01; }, nullptr},
        {"command phase byte 6", [](std::vector<uint8_t>& c) { c[34] = 0x01; }, nullptr},
        {"command phase byte 15", [](std::vector<uint8_t>& c) { c[43] = 0x01; }, nullptr},
        {"command phase DataIn 1", [](std::vector<uint8_t>& c) { c[8] = 1; }, nullptr},
        {"command phase DataIn 2", [](std::vector<uint8_t>& c) { c[8] = 2; }, nullptr},
        {"command phase CDB length 12", [](std::vector<uint8_t>& c) { c[6] = 12; }, nullptr},
        {"command phase 32 bytes",
         [](std::vector<uint8_t>& c) {
             put_le32(c.data(), 12, 32);
             c[29] = 32;
         },
         nullptr},
        {"data phase opcode E5", nullptr, [](std::vector<uint8_t>& d) { d[28] = 0xE5; }},
        {"data phase opcode E6", nullptr, [](std::vector<uint8_t>& d) { d[28] = 0xE6; }},
        {"data phase length field", nullptr, [](std::vector<uint8_t>& d) { d[30] = 0x08; }},
        {"data phase byte 3", nullptr, [](std::vector<uint8_t>& d) { d[31] = 0xF9; }},
        {"data phase byte 4", nullptr, [](std::vector<uint8_t>& d) { d[32] = 0x01; }},
        {"data phase byte 5", nullptr, [](std::vector<uint8_t>& d) { d[33] = 0x01; }},
        {"data phase direction none", nullptr, [](std::vector<uint8_t>& d) { d[34] = 0; }},
        {"data phase direction 3", nullptr, [](std::vector<uint8_t>& d) { d[34] = 3; }},
        {"data phase byte 7", nullptr, [](std::vector<uint8_t>& d) { d[35] = 0x01; }},
        {"data phase byte 15", nullptr, [](std::vector<uint8_t>& d) { d[43] = 0x01; }},
        {"data phase DataIn 0", nullptr, [](std::vector<uint8_t>& d) { d[8] = 0; }},
        {"data phase DataIn 2", nullptr, [](std::vector<uint8_t>& d) { d[8] = 2; }},
        {"data phase CDB length 12", nullptr, [](std::vector<uint8_t>& d) { d[6] = 12; }},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = command_phase(0x06, 0, 1);
        if (k.spoil_command) {
            k.spoil_command(c);
            c[7] = 24; // sense requested, to see it
        }
        ASSERT_TRUE(send(c)) << k.what;
        if (k.spoil_command)
            expect_refused(c, k.what);
        else
            EXPECT_EQ(c[2], 0) << k.what;
        std::vector<uint8_t> d = data_phase(FROM, 4096);
        if (k.spoil_data)
            k.spoil_data(d);
        ASSERT_TRUE(send(d)) << k.what;
        expect_refused(d, k.what);
    }
}

TEST_F(SimRealtek, DataPhaseMovesAtMost4096BytesAndMustFitTheCommand) {
    struct Case {
        const char* what;
        uint8_t dir;
        uint32_t length;
    } cases[] = {
        {"identify of 512 bytes", FROM, 512},
        {"identify of 8192 bytes", FROM, 8192},
        {"identify without data", NONE, 0},
        {"identify to the device", TO, 4096},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = command_phase(0x06, 0, 1);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d = data_phase(k.dir, k.length);
        ASSERT_TRUE(send(d)) << k.what;
        expect_refused(d, k.what);
    }
    // An unknown opcode with data to the device reaches the controller (which
    // rejects it: HARDWARE ERROR) with 4096 bytes, not with 4097.
    for (uint32_t length : {4096u, 4097u}) {
        std::vector<uint8_t> c = command_phase(0x09, 1, 0);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d = data_phase(TO, length);
        ASSERT_TRUE(send(d));
        EXPECT_EQ(d[2], 0x02);
        EXPECT_EQ(d[SENSE + 2], length == 4096 ? 0x04 : 0x05) << length;
    }
    // Format NVM moves no data.
    for (uint8_t dir : {FROM, TO}) {
        std::vector<uint8_t> c = command_phase(0x80, 1, 0x001);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d = data_phase(dir, 512);
        ASSERT_TRUE(send(d));
        expect_refused(d, "format with data");
    }
    EXPECT_EQ(tick_ms(), 1000u);
}

TEST_F(SimRealtek, DataPhaseNeedsItsOwnCommandPhase) {
    std::vector<uint8_t> d = data_phase(FROM, 4096);
    ASSERT_TRUE(send(d));
    expect_refused(d, "no command phase");
    identify(0, 1);
    d = data_phase(FROM, 4096);
    send(d);
    expect_refused(d, "second data phase");
    std::vector<uint8_t> c = command_phase(0x06, 1, 0);
    send(c);
    d = identify(0, 1);
    EXPECT_EQ(text(d, 24, 12), "Sim RTL Disk");
}

TEST_F(SimRealtek, OtherBridgesCommandsAreRefused) {
    // ASMedia Id/Smart: E6 06 00 01.
    std::vector<uint8_t> e6 = envelope(0xE6, 0x01, 1, 4096, 24);
    e6[29] = 0x06;
    e6[30] = 0x00;
    ASSERT_TRUE(send(e6));
    expect_refused(e6, "ASMedia Id/Smart");
    // ASMedia tunnel: EA 5A 80 00 01 ... 00 40 00 00 with the entry.
    std::vector<uint8_t> ea = envelope(0xEA, 0x00, 0, 64, 24, 5);
    ea[29] = 0x5A;
    ea[30] = 0x80;
    ea[32] = 0x01;
    ea[41] = 0x40;
    ea[DATA] = 0x06;
    ea[DATA + 40] = 0x01;
    ASSERT_TRUE(send(ea));
    expect_refused(ea, "ASMedia command phase");
    // JMicron: A1 80, 12-byte CDB.
    std::vector<uint8_t> a1 = envelope(0xA1, 0x00, 0, 512, 24);
    a1[6] = 12;
    a1[29] = 0x80;
    a1[30] = 0x00;
    a1[32] = 0x02; // 512, big-endian over bytes 3..5
    std::memcpy(a1.data() + DATA, "NVME", 4);
    ASSERT_TRUE(send(a1));
    expect_refused(a1, "JMicron command phase");
    // None of them left a command pending.
    std::vector<uint8_t> d = data_phase(FROM, 4096);
    ASSERT_TRUE(send(d));
    expect_refused(d, "data phase after foreign commands");
}

TEST_F(SimRealtek, FormatWithinTwoSecondsIsApplied) {
    std::vector<uint8_t> d;
    EXPECT_TRUE(format(0x201, nullptr, &d));
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(tick_ms(), 2500u);
    uint32_t flbas = 0;
    uint64_t nsze = 0;
    ASSERT_TRUE(sim_namespace(5, &flbas, &nsze));
    EXPECT_EQ(flbas, 1u);
    EXPECT_EQ(nsze, 10000u);
    std::vector<uint8_t> ns = identify(1, 0);
    EXPECT_EQ(ns[DATA + 26], 1);
}

TEST_F(SimRealtek, ControllerErrorsComeBackAsCheckCondition) {
    std::vector<uint8_t> d;
    EXPECT_TRUE(format(0x003, nullptr, &d)); // LBAF above NLBAF
    EXPECT_EQ(d[2], 0x02);
    EXPECT_EQ(d[SENSE + 2], 0x04);
    HANDLE other = open_device("\\\\.\\PhysicalDrive8", 0, 128);
    EXPECT_TRUE(format(0x001, other, &d));
    EXPECT_EQ(d[2], 0x02);
    EXPECT_EQ(d[SENSE + 2], 0x04);
    close_device(other);
    uint32_t flbas = 9;
    uint64_t nsze = 0;
    sim_namespace(8, &flbas, &nsze);
    EXPECT_EQ(flbas, 0u);
    EXPECT_EQ(tick_ms(), 2500u);
}

TEST_F(SimRealtek, FormatLongerThanTwoSecondsFailsButIsApplied) {
    HANDLE slow = open_device("\\\\.\\PhysicalDrive7", 0, 128);
    EXPECT_FALSE(format(0x001, slow));
    EXPECT_EQ(last_error(), 121u);
    EXPECT_EQ(tick_ms(), 3000u);
    uint32_t flbas = 0;
    uint64_t nsze = 0;
    ASSERT_TRUE(sim_namespace(7, &flbas, &nsze));
    EXPECT_EQ(flbas, 1u);
    close_device(slow);
}

} // namespace
