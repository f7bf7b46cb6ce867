// StereoGain: the smallest useful effect on the frame. One parameter, Gain,
// scales both channels by 0 to 2 (silence to +6 dB, unity at the middle).
// It overrides only what an effect must say for itself: its processing, its
// parameter, and its names. Everything else is the frame's default.
#pragma once

#include <atomic>

#include "AudioEffectX.h"

class StereoGain : public AudioEffectX {
public:
    enum Parameter : VstInt32 { kGain, kNumParameters };
    static constexpr VstInt32 kNumPrograms = 1;
    static constexpr VstInt32 kUniqueId = fourCharCode("TgGn");

    explicit StereoGain(audioMasterCallback audioMaster);

    // Audio thread. The gain is read once per block, so a change takes
    // effect at the next block.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // Any thread, also while audio runs.
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;

    // Texts the host shows; any thread.
    void getParameterName(VstInt32 index, char* text) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;

private:
    std::atomic<float> gain;  // the host's value, 0 to 1
    static_assert(std::atomic<float>::is_always_lock_free);
};
