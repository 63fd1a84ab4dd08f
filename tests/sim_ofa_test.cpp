// The OFA miniport model, driven with requests built byte by byte: what it
// refuses and with which error, the completion entry it writes, the data it
// returns, timeouts, and the disk handle that refuses its request.
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
  "tick_start": 1000,
  "drives": [
    {"number": 1, "path": "ofa", "port": 4,
     "controller": {"model": "Sim OFA Disk", "serial": "OFA42", "firmware": "FW9",
                    "nsze": 80000, "lbads": [9, 12], "format_ms": 1500}},
    {"number": 2, "path": "ofa", "port": 5, "controller": {"format_status": 266}}
  ]
})";

std::vector<uint8_t> request(uint8_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t direction,
                             uint32_t length, uint32_t timeout = 5) {
    return ofa_request(opcode, nsid, cdw10, direction, length, timeout);
}

std::vector<uint8_t> identify(uint32_t nsid, uint32_t cns) {
    return request(0x06, nsid, cns, 2, 4096);
}

std::vector<uint8_t> format(uint32_t cdw10, uint32_t timeout = 300) {
    return request(0x80, 1, cdw10, 0, 0, timeout);
}

uint32_t dword3(const std::vector<uint8_t>& r) {
    return get_le32(r.data(), 128);
}
uint32_t sc(const std::vector<uint8_t>& r) {
    return (dword3(r) >> 17) & 0xFF;
}
uint32_t sct(const std::vector<uint8_t>& r) {
    return (dword3(r) >> 25) & 0x7;
}

class SimOfa : public SimTest {
  protected:
    void SetUp() override {
        load(HOST);
        port = open_device("\\\\.\\SCSI4:", 0, 128);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        close_device(port);
        SimTest::TearDown();
    }

    // Sends `r` as input and output; 0 and the last error when refused.
    int send(std::vector<uint8_t>& r, HANDLE h = nullptr, uint32_t code = IOCTL_SCSI_MINIPORT) {
        return send_in_place(h ? h : port, r, code);
    }
    // The status of `r` sent on the port, SCT in the high byte, SC in the
    // low one; the reply stays in `reply`.
    uint32_t status(std::vector<uint8_t> r) {
        EXPECT_TRUE(send(r));
        reply = r;
        return sct(r) << 8 | sc(r);
    }

    HANDLE port = INVALID_HANDLE_VALUE;
    std::vector<uint8_t> reply;
};

} // namespace

TEST_F(SimOfa, IdentifyControllerAndNamespaceThroughThePort) {
    std::vector<uint8_t> r = identify(0, 1);
    ASSERT_TRUE(send(r));
    EXPECT_EQ(dword3(r), 0x1234u | 1u << 16); // identifier echoed, phase set, success
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 152 + 4), 20),
              "OFA42               ");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 152 + 24), 12), "Sim OFA Disk");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 152 + 64), 8), "FW9     ");
    // The header travels back as it was sent.
    EXPECT_EQ(get_le32(r.data(), 0), 28u);
    EXPECT_EQ(get_le32(r.data(), 148), 4248u);

    std::vector<uint8_t> ns = identify(1, 0);
    ASSERT_TRUE(send(ns));
    EXPECT_EQ(dword3(ns) >> 17, 0u);
    EXPECT_EQ(get_le64(ns.data(), 152), 80000u); // NSZE
    EXPECT_EQ(ns[152 + 25], 1);                  // NLBAF
    EXPECT_EQ(ns[152 + 130 + 4], 12);            // LBADS of LBAF1
}

