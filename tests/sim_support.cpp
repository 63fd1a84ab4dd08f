#include "sim_support.h"

#include <algorithm>
#include <cstring>

#include "platform/wire.h"
#include "sim/sim.h"
#include "support.h"

namespace {

// The input of the last request sent in place.
std::vector<uint8_t> g_sent;

const SptLayout LAYOUT_32 = {false, 44, 20, 24, 28, 44, 68};
const SptLayout LAYOUT_64 = {true, 56, 24, 32, 36, 56, 80};
#ifdef VELTRANE_WIN64
const SptLayout* g_layout = &LAYOUT_64;
#else
const SptLayout* g_layout = &LAYOUT_32;
#endif

} // namespace

const SptLayout& spt() {
    return *g_layout;
}

void use_spt_layout(bool wide) {
    g_layout = wide ? &LAYOUT_64 : &LAYOUT_32;
}

std::vector<uint8_t> spt_header(const std::string& hex32) {
    const std::vector<uint8_t> h = hex_bytes(hex32);
    if (!spt().wide || h.size() < 44)
        return h;
    std::vector<uint8_t> wide(56, 0);
    std::copy(h.begin(), h.begin() + 20, wide.begin()); // Length to TimeOutValue
    put_le16(wide.data(), 0, 56);
    const uint32_t sense = get_le32(h.data(), 24);
    put_le64(wide.data(), 24, get_le32(h.data(), 20) + 12); // the data after a longer header
    put_le32(wide.data(), 32, sense ? sense + 12 : 0);
    std::copy(h.begin() + 28, h.begin() + 44, wide.begin() + 36); // the CDB
    wide.insert(wide.end(), h.begin() + 44, h.end());
    return wide;
}

std::vector<uint8_t> spt_envelope(uint8_t cdb_length, uint8_t data_in, uint32_t length,
                                  uint32_t timeout, uint8_t sense_length, uint32_t sense_at) {
    const SptLayout& l = spt();
    std::vector<uint8_t> e(l.data + length, 0);
    uint8_t* p = e.data();
    put_le16(p, 0, l.length);
    put_u8(p, 6, cdb_length);
    put_u8(p, 7, sense_length);
    put_u8(p, 8, data_in);
    put_le32(p, 12, length);
    put_le32(p, 16, timeout);
    if (l.wide)
        put_le64(p, l.buffer_field, l.data);
    else
        put_le32(p, l.buffer_field, l.data);
    put_le32(p, l.sense_field, sense_at);
    return e;
}

std::vector<uint8_t> jms_envelope(uint8_t phase, uint8_t data_in, uint32_t length,
                                  uint32_t timeout) {
    std::vector<uint8_t> e = spt_envelope(12, data_in, length, timeout, 24, spt().sense);
    put_u8(e.data(), spt().cdb, 0xA1);
    put_u8(e.data(), spt().cdb + 1, phase);
    put_be(e.data(), spt().cdb + 3, 3, length);
    return e;
}

std::vector<uint8_t> jms_command_phase(uint8_t opcode, uint32_t nsid, uint32_t cdw10,
                                       uint32_t timeout) {
    std::vector<uint8_t> e = jms_envelope(0x80, SPT_OUT, 512, timeout);
    std::memcpy(e.data() + spt().data, "NVME", 4);
    put_u8(e.data(), spt().data + 8, opcode);
    put_le32(e.data(), spt().data + 12, nsid);
    put_le32(e.data(), spt().data + 48, cdw10);
    return e;
}

std::vector<uint8_t> asm_tunnel(uint8_t opcode, uint8_t phase, uint8_t dir, uint8_t data_in,
                                uint32_t length, uint32_t timeout) {
    std::vector<uint8_t> e = spt_envelope(16, data_in, length, timeout, 0, 0);
    const uint32_t cdb = spt().cdb;
    put_u8(e.data(), cdb, opcode);
    put_u8(e.data(), cdb + 1, 0x5A);
    put_u8(e.data(), cdb + 2, phase);
    put_u8(e.data(), cdb + 4, dir);
    put_be(e.data(), cdb + 10, 4, length);
    return e;
}

std::vector<uint8_t> asm_command_phase(uint8_t dir, uint8_t opcode, uint32_t nsid, uint32_t cdw10) {
    std::vector<uint8_t> e = asm_tunnel(0xEA, 0x80, dir, SPT_OUT, 64, 5);
    put_u8(e.data(), spt().data + 0, opcode);
    put_le32(e.data(), spt().data + 4, nsid);
    put_le32(e.data(), spt().data + 40, cdw10);
    return e;
}

std::vector<uint8_t> asm_read_phase(uint32_t length) {
    return asm_tunnel(0xEB, 0x81, DIR_FROM_BYTE, SPT_IN, length, 2);
}

