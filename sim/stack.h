// Internals shared by the stack's files.
#pragma once

// Loads the host and opens the trace on the first device operation after a
// reset; an unusable host or trace file ends the process with status 2 and
// one line on standard error.
void sim_ensure_ready();
