// Reading one JSON line back, as the record's check and its certificates do:
// whether it is JSON at all, and the values at given places, without a copy
// of the line or any allocation.
#pragma once

#include <cstdint>

enum JsonKind {
    JSON_ABSENT = 0,
    JSON_NULL,
    JSON_BOOL,
    JSON_NUMBER,
    JSON_STRING,
    JSON_OBJECT,
    JSON_LIST
};

// A value inside the line: where it starts and how many bytes it spans.
struct JsonValue {
    JsonKind kind;
    const char* start;
    uint32_t length;
};

// Containers nested deeper than this are not read: such a line is not
// counted as JSON.
constexpr uint32_t JSON_READ_DEPTH = 32;

// Whether the `length` bytes are one JSON value (RFC 8259, UTF-8) with
// nothing but white space around it.
int json_is_valid(const char* text, uint32_t length);

// The value at `path` in a valid line: member names separated by dots
// ("drive.serial"); JSON_ABSENT when a name is missing or a value on the way
// is not an object. The first member of a name counts.
JsonValue json_at(const char* text, uint32_t length, const char* path);

// A string value unescaped into `out` (`size` bytes, zero-terminated, cut at
// a character boundary): 1, or 0 for a value that is not a string (`out` is
// then ""). A \u0000 ends the text.
int json_string(const JsonValue& value, char* out, uint32_t size);

// A number that is a whole number from 0 to 2^64 - 1: 1 with it.
int json_u64(const JsonValue& value, uint64_t* number);
