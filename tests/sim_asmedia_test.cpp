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

constexpr uint32_t DATA = 68;
constexpr uint32_t SENSE = 44;
constexpr uint8_t NONE = 0, FROM = 1, TO = 2; // CDB byte 4

// A two-phase envelope: EA/EB 5A <phase> 00 <dir>, the length big-endian over
// CDB bytes 10..13; no sense requested, as the tool sends it.
std::vector<uint8_t> tunnel(uint8_t opcode, uint8_t phase, uint8_t dir, uint8_t data_in,
                            uint32_t length, uint32_t timeout) {
    std::vector<uint8_t> e(DATA + length, 0);
    uint8_t* p = e.data();
    put_le16(p, 0, 44);
    put_u8(p, 6, 16);
    put_u8(p, 8, data_in);
    put_le32(p, 12, length);
    put_le32(p, 16, timeout);
    put_le32(p, 20, DATA);
    put_u8(p, 28, opcode);
    put_u8(p, 29, 0x5A);
    put_u8(p, 30, phase);
    put_u8(p, 32, dir);
    put_be(p, 38, 4, length);
    return e;
}

std::vector<uint8_t> command_phase(uint8_t dir, uint8_t opcode, uint32_t nsid, uint32_t cdw10) {
    std::vector<uint8_t> e = tunnel(0xEA, 0x80, dir, 0, 64, 5);
    put_u8(e.data(), DATA + 0, opcode);
    put_le32(e.data(), DATA + 4, nsid);
    put_le32(e.data(), DATA + 40, cdw10);
    return e;
}

std::vector<uint8_t> read_phase(uint32_t length = 4096) {
    return tunnel(0xEB, 0x81, FROM, 1, length, 2);
}

std::vector<uint8_t> no_data_phase(uint32_t timeout = 2) {
    return tunnel(0xEB, 0x81, NONE, 2, 0, timeout);
}

// The Id/Smart command: E6 <opcode> 00 <CNS>, sense requested, DataIn 1.
std::vector<uint8_t> id_smart(uint8_t opcode, uint8_t cns, uint32_t length = 4096) {
    std::vector<uint8_t> e(DATA + length, 0);
    uint8_t* p = e.data();
    put_le16(p, 0, 44);
    put_u8(p, 6, 16);
    put_u8(p, 7, 24);
    put_u8(p, 8, 1);
    put_le32(p, 12, length);
    put_le32(p, 16, 2);
    put_le32(p, 20, DATA);
    put_le32(p, 24, SENSE);
    put_u8(p, 28, 0xE6);
    put_u8(p, 29, opcode);
    put_u8(p, 31, cns);
    return e;
}

// Asks for sense data in an envelope that does not, to see the sense key.
void with_sense(std::vector<uint8_t>& e) {
    put_u8(e.data(), 7, 24);
    put_le32(e.data(), 24, SENSE);
}

std::string text(const std::vector<uint8_t>& e, uint32_t off, uint32_t size) {
    return std::string(reinterpret_cast<const char*>(e.data() + DATA + off), size);
}

// CHECK CONDITION, nothing transferred, no data delivered; the sense key
// when the envelope asked for sense data.
// The input of the last request sent.
std::vector<uint8_t> g_sent;

void expect_refused(const std::vector<uint8_t>& e, const std::string& what) {
    EXPECT_EQ(e[2], 0x02) << what;
    EXPECT_EQ(get_le32(e.data(), 12), 0u) << what;
    // Nothing delivered: the data area is as it was sent.
    EXPECT_TRUE(std::equal(e.begin() + DATA, e.end(), g_sent.begin() + DATA, g_sent.end())) << what;
    if (e[7] != 0) {
        EXPECT_EQ(e[SENSE], 0x70) << what;
        EXPECT_EQ(e[SENSE + 2], 0x05) << what; // ILLEGAL REQUEST
        EXPECT_EQ(e[SENSE + 12], 0x20) << what;
    }
}

