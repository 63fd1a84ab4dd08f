// The JSON line writer: escaping, and the cut at a member boundary that
// keeps a line too long for its buffer valid JSON; erase records of the
// kinds the end-to-end runs do not make yet, against their schema.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "dialogue/json_line.h"
#include "dialogue/record.h"
#include "support.h"
#include "transport/drive_state.h"
#include "transport/transport.h"

namespace {

// A line with every kind of member, nested objects, and texts to escape.
std::string sample_line(uint32_t capacity) {
    std::vector<char> buffer(capacity + 1, '#');
    JsonLine line;
    json_begin(&line, buffer.data(), capacity);
    json_number(&line, "record", 1);
    json_text(&line, "quote", "a\"b\\c");
    json_object_begin(&line, "drive");
    // UTF-8 kept; control characters and DEL escaped; a stray byte, a cut
    // character, an overlong form and a surrogate each become U+FFFD.
    json_text(&line, "model",
              "M\x01\x1f\x7f\xc3\xa9\xd0\x98\xf0\x9f\x92\xbe\xff\xe2\x82\xc0\xaf\xed\xa0\x80 ");
    json_object_begin(&line, "inner");
    json_number(&line, "max", UINT64_MAX);
    json_bool(&line, "yes", 1);
    json_object_end(&line);
    json_list_begin(&line, "list");
    json_object_begin(&line, nullptr);
    json_number(&line, "n", 1);
    json_object_end(&line);
    json_object_begin(&line, nullptr);
    json_object_end(&line);
    json_list_end(&line);
    json_null(&line, "none");
    json_object_end(&line);
    json_bool(&line, "no", 0);
    json_text(&line, "last", "z");
    const uint32_t size = json_end(&line);
    EXPECT_EQ(buffer[capacity], '#') << "written past the buffer";
    return std::string(buffer.data(), size);
}

} // namespace

TEST(JsonLine, EscapesEveryByteOutsidePrintableAsciiAndCutsALineAtAMember) {
    const std::string full_line = sample_line(512);
    const std::string bad = "\xef\xbf\xbd";
    EXPECT_EQ(full_line, "{\"record\":1,\"quote\":\"a\\\"b\\\\c\",\"drive\":{\"model\":"
                         "\"M\\u0001\\u001f\\u007f\xc3\xa9\xd0\x98\xf0\x9f\x92\xbe" +
                             bad + bad + bad + bad + bad + bad + bad + bad +
                             " \",\"inner\":{\"max\":18446744073709551615,\"yes\":true},"
                             "\"list\":[{\"n\":1},{}],\"none\":null},\"no\":false,"
                             "\"last\":\"z\",\"truncated\":false}\n");
    // Too long for its buffer: cut after a member, still valid JSON.
    nlohmann::ordered_json whole = nlohmann::ordered_json::parse(full_line);
    whole.erase("truncated");
    const size_t full = full_line.size();
    for (uint32_t capacity = 0; capacity <= full + 2; ++capacity) {
        const std::string line = sample_line(capacity);
        if (capacity < JSON_LINE_MIN_CAPACITY) {
            EXPECT_EQ(line, "") << capacity;
            continue;
        }
        ASSERT_LT(line.size(), capacity) << "no room for the zero";
        ASSERT_EQ(line.back(), '\n') << capacity;
        nlohmann::ordered_json part = nlohmann::ordered_json::parse(line);
        // `truncated` is the last member, true exactly when something was cut.
        EXPECT_EQ(part.back(), capacity <= full) << line;
        part.erase("truncated");
        EXPECT_EQ(part == whole, capacity > full) << line;
        // Whole members, in order: without the braces that close them, they
        // begin the full line.
        std::string kept = line.substr(0, line.rfind("\"truncated\""));
        while (kept.back() == '}' || kept.back() == ']' || kept.back() == ',')
            kept.pop_back();
        EXPECT_EQ(full_line.compare(0, kept.size(), kept), 0) << line;
    }
}