TEST_F(SimOfa, EveryMalformedFieldFailsTheCall) {
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> spoil;
        uint32_t error;
    };
    const Case cases[] = {
        {"HeaderLength", [](std::vector<uint8_t>& r) { put_le32(r.data(), 0, 24); }, 87},
        {"Signature", [](std::vector<uint8_t>& r) { r[11] = 'I'; }, 1},
        {"ControlCode", [](std::vector<uint8_t>& r) { put_le32(r.data(), 16, 0xE0002004); }, 1},
        {"Length", [](std::vector<uint8_t>& r) { put_le32(r.data(), 24, 4248); }, 87},
        {"ReturnBufferLen", [](std::vector<uint8_t>& r) { put_le32(r.data(), 148, 4220); }, 87},
        {"DataBufferLen", [](std::vector<uint8_t>& r) { put_le32(r.data(), 140, 4248); }, 87},
        {"Direction none", [](std::vector<uint8_t>& r) { put_le32(r.data(), 132, 0); }, 87},
        {"Direction to device", [](std::vector<uint8_t>& r) { put_le32(r.data(), 132, 1); }, 87},
        {"Direction 3", [](std::vector<uint8_t>& r) { put_le32(r.data(), 132, 3); }, 87},
        {"QueueId", [](std::vector<uint8_t>& r) { put_le32(r.data(), 136, 1); }, 87},
        {"MetaDataLen", [](std::vector<uint8_t>& r) { put_le32(r.data(), 144, 8); }, 87},
        {"ReturnCode", [](std::vector<uint8_t>& r) { put_le32(r.data(), 20, 1); }, 87},
        {"VendorSpecific", [](std::vector<uint8_t>& r) { r[51] = 1; }, 87},
        {"CplEntry on input", [](std::vector<uint8_t>& r) { r[116] = 1; }, 87},
        {"entry fused bits", [](std::vector<uint8_t>& r) { r[53] = 1; }, 87},
        {"entry data pointer", [](std::vector<uint8_t>& r) { r[52 + 24] = 1; }, 87},
        {"short data area",
         [](std::vector<uint8_t>& r) {
             r.resize(152 + 512);
             put_le32(r.data(), 24, 124 + 512);
             put_le32(r.data(), 140, 512);
             put_le32(r.data(), 148, 152 + 512);
         },
         87},
        {"no body",
         [](std::vector<uint8_t>& r) {
             r.resize(28);
             put_le32(r.data(), 24, 0);
         },
         87},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> r = identify(0, 1);
        c.spoil(r);
        EXPECT_FALSE(send(r)) << c.what;
        EXPECT_EQ(last_error(), c.error) << c.what;
        if (r.size() >= 152) { // no completion written
            EXPECT_EQ(dword3(r), 0u) << c.what;
        }
    }

    // Output size other than the input size.
    std::vector<uint8_t> r = identify(0, 1);
    r.resize(4248 + 8);
    EXPECT_FALSE(device_control(port, IOCTL_SCSI_MINIPORT, r.data(), 4248, r.data(), 4256));
    EXPECT_EQ(last_error(), 87u);
    EXPECT_FALSE(device_control(port, IOCTL_SCSI_MINIPORT, nullptr, 0, nullptr, 0));
    EXPECT_EQ(last_error(), 87u);
}

TEST_F(SimOfa, FormatMovesNoDataAndRefusedFormatsNeverRun) {
    // A format that declares data, or data to the host, is refused unrun.
    std::vector<uint8_t> with_data = request(0x80, 1, 1, 1, 512);
    EXPECT_FALSE(send(with_data));
    EXPECT_EQ(last_error(), 87u);
    std::vector<uint8_t> reading = format(1);
    put_le32(reading.data(), 132, 2);
    EXPECT_FALSE(send(reading));
    EXPECT_EQ(last_error(), 87u);
    EXPECT_EQ(flbas_of(1), 0u);
    EXPECT_EQ(tick_ms(), 1000u);

    std::vector<uint8_t> good = format(1 | 1 << 9);
    ASSERT_TRUE(send(good));
    EXPECT_EQ(dword3(good) >> 17, 0u);
    uint32_t flbas = 0;
    uint64_t nsze = 0;
    ASSERT_TRUE(sim_namespace(1, &flbas, &nsze));
    EXPECT_EQ(flbas, 1u);
    EXPECT_EQ(nsze, 10000u);
    EXPECT_EQ(tick_ms(), 2500u);
}

TEST_F(SimOfa, CompletionCarriesTheControllerStatus) {
    // LBAF above NLBAF: SCT 1 / SC 0x0A; SES 3: SCT 0 / SC 0x02.
    std::vector<uint8_t> bad_format = format(5);
    ASSERT_TRUE(send(bad_format));
    EXPECT_EQ(sc(bad_format), 0x0Au);
    EXPECT_EQ(sct(bad_format), 1u);
    EXPECT_EQ(dword3(bad_format) & 0xF001FFFFu, 0x1234u | 1u << 16); // identifier, phase
    std::vector<uint8_t> bad_ses = format(3 << 9);
    ASSERT_TRUE(send(bad_ses));
    EXPECT_EQ(sc(bad_ses), 0x02u);
    EXPECT_EQ(sct(bad_ses), 0u);

    // An Identify the controller rejects returns no data.
    std::vector<uint8_t> bad_cns = identify(0, 2);
    ASSERT_TRUE(send(bad_cns));
    EXPECT_EQ(sc(bad_cns), 0x02u);
    EXPECT_EQ(std::vector<uint8_t>(bad_cns.begin() + 152, bad_cns.end()),
              std::vector<uint8_t>(4096, 0));

    // An opcode the controller does not know reaches it whatever the data.
    std::vector<uint8_t> unknown = request(0xC1, 0, 0, 1, 64);
    ASSERT_TRUE(send(unknown));
    EXPECT_EQ(sc(unknown), 0x01u);
    EXPECT_EQ(sct(unknown), 0u);

    // The forced status of a drive's Format NVM: (1 << 8) | 0x0A.
    HANDLE other = open_device("\\\\.\\SCSI5:", 0, 128);
    std::vector<uint8_t> forced = format(0);
    ASSERT_TRUE(send(forced, other));
    EXPECT_EQ(sc(forced), 0x0Au);
    EXPECT_EQ(sct(forced), 1u);
    close_device(other);
}

