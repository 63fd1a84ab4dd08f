// The steps every erase takes between the operator's choices and its request.
#include "dialogue/run.h"

#include "dialogue/console.h"
#include "dialogue/dialogue.h"

int ready_to_erase(RunResources& run, AnswerStream* answers, int fresh, uint64_t capacity,
                   uint32_t unit) {
    // A level the namespace is too large for ends the run before anything
    // is asked, taken offline or read.
    if (fresh)
        if (const int status = verify_plan(run.verify, capacity, unit, 1, run.log))
            return status;
    if (fresh && !g_quiet) {
        const int confirmed = confirm_erase(answers);
        if (confirmed <= 0)
            return confirmed < 0 ? EXIT_BAD_INPUT : EXIT_NOT_CONFIRMED;
    }
    uint32_t disks[RECORD_REACH_HELD];
    uint32_t count = 0;
    for (; count < run.record.reach_count && count < RECORD_REACH_HELD; ++count)
        disks[count] = run.record.reach[count].number;
    if (count == 0)
        disks[count++] = static_cast<uint32_t>(run.drive.number);
    if (!take_disks_offline(disks, count, run.log, &run.volumes))
        return EXIT_REFUSED;
    if (fresh)
        verify_sample(run.verify, run.drive.disk, run.log);
    return 0;
}