TEST(EraseRecord, TheLongestLineIsWholeValidUtf8AndMeetsTheSchema) {
    // Every text at its longest, each byte a control character (six bytes
    // escaped) but for a UTF-8 word; the reach full; the fields other steps
    // fill by assignment: the evidence, the check's depth.
    EraseRecord r;
    record_begin(&r, 3, 0);
    set_text(&r.started, "2026-01-01T00:00:00Z");
    std::string longest(RECORD_TEXT_SIZE - 1 - 8, '\x01');
    longest += "Jos\xc3\xa9 \xd0\x98";
    for (RecordText* text : {&r.computer, &r.account, &r.asset, &r.note, &r.os, &r.vendor,
                             &r.product, &r.model, &r.serial, &r.firmware})
        set_text(text, longest.c_str());
    for (RecordText& text : r.station)
        set_text(&text, longest.c_str());
    r.bus = "NVME";
    r.path = "JMicron bridge";
    for (uint32_t i = 0; i < RECORD_REACH_HELD; ++i)
        record_reach(&r, i, UINT32_MAX);
    set_number(&r.capacity_bytes, 3ull << 30);
    set_number(&r.lba_size_before, 4096);
    set_number(&r.nn, 1);
    record_sanitize(&r, "sanact 5", "protocol command");
    record_outcome(&r, "Sanitized", "Sanitized [2000 ms]!", 2000, 0);
    DriveState drive;
    drive_state_init(&drive, 3);
    drive.transport = TRANSPORT_JMS;
    drive.completion_known = 1;
    drive.completion_status = 0x11D; // SCT 1, SC 1Dh
    record_completion(&r, &drive);
    r.have_log_before = r.have_log_after = 1;
    r.log_before[0] = 0xAB;
    r.log_after[31] = 0x0F;
    r.verification_ran = 1;
    set_text(&r.level, "full");
    r.algorithm = "full";
    set_number(&r.seed, 0x00FF);
    set_number(&r.bytes_read, 1ull << 30);
    set_number(&r.units_not_erased, 7);
    r.read_error_known = 1;
    r.read_error = 1117;
    r.read_offset = 4096;
    set_text(&r.verification_result, "read error");
    static char line[RECORD_LINE_SIZE];
    const std::string text(
        line, record_line(&r, "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
                          line, sizeof line));
    const nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j.at("truncated"), false);
    EXPECT_EQ(j.at("station").at("validator"), longest);
    EXPECT_EQ(j.at("drive").at("serial"), longest);
    EXPECT_EQ(j.at("drive").at("reach").size(), RECORD_REACH_HELD);
    EXPECT_EQ(j.at("drive").at("enclosure").at("vendor"), longest);
    EXPECT_EQ(j.at("evidence").at("completion"), nlohmann::json({{"sct", 1}, {"sc", 0x1D}}));
    EXPECT_EQ(j.at("evidence").at("sanitize_log_before"), "ab" + std::string(62, '0'));
    EXPECT_EQ(j.at("evidence").at("sanitize_log_after"), std::string(62, '0') + "0f");
    EXPECT_EQ(j.at("verification").at("seed"), "00000000000000ff");
    EXPECT_NEAR(j.at("verification").at("coverage").get<double>(), 1.0 / 3, 1e-9);
    EXPECT_EQ(j.at("verification").at("read_error"),
              nlohmann::json({{"code", 1117}, {"offset", 4096}}));
    EXPECT_EQ(j.at("verification").at("held_data"), nullptr);
    EXPECT_EQ(j.at("drive").at("lba_size_after"), 4096);
    EXPECT_EQ(j.at("mac"), nullptr);
    // The same line cut to 600 bytes: still a record line.
    const std::string cut(line, record_line(&r, nullptr, line, 600));
    EXPECT_EQ(nlohmann::json::parse(cut).at("truncated"), true) << cut;
    EXPECT_EQ(record_schema_problems(text), "");
}
