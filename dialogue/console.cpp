#include "dialogue/console.h"

#include <cstdio>
#include <cstring>

void read_answer(char* answer) {
    answer[0] = 0;
    if (!fgets(answer, ANSWER_SIZE, stdin)) {
        answer[0] = 0;
        return;
    }
    size_t length = strlen(answer);
    if (length > 0 && answer[length - 1] == '\n') {
        answer[--length] = 0;
    } else {
        // The line was longer than the buffer (or input ended): drop the rest.
        int c;
        while ((c = getchar()) != EOF && c != '\n') {
        }
    }
    if (length > 0 && answer[length - 1] == '\r')
        answer[length - 1] = 0;
}

int32_t read_number(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
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
