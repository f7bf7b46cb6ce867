// The texts a host shows for the tape stop: parameter names, labels and
// display values, and the effect's name and vendor. None touches the heap.
#include <cmath>
#include <cstdint>

#include "HostValue.h"
#include "TapeStopVST.h"
#include "TextBuffer.h"

namespace {

constexpr VstInt32 kParameterTextChars = kVstMaxParamStrLen;  // 8
constexpr VstInt32 kNameChars = 24;
constexpr char kEffectName[] = "Tarvo TapeStop";
constexpr char kVendorName[] = "Tarvo Pellwick";

struct ParameterTexts {
    const char* name;
    const char* label;
};
constexpr ParameterTexts kParameterTexts[TapeStopVST::kNumParameters] = {
    {"Trigger", ""},
    {"Speed", ""},
    {"Mix", "%"},
};

bool isParameter(VstInt32 index) { return index >= 0 && index < TapeStopVST::kNumParameters; }

// Decimal digits of a signed 32-bit value: a minus sign and the magnitude
// taken unsigned, so the most negative value has all ten digits.
constexpr std::size_t kDecimalChars = 12;
void formatDecimal(std::int32_t value, char (&text)[kDecimalChars]) {
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    char reversed[10];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::size_t length = 0;
    if (value < 0) text[length++] = '-';
    while (count > 0) text[length++] = reversed[--count];
    text[length] = '\0';
}

}  // namespace

void TapeStopVST::getParameterName(VstInt32 index, char* text) {
    if (isParameter(index)) copyText(text, kParameterTexts[index].name, kParameterTextChars);
}

void TapeStopVST::getParameterLabel(VstInt32 index, char* label) {
    copyText(label, isParameter(index) ? kParameterTexts[index].label : "", kParameterTextChars);
}

void TapeStopVST::getParameterDisplay(VstInt32 index, char* text) {
    // Every display request, for any index, first asks the host for its time
    // information, before the buffer is touched; the answer is not used.
    getTimeInfo(kVstTempoValid);
    char display[kDecimalChars];
    switch (index) {
        case kTrigger:
            copyText(text, trigger.load(std::memory_order_relaxed) < 1.0f ? "0" : "1", kParameterTextChars);
            return;
        case kSpeed: formatDecimal(speed.load(std::memory_order_relaxed), display); break;
        case kMix: {
            // The percentage is formed in single precision and truncated, so
            // 0.53 shows 52. NaN shows "NaN"; a percentage outside the 32-bit
            // range shows the nearest limit, cut to eight characters.
            const float percent = mix.load(std::memory_order_relaxed) * 100.0f;
            if (std::isnan(percent)) {
                copyText(text, "NaN", kParameterTextChars);
                return;
            }
            formatDecimal(truncateToInt32(percent), display);
            break;
        }
        default: return;
    }
    copyText(text, display, kParameterTextChars);
}

bool TapeStopVST::getEffectName(char* name) {
    copyText(name, kEffectName, kNameChars);
    return true;
}

bool TapeStopVST::getVendorString(char* text) {
    copyText(text, kVendorName, kNameChars);
    return true;
}

bool TapeStopVST::getProductString(char* text) { return getEffectName(text); }
