// A check of its own: the letter V in the drive string reads a drive
// without erasing it, as an auditor's second look after an erase made
// elsewhere or earlier, and leaves a record of what it found.
#pragma once

#include "dialogue/run.h"

// The steps after the identity lines: the namespace lines, the volumes taken
// offline, one pass of the --verify level over the disk, its verdict and its
// record. Nothing is asked and nothing is written to the drive. Returns the
// run's exit status: 0 blank, 9 holds data, 10 not read.
int verify_only_drive(RunResources& run);
