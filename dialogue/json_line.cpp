// The JSON line writer: every member goes in whole or the line is cut before
// it.
#include "dialogue/json_line.h"

#include <cstring>

#include "dialogue/utf8.h"

namespace {

// `,"truncated":false}` closing the line's own object, the line end and the
// terminating zero.
constexpr uint32_t TAIL_SIZE = 21;

// Room that must stay free behind the members while `depth` objects are
// open: one brace for each nested object, and the tail.
uint32_t kept_back(uint32_t depth) {
    return (depth > 1 ? depth - 1 : 0) + TAIL_SIZE;
}

// A member being written: it goes in only if it ends before `limit`.
struct Member {
    JsonLine* line;
    uint32_t start;
    uint32_t limit;
    int fits;
};

void put(Member* m, char c) {
    if (!m->fits || m->line->size >= m->limit) {
        m->fits = 0;
        return;
    }
    m->line->buffer[m->line->size++] = c;
}

void put_text(Member* m, const char* text, uint32_t length) {
    static const char DIGITS[] = "0123456789abcdef";
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    put(m, '"');
    for (uint32_t i = 0; i < length && m->fits;) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            put(m, '\\');
            put(m, static_cast<char>(c));
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            put(m, '\\');
            put(m, 'u');
            put(m, '0');
            put(m, '0');
            put(m, DIGITS[c >> 4]);
            put(m, DIGITS[c & 0xF]);
            ++i;
        } else if (const uint32_t n = utf8_length(p + i, length - i)) {
            for (uint32_t k = 0; k < n; ++k)
                put(m, static_cast<char>(p[i + k]));
            i += n;
        } else {
            put(m, '\xEF'); // U+FFFD REPLACEMENT CHARACTER
            put(m, '\xBF');
            put(m, '\xBD');
            ++i;
        }
    }
    put(m, '"');
}

// Starts a member of the innermost object: the comma and the key. False when
// the line was cut already.
bool begin_member(JsonLine* line, Member* m, uint32_t depth_after, const char* key) {
    if (line->cut)
        return false;
    m->line = line;
    m->start = line->size;
    m->fits = line->capacity >= kept_back(depth_after) + line->size;
    m->limit = m->fits ? line->capacity - kept_back(depth_after) : line->size;
    if (line->has_member[line->depth - 1])
        put(m, ',');
    if (!line->is_list[line->depth - 1]) {
        put_text(m, key, static_cast<uint32_t>(strlen(key)));
        put(m, ':');
    }
    return true;
}

// Keeps the member, or cuts the line before it.
bool end_member(Member* m) {
    JsonLine* line = m->line;
    if (!m->fits) {
        line->size = m->start;
        line->cut = 1;
        return false;
    }
    line->has_member[line->depth - 1] = 1;
    return true;
}

void put_raw(Member* m, const char* text) {
    for (; *text; ++text)
        put(m, *text);
}

void put_number(Member* m, uint64_t value) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (n > 0)
        put(m, digits[--n]);
}

// The unchecked tail, for which room was kept back.
void append(JsonLine* line, const char* text) {
    const uint32_t n = static_cast<uint32_t>(strlen(text));
    memcpy(line->buffer + line->size, text, n);
    line->size += n;
}

} // namespace

void json_begin(JsonLine* line, char* buffer, uint32_t capacity) {
    memset(line, 0, sizeof *line);
    line->buffer = buffer;
    line->capacity = capacity;
    line->depth = 1;
    if (capacity < JSON_LINE_MIN_CAPACITY) {
        // Not even the empty line fits: nothing is written.
        line->capacity = 0;
        line->cut = 1;
        return;
    }
    buffer[line->size++] = '{';
}

void json_text(JsonLine* line, const char* key, const char* text) {
    if (text)
        json_text_n(line, key, text, static_cast<uint32_t>(strlen(text)));
    else
        json_raw(line, key, "null");
}

void json_text_n(JsonLine* line, const char* key, const char* text, uint32_t length) {
    Member m;
    if (!begin_member(line, &m, line->depth, key))
        return;
    put_text(&m, text, length);
    end_member(&m);
}

void json_raw(JsonLine* line, const char* key, const char* number) {
    Member m;
    if (!begin_member(line, &m, line->depth, key))
        return;
    put_raw(&m, number);
    end_member(&m);
}

void json_number(JsonLine* line, const char* key, uint64_t value) {
    Member m;
    if (!begin_member(line, &m, line->depth, key))
        return;
    put_number(&m, value);
    end_member(&m);
}

void json_null(JsonLine* line, const char* key) {
    json_raw(line, key, "null");
}

void json_bool(JsonLine* line, const char* key, int value) {
    Member m;
    if (!begin_member(line, &m, line->depth, key))
        return;
    put_raw(&m, value ? "true" : "false");
    end_member(&m);
}

// An object or a list, opened with `open` and later closed with its pair.
static void container_begin(JsonLine* line, const char* key, char open, int list) {
    Member m;
    if (line->depth >= JSON_MAX_DEPTH || !begin_member(line, &m, line->depth + 1, key)) {
        line->cut = 1;
        ++line->dropped;
        return;
    }
    put(&m, open);
    if (!end_member(&m)) {
        ++line->dropped;
        return;
    }
    line->is_list[line->depth] = list;
    line->has_member[line->depth++] = 0;
}

static void container_end(JsonLine* line) {
    if (line->dropped > 0) {
        --line->dropped;
        return;
    }
    if (line->depth <= 1)
        return;
    --line->depth;
    append(line, line->is_list[line->depth] ? "]" : "}");
}

void json_object_begin(JsonLine* line, const char* key) {
    container_begin(line, key, '{', 0);
}

void json_object_end(JsonLine* line) {
    container_end(line);
}

void json_list_begin(JsonLine* line, const char* key) {
    container_begin(line, key, '[', 1);
}

void json_list_end(JsonLine* line) {
    container_end(line);
}

uint32_t json_end_open(JsonLine* line) {
    if (line->capacity == 0)
        return 0;
    while (line->depth > 1) {
        --line->depth;
        append(line, line->is_list[line->depth] ? "]" : "}");
    }
    if (line->has_member[0])
        append(line, ",");
    append(line, line->cut ? "\"truncated\":true" : "\"truncated\":false");
    line->buffer[line->size] = 0;
    return line->size;
}

uint32_t json_end(JsonLine* line) {
    if (line->capacity == 0)
        return 0;
    json_end_open(line);
    append(line, "}\n");
    line->buffer[line->size] = 0;
    return line->size;
}
