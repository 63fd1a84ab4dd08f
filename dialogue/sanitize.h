// Sanitize mode of the dialogue: chosen with the letter S in the drive
// string, it erases the whole controller with the NVMe Sanitize command and
// follows the operation in the Sanitize Status log.
#pragma once

#include <cstdint>

#include "dialogue/console.h"
#include "dialogue/run.h"

// The option letter S (or s) of a drive string.
int has_sanitize_letter(const char* text);

// On the console, after the inbox driver's "Error - possible incompatible
// nvme driver" line: a hint when that driver can sanitize the drive.
void sanitize_hint(int drive, const uint8_t* identify);

// The steps after the identity lines in sanitize mode, up to the report.
// `action_text` is the second argument, null when absent. Returns the run's
// exit status.
int sanitize_drive(RunResources& run, HANDLE command_handle, const uint8_t* identify,
                   const char* action_text, AnswerStream* answers);
