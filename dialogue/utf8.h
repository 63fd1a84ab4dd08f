// UTF-8 as the record, the station file and the record's reader take it.
#pragma once

#include <cstdint>

// The length of the UTF-8 character at `p` (at most `left` bytes, left > 0),
// 0 when the bytes there are not one: a stray continuation byte, an overlong
// form, a surrogate, a code point past U+10FFFF, or a character cut short.
// ASCII bytes are characters of length 1.
uint32_t utf8_length(const unsigned char* p, uint32_t left);

// Whether `length` bytes are UTF-8 text without NUL.
int is_utf8(const char* text, uint32_t length);

// Control characters (below 0x20, and DEL) become '?', in place: a text from
// a file goes to the console. Other characters are kept.
void without_controls(char* text);