class SimAsmedia : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_reset();
        std::string error;
        ASSERT_TRUE(sim_load_host_text(HOST, "test", &error)) << error;
        current = open_device("\\\\.\\PhysicalDrive3", 0, 128);
        legacy = open_device("\\\\.\\PhysicalDrive4", 0, 128);
        ASSERT_NE(current, INVALID_HANDLE_VALUE);
        ASSERT_NE(legacy, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        close_device(current);
        close_device(legacy);
        EXPECT_EQ(sim_open_handles(), 0);
        sim_reset();
    }

    int send(std::vector<uint8_t>& e, HANDLE h = nullptr) {
        g_sent = e;
        uint32_t size = static_cast<uint32_t>(e.size());
        return device_control(h ? h : current, IOCTL_SCSI_PASS_THROUGH, e.data(), size, e.data(),
                              size);
    }

    // Identify through both phases of the tunnel; the data phase as answered.
    std::vector<uint8_t> identify(uint32_t nsid, uint32_t cns, HANDLE h = nullptr) {
        std::vector<uint8_t> c = command_phase(FROM, 0x06, nsid, cns);
        EXPECT_TRUE(send(c, h));
        EXPECT_EQ(c[2], 0) << "command phase status";
        std::vector<uint8_t> d = read_phase();
        EXPECT_TRUE(send(d, h));
        return d;
    }

    int format(uint32_t cdw10, HANDLE h = nullptr, std::vector<uint8_t>* answered = nullptr) {
        std::vector<uint8_t> c = command_phase(NONE, 0x80, 1, cdw10);
        EXPECT_TRUE(send(c, h));
        std::vector<uint8_t> d = no_data_phase();
        int ok = send(d, h);
        if (answered)
            *answered = d;
        return ok;
    }

    HANDLE current = INVALID_HANDLE_VALUE;
    HANDLE legacy = INVALID_HANDLE_VALUE;
};

TEST_F(SimAsmedia, EnvelopesBuiltHereAreTheToolsWorkedExamples) {
    std::vector<uint8_t> c = command_phase(FROM, 0x06, 0, 1);
    EXPECT_EQ(c.size(), 132u);
    EXPECT_EQ(std::vector<uint8_t>(c.begin(), c.begin() + 44),
              hex_bytes("2C 00 00 00 00 00 10 00 00 00 00 00 40 00 00 00 05 00 00 00 44 00 00 "
                        "00 00 00 00 00 EA 5A 80 00 01 00 00 00 00 00 00 00 00 40 00 00"));
    std::vector<uint8_t> d = read_phase();
    EXPECT_EQ(d.size(), 4164u);
    EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + 44),
              hex_bytes("2C 00 00 00 00 00 10 00 01 00 00 00 00 10 00 00 02 00 00 00 44 00 00 "
                        "00 00 00 00 00 EB 5A 81 00 01 00 00 00 00 00 00 00 10 00 00 00"));
    EXPECT_EQ(no_data_phase(),
              hex_bytes("2C 00 00 00 00 00 10 00 02 00 00 00 00 00 00 00 02 00 00 00 44 00 00 "
                        "00 00 00 00 00 EB 5A 81 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    std::vector<uint8_t> s = id_smart(0x06, 1);
    EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 44),
              hex_bytes("2C 00 00 00 00 00 10 18 01 00 00 00 00 10 00 00 02 00 00 00 44 00 00 "
                        "00 2C 00 00 00 E6 06 00 01 00 00 00 00 00 00 00 00 00 00 00 00"));
}

TEST_F(SimAsmedia, TunnelIdentifiesControllerAndNamespace) {
    std::vector<uint8_t> d = identify(0, 1);
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(get_le32(d.data(), 12), 4096u);
    EXPECT_EQ(text(d, 4, 20), "ASM42               ");
    EXPECT_EQ(text(d, 24, 40), "Sim ASM Disk                            ");
    EXPECT_EQ(text(d, 64, 8), "FW8     ");
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
        std::vector<uint8_t> c = id_smart(0x06, 1);
        ASSERT_TRUE(send(c, h));
        EXPECT_EQ(c[2], 0);
        EXPECT_EQ(get_le32(c.data(), 12), 4096u);
        EXPECT_EQ(text(c, 24, 12), old ? "Sim Old ASM " : "Sim ASM Disk");
        EXPECT_EQ(text(c, 4, 8), old ? "OLD7    " : "ASM42   ");

        std::vector<uint8_t> n = id_smart(0x06, 0);
        ASSERT_TRUE(send(n, h));
        EXPECT_EQ(n[2], 0);
        EXPECT_EQ(get_le64(n.data(), DATA), old ? 1000u : 80000u);
        EXPECT_EQ(n[DATA + 130], 9);
    }
}

TEST_F(SimAsmedia, OldFirmwareKnowsNoTunnel) {
    std::vector<uint8_t> c = command_phase(FROM, 0x06, 0, 1);
    with_sense(c);
    ASSERT_TRUE(send(c, legacy));
    expect_refused(c, "command phase");
    std::vector<uint8_t> d = read_phase();
    ASSERT_TRUE(send(d, legacy));
    expect_refused(d, "data phase");
    std::vector<uint8_t> f = command_phase(NONE, 0x80, 1, 0x001);
    ASSERT_TRUE(send(f, legacy));
    std::vector<uint8_t> g = no_data_phase();
    ASSERT_TRUE(send(g, legacy));
    expect_refused(g, "format data phase");
    uint32_t flbas = 9;
    uint64_t nsze = 0;
    ASSERT_TRUE(sim_namespace(4, &flbas, &nsze));
    EXPECT_EQ(flbas, 0u);
}

