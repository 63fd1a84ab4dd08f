// Number reading and option letters over arbitrary text, and answer reading
// over arbitrary standard input.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dialogue/console.h"

// The same reading done another way: strtoll, clamped to 32 bits.
static int32_t reference_number(const char* text) {
    errno = 0;
    long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// strtoll also skips a sign-less "0x"? No: base 10 reads digits only; but it
// accepts leading white space per isspace, which in the C locale is the same
// six characters read_number skips.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* c = text.c_str(); // cut at the first NUL, as a C string is

    if (read_number(c) != reference_number(c))
        abort();
    if (has_quiet_letter(c) != (strpbrk(c, "Yy") != nullptr))
        abort();
    if (has_serial_letter(c) != (strpbrk(c, "Nn") != nullptr))
        abort();
    // A drive string is a number strtoll converts, then only white space
    // and option letters, not both S (erase) and V (check alone); a choice is
    // such a number without sign or letters.
    char* end = nullptr;
    strtoll(c, &end, 10);
    int32_t number = 0;
    const bool drive = end != c && strspn(end, " \t\n\v\f\rYyNnSsVv") == strlen(end) &&
                       !(strpbrk(c, "Ss") && strpbrk(c, "Vv"));
    if (read_drive(c, &number) != drive || (drive && number != read_number(c)))
        abort();
    const char* digits = c + strspn(c, " \t\n\v\f\r");
    const bool choice =
        drive && *digits >= '0' && *digits <= '9' && strspn(end, " \t\n\v\f\r") == strlen(end);
    if (read_choice(c, &number) != choice)
        abort();

    // The same bytes as standard input, read answer by answer.
    FILE* input = size ? fmemopen(const_cast<uint8_t*>(data), size, "r") : fopen("/dev/null", "r");
    if (!input)
        return 0;
    FILE* saved = stdin;
    stdin = input;
    AnswerStream stream;
    begin_answers(&stream);
    for (int i = 0; i < 16; ++i) {
        char answer[ANSWER_SIZE + 8];
        memset(answer, 0x5A, sizeof answer);
        if (!read_answer(&stream, answer))
            break;
        // A zero within the buffer, nothing written past it, no line end kept.
        const void* end = memchr(answer, 0, ANSWER_SIZE);
        if (!end || answer[ANSWER_SIZE] != 0x5A || strchr(answer, '\n') || strchr(answer, '\r'))
            abort();
        read_number(answer);
    }
    stdin = saved;
    fclose(input);
    return 0;
}
