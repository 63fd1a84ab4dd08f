// The ASMedia bridge models (current and old firmware) and the controller
// behind them, driven with envelopes built byte by byte: the two-phase
// tunnel, the single-phase Id/Smart command, what each refuses, Format NVM
// and the data phase's timeout.
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
    {"number": 3, "path": "asmedia",
     "controller": {"model": "Sim ASM Disk", "serial": "ASM42", "firmware": "FW8",
                    "nsze": 80000, "lbads": [9, 12, 13], "format_ms": 1500}},
    {"number": 4, "path": "asmedia-legacy",
     "controller": {"model": "Sim Old ASM", "serial": "OLD7", "nsze": 1000}},
    {"number": 7, "path": "asmedia", "controller": {"format_ms": 5000}},
    {"number": 8, "path": "asmedia", "controller": {"format_status": 385}}
  ]
})";

// Where the build's envelope has its data area, sense area and CDB.
const uint32_t DATA = spt().data;
const uint32_t SENSE = spt().sense;
const uint32_t CDB = spt().cdb;
constexpr uint8_t NONE = DIR_NONE_BYTE, FROM = DIR_FROM_BYTE, TO = DIR_TO_BYTE; // CDB byte 4

class SimAsmedia : public SimTest {
  protected:
    void SetUp() override {
        load(HOST);
        current = open_device("\\\\.\\PhysicalDrive3", 0, 128);
        legacy = open_device("\\\\.\\PhysicalDrive4", 0, 128);
        ASSERT_NE(current, INVALID_HANDLE_VALUE);
        ASSERT_NE(legacy, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        close_device(current);
        close_device(legacy);
        SimTest::TearDown();
    }

    int send(std::vector<uint8_t>& e, HANDLE h = nullptr) {
        return send_in_place(h ? h : current, e);
    }

    // Identify through both phases of the tunnel; the data phase as answered.
    std::vector<uint8_t> identify(uint32_t nsid, uint32_t cns, HANDLE h = nullptr) {
        std::vector<uint8_t> c = asm_command_phase(FROM, 0x06, nsid, cns);
        EXPECT_TRUE(send(c, h));
        EXPECT_EQ(c[2], 0) << "command phase status";
        std::vector<uint8_t> d = asm_read_phase();
        EXPECT_TRUE(send(d, h));
        return d;
    }

    int format(uint32_t cdw10, HANDLE h = nullptr, std::vector<uint8_t>* answered = nullptr) {
        std::vector<uint8_t> c = asm_command_phase(NONE, 0x80, 1, cdw10);
        EXPECT_TRUE(send(c, h));
        std::vector<uint8_t> d = asm_no_data_phase();
        int ok = send(d, h);
        if (answered)
            *answered = d;
        return ok;
    }

    HANDLE current = INVALID_HANDLE_VALUE;
    HANDLE legacy = INVALID_HANDLE_VALUE;
};

TEST_F(SimAsmedia, TunnelIdentifiesControllerAndNamespace) {
    std::vector<uint8_t> d = identify(0, 1);
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(get_le32(d.data(), 12), 4096u);
    EXPECT_EQ(data_text(d, 4, 20), "ASM42               ");
    EXPECT_EQ(data_text(d, 24, 40), "Sim ASM Disk                            ");
    EXPECT_EQ(data_text(d, 64, 8), "FW8     ");
    EXPECT_EQ(get_le32(d.data(), DATA + 516), 1u);

    std::vector<uint8_t> ns = identify(1, 0);
    EXPECT_EQ(get_le64(ns.data(), DATA), 80000u);
    EXPECT_EQ(ns[DATA + 25], 2);
    EXPECT_EQ(ns[DATA + 130], 9);
    EXPECT_EQ(ns[DATA + 134], 12);
    EXPECT_EQ(ns[DATA + 138], 13);
    EXPECT_EQ(tick_ms(), 1000u); // Identify takes no device time
}

TEST_F(SimAsmedia, IdSmartIdentifiesOnBothFirmwares) {
    for (HANDLE h : {current, legacy}) {
        const bool old = h == legacy;
        std::vector<uint8_t> c = asm_id_smart(0x06, 1);
        ASSERT_TRUE(send(c, h));
        EXPECT_EQ(c[2], 0);
        EXPECT_EQ(get_le32(c.data(), 12), 4096u);
        EXPECT_EQ(data_text(c, 24, 12), old ? "Sim Old ASM " : "Sim ASM Disk");
        EXPECT_EQ(data_text(c, 4, 8), old ? "OLD7    " : "ASM42   ");

        std::vector<uint8_t> n = asm_id_smart(0x06, 0);
        ASSERT_TRUE(send(n, h));
        EXPECT_EQ(n[2], 0);
        EXPECT_EQ(get_le64(n.data(), DATA), old ? 1000u : 80000u);
        EXPECT_EQ(n[DATA + 130], 9);
    }
}

TEST_F(SimAsmedia, OldFirmwareKnowsNoTunnel) {
    std::vector<uint8_t> c = asm_command_phase(FROM, 0x06, 0, 1);
    with_sense(c);
    ASSERT_TRUE(send(c, legacy));
    expect_refused(c, "command phase");
    std::vector<uint8_t> d = asm_read_phase();
    ASSERT_TRUE(send(d, legacy));
    expect_refused(d, "data phase");
    std::vector<uint8_t> f = asm_command_phase(NONE, 0x80, 1, 0x001);
    ASSERT_TRUE(send(f, legacy));
    std::vector<uint8_t> g = asm_no_data_phase();
    ASSERT_TRUE(send(g, legacy));
    expect_refused(g, "format data phase");
    EXPECT_EQ(flbas_of(4), 0u);
}

TEST_F(SimAsmedia, TunnelRefusesWhatItDoesNotDecode) {
    struct Case {
        const char* what;
        void (*spoil_command)(std::vector<uint8_t>&);
        void (*spoil_data)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"command phase opcode EB", [](std::vector<uint8_t>& c) { c[CDB] = 0xEB; }, nullptr},
        {"command phase signature", [](std::vector<uint8_t>& c) { c[CDB + 1] = 0x5B; }, nullptr},
        {"command phase byte 3", [](std::vector<uint8_t>& c) { c[CDB + 3] = 1; }, nullptr},
        {"command phase direction 3", [](std::vector<uint8_t>& c) { c[CDB + 4] = 3; }, nullptr},
        {"command phase byte 5", [](std::vector<uint8_t>& c) { c[CDB + 5] = 1; }, nullptr},
        {"command phase byte 9", [](std::vector<uint8_t>& c) { c[CDB + 9] = 1; }, nullptr},
        {"command phase byte 10", [](std::vector<uint8_t>& c) { c[CDB + 10] = 1; }, nullptr},
        {"command phase length field", [](std::vector<uint8_t>& c) { c[CDB + 13] = 0x20; },
         nullptr},
        {"command phase byte 14", [](std::vector<uint8_t>& c) { c[CDB + 14] = 1; }, nullptr},
        {"command phase byte 15", [](std::vector<uint8_t>& c) { c[CDB + 15] = 1; }, nullptr},
        {"command phase DataIn 1", [](std::vector<uint8_t>& c) { c[8] = 1; }, nullptr},
        {"command phase DataIn 2", [](std::vector<uint8_t>& c) { c[8] = 2; }, nullptr},
        {"command phase CDB length 12", [](std::vector<uint8_t>& c) { c[6] = 12; }, nullptr},
        {"entry PRP/SGL bits", [](std::vector<uint8_t>& c) { c[DATA + 1] = 0x40; }, nullptr},
        {"entry metadata pointer", [](std::vector<uint8_t>& c) { c[DATA + 16] = 1; }, nullptr},
        {"command phase 32 bytes",
         [](std::vector<uint8_t>& c) {
             put_le32(c.data(), 12, 32);
             c[CDB + 13] = 32;
             c.resize(DATA + 32);
         },
         nullptr},
        {"data phase opcode EA", nullptr, [](std::vector<uint8_t>& d) { d[CDB] = 0xEA; }},
        {"data phase signature", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 1] = 0x00; }},
        {"data phase byte 2", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 2] = 0x82; }},
        {"data phase other direction", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 4] = 0; }},
        {"data phase DataIn 0", nullptr, [](std::vector<uint8_t>& d) { d[8] = 0; }},
        {"data phase DataIn 2", nullptr, [](std::vector<uint8_t>& d) { d[8] = 2; }},
        {"data phase length field", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 12] = 0x08; }},
        {"data phase byte 11", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 11] = 0x01; }},
        {"data phase byte 7", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 7] = 0x01; }},
        {"data phase byte 15", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 15] = 0x01; }},
        {"data phase CDB length 12", nullptr, [](std::vector<uint8_t>& d) { d[6] = 12; }},
        {"other opcode", nullptr, [](std::vector<uint8_t>& d) { d[CDB] = 0xEC; }},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = asm_command_phase(FROM, 0x06, 0, 1);
        if (k.spoil_command) {
            k.spoil_command(c);
            with_sense(c);
        }
        ASSERT_TRUE(send(c)) << k.what;
        if (k.spoil_command)
            expect_refused(c, k.what);
        else
            EXPECT_EQ(c[2], 0) << k.what;
        std::vector<uint8_t> d = asm_read_phase();
        if (k.spoil_data)
            k.spoil_data(d);
        with_sense(d);
        ASSERT_TRUE(send(d)) << k.what;
        expect_refused(d, k.what);
    }
}

