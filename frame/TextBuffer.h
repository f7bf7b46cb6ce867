// Writing into a caller's character buffer of maxLen + 1 bytes. Both helpers
// never write past text[maxLen] and leave text[maxLen] zero.
#pragma once

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
