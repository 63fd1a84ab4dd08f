#include "dialogue/utf8.h"

uint32_t utf8_length(const unsigned char* p, uint32_t left) {
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    uint32_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0;
        if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        if (c == 0xF4)
            high = 0x8F;
    }
    if (length == 0 || length > left || p[1] < low || p[1] > high)
        return 0;
    for (uint32_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return length;
}

int is_utf8(const char* text, uint32_t length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (uint32_t i = 0; i < length;) {
        const uint32_t n = utf8_length(p + i, length - i);
        if (n == 0 || p[i] == 0)
            return 0;
        i += n;
    }
    return 1;
}

void without_controls(char* text) {
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) < 0x20 || *text == 0x7F)
            *text = '?';
}