TEST_F(SimAsmedia, DataPhaseMustFitThePendingCommand) {
    struct Case {
        const char* what;
        uint8_t opcode, dir, data_in;
        uint32_t length;
    } cases[] = {
        {"identify of 512 bytes", 0xEB, FROM, 1, 512},
        {"identify of 8192 bytes", 0xEB, FROM, 1, 8192},
        {"identify without data", 0xEB, NONE, 2, 0},
        {"identify to the device", 0xEA, TO, 0, 4096},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = asm_command_phase(k.dir, 0x06, 0, 1);
        ASSERT_TRUE(send(c));
        EXPECT_EQ(c[2], 0);
        std::vector<uint8_t> d = asm_tunnel(k.opcode, 0x81, k.dir, k.data_in, k.length, 2);
        with_sense(d);
        ASSERT_TRUE(send(d)) << k.what;
        expect_refused(d, k.what);
    }
    // Format NVM moves no data: a data phase that moves some is refused, and
    // the format is not run.
    for (uint8_t dir : {FROM, TO}) {
        std::vector<uint8_t> c = asm_command_phase(dir, 0x80, 1, 0x001);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d =
            asm_tunnel(dir == TO ? 0xEA : 0xEB, 0x81, dir, dir == TO ? 0 : 1, 512, 2);
        ASSERT_TRUE(send(d));
        expect_refused(d, "format with data");
    }
    EXPECT_EQ(tick_ms(), 1000u);
}

