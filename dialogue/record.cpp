// The erase record: filled by the dialogue, written as one JSON line.
#include "dialogue/record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dialogue/dialogue.h"
#include "dialogue/host_facts.h"
#include "dialogue/json_line.h"
#include "dialogue/mix.h"
#include "dialogue/verify.h"
#include "platform/device.h"
#include "platform/report.h"
#include "transport/transport.h"

void set_text(RecordText* field, const char* text) {
    field->known = 1;
    uint32_t n = 0;
    for (; text[n] && n + 1 < sizeof field->text; ++n)
        field->text[n] = text[n];
    field->text[n] = 0;
}

void set_number(RecordNumber* field, uint64_t value) {
    field->known = 1;
    field->value = value;
}

static void set_now(RecordText* field) {
    SYSTEMTIME now;
    memset(&now, 0, sizeof now);
    system_time(&now);
    char text[64];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    set_text(field, text);
}

// Runs on one computer differ in their process id, or, with an id used
// again, in their tick count and time.
static void make_run_id(char* run) {
    SYSTEMTIME now;
    memset(&now, 0, sizeof now);
    system_time(&now);
    const WORD fields[] = {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                           now.wMinute, now.wSecond, now.wMilliseconds};
    uint64_t date = 0;
    for (WORD field : fields)
        date = date * 1000 + field;
    const uint64_t id =
        mix64((static_cast<uint64_t>(tick_ms()) << 32 | process_id()) ^ mix64(date));
    static const char DIGITS[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i)
        run[i] = DIGITS[(id >> (60 - 4 * i)) & 0xF];
    run[16] = 0;
}

void record_begin(EraseRecord* record, uint32_t drive) {
    memset(record, 0, sizeof *record);
    make_run_id(record->run);
    char name[RECORD_TEXT_SIZE];
    memset(name, 0, sizeof name);
    if (computer_name(name, sizeof name))
        set_text(&record->computer, name);
    const char* user = getenv("USERNAME");
    if (user)
        set_text(&record->user, user);
    // The service-pack text as the OS line shows it: cut at its 128 bytes,
    // printable.
    char service_pack[sizeof g_os_version.szCSDVersion + 1];
    memset(service_pack, 0, sizeof service_pack);
    memcpy(service_pack, g_os_version.szCSDVersion, sizeof g_os_version.szCSDVersion);
    make_printable(service_pack);
    char os[RECORD_TEXT_SIZE + 64];
    snprintf(os, sizeof os, "%d.%d build %d %s", static_cast<int>(g_os_version.dwMajorVersion),
             static_cast<int>(g_os_version.dwMinorVersion),
             static_cast<int>(g_os_version.dwBuildNumber), service_pack);
    set_text(&record->os, os);
    set_number(&record->drive_number, drive);
}

void record_identity(EraseRecord* record, uint8_t transport, const char* model,
                     const char* firmware, const char* serial) {
    record->path = record_path_name(transport);
    set_text(&record->model, model);
    set_text(&record->firmware, firmware);
    set_text(&record->serial, serial);
}

const char* record_path_name(uint8_t transport) {
    switch (transport) {
    case TRANSPORT_INBOX:
        return "inbox driver";
    case TRANSPORT_OFA:
        return "OFA driver";
    case TRANSPORT_JMS:
        return "JMicron bridge";
    case TRANSPORT_ASM:
        return "ASMedia bridge";
    case TRANSPORT_RTL:
        return "Realtek bridge";
    default:
        return nullptr;
    }
}

void record_format(EraseRecord* record, uint32_t lba_format, uint32_t ses) {
    // The sanitization category each Secure Erase Setting reaches.
    static const char* const NIST[3] = {"none", "Purge", "Purge"};
    static const char* const IEEE[3] = {"none", "Clear", "Clear, possible Purge"};
    record->command = "Format NVM";
    set_number(&record->ses, ses);
    set_number(&record->lba_format, lba_format);
    record->nist_800_88_r1 = ses < 3 ? NIST[ses] : nullptr;
    record->ieee_2883 = ses < 3 ? IEEE[ses] : nullptr;
}

void record_sanitize(EraseRecord* record, const char* action, const char* route) {
    record->command = "Sanitize";
    record->action = action;
    record->route = route;
    record->nist_800_88_r1 = "Purge";
    record->ieee_2883 = "Purge";
    record->lba_size_after = record->lba_size_before; // a sanitize keeps the format
}

void record_verify_only(EraseRecord* record) {
    record->command = "Verify";
    record->lba_size_after = record->lba_size_before; // nothing changes the format
    set_now(&record->started);
}

void record_erase_started(EraseRecord* record) {
    record->outcome = "started";
    set_now(&record->started);
}

void record_outcome(EraseRecord* record, const char* outcome, const char* line, uint32_t elapsed_ms,
                    int exit_status) {
    record->outcome = outcome;
    set_text(&record->outcome_line, line);
    set_number(&record->elapsed_ms, elapsed_ms);
    set_number(&record->exit_status, static_cast<uint64_t>(exit_status));
    set_now(&record->ended);
}

