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
#include "sim_support.h"

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

// Where the build's envelope has its data area, sense area and CDB.
const uint32_t DATA = spt().data;
const uint32_t SENSE = spt().sense;
const uint32_t CDB = spt().cdb;

std::vector<uint8_t> identify_data_phase() {
    return jms_envelope(0x82, SPT_IN, 4096, 5);
}

class SimJmicron : public SimTest {
  protected:
    void SetUp() override {
        load(HOST);
        disk = open_device("\\\\.\\PhysicalDrive2", 0, 128);
        ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        close_device(disk);
        SimTest::TearDown();
    }

    int send(std::vector<uint8_t>& e, HANDLE h = nullptr) { return send_in_place(h ? h : disk, e); }

    // Sends both phases; returns the data phase envelope as answered.
    std::vector<uint8_t> identify(uint32_t nsid, uint32_t cns, HANDLE h = nullptr) {
        std::vector<uint8_t> c = jms_command_phase(0x06, nsid, cns);
        EXPECT_TRUE(send(c, h));
        EXPECT_EQ(c[2], 0) << "command phase status";
        std::vector<uint8_t> d = identify_data_phase();
        EXPECT_TRUE(send(d, h));
        return d;
    }

    std::vector<uint8_t> format(uint32_t cdw10, uint32_t timeout, int* ok) {
        std::vector<uint8_t> c = jms_command_phase(0x80, 1, cdw10, timeout);
        EXPECT_TRUE(send(c));
        std::vector<uint8_t> d = jms_envelope(0x81, SPT_OUT, 0, timeout);
        *ok = send(d);
        return d;
    }

    HANDLE disk = INVALID_HANDLE_VALUE;
};

bool zero_from(const std::vector<uint8_t>& e, size_t from) {
    return std::all_of(e.begin() + static_cast<long>(from), e.end(),
                       [](uint8_t b) { return b == 0; });
}

TEST_F(SimJmicron, IdentifyControllerThroughBothPhases) {
    std::vector<uint8_t> d = identify(0, 1);
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(get_le32(d.data(), 12), 4096u);
    EXPECT_EQ(data_text(d, 4, 20), "JMS42               ");
    EXPECT_EQ(data_text(d, 24, 40), "Sim JMS Disk                            ");
    EXPECT_EQ(data_text(d, 64, 8), "FW7     ");
    EXPECT_EQ(get_le32(d.data(), DATA + 516), 1u); // NN
    EXPECT_EQ(tick_ms(), 4294967000u);             // Identify takes no device time
}

TEST_F(SimJmicron, DefaultControllerTextsArePadded) {
    HANDLE other = open_device("\\\\.\\PhysicalDrive3", 0, 128);
    std::vector<uint8_t> d = identify(0, 1, other);
    close_device(other);
    EXPECT_EQ(data_text(d, 4, 20), "SIM00000001         ");
    EXPECT_EQ(data_text(d, 24, 40), "Simulated NVMe                          ");
    EXPECT_EQ(data_text(d, 64, 8), "1.0     ");
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
        {"command phase CDB byte 11", [](std::vector<uint8_t>& c) { c[CDB + 11] = 1; }, nullptr},
        {"command phase CDB length field", [](std::vector<uint8_t>& c) { c[CDB + 4] = 1; },
         nullptr},
        {"block byte 72", [](std::vector<uint8_t>& c) { c[DATA + 72] = 1; }, nullptr},
        {"block byte 511", [](std::vector<uint8_t>& c) { c[DATA + 511] = 1; }, nullptr},
        {"entry fused bits", [](std::vector<uint8_t>& c) { c[DATA + 8 + 1] = 1; }, nullptr},
        {"entry data pointer", [](std::vector<uint8_t>& c) { c[DATA + 8 + 24] = 1; }, nullptr},
        {"data phase DataIn 0", nullptr, [](std::vector<uint8_t>& d) { d[8] = 0; }},
        {"data phase DataIn 2", nullptr, [](std::vector<uint8_t>& d) { d[8] = 2; }},
        {"data phase no data", nullptr, [](std::vector<uint8_t>& d) { d[CDB + 1] = 0x81; }},
        {"data phase to device", nullptr,
         [](std::vector<uint8_t>& d) {
             d[CDB + 1] = 0x83;
             d[8] = 0;
         }},
        {"data phase CDB length field", nullptr,
         [](std::vector<uint8_t>& d) { d[CDB + 4] = 0x02; }},
        {"other opcode", nullptr, [](std::vector<uint8_t>& d) { d[CDB] = 0xA2; }},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = jms_command_phase(0x06, 0, 1);
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
    }
}

