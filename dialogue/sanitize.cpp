// Sanitize mode: the actions the path can run, the namespace lines, the
// action and the confirmation, the request, then the Sanitize Status log read
// once a second until the operation ends or the polling limit passes.
#include "dialogue/sanitize.h"

#include <cstdio>
#include <cstring>

#include "dialogue/dialogue.h"
#include "dialogue/host_facts.h"
#include "dialogue/scope.h"
#include "platform/report.h"
#include "nvme/identify.h"
#include "nvme/sanitize.h"
#include "transport/transport.h"

constexpr uint32_t POLL_MS = 1000;
// Without an estimate from the log the operation is followed this long.
constexpr uint64_t NO_ESTIMATE_LIMIT_S = 12 * 3600;
constexpr uint64_t LIMIT_MARGIN_S = 60;
constexpr uint32_t LIMIT_ESTIMATES = 3;
// An estimate that would keep the tool waiting longer is not believed: the
// operator runs the tool again with S to follow the sanitize further.
constexpr uint64_t MOST_LIMIT_S = 48 * 3600;
// Through the inbox driver the log may stay unreadable after Windows'
// request: this many failed reads in a row end the polling.
constexpr uint32_t UNREADABLE_LOG_READS = 5;
// Completion statuses (SCT 0) of a command the controller refused because
// a sanitize runs, or because the last one failed.
constexpr uint32_t STATUS_SANITIZE_FAILED = 0x01C;
constexpr uint32_t STATUS_SANITIZE_IN_PROGRESS = 0x01D;

static const int ACTIONS[] = {SANITIZE_BLOCK_ERASE, SANITIZE_CRYPTO_ERASE, SANITIZE_OVERWRITE};

static const char* action_name(int action) {
    switch (action) {
    case SANITIZE_BLOCK_ERASE:
        return "Block Erase";
    case SANITIZE_CRYPTO_ERASE:
        return "Crypto Erase";
    case SANITIZE_OVERWRITE:
        return "Overwrite";
    default:
        return "Unknown";
    }
}

static uint32_t os_build() {
    return g_os_version.dwBuildNumber;
}

void sanitize_hint(const DriveState* drive, const uint8_t* identify) {
    if (path_sanitize_actions(drive, identify, os_build()) != 0)
        printf("Sanitize is possible through this driver: run with S (e.g. %uS)\n",
               static_cast<unsigned>(drive->number));
}

void format_sanitize_hint(const DriveState* drive) {
    if (!drive->completion_known)
        return;
    if (drive->completion_status == STATUS_SANITIZE_IN_PROGRESS)
        printf("The drive is sanitizing: run the tool with S to follow it.\n");
    else if (drive->completion_status == STATUS_SANITIZE_FAILED)
        printf("The drive is in sanitize failure mode: run a sanitize with S.\n");
}

// An action as the actions line and the record name it; null for none.
static const char* record_action(int action) {
    static const char* const names[] = {"block erase", "crypto erase", "overwrite"};
    for (int i = 0; i < 3; ++i)
        if (ACTIONS[i] == action)
            return names[i];
    return nullptr;
}

// The name of a followed sanitize: its action, or, for a SANACT the tool
// has no action for, the number.
static const char* followed_action(const SanitizeResult& r) {
    static const char* const sanacts[8] = {"sanact 0", "sanact 1", "sanact 2", "sanact 3",
                                           "sanact 4", "sanact 5", "sanact 6", "sanact 7"};
    return r.action ? record_action(r.action) : sanacts[r.sanact & 7];
}

// "Sanitize: block erase, crypto erase" or "Sanitize: not supported".
static void report_actions(LogBlock* log, uint32_t actions) {
    char line[64] = "Sanitize: ";
    const char* separator = "";
    for (int action : ACTIONS) {
        if (actions & sanitize_action_bit(action)) {
            strcat(line, separator);
            strcat(line, record_action(action));
            separator = ", ";
        }
    }
    if (!actions)
        strcat(line, "not supported");
    report(log, "%s\n", line);
}

// An action number as the operator gives it: optional white space, digits,
// optional white space and nothing else; -1 for any other text.
static int default_action(uint32_t actions) {
    if (actions & sanitize_action_bit(SANITIZE_CRYPTO_ERASE))
        return SANITIZE_CRYPTO_ERASE;
    if (actions & sanitize_action_bit(SANITIZE_BLOCK_ERASE))
        return SANITIZE_BLOCK_ERASE;
    return SANITIZE_OVERWRITE;
}

