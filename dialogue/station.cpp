// The station file's lines: `key = value`, comments, blank lines; UTF-8.
#include "dialogue/station.h"

#include <cstdio>
#include <cstring>

#include "dialogue/options.h"
#include "dialogue/utf8.h"
#include "platform/files.h"

const char* const STATION_KEYS[STATION_FIELDS] = {"organization", "location",       "operator",
                                                  "title",        "contact",        "source",
                                                  "destination",  "classification", "validator"};

namespace {

// A line is read up to this many bytes; a longer one can only be a comment
// (a value is far shorter).
constexpr uint32_t LINE_HELD = 4096;
constexpr uint32_t CHUNK = 4096;

int is_blank_char(char c, int tabs) {
    return c == ' ' || (tabs && c == '\t');
}

struct LineError {
    char text[LINE_HELD + 64];
};

// One line without its line end; 1 when it is good, else 0 with the reason.
int take_line(Station* station, char* line, uint32_t size, int overlong, LineError* error) {
    uint32_t length = 0;
    const char* text = trimmed(line, size, 1, &length);
    if (length == 0 || text[0] == '#')
        return 1; // blank, or a comment (whatever it holds past the part read)
    if (overlong) {
        snprintf(error->text, sizeof error->text, "value longer than %u bytes",
                 static_cast<unsigned>(STATION_VALUE_MAX));
        return 0;
    }
    if (!is_utf8(line, size)) {
        snprintf(error->text, sizeof error->text, "not UTF-8");
        return 0;
    }
    const char* equals = static_cast<const char*>(memchr(text, '=', length));
    uint32_t key_length = 0;
    const char* key =
        equals ? trimmed(text, static_cast<uint32_t>(equals - text), 1, &key_length) : nullptr;
    if (!equals || key_length == 0) {
        snprintf(error->text, sizeof error->text, "not key = value");
        return 0;
    }
    uint32_t value_length = 0;
    const char* value =
        trimmed(equals + 1, static_cast<uint32_t>(text + length - equals - 1), 1, &value_length);
    int field = -1;
    const int is_key_file = key_length == 8 && memcmp(key, "key_file", 8) == 0;
    for (int i = 0; i < STATION_FIELDS; ++i)
        if (strlen(STATION_KEYS[i]) == key_length && memcmp(STATION_KEYS[i], key, key_length) == 0)
            field = i;
    if (field < 0 && !is_key_file) {
        snprintf(error->text, sizeof error->text, "unknown key %.*s", static_cast<int>(key_length),
                 key);
        return 0;
    }
    if (value_length > STATION_VALUE_MAX) {
        snprintf(error->text, sizeof error->text, "value longer than %u bytes",
                 static_cast<unsigned>(STATION_VALUE_MAX));
        return 0;
    }
    char copy[RECORD_TEXT_SIZE];
    memcpy(copy, value, value_length);
    copy[value_length] = 0;
    if (is_key_file) {
        station->key.set = 0; // the last key_file line counts
        if (value_length > 0 && !read_key_file(copy, &station->key)) {
            snprintf(error->text, sizeof error->text, "cannot read %s", copy);
            return 0;
        }
        return 1;
    }
    station->field[field].known = 0; // an empty value records null
    if (value_length > 0)
        set_text(&station->field[field], copy);
    return 1;
}

} // namespace

const char* trimmed(const char* text, uint32_t size, int tabs, uint32_t* length) {
    uint32_t start = 0, end = size;
    while (start < end && is_blank_char(text[start], tabs))
        ++start;
    while (end > start && is_blank_char(text[end - 1], tabs))
        --end;
    *length = end - start;
    return text + start;
}

int read_key_file(const char* path, HmacKey* key) {
    HANDLE file = open_read(path);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    HmacKeyBuilder builder;
    hmac_key_begin(&builder);
    char chunk[CHUNK];
    uint32_t got = 0;
    int ok;
    while ((ok = read_bytes(file, chunk, sizeof chunk, &got)) && got > 0)
        hmac_key_add(&builder, chunk, got);
    close_file(file);
    if (ok)
        hmac_key_end(&builder, key);
    return ok;
}

int read_station(Station* station) {
    memset(station, 0, sizeof *station);
    HANDLE file = open_read(STATION_FILE_NAME);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    static char line[LINE_HELD];
    static LineError error;
    uint32_t size = 0, number = 1;
    int overlong = 0, first = 1, good = 1, ended = 0;
    char chunk[CHUNK];
    while (good && !ended) {
        uint32_t got = 0;
        if (!read_bytes(file, chunk, sizeof chunk, &got) || got == 0) {
            ended = 1;
            chunk[0] = '\n'; // the last line, ended
            got = 1;
        }
        uint32_t at = 0;
        // A byte-order mark is not part of the first line.
        if (first && got >= 3 && memcmp(chunk, "\xEF\xBB\xBF", 3) == 0)
            at = 3;
        first = 0;
        for (; at < got && good; ++at) {
            if (chunk[at] != '\n') {
                if (size < LINE_HELD)
                    line[size++] = chunk[at];
                else
                    overlong = 1;
                continue;
            }
            if (size > 0 && line[size - 1] == '\r' && !overlong)
                --size;
            if (!(ended && size == 0 && !overlong))
                good = take_line(station, line, size, overlong, &error);
            if (good)
                ++number;
            size = 0;
            overlong = 0;
        }
    }
    close_file(file);
    if (!good) {
        without_controls(error.text);
        printf("Error: " STATION_FILE_NAME " line %u: %s\n", number, error.text);
    }
    return good;
}

int station_options_fit(const Options* options) {
    const struct {
        const char* name;
        const OptionValue& value;
    } texts[] = {
        {"asset", options->asset}, {"operator", options->operator_name}, {"note", options->note}};
    for (const auto& option : texts) {
        if (!option.value.given || !option.value.value)
            continue;
        uint32_t length = 0;
        trimmed(option.value.value, static_cast<uint32_t>(strlen(option.value.value)), 0, &length);
        if (length > STATION_VALUE_MAX) {
            printf("Error: option --%s is longer than %u bytes\n", option.name,
                   static_cast<unsigned>(STATION_VALUE_MAX));
            return 0;
        }
    }
    return 1;
}