TEST_F(SimAsmedia, TunnelRefusesWhatItDoesNotDecode) {
    struct Case {
        const char* what;
        void (*spoil_command)(std::vector<uint8_t>&);
        void (*spoil_data)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"command phase opcode EB", [](std::vector<uint8_t>& c) { c[28] = 0xEB; }, nullptr},
        {"command phase signature", [](std::vector<uint8_t>& c) { c[29] = 0x5B; }, nullptr},
        {"command phase byte 3", [](std::vector<uint8_t>& c) { c[31] = 1; }, nullptr},
        {"command phase direction 3", [](std::vector<uint8_t>& c) { c[32] = 3; }, nullptr},
        {"command phase byte 5", [](std::vector<uint8_t>& c) { c[33] = 1; }, nullptr},
        {"command phase byte 9", [](std::vector<uint8_t>& c) { c[37] = 1; }, nullptr},
        {"command phase byte 10", [](std::vector<uint8_t>& c) { c[38] = 1; }, nullptr},
        {"command phase length field", [](std::vector<uint8_t>& c) { c[41] = 0x20; }, nullptr},
        {"command phase byte 14", [](std::vector<uint8_t>& c) { c[42] = 1; }, nullptr},
        {"command phase byte 15", [](std::vector<uint8_t>& c) { c[43] = 1; }, nullptr},
        {"command phase DataIn 1", [](std::vector<uint8_t>& c) { c[8] = 1; }, nullptr},
        {"command phase DataIn 2", [](std::vector<uint8_t>& c) { c[8] = 2; }, nullptr},
        {"command phase CDB length 12", [](std::vector<uint8_t>& c) { c[6] = 12; }, nullptr},
        {"command phase 32 bytes",
         [](std::vector<uint8_t>& c) {
             put_le32(c.data(), 12, 32);
             c[41] = 32;
         },
         nullptr},
        {"data phase opcode EA", nullptr, [](std::vector<uint8_t>& d) { d[28] = 0xEA; }},
        {"data phase signature", nullptr, [](std::vector<uint8_t>& d) { d[29] = 0x00; }},
        {"data phase byte 2", nullptr, [](std::vector<uint8_t>& d) { d[30] = 0x82; }},
        {"data phase other direction", nullptr, [](std::vector<uint8_t>& d) { d[32] = 0; }},
        {"data phase DataIn 0", nullptr, [](std::vector<uint8_t>& d) { d[8] = 0; }},
        {"data phase DataIn 2", nullptr, [](std::vector<uint8_t>& d) { d[8] = 2; }},
        {"data phase length field", nullptr, [](std::vector<uint8_t>& d) { d[40] = 0x08; }},
        {"data phase byte 11", nullptr, [](std::vector<uint8_t>& d) { d[39] = 0x01; }},
        {"data phase byte 7", nullptr, [](std::vector<uint8_t>& d) { d[35] = 0x01; }},
        {"data phase byte 15", nullptr, [](std::vector<uint8_t>& d) { d[43] = 0x01; }},
        {"data phase CDB length 12", nullptr, [](std::vector<uint8_t>& d) { d[6] = 12; }},
        {"other opcode", nullptr, [](std::vector<uint8_t>& d) { d[28] = 0xEC; }},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = command_phase(FROM, 0x06, 0, 1);
        if (k.spoil_command) {
            k.spoil_command(c);
            with_sense(c);
        }
        ASSERT_TRUE(send(c)) << k.what;
        if (k.spoil_command)
            expect_refused(c, k.what);
        else
            EXPECT_EQ(c[2], 0) << k.what;
        std::vector<uint8_t> d = read_phase();
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
        std::vector<uint8_t> c = command_phase(k.dir, 0x06, 0, 1);
        ASSERT_TRUE(send(c));
        EXPECT_EQ(c[2], 0);
        std::vector<uint8_t> d = tunnel(k.opcode, 0x81, k.dir, k.data_in, k.length, 2);
        with_sense(d);
        ASSERT_TRUE(send(d)) << k.what;
        expect_refused(d, k.what);
    }
    // Format NVM moves no data: a data phase that moves some is refused, and
    // the format is not run.
    for (uint8_t dir : {FROM, TO}) {
        std::vector<uint8_t> c = command_phase(dir, 0x80, 1, 0x001);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d =
            tunnel(dir == TO ? 0xEA : 0xEB, 0x81, dir, dir == TO ? 0 : 1, 512, 2);
        ASSERT_TRUE(send(d));
        expect_refused(d, "format with data");
    }
    EXPECT_EQ(tick_ms(), 1000u);
}

