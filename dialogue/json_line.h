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
    uint32_t depth;   // objects and lists open, the line's own included
    uint32_t dropped; // objects begun after the cut: their ends write nothing
    int cut;
    int has_member[JSON_MAX_DEPTH];
    int is_list[JSON_MAX_DEPTH]; // its members have no key
};

// The smallest line: `{"truncated":false}`, its line end and a zero.
constexpr uint32_t JSON_LINE_MIN_CAPACITY = 22;

// Starts the line's object in `buffer` of `capacity` bytes. Below
// JSON_LINE_MIN_CAPACITY nothing is ever written and json_end returns 0.
void json_begin(JsonLine* line, char* buffer, uint32_t capacity);

// Members of the innermost open object (in a list, `key` is not used). Texts
// are UTF-8: `"` and `\` are escaped with a backslash, control characters
// (below 0x20, and DEL) as \u00XX; every other character is written as its
// UTF-8 bytes, and a byte that is not part of a UTF-8 character as U+FFFD, so
// that the line is valid UTF-8 whatever it was given. A null text writes
// null.
void json_text(JsonLine* line, const char* key, const char* text);
// The `length` bytes at `text`.
void json_text_n(JsonLine* line, const char* key, const char* text, uint32_t length);
// A number already written out (a fraction).
void json_raw(JsonLine* line, const char* key, const char* number);
void json_number(JsonLine* line, const char* key, uint64_t value);
void json_null(JsonLine* line, const char* key);
void json_bool(JsonLine* line, const char* key, int value);
void json_object_begin(JsonLine* line, const char* key);
void json_object_end(JsonLine* line);
void json_list_begin(JsonLine* line, const char* key);
void json_list_end(JsonLine* line);

// Closes every open object, adds `"truncated"` as the last member and the
// line end, zero-terminates: the line's length in bytes, the zero not
// counted.
uint32_t json_end(JsonLine* line);

// The same, but the line's own object stays open after `"truncated"` and no
// line end is written, for members that must come after it (the room for
// them is the caller's: json_begin was given less than the buffer holds).
uint32_t json_end_open(JsonLine* line);
