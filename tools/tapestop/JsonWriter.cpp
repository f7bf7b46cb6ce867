#include "JsonWriter.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace tapestop {

namespace {

constexpr unsigned kByteEscapeBase = 0xDC00;

// Length of the well-formed UTF-8 sequence at text[i], or 0: the lead byte
// fixes the length and the range of the second byte, which rules out
// overlong forms, surrogates and code points above U+10FFFF.
std::size_t utf8SequenceLength(const std::string& text, std::size_t i) {
    struct LeadRow {
        unsigned char firstLead, lastLead;
        std::size_t length;
        unsigned char secondMin, secondMax;
    };
    static constexpr std::array kLeads{
        LeadRow{0xC2, 0xDF, 2, 0x80, 0xBF}, LeadRow{0xE0, 0xE0, 3, 0xA0, 0xBF}, LeadRow{0xE1, 0xEC, 3, 0x80, 0xBF},
        LeadRow{0xED, 0xED, 3, 0x80, 0x9F}, LeadRow{0xEE, 0xEF, 3, 0x80, 0xBF}, LeadRow{0xF0, 0xF0, 4, 0x90, 0xBF},
        LeadRow{0xF1, 0xF3, 4, 0x80, 0xBF}, LeadRow{0xF4, 0xF4, 4, 0x80, 0x8F},
    };
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    for (const LeadRow& row : kLeads) {
        if (byte(0) < row.firstLead || byte(0) > row.lastLead) continue;
        if (i + row.length > text.size() || byte(1) < row.secondMin || byte(1) > row.secondMax) return 0;
        for (std::size_t k = 2; k < row.length; ++k)
            if ((byte(k) & 0xC0) != 0x80) return 0;
        return row.length;
    }
    return 0;
}

}  // namespace

// A JSON string. Paths and plug-in texts are bytes of no stated encoding:
// valid UTF-8 passes as it is; any other byte B becomes the escape of the
// lone surrogate U+DC00 + B, which Python's "surrogateescape" turns back
// into the same byte, so that no path is ever changed on its way through.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t length = utf8SequenceLength(text, i)) {
            out += text.substr(i, length);
            i += length - 1;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", kByteEscapeBase + c);
            out += escaped;
        }
    }
    return out + "\"";
}

std::string jsonNumber(double value, int significantDigits) {
    if (!std::isfinite(value)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", significantDigits, value);
    return text;
}

}  // namespace tapestop
