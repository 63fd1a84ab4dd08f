// The certificates page: one self-contained, printable HTML5 page with the
// record's summary and one certificate of sanitization per run.
#pragma once

#include <cstdint>

#include "dialogue/check.h"

#define CERTIFICATES_FILE_NAME "veltrane-certificates.html"

// Writes the page for the checked record file `file` into the current
// folder. 1 when written; 0 after "Error: cannot write ...".
int write_certificates(HANDLE file, const RecordCheck& check);