TEST_F(SimAsmedia, TransferLengthIsReadOverCdbBytesTenToThirteen) {
    // An unknown opcode with 65536 bytes to the device reaches the controller,
    // which rejects it (HARDWARE ERROR); the same length in bytes 12..13 alone
    // (00 00) does not match and the bridge refuses it (ILLEGAL REQUEST).
    std::vector<uint8_t> c = asm_command_phase(TO, 0x09, 1, 0);
    ASSERT_TRUE(send(c));
    std::vector<uint8_t> d = asm_tunnel(0xEA, 0x81, TO, 0, 65536, 2);
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + CDB + 10, d.begin() + CDB + 14),
              hex_bytes("00 01 00 00"));
    with_sense(d);
    ASSERT_TRUE(send(d));
    EXPECT_EQ(d[2], 0x02);
    EXPECT_EQ(d[SENSE + 2], 0x04);

    c = asm_command_phase(TO, 0x09, 1, 0);
    ASSERT_TRUE(send(c));
    d = asm_tunnel(0xEA, 0x81, TO, 0, 65536, 2);
    d[CDB + 10 + 1] = 0;
    with_sense(d);
    ASSERT_TRUE(send(d));
    expect_refused(d, "length in 16 bits");
}

TEST_F(SimAsmedia, DataPhaseNeedsItsOwnCommandPhase) {
    std::vector<uint8_t> d = asm_read_phase();
    ASSERT_TRUE(send(d));
    expect_refused(d, "no command phase");
    // A data phase uses the command up, refused or not.
    identify(0, 1);
    d = asm_read_phase();
    send(d);
    expect_refused(d, "second data phase");
    // A refused command phase leaves nothing pending.
    std::vector<uint8_t> c = asm_command_phase(FROM, 0x06, 0, 1);
    send(c);
    std::vector<uint8_t> bad = asm_command_phase(FROM, 0x06, 0, 1);
    bad[CDB + 3] = 1;
    send(bad);
    d = asm_read_phase();
    send(d);
    expect_refused(d, "after a refused command phase");
    // A new command phase replaces the pending one.
    c = asm_command_phase(FROM, 0x06, 1, 0);
    send(c);
    d = identify(0, 1);
    EXPECT_EQ(data_text(d, 24, 12), "Sim ASM Disk");
}