// The action from the argument, the quiet default or the operator; 0 after
// "Error: wrong sanitize action selected".
static int choose_action(uint32_t actions, const char* action_text, AnswerStream* answers) {
    const int fallback = default_action(actions);
    int32_t action = fallback;
    int readable = 1;
    if (action_text) {
        readable = read_choice(action_text, &action);
    } else if (!g_quiet) {
        char answer[ANSWER_SIZE];
        char question[96];
        snprintf(question, sizeof question,
                 "Please select sanitize action (1 block erase, 2 crypto erase, 3 overwrite - "
                 "default %u):",
                 static_cast<unsigned>(fallback));
        prompt(question);
        if (!read_answer(answers, answer))
            return 0;
        readable = is_blank(answer) || read_choice(answer, &action);
    }
    if (!readable || action < SANITIZE_BLOCK_ERASE || action > SANITIZE_OVERWRITE ||
        !(actions & sanitize_action_bit(action))) {
        printf("Error: wrong sanitize action selected\n");
        return 0;
    }
    return action;
}

// How long a sanitize of `action` is followed: three times the log's
// estimate and a minute, at most 48 hours, or 12 hours without one.
static uint64_t polling_limit_s(int have_log, const SanitizeLog& log, int action) {
    const uint32_t estimate = have_log ? sanitize_estimate(log, action) : 0;
    if (estimate == 0)
        return NO_ESTIMATE_LIMIT_S;
    const uint64_t limit = LIMIT_ESTIMATES * static_cast<uint64_t>(estimate) + LIMIT_MARGIN_S;
    return limit < MOST_LIMIT_S ? limit : MOST_LIMIT_S;
}

// The polling of the log after the request (or the first read of a
// sanitize found running).
struct Polling {
    uint32_t from;     // the tick the polling limit counts from
    uint64_t limit_ms; // then the polling ends
    // The inbox driver: failed reads are told together when the polling ends,
    // and five in a row end it.
    int tell_later;
    uint32_t failures;     // failed reads
    uint32_t in_a_row;     // of them, since the last read that succeeded
    uint32_t error;        // the last-error code of the last one told later
    uint32_t last_read_at; // tick of the last read
    uint32_t last_good_at; // tick of the last read that succeeded
    int unreadable;        // ended by failed reads in a row
};

// Keeps the log's first bytes for the record.
static void keep_evidence(const uint8_t* page, uint8_t* evidence, int* have) {
    memcpy(evidence, page, SANITIZE_LOG_EVIDENCE);
    *have = 1;
}

// Reads the log once a second until it no longer reports a sanitize in
// progress or the limit has passed; a read that fails waits for the next.
// The last read that succeeded goes into `r`.
static void follow(DriveState* drive, Polling* p, SanitizeResult* r) {
    uint32_t shown = 0; // the last progress step printed
    uint32_t before = p->from;
    uint64_t elapsed = 0;
    for (;;) {
        uint8_t page[SANITIZE_LOG_SIZE];
        memset(page, 0, sizeof page);
        uint32_t untold = 0;
        const int read = nvme_sanitize_log(drive, page, p->tell_later ? &untold : nullptr);
        const uint32_t now = tick_ms();
        p->last_read_at = now;
        if (read) {
            p->in_a_row = 0;
            p->last_good_at = now;
            decode_sanitize_log(page, &r->last);
            keep_evidence(page, r->log_after, &r->have_log_after);
            r->log_read = 1;
            if (r->last.status != SANITIZE_IN_PROGRESS)
                return;
            r->saw_progress = 1;
            const uint32_t step = sanitize_percent(r->last) / 10 * 10;
            if (step > shown) {
                printf("Sanitizing: %u%%\n", step);
                shown = step;
            }
        } else {
            ++p->failures;
            if (untold)
                p->error = untold;
            if (p->tell_later && ++p->in_a_row >= UNREADABLE_LOG_READS) {
                p->unreadable = 1;
                return;
            }
        }
        // Counted in steps, so that no wrap of the tick counter shortens it.
        elapsed += now - before;
        before = now;
        if (elapsed >= p->limit_ms)
            return;
        sleep_ms(POLL_MS);
    }
}

// The inbox driver's failed reads after the request, in one line.
static void tell_failed_reads(const Polling& p) {
    if (!p.tell_later || !p.error)
        return;
    if (p.failures == 1)
        printf("IOCtl: LOG failed 0x%x!\n", p.error);
    else
        printf("IOCtl: LOG failed 0x%x! (%u times)\n", p.error, p.failures);
}

