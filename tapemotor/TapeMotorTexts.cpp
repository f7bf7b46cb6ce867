// What a host reads of TapeMotor as text: parameter names, labels, displays
// and the texts it accepts back, parameter properties, factory programs, the
// effect's identity and its capabilities. Any thread; nothing touches the heap.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iterator>

#include "TapeMotor.h"
#include "TapeMotorMappings.h"
#include "TextBuffer.h"

namespace {

constexpr char kEffectName[] = "Tarvo TapeMotor";
constexpr char kVendorName[] = "Tarvo Pellwick";
constexpr float kSwitchOnValue = tapemotor::kSwitchOnValue;
constexpr double kCurveDisplayRange = 100.0;  // Curve shows -100 to 100
constexpr double kPercent = 100.0;

// How a parameter's value is shown and read back.
enum class Display { kSwitch, kLength, kCurve, kPercent, kGrid, kMode, kBrake };

struct ParameterInfo {
    const char* name;
    const char* label;
    Display display;
};
constexpr ParameterInfo kParameters[TapeMotor::kNumParameters] = {
    {"Trigger", "", Display::kSwitch}, {"Stop", "", Display::kLength},  {"Start", "", Display::kLength},
    {"Sync", "", Display::kSwitch},    {"Curve", "", Display::kCurve},  {"Mix", "%", Display::kPercent},
    {"Quantize", "", Display::kGrid},  {"Mode", "", Display::kMode},    {"Brake", "", Display::kBrake},
    {"Tone", "%", Display::kPercent},
};

// The named states of the stepped parameters, by Display.
struct Steps {
    const char* const* texts;
    int count;
};
constexpr const char* kGridTexts[] = {tapemotor::kGridValues[0].text, tapemotor::kGridValues[1].text,
                                      tapemotor::kGridValues[2].text, tapemotor::kGridValues[3].text,
                                      tapemotor::kGridValues[4].text, tapemotor::kGridValues[5].text};
static_assert(std::size(kGridTexts) == tapemotor::kNumGridValues);
Steps stepsOf(Display display) {
    switch (display) {
        case Display::kGrid: return {kGridTexts, tapemotor::kNumGridValues};
        case Display::kMode: return {tapemotor::kModeTexts, 2};
        case Display::kBrake: return {tapemotor::kBrakeTexts, 2};
        default: return {nullptr, 0};
    }
}
int stepIndex(int count, float value) { return static_cast<int>(std::lround((count - 1) * value)); }

bool isParameter(VstInt32 index) { return index >= 0 && index < TapeMotor::kNumParameters; }

// A factory program sets every parameter but Trigger. A length is seconds,
// or with Sync on the index of a note value.
struct Length {
    bool note;
    double amount;
    float hostValue() const {
        return note ? tapemotor::valueForNote(static_cast<int>(amount)) : tapemotor::valueForSeconds(amount);
    }
};
struct FactoryProgram {
    const char* name;
    bool synced;
    Length stop;
    Length start;
    double curve;  // as shown, -100 to 100
    double mixPercent;
    int grid;      // index into the Quantize values
    bool latch;
    bool spinback;
    double tonePercent;
};
constexpr int kSixteenthNote = 2, kEighthNote = 3, kQuarterNote = 4, kHalfNote = 5, kOneBar = 6, kTwoBars = 7;
constexpr int kGridOff = tapemotor::kGridOff, kGridQuarter = 3;
constexpr FactoryProgram kPrograms[TapeMotor::kNumPrograms] = {
    {"Classic 1 s", false, {false, 1.0}, {false, 0.3}, 0, 100, kGridOff, false, false, 0},
    {"Quick brake", false, {false, 0.15}, {false, 0.08}, 50, 100, kGridOff, false, false, 0},
    {"Power down 2 bars", true, {true, kTwoBars}, {true, kQuarterNote}, -50, 100, kGridOff, false, false, 0},
    {"Spin up", true, {true, kSixteenthNote}, {true, kOneBar}, 50, 100, kGridOff, false, false, 0},
    {"Half stop", false, {false, 2.0}, {false, 1.0}, 0, 50, kGridOff, false, false, 0},
    {"On the beat", true, {true, kHalfNote}, {true, kEighthNote}, 0, 100, kGridQuarter, false, false, 0},
    {"Backspin", false, {false, 1.2}, {false, 0.1}, 50, 100, kGridOff, false, true, 0},
    {"Dark stop", false, {false, 1.5}, {false, 0.3}, 0, 100, kGridOff, false, false, 100},
};

// The capabilities the effect claims; every other answer is 0 (unknown).
struct Capability {
    const char* text;
    VstInt32 answer;
};
constexpr Capability kCapabilities[] = {
    {"receiveVstEvents", 1},
    {"receiveVstMidiEvent", 1},
    {"receiveVstTimeInfo", 1},
    {"sendVstEvents", -1},
    {"sendVstMidiEvent", -1},
};

// --- Reading texts back.

const char* skipSpaces(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    return text;
}

bool equalsIgnoringCase(const char* text, const char* expected) {
    for (; *expected != '\0'; ++text, ++expected)
        if (std::tolower(static_cast<unsigned char>(*text)) != std::tolower(static_cast<unsigned char>(*expected)))
            return false;
    return *text == '\0';
}

// The text with leading and trailing spaces cut, in a buffer of the caller.
constexpr std::size_t kLongestText = 31;
bool trimmed(const char* text, char (&out)[kLongestText + 1]) {
    text = skipSpaces(text);
    std::size_t length = strnlen(text, kLongestText + 1);
    if (length > kLongestText) return false;
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t')) --length;
    std::memcpy(out, text, length);
    out[length] = '\0';
    return true;
}

// A decimal number (sign, digits, point, digits) at the start of the text;
// rest points past it. No exponent, no locale.
bool readNumber(const char* text, double& number, const char*& rest) {
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    double value = 0.0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) value = value * 10.0 + (*text - '0');
    if (*text == '.') {
        ++text;
        for (double place = 0.1; *text >= '0' && *text <= '9'; ++text, ++digits, place /= 10.0)
            value += (*text - '0') * place;
    }
    number = negative ? -value : value;
    rest = skipSpaces(text);
    return digits > 0;
}

