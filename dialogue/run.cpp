// The steps every erase takes between the operator's choices and its request.
#include "dialogue/run.h"

#include <cstring>

#include "dialogue/console.h"
#include "dialogue/dialogue.h"
#include "nvme/identify.h"
#include "transport/transport.h"

int read_namespace(RunResources& run, uint8_t* ns, uint32_t* lba_size, uint64_t* capacity) {
    memset(ns, 0, IDENTIFY_SIZE);
    if (!nvme_identify_namespace(&run.drive, ns))
        return EXIT_NOT_REACHED;
    *lba_size = lba_data_size(ns, current_format_index(ns));
    report(run.log, "Size    : %1.0f MB\n", capacity_mb(ns));
    report(run.log, "LBA Size: %u\n", *lba_size);
    *capacity = 0;
    if (!verify_namespace(run.verify, ns, *lba_size, run.log, capacity))
        return EXIT_NOT_REACHED;
    set_number(&run.record.capacity_bytes, *capacity);
    set_number(&run.record.lba_size_before, *lba_size);
    return 0;
}

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