TEST_F(SimAsmedia, IdSmartRefusesAllButIdentifyOf4096Bytes) {
    struct Case {
        const char* what;
        void (*spoil)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"opcode 0x02 (Get Log Page)", [](std::vector<uint8_t>& e) { e[CDB + 1] = 0x02; }},
        {"opcode 0x80", [](std::vector<uint8_t>& e) { e[CDB + 1] = 0x80; }},
        {"CNS 2", [](std::vector<uint8_t>& e) { e[CDB + 3] = 0x02; }},
        {"byte 2", [](std::vector<uint8_t>& e) { e[CDB + 2] = 0x01; }},
        {"byte 4", [](std::vector<uint8_t>& e) { e[CDB + 4] = 0x01; }},
        {"byte 15", [](std::vector<uint8_t>& e) { e[CDB + 15] = 0x01; }},
        {"DataIn 0", [](std::vector<uint8_t>& e) { e[8] = 0; }},
        {"DataIn 2", [](std::vector<uint8_t>& e) { e[8] = 2; }},
        {"CDB length 12", [](std::vector<uint8_t>& e) { e[6] = 12; }},
        {"512 bytes",
         [](std::vector<uint8_t>& e) {
             put_le32(e.data(), 12, 512);
             e.resize(DATA + 512);
         }},
    };
    for (HANDLE h : {current, legacy}) {
        for (const Case& k : cases) {
            std::vector<uint8_t> e = asm_id_smart(0x06, 1);
            k.spoil(e);
            ASSERT_TRUE(send(e, h)) << k.what;
            expect_refused(e, k.what);
        }
        std::vector<uint8_t> big = asm_id_smart(0x06, 1, 8192);
        ASSERT_TRUE(send(big, h));
        expect_refused(big, "8192 bytes");
        std::vector<uint8_t> none = asm_id_smart(0x06, 1, 0);
        ASSERT_TRUE(send(none, h));
        expect_refused(none, "no data");
    }
}

TEST_F(SimAsmedia, OtherBridgesCommandsAreRefused) {
    for (HANDLE h : {current, legacy}) {
        // JMicron: A1 80 with the "NVME" block.
        std::vector<uint8_t> jms = jms_command_phase(0x06, 0, 1);
        ASSERT_TRUE(send(jms, h));
        expect_refused(jms, "JMicron command phase");
        // Realtek: E5 40 00 F7 with the entry, then E4 00 10 F8 00 00 01.
        std::vector<uint8_t> rtl = rtl_command_phase(0x06, 0, 1);
        with_sense(rtl);
        ASSERT_TRUE(send(rtl, h));
        expect_refused(rtl, "Realtek command phase");
        std::vector<uint8_t> rtl_data = rtl_data_phase(FROM, 4096);
        ASSERT_TRUE(send(rtl_data, h));
        expect_refused(rtl_data, "Realtek data phase");
    }
}

