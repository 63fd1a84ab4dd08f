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
    json_text(&line, "model", "M\x01\x1f\x7f\xc3\xa9 ");
    json_object_begin(&line, "inner");
    json_number(&line, "max", UINT64_MAX);
    json_bool(&line, "yes", 1);
    json_object_end(&line);
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
    EXPECT_EQ(full_line, "{\"record\":1,\"quote\":\"a\\\"b\\\\c\",\"drive\":{\"model\":"
                         "\"M\\u0001\\u001f\\u007f\\u00c3\\u00a9 \",\"inner\":{\"max\":"
                         "18446744073709551615,\"yes\":true},\"none\":null},\"no\":false,"
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
        while (kept.back() == '}' || kept.back() == ',')
            kept.pop_back();
        EXPECT_EQ(full_line.compare(0, kept.size(), kept), 0) << line;
    }
}

TEST(EraseRecord, SanitizeVerificationAndCutRecordsMeetTheSchema) {
    // The fields other steps fill by assignment, and a cut line.
    EraseRecord r;
    record_begin(&r, 3);
    r.bus = "NVME";
    record_identity(&r, TRANSPORT_INBOX, "Model", "1.0", "S\\N");
    set_number(&r.capacity_bytes, 1u << 30);
    set_number(&r.lba_size_before, 4096);
    record_sanitize(&r, "crypto erase", "SCSI sanitize");
    record_erase_started(&r);
    record_outcome(&r, "Sanitized", "Sanitized [2000 ms]!", 2000, 0);
    r.verification_ran = 1;
    set_number(&r.samples, 64);
    set_number(&r.seed, UINT64_MAX);
    set_text(&r.verification_result, "skipped: \"E:\" is in use");
    char line[RECORD_LINE_SIZE];
    std::string lines(line, record_line(&r, line, sizeof line));
    const nlohmann::json v = nlohmann::json::parse(lines).at("verification");
    EXPECT_EQ(v.at("result"), "skipped: \"E:\" is in use");
    EXPECT_EQ(v.at("held_data"), nullptr);
    EXPECT_EQ(nlohmann::json::parse(lines).at("drive").at("lba_size_after"), 4096);
    lines += std::string(line, record_line(&r, line, 600));
    EXPECT_TRUE(ends_with(lines, "\"truncated\":true}\n")) << lines;
    EXPECT_EQ(record_schema_problems(lines), "") << lines;
}