// Whether the log shows this sanitize done: the action sent completed, and
// the log shows that it ran now: a read showed it in progress, or the log
// changed since the first read. A log like that one may be an earlier
// sanitize's, left by a drive (or bridge) that accepted the request and did
// nothing.
static int confirmed(const SanitizeResult& r) {
    const SanitizeLog& last = r.last;
    if (!r.log_read || !r.action || sanitize_action_of(last.cdw10) != r.action ||
        (last.status != SANITIZE_COMPLETED && last.status != SANITIZE_COMPLETED_DEALLOCATED))
        return 0;
    if (r.saw_progress)
        return 1;
    return r.have_log_before && (r.before.status != last.status || r.before.cdw10 != last.cdw10 ||
                                 r.before.progress != last.progress);
}

// The outcome line (without its end) and its words, in `line`, for the
// console, the log and the record.
static const char* outcome_line(const char* outcome, uint32_t elapsed_ms, char* line) {
    snprintf(line, RECORD_TEXT_SIZE, "%s [%u ms]!", outcome, elapsed_ms);
    return outcome;
}

static int report_outcome(LogBlock* log, const SanitizeResult& r, const char** outcome,
                          char* line) {
    const SanitizeLog& last = r.last;
    int status = EXIT_POSSIBLY_ERASED;
    if (confirmed(r)) {
        *outcome = outcome_line("Sanitized", r.elapsed_ms, line);
        status = EXIT_ERASED;
    } else if (r.log_read && last.status == SANITIZE_FAILED) {
        report(log, "Sanitize failed: the drive reports a failed sanitize\n");
        printf("The drive stays in sanitize failure mode and refuses reads until a sanitize "
               "succeeds.\n");
        *outcome = outcome_line("Sanitize error", r.elapsed_ms, line);
        status = EXIT_ERASE_ERROR;
    } else {
        if (r.log_read && last.status == SANITIZE_IN_PROGRESS)
            report(log, "Sanitize still running: keep the drive powered, run again with S to "
                        "follow it\n");
        *outcome = outcome_line("Sanitize unconfirmed", r.elapsed_ms, line);
    }
    report(log, "%s\n", line);
    return status;
}

// The record's name of the inbox driver's route.
static const char* record_route(SanitizeRoute route) {
    switch (route) {
    case ROUTE_REINITIALIZE_MEDIA:
        return "reinitialize media";
    case ROUTE_SCSI_SANITIZE:
        return "SCSI sanitize";
    case ROUTE_PROTOCOL_COMMAND:
        return "protocol command";
    default:
        return nullptr;
    }
}

// The record's final line, after the run's last outcome line.
static void record_final(RunResources& run, const SanitizeResult& r, const char* outcome,
                         const char* line, int status) {
    record_sanitize(&run.record, followed_action(r), record_route(r.route));
    record_sanitize_logs(&run.record, r.have_log_before, r.log_before, r.have_log_after,
                         r.log_after);
    record_verification(&run.record, run.verify);
    record_outcome(&run.record, outcome, line, r.elapsed_ms, status);
    write_record(&run.record);
}

// Whether a request that failed may have started a sanitize: it failed
// after the drive may have taken it, or the drive answered that a sanitize
// runs. Then the log tells what happens.
static int judged_by_log(const DriveState* drive) {
    return drive->no_answer ||
           (drive->completion_known && drive->completion_status == STATUS_SANITIZE_IN_PROGRESS);
}

