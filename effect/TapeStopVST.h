// Tarvo TapeStop: while Trigger is on, the stereo input is recorded into two
// ring buffers and played back at a rate that falls from normal speed to
// standstill, fading out below a quarter of normal speed; Speed sets how
// fast, Mix blends the result with the dry input. With Trigger off the input
// passes unchanged. All timing is counted in frames; the sample rate plays no
// part in the sound.
#pragma once

#include <atomic>
#include <cstdint>

#include "AudioEffectX.h"

// Length of each ring buffer in samples (one per frame), whatever the sample rate.
constexpr VstInt32 kBufferLengthSamples = 480000;

class TapeStopVST : public AudioEffectX {
public:
    enum Parameter : VstInt32 { kTrigger, kSpeed, kMix, kNumParameters };
    static constexpr VstInt32 kNumPrograms = 1;
    static constexpr VstInt32 kUniqueId = fourCharCode("tkqz");

    explicit TapeStopVST(audioMasterCallback audioMaster);

    // Audio thread.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // Any thread, also while audio runs: each parameter is one indivisible
    // 32-bit value, written whole and read whole.
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;

    // Texts the host shows; any thread. They write only into the host's buffer.
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    // The project's version, major × 1000 + minor × 100 + patch (1.0.0 is 1000).
    VstInt32 getVendorVersion() override { return TARVO_VENDOR_VERSION; }

private:
    // What only the processing touches, beside the buffers. A block, and each
    // phase, works on a copy in a local and stores it back when it is done:
    // the compiler must assume that the host's output buffers alias the
    // members, and would store and reload them around every sample written.
    struct Tape {
        float previousTrigger;     // trigger at the end of the last frame
        std::int32_t stopCounter;  // engaged frames since the stop began
        std::int32_t writeIndex;   // next slot recorded
        float playbackRate;        // samples per frame; 1 is normal speed
        float readPosition;        // fractional slot, in samples
    };
    // The host's channels for one call.
    struct Block {
        Block(float** inputs, float** outputs, VstInt32 sampleFrames);
        bool copiesWide() const;
        const float* inL;
        const float* inR;
        float* outL;
        float* outR;
        VstInt32 frames;
    };
    // The decrement of the flat curve, for the speed it was worked out for.
    struct FlatDecrement {
        std::int32_t speedHundredths;
        float decrement;
    };
    // Where a phase leaves a block: the first frame it did not take, and that
    // frame's reading of the trigger. The phases are calls of their own that
    // work on the stored tape: inlined, their values would crowd the registers
    // of the per-frame steps around every powf call.
    struct Resume {
        VstInt32 frame;
        float reading;
    };
    Resume passThrough(Block block, VstInt32 i, float t);
    Resume run(Block block, VstInt32 i, float t);
    Resume stayStopped(Block block, VstInt32 i, float t);
    static bool standsStill(const Tape& tape, float t);
    static void passFrame(const Block& block, VstInt32 i);
    static void startStop(Tape& tape);
    void record(Tape& tape, float left, float right);
    static std::int32_t countFrame(Tape& tape);
    void slowDown(Tape& tape) const;
    void slowDownBy(Tape& tape, float curve) const;
    void slowDownStill(Tape& tape, FlatDecrement& flat) const;
    bool writeWetFrame(Tape& tape, float& left, float& right) const;
    void blend(const Block& block, VstInt32 i) const;

    // trigger, speed and mix are written by the host's parameter thread and
    // read by the audio thread; the tape and the buffers belong to the processing.
    std::atomic<float> trigger;
    std::atomic<std::int32_t> speed;  // hundredths, 0 to 100 for host values 0 to 1
    std::atomic<float> mix;           // share of the stopped signal against the dry input
    Tape tapeBetweenBlocks;
    float bufferL[kBufferLengthSamples];
    float bufferR[kBufferLengthSamples];

    static_assert(std::atomic<float>::is_always_lock_free && sizeof(std::atomic<float>) == 4);
    static_assert(std::atomic<std::int32_t>::is_always_lock_free && sizeof(std::atomic<std::int32_t>) == 4);
};