TEST_F(SimAsmedia, TransferLengthIsReadOverCdbBytesTenToThirteen) {
    // An unknown opcode with 65536 bytes to the device reaches the controller,
    // which rejects it (HARDWARE ERROR); the same length in bytes 12..13 alone
    // (00 00) does not match and the bridge refuses it (ILLEGAL REQUEST).
    std::vector<uint8_t> c = command_phase(TO, 0x09, 1, 0);
    ASSERT_TRUE(send(c));
    std::vector<uint8_t> d = tunnel(0xEA, 0x81, TO, 0, 65536, 2);
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + 38, d.begin() + 42), hex_bytes("00 01 00 00"));
    with_sense(d);
    ASSERT_TRUE(send(d));
    EXPECT_EQ(d[2], 0x02);
    EXPECT_EQ(d[SENSE + 2], 0x04);

    c = command_phase(TO, 0x09, 1, 0);
    ASSERT_TRUE(send(c));
    d = tunnel(0xEA, 0x81, TO, 0, 65536, 2);
    d[38 + 1] = 0;
    with_sense(d);
    ASSERT_TRUE(send(d));
    expect_refused(d, "length in 16 bits");
}

TEST_F(SimAsmedia, DataPhaseNeedsItsOwnCommandPhase) {
    std::vector<uint8_t> d = read_phase();
    ASSERT_TRUE(send(d));
    expect_refused(d, "no command phase");
    // A data phase uses the command up, refused or not.
    identify(0, 1);
    d = read_phase();
    send(d);
    expect_refused(d, "second data phase");
    // A refused command phase leaves nothing pending.
    std::vector<uint8_t> c = command_phase(FROM, 0x06, 0, 1);
    send(c);
    std::vector<uint8_t> bad = command_phase(FROM, 0x06, 0, 1);
    bad[31] = 1;
    send(bad);
    d = read_phase();
    send(d);
    expect_refused(d, "after a refused command phase");
    // A new command phase replaces the pending one.
    c = command_phase(FROM, 0x06, 1, 0);
    send(c);
    d = identify(0, 1);
    EXPECT_EQ(text(d, 24, 12), "Sim ASM Disk");
}

TEST_F(SimAsmedia, IdSmartRefusesAllButIdentifyOf4096Bytes) {
    struct Case {
        const char* what;
        void (*spoil)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"opcode 0x02 (Get Log Page)", [](std::vector<uint8_t>& e) { e[29] = 0x02; }},
        {"opcode 0x80", [](std::vector<uint8_t>& e) { e[29] = 0x80; }},
        {"CNS 2", [](std::vector<uint8_t>& e) { e[31] = 0x02; }},
        {"byte 2", [](std::vector<uint8_t>& e) { e[30] = 0x01; }},
        {"byte 4", [](std::vector<uint8_t>& e) { e[32] = 0x01; }},
        {"byte 15", [](std::vector<uint8_t>& e) { e[43] = 0x01; }},
        {"DataIn 0", [](std::vector<uint8_t>& e) { e[8] = 0; }},
        {"DataIn 2", [](std::vector<uint8_t>& e) { e[8] = 2; }},
        {"CDB length 12", [](std::vector<uint8_t>& e) { e[6] = 12; }},
        {"512 bytes", [](std::vector<uint8_t>& e) { put_le32(e.data(), 12, 512); }},
    };
    for (HANDLE h : {current, legacy}) {
        for (const Case& k : cases) {
            std::vector<uint8_t> e = id_smart(0x06, 1);
            k.spoil(e);
            ASSERT_TRUE(send(e, h)) << k.what;
            expect_refused(e, k.what);
        }
        std::vector<uint8_t> big = id_smart(0x06, 1, 8192);
        ASSERT_TRUE(send(big, h));
        expect_refused(big, "8192 bytes");
        std::vector<uint8_t> none = id_smart(0x06, 1, 0);
        ASSERT_TRUE(send(none, h));
        expect_refused(none, "no data");
    }
}