TEST_F(SimJmicron, IdentifyLengthMustBe4096) {
    for (uint32_t length : {512u, 8192u}) {
        std::vector<uint8_t> c = jms_command_phase(0x06, 0, 1);
        send(c);
        std::vector<uint8_t> d = jms_envelope(0x82, 1, length, 5);
        ASSERT_TRUE(send(d));
        expect_refused(d, "length");
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
    std::vector<uint8_t> c = jms_command_phase(0x06, 1, 0);
    send(c);
    d = identify(0, 1);
    EXPECT_EQ(data_text(d, 24, 12), "Sim JMS Disk");
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
        {"DataBufferOffset 40", [](std::vector<uint8_t>& e) { e[spt().buffer_field] = 40; }, 0},
        {"DataTransferLength beyond buffer",
         [](std::vector<uint8_t>& e) { put_le32(e.data(), 12, 4097); }, 0},
        {"sense beyond buffer",
         [](std::vector<uint8_t>& e) { put_le32(e.data(), spt().sense_field, DATA + 4082); }, 0},
        {"sense over the data",
         [](std::vector<uint8_t>& e) { put_le32(e.data(), spt().sense_field, DATA - 18); }, 0},
        // The same envelope in the layout of the other Windows build.
        {"the other build's layout",
         [](std::vector<uint8_t>& e) {
             use_spt_layout(!spt().wide);
             e = identify_data_phase();
             use_spt_layout(!spt().wide);
         },
         0},
        {"sense shorter than fixed sense data", [](std::vector<uint8_t>& e) { e[7] = 17; }, 0},
        {"PathId 1", [](std::vector<uint8_t>& e) { e[3] = 1; }, 0},
        {"TargetId 1", [](std::vector<uint8_t>& e) { e[4] = 1; }, 0},
        {"Lun 1", [](std::vector<uint8_t>& e) { e[5] = 1; }, 0},
        {"buffer one byte short", nullptr, -1},
        {"buffer one byte long", [](std::vector<uint8_t>& e) { e.push_back(0); }, 0},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> c = jms_command_phase(0x06, 0, 1);
        ASSERT_TRUE(send(c));
        std::vector<uint8_t> d = identify_data_phase();
        if (k.spoil)
            k.spoil(d);
        uint32_t size = static_cast<uint32_t>(d.size() + k.size_delta);
        const std::vector<uint8_t> sent = d;
        EXPECT_FALSE(device_control(disk, IOCTL_SCSI_PASS_THROUGH, d.data(), size, d.data(), size))
            << k.what;
        EXPECT_EQ(last_error(), 87u) << k.what;
        EXPECT_EQ(d, sent) << k.what;
    }
    // An output buffer longer than the input.
    std::vector<uint8_t> c = jms_command_phase(0x06, 0, 1);
    ASSERT_TRUE(send(c));
    std::vector<uint8_t> d = identify_data_phase();
    const uint32_t size = static_cast<uint32_t>(d.size());
    d.push_back(0);
    EXPECT_FALSE(device_control(disk, IOCTL_SCSI_PASS_THROUGH, d.data(), size, d.data(), size + 1));
    EXPECT_EQ(last_error(), 87u);
}