// A number alone, or followed by the unit given (which may be left out).
bool readNumberWithUnit(const char* text, const char* unit, double& number) {
    const char* rest = nullptr;
    return readNumber(text, number, rest) && (*rest == '\0' || equalsIgnoringCase(rest, unit));
}

bool readSwitch(const char* text, float& value) {
    if (equalsIgnoringCase(text, "on") || equalsIgnoringCase(text, "1")) value = 1.0f;
    else if (equalsIgnoringCase(text, "off") || equalsIgnoringCase(text, "0")) value = 0.0f;
    else return false;
    return true;
}

// "250 ms", "1.5 s" (10 ms to 10 s), or a note value "1/8", "1 bar", "2 bars".
bool readLength(const char* text, float& value) {
    for (int i = 0; i < tapemotor::kNumNoteValues; ++i) {
        if (equalsIgnoringCase(text, tapemotor::kNoteValues[i].text)) {
            value = tapemotor::valueForNote(i);
            return true;
        }
    }
    double amount = 0.0;
    const char* unit = nullptr;
    if (!readNumber(text, amount, unit)) return false;
    double seconds = 0.0;
    if (equalsIgnoringCase(unit, "ms")) seconds = amount / 1000.0;
    else if (equalsIgnoringCase(unit, "s")) seconds = amount;
    else return false;
    // The shortest and longest lengths are accepted as written, "10 ms" and "10 s".
    constexpr double kSlack = 1e-9;
    const double shortest = tapemotor::kShortestSeconds, longest = shortest * tapemotor::kLengthRange;
    if (seconds < shortest * (1.0 - kSlack) || seconds > longest * (1.0 + kSlack)) return false;
    value = std::clamp(tapemotor::valueForSeconds(seconds), 0.0f, 1.0f);
    return true;
}

bool readScaled(const char* text, const char* unit, double lowest, double highest, float& value) {
    double number = 0.0;
    if (!readNumberWithUnit(text, unit, number) || number < lowest || number > highest) return false;
    value = static_cast<float>((number - lowest) / (highest - lowest));
    return true;
}

// One of the named states, in any case.
bool readStep(const Steps& steps, const char* text, float& value) {
    for (int i = 0; i < steps.count; ++i) {
        if (equalsIgnoringCase(text, steps.texts[i])) {
            value = static_cast<float>(i) / static_cast<float>(steps.count - 1);
            return true;
        }
    }
    return false;
}

// --- Showing values.

void appendTwoDigits(char* text, long value) {
    const char digits[3] = {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10), '\0'};
    appendText(text, digits, kVstMaxParamStrLen);
}

}  // namespace

void TapeMotor::getParameterName(VstInt32 index, char* text) {
    copyText(text, isParameter(index) ? kParameters[index].name : "", kVstMaxParamStrLen);
}

void TapeMotor::getParameterLabel(VstInt32 index, char* label) {
    copyText(label, isParameter(index) ? kParameters[index].label : "", kVstMaxParamStrLen);
}

