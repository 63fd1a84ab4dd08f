#include "dialogue/console.h"

#include <cstdio>
#include <cstring>

void begin_answers(AnswerStream* stream) {
    stream->at_start = 1;
    stream->after_cr = 0;
}

int read_answer(AnswerStream* stream, char* answer) {
    static const unsigned char BYTE_ORDER_MARK[3] = {0xEF, 0xBB, 0xBF};
    // Bytes of the mark matched so far at the start of input; -1 once the
    // input cannot begin with one any more.
    int mark = stream->at_start ? 0 : -1;
    const int at_start = stream->at_start;
    stream->at_start = 0;
    uint32_t length = 0;
    uint32_t read = 0; // bytes of the line, its end not counted
    int text_ended = 0;
    int holds_nul = 0;
    int first = EOF;

    int c = getchar();
    if (stream->after_cr && c == '\n')
        c = getchar(); // the second half of a CR LF
    stream->after_cr = 0;
    answer[0] = 0;
    for (; c != EOF && c != '\n'; c = getchar()) {
        if (++read > INPUT_LINE_LIMIT) {
            printf("Error: input line too long\n");
            return 0;
        }
        if (at_start && read == 1)
            first = c;
        if (at_start && read == 2 &&
            ((first == 0xFF && c == 0xFE) || (first == 0xFE && c == 0xFF))) {
            printf("Error: answers must be ANSI or UTF-8 text\n");
            return 0;
        }
        if (c == '\r') {
            // Reading on to look for an LF would wait for the next line.
            stream->after_cr = 1;
            break;
        }
        // A NUL is no text: the answers are UTF-16 without their mark, or
        // binary. The line is read to its end first: a longer one is too long.
        if (c == 0)
            holds_nul = 1;
        if (length + 1 >= ANSWER_SIZE)
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
    if (holds_nul) {
        printf("Error: answers must be ANSI or UTF-8 text\n");
        return 0;
    }
    return 1;
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

static int is_digit(char c) {
    return c >= '0' && c <= '9';
}

static int is_option_letter(char c) {
    return c != 0 && strchr("YyNnSsVv", c) != nullptr;
}

int read_drive(const char* text, int32_t* drive) {
    const char* p = skip_white_space(text);
    if (*p == '+' || *p == '-')
        ++p;
    if (!is_digit(*p))
        return 0;
    while (is_digit(*p))
        ++p;
    for (; *p; ++p)
        if (skip_white_space(p) == p && !is_option_letter(*p))
            return 0;
    // Checking a drive and erasing it exclude each other.
    if (has_verify_letter(text) && has_sanitize_letter(text))
        return 0;
    *drive = read_number(text);
    return 1;
}

int read_choice(const char* text, int32_t* value) {
    const char* p = skip_white_space(text);
    if (!is_digit(*p))
        return 0;
    while (is_digit(*p))
        ++p;
    if (*skip_white_space(p) != 0)
        return 0;
    *value = read_number(text);
    return 1;
}

int is_blank(const char* text) {
    return *skip_white_space(text) == 0;
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

int has_sanitize_letter(const char* text) {
    return strchr(text, 'S') != nullptr || strchr(text, 's') != nullptr;
}

int has_verify_letter(const char* text) {
    return strchr(text, 'V') != nullptr || strchr(text, 'v') != nullptr;
}

int confirm_erase(AnswerStream* stream) {
    char answer[ANSWER_SIZE];
    prompt("\nAll data on disk will be lost, You sure?\nPress 'Y' and 'Enter' for continue, "
           "'N' for cancel ");
    if (!read_answer(stream, answer))
        return -1;
    if (answer[0] != 'Y' && answer[0] != 'y') {
        printf("Not sure - Exit!\n");
        return 0;
    }
    return 1;
}
