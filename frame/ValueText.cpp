// Value-to-text helpers for parameter displays. Digits are cut, never
// rounded, and every step is taken in double precision, so a display shows
// exactly the digits of the 32-bit value it was given.
#include <cmath>
#include <cstdint>

#include "AudioEffect.h"
#include "TextBuffer.h"

namespace {

constexpr int kFloatTextChars = 8;  // budget of float2string, sign and point included
constexpr double kLargestNonNegative = 99999999.0;
constexpr double kLargestNegativeMagnitude = 9999999.0;

}  // namespace

void AudioEffect::float2string(float value, char* text, VstInt32 maxLen) {
    // NaN passes every range test below and has no digits: say what it is.
    if (std::isnan(value)) {
        copyText(text, "NaN", maxLen);
        return;
    }
    double magnitude = value;
    const bool negative = magnitude < 0.0;
    if (negative) magnitude = -magnitude;
    if (magnitude > (negative ? kLargestNegativeMagnitude : kLargestNonNegative)) {
        copyText(text, "Huge!", maxLen);
        return;
    }

    // Integer digits from the units digit leftwards; I is divided by 10
    // without rounding, so its fraction rides along and is cut by fmod.
    char reversed[kFloatTextChars + 1];
    int digitCount = 0;
    double integer = std::floor(magnitude);
    do {
        reversed[digitCount++] = static_cast<char>('0' + static_cast<int>(std::fmod(integer, 10.0)));
        integer /= 10.0;
    } while (integer >= 1.0);

    char integerPart[kFloatTextChars + 3];
    int length = 0;
    if (negative) integerPart[length++] = '-';
    while (digitCount > 0) integerPart[length++] = reversed[--digitCount];
    const int width = length + 1;  // with the point
    // Eight integer digits, or a minus sign and seven, leave no room for the
    // point: the number is shown whole, without it.
    if (width <= kFloatTextChars) integerPart[length++] = '.';
    integerPart[length] = '\0';
    copyText(text, integerPart, maxLen);
    if (width >= kFloatTextChars) return;

    const int fractionDigits = kFloatTextChars - width;
    double fraction = std::fmod(magnitude, 1.0) * std::pow(10.0, fractionDigits);
    char fractionPart[kFloatTextChars + 1];
    for (int place = fractionDigits - 1; place >= 0; --place) {
        if (fraction <= 0.0) {
            fractionPart[place] = '0';
            continue;
        }
        fractionPart[place] = static_cast<char>('0' + static_cast<int>(std::fmod(fraction, 10.0)));
        fraction /= 10.0;
    }
    fractionPart[fractionDigits] = '\0';
    appendText(text, fractionPart, maxLen);
}

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen) {
    if (value <= 0.0f) {
        copyText(text, "-oo", maxLen);
        return;
    }
    float2string(static_cast<float>(20.0 * std::log10(static_cast<double>(value))), text, maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, VstInt32 maxLen) {
    const float sampleRateHz = getSampleRate();
    float2string(samples == 0.0f ? 0.0f : sampleRateHz / samples, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, VstInt32 maxLen) {
    const double sampleRateHz = getSampleRate();
    float2string(static_cast<float>(static_cast<double>(samples) * 1000.0 / sampleRateHz), text, maxLen);
}

void AudioEffect::int2string(VstInt32 value, char* text, VstInt32 maxLen) {
    constexpr VstInt32 kFirstHugeValue = 100000000;
    if (value >= kFirstHugeValue) {
        copyText(text, "Huge!", maxLen);
        return;
    }
    copyDecimal(text, value, maxLen);
}
