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
// From this many frames into a stop on, the curve is below 2^-25, half a unit
// in the last place of kCurveFloor: curve + floor rounds to the floor exactly
// (checked for every frame count), so the powf call is skipped there.
constexpr std::int32_t kCurveFlatFromFrames = 151295;
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
    Tape tape = loadTape();
    for (VstInt32 i = 0; i < sampleFrames; ++i) {
        // 1. One reading of the trigger decides the whole frame.
        const float t = trigger.load(kRelaxed);
        const bool engaged = t >= kEngagedTrigger;  // false for NaN
        // 2. Edge.
        if (engaged && tape.previousTrigger < kEngagedTrigger)
            startStop(tape);
        else if (t < kEngagedTrigger)
            tape.stopCounter = 0;
        if (!engaged) {
            // 3. Pass-through, bit for bit.
            outL[i] = inL[i];
            outR[i] = inR[i];
        } else {
            record(tape, inL[i], inR[i]);            // 4
            slowDown(tape);                          // 5
            writeWetFrame(tape, outL[i], outR[i]);   // 6
            // 7. Blend. The input is read again here: in place, it already
            // holds the wet sample.
            const float m = mix.load(kRelaxed);
            const float dry = 1.0f - m;
            outL[i] = dry * inL[i] + m * outL[i];
            outR[i] = dry * inR[i] + m * outR[i];
        }
        tape.previousTrigger = t;  // 8
    }
    storeTape(tape);
}

inline TapeStopVST::Tape TapeStopVST::loadTape() const {
    return Tape{previousTrigger, stopCounter, writeIndex, playbackRate, readPosition};
}

inline void TapeStopVST::storeTape(const Tape& tape) {
    previousTrigger = tape.previousTrigger;
    stopCounter = tape.stopCounter;
    writeIndex = tape.writeIndex;
    playbackRate = tape.playbackRate;
    readPosition = tape.readPosition;
}

// Recording and playback restart at slot 0; the buffers keep their contents,
// since playback never reaches a slot not written since this edge.
inline void TapeStopVST::startStop(Tape& tape) {
    tape.stopCounter = 0;
    tape.writeIndex = 0;
    tape.playbackRate = kNormalRate;
    tape.readPosition = 0.0f;
}

inline void TapeStopVST::record(Tape& tape, float left, float right) {
    bufferL[tape.writeIndex] = left;
    bufferR[tape.writeIndex] = right;
    if (++tape.writeIndex >= kBufferLength) tape.writeIndex = 0;
}

inline void TapeStopVST::slowDown(Tape& tape) const {
    const std::int32_t frames = tape.stopCounter;
    const float curve =
        frames < kCurveFlatFromFrames ? ::powf(kCurveBase, static_cast<float>(frames) / kCurveFrames) : 0.0f;
    // Held past 2^31 frames the counter stays at its top; the curve is flat
    // there, so the stop stays silent.
    if (frames < std::numeric_limits<std::int32_t>::max()) tape.stopCounter = frames + 1;
    // speed + 1 taken in 64 bits, so that no stored speed overflows.
    const float steps = static_cast<float>(static_cast<std::int64_t>(speed.load(kRelaxed)) + 1);
    // A true division: multiplying by the reciprocal would change the last bit.
    const float decrement = ((curve + kCurveFloor) * steps) / kDecrementDivisor;
    tape.playbackRate = tape.playbackRate - decrement;
}

// The recorded sample at the truncated read position, without interpolation,
// faded in proportion to the rate below a quarter of normal speed. A rate that
// a negative speed drives past normal speed makes the reader overtake the
// writer; the wrap keeps every read inside the buffers.
inline void TapeStopVST::writeWetFrame(Tape& tape, float& left, float& right) const {
    if (tape.playbackRate <= 0.0f) {
        left = 0.0f;
        right = 0.0f;
        return;
    }
    const auto slot = static_cast<std::int32_t>(tape.readPosition);
    const double rate = tape.playbackRate;
    const double gain = rate < kFadeBelowRate ? 1.0 - (kFadeBelowRate - rate) * 4.0 : 1.0;
    left = static_cast<float>(gain * static_cast<double>(bufferL[slot]));
    right = static_cast<float>(gain * static_cast<double>(bufferR[slot]));
    tape.readPosition = tape.readPosition + tape.playbackRate;
    // For a non-negative position this is "truncated position >= length";
    // the fraction is dropped, not carried over.
    if (tape.readPosition >= kBufferLengthSamples) tape.readPosition = 0.0f;
}