TEST_F(SimJmicron, CompletionQueryAnswersWithTheLastCommandsEntry) {
    // Before any command: the signature and an empty entry.
    std::vector<uint8_t> q = jms_completion_query();
    ASSERT_TRUE(send(q));
    EXPECT_EQ(q[2], 0);
    EXPECT_EQ(get_le32(q.data(), 12), 512u);
    EXPECT_EQ(data_text(q, 0, 4), "NVME");
    EXPECT_TRUE(zero_from(q, DATA + 4));

    // A format the controller rejects (LBAF above NLBAF): SCT 1 / SC 0x0A in
    // bits 27..17 of dword 3, with the phase tag; everything else zero.
    int ok = 0;
    format(0x003, 300, &ok);
    q = jms_completion_query();
    ASSERT_TRUE(send(q));
    EXPECT_EQ(q[2], 0);
    EXPECT_EQ(data_text(q, 0, 4), "NVME");
    EXPECT_EQ(get_le32(q.data(), DATA + 20), 0x10Au << 17 | 1u << 16);
    q[DATA + 20] = q[DATA + 21] = q[DATA + 22] = q[DATA + 23] = 0;
    EXPECT_TRUE(zero_from(q, DATA + 4));

    // Between the phases of a command it changes nothing; afterwards it has
    // that command's success.
    std::vector<uint8_t> c = jms_command_phase(0x06, 0, 1);
    ASSERT_TRUE(send(c));
    q = jms_completion_query();
    ASSERT_TRUE(send(q));
    std::vector<uint8_t> d = identify_data_phase();
    ASSERT_TRUE(send(d));
    EXPECT_EQ(data_text(d, 24, 12), "Sim JMS Disk");
    q = jms_completion_query();
    ASSERT_TRUE(send(q));
    EXPECT_EQ(get_le32(q.data(), DATA + 20), 1u << 16);

    // Queries the bridge does not decode.
    struct Case {
        const char* what;
        void (*spoil)(std::vector<uint8_t>&);
    } cases[] = {
        {"DataIn 0", [](std::vector<uint8_t>& e) { e[8] = 0; }},
        {"CDB byte 2", [](std::vector<uint8_t>& e) { e[CDB + 2] = 1; }},
        {"CDB byte 11", [](std::vector<uint8_t>& e) { e[CDB + 11] = 1; }},
        {"16 bytes", [](std::vector<uint8_t>& e) { e = jms_envelope(0x8F, SPT_IN, 16, 5); }},
    };
    for (const Case& k : cases) {
        q = jms_completion_query();
        k.spoil(q);
        ASSERT_TRUE(send(q)) << k.what;
        expect_refused(q, k.what);
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
    std::vector<uint8_t> c = jms_command_phase(0x80, 1, 0x001, 300);
    send(c, other);
    std::vector<uint8_t> d = jms_envelope(0x81, 0, 0, 300);
    EXPECT_TRUE(send(d, other));
    EXPECT_EQ(d[2], 0x02);
    close_device(other);
    EXPECT_EQ(flbas_of(3), 0u);
    EXPECT_EQ(static_cast<uint32_t>(tick_ms() - 4294967000u), 1500u);
}

TEST_F(SimJmicron, FormatLongerThanTheTimeoutFailsButIsApplied) {
    int ok = 1;
    format(0x001, 1, &ok); // 1500 ms against 1 s
    EXPECT_FALSE(ok);
    EXPECT_EQ(last_error(), 121u);
    EXPECT_EQ(static_cast<uint32_t>(tick_ms() - 4294967000u), 1000u);
    EXPECT_EQ(flbas_of(2), 1u);
    // The command-phase timeout plays no part: only the data phase runs it.
    std::vector<uint8_t> c = jms_command_phase(0x80, 1, 0x000, 1);
    send(c);
    std::vector<uint8_t> d = jms_envelope(0x81, 0, 0, 2);
    EXPECT_TRUE(send(d));
    EXPECT_EQ(static_cast<uint32_t>(tick_ms() - 4294967000u), 2500u);
}

TEST_F(SimJmicron, InjectedFaultStopsTheCommandPhase) {
    ASSERT_TRUE(sim_load_host_text(
        R"({"drives": [{"number": 2, "path": "jmicron", "fail": [{"nth": 1, "error": 31}]}]})", "t",
        nullptr));
    disk = open_device("\\\\.\\PhysicalDrive2", 0, 128);
    std::vector<uint8_t> c = jms_command_phase(0x06, 0, 1);
    EXPECT_FALSE(send(c));
    EXPECT_EQ(last_error(), 31u);
    std::vector<uint8_t> d = identify_data_phase();
    EXPECT_TRUE(send(d));
    expect_refused(d, "command phase never arrived");
}

TEST_F(SimJmicron, NoControllerBehindPathNone) {
    HANDLE usb = open_device("\\\\.\\PhysicalDrive6", 0, 128);
    std::vector<uint8_t> c = jms_command_phase(0x06, 0, 1);
    ASSERT_TRUE(send(c, usb));
    expect_refused(c, "command phase");
    std::vector<uint8_t> d = identify_data_phase();
    ASSERT_TRUE(send(d, usb));
    expect_refused(d, "data phase");
    close_device(usb);
}

TEST_F(SimJmicron, PortHandleDoesNotTakePassThrough) {
    HANDLE port = open_device("\\\\.\\SCSI2:", 0, 128);
    std::vector<uint8_t> c = jms_command_phase(0x06, 0, 1);
    EXPECT_FALSE(send(c, port));
    EXPECT_EQ(last_error(), 1u);
    close_device(port);
}

} // namespace
