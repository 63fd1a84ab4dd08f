// The erase record: filled by the dialogue, written as one JSON line.
#include "dialogue/record.h"

#include <cstdio>
#include <cstring>

#include "dialogue/chain.h"
#include "dialogue/dialogue.h"
#include "dialogue/host_facts.h"
#include "dialogue/json_line.h"
#include "dialogue/mix.h"
#include "dialogue/options.h"
#include "dialogue/station.h"
#include "dialogue/verify.h"
#include "platform/device.h"
#include "platform/report.h"
#include "platform/wire.h"
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

void record_begin(EraseRecord* record, uint32_t drive, int windows_pe) {
    memset(record, 0, sizeof *record);
    make_run_id(record->run);
    char name[RECORD_TEXT_SIZE];
    memset(name, 0, sizeof name);
    if (computer_name(name, sizeof name))
        set_text(&record->computer, name);
    memset(name, 0, sizeof name);
    if (account_name(name, sizeof name))
        set_text(&record->account, name);
    record->windows_pe = windows_pe;
    // The service-pack text as the OS line shows it: cut at its 128 bytes,
    // printable.
    char service_pack[sizeof g_os_version.szCSDVersion + 1];
    memset(service_pack, 0, sizeof service_pack);
    memcpy(service_pack, g_os_version.szCSDVersion, sizeof g_os_version.szCSDVersion);
    make_printable(service_pack);
    char os[RECORD_TEXT_SIZE];
    snprintf(os, sizeof os, "%d.%d build %d %s", static_cast<int>(g_os_version.dwMajorVersion),
             static_cast<int>(g_os_version.dwMinorVersion),
             static_cast<int>(g_os_version.dwBuildNumber), service_pack);
    set_text(&record->os, os);
    set_number(&record->drive_number, drive);
}

// An option's text: trimmed of spaces; empty counts as not given.
static void option_text(RecordText* field, const OptionValue& option) {
    if (!option.given || !option.value)
        return;
    uint32_t length = 0;
    const char* text =
        trimmed(option.value, static_cast<uint32_t>(strlen(option.value)), 0, &length);
    if (length == 0 || length > STATION_VALUE_MAX)
        return;
    char copy[RECORD_TEXT_SIZE];
    memcpy(copy, text, length);
    copy[length] = 0;
    set_text(field, copy);
}

void record_station(EraseRecord* record, const Station* station, const Options* options) {
    static_assert(STATION_FIELDS == RECORD_STATION_TEXTS, "one record text per station fact");
    for (uint32_t i = 0; i < RECORD_STATION_TEXTS; ++i)
        record->station[i] = station->field[i];
    option_text(&record->station[STATION_OPERATOR], options->operator_name);
    option_text(&record->asset, options->asset);
    option_text(&record->note, options->note);
    record->key = station->key;
}

void record_identity(EraseRecord* record, uint8_t transport, const char* model,
                     const char* firmware, const char* serial) {
    record->path = record_path_name(transport);
    set_text(&record->model, model);
    set_text(&record->firmware, firmware);
    set_text(&record->serial, serial);
}

void record_maker(EraseRecord* record, const uint8_t* identify) {
    record->maker_known = 1;
    record->pci_vendor_id = get_le16(identify, 0);
    record->pci_subsystem_vendor_id = get_le16(identify, 2);
    // Stored with its last byte first.
    record->ieee_oui = uint32_t(identify[75]) << 16 | uint32_t(identify[74]) << 8 | identify[73];
}

