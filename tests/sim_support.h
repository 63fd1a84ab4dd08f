// Requests built byte by byte for the simulated drivers and bridges, sent
// in place, and what the trace says the tool sent.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/device.h"
#include "transport/drive_state.h"

// Request codes as the trace shows them, written out here so that a wrong
// code in platform/ shows.
constexpr uint32_t CODE_QUERY_PROPERTY = 0x002D1400;
constexpr uint32_t CODE_GET_ADDRESS = 0x00041018;
constexpr uint32_t CODE_MINIPORT = 0x0004D008;
constexpr uint32_t CODE_PASS_THROUGH = 0x0004D004;
constexpr uint32_t CODE_PROTOCOL_COMMAND = 0x002DD3C0;

// SCSI_PASS_THROUGH envelopes as the program under test builds them: the
// 32-bit layout, or the 64-bit one of a VELTRANE_WIN64 build and of
// veltrane-sim64.exe. Written out here rather than taken from the tool, so
// that a wrong offset there shows.
struct SptLayout {
    bool wide;             // the 64-bit layout: DataBufferOffset is 8 bytes
    uint32_t length;       // the header's size and its Length: 44 or 56
    uint32_t buffer_field; // where DataBufferOffset is: 20 or 24
    uint32_t sense_field;  // where SenseInfoOffset is: 24 or 32
    uint32_t cdb;          // where the CDB is: 28 or 36
    uint32_t sense;        // the sense area: 44 or 56
    uint32_t data;         // the data area: 68 or 80
};
// The layout in use: the build's own, until use_spt_layout changes it (the
// program tests follow the program they run).
const SptLayout& spt();
void use_spt_layout(bool wide);
// Envelope bytes written out in the 32-bit layout (the 44-byte header, then
// what follows it) as they read in the layout in use: in the 64-bit one
// every header field keeps its value but Length (56), DataBufferOffset (68
// becomes 80) and a SenseInfoOffset that is not 0 (44 becomes 56); the
// alignment bytes 20-23 and 52-55 are 0, and the bytes after the header
// follow it unchanged.
std::vector<uint8_t> spt_header(const std::string& hex32);

constexpr uint8_t SPT_OUT = 0, SPT_IN = 1, SPT_NONE = 2; // DataIn
constexpr uint8_t DIR_NONE_BYTE = 0, DIR_FROM_BYTE = 1, DIR_TO_BYTE = 2;

// An envelope with a zeroed CDB of `cdb_length` bytes and the sense area at
// `sense_at`; `sense_length` 0 with the sense offset set is how the Realtek
// command phase leaves it, 0 and 0 how the ASMedia tunnel does.
std::vector<uint8_t> spt_envelope(uint8_t cdb_length, uint8_t data_in, uint32_t length,
                                  uint32_t timeout, uint8_t sense_length, uint32_t sense_at);

// JMicron: A1 <phase> 00 <24-bit BE length>, sense requested, 12-byte CDB.
std::vector<uint8_t> jms_envelope(uint8_t phase, uint8_t data_in, uint32_t length,
                                  uint32_t timeout);
// The 512-byte "NVME" block with the entry at 8.
std::vector<uint8_t> jms_command_phase(uint8_t opcode, uint32_t nsid, uint32_t cdw10,
                                       uint32_t timeout = 5);

// ASMedia tunnel: EA/EB 5A <phase> 00 <dir>, BE length over CDB 10..13, no sense.
std::vector<uint8_t> asm_tunnel(uint8_t opcode, uint8_t phase, uint8_t dir, uint8_t data_in,
                                uint32_t length, uint32_t timeout);
std::vector<uint8_t> asm_command_phase(uint8_t dir, uint8_t opcode, uint32_t nsid, uint32_t cdw10);
std::vector<uint8_t> asm_read_phase(uint32_t length = 4096);
std::vector<uint8_t> asm_no_data_phase(uint32_t timeout = 2);
// ASMedia Id/Smart: E6 <opcode> 00 <CNS>, sense requested, DataIn 1.
std::vector<uint8_t> asm_id_smart(uint8_t opcode, uint8_t cns, uint32_t length = 4096);

