// A JSON reader over a line in memory: a check of the grammar, and a walk to
// a member that skips every other value.
#include "dialogue/json_read.h"

#include <cstring>

#include "dialogue/utf8.h"

namespace {

struct Cursor {
    const char* p;
    const char* end;
};

void skip_space(Cursor* c) {
    while (c->p < c->end && (*c->p == ' ' || *c->p == '\t' || *c->p == '\n' || *c->p == '\r'))
        ++c->p;
}

int hex_value(char h) {
    if (h >= '0' && h <= '9')
        return h - '0';
    if (h >= 'a' && h <= 'f')
        return h - 'a' + 10;
    if (h >= 'A' && h <= 'F')
        return h - 'A' + 10;
    return -1;
}

// A string from its opening quote; 0 when it is not one.
int read_string(Cursor* c) {
    if (c->p >= c->end || *c->p != '"')
        return 0;
    ++c->p;
    while (c->p < c->end) {
        const unsigned char ch = static_cast<unsigned char>(*c->p);
        if (ch == '"') {
            ++c->p;
            return 1;
        }
        if (ch < 0x20)
            return 0;
        if (ch == '\\') {
            if (c->end - c->p < 2)
                return 0;
            const char e = c->p[1];
            if (e == 'u') {
                if (c->end - c->p < 6)
                    return 0;
                for (int i = 2; i < 6; ++i)
                    if (hex_value(c->p[i]) < 0)
                        return 0;
                c->p += 6;
            } else if (strchr("\"\\/bfnrt", e) && e) {
                c->p += 2;
            } else {
                return 0;
            }
            continue;
        }
        const uint32_t n = utf8_length(reinterpret_cast<const unsigned char*>(c->p),
                                       static_cast<uint32_t>(c->end - c->p));
        if (n == 0)
            return 0;
        c->p += n;
    }
    return 0;
}

int read_digits(Cursor* c) {
    const char* start = c->p;
    while (c->p < c->end && *c->p >= '0' && *c->p <= '9')
        ++c->p;
    return c->p > start;
}

int read_number(Cursor* c) {
    if (c->p < c->end && *c->p == '-')
        ++c->p;
    if (c->p < c->end && *c->p == '0')
        ++c->p;
    else if (!read_digits(c))
        return 0;
    if (c->p < c->end && *c->p == '.') {
        ++c->p;
        if (!read_digits(c))
            return 0;
    }
    if (c->p < c->end && (*c->p == 'e' || *c->p == 'E')) {
        ++c->p;
        if (c->p < c->end && (*c->p == '+' || *c->p == '-'))
            ++c->p;
        if (!read_digits(c))
            return 0;
    }
    return 1;
}

int read_word(Cursor* c, const char* word) {
    const size_t n = strlen(word);
    if (static_cast<size_t>(c->end - c->p) < n || memcmp(c->p, word, n) != 0)
        return 0;
    c->p += n;
    return 1;
}

// One value of any kind, containers walked without recursion: `open` holds
// the kind of each container entered.
// An object member's name and its colon.
int read_member_name(Cursor* c) {
    skip_space(c);
    if (!read_string(c))
        return 0;
    skip_space(c);
    if (c->p >= c->end || *c->p != ':')
        return 0;
    ++c->p;
    return 1;
}

int read_value(Cursor* c) {
    char open[JSON_READ_DEPTH];
    uint32_t depth = 0;
    for (;;) {
        skip_space(c);
        if (c->p >= c->end)
            return 0;
        const char ch = *c->p;
        if (ch == '{' || ch == '[') {
            if (depth == JSON_READ_DEPTH)
                return 0;
            open[depth++] = ch;
            ++c->p;
            skip_space(c);
            if (c->p < c->end && *c->p == (ch == '{' ? '}' : ']')) {
                ++c->p;
                --depth;
            } else {
                if (ch == '{' && !read_member_name(c))
                    return 0;
                continue; // the first member's value
            }
        } else if (ch == '"') {
            if (!read_string(c))
                return 0;
        } else if (ch == 't' || ch == 'f' || ch == 'n') {
            if (!read_word(c, ch == 't' ? "true" : ch == 'f' ? "false" : "null"))
                return 0;
        } else if (!read_number(c)) {
            return 0;
        }
        // A value has ended: the next member, or the ends of containers.
        for (;;) {
            if (depth == 0)
                return 1;
            skip_space(c);
            if (c->p >= c->end)
                return 0;
            const char close = open[depth - 1] == '{' ? '}' : ']';
            if (*c->p == close) {
                ++c->p;
                --depth;
                continue;
            }
            if (*c->p != ',')
                return 0;
            ++c->p;
            if (open[depth - 1] == '{' && !read_member_name(c))
                return 0;
            break;
        }
    }
}

JsonKind kind_of(char ch) {
    switch (ch) {
    case '{':
        return JSON_OBJECT;
    case '[':
        return JSON_LIST;
    case '"':
        return JSON_STRING;
    case 'n':
        return JSON_NULL;
    case 't':
    case 'f':
        return JSON_BOOL;
    default:
        return JSON_NUMBER;
    }
}

// Whether the string at `key` (its quotes included) is the name `name` of
// `length` bytes; names with escapes never match the plain names looked for.
int key_is(const char* key, uint32_t key_length, const char* name, uint32_t length) {
    return key_length == length + 2 && memcmp(key + 1, name, length) == 0;
}

} // namespace

