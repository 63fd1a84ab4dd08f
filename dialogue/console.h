// Reading the operator's answers.
#pragma once

#include <cstdint>

constexpr uint32_t ANSWER_SIZE = 128;

// Reads one line from standard input into `answer` (ANSWER_SIZE bytes)
// without its line end. A longer line keeps its first 127 characters and the
// rest of the line is discarded; end of input reads as an empty answer.
void read_answer(char* answer);

// The leading decimal integer of `text`: optional white space, an optional
// sign, then digits. 0 when there is none; saturates at the int32 bounds.
int32_t read_number(const char* text);

// Prints a prompt and makes it visible before the answer is read.
void prompt(const char* text);

// Option letters of a drive string.
int has_quiet_letter(const char* text);
int has_serial_letter(const char* text);
