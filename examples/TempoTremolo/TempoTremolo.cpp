#include "TempoTremolo.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string_view>

#include "TextBuffer.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kDefaultRate = 0.5f;   // a quarter note
constexpr float kDefaultDepth = 0.5f;
constexpr char kEffectName[] = "Tempo Tremolo";
constexpr char kVendorName[] = "Tarvo Examples";
constexpr char kProductName[] = "Tarvo Tempo Tremolo";

// One row per step of Rate, from the slowest.
struct RateStep {
    double cycleQuarterNotes;
    const char* display;
};
constexpr RateStep kRateSteps[] = {{4.0, "1/1"}, {2.0, "1/2"}, {1.0, "1/4"}, {0.5, "1/8"}, {0.25, "1/16"}};
constexpr int kNumRateSteps = sizeof(kRateSteps) / sizeof(kRateSteps[0]);

const RateStep& rateStep(float rate) {
    const int step = static_cast<int>(rate * kNumRateSteps);
    return kRateSteps[std::clamp(step, 0, kNumRateSteps - 1)];
}

double secondsPerQuarterNote(double tempoBpm) { return 60.0 / tempoBpm; }

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) { return new TempoTremolo(audioMaster); }

TempoTremolo::TempoTremolo(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParameters),
      rate(kDefaultRate),
      depth(kDefaultDepth),
      ownPositionQuarterNotes(0.0) {
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(kUniqueId);
}

double TempoTremolo::cycleQuarterNotes(float rateValue) { return rateStep(rateValue).cycleQuarterNotes; }

void TempoTremolo::resume() {
    ownPositionQuarterNotes = 0.0;
    AudioEffectX::resume();
}

void TempoTremolo::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    // Where the block starts and how fast the music moves, from the host when it says.
    const VstTimeInfo* time = getTimeInfo(kVstTempoValid | kVstPpqPosValid);
    const bool hostTempo = time != nullptr && (time->flags & kVstTempoValid) != 0 && time->tempo > 0.0;
    const bool hostPosition = time != nullptr && (time->flags & kVstPpqPosValid) != 0;
    const double tempoBpm = hostTempo ? time->tempo : kDefaultTempoBpm;
    const double startQuarterNotes = hostPosition ? time->ppqPos : ownPositionQuarterNotes;

    const double quarterNotesPerFrame = 1.0 / (secondsPerQuarterNote(tempoBpm) * getSampleRate());
    const double cyclesPerQuarterNote = 1.0 / cycleQuarterNotes(rate.load(kRelaxed));
    const double depthNow = depth.load(kRelaxed);

    // Each sample is read before its output is written, so the host may pass
    // one buffer as both input and output of a channel.
    for (VstInt32 frame = 0; frame < sampleFrames; ++frame) {
        const double positionQuarterNotes = startQuarterNotes + frame * quarterNotesPerFrame;
        const double cycles = positionQuarterNotes * cyclesPerQuarterNote;
        // Full level on every cycle's start, the trough half way.
        const double dip = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * cycles);
        const float gain = static_cast<float>(1.0 - depthNow * dip);
        outputs[0][frame] = inputs[0][frame] * gain;
        outputs[1][frame] = inputs[1][frame] * gain;
    }
    ownPositionQuarterNotes = startQuarterNotes + sampleFrames * quarterNotesPerFrame;
}

void TempoTremolo::setParameter(VstInt32 index, float value) {
    if (index == kRate) rate.store(value, kRelaxed);
    if (index == kDepth) depth.store(value, kRelaxed);
}

float TempoTremolo::getParameter(VstInt32 index) {
    if (index == kRate) return rate.load(kRelaxed);
    if (index == kDepth) return depth.load(kRelaxed);
    return 0.0f;
}

void TempoTremolo::getParameterName(VstInt32 index, char* text) {
    const char* name = index == kRate ? "Rate" : index == kDepth ? "Depth" : "";
    copyText(text, name, kVstMaxParamStrLen);
}

void TempoTremolo::getParameterLabel(VstInt32 index, char* label) {
    const char* unit = index == kRate ? "note" : index == kDepth ? "%" : "";
    copyText(label, unit, kVstMaxParamStrLen);
}

void TempoTremolo::getParameterDisplay(VstInt32 index, char* text) {
    if (index == kRate) {
        copyText(text, rateStep(rate.load(kRelaxed)).display, kVstMaxParamStrLen);
    } else if (index == kDepth) {
        int2string(static_cast<VstInt32>(std::lround(100.0f * depth.load(kRelaxed))), text, kVstMaxParamStrLen);
    } else {
        copyText(text, "", kVstMaxParamStrLen);
    }
}

bool TempoTremolo::getEffectName(char* name) {
    copyText(name, kEffectName, kVstMaxNameLen);
    return true;
}

bool TempoTremolo::getVendorString(char* text) {
    copyText(text, kVendorName, kVstMaxNameLen);
    return true;
}

VstInt32 TempoTremolo::canDo(char* text) {
    return text != nullptr && std::string_view(text) == "receiveVstTimeInfo" ? 1 : 0;
}

bool TempoTremolo::getProductString(char* text) {
    copyText(text, kProductName, kVstMaxNameLen);
    return true;
}