int json_is_valid(const char* text, uint32_t length) {
    Cursor c = {text, text + length};
    if (!read_value(&c))
        return 0;
    skip_space(&c);
    return c.p == c.end;
}

JsonValue json_at(const char* text, uint32_t length, const char* path) {
    JsonValue none = {JSON_ABSENT, nullptr, 0};
    Cursor c = {text, text + length};
    skip_space(&c);
    while (*path) {
        const char* dot = strchr(path, '.');
        const uint32_t name_length =
            dot ? static_cast<uint32_t>(dot - path) : static_cast<uint32_t>(strlen(path));
        if (c.p >= c.end || *c.p != '{')
            return none;
        ++c.p;
        int found = 0;
        for (;;) {
            skip_space(&c);
            if (c.p >= c.end || *c.p == '}')
                return none;
            const char* key = c.p;
            if (!read_string(&c))
                return none;
            const uint32_t key_length = static_cast<uint32_t>(c.p - key);
            skip_space(&c);
            ++c.p; // the colon
            skip_space(&c);
            if (key_is(key, key_length, path, name_length)) {
                found = 1;
                break;
            }
            if (!read_value(&c))
                return none;
            skip_space(&c);
            if (c.p < c.end && *c.p == ',')
                ++c.p;
        }
        if (!found)
            return none;
        path += name_length;
        if (*path == '.')
            ++path;
    }
    const char* start = c.p;
    if (c.p >= c.end || !read_value(&c))
        return none;
    JsonValue value = {kind_of(*start), start, static_cast<uint32_t>(c.p - start)};
    return value;
}

int json_string(const JsonValue& value, char* out, uint32_t size) {
    out[0] = 0;
    if (value.kind != JSON_STRING || size == 0)
        return 0;
    uint32_t n = 0;
    const char* p = value.start + 1;
    const char* end = value.start + value.length - 1;
    while (p < end) {
        unsigned char bytes[4];
        uint32_t count = 1;
        if (*p != '\\') {
            count = utf8_length(reinterpret_cast<const unsigned char*>(p),
                                static_cast<uint32_t>(end - p));
            if (count == 0) // not in a valid line
                count = 1;
            memcpy(bytes, p, count);
            p += count;
        } else if (p[1] != 'u') {
            static const char FROM[] = "\"\\/bfnrt";
            static const char TO[] = "\"\\/\b\f\n\r\t";
            bytes[0] = static_cast<unsigned char>(TO[strchr(FROM, p[1]) - FROM]);
            p += 2;
        } else {
            uint32_t code = 0;
            for (int i = 2; i < 6; ++i)
                code = code << 4 | static_cast<uint32_t>(hex_value(p[i]));
            p += 6;
            // A surrogate pair makes one character; a lone surrogate is U+FFFD.
            if (code >= 0xD800 && code <= 0xDBFF && end - p >= 6 && p[0] == '\\' && p[1] == 'u') {
                uint32_t low = 0;
                for (int i = 2; i < 6; ++i)
                    low = low << 4 | static_cast<uint32_t>(hex_value(p[i]));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    p += 6;
                }
            }
            if (code >= 0xD800 && code <= 0xDFFF)
                code = 0xFFFD;
            if (code == 0)
                break;
            if (code < 0x80) {
                bytes[0] = static_cast<unsigned char>(code);
            } else if (code < 0x800) {
                count = 2;
                bytes[0] = static_cast<unsigned char>(0xC0 | code >> 6);
                bytes[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            } else if (code < 0x10000) {
                count = 3;
                bytes[0] = static_cast<unsigned char>(0xE0 | code >> 12);
                bytes[1] = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
                bytes[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            } else {
                count = 4;
                bytes[0] = static_cast<unsigned char>(0xF0 | code >> 18);
                bytes[1] = static_cast<unsigned char>(0x80 | (code >> 12 & 0x3F));
                bytes[2] = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
                bytes[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            }
        }
        if (n + count >= size)
            break;
        memcpy(out + n, bytes, count);
        n += count;
    }
    out[n] = 0;
    return 1;
}

int json_u64(const JsonValue& value, uint64_t* number) {
    if (value.kind != JSON_NUMBER || value.length == 0 || value.length > 20)
        return 0;
    uint64_t n = 0;
    for (uint32_t i = 0; i < value.length; ++i) {
        const char ch = value.start[i];
        if (ch < '0' || ch > '9')
            return 0;
        const uint64_t digit = static_cast<uint64_t>(ch - '0');
        if (n > (UINT64_MAX - digit) / 10)
            return 0;
        n = n * 10 + digit;
    }
    *number = n;
    return 1;
}