TEST_F(SimAsmedia, OtherBridgesCommandsAreRefused) {
    for (HANDLE h : {current, legacy}) {
        // JMicron: A1 80 with the "NVME" block, then A1 82.
        std::vector<uint8_t> jms(DATA + 512, 0);
        put_le16(jms.data(), 0, 44);
        jms[6] = 12;
        jms[7] = 24;
        put_le32(jms.data(), 12, 512);
        put_le32(jms.data(), 16, 5);
        put_le32(jms.data(), 20, DATA);
        put_le32(jms.data(), 24, SENSE);
        jms[28] = 0xA1;
        jms[29] = 0x80;
        jms[32] = 0x02;
        std::memcpy(jms.data() + DATA, "NVME", 4);
        jms[DATA + 8] = 0x06;
        jms[DATA + 48] = 0x01;
        ASSERT_TRUE(send(jms, h));
        expect_refused(jms, "JMicron command phase");

        // Realtek: E5 40 00 F7 with the entry, then E4 00 10 F8 00 00 01.
        std::vector<uint8_t> rtl(DATA + 64, 0);
        put_le16(rtl.data(), 0, 44);
        rtl[6] = 16;
        put_le32(rtl.data(), 12, 64);
        put_le32(rtl.data(), 16, 2);
        put_le32(rtl.data(), 20, DATA);
        put_le32(rtl.data(), 24, SENSE);
        rtl[7] = 24;
        rtl[28] = 0xE5;
        rtl[29] = 0x40;
        rtl[31] = 0xF7;
        rtl[DATA] = 0x06;
        rtl[DATA + 40] = 0x01;
        ASSERT_TRUE(send(rtl, h));
        expect_refused(rtl, "Realtek command phase");
        std::vector<uint8_t> rtl_data(DATA + 4096, 0);
        std::memcpy(rtl_data.data(), rtl.data(), 28);
        put_le32(rtl_data.data(), 12, 4096);
        rtl_data[8] = 1;
        rtl_data[28] = 0xE4;
        rtl_data[30] = 0x10;
        rtl_data[31] = 0xF8;
        rtl_data[34] = 0x01;
        ASSERT_TRUE(send(rtl_data, h));
        expect_refused(rtl_data, "Realtek data phase");
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
    std::vector<uint8_t> s = id_smart(0x06, 0);
    send(s);
    EXPECT_EQ(get_le64(s.data(), DATA), 10000u);
}

TEST_F(SimAsmedia, ControllerErrorsComeBackAsCheckCondition) {
    for (uint32_t cdw10 : {0x003u /*LBAF above NLBAF*/, 0x601u /*SES 3*/}) {
        std::vector<uint8_t> c = command_phase(NONE, 0x80, 1, cdw10);
        send(c);
        std::vector<uint8_t> d = no_data_phase();
        with_sense(d);
        EXPECT_TRUE(send(d));
        EXPECT_EQ(d[2], 0x02);
        EXPECT_EQ(d[SENSE + 2], 0x04); // HARDWARE ERROR
    }
    uint32_t flbas = 9;
    uint64_t nsze = 0;
    sim_namespace(3, &flbas, &nsze);
    EXPECT_EQ(flbas, 0u);
    EXPECT_EQ(tick_ms(), 1000u);

    // A forced completion status: not applied, but the time is spent.
    HANDLE other = open_device("\\\\.\\PhysicalDrive8", 0, 128);
    std::vector<uint8_t> d;
    EXPECT_TRUE(format(0x001, other, &d));
    EXPECT_EQ(d[2], 0x02);
    close_device(other);
    sim_namespace(8, &flbas, &nsze);
    EXPECT_EQ(flbas, 0u);
    EXPECT_EQ(tick_ms(), 2500u);
}

TEST_F(SimAsmedia, FormatLongerThanTheDataPhaseTimeoutFailsButIsApplied) {
    HANDLE slow = open_device("\\\\.\\PhysicalDrive7", 0, 128);
    // The command phase carries 5 s but only hands the command over; the data
    // phase's 2 s bound the 5000 ms format.
    EXPECT_FALSE(format(0x001, slow));
    EXPECT_EQ(last_error(), 121u);
    EXPECT_EQ(tick_ms(), 3000u);
    uint32_t flbas = 0;
    uint64_t nsze = 0;
    ASSERT_TRUE(sim_namespace(7, &flbas, &nsze));
    EXPECT_EQ(flbas, 1u);
    // With a data phase of 5 s it completes.
    std::vector<uint8_t> c = command_phase(NONE, 0x80, 1, 0x000);
    send(c, slow);
    std::vector<uint8_t> d = no_data_phase(5);
    EXPECT_TRUE(send(d, slow));
    EXPECT_EQ(tick_ms(), 8000u);
    close_device(slow);
}

} // namespace
