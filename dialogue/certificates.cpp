// The certificates page, written piece by piece through one buffer. Every
// text from the record is HTML-escaped; the page loads nothing and runs
// nothing.
#include "dialogue/certificates.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dialogue/dialogue.h"
#include "dialogue/json_read.h"
#include "dialogue/utf8.h"
#include "platform/files.h"

namespace {

constexpr uint32_t PAGE_BUFFER = 65536;
constexpr uint32_t TEXT_HELD = 1024;

struct Page {
    HANDLE file;
    int failed;
    uint32_t used;
    char buffer[PAGE_BUFFER];
};

void flush(Page* page) {
    if (page->used && !write_bytes(page->file, page->buffer, page->used))
        page->failed = 1;
    page->used = 0;
}

void raw(Page* page, const char* text) {
    for (; *text; ++text) {
        if (page->used == PAGE_BUFFER)
            flush(page);
        page->buffer[page->used++] = *text;
    }
}

// A text as HTML: the five characters that could end a text or an
// attribute written as references; control characters as '?'.
void text(Page* page, const char* value) {
    char one[2] = {0, 0};
    for (; *value; ++value) {
        switch (*value) {
        case '&':
            raw(page, "&amp;");
            break;
        case '<':
            raw(page, "&lt;");
            break;
        case '>':
            raw(page, "&gt;");
            break;
        case '"':
            raw(page, "&quot;");
            break;
        case '\'':
            raw(page, "&#39;");
            break;
        default:
            one[0] = static_cast<unsigned char>(*value) < 0x20 || *value == 0x7F ? '?' : *value;
            raw(page, one);
        }
    }
}

// The record line of one run, and its values.
struct Line {
    const char* text;
    uint32_t length;
};

// A value as text: a string as it is, a number as written, "" otherwise.
void value_text(const Line& line, const char* path, char* out) {
    const JsonValue value = json_at(line.text, line.length, path);
    out[0] = 0;
    if (value.kind == JSON_STRING) {
        json_string(value, out, TEXT_HELD);
    } else if (value.kind == JSON_NUMBER || value.kind == JSON_BOOL) {
        const uint32_t n = value.length < TEXT_HELD - 1 ? value.length : TEXT_HELD - 1;
        memcpy(out, value.start, n);
        out[n] = 0;
    }
}

// The first of the paths that has a value (a version 1 line keeps some
// facts under other names).
void first_text(const Line& line, const char* path, const char* fallback, char* out) {
    value_text(line, path, out);
    if (!out[0] && fallback)
        value_text(line, fallback, out);
}

const char* const NONE = "\xE2\x80\x94"; // an em dash: not known

void cell(Page* page, const char* value) {
    raw(page, "<td>");
    text(page, value[0] ? value : NONE);
    raw(page, "</td>");
}

void fact(Page* page, const char* name, const char* value) {
    raw(page, "<tr><th>");
    text(page, name);
    raw(page, "</th>");
    cell(page, value);
    raw(page, "</tr>\n");
}

struct RunFacts {
    char date[TEXT_HELD];
    char model[TEXT_HELD];
    char serial[TEXT_HELD];
    char method[TEXT_HELD];
    char outcome[TEXT_HELD];
    char verification[TEXT_HELD];
    char exit_status[TEXT_HELD];
};

// `tail` added to the text in `out` (TEXT_HELD bytes), as far as whole
// characters fit.
void append(char* out, const char* tail) {
    uint32_t n = static_cast<uint32_t>(strlen(out));
    const unsigned char* p = reinterpret_cast<const unsigned char*>(tail);
    for (uint32_t i = 0; p[i];) {
        uint32_t k = utf8_length(p + i, static_cast<uint32_t>(strlen(tail + i)));
        if (k == 0)
            k = 1;
        if (n + k >= TEXT_HELD)
            break;
        memcpy(out + n, p + i, k);
        n += k;
        i += k;
    }
    out[n] = 0;
}

// `b` added to `out` after `separator`, or alone when `out` is empty.
void join(char* out, const char* b, const char* separator = ", ") {
    if (!b[0])
        return;
    if (out[0])
        append(out, separator);
    append(out, b);
}

// `label`, a space and `value`, added with `separator`, when there is a value.
void join_labelled(char* out, const char* label, const char* value, const char* separator = ", ") {
    if (!value[0])
        return;
    if (out[0])
        append(out, separator);
    append(out, label);
    append(out, " ");
    append(out, value);
}

// The fact `name`: the record's value at `path`.
void fact_at(Page* page, const Line& line, const char* name, const char* path) {
    static char v[TEXT_HELD];
    value_text(line, path, v);
    fact(page, name, v);
}

// The fact `name`: the record's values at `a` and `b`, joined by `separator`.
void fact_of_two(Page* page, const Line& line, const char* name, const char* a, const char* b,
                 const char* separator) {
    static char v[TEXT_HELD], w[TEXT_HELD];
    value_text(line, a, v);
    value_text(line, b, w);
    join(v, w, separator);
    fact(page, name, v);
}

void read_run(const Line& line, RunFacts* f) {
    static char part[TEXT_HELD];
    first_text(line, "ended", "started", f->date);
    value_text(line, "drive.model", f->model);
    value_text(line, "drive.serial", f->serial);
    value_text(line, "outcome", f->outcome);
    value_text(line, "exit_status", f->exit_status);
    value_text(line, "method.command", f->method);
    char details[TEXT_HELD] = "";
    value_text(line, "method.ses", part);
    join_labelled(details, "SES", part);
    value_text(line, "method.lba_format", part);
    join_labelled(details, "LBA format", part);
    value_text(line, "method.action", part);
    join(details, part);
    value_text(line, "method.route", part);
    join(details, part);
    if (details[0]) {
        append(f->method, " (");
        append(f->method, details);
        append(f->method, ")");
    }
    value_text(line, "verification.result", f->verification);
    value_text(line, "verification.level", part);
    join_labelled(f->verification, "level", part, "; ");
    value_text(line, "verification.samples", part);
    if (part[0]) {
        append(part, " samples");
        join(f->verification, part, "; ");
    }
    value_text(line, "verification.coverage", part);
    if (part[0]) {
        // The share read, as a percentage of the capacity.
        snprintf(part, TEXT_HELD, "%.3g %% of the capacity read", 100 * strtod(part, nullptr));
        join(f->verification, part, "; ");
    }
}

const char* const STYLE =
    "@page { size: A4; margin: 14mm; }\n"
    "body { font-family: sans-serif; font-size: 9.5pt; color: #000; margin: 0; }\n"
    "h1 { font-size: 15pt; margin: 0 0 6pt; }\n"
    "h2 { font-size: 11pt; margin: 9pt 0 3pt; }\n"
    "table { border-collapse: collapse; width: 100%; }\n"
    "th, td { border: 1px solid #777; padding: 2pt 4pt; text-align: left; vertical-align: top; "
    "overflow-wrap: anywhere; }\n"
    "thead th, .facts th { background: #e8e8e8; }\n"
    ".facts th { width: 30%; font-weight: normal; }\n"
    ".sign td { height: 26pt; }\n"
    ".certificate { break-before: page; }\n"
    "p.note { margin: 3pt 0; }\n";

void summary(Page* page, HANDLE file, const RecordCheck& check, char* line_buffer) {
    static RunFacts f;
    raw(page, "<h1>Erase record</h1>\n<table class=\"summary\">\n<thead><tr>");
    static const char* const HEADS[] = {"Date",    "Drive",        "Serial",      "Method",
                                        "Outcome", "Verification", "Exit status", "Chain status"};
    for (const char* head : HEADS) {
        raw(page, "<th>");
        text(page, head);
        raw(page, "</th>");
    }
    raw(page, "</tr></thead>\n<tbody>\n");
    for (uint32_t i = 0; i < check.count; ++i) {
        const CheckEntry& e = check.entries[i];
        memset(&f, 0, sizeof f);
        if (e.status != STATUS_NOT_JSON) {
            const Line line = {line_buffer, entry_line(file, e, line_buffer)};
            read_run(line, &f);
        }
        raw(page, "<tr>");
        const char* const values[] = {
            f.date,    f.model,        f.serial,      f.method,
            f.outcome, f.verification, f.exit_status, STATUS_NAMES[e.status]};
        for (const char* value : values)
            cell(page, value);
        raw(page, "</tr>\n");
    }
    raw(page, "</tbody>\n</table>\n");
    char counts[128];
    snprintf(counts, sizeof counts, "%u lines, %u runs, %u altered", check.lines, check.runs,
             check.altered);
    raw(page, "<p class=\"note\">");
    text(page, counts);
    raw(page, "</p>\n");
}

void certificate(Page* page, const Line& line, const char* status) {
    static RunFacts f;
    static char v[TEXT_HELD], w[TEXT_HELD];
    memset(&f, 0, sizeof f);
    read_run(line, &f);
    raw(page, "<section class=\"certificate\">\n<h1>Certificate of Sanitization</h1>\n");

    raw(page, "<h2>Person performing the sanitization</h2>\n<table class=\"facts\">\n");
    static const struct {
        const char* name;
        const char* path;
        const char* fallback;
    } PERSON[] = {{"Name", "station.operator", nullptr},
                  {"Title", "station.title", nullptr},
                  {"Organization", "station.organization", nullptr},
                  {"Location", "station.location", nullptr},
                  {"Contact", "station.contact", nullptr},
                  {"Computer", "station.computer", "computer"},
                  {"Account", "station.account", "operator"}};
    for (const auto& row : PERSON) {
        first_text(line, row.path, row.fallback, v);
        fact(page, row.name, v);
    }
    raw(page, "</table>\n");

    raw(page, "<h2>Media</h2>\n<table class=\"facts\">\n");
    fact_at(page, line, "Property number (asset tag)", "asset");
    value_text(line, "drive.maker.pci_vendor_id", v);
    value_text(line, "drive.maker.pci_subsystem_vendor_id", w);
    join(v, w, " / ");
    value_text(line, "drive.maker.ieee_oui", w);
    join_labelled(v, "IEEE OUI", w);
    fact(page, "Maker (PCI vendor / subsystem vendor)", v);
    fact_of_two(page, line, "Enclosure", "drive.enclosure.vendor", "drive.enclosure.product", " ");
    fact(page, "Model", f.model);
    fact(page, "Serial number", f.serial);
    fact_at(page, line, "Media type", "drive.media_type");
    value_text(line, "drive.capacity_bytes", v);
    if (v[0])
        append(v, " bytes");
    fact(page, "Capacity", v);
    fact_at(page, line, "Source", "station.source");
    fact_at(page, line, "Classification", "station.classification");
    raw(page, "</table>\n");

    raw(page, "<h2>Sanitization</h2>\n<table class=\"facts\">\n");
    fact(page, "Method", f.method);
    fact_of_two(page, line, "Tool and version", "tool", "version", " ");
    fact_of_two(page, line, "Category (NIST SP 800-88 Rev. 1 / IEEE 2883)",
                "category.nist_800_88_r1", "category.ieee_2883", " / ");
    fact_of_two(page, line, "Category achieved", "achieved.nist_800_88_r1", "achieved.ieee_2883",
                " / ");
    fact(page, "Verification", f.verification);
    fact_at(page, line, "Started (UTC)", "started");
    fact_at(page, line, "Ended (UTC)", "ended");
    first_text(line, "outcome_line", "outcome", v);
    fact(page, "Outcome", v);
    fact(page, "Exit status", f.exit_status);
    fact_at(page, line, "Destination", "station.destination");
    fact_at(page, line, "Note", "note");
    fact_at(page, line, "Run", "run");
    fact(page, "Record chain", status);
    raw(page, "</table>\n");

    raw(page, "<h2>Signatures</h2>\n<table class=\"sign\">\n<thead><tr><th></th><th>Name</th>"
              "<th>Signature</th><th>Date</th></tr></thead>\n<tbody>\n");
    value_text(line, "station.operator", v);
    value_text(line, "station.validator", w);
    const struct {
        const char* who;
        const char* name;
    } SIGNERS[] = {{"Operator", v}, {"Validator", w}};
    for (const auto& signer : SIGNERS) {
        raw(page, "<tr><th>");
        text(page, signer.who);
        raw(page, "</th><td>");
        text(page, signer.name);
        raw(page, "</td><td></td><td></td></tr>\n");
    }
    raw(page, "</tbody>\n</table>\n</section>\n");
}

} // namespace

int write_certificates(HANDLE file, const RecordCheck& check) {
    static Page page;
    static char line_buffer[CHECK_LINE_HELD + 1];
    page.file = create_file(CERTIFICATES_FILE_NAME);
    page.failed = page.file == INVALID_HANDLE_VALUE;
    page.used = 0;
    if (!page.failed) {
        raw(&page, "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                   "<title>Certificates of sanitization</title>\n<style>\n");
        raw(&page, STYLE);
        raw(&page, "</style>\n</head>\n<body>\n");
        summary(&page, file, check, line_buffer);
        for (uint32_t i = 0; i < check.count; ++i) {
            const CheckEntry& e = check.entries[i];
            if (!e.has_run)
                continue;
            const Line line = {line_buffer, entry_line(file, e, line_buffer)};
            certificate(&page, line, STATUS_NAMES[e.status]);
        }
        raw(&page, "</body>\n</html>\n");
        flush(&page);
        close_file(page.file);
    }
    if (page.failed)
        printf("Error: cannot write " CERTIFICATES_FILE_NAME "\n");
    return !page.failed;
}