TEST_F(SimOfa, TheRequestTimeoutBoundsTheDeviceTime) {
    // 1500 ms of formatting against 1 s: error 121 once the second has passed,
    // and the controller finishes the format all the same.
    std::vector<uint8_t> short_wait = format(1, 1);
    EXPECT_FALSE(send(short_wait));
    EXPECT_EQ(last_error(), 121u);
    EXPECT_EQ(tick_ms(), 2000u);
    EXPECT_EQ(flbas_of(1), 1u);

    std::vector<uint8_t> long_enough = format(0, 2);
    EXPECT_TRUE(send(long_enough));
    EXPECT_EQ(tick_ms(), 3500u);
    // Identify takes no device time: even a zero timeout holds.
    std::vector<uint8_t> quick = request(0x06, 0, 1, 2, 4096, 0);
    EXPECT_TRUE(send(quick));
}

TEST_F(SimOfa, DriverRequestsOnTheWrongHandleFail) {
    HANDLE disk = open_device("\\\\.\\PhysicalDrive1", 0, 128);
    std::vector<uint8_t> r = identify(0, 1);
    EXPECT_FALSE(send(r, disk));
    EXPECT_EQ(last_error(), 1u);

    // The OFA drive has no inbox driver: the protocol property is unknown.
    std::vector<uint8_t> query = inbox_query(1, 0);
    EXPECT_FALSE(send(query, disk, IOCTL_STORAGE_QUERY_PROPERTY));
    EXPECT_EQ(last_error(), 50u);
    EXPECT_FALSE(send(query, port, IOCTL_STORAGE_QUERY_PROPERTY));
    EXPECT_EQ(last_error(), 1u);
    close_device(disk);
}

TEST_F(SimOfa, SanitizeRunsOnTheClockAndItsLogFollowsIt) {
    auto log = [this](uint32_t dword) {
        std::vector<uint8_t> r = request(0x02, 0xFFFFFFFF, 0x81 | 127u << 16, 2, 512);
        EXPECT_TRUE(send(r));
        return get_le32(r.data(), 152 + dword * 4);
    };
    EXPECT_EQ(status(request(0x84, 0, 0x1B, 0, 0)), 0x02u); // SANICAP 3 lacks overwrite
    const uint32_t before = tick_ms();
    EXPECT_EQ(status(request(0x84, 0, 0x0A, 0, 0)), 0u);
    EXPECT_EQ(tick_ms(), before);   // it runs in the background
    EXPECT_EQ(log(0), 0x00020000u); // SPROG 0, in progress
    EXPECT_EQ(log(1), 0x0Au);
    EXPECT_EQ(log(2), 60u); // ETO, ETBE, ETCE in seconds
    EXPECT_EQ(log(3), 6u);
    EXPECT_EQ(log(4), 2u);
    EXPECT_EQ(status(format(0)), 0x1Du);
    EXPECT_EQ(status(identify(0, 1)), 0u);
    EXPECT_EQ(status(request(0x02, 0xFFFFFFFF, 0x02 | 127u << 16, 2, 512)), 0x109u);
    sleep_ms(3000);
    EXPECT_EQ(log(0) & 0xFFFF, 32768u);
    sleep_ms(3000);
    EXPECT_EQ(log(0), 0x0001FFFFu); // completed
    EXPECT_EQ(status(format(0)), 0u);
}

