// The erase record: what a certificate of sanitization needs, one JSON line
// per state of an erase, appended to RECORD_FILE_NAME, each line chained to
// the one before it. The dialogue fills the fields as it learns them; a field
// not known (or not applying) is written as null.
#pragma once

#include <cstdint>

#include "dialogue/sha256.h"

#define RECORD_FILE_NAME "veltrane-erase.jsonl"
constexpr uint32_t RECORD_FORMAT = 2;

// Texts of the station file, the options and the host are at most
// RECORD_TEXT_SIZE - 1 bytes; device texts are far shorter.
constexpr uint32_t RECORD_TEXT_SIZE = 256;
constexpr uint32_t RECORD_REACH_HELD = 100;  // drives 0 to 99
constexpr uint32_t RECORD_LOG_EVIDENCE = 32; // the Sanitize Status log's first bytes
constexpr uint32_t RECORD_STATION_TEXTS = 9;

// The longest line: every text at its longest with every byte escaped in six
// (a control character as \u00XX), the reach full, and everything else
// (names, numbers, constants) well within the last term. Nothing is ever cut.
constexpr uint32_t RECORD_TEXTS = RECORD_STATION_TEXTS + 4; // computer, account, asset, note
constexpr uint32_t RECORD_DEVICE_TEXTS = 8; // vendor, product twice; model, serial, firmware, os
constexpr uint32_t RECORD_LINE_WORST = RECORD_TEXTS * (6 * (RECORD_TEXT_SIZE - 1) + 2) +
                                       RECORD_DEVICE_TEXTS * (6 * (RECORD_TEXT_SIZE - 1) + 2) +
                                       RECORD_REACH_HELD * 48 + 4096;
// The chain's members after `truncated`: `,"prev":"<64>","mac":"<64>"}`, the
// line end and a zero.
constexpr uint32_t RECORD_CHAIN_TAIL = 9 + 64 + 1 + 8 + 64 + 2 + 1 + 1;
constexpr uint32_t RECORD_LINE_SIZE = 49152;
static_assert(RECORD_LINE_WORST + RECORD_CHAIN_TAIL <= RECORD_LINE_SIZE,
              "a record line could be cut");

struct RecordText {
    int known;
    char text[RECORD_TEXT_SIZE];
};

struct RecordNumber {
    int known;
    uint64_t value;
};

void set_text(RecordText* field, const char* text); // cut to RECORD_TEXT_SIZE - 1 bytes
void set_number(RecordNumber* field, uint64_t value);

// Texts that are the tool's own constants are pointers: null until known.
struct EraseRecord {
    char run[17]; // 16 hex digits
    RecordText started;
    RecordText ended;
    // The station: the station file's facts and the options (`station` in
    // the file's order), the computer, the account and Windows PE.
    RecordText station[RECORD_STATION_TEXTS];
    RecordText computer;
    RecordText account; // USERNAME
    int windows_pe;
    RecordText asset;
    RecordText note;
    RecordText os;

    RecordNumber drive_number;
    const char* bus;  // "USB", "NVME"
    const char* path; // "inbox driver", "OFA driver", "JMicron bridge", ...
    RecordText vendor;
    RecordText product;
    RecordText model;
    RecordText serial;
    RecordText firmware;
    RecordNumber capacity_bytes;
    RecordNumber lba_size_before;
    RecordNumber lba_size_after;
    // The maker as the controller names it (Identify Controller).
    int maker_known;
    uint16_t pci_vendor_id;
    uint16_t pci_subsystem_vendor_id;
    uint32_t ieee_oui;

    const char* command; // "Format NVM", "Sanitize", "Verify"
    RecordNumber ses;
    const char* action; // "block erase", "crypto erase", "overwrite"
    RecordNumber lba_format;
    const char* route; // "reinitialize media", "SCSI sanitize", "protocol command"
    const char* nist_800_88_r1;
    const char* ieee_2883;

    const char* outcome; // "started", "Erased", ..., "Sanitize unconfirmed"
    RecordText outcome_line;
    RecordNumber elapsed_ms;
    RecordNumber exit_status;

    // The drive's own evidence: the erase command's completion status, when
    // its completion entry was read, and the Sanitize Status log's first
    // bytes before the request and last after it.
    int completion_known;
    uint32_t completion_status; // (SCT << 8) | SC
    int have_log_before;
    uint8_t log_before[RECORD_LOG_EVIDENCE];
    int have_log_after;
    uint8_t log_after[RECORD_LOG_EVIDENCE];