void record_reach(EraseRecord* record, uint32_t number, uint32_t namespace_id) {
    if (record->reach_count >= RECORD_REACH_HELD)
        return;
    record->reach[record->reach_count].number = number;
    record->reach[record->reach_count].namespace_id = namespace_id;
    ++record->reach_count;
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

void record_sanitize_logs(EraseRecord* record, int have_before, const uint8_t* before,
                          int have_after, const uint8_t* after) {
    record->have_log_before = have_before;
    if (have_before)
        memcpy(record->log_before, before, RECORD_LOG_EVIDENCE);
    record->have_log_after = have_after;
    if (have_after)
        memcpy(record->log_after, after, RECORD_LOG_EVIDENCE);
}

void record_completion(EraseRecord* record, const DriveState* drive) {
    // The inbox driver hands back no completion entry.
    record->completion_known = drive->completion_known && drive->transport != TRANSPORT_INBOX;
    record->completion_status = drive->completion_status;
}

int record_started(EraseRecord* record, LogBlock* log, int followed) {
    record->outcome = "started";
    set_now(&record->started);
    if (write_record(record) || followed)
        return 1;
    report(log, "Error: the erase record cannot be written, nothing was erased\n");
    return 0;
}

void record_outcome(EraseRecord* record, const char* outcome, const char* line, uint32_t elapsed_ms,
                    int exit_status) {
    record->outcome = outcome;
    set_text(&record->outcome_line, line);
    set_number(&record->elapsed_ms, elapsed_ms);
    set_number(&record->exit_status, static_cast<uint64_t>(exit_status));
    set_now(&record->ended);
}

namespace {

// Texts go in trimmed of spaces at both ends.
void put_text(JsonLine* line, const char* key, const RecordText& field) {
    if (!field.known) {
        json_null(line, key);
        return;
    }
    uint32_t length = 0;
    const char* text = trimmed(field.text, static_cast<uint32_t>(strlen(field.text)), 0, &length);
    json_text_n(line, key, text, length);
}

void put_number(JsonLine* line, const char* key, const RecordNumber& field) {
    if (field.known)
        json_number(line, key, field.value);
    else
        json_null(line, key);
}

// Upper-case hex of `digits` digits after `prefix`.
void put_hex(JsonLine* line, const char* key, const char* prefix, uint32_t value, int digits) {
    char text[16];
    snprintf(text, sizeof text, "%s%0*X", prefix, digits, static_cast<unsigned>(value));
    json_text(line, key, text);
}

void put_log(JsonLine* line, const char* key, int have, const uint8_t* log) {
    if (!have) {
        json_null(line, key);
        return;
    }
    static const char DIGITS[] = "0123456789abcdef";
    char hex[2 * RECORD_LOG_EVIDENCE + 1];
    for (uint32_t i = 0; i < RECORD_LOG_EVIDENCE; ++i) {
        hex[2 * i] = DIGITS[log[i] >> 4];
        hex[2 * i + 1] = DIGITS[log[i] & 0xF];
    }
    hex[2 * RECORD_LOG_EVIDENCE] = 0;
    json_text(line, key, hex);
}

int is_started(const EraseRecord* r) {
    return r->outcome && strcmp(r->outcome, "started") == 0;
}

void put_drive(JsonLine* line, const EraseRecord* r) {
    json_object_begin(line, "drive");
    put_number(line, "number", r->drive_number);
    json_text(line, "bus", r->bus);
    json_text(line, "path", r->path);
    put_text(line, "vendor", r->vendor);
    put_text(line, "product", r->product);
    put_text(line, "model", r->model);
    put_text(line, "serial", r->serial);
    put_text(line, "firmware", r->firmware);
    put_number(line, "capacity_bytes", r->capacity_bytes);
    put_number(line, "lba_size_before", r->lba_size_before);
    put_number(line, "lba_size_after", r->lba_size_after);
    json_text(line, "media_type", "NVMe flash SSD");
    if (r->maker_known) {
        json_object_begin(line, "maker");
        put_hex(line, "pci_vendor_id", "0x", r->pci_vendor_id, 4);
        put_hex(line, "pci_subsystem_vendor_id", "0x", r->pci_subsystem_vendor_id, 4);
        put_hex(line, "ieee_oui", "", r->ieee_oui, 6);
        json_object_end(line);
    } else {
        json_null(line, "maker");
    }
    // On a bridge the descriptor names the enclosure, not the drive.
    const int bridge = r->path && strstr(r->path, "bridge");
    if (bridge) {
        json_object_begin(line, "enclosure");
        put_text(line, "vendor", r->vendor);
        put_text(line, "product", r->product);
        json_object_end(line);
    } else {
        json_null(line, "enclosure");
    }
    put_number(line, "nn", r->nn);
    json_list_begin(line, "reach");
    for (uint32_t i = 0; i < r->reach_count; ++i) {
        json_object_begin(line, nullptr);
        json_number(line, "number", r->reach[i].number);
        json_number(line, "namespace", r->reach[i].namespace_id);
        json_object_end(line);
    }
    json_list_end(line);
    json_object_end(line);
}

void put_evidence(JsonLine* line, const EraseRecord* r) {
    json_object_begin(line, "evidence");
    if (r->completion_known && !is_started(r)) {
        json_object_begin(line, "completion");
        json_number(line, "sct", r->completion_status >> 8 & 0x7);
        json_number(line, "sc", r->completion_status & 0xFF);
        json_object_end(line);
    } else {
        json_null(line, "completion");
    }
    put_log(line, "sanitize_log_before", r->have_log_before, r->log_before);
    put_log(line, "sanitize_log_after", r->have_log_after && !is_started(r), r->log_after);
    json_object_end(line);
}

void put_verification(JsonLine* line, const EraseRecord* r) {
    // Only a final line tells what a check found.
    if (!r->verification_ran || !r->outcome || is_started(r)) {
        json_null(line, "verification");
        return;
    }
    json_object_begin(line, "verification");
    json_text(line, "method", "sampled read-back");
    put_text(line, "level", r->level);
    json_text(line, "algorithm", r->algorithm);
    put_number(line, "samples", r->samples);
    put_number(line, "held_data", r->held_data);
    put_number(line, "unchanged", r->unchanged);
    put_number(line, "not_pattern", r->not_pattern);
    if (r->seed.known) {
        char seed[17];
        snprintf(seed, sizeof seed, "%016llx", static_cast<unsigned long long>(r->seed.value));
        json_text(line, "seed", seed);
    } else {
        json_null(line, "seed");
    }
    put_number(line, "unit_bytes", r->unit_bytes);
    put_number(line, "bytes_read", r->bytes_read);
    // The share of the capacity read, to nine significant digits.
    if (r->bytes_read.known && r->capacity_bytes.known && r->capacity_bytes.value > 0) {
        char coverage[32];
        snprintf(coverage, sizeof coverage, "%.9g",
                 static_cast<double>(r->bytes_read.value) /
                     static_cast<double>(r->capacity_bytes.value));
        json_raw(line, "coverage", coverage);
    } else {
        json_null(line, "coverage");
    }
    put_number(line, "units_not_erased", r->units_not_erased);
    if (r->read_error_known) {
        json_object_begin(line, "read_error");
        json_number(line, "code", r->read_error);
        json_number(line, "offset", r->read_offset);
        json_object_end(line);
    } else {
        json_null(line, "read_error");
    }
    put_text(line, "result", r->verification_result);
    json_object_end(line);
}

} // namespace

uint32_t record_line(const EraseRecord* r, const char* prev, char* buffer, uint32_t capacity) {
    if (capacity < RECORD_CHAIN_TAIL + JSON_LINE_MIN_CAPACITY)
        return 0;
    JsonLine line;
    json_begin(&line, buffer, capacity - RECORD_CHAIN_TAIL);
    json_number(&line, "record", RECORD_FORMAT);
    json_text(&line, "run", r->run);
    json_text(&line, "tool", "Veltrane");
    json_text(&line, "version", VELTRANE_VERSION);
    put_text(&line, "started", r->started);
    put_text(&line, "ended", r->ended);

    json_object_begin(&line, "station");
    for (uint32_t i = 0; i < RECORD_STATION_TEXTS; ++i)
        put_text(&line, STATION_KEYS[i], r->station[i]);
    put_text(&line, "computer", r->computer);
    put_text(&line, "account", r->account);
    json_bool(&line, "windows_pe", r->windows_pe);
    json_object_end(&line);
    put_text(&line, "asset", r->asset);
    put_text(&line, "note", r->note);
    put_text(&line, "os", r->os);

    put_drive(&line, r);

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
    // What the erase is shown to have reached: the category, when the run
    // ended with every check passed.
    const int achieved = !is_started(r) && r->exit_status.known && r->exit_status.value == 0;
    json_object_begin(&line, "achieved");
    json_text(&line, "nist_800_88_r1", achieved ? r->nist_800_88_r1 : nullptr);
    json_text(&line, "ieee_2883", achieved ? r->ieee_2883 : nullptr);
    json_object_end(&line);

    json_text(&line, "outcome", r->outcome);
    put_text(&line, "outcome_line", r->outcome_line);
    put_number(&line, "elapsed_ms", r->elapsed_ms);
    put_number(&line, "exit_status", r->exit_status);
    put_evidence(&line, r);
    put_verification(&line, r);
    json_end_open(&line);
    return chain_close_line(buffer, line.size, prev, &r->key);
}

int write_record(EraseRecord* record) {
    if (append_chained(RECORD_FILE_NAME, record))
        return 1;
    if (!record->write_failure_told)
        printf("Write Record File Error\n");
    record->write_failure_told = 1;
    return 0;
}

void record_verification(EraseRecord* record, const VerifySamples* verify) {
    const VerifyResult& result = verify->result;
    if (result.verdict == VERIFY_NOT_RUN)
        return;
    record->verification_ran = 1;
    set_text(&record->level, result.level[0] ? result.level : "quick");
    record->algorithm = result.full ? "full" : "stratified";
    if (verify->count > 0) {
        set_number(&record->seed, result.seed);
        set_number(&record->samples, verify->count);
    }
    if (verify->unit > 0)
        set_number(&record->unit_bytes, verify->unit);
    if (result.read_error) {
        record->read_error_known = 1;
        record->read_error = result.read_error;
        record->read_offset = result.read_offset;
    }
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
        // A drive checked alone: its one pass read every unit it names; the
        // units that hold data are the ones not erased.
        set_text(&record->verification_result,
                 result.verdict == VERIFY_BLANK ? "blank" : "holds data");
        set_number(&record->bytes_read, result.bytes_read);
        set_number(&record->units_not_erased, result.units_not_erased);
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
    set_number(&record->bytes_read, result.bytes_read);
    if (result.pattern_known)
        set_number(&record->units_not_erased, result.units_not_erased);
}
