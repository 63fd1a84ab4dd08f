// The record's check: every line hashed, read as JSON, its chain and mac
// compared; the runs in the order of their first lines.
#include "dialogue/check.h"

#include <cstdio>
#include <cstring>

#include "dialogue/certificates.h"
#include "dialogue/chain.h"
#include "dialogue/dialogue.h"
#include "dialogue/json_read.h"
#include "dialogue/options.h"
#include "dialogue/record.h"
#include "dialogue/station.h"
#include "dialogue/utf8.h"
#include "platform/files.h"

const char* const STATUS_NAMES[] = {"not JSON",     "unchained", "mac wrong",
                                    "chain broken", "altered",   "ok"};

namespace {

constexpr uint32_t INDEX_SLOTS = 2 * CHECK_ENTRIES_HELD; // a power of two
constexpr uint32_t CHUNK = 65536;

CheckEntry g_entries[CHECK_ENTRIES_HELD];
uint32_t g_index[INDEX_SLOTS]; // entry number + 1, 0 for a free slot
char g_line[CHECK_LINE_HELD + 1];
char g_chunk[CHUNK];

uint64_t text_id(const char* text) {
    uint64_t h = 0xCBF29CE484222325ull; // FNV-1a
    for (; *text; ++text)
        h = (h ^ static_cast<unsigned char>(*text)) * 0x100000001B3ull;
    return h;
}

// What one line says, once read.
struct LineFacts {
    uint64_t offset;
    uint32_t length;
    char sha[SHA256_HEX_SIZE];
    int version2; // a version 2 line
    int has_prev; // its prev is a text
    char prev[SHA256_HEX_SIZE];
    int has_run;
    uint64_t id;
    uint8_t status;
};

// The facts of the line in g_line (`length` bytes, or more when `overlong`).
void read_facts(LineFacts* f, int overlong, int first, const char* previous_sha,
                const HmacKey* key) {
    f->version2 = 0;
    f->has_run = 0;
    f->has_prev = 0;
    if (overlong || !json_is_valid(g_line, f->length)) {
        f->status = STATUS_NOT_JSON;
        return;
    }
    char run[64];
    if (json_string(json_at(g_line, f->length, "run"), run, sizeof run)) {
        f->has_run = 1;
        f->id = text_id(run);
    }
    uint64_t version = 0;
    if (!json_u64(json_at(g_line, f->length, "record"), &version) || version != 2) {
        f->status = STATUS_UNCHAINED;
        return;
    }
    f->version2 = 1;
    const JsonValue prev = json_at(g_line, f->length, "prev");
    f->has_prev = json_string(prev, f->prev, sizeof f->prev);
    char mac[SHA256_HEX_SIZE], expected[SHA256_HEX_SIZE];
    if (key->set && !(json_string(json_at(g_line, f->length, "mac"), mac, sizeof mac) &&
                      line_mac(g_line, f->length, key, expected) && strcmp(mac, expected) == 0)) {
        f->status = STATUS_MAC_WRONG;
        return;
    }
    // The first line has none before it; every other names the one before.
    const int chained =
        first ? prev.kind == JSON_NULL : f->has_prev && strcmp(f->prev, previous_sha) == 0;
    f->status = chained ? STATUS_OK : STATUS_CHAIN_BROKEN;
}

// The entry of a line: its run's, or one of its own.
CheckEntry* entry_of(RecordCheck* check, const LineFacts& f) {
    uint32_t slot = static_cast<uint32_t>(f.id) & (INDEX_SLOTS - 1);
    if (f.has_run) {
        for (; g_index[slot] != 0; slot = (slot + 1) & (INDEX_SLOTS - 1)) {
            CheckEntry* e = &check->entries[g_index[slot] - 1];
            if (e->id == f.id)
                return e;
        }
    }
    if (check->count == CHECK_ENTRIES_HELD)
        return nullptr;
    CheckEntry* e = &check->entries[check->count++];
    e->id = f.id;
    e->has_run = static_cast<uint8_t>(f.has_run);
    e->status = STATUS_OK;
    if (f.has_run) {
        g_index[slot] = check->count;
        ++check->runs;
    }
    return e;
}

// A line's status is final once the line after it is known.
int settle(RecordCheck* check, const LineFacts& f) {
    CheckEntry* e = entry_of(check, f);
    if (!e)
        return 0;
    if (f.status < e->status)
        e->status = f.status;
    e->last_offset = f.offset;
    e->last_length = f.length;
    return 1;
}

} // namespace