int sanitize_drive(RunResources& run, const uint8_t* identify, const char* action_text,
                   AnswerStream* answers, SanitizeResult* result) {
    DriveState* drive = &run.drive;
    SanitizeResult& r = *result;
    memset(&r, 0, sizeof r);
    // The log before the request: what a sanitize must change to count as
    // done now. A log that cannot be read leaves the estimate unknown.
    const uint32_t first_read = tick_ms();
    uint8_t page[SANITIZE_LOG_SIZE];
    memset(page, 0, sizeof page);
    if (nvme_sanitize_log(drive, page)) {
        decode_sanitize_log(page, &r.before);
        keep_evidence(page, r.log_before, &r.have_log_before);
    }

    r.actions = path_sanitize_actions(drive, identify, os_build());
    report_actions(run.log, r.actions);
    if (!r.actions)
        return EXIT_NOT_SUPPORTED;
    // A sanitize the drive still runs (the tool was stopped or the drive
    // unplugged during it) is followed, not started again.
    r.followed = r.have_log_before && r.before.status == SANITIZE_IN_PROGRESS;

    uint8_t ns[IDENTIFY_SIZE];
    uint32_t size = 0;
    uint64_t capacity = 0;
    if (const int status = read_namespace(run, ns, &size, &capacity))
        return status;

    if (r.followed) {
        r.sanact = r.before.cdw10 & 0x7;
        r.action = sanitize_action_of(r.before.cdw10);
        if (action_text)
            printf("Sanitize: following the %s already running; the action given is not used\n",
                   followed_action(r));
    } else {
        r.action = choose_action(r.actions, action_text, answers);
        if (!r.action)
            return EXIT_BAD_INPUT;
    }
    if (r.action)
        report(run.log, "Selected sanitize action: %u - %s\n", static_cast<unsigned>(r.action),
               action_name(r.action));
    else
        report(run.log, "Selected sanitize action: %u - Unknown\n", r.sanact);
    if (const int status = settle_scope(run, identify, sanitize_erase(r.followed)))
        return status;
    const uint64_t limit_s = polling_limit_s(r.have_log_before, r.before, r.action);

    if (const int status =
            ready_to_erase(run, answers, !r.followed, capacity, verify_unit(size, size)))
        return status;
    // The record's first line is the evidence of a run that dies during the
    // sanitize: it goes out before the request, or before following one.
    // The started line names the route tried first; the final one, the
    // route that carried the sanitize.
    record_sanitize(&run.record, followed_action(r),
                    drive->transport == TRANSPORT_INBOX && !r.followed
                        ? record_route(inbox_first_route(drive))
                        : nullptr);
    set_number(&run.record.lba_size_after, size);
    record_sanitize_logs(&run.record, r.have_log_before, r.log_before, 0, nullptr);
    if (!record_started(&run.record, run.log, r.followed))
        return EXIT_REFUSED;
    char line[RECORD_TEXT_SIZE];
    const char* outcome;
    uint32_t start = first_read;
    Polling polling;
    memset(&polling, 0, sizeof polling);
    polling.from = start;
    polling.limit_ms = limit_s * 1000;
    polling.tell_later = drive->transport == TRANSPORT_INBOX;
    if (!r.followed) {
        drive->timeout = ERASE_TIMEOUT_S;
        // What the console shows so far must survive a crash during the erase.
        fflush(stdout);
        start = tick_ms();
        r.sent = 1;
        r.accepted =
            nvme_sanitize(drive, r.action, static_cast<uint32_t>(limit_s), os_build(), &r.route);
        record_completion(&run.record, drive);
        drive->timeout = IDENTIFY_TIMEOUT_S; // the log is read with the identify timeout
        polling.from = start;
        if (!r.accepted) {
            r.judged = judged_by_log(drive);
            if (!r.judged) {
                r.elapsed_ms = tick_ms() - start;
                outcome = outcome_line("Sanitize error", r.elapsed_ms, line);
                report(run.log, "%s\n", line);
                record_final(run, r, outcome, line, EXIT_ERASE_ERROR);
                return EXIT_ERASE_ERROR;
            }
            // The limit counts from the first read after the request.
            polling.from = tick_ms();
        }
    }
    const uint32_t request_end = tick_ms();
    follow(drive, &polling, &r);
    // Unreadable: the time up to the last read that told something.
    r.elapsed_ms = (polling.unreadable ? (r.log_read ? polling.last_good_at : request_end)
                                       : polling.last_read_at) -
                   start;
    tell_failed_reads(polling);
    int status = report_outcome(run.log, r, &outcome, line);
    // The check decides after a confirmed or an unconfirmed sanitize, never
    // after an error; a sanitize that still runs keeps the drive from
    // reading, and one followed from an earlier run was never sampled.
    if (status != EXIT_ERASE_ERROR) {
        const int done = status == EXIT_ERASED;
        if (r.log_read && r.last.status == SANITIZE_IN_PROGRESS)
            status = verify_impossible(run.verify, run.log, "the sanitize is still running", 0);
        else if (r.followed)
            status =
                verify_impossible(run.verify, run.log, "the sanitize began before this run", done);
        else
            status = verify_after_erase(run.verify, drive->disk, size, run.log, done);
    }
    record_final(run, r, outcome, line, status);
    return status;
}