std::vector<uint8_t> asm_no_data_phase(uint32_t timeout) {
    return asm_tunnel(0xEB, 0x81, DIR_NONE_BYTE, SPT_NONE, 0, timeout);
}

std::vector<uint8_t> asm_id_smart(uint8_t opcode, uint8_t cns, uint32_t length) {
    std::vector<uint8_t> e = spt_envelope(16, SPT_IN, length, 2, 24, spt().sense);
    put_u8(e.data(), spt().cdb, 0xE6);
    put_u8(e.data(), spt().cdb + 1, opcode);
    put_u8(e.data(), spt().cdb + 3, cns);
    return e;
}

std::vector<uint8_t> rtl_envelope(uint8_t opcode, uint8_t phase, uint8_t data_in, uint32_t length,
                                  uint8_t sense_length, uint32_t timeout) {
    std::vector<uint8_t> e = spt_envelope(16, data_in, length, timeout, sense_length, spt().sense);
    put_u8(e.data(), spt().cdb, opcode);
    put_le16(e.data(), spt().cdb + 1, length);
    put_u8(e.data(), spt().cdb + 3, phase);
    return e;
}

std::vector<uint8_t> rtl_command_phase(uint8_t opcode, uint32_t nsid, uint32_t cdw10) {
    std::vector<uint8_t> e = rtl_envelope(0xE5, 0xF7, SPT_OUT, 64, 0);
    put_u8(e.data(), spt().data + 0, opcode);
    put_le32(e.data(), spt().data + 4, nsid);
    put_le32(e.data(), spt().data + 40, cdw10);
    return e;
}

std::vector<uint8_t> rtl_data_phase(uint8_t dir, uint32_t length, uint32_t timeout) {
    static const uint8_t DATA_IN[3] = {SPT_NONE, SPT_IN, SPT_OUT};
    std::vector<uint8_t> e =
        rtl_envelope(dir == DIR_FROM_BYTE ? 0xE4 : 0xE5, 0xF8, DATA_IN[dir], length, 24, timeout);
    put_u8(e.data(), spt().cdb + 6, dir);
    return e;
}

std::vector<uint8_t> jms_completion_query() {
    return jms_envelope(0x8F, SPT_IN, 512, 5);
}

std::vector<uint8_t> asm_completion_query() {
    return asm_tunnel(0xEB, 0x82, 0, SPT_IN, 16, 5);
}

std::vector<uint8_t> rtl_completion_query() {
    return rtl_envelope(0xE4, 0xF9, SPT_IN, 16, 24, 5);
}

std::vector<uint8_t> inbox_query(uint32_t cns, uint32_t nsid, uint32_t property, uint32_t type,
                                 uint32_t length) {
    std::vector<uint8_t> q(48 + length, 0);
    uint8_t* p = q.data();
    put_le32(p, 0, property);
    put_le32(p, 8, 3);
    put_le32(p, 12, type);
    put_le32(p, 16, cns);
    put_le32(p, 20, nsid);
    put_le32(p, 24, 40);
    put_le32(p, 28, length);
    return q;
}

std::vector<uint8_t> protocol_command(uint8_t opcode, uint32_t nsid, uint32_t cdw10,
                                      uint32_t timeout) {
    std::vector<uint8_t> r(144, 0);
    uint8_t* p = r.data();
    put_le32(p, 0, 1);
    put_le32(p, 4, 84);
    put_le32(p, 8, 3);
    put_le32(p, 12, 0x80000000u);
    put_le32(p, 24, 64);
    put_le32(p, 40, timeout);
    put_le32(p, 56, 1);
    put_le32(p, 80, opcode);
    put_le32(p, 84, nsid);
    put_le32(p, 80 + 40, cdw10);
    return r;
}

std::vector<uint8_t> ofa_request(uint8_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t direction,
                                 uint32_t length, uint32_t timeout) {
    std::vector<uint8_t> r(152 + length, 0);
    uint8_t* p = r.data();
    put_le32(p, 0, 28);
    std::memcpy(p + 4, "NvmeMini", 8);
    put_le32(p, 12, timeout);
    put_le32(p, 16, 0xE0002000);
    put_le32(p, 24, 124 + length);
    put_le32(p, 52, opcode | 0x1234u << 16); // command identifier in the high half
    put_le32(p, 56, nsid);
    put_le32(p, 92, cdw10);
    put_le32(p, 132, direction);
    put_le32(p, 140, length);
    put_le32(p, 148, 152 + length);
    return r;
}

void with_sense(std::vector<uint8_t>& e) {
    put_u8(e.data(), 7, 24);
    put_le32(e.data(), spt().sense_field, spt().sense);
}

