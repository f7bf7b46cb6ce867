#include "TapeStopVST.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "HostValue.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kEngagedTrigger = 1.0f;        // Trigger is on at 1.0 or more
constexpr float kNormalRate = 1.0f;            // samples per frame at normal speed
constexpr float kFadeBelowRate = 0.25f;        // the output fades in proportion below this rate
constexpr float kCurveFrames = -8000.0f;       // the slowing curve is 2.5^(-frames / 8000)
constexpr float kCurveBase = 2.5f;
constexpr float kCurveFloor = 0.5f;            // the decrement never falls below (speed + 1) / 1e6
constexpr float kDecrementDivisor = 500000.0f;
constexpr float kBufferLengthSamples = static_cast<float>(kBufferLength);
constexpr float kSpeedScale = 100.0f;          // host value to hundredths

// Host value times 100 in single precision, truncated toward zero, so 0.53
// gives 52. A hundredfold that is NaN is stored as 0, one outside the 32-bit
// range as the nearest limit; the processing copes with any speed.
std::int32_t speedFromHostValue(float value) { return truncateToInt32(value * kSpeedScale); }

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) { return new TapeStopVST(audioMaster); }

TapeStopVST::TapeStopVST(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParameters),
      trigger(0.0f),
      previousTrigger(0.0f),
      speed(10),
      stopCounter(0),
      writeIndex(0),
      playbackRate(0.0f),
      readPosition(0.0f),
      mix(1.0f) {
    isSynth(false);
    canProcessReplacing(true);
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(kUniqueId);
    std::fill(std::begin(bufferL), std::end(bufferL), 0.0f);
    std::fill(std::begin(bufferR), std::end(bufferR), 0.0f);
}

void TapeStopVST::setParameter(VstInt32 index, float value) {
    switch (index) {
        case kTrigger: trigger.store(value, kRelaxed); break;
        case kSpeed: speed.store(speedFromHostValue(value), kRelaxed); break;
        case kMix: mix.store(value, kRelaxed); break;
        default: break;
    }
}

float TapeStopVST::getParameter(VstInt32 index) {
    switch (index) {
        case kTrigger: return trigger.load(kRelaxed) >= kEngagedTrigger ? 1.0f : 0.0f;
        case kSpeed: return static_cast<float>(speed.load(kRelaxed)) / kSpeedScale;
        case kMix: return mix.load(kRelaxed);
        default: return 0.0f;
    }
}

// --- Audio thread. The output is defined bit for bit, so every step keeps
// the precision and order written here: single precision throughout, except
// the fade gain and its product, which are double.

void TapeStopVST::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    const float* inL = inputs[0];
    const float* inR = inputs[1];
    float* outL = outputs[0];
    float* outR = outputs[1];
    for (VstInt32 i = 0; i < sampleFrames; ++i) {
        // 1. One reading of the trigger decides the whole frame.
        const float t = trigger.load(kRelaxed);
        const bool engaged = t >= kEngagedTrigger;  // false for NaN
        // 2. Edge.
        if (engaged && previousTrigger < kEngagedTrigger)
            startStop();
        else if (t < kEngagedTrigger)
            stopCounter = 0;
        if (!engaged) {
            // 3. Pass-through, bit for bit.
            outL[i] = inL[i];
            outR[i] = inR[i];
        } else {
            record(inL[i], inR[i]);        // 4
            slowDown();                    // 5
            writeWetFrame(outL[i], outR[i]);  // 6
            // 7. Blend. The input is read again here: in place, it already
            // holds the wet sample.
            const float m = mix.load(kRelaxed);
            const float dry = 1.0f - m;
            outL[i] = dry * inL[i] + m * outL[i];
            outR[i] = dry * inR[i] + m * outR[i];
        }
        previousTrigger = t;  // 8
    }
}

// Recording and playback restart at slot 0; the buffers keep their contents,
// since playback never reaches a slot not written since this edge.
void TapeStopVST::startStop() {
    stopCounter = 0;
    writeIndex = 0;
    playbackRate = kNormalRate;
    readPosition = 0.0f;
}

void TapeStopVST::record(float left, float right) {
    bufferL[writeIndex] = left;
    bufferR[writeIndex] = right;
    if (++writeIndex >= kBufferLength) writeIndex = 0;
}

void TapeStopVST::slowDown() {
    const std::int32_t frames = stopCounter;
    const float curve = ::powf(kCurveBase, static_cast<float>(frames) / kCurveFrames);
    // Held past 2^31 frames the counter stays at its top; the curve is flat
    // there, so the stop stays silent.
    if (frames < std::numeric_limits<std::int32_t>::max()) stopCounter = frames + 1;
    // speed + 1 taken in 64 bits, so that no stored speed overflows.
    const float steps = static_cast<float>(static_cast<std::int64_t>(speed.load(kRelaxed)) + 1);
    // A true division: multiplying by the reciprocal would change the last bit.
    const float decrement = ((curve + kCurveFloor) * steps) / kDecrementDivisor;
    playbackRate = playbackRate - decrement;
}

// The recorded sample at the truncated read position, without interpolation,
// faded in proportion to the rate below a quarter of normal speed. A rate that
// a negative speed drives past normal speed makes the reader overtake the
// writer; the wrap keeps every read inside the buffers.
void TapeStopVST::writeWetFrame(float& left, float& right) {
    if (playbackRate <= 0.0f) {
        left = 0.0f;
        right = 0.0f;
        return;
    }
    const auto slot = static_cast<std::int32_t>(readPosition);
    const double rate = playbackRate;
    const double gain = rate < kFadeBelowRate ? 1.0 - (kFadeBelowRate - rate) * 4.0 : 1.0;
    left = static_cast<float>(gain * static_cast<double>(bufferL[slot]));
    right = static_cast<float>(gain * static_cast<double>(bufferR[slot]));
    readPosition = readPosition + playbackRate;
    // For a non-negative position this is "truncated position >= length";
    // the fraction is dropped, not carried over.
    if (readPosition >= kBufferLengthSamples) readPosition = 0.0f;
}
