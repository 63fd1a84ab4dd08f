// Sanitize mode: the actions the path can run, the namespace lines, the
// action and the confirmation, the request, then the Sanitize Status log read
// once a second until the operation ends or the polling limit passes.
#include "dialogue/sanitize.h"

#include <cstdio>
#include <cstring>

#include "dialogue/dialogue.h"
#include "dialogue/host_facts.h"
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

// An action as the actions line and the record name it; null for none.
static const char* record_action(int action) {
    static const char* const names[] = {"block erase", "crypto erase", "overwrite"};
    for (int i = 0; i < 3; ++i)
        if (ACTIONS[i] == action)
            return names[i];
    return nullptr;
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

// Reads the log once a second from `start` until it no longer reports a
// sanitize in progress or `limit_ms` have passed; a read that fails waits for
// the next. 1 with the last log read in `last`, 0 when no read succeeded.
static int follow(DriveState* drive, uint32_t start, uint64_t limit_ms, SanitizeLog* last) {
    int have = 0;
    uint32_t shown = 0; // the last progress step printed
    uint32_t before = start;
    uint64_t elapsed = 0;
    for (;;) {
        uint8_t page[SANITIZE_LOG_SIZE];
        memset(page, 0, sizeof page);
        if (nvme_sanitize_log(drive, page)) {
            decode_sanitize_log(page, last);
            have = 1;
            if (last->status != SANITIZE_IN_PROGRESS)
                return have;
            const uint32_t step = sanitize_percent(*last) / 10 * 10;
            if (step > shown) {
                printf("Sanitizing: %u%%\n", step);
                shown = step;
            }
        }
        // Counted in steps, so that no wrap of the tick counter shortens it.
        const uint32_t now = tick_ms();
        elapsed += now - before;
        before = now;
        if (elapsed >= limit_ms)
            return have;
        sleep_ms(POLL_MS);
    }
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
    const int done =
        last.status == SANITIZE_COMPLETED || last.status == SANITIZE_COMPLETED_DEALLOCATED;
    int status = EXIT_POSSIBLY_ERASED;
    if (r.log_read && done && sanitize_action_of(last.cdw10) == r.action) {
        *outcome = outcome_line("Sanitized", r.elapsed_ms, line);
        status = EXIT_ERASED;
    } else if (r.log_read && last.status == SANITIZE_FAILED) {
        report(log, "Sanitize failed: the drive reports a failed sanitize\n");
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
    record_sanitize(&run.record, record_action(r.action), record_route(r.route));
    record_verification(&run.record, run.verify);
    record_outcome(&run.record, outcome, line, r.elapsed_ms, status);
    write_record(&run.record);
}

int sanitize_drive(RunResources& run, const uint8_t* identify, const char* action_text,
                   AnswerStream* answers, SanitizeResult* result) {
    DriveState* drive = &run.drive;
    SanitizeResult& r = *result;
    memset(&r, 0, sizeof r);
    // A log that cannot be read now leaves only the estimate unknown.
    const uint32_t first_read = tick_ms();
    uint8_t page[SANITIZE_LOG_SIZE];
    memset(page, 0, sizeof page);
    SanitizeLog found;
    memset(&found, 0, sizeof found);
    const int have_found = nvme_sanitize_log(drive, page);
    if (have_found)
        decode_sanitize_log(page, &found);

    r.actions = path_sanitize_actions(drive, identify, os_build());
    report_actions(run.log, r.actions);
    if (!r.actions)
        return EXIT_NOT_SUPPORTED;
    // A sanitize the drive still runs (the tool was stopped or the drive
    // unplugged during it) is followed, not started again.
    r.followed = have_found && found.status == SANITIZE_IN_PROGRESS;

    uint8_t ns[IDENTIFY_SIZE];
    memset(ns, 0, sizeof ns);
    if (!nvme_identify_namespace(drive, ns))
        return EXIT_NOT_REACHED;
    const uint32_t size = lba_data_size(ns, current_format_index(ns));
    report(run.log, "Size    : %1.0f MB\n", capacity_mb(ns));
    report(run.log, "LBA Size: %u\n", size);

    r.action = r.followed ? sanitize_action_of(found.cdw10)
                          : choose_action(r.actions, action_text, answers);
    if (!r.action && !r.followed)
        return EXIT_BAD_INPUT;
    report(run.log, "Selected sanitize action: %u - %s\n", static_cast<unsigned>(r.action),
           action_name(r.action));
    const uint64_t limit_s = polling_limit_s(have_found, found, r.action);

    uint32_t start = first_read;
    if (const int status = ready_to_erase(run, answers, !r.followed, namespace_size(ns) * size,
                                          verify_unit(size, size)))
        return status;
    // The record's first line is the evidence of a run that dies during the
    // sanitize: it goes out before the request, or before following one.
    // The started line names the route tried first; the final one, the
    // route that carried the sanitize.
    record_sanitize(&run.record, record_action(r.action),
                    drive->transport == TRANSPORT_INBOX && !r.followed
                        ? record_route(inbox_first_route())
                        : nullptr);
    set_number(&run.record.capacity_bytes, namespace_size(ns) * size);
    set_number(&run.record.lba_size_before, size);
    set_number(&run.record.lba_size_after, size);
    record_erase_started(&run.record);
    write_record(&run.record);
    char line[RECORD_TEXT_SIZE];
    const char* outcome;
    if (!r.followed) {
        drive->timeout = ERASE_TIMEOUT_S;
        // What the console shows so far must survive a crash during the erase.
        fflush(stdout);
        start = tick_ms();
        r.sent = 1;
        r.accepted =
            nvme_sanitize(drive, r.action, static_cast<uint32_t>(limit_s), os_build(), &r.route);
        drive->timeout = IDENTIFY_TIMEOUT_S; // the log is read with the identify timeout
        if (!r.accepted) {
            r.elapsed_ms = tick_ms() - start;
            outcome = outcome_line("Sanitize error", r.elapsed_ms, line);
            report(run.log, "%s\n", line);
            record_final(run, r, outcome, line, EXIT_ERASE_ERROR);
            return EXIT_ERASE_ERROR;
        }
    }
    r.log_read = follow(drive, start, limit_s * 1000, &r.last);
    r.elapsed_ms = tick_ms() - start;
    int status = report_outcome(run.log, r, &outcome, line);
    // The check decides after a confirmed or an unconfirmed sanitize, never
    // after an error; a sanitize followed from an earlier run was never
    // sampled.
    if (status != EXIT_ERASE_ERROR) {
        const int confirmed = status == EXIT_ERASED;
        status = r.followed ? verify_impossible(run.verify, run.log,
                                                "the sanitize began before this run", confirmed)
                            : verify_after_erase(run.verify, drive->disk, size, run.log, confirmed);
    }
    record_final(run, r, outcome, line, status);
    return status;
}
