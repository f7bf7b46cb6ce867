#include "StereoGain.h"

#include "TextBuffer.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kDefaultGain = 0.5f;  // host value of unity gain
constexpr float kMaxFactor = 2.0f;    // linear factor at host value 1
constexpr char kEffectName[] = "Stereo Gain";
constexpr char kVendorName[] = "Tarvo Examples";
constexpr char kProductName[] = "Tarvo Stereo Gain";

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) { return new StereoGain(audioMaster); }

StereoGain::StereoGain(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParameters), gain(kDefaultGain) {
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(kUniqueId);
}

void StereoGain::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    const float factor = kMaxFactor * gain.load(kRelaxed);
    // Each sample is read before its output is written, so the host may pass
    // one buffer as both input and output of a channel.
    for (VstInt32 frame = 0; frame < sampleFrames; ++frame) {
        outputs[0][frame] = inputs[0][frame] * factor;
        outputs[1][frame] = inputs[1][frame] * factor;
    }
}

void StereoGain::setParameter(VstInt32 index, float value) {
    if (index == kGain) gain.store(value, kRelaxed);
}

float StereoGain::getParameter(VstInt32 index) { return index == kGain ? gain.load(kRelaxed) : 0.0f; }

void StereoGain::getParameterName(VstInt32 index, char* text) {
    copyText(text, index == kGain ? "Gain" : "", kVstMaxParamStrLen);
}

void StereoGain::getParameterLabel(VstInt32 index, char* label) {
    copyText(label, index == kGain ? "dB" : "", kVstMaxParamStrLen);
}

// The frame's helper shows the linear factor in decibels, "-oo" for silence.
void StereoGain::getParameterDisplay(VstInt32 index, char* text) {
    if (index != kGain) {
        copyText(text, "", kVstMaxParamStrLen);
        return;
    }
    dB2string(kMaxFactor * gain.load(kRelaxed), text, kVstMaxParamStrLen);
}

bool StereoGain::getEffectName(char* name) {
    copyText(name, kEffectName, kVstMaxNameLen);
    return true;
}

bool StereoGain::getVendorString(char* text) {
    copyText(text, kVendorName, kVstMaxNameLen);
    return true;
}

bool StereoGain::getProductString(char* text) {
    copyText(text, kProductName, kVstMaxNameLen);
    return true;
}
