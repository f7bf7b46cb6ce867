// Writing into a caller's character buffer of maxLen + 1 bytes. Both helpers
// never write past text[maxLen] and leave text[maxLen] zero.
#pragma once

#include <cstdint>
#include <cstring>

#include "VstInterface.h"

// Copies at most maxLen characters of source, fills the rest of the first
// maxLen bytes with zeros and terminates at text[maxLen].
inline void copyText(char* text, const char* source, VstInt32 maxLen) {
    std::strncpy(text, source, static_cast<std::size_t>(maxLen));
    text[maxLen] = '\0';
}

// Appends source to the text already in the buffer, keeping the result within
// maxLen characters and its terminating zero.
inline void appendText(char* text, const char* source, VstInt32 maxLen) {
    std::size_t length = strnlen(text, static_cast<std::size_t>(maxLen));
    const std::size_t room = static_cast<std::size_t>(maxLen) - length;
    std::size_t i = 0;
    for (; i < room && source[i] != '\0'; ++i) text[length + i] = source[i];
    text[length + i] = '\0';
}

// Writes the decimal digits of value, after a minus sign when it is negative,
// cut to maxLen characters like copyText. The magnitude is taken unsigned, so
// the most negative value has all ten digits; there are no leading zeros.
inline void copyDecimal(char* text, std::int32_t value, VstInt32 maxLen) {
    constexpr std::size_t kDigits = 10;
    char decimal[kDigits + 2];  // a sign, the digits and a zero
    char* first = decimal + kDigits + 1;
    *first = '\0';
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--first = '-';
    copyText(text, first, maxLen);
}
