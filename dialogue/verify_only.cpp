#include "dialogue/verify_only.h"

#include <cstring>

#include "dialogue/dialogue.h"
#include "nvme/identify.h"
#include "transport/transport.h"

int verify_only_drive(RunResources& run) {
    uint8_t ns[IDENTIFY_SIZE];
    uint32_t size = 0;
    uint64_t capacity = 0;
    if (const int status = read_namespace(run, ns, &size, &capacity))
        return status;
    if (const int status = verify_plan(run.verify, capacity, verify_unit(size, size), 0, run.log))
        return status;
    // Windows would go on writing to the file systems while they are read.
    if (!take_volumes_offline(run.drive.number, run.log, &run.volumes))
        return EXIT_REFUSED;

    char line[RECORD_TEXT_SIZE];
    record_verify_only(&run.record);
    const int status =
        verify_drive_contents(run.verify, run.drive.disk, run.log, line, sizeof line);
    const VerifyVerdict verdict = run.verify->result.verdict;
    const char* outcome = verdict == VERIFY_BLANK        ? "Blank"
                          : verdict == VERIFY_HOLDS_DATA ? "Holds data"
                                                         : "Verify error";
    record_verification(&run.record, run.verify);
    record_outcome(&run.record, outcome, line, run.verify->result.check_ms, status);
    write_record(&run.record);
    return status;
}