// Realtek: <opcode> <LE16 length> <phase>, 16-byte CDB, the sense offset set.
std::vector<uint8_t> rtl_envelope(uint8_t opcode, uint8_t phase, uint8_t data_in, uint32_t length,
                                  uint8_t sense_length, uint32_t timeout = 2);
std::vector<uint8_t> rtl_command_phase(uint8_t opcode, uint32_t nsid, uint32_t cdw10);
std::vector<uint8_t> rtl_data_phase(uint8_t dir, uint32_t length, uint32_t timeout = 2);

// Completion queries, 5 s: JMicron A1 8F (512 bytes: "NVME", 0, the entry),
// ASMedia EB 5A 82 and Realtek E4 10 00 F9 (the 16-byte entry).
std::vector<uint8_t> jms_completion_query();
std::vector<uint8_t> asm_completion_query();
std::vector<uint8_t> rtl_completion_query();

// STORAGE_PROPERTY_QUERY of NVMe data: the adapter (49) or device (50) property, the data
// type (1 identify, 2 log page), the CNS or log id, the namespace or sub-value, the length.
std::vector<uint8_t> inbox_query(uint32_t cns, uint32_t nsid, uint32_t property = 49,
                                 uint32_t type = 1, uint32_t length = 4096);

// The inbox driver's protocol command: the 84-byte header (Version 1, Length
// 84, NVMe, an adapter request, CommandLength 64, the timeout, an admin
// command) and the submission entry at 80; 144 bytes.
std::vector<uint8_t> protocol_command(uint8_t opcode, uint32_t nsid, uint32_t cdw10,
                                      uint32_t timeout = 300);

// OFA miniport request: SRB_IO_CONTROL, entry (identifier 0x1234), lengths.
std::vector<uint8_t> ofa_request(uint8_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t direction,
                                 uint32_t length, uint32_t timeout = 5);

// Asks for sense data in an envelope that does not, to see the sense key.
void with_sense(std::vector<uint8_t>& e);

// Sends `e` as input and output buffer; remembers it for expect_refused.
int send_in_place(HANDLE h, std::vector<uint8_t>& e, uint32_t code = IOCTL_SCSI_PASS_THROUGH);

// CHECK CONDITION, nothing transferred, the data area as last sent; with
// sense requested, fixed sense ILLEGAL REQUEST / INVALID OPCODE.
void expect_refused(const std::vector<uint8_t>& e, const std::string& what);

// `size` bytes of text at `off` in the data area of an envelope.
std::string data_text(const std::vector<uint8_t>& e, uint32_t off, uint32_t size);

// FLBAS of drive `number` as its controller holds it now.
uint32_t flbas_of(int number);

// A drive whose disk and port are both `handle` (each transport sends
// through the one it uses), with requests carrying `timeout_s` seconds.
DriveState drive_on(HANDLE handle, uint32_t timeout_s = 5);

// Loads `host` fresh and checks at the end that every handle was closed.
class SimTest : public ::testing::Test {
  protected:
    void load(const char* host);
    void TearDown() override;
};

// The system volume's path, which every run queries before the drive.
extern const char* const SYSTEM_VOLUME;
// The trace without the volumes' lines: the drive's operations.
std::vector<nlohmann::json> drive_trace(const std::vector<nlohmann::json>& trace);

// Trace filters: ioctls with a code; SCSI pass-through inputs and CDB byte 0.
std::vector<nlohmann::json> ioctls_with_code(const std::vector<nlohmann::json>& trace,
                                             uint32_t code);
std::vector<std::vector<uint8_t>> scsi_inputs(const std::vector<nlohmann::json>& trace);
std::vector<uint8_t> scsi_opcodes(const std::vector<nlohmann::json>& trace);

// Whether a request carried Format NVM: a bridge's command phase, an OFA
// miniport request or the inbox driver's protocol command.
bool format_sent(const std::vector<nlohmann::json>& trace);