TEST_F(SimAsmedia, CompletionQueryAnswersWithTheLastCommandsEntry) {
    // Before any command: FF FF in bytes 14..15.
    std::vector<uint8_t> q = asm_completion_query();
    ASSERT_TRUE(send(q));
    EXPECT_EQ(q[2], 0);
    EXPECT_EQ(get_le32(q.data(), 12), 16u);
    EXPECT_EQ(std::vector<uint8_t>(q.begin() + DATA, q.end()),
              hex_bytes("00 00 00 00 00 00 00 00 00 00 00 00 00 00 FF FF"));
    // A rejected format (SES 3: SCT 0 / SC 0x02), then a successful Identify
    // through the Id/Smart command: each query has the latest.
    format(0x601);
    q = asm_completion_query();
    ASSERT_TRUE(send(q));
    EXPECT_EQ(std::vector<uint8_t>(q.begin() + DATA, q.end()),
              hex_bytes("00 00 00 00 00 00 00 00 00 00 00 00 00 00 05 00"));
    std::vector<uint8_t> e = asm_id_smart(0x06, 1);
    ASSERT_TRUE(send(e));
    q = asm_completion_query();
    ASSERT_TRUE(send(q));
    EXPECT_EQ(get_le32(q.data(), DATA + 12), 1u << 16);

    struct Case {
        const char* what;
        HANDLE handle;
        void (*spoil)(std::vector<uint8_t>&);
    } cases[] = {
        {"opcode EA", current, [](std::vector<uint8_t>& e) { e[CDB] = 0xEA; }},
        {"direction 1", current, [](std::vector<uint8_t>& e) { e[CDB + 4] = 1; }},
        {"DataIn 2", current, [](std::vector<uint8_t>& e) { e[8] = 2; }},
        {"64 bytes", current,
         [](std::vector<uint8_t>& e) { e = asm_tunnel(0xEB, 0x82, 0, SPT_IN, 64, 5); }},
        {"old firmware", legacy, [](std::vector<uint8_t>&) {}},
    };
    for (const Case& k : cases) {
        q = asm_completion_query();
        k.spoil(q);
        with_sense(q);
        ASSERT_TRUE(send(q, k.handle)) << k.what;
        expect_refused(q, k.what);
    }
}

TEST_F(SimAsmedia, FormatThroughTheTunnel) {
    std::vector<uint8_t> d;
    EXPECT_TRUE(format(0x201, nullptr, &d)); // LBAF 1, SES 1: 1500 ms within 2 s
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(tick_ms(), 2500u);
    uint32_t flbas = 0;
    uint64_t nsze = 0;
    ASSERT_TRUE(sim_namespace(3, &flbas, &nsze));
    EXPECT_EQ(flbas, 1u);
    EXPECT_EQ(nsze, 10000u);
    std::vector<uint8_t> ns = identify(1, 0);
    EXPECT_EQ(ns[DATA + 26], 1);
    // The Id/Smart command sees the same controller.
    std::vector<uint8_t> s = asm_id_smart(0x06, 0);
    send(s);
    EXPECT_EQ(get_le64(s.data(), DATA), 10000u);
}

TEST_F(SimAsmedia, ControllerErrorsComeBackAsCheckCondition) {
    for (uint32_t cdw10 : {0x003u /*LBAF above NLBAF*/, 0x601u /*SES 3*/}) {
        std::vector<uint8_t> c = asm_command_phase(NONE, 0x80, 1, cdw10);
        send(c);
        std::vector<uint8_t> d = asm_no_data_phase();
        with_sense(d);
        EXPECT_TRUE(send(d));
        EXPECT_EQ(d[2], 0x02);
        EXPECT_EQ(d[SENSE + 2], 0x04); // HARDWARE ERROR
    }
    EXPECT_EQ(flbas_of(3), 0u);
    EXPECT_EQ(tick_ms(), 1000u);

    // A forced completion status: not applied, but the time is spent.
    HANDLE other = open_device("\\\\.\\PhysicalDrive8", 0, 128);
    std::vector<uint8_t> d;
    EXPECT_TRUE(format(0x001, other, &d));
    EXPECT_EQ(d[2], 0x02);
    close_device(other);
    EXPECT_EQ(flbas_of(8), 0u);
    EXPECT_EQ(tick_ms(), 2500u);
}

TEST_F(SimAsmedia, FormatLongerThanTheDataPhaseTimeoutFailsButIsApplied) {
    HANDLE slow = open_device("\\\\.\\PhysicalDrive7", 0, 128);
    // The command phase carries 5 s but only hands the command over; the data
    // phase's 2 s bound the 5000 ms format.
    EXPECT_FALSE(format(0x001, slow));
    EXPECT_EQ(last_error(), 121u);
    EXPECT_EQ(tick_ms(), 3000u);
    EXPECT_EQ(flbas_of(7), 1u);
    // With a data phase of 5 s it completes.
    std::vector<uint8_t> c = asm_command_phase(NONE, 0x80, 1, 0x000);
    send(c, slow);
    std::vector<uint8_t> d = asm_no_data_phase(5);
    EXPECT_TRUE(send(d, slow));
    EXPECT_EQ(tick_ms(), 8000u);
    close_device(slow);
}

} // namespace
