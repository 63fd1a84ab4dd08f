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
#include "sim_support.h"
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

// Where the build's envelope has its data area, sense area and CDB.
const uint32_t DATA = spt().data;
const uint32_t SENSE = spt().sense;
const uint32_t CDB = spt().cdb;
constexpr uint8_t NONE = DIR_NONE_BYTE, FROM = DIR_FROM_BYTE, TO = DIR_TO_BYTE; // CDB byte 6

class SimRealtek : public SimTest {
  protected:
    void SetUp() override {
        load(HOST);
        disk = open_device("\\\\.\\PhysicalDrive5", 0, 128);
        ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        close_device(disk);
        SimTest::TearDown();
    }

    int send(std::vector<uint8_t>& e, HANDLE h = nullptr) { return send_in_place(h ? h : disk, e); }

    std::vector<uint8_t> identify(uint32_t nsid, uint32_t cns) {
        std::vector<uint8_t> c = rtl_command_phase(0x06, nsid, cns);
        EXPECT_TRUE(send(c));
        EXPECT_EQ(c[2], 0) << "command phase status";
        std::vector<uint8_t> d = rtl_data_phase(FROM, 4096);
        EXPECT_TRUE(send(d));
        return d;
    }

    int format(uint32_t cdw10, HANDLE h = nullptr, std::vector<uint8_t>* answered = nullptr) {
        std::vector<uint8_t> c = rtl_command_phase(0x80, 1, cdw10);
        EXPECT_TRUE(send(c, h));
        std::vector<uint8_t> d = rtl_data_phase(NONE, 0);
        int ok = send(d, h);
        if (answered)
            *answered = d;
        return ok;
    }

    HANDLE disk = INVALID_HANDLE_VALUE;
};

TEST_F(SimRealtek, IdentifyDataArriveInTheDataPhase) {
    std::vector<uint8_t> d = identify(0, 1);
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(get_le32(d.data(), 12), 4096u);
    EXPECT_EQ(data_text(d, 4, 20), "RTL42               ");
    EXPECT_EQ(data_text(d, 24, 40), "Sim RTL Disk                            ");
    EXPECT_EQ(data_text(d, 64, 8), "FW9     ");
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
        {"command phase opcode E4", [](std::vector<uint8_t>& c) { c[CDB] = 0xE4; }, nullptr},
        {"command phase length field", [](std::vector<uint8_t>& c) { c[CDB + 1] = 0x41; }, nullptr},
        {"command phase length high byte", [](std::vector<uint8_t>& c) { c[CDB + 2] = 0x01; },
         nullptr},
        {"command phase byte 3", [](std::vector<uint8_t>& c) { c[CDB + 3] = 0xF6; }, nullptr},
        {"command phase byte 4", [](std::vector<uint8_t>& c) { c[CDB + 4] = 0x01; }, nullptr},
        {"command phase byte 6", [](std::vector<uint8_t>& c) { c[CDB + 6] = 0x01; }, nullptr},
        {"command phase byte 15", [](std::vector<uint8_t>& c) { c[CDB + 15] = 0x01; }, nullptr},
        {"command phase DataIn 1", [](std::vector<uint8_t>& c) { c[8] = 1; }, nullptr},
        {"command phase DataIn 2", [](std::vector<uint8_t>& c) { c[8] = 2; }, nullptr},
        {"command phase CDB length 12", [](std::vector<uint8_t>& c) { c[6] = 12; }, nullptr},
        {"entry fused bits", [](std::vector<uint8_t>& c) { c[DATA + 1] = 0x01; }, nullptr},
        {"entry dword 9", [](std::vector<uint8_t>& c) { c[DATA + 39] = 1; }, nullptr},
        {"command phase 32 bytes",
         [](std::vector<uint8_t>& c) {
             put_le32(c.data(), 12, 32);
             c[CDB + 1] = 32;
             c.resize(DATA + 32);
         },
         nullptr},
        {"data phase opcode E5", nullptr, [](std::vector<uint8_t>& d) { d[CDB] = 0xE5; }},
        {"data phase opcode E6", nullptr, [](std::vector<uint8_t>& d) { d[CDB] = 0xE6; }},
        {"data phase length field", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 2] = 0x08; }},
        {"data phase byte 3", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 3] = 0xF9; }},
        {"data phase byte 4", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 4] = 0x01; }},
        {"data phase byte 5", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 5] = 0x01; }},
        {"data phase direction none", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 6] = 0; }},
        {"data phase direction 3", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 6] = 3; }},
        {"data phase byte 7", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 7] = 0x01; }},
        {"data phase byte 15", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 15] = 0x01; }},
        {"data phase DataIn 0", nullptr, [](std::vector<uint8_t>& d) { d[8] = 0; }},
        {"data phase DataIn 2", nullptr, [](std::vector<uint8_t>& d) { d[8] = 2; }},
        {"data phase CDB length 12", nullptr, [](std::vector<uint8_t>& d) { d[6] = 12; }},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = rtl_command_phase(0x06, 0, 1);
        if (k.spoil_command) {
            k.spoil_command(c);
            c[7] = 24; // sense requested, to see it
        }
        ASSERT_TRUE(send(c)) << k.what;
        if (k.spoil_command)
            expect_refused(c, k.what);
        else
            EXPECT_EQ(c[2], 0) << k.what;
        std::vector<uint8_t> d = rtl_data_phase(FROM, 4096);
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
        std::vector<uint8_t> c = rtl_command_phase(0x06, 0, 1);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d = rtl_data_phase(k.dir, k.length);
        ASSERT_TRUE(send(d)) << k.what;
        expect_refused(d, k.what);
    }
    // An unknown opcode with data to the device reaches the controller (which
    // rejects it: HARDWARE ERROR) with 4096 bytes, not with 4097.
    for (uint32_t length : {4096u, 4097u}) {
        std::vector<uint8_t> c = rtl_command_phase(0x09, 1, 0);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d = rtl_data_phase(TO, length);
        ASSERT_TRUE(send(d));
        EXPECT_EQ(d[2], 0x02);
        EXPECT_EQ(d[SENSE + 2], length == 4096 ? 0x04 : 0x05) << length;
    }
    // Format NVM moves no data.
    for (uint8_t dir : {FROM, TO}) {
        std::vector<uint8_t> c = rtl_command_phase(0x80, 1, 0x001);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d = rtl_data_phase(dir, 512);
        ASSERT_TRUE(send(d));
        expect_refused(d, "format with data");
    }
    EXPECT_EQ(tick_ms(), 1000u);
}