TEST_F(SimOfa, OneControllerAnswersForEachOfItsNamespaces) {
    // Namespaces 1 and 2 of one controller behind port 4 (drives 1 and 3),
    // and a drive beside them at another target.
    const auto use = [this](const std::string& controller) {
        close_device(port);
        load((R"({"drives": [
          {"number": 1, "path": "ofa", "port": 4, "controller": {"ms": [8, 0], "dps": 1, )" +
              controller + R"(}},
          {"number": 3, "path": "ofa", "port": 4, "lun": 1,
           "controller": {"nsze": 5000, "lbads": [9, 12, 12], "flbas": 16}},
          {"number": 5, "path": "ofa", "port": 4, "target_id": 1}]})")
                 .c_str());
        port = open_device("\\\\.\\SCSI4:", 0, 128);
    };
    // The first byte of drive `number`'s media, 0x100 when the read fails.
    const auto first_byte = [](int number) {
        HANDLE disk = open_device(("\\\\.\\PhysicalDrive" + std::to_string(number)).c_str(), 0, 0);
        std::vector<uint8_t> unit(4096, 0xEE);
        const int read = read_disk(disk, 0, unit.data(), 4096);
        close_device(disk);
        return read ? unit[0] : 0x100u;
    };
    use(R"("fna": 2)");
    // NN counts the drives that share the controller; FNA as given.
    EXPECT_EQ(status(request(0x06, 0, 1, 2, 4096)), 0u);
    EXPECT_EQ(get_le32(reply.data(), 152 + 516), 2u);
    EXPECT_EQ(reply[152 + 524], 2);
    // Identify Namespace for the NSID asked: DPS at 29, FLBAS with MSET.
    EXPECT_EQ(status(request(0x06, 2, 0, 2, 4096)), 0u);
    EXPECT_EQ(get_le64(reply.data(), 152), 5000u);
    EXPECT_EQ(reply[152 + 26], 16);
    EXPECT_EQ(status(request(0x06, 1, 0, 2, 4096)), 0u);
    EXPECT_EQ(reply[152 + 29], 1);
    EXPECT_EQ(status(request(0x06, 3, 0, 2, 4096)), 0x00Bu);
    // Protection information needs 8 bytes of metadata; a format keeps
    // what it sends. Format NVM of namespace 1 leaves namespace 2's format,
    // but its secure erase (FNA bit 1) erases it.
    EXPECT_EQ(status(format(1 | 1 << 5)), 0x002u);
    EXPECT_EQ(flbas_of(1), 0u);
    EXPECT_NE(first_byte(3), 0u);
    EXPECT_EQ(status(format(0x150)), 0u); // MSET, PI 2, PIL, no secure erase
    EXPECT_NE(first_byte(3), 0u);
    EXPECT_EQ(status(request(0x06, 1, 0, 2, 4096)), 0u);
    EXPECT_EQ(reply[152 + 26] << 8 | reply[152 + 29], 0x100Au);
    EXPECT_EQ(status(format(1 << 9)), 0u);
    EXPECT_EQ(status(request(0x06, 1, 0, 2, 4096)), 0u);
    EXPECT_EQ(reply[152 + 26] << 8 | reply[152 + 29], 0x000u);
    EXPECT_EQ(first_byte(3), 0u);
    EXPECT_EQ(flbas_of(3), 16u);

    // FNA bit 0: the format reaches every namespace, whichever it names;
    // NN as given. A sanitize erases every namespace, and namespace 2 reads
    // nothing while it runs. The drive at another target is another
    // controller.
    use(R"("fna": 1, "nn": 8)");
    EXPECT_EQ(status(request(0x06, 0, 1, 2, 4096)), 0u);
    EXPECT_EQ(get_le32(reply.data(), 152 + 516), 8u);
    EXPECT_EQ(status(request(0x80, 2, 0x150, 0, 0)), 0x002u); // namespace 2 has no metadata
    EXPECT_EQ(flbas_of(1) << 8 | flbas_of(3), 0x0010u);
    EXPECT_EQ(status(request(0x80, 2, 0x11, 0, 0)), 0u);
    EXPECT_EQ(flbas_of(1) << 8 | flbas_of(3), 0x1111u);
    EXPECT_EQ(status(format(0x201)), 0u);
    EXPECT_EQ(flbas_of(1) << 8 | flbas_of(3), 0x0101u);
    EXPECT_NE(first_byte(5), 0u);
    EXPECT_EQ(status(request(0x84, 0, 0x0C, 0, 0)), 0u);
    EXPECT_EQ(first_byte(3), 0x100u);
    sleep_ms(2000);
    EXPECT_EQ(first_byte(3) << 8 | first_byte(1), 0u);
    EXPECT_NE(first_byte(5), 0u);
}
