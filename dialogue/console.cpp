#include "dialogue/console.h"

#include <cstdio>
#include <cstring>

void begin_answers(AnswerStream* stream) {
    stream->at_start = 1;
    stream->after_cr = 0;
}

void read_answer(AnswerStream* stream, char* answer) {
    static const unsigned char BYTE_ORDER_MARK[3] = {0xEF, 0xBB, 0xBF};
    // Bytes of the mark matched so far at the start of input; -1 once the
    // input cannot begin with one any more.
    int mark = stream->at_start ? 0 : -1;
    stream->at_start = 0;
    uint32_t length = 0;
    int text_ended = 0;

    int c = getchar();
    if (stream->after_cr && c == '\n')
        c = getchar(); // the second half of a CR LF
    stream->after_cr = 0;
    for (; c != EOF && c != '\n'; c = getchar()) {
        if (c == '\r') {
            // Reading on to look for an LF would wait for the next line.
            stream->after_cr = 1;
            break;
        }
        if (c == 0 || length + 1 >= ANSWER_SIZE)
            text_ended = 1;
        if (!text_ended)
            answer[length++] = static_cast<char>(c);
        if (mark >= 0) {
            mark = c == BYTE_ORDER_MARK[mark] ? mark + 1 : -1;
            if (mark == 3) {
                length = 0; // the mark was all the text so far
                mark = -1;
            }
        }
    }
    answer[length] = 0;
}

static const char* skip_white_space(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    return p;
}

int32_t read_number(const char* text) {
    const char* p = skip_white_space(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Accumulate in 64 bits and stop growing once past the int32 range.
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= INT64_C(2147483648))
            value = value * 10 + (*p - '0');
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

int begins_with_number(const char* text) {
    const char* p = skip_white_space(text);
    if (*p == '+' || *p == '-')
        ++p;
    return *p >= '0' && *p <= '9';
}

void prompt(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

int has_quiet_letter(const char* text) {
    return strchr(text, 'Y') != nullptr || strchr(text, 'y') != nullptr;
}

int has_serial_letter(const char* text) {
    return strchr(text, 'N') != nullptr || strchr(text, 'n') != nullptr;
}