int send_in_place(HANDLE h, std::vector<uint8_t>& e, uint32_t code) {
    g_sent = e;
    const uint32_t size = static_cast<uint32_t>(e.size());
    return device_control(h, code, e.data(), size, e.data(), size);
}

void expect_refused(const std::vector<uint8_t>& e, const std::string& what) {
    EXPECT_EQ(e[2], 0x02) << what;
    EXPECT_EQ(get_le32(e.data(), 12), 0u) << what;
    // Nothing delivered: the data area is as it was sent.
    const uint32_t data = spt().data, sense = spt().sense;
    EXPECT_TRUE(std::equal(e.begin() + data, e.end(), g_sent.begin() + data, g_sent.end())) << what;
    if (e[7] != 0) {
        EXPECT_EQ(e[sense], 0x70) << what;
        EXPECT_EQ(e[sense + 2], 0x05) << what; // ILLEGAL REQUEST
        EXPECT_EQ(e[sense + 12], 0x20) << what;
    }
}

std::string data_text(const std::vector<uint8_t>& e, uint32_t off, uint32_t size) {
    return std::string(reinterpret_cast<const char*>(e.data() + spt().data + off), size);
}

uint32_t flbas_of(int number) {
    uint32_t flbas = 99;
    uint64_t nsze = 0;
    EXPECT_TRUE(sim_namespace(number, &flbas, &nsze));
    return flbas;
}

void SimTest::load(const char* host) {
    sim_reset();
    std::string error;
    ASSERT_TRUE(sim_load_host_text(host, "test", &error)) << error;
}

void SimTest::TearDown() {
    EXPECT_EQ(sim_open_handles(), 0);
    sim_reset();
}

const char* const SYSTEM_VOLUME = "\\\\.\\C:";

std::vector<nlohmann::json> drive_trace(const std::vector<nlohmann::json>& trace) {
    std::vector<nlohmann::json> lines;
    for (const nlohmann::json& line : trace)
        if (line.contains("path") && line.at("path") != SYSTEM_VOLUME &&
            line.at("path").get<std::string>().rfind("\\\\?\\", 0) != 0)
            lines.push_back(line);
    return lines;
}

std::vector<nlohmann::json> ioctls_with_code(const std::vector<nlohmann::json>& trace,
                                             uint32_t code) {
    std::vector<nlohmann::json> lines;
    for (const nlohmann::json& line : trace_ops(trace, "ioctl"))
        if (line.at("code").get<uint32_t>() == code)
            lines.push_back(line);
    return lines;
}

std::vector<std::vector<uint8_t>> scsi_inputs(const std::vector<nlohmann::json>& trace) {
    std::vector<std::vector<uint8_t>> inputs;
    for (const nlohmann::json& line : ioctls_with_code(trace, CODE_PASS_THROUGH))
        inputs.push_back(trace_input(line));
    return inputs;
}

std::vector<uint8_t> scsi_opcodes(const std::vector<nlohmann::json>& trace) {
    std::vector<uint8_t> opcodes;
    for (const std::vector<uint8_t>& in : scsi_inputs(trace))
        opcodes.push_back(in.at(spt().cdb));
    return opcodes;
}

// The JMicron command block has its entry 8 bytes into the data area, the
// OFA miniport request at 52, the protocol command at 80.
bool format_sent(const std::vector<nlohmann::json>& trace) {
    const uint32_t cdb = spt().cdb, data = spt().data;
    for (const nlohmann::json& line : ioctls_with_code(trace, CODE_PASS_THROUGH)) {
        const std::vector<uint8_t> in = trace_input(line);
        if (in.size() > data + 8 && in[cdb] == 0xA1 && in[cdb + 1] == 0x80 && in[data + 8] == 0x80)
            return true;
        // The ASMedia and Realtek command phases: the entry at the data area.
        if (in.size() > data &&
            ((in[cdb] == 0xEA && in[cdb + 2] == 0x80) ||
             (in[cdb] == 0xE5 && in[cdb + 3] == 0xF7)) &&
            in[data] == 0x80)
            return true;
    }
    for (uint32_t code : {CODE_MINIPORT, CODE_PROTOCOL_COMMAND}) {
        const uint32_t entry = code == CODE_MINIPORT ? 52 : 80;
        for (const nlohmann::json& line : ioctls_with_code(trace, code)) {
            const std::vector<uint8_t> in = trace_input(line);
            if (in.size() > entry && in[entry] == 0x80)
                return true;
        }
    }
    return false;
}

DriveState drive_on(HANDLE handle, uint32_t timeout_s) {
    DriveState drive;
    drive_state_init(&drive, 0);
    drive.disk = handle;
    drive.port = handle;
    drive.timeout = timeout_s;
    return drive;
}
