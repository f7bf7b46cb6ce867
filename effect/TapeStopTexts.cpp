// The texts a host shows for the tape stop: parameter names, labels and
// display values, and the effect's name and vendor. None touches the heap.
#include <cmath>
#include <cstdint>

#include "HostValue.h"
#include "TapeStopVST.h"
#include "TextBuffer.h"

namespace {

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

}  // namespace

void TapeStopVST::getParameterName(VstInt32 index, char* text) {
    if (isParameter(index)) copyText(text, kParameterTexts[index].name, kVstMaxParamStrLen);
}

void TapeStopVST::getParameterLabel(VstInt32 index, char* label) {
    copyText(label, isParameter(index) ? kParameterTexts[index].label : "", kVstMaxParamStrLen);
}

void TapeStopVST::getParameterDisplay(VstInt32 index, char* text) {
    // Every display request, for any index, first asks the host for its time
    // information, before the buffer is touched; the answer is not used.
    getTimeInfo(kVstTempoValid);
    // Numbers show their decimal text cut to eight characters: unlike
    // int2string's, values from 10^8 on show their first digits, not "Huge!".
    switch (index) {
        case kTrigger:
            copyText(text, trigger.load(std::memory_order_relaxed) < 1.0f ? "0" : "1", kVstMaxParamStrLen);
            return;
        case kSpeed: copyDecimal(text, speed.load(std::memory_order_relaxed), kVstMaxParamStrLen); return;
        case kMix: {
            // The percentage is formed in single precision and truncated, so
            // 0.53 shows 52. NaN shows "NaN"; a percentage outside the 32-bit
            // range shows the nearest limit.
            const float percent = mix.load(std::memory_order_relaxed) * 100.0f;
            if (std::isnan(percent))
                copyText(text, "NaN", kVstMaxParamStrLen);
            else
                copyDecimal(text, truncateToInt32(percent), kVstMaxParamStrLen);
            return;
        }
        default: return;
    }
}

bool TapeStopVST::getEffectName(char* name) {
    copyText(name, kEffectName, kVstMaxNameLen);
    return true;
}

bool TapeStopVST::getVendorString(char* text) {
    copyText(text, kVendorName, kVstMaxNameLen);
    return true;
}

bool TapeStopVST::getProductString(char* text) { return getEffectName(text); }