TEST_F(SimRealtek, DataPhaseNeedsItsOwnCommandPhase) {
    std::vector<uint8_t> d = rtl_data_phase(FROM, 4096);
    ASSERT_TRUE(send(d));
    expect_refused(d, "no command phase");
    identify(0, 1);
    d = rtl_data_phase(FROM, 4096);
    send(d);
    expect_refused(d, "second data phase");
    std::vector<uint8_t> c = rtl_command_phase(0x06, 1, 0);
    send(c);
    d = identify(0, 1);
    EXPECT_EQ(data_text(d, 24, 12), "Sim RTL Disk");
}

TEST_F(SimRealtek, OtherBridgesCommandsAreRefused) {
    // ASMedia Id/Smart: E6 06 00 01.
    std::vector<uint8_t> e6 = asm_id_smart(0x06, 1);
    ASSERT_TRUE(send(e6));
    expect_refused(e6, "ASMedia Id/Smart");
    // ASMedia tunnel: EA 5A 80 00 01 ... 00 40 00 00 with the entry.
    std::vector<uint8_t> ea = asm_command_phase(FROM, 0x06, 0, 1);
    with_sense(ea);
    ASSERT_TRUE(send(ea));
    expect_refused(ea, "ASMedia command phase");
    // JMicron: A1 80, 12-byte CDB.
    std::vector<uint8_t> a1 = jms_command_phase(0x06, 0, 1);
    ASSERT_TRUE(send(a1));
    expect_refused(a1, "JMicron command phase");
    // None of them left a command pending.
    std::vector<uint8_t> d = rtl_data_phase(FROM, 4096);
    ASSERT_TRUE(send(d));
    expect_refused(d, "data phase after foreign commands");
}

TEST_F(SimRealtek, CompletionQueryAnswersWithTheLastCommandsEntry) {
    std::vector<uint8_t> q = rtl_completion_query();
    ASSERT_TRUE(send(q));
    EXPECT_EQ(q[2], 0);
    EXPECT_EQ(get_le32(q.data(), 12), 16u);
    EXPECT_EQ(std::vector<uint8_t>(q.begin() + DATA, q.end()), std::vector<uint8_t>(16, 0));
    format(0x003); // LBAF above NLBAF: SCT 1 / SC 0x0A
    q = rtl_completion_query();
    ASSERT_TRUE(send(q));
    EXPECT_EQ(std::vector<uint8_t>(q.begin() + DATA, q.end()),
              hex_bytes("00 00 00 00 00 00 00 00 00 00 00 00 00 00 15 02"));

    struct Case {
        const char* what;
        void (*spoil)(std::vector<uint8_t>&);
    } cases[] = {
        {"opcode E5", [](std::vector<uint8_t>& e) { e[CDB] = 0xE5; }},
        {"length field", [](std::vector<uint8_t>& e) { e[CDB + 1] = 0x20; }},
        {"byte 6", [](std::vector<uint8_t>& e) { e[CDB + 6] = 1; }},
        {"DataIn 0", [](std::vector<uint8_t>& e) { e[8] = 0; }},
    };
    for (const Case& k : cases) {
        q = rtl_completion_query();
        k.spoil(q);
        ASSERT_TRUE(send(q)) << k.what;
        expect_refused(q, k.what);
    }
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
    EXPECT_EQ(flbas_of(8), 0u);
    EXPECT_EQ(tick_ms(), 2500u);
}

TEST_F(SimRealtek, FormatLongerThanTwoSecondsFailsButIsApplied) {
    HANDLE slow = open_device("\\\\.\\PhysicalDrive7", 0, 128);
    EXPECT_FALSE(format(0x001, slow));
    EXPECT_EQ(last_error(), 121u);
    EXPECT_EQ(tick_ms(), 3000u);
    EXPECT_EQ(flbas_of(7), 1u);
    close_device(slow);
}

} // namespace