    int verification_ran;  // 0: the whole verification is null
    RecordText level;      // as --verify gave it
    const char* algorithm; // "stratified", "full"
    RecordNumber samples;
    RecordNumber held_data;
    RecordNumber unchanged;
    RecordNumber not_pattern;
    RecordNumber seed;
    RecordNumber unit_bytes;
    RecordNumber bytes_read; // of the pass after the erase, when it read every sample
    RecordNumber units_not_erased;
    int read_error_known;
    uint32_t read_error;
    uint64_t read_offset;
    RecordText verification_result; // "verified", "skipped: <reason>", ...

    // The controller's number of namespaces (Identify Controller NN), and
    // the disks an erase reached: the chosen one and those that share its
    // controller, in drive-number order.
    RecordNumber nn;
    uint32_t reach_count;
    struct {
        uint32_t number;
        uint32_t namespace_id;
    } reach[RECORD_REACH_HELD];

    HmacKey key;            // signs each line; `set` 0 without a key
    int write_failure_told; // "Write Record File Error" is printed once a run
};

// Starts a run's record: every field unknown, then the run id, the
// computer, the account (USERNAME), the OS line's text, whether the host
// runs Windows PE and the drive number.
void record_begin(EraseRecord* record, uint32_t drive, int windows_pe);

// The station's facts, the options' texts and the key (station.h).
struct Station;
struct Options;
void record_station(EraseRecord* record, const Station* station, const Options* options);

// The path by the transport that reached the controller (TransportKind).
const char* record_path_name(uint8_t transport);

// The path and the controller's identity texts, as the console shows them.
void record_identity(EraseRecord* record, uint8_t transport, const char* model,
                     const char* firmware, const char* serial);

// The maker's numbers in the controller's Identify data.
void record_maker(EraseRecord* record, const uint8_t* identify);

// One more disk the erase reaches, by drive number and namespace; called in
// drive-number order.
void record_reach(EraseRecord* record, uint32_t number, uint32_t namespace_id);

// A Format NVM about to be sent: the method and the categories it reaches.
void record_format(EraseRecord* record, uint32_t lba_format, uint32_t ses);

// A Sanitize about to be sent: its action ("block erase", "crypto erase",
// "overwrite"), the route through the inbox driver ("reinitialize media",
// "SCSI sanitize", "protocol command"; null on the other paths), the
// category, Purge, and the LBA size after it, the one before.
void record_sanitize(EraseRecord* record, const char* action, const char* route);

// A drive checked without an erase (the letter V), right before its pass:
// the method "Verify", no category, the format kept, the time it starts.
void record_verify_only(EraseRecord* record);

// The Sanitize Status log's first RECORD_LOG_EVIDENCE bytes as read before
// the request and last after it, each when it was read.
void record_sanitize_logs(EraseRecord* record, int have_before, const uint8_t* before,
                          int have_after, const uint8_t* after);

// Right after the erase request: its completion status, when the path read
// the completion entry (DriveState's).
struct DriveState;
void record_completion(EraseRecord* record, const DriveState* drive);

// What the read-back check found; nothing when it did not run.
struct VerifySamples;
void record_verification(EraseRecord* record, const VerifySamples* verify);

// The erase request goes out now: the outcome "started" and the time, and
// the line written. 1 to go on; 0 when the line cannot be written and the
// erase must not be sent ("Error: the erase record cannot be written,
// nothing was erased" on the console and in the log). A sanitize found
// running (`followed`) sends nothing: it goes on whatever the record.
struct LogBlock;
int record_started(EraseRecord* record, LogBlock* log, int followed);

// The final facts: the outcome's words, the exact outcome line (without its
// line end), the elapsed time, the exit status and the time it ended.
void record_outcome(EraseRecord* record, const char* outcome, const char* line, uint32_t elapsed_ms,
                    int exit_status);

// The record as one JSON line in `buffer` (RECORD_LINE_SIZE bytes), chained
// after a line whose SHA-256 is `prev` (lower-case hex; null for the first
// line of a file) and signed with the record's key: its length.
uint32_t record_line(const EraseRecord* record, const char* prev, char* buffer, uint32_t capacity);

// Appends the record's line to the record file in one write, chained to the
// file's last line under the file's lock. A file that cannot be opened or
// written is told once a run ("Write Record File Error"), and 0 returned.
int write_record(EraseRecord* record);
