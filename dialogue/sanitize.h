// Sanitize mode of the dialogue: chosen with the letter S in the drive
// string, it erases the whole controller with the NVMe Sanitize command and
// follows the operation in the Sanitize Status log.
#pragma once

#include <cstdint>

#include "dialogue/console.h"
#include "dialogue/run.h"
#include "nvme/sanitize.h"
#include "transport/transport.h"

// On the console, after the inbox driver's "Error - possible incompatible
// nvme driver" line: a hint when that driver can sanitize the drive.
void sanitize_hint(const DriveState* drive, const uint8_t* identify);

// On the console, after a Format NVM that the controller answered with
// Sanitize In Progress or Sanitize Failed: what to run instead.
void format_sanitize_hint(const DriveState* drive);

constexpr uint32_t SANITIZE_LOG_EVIDENCE = 32;

// What sanitize mode did, for the run's record: zero where a step did not
// run.
struct SanitizeResult {
    uint32_t actions;    // the actions the path offers, as SANICAP bits
    int action;          // chosen, or named by the sanitize that was followed; 0 for none known
    uint32_t sanact;     // SANACT of a followed sanitize
    int followed;        // a sanitize found in progress was followed; none sent
    int sent;            // the request that starts one was sent
    int accepted;        // and accepted
    int judged;          // it failed after the drive may have taken it: the log tells
    SanitizeLog before;  // the first read, when have_log_before
    int log_read;        // a log read after the request (or the first read) succeeded
    SanitizeLog last;    // the last such read
    int saw_progress;    // one of them showed a sanitize in progress
    uint32_t elapsed_ms; // from the request, or the first log read, to the end
    SanitizeRoute route; // the inbox driver's request that carried it
    // The Sanitize Status log's first bytes as read before the request and
    // last after it, for the record's evidence.
    int have_log_before;
    uint8_t log_before[SANITIZE_LOG_EVIDENCE];
    int have_log_after;
    uint8_t log_after[SANITIZE_LOG_EVIDENCE];
};

// The steps after the identity lines in sanitize mode, up to the report.
// `action_text` is the second argument, null when absent. Fills `result` and
// returns the run's exit status.
int sanitize_drive(RunResources& run, const uint8_t* identify, const char* action_text,
                   AnswerStream* answers, SanitizeResult* result);
