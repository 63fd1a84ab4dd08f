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

// Bytes of one input line read at most: a longer line is not an answer, and
// input without line ends (a device of zeros) must not keep the run waiting.
constexpr uint32_t INPUT_LINE_LIMIT = 4096;

// Reads exactly one line from standard input into `answer` (ANSWER_SIZE
// bytes) without its line end. A line ends at LF, CR LF or a lone CR; after
// a CR nothing more is read until the next answer. The 127th character ends
// the text and the rest of the line is discarded; end of input ends the line
// (at once: an empty answer). Returns 0, having printed why, for a line
// longer than INPUT_LINE_LIMIT bytes (reading stops at its first byte past
// the limit), for input that begins with a UTF-16 byte-order mark, and for a
// line that holds a NUL byte.
int read_answer(AnswerStream* stream, char* answer);

// The leading decimal integer of `text`: optional white space, an optional
// sign, then digits. 0 when there is none; saturates at the int32 bounds.
int32_t read_number(const char* text);

// A drive string: optional white space, an optional sign, digits, then only
// white space and option letters (Y, N, S, V, either case; not both S and
// V). 1 with the number in `drive` (saturated at the int32 bounds); 0 for
// anything else.
int read_drive(const char* text, int32_t* drive);

// A choice (LBA format, SES value, action): optional white space, digits,
// optional white space, nothing else. 1 with the value in `value`
// (saturated at INT32_MAX); 0 for anything else, an empty text included.
int read_choice(const char* text, int32_t* value);

// Whether `text` holds nothing but white space: a typed answer that keeps
// its default.
int is_blank(const char* text);

// The operator's confirmation of an erase: 1 when the answer begins with Y
// or y; 0 after "Not sure - Exit!\n"; -1 when the answer cannot be read
// (read_answer has said why).
int confirm_erase(AnswerStream* stream);

// Prints a prompt and makes it visible before the answer is read.
void prompt(const char* text);

// Option letters of a drive string.
int has_quiet_letter(const char* text);
int has_serial_letter(const char* text);
int has_sanitize_letter(const char* text);
int has_verify_letter(const char* text);
