// The erase record: what a certificate of sanitization needs, one JSON line
// per state of an erase, appended to RECORD_FILE_NAME. The dialogue fills the
// fields as it learns them; a field not known (or not applying) is written
// as null.
#pragma once

#include <cstdint>

#define RECORD_FILE_NAME "veltrane-erase.jsonl"
constexpr uint32_t RECORD_FORMAT = 1;

// A line holds every field with room to spare: identity texts are at most
// 40 bytes, and only texts full of control characters (each escaped in six
// bytes) could make it longer, which cuts the line (`"truncated": true`).
constexpr uint32_t RECORD_LINE_SIZE = 4096;
constexpr uint32_t RECORD_TEXT_SIZE = 128;
constexpr uint32_t RECORD_REACH_HELD = 100; // drives 0 to 99

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
    RecordText computer;
    RecordText user; // written as "operator"
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

    const char* command; // "Format NVM", "Sanitize"
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

    int verification_ran; // 0: the whole verification is null
    RecordNumber samples;
    RecordNumber held_data;
    RecordNumber unchanged;
    RecordNumber not_pattern;
    RecordNumber seed;
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

    int write_failure_told; // "Write Record File Error" is printed once a run
};

// Starts a run's record: every field unknown, then the run id, the
// computer, the operator (USERNAME), the OS line's text and the drive
// number.
void record_begin(EraseRecord* record, uint32_t drive);

// The path by the transport that reached the controller (TransportKind).
const char* record_path_name(uint8_t transport);

// The path and the controller's identity texts, as the console shows them.
void record_identity(EraseRecord* record, uint8_t transport, const char* model,
                     const char* firmware, const char* serial);

// A Format NVM about to be sent: the method and the categories it reaches.
void record_format(EraseRecord* record, uint32_t lba_format, uint32_t ses);

// A Sanitize about to be sent: its action ("block erase", "crypto erase",
// "overwrite"), the route through the inbox driver ("reinitialize media",
// "SCSI sanitize", "protocol command"; null on the other paths), the
// category, Purge, and the LBA size after it, the one before.
void record_sanitize(EraseRecord* record, const char* action, const char* route);

// What the read-back check found; nothing when it did not run.
struct VerifySamples;
void record_verification(EraseRecord* record, const VerifySamples* verify);

// The erase request goes out now: the outcome "started" and the time.
void record_erase_started(EraseRecord* record);

// The final facts: the outcome's words, the exact outcome line (without its
// line end), the elapsed time, the exit status and the time it ended.
void record_outcome(EraseRecord* record, const char* outcome, const char* line, uint32_t elapsed_ms,
                    int exit_status);

// The record as one JSON line in `buffer` (RECORD_LINE_SIZE bytes or fewer;
// a record that does not fit is cut): its length.
uint32_t record_line(const EraseRecord* record, char* buffer, uint32_t capacity);

// Appends the record's line to the record file in one write. A file that
// cannot be opened or written is told once a run, and the run goes on.
void write_record(EraseRecord* record);