namespace {

// Reading the file line by line: the line being read, and the one before it,
// whose status waits for this one's prev.
struct LineReader {
    RecordCheck* check;
    const HmacKey* key;
    LineFacts pending;
    int have_pending;
    uint64_t line_start;
    uint32_t length;
    int overlong;
    Sha256 sha;
};

void add_bytes(LineReader* r, const char* bytes, uint32_t n) {
    sha256_add(&r->sha, bytes, n);
    const uint32_t room = CHECK_LINE_HELD - r->length;
    const uint32_t kept = n < room ? n : room;
    memcpy(g_line + r->length, bytes, kept);
    r->length += kept;
    if (kept < n)
        r->overlong = 1;
}

// The line read so far is whole; `next` is where the next one starts.
int end_line(LineReader* r, uint64_t next) {
    LineFacts current;
    uint8_t digest[SHA256_SIZE];
    sha256_end(&r->sha, digest);
    sha256_hex(digest, current.sha);
    current.offset = r->line_start;
    current.length = r->length;
    read_facts(&current, r->overlong, !r->have_pending, r->have_pending ? r->pending.sha : "",
               r->key);
    if (r->have_pending) {
        LineFacts& before = r->pending;
        if (current.version2 && !(current.has_prev && strcmp(current.prev, before.sha) == 0) &&
            before.status == STATUS_OK)
            before.status = STATUS_ALTERED;
        if (!settle(r->check, before))
            return 0;
    }
    r->pending = current;
    r->have_pending = 1;
    ++r->check->lines;
    r->line_start = next;
    r->length = 0;
    r->overlong = 0;
    sha256_begin(&r->sha);
    return 1;
}

} // namespace

int check_record_file(HANDLE file, const char* path, const HmacKey* key, RecordCheck* check) {
    memset(check, 0, sizeof *check);
    memset(g_index, 0, sizeof g_index);
    check->entries = g_entries;
    static LineReader r;
    memset(&r, 0, sizeof r);
    r.check = check;
    r.key = key;
    sha256_begin(&r.sha);
    uint64_t offset = 0; // of the chunk's first byte
    int room = 1;
    for (;;) {
        uint32_t got = 0;
        if (!read_bytes(file, g_chunk, sizeof g_chunk, &got)) {
            printf("Error: cannot read %s\n", path);
            return 0;
        }
        if (got == 0)
            break;
        for (uint32_t i = 0; i < got && room;) {
            const char* feed = static_cast<const char*>(memchr(g_chunk + i, '\n', got - i));
            const uint32_t n = feed ? static_cast<uint32_t>(feed - g_chunk) - i : got - i;
            add_bytes(&r, g_chunk + i, n);
            i += n;
            if (!feed)
                break;
            ++i;
            room = end_line(&r, offset + i);
        }
        offset += got;
    }
    // A last line without its line feed is a line too.
    if (room && (r.length > 0 || r.overlong))
        room = end_line(&r, offset);
    if (!room || (r.have_pending && !settle(check, r.pending))) {
        printf("Error: %s holds more than %u runs\n", path, CHECK_ENTRIES_HELD);
        return 0;
    }
    for (uint32_t i = 0; i < check->count; ++i)
        if (check->entries[i].status != STATUS_OK && check->entries[i].status != STATUS_UNCHAINED)
            ++check->altered;
    return 1;
}

uint32_t entry_line(HANDLE file, const CheckEntry& entry, char* line) {
    uint32_t got = 0;
    if (entry.last_length > CHECK_LINE_HELD ||
        !read_at(file, entry.last_offset, line, entry.last_length, &got) ||
        got != entry.last_length)
        return 0;
    line[got] = 0;
    return got;
}

namespace {

// A text of the line for the console: "-" when absent, control characters
// shown as '?', cut.
void console_text(const char* line, uint32_t length, const char* path, char* out, uint32_t size) {
    if (!json_string(json_at(line, length, path), out, size) || !out[0])
        strcpy(out, "-");
    without_controls(out);
}

void print_entries(HANDLE file, const RecordCheck& check) {
    for (uint32_t i = 0; i < check.count; ++i) {
        const CheckEntry& e = check.entries[i];
        char run[40] = "-", serial[64] = "-", outcome[40] = "-";
        if (e.status != STATUS_NOT_JSON) {
            const uint32_t length = entry_line(file, e, g_line);
            console_text(g_line, length, "run", run, sizeof run);
            console_text(g_line, length, "drive.serial", serial, sizeof serial);
            console_text(g_line, length, "outcome", outcome, sizeof outcome);
        }
        printf("%s %s %s %s\n", run, serial, outcome, STATUS_NAMES[e.status]);
    }
}

} // namespace

int record_mode(const Options& options, const Station& station) {
    const int certificates = options.certificates.given;
    const OptionValue& given = certificates ? options.certificates : options.check;
    const char* path = given.value && given.value[0] ? given.value : RECORD_FILE_NAME;
    if (options.positional_count > 0) {
        printf("Error: too many arguments\n");
        return EXIT_BAD_INPUT;
    }
    HANDLE file = open_read(path);
    if (file == INVALID_HANDLE_VALUE) {
        printf("Error: cannot read %s\n", path);
        return EXIT_BAD_INPUT;
    }
    static RecordCheck check;
    if (!check_record_file(file, path, &station.key, &check)) {
        close_file(file);
        return EXIT_BAD_INPUT;
    }
    int status = check.altered ? EXIT_RECORD_ALTERED : EXIT_ERASED;
    if (certificates) {
        if (write_certificates(file, check))
            printf("Certificates: %u runs written to " CERTIFICATES_FILE_NAME "\n", check.runs);
        else
            status = EXIT_BAD_INPUT;
    } else {
        print_entries(file, check);
        printf("Records: %u lines, %u runs, %u altered\n", check.lines, check.runs, check.altered);
    }
    close_file(file);
    return status;
}
