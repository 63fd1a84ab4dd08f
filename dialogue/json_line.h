// One JSON object on one line, built in a caller's fixed buffer. Each member
// is written whole or not at all: when one would not fit, the line is cut
// there and every later member is dropped, while the room kept back for the
// closing braces and the final `"truncated": true` keeps the line valid JSON.
#pragma once

#include <cstdint>

constexpr uint32_t JSON_MAX_DEPTH = 4; // the line's own object and three nested

struct JsonLine {
    char* buffer;
    uint32_t capacity;
    uint32_t size;
    uint32_t depth;   // objects open, the line's own included
    uint32_t dropped; // objects begun after the cut: their ends write nothing
    int cut;
    int has_member[JSON_MAX_DEPTH];
};

// The smallest line: `{"truncated":false}`, its line end and a zero.
constexpr uint32_t JSON_LINE_MIN_CAPACITY = 22;

// Starts the line's object in `buffer` of `capacity` bytes. Below
// JSON_LINE_MIN_CAPACITY nothing is ever written and json_end returns 0.
void json_begin(JsonLine* line, char* buffer, uint32_t capacity);

// Members of the innermost open object. Texts are escaped: `"` and `\` with
// a backslash, bytes below 0x20 and from 0x7F as \u00XX, so the line stays
// printable ASCII whatever a device reported. A null text writes null.
void json_text(JsonLine* line, const char* key, const char* text);
void json_number(JsonLine* line, const char* key, uint64_t value);
void json_null(JsonLine* line, const char* key);
void json_bool(JsonLine* line, const char* key, int value);
void json_object_begin(JsonLine* line, const char* key);
void json_object_end(JsonLine* line);

// Closes every open object, adds `"truncated"` as the last member and the
// line end, zero-terminates: the line's length in bytes, the zero not
// counted.
uint32_t json_end(JsonLine* line);
