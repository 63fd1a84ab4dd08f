// Reading the operator's answers.
#pragma once

#include <cstdint>

constexpr uint32_t ANSWER_SIZE = 128;

// Where standard input stands between two answers: at its very start (where
// a UTF-8 byte-order mark may come first), or right after a CR (an LF that
// follows belongs to that line end). Owned by the dialogue for its run.
struct AnswerStream {
    int at_start;
    int after_cr;
};

void begin_answers(AnswerStream* stream);

// Reads exactly one line from standard input into `answer` (ANSWER_SIZE
// bytes) without its line end. A line ends at LF, CR LF or a lone CR; after
// a CR nothing more is read until the next answer. A NUL byte or the 127th
// character ends the text and the rest of the line is discarded; end of
// input ends the line (at once: an empty answer).
void read_answer(AnswerStream* stream, char* answer);

// The leading decimal integer of `text`: optional white space, an optional
// sign, then digits. 0 when there is none; saturates at the int32 bounds.
int32_t read_number(const char* text);

// Whether `text` begins with a number as read_number reads it: after the
// white space and the sign there is a digit.
int begins_with_number(const char* text);

// Prints a prompt and makes it visible before the answer is read.
void prompt(const char* text);

// Option letters of a drive string.
int has_quiet_letter(const char* text);
int has_serial_letter(const char* text);