static void put_text(JsonLine* line, const char* key, const RecordText& field) {
    json_text(line, key, field.known ? field.text : nullptr);
}

static void put_number(JsonLine* line, const char* key, const RecordNumber& field) {
    if (field.known)
        json_number(line, key, field.value);
    else
        json_null(line, key);
}

uint32_t record_line(const EraseRecord* r, char* buffer, uint32_t capacity) {
    JsonLine line;
    json_begin(&line, buffer, capacity);
    json_number(&line, "record", RECORD_FORMAT);
    json_text(&line, "run", r->run);
    json_text(&line, "tool", "Veltrane");
    json_text(&line, "version", VELTRANE_VERSION);
    put_text(&line, "started", r->started);
    put_text(&line, "ended", r->ended);
    put_text(&line, "computer", r->computer);
    put_text(&line, "operator", r->user);
    put_text(&line, "os", r->os);

    json_object_begin(&line, "drive");
    put_number(&line, "number", r->drive_number);
    json_text(&line, "bus", r->bus);
    json_text(&line, "path", r->path);
    put_text(&line, "vendor", r->vendor);
    put_text(&line, "product", r->product);
    put_text(&line, "model", r->model);
    put_text(&line, "serial", r->serial);
    put_text(&line, "firmware", r->firmware);
    put_number(&line, "capacity_bytes", r->capacity_bytes);
    put_number(&line, "lba_size_before", r->lba_size_before);
    put_number(&line, "lba_size_after", r->lba_size_after);
    json_text(&line, "media_type", "NVMe flash SSD");
    json_object_end(&line);

    json_object_begin(&line, "method");
    json_text(&line, "command", r->command);
    put_number(&line, "ses", r->ses);
    json_text(&line, "action", r->action);
    put_number(&line, "lba_format", r->lba_format);
    json_text(&line, "route", r->route);
    json_object_end(&line);
    json_object_begin(&line, "category");
    json_text(&line, "nist_800_88_r1", r->nist_800_88_r1);
    json_text(&line, "ieee_2883", r->ieee_2883);
    json_object_end(&line);

    json_text(&line, "outcome", r->outcome);
    put_text(&line, "outcome_line", r->outcome_line);
    put_number(&line, "elapsed_ms", r->elapsed_ms);
    put_number(&line, "exit_status", r->exit_status);

    // Only a final line tells what a check found.
    if (r->verification_ran && r->outcome && strcmp(r->outcome, "started") != 0) {
        json_object_begin(&line, "verification");
        json_text(&line, "method", "sampled read-back");
        put_number(&line, "samples", r->samples);
        put_number(&line, "held_data", r->held_data);
        put_number(&line, "unchanged", r->unchanged);
        put_number(&line, "not_pattern", r->not_pattern);
        put_number(&line, "seed", r->seed);
        put_text(&line, "result", r->verification_result);
        json_object_end(&line);
    } else {
        json_null(&line, "verification");
    }
    return json_end(&line);
}

// The line in one write at the end of the file, as the log's block goes:
// other runs appending at the same time cannot split it.
static int append_line(const char* line, uint32_t size) {
    HANDLE file = open_append(RECORD_FILE_NAME);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    const int whole = append_bytes(file, line, size);
    close_append(file);
    return whole;
}

void write_record(EraseRecord* record) {
    char line[RECORD_LINE_SIZE];
    const uint32_t size = record_line(record, line, sizeof line);
    if (append_line(line, size))
        return;
    if (!record->write_failure_told)
        printf("Write Record File Error\n");
    record->write_failure_told = 1;
}

void record_verification(EraseRecord* record, const VerifySamples* verify) {
    const VerifyResult& result = verify->result;
    if (result.verdict == VERIFY_NOT_RUN)
        return;
    record->verification_ran = 1;
    if (verify->count > 0)
        set_number(&record->seed, result.seed);
    const char* verdict = nullptr;
    switch (result.verdict) {
    case VERIFY_VERIFIED:
        verdict = "verified";
        break;
    case VERIFY_DATA_SURVIVED:
        verdict = "data survived";
        break;
    case VERIFY_NOTHING_TO_COMPARE:
        verdict = "nothing to compare";
        break;
    case VERIFY_TOO_FEW:
        verdict = "too few samples";
        break;
    case VERIFY_BLANK:
    case VERIFY_HOLDS_DATA:
        // A drive checked alone: its counts are units, not samples.
        set_text(&record->verification_result,
                 result.verdict == VERIFY_BLANK ? "blank" : "holds data");
        return;
    case VERIFY_READ_ERROR:
        set_text(&record->verification_result, "read error");
        return;
    default: {
        char skipped[RECORD_TEXT_SIZE];
        snprintf(skipped, sizeof skipped, "skipped: %s", result.skip_reason);
        set_text(&record->verification_result, skipped);
        return;
    }
    }
    // The counts are known only when every sample was read again.
    set_text(&record->verification_result, verdict);
    set_number(&record->samples, result.samples);
    set_number(&record->held_data, result.held_data);
    set_number(&record->unchanged, result.unchanged);
    set_number(&record->not_pattern, result.not_pattern);
}