void TapeMotor::getParameterDisplay(VstInt32 index, char* text) {
    copyText(text, "", kVstMaxParamStrLen);
    if (!isParameter(index)) return;
    const float value = parameters[index].load(std::memory_order_relaxed);
    switch (kParameters[index].display) {
        case Display::kSwitch: copyText(text, value >= kSwitchOnValue ? "On" : "Off", kVstMaxParamStrLen); return;
        case Display::kCurve:
            int2string(static_cast<VstInt32>(std::lround(2.0 * kCurveDisplayRange * value - kCurveDisplayRange)), text,
                       kVstMaxParamStrLen);
            return;
        case Display::kPercent:
            int2string(static_cast<VstInt32>(std::lround(kPercent * value)), text, kVstMaxParamStrLen);
            return;
        case Display::kGrid:
        case Display::kMode:
        case Display::kBrake: {
            const Steps steps = stepsOf(kParameters[index].display);
            copyText(text, steps.texts[stepIndex(steps.count, value)], kVstMaxParamStrLen);
            return;
        }
        case Display::kLength: break;
    }
    if (parameters[kSync].load(std::memory_order_relaxed) >= kSwitchOnValue) {
        copyText(text, tapemotor::noteValue(value).text, kVstMaxParamStrLen);
        return;
    }
    // Below a second in whole milliseconds, from there in hundredths of a second.
    const double seconds = tapemotor::timeSeconds(value);
    const long milliseconds = std::lround(seconds * 1000.0);
    if (milliseconds < 1000) {
        int2string(static_cast<VstInt32>(milliseconds), text, kVstMaxParamStrLen);
        appendText(text, " ms", kVstMaxParamStrLen);
        return;
    }
    const long hundredths = std::lround(seconds * 100.0);
    int2string(static_cast<VstInt32>(hundredths / 100), text, kVstMaxParamStrLen);
    appendText(text, ".", kVstMaxParamStrLen);
    appendTwoDigits(text, hundredths % 100);
    appendText(text, " s", kVstMaxParamStrLen);
}

// Accepts what the display shows: "On"/"Off", lengths in time or note values
// (in either Sync mode), Curve -100 to 100, Mix and Tone 0 to 100 with or
// without "%", and the named states of Quantize, Mode and Brake. A null
// text asks whether the parameter takes text at all.
bool TapeMotor::string2parameter(VstInt32 index, char* text) {
    if (!isParameter(index)) return false;
    if (text == nullptr) return true;
    char cleaned[kLongestText + 1];
    if (!trimmed(text, cleaned)) return false;
    float value = 0.0f;
    bool read = false;
    switch (kParameters[index].display) {
        case Display::kSwitch: read = readSwitch(cleaned, value); break;
        case Display::kLength: read = readLength(cleaned, value); break;
        case Display::kCurve: read = readScaled(cleaned, "", -kCurveDisplayRange, kCurveDisplayRange, value); break;
        case Display::kPercent: read = readScaled(cleaned, "%", 0.0, kPercent, value); break;
        case Display::kGrid:
        case Display::kMode:
        case Display::kBrake: read = readStep(stepsOf(kParameters[index].display), cleaned, value); break;
    }
    if (read) setParameter(index, value);
    return read;
}

// Trigger and Sync are switches, so hosts step their automation; Quantize,
// Mode and Brake step through their named states.
bool TapeMotor::getParameterProperties(VstInt32 index, VstParameterProperties* properties) {
    if (!isParameter(index) || properties == nullptr) return false;
    std::memset(properties, 0, sizeof(*properties));
    copyText(properties->label, kParameters[index].name, kVstMaxLabelLen - 1);
    copyText(properties->shortLabel, kParameters[index].name, kVstMaxShortLabelLen - 1);
    if (kParameters[index].display == Display::kSwitch) properties->flags = kVstParameterIsSwitch;
    if (const Steps steps = stepsOf(kParameters[index].display); steps.count > 0) {
        properties->flags = kVstParameterUsesIntegerMinMax | kVstParameterUsesIntStep;
        properties->minInteger = 0;
        properties->maxInteger = steps.count - 1;
        properties->stepInteger = 1;
        properties->largeStepInteger = 1;
    }
    return true;
}

void TapeMotor::setProgram(VstInt32 program) {
    if (program < 0 || program >= kNumPrograms) return;
    curProgram = program;
    const FactoryProgram& p = kPrograms[program];
    setParameter(kStop, p.stop.hostValue());
    setParameter(kStart, p.start.hostValue());
    setParameter(kSync, p.synced ? 1.0f : 0.0f);
    setParameter(kCurve, static_cast<float>((p.curve + kCurveDisplayRange) / (2.0 * kCurveDisplayRange)));
    setParameter(kMix, static_cast<float>(p.mixPercent / kPercent));
    setParameter(kQuantize, tapemotor::valueForGrid(p.grid));
    setParameter(kMode, p.latch ? 1.0f : 0.0f);
    setParameter(kBrake, p.spinback ? 1.0f : 0.0f);
    setParameter(kTone, static_cast<float>(p.tonePercent / kPercent));
}

void TapeMotor::getProgramName(char* name) { copyText(name, kPrograms[curProgram].name, kVstMaxProgNameLen); }

bool TapeMotor::getProgramNameIndexed(VstInt32, VstInt32 index, char* text) {
    if (index < 0 || index >= kNumPrograms) return false;
    copyText(text, kPrograms[index].name, kVstMaxProgNameLen);
    return true;
}

bool TapeMotor::getEffectName(char* name) {
    copyText(name, kEffectName, kVstMaxNameLen);
    return true;
}

bool TapeMotor::getVendorString(char* text) {
    copyText(text, kVendorName, kVstMaxNameLen);
    return true;
}

bool TapeMotor::getProductString(char* text) { return getEffectName(text); }

VstInt32 TapeMotor::canDo(char* text) {
    if (text == nullptr) return 0;
    for (const Capability& capability : kCapabilities)
        if (std::strcmp(text, capability.text) == 0) return capability.answer;
    return 0;
}
