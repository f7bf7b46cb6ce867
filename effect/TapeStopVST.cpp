#include "TapeStopVST.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>

#include "HostValue.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kEngagedTrigger = 1.0f;        // Trigger is on at 1.0 or more
constexpr float kNormalRate = 1.0f;            // samples per frame at normal speed
constexpr float kFadeBelowRate = 0.25f;        // the output fades in proportion below this rate
// The slowing curve is 2.5^(frames / -8000): it falls by a factor of 2.5 every
// 8,000 frames of a stop.
constexpr float kCurveBase = 2.5f;
constexpr float kCurveExponentDivisorFrames = -8000.0f;
constexpr float kCurveFloor = 0.5f;            // the decrement never falls below (speed + 1) / 1e6
// From this many frames into a stop on, the curve is below 2^-25, half a unit
// in the last place of kCurveFloor: curve + floor rounds to the floor exactly
// (checked for every frame count), so the powf call is skipped there.
constexpr std::int32_t kCurveFlatFromFrames = 151295;
constexpr float kDecrementDivisor = 500000.0f;
constexpr float kBufferEndPosition = static_cast<float>(kBufferLengthSamples);  // read position past the last slot
constexpr float kSpeedScale = 100.0f;          // host value to hundredths
// Pass-through frames are copied in runs of this many, one wide move per
// 16 bytes of each channel (the unrolling below follows it).
constexpr VstInt32 kPassThroughRunFrames = 32;
// A phase is entered only where at least this many frames are left.
constexpr VstInt32 kPhaseFrames = kPassThroughRunFrames;
// A running tape works out its slowing curve for this many frames at a time.
constexpr VstInt32 kCurveBatchFrames = 64;

// Host value times 100 in single precision, truncated toward zero, so 0.53
// gives 52. A hundredfold that is NaN is stored as 0, one outside the 32-bit
// range as the nearest limit; the processing copes with any speed.
std::int32_t speedFromHostValue(float value) { return truncateToInt32(value * kSpeedScale); }

// Four samples moved at once, from any address: packed, the vector has no
// alignment to assume, and it may alias the host's samples.
using FourLanes = float __attribute__((vector_size(16)));
struct __attribute__((packed, may_alias)) FourSamples {
    FourLanes lanes;
};

// One channel of a run, in wide moves: both ends are the same buffer or apart.
inline void copyRun(const float* from, float* to) {
#pragma GCC unroll 8
    for (VstInt32 k = 0; k < kPassThroughRunFrames; k += 4)
        reinterpret_cast<FourSamples*>(to + k)->lanes = reinterpret_cast<const FourSamples*>(from + k)->lanes;
}

// Whether two channels of a block are the same buffer or share no sample.
bool sameOrApart(const float* a, const float* b, VstInt32 frames) {
    const auto bytes = static_cast<std::uintptr_t>(frames) * sizeof(float);
    const auto first = reinterpret_cast<std::uintptr_t>(a);
    const auto second = reinterpret_cast<std::uintptr_t>(b);
    return first == second || (first - second >= bytes && second - first >= bytes);
}

// The slowing curve for a frame of a stop, counted from 0 at its edge.
float curveAt(std::int32_t frames) {
    return frames < kCurveFlatFromFrames ? ::powf(kCurveBase, static_cast<float>(frames) / kCurveExponentDivisorFrames)
                                         : 0.0f;
}

// The curve for the next frames of a stop, the first of them `counted` frames
// into it: every powf call of a batch in one loop, where nothing else is live
// across the calls. Below the flat part the counter is far from its top, so
// the frames' counts follow on one by one.
void curveBatch(std::int32_t counted, VstInt32 frames, float* curve) {
    if (counted >= kCurveFlatFromFrames) {
        std::fill_n(curve, frames, 0.0f);
        return;
    }
    for (VstInt32 k = 0; k < frames; ++k) curve[k] = curveAt(counted + k);
}

// What the rate loses in a frame with the curve at the given value.
float decrement(float curve, std::int32_t speedHundredths) {
    // speed + 1 taken in 64 bits, so that no stored speed overflows.
    const float steps = static_cast<float>(static_cast<std::int64_t>(speedHundredths) + 1);
    // A true division: multiplying by the reciprocal would change the last bit.
    return ((curve + kCurveFloor) * steps) / kDecrementDivisor;
}

std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) { return new TapeStopVST(audioMaster); }

TapeStopVST::TapeStopVST(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParameters),
      trigger(0.0f),
      speed(10),
      mix(1.0f),
      tapeBetweenBlocks{0.0f, 0, 0, 0.0f, 0.0f} {
    isSynth(false);
    canProcessReplacing(true);
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(kUniqueId);
    // Writing the buffers here maps their pages now, not in the first engaged blocks.
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
    const Block block(inputs, outputs, sampleFrames);
    Tape tape = tapeBetweenBlocks;
    for (VstInt32 i = 0; i < sampleFrames; ++i) {
        // 1. One reading of the trigger decides the whole frame.
        float t = trigger.load(kRelaxed);
        // Phases take this frame and the ones after it while their outcome is
        // plain, where enough frames are left to pay for the call; each works
        // on the stored tape and returns the first frame it left, with that
        // frame's reading, for the steps below. A NaN reading takes the steps.
        if (sampleFrames - i >= kPhaseFrames && !std::isnan(t)) {
            tapeBetweenBlocks = tape;
            const Resume at = t < kEngagedTrigger    ? passThrough(block, i, t)
                              : standsStill(tape, t) ? stayStopped(block, i, t)
                                                     : run(block, i, t);
            tape = tapeBetweenBlocks;
            i = at.frame;
            t = at.reading;
            if (i == sampleFrames) break;
        }
        const bool engaged = t >= kEngagedTrigger;  // false for NaN
        // 2. Edge.
        if (engaged && tape.previousTrigger < kEngagedTrigger)
            startStop(tape);
        else if (t < kEngagedTrigger)  // not !engaged: a NaN trigger keeps the counter
            tape.stopCounter = 0;
        if (!engaged) {
            passFrame(block, i);  // 3
        } else {
            record(tape, block.inL[i], block.inR[i]);          // 4
            slowDown(tape);                                    // 5
            writeWetFrame(tape, block.outL[i], block.outR[i]);  // 6
            blend(block, i);                                   // 7
        }
        tape.previousTrigger = t;  // 8
    }
    tapeBetweenBlocks = tape;
}

inline TapeStopVST::Block::Block(float** inputs, float** outputs, VstInt32 sampleFrames)
    : inL(inputs[0]), inR(inputs[1]), outL(outputs[0]), outR(outputs[1]), frames(sampleFrames) {}

// Copying a run channel by channel gives what copying it frame by frame
// gives only when no two channels overlap in part: each is the same buffer as
// another or apart from it over the whole block.
inline bool TapeStopVST::Block::copiesWide() const {
    return sameOrApart(inL, inR, frames) && sameOrApart(inL, outL, frames) && sameOrApart(inL, outR, frames) &&
           sameOrApart(inR, outL, frames) && sameOrApart(inR, outR, frames) && sameOrApart(outL, outR, frames);
}

// Pass-through frames from frame i on, whose reading t is below 1.0. A run is
// kPassThroughRunFrames frames whose trigger reads, frame by frame in order,
// exactly as in its first: its frames are then copied in wide moves. A run cut
// short by a different reading is copied frame by frame and hands that reading
// on; the frames left at the end of a block, fewer than a run, go through the
// steps one by one.
[[gnu::noinline]] TapeStopVST::Resume TapeStopVST::passThrough(Block block, VstInt32 i, float t) {
    if (!block.copiesWide()) return {i, t};
    Tape tape = tapeBetweenBlocks;
    while (block.frames - i >= kPassThroughRunFrames) {
        const std::uint32_t runBits = bitsOf(t);
        std::uint32_t bits = runBits;
        VstInt32 run = 1;
#pragma GCC unroll 32
        for (; run < kPassThroughRunFrames; ++run) {
            bits = bitsOf(trigger.load(kRelaxed));
            if (bits != runBits) break;
        }
        tape.stopCounter = 0;      // 2, for every frame of the run
        tape.previousTrigger = t;  // 8, of its last frame
        if (run < kPassThroughRunFrames) {
            for (const VstInt32 end = i + run; i < end; ++i) passFrame(block, i);
            tapeBetweenBlocks = tape;
            return {i, std::bit_cast<float>(bits)};
        }
        copyRun(block.inL + i, block.outL + i);
        copyRun(block.inR + i, block.outR + i);
        i += run;
        if (i == block.frames) break;
        t = trigger.load(kRelaxed);
        if (!(t < kEngagedTrigger)) break;
    }
    tapeBetweenBlocks = tape;
    return {i, t};
}

// Engaged frames from frame i on, whose reading t is 1.0 or more, while the
// tape runs; frame i may be the edge that starts it. The slowing curve of the
// next kCurveBatchFrames frames (fewer at the end of the block) is worked out
// ahead, so that these frames take their steps with no call among them and
// their values stay in registers. A reading below 1.0, or NaN, ends the phase
// and leaves the rest of the batch unused; a tape found standing still at the
// end of a batch is handed on.
[[gnu::noinline]] TapeStopVST::Resume TapeStopVST::run(Block block, VstInt32 i, float t) {
    Tape tape = tapeBetweenBlocks;
    if (tape.previousTrigger < kEngagedTrigger) startStop(tape);  // 2
    float curve[kCurveBatchFrames];
    VstInt32 k = kCurveBatchFrames;  // the frame's place in the batch
    for (;;) {
        if (k == kCurveBatchFrames) {
            curveBatch(tape.stopCounter, std::min(kCurveBatchFrames, block.frames - i), curve);
            k = 0;
        }
        record(tape, block.inL[i], block.inR[i]);          // 4
        slowDownBy(tape, curve[k++]);                      // 5
        writeWetFrame(tape, block.outL[i], block.outR[i]);  // 6
        blend(block, i);                                   // 7
        tape.previousTrigger = t;                          // 8
        if (++i == block.frames) break;
        t = trigger.load(kRelaxed);  // 1, of the next frame
        if (!(t >= kEngagedTrigger) || (k == kCurveBatchFrames && standsStill(tape, t))) break;
    }
    tapeBetweenBlocks = tape;
    return {i, t};
}

// The tape stands still in an engaged frame when the last frame was engaged
// (or a NaN blip that keeps it so) and played silence: no edge comes.
inline bool TapeStopVST::standsStill(const Tape& tape, float t) {
    return t >= kEngagedTrigger && !(tape.previousTrigger < kEngagedTrigger) && tape.playbackRate <= 0.0f;
}

// Engaged frames from frame i on, whose reading t is 1.0 or more, while the
// tape stands still: the steps of an engaged frame without the edge test. A
// speed of 0 or more keeps the rate at or below zero; a negative one may
// start the tape again, which ends the phase. A reading the same as frame
// i's needs no new test.
[[gnu::noinline]] TapeStopVST::Resume TapeStopVST::stayStopped(Block block, VstInt32 i, float t) {
    const std::uint32_t engagedBits = bitsOf(t);
    Tape tape = tapeBetweenBlocks;
    FlatDecrement flat{0, decrement(0.0f, 0)};
    bool moving = false;
    do {
        record(tape, block.inL[i], block.inR[i]);                   // 4
        slowDownStill(tape, flat);                                  // 5
        moving = writeWetFrame(tape, block.outL[i], block.outR[i]);  // 6
        blend(block, i);                                            // 7
        tape.previousTrigger = t;                                   // 8
        if (++i == block.frames) break;
        t = trigger.load(kRelaxed);  // 1, of the next frame
    } while (!moving && (bitsOf(t) == engagedBits || t >= kEngagedTrigger));
    tapeBetweenBlocks = tape;
    return {i, t};
}

// 3. Pass-through, bit for bit.
inline void TapeStopVST::passFrame(const Block& block, VstInt32 i) {
    block.outL[i] = block.inL[i];
    block.outR[i] = block.inR[i];
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
    if (++tape.writeIndex >= kBufferLengthSamples) tape.writeIndex = 0;
}

// Held past 2^31 frames the counter stays at its top; the curve is flat
// there, so the stop stays silent. Answers the count before this frame.
inline std::int32_t TapeStopVST::countFrame(Tape& tape) {
    const std::int32_t frames = tape.stopCounter;
    if (frames < std::numeric_limits<std::int32_t>::max()) tape.stopCounter = frames + 1;
    return frames;
}

inline void TapeStopVST::slowDown(Tape& tape) const { slowDownBy(tape, curveAt(tape.stopCounter)); }

// Step 5 with this frame's curve worked out beforehand.
inline void TapeStopVST::slowDownBy(Tape& tape, float curve) const {
    countFrame(tape);
    tape.playbackRate = tape.playbackRate - decrement(curve, speed.load(kRelaxed));
}

// Step 5 while the tape stands still. Once the curve is flat the decrement
// changes only with the speed, so it is worked out again only when the speed
// read differs from the last.
inline void TapeStopVST::slowDownStill(Tape& tape, FlatDecrement& flat) const {
    if (tape.stopCounter < kCurveFlatFromFrames) return slowDown(tape);
    countFrame(tape);
    const std::int32_t s = speed.load(kRelaxed);
    if (s != flat.speedHundredths) flat = FlatDecrement{s, decrement(0.0f, s)};
    tape.playbackRate = tape.playbackRate - flat.decrement;
}

// The recorded sample at the truncated read position, without interpolation,
// faded in proportion to the rate below a quarter of normal speed. A rate that
// a negative speed drives past normal speed makes the reader overtake the
// writer; the wrap keeps every read inside the buffers. Answers whether the
// tape moves.
inline bool TapeStopVST::writeWetFrame(Tape& tape, float& left, float& right) const {
    if (tape.playbackRate <= 0.0f) {
        left = 0.0f;
        right = 0.0f;
        return false;
    }
    const auto slot = static_cast<std::int32_t>(tape.readPosition);
    const double rate = tape.playbackRate;
    const double gain = rate < kFadeBelowRate ? 1.0 - (kFadeBelowRate - rate) * 4.0 : 1.0;
    left = static_cast<float>(gain * static_cast<double>(bufferL[slot]));
    right = static_cast<float>(gain * static_cast<double>(bufferR[slot]));
    tape.readPosition = tape.readPosition + tape.playbackRate;
    // For a non-negative position this is "truncated position >= length";
    // the fraction is dropped, not carried over.
    if (tape.readPosition >= kBufferEndPosition) tape.readPosition = 0.0f;
    return true;
}

// 7. Blend. The input is read again here: in place, it already holds the wet
// sample.
inline void TapeStopVST::blend(const Block& block, VstInt32 i) const {
    const float m = mix.load(kRelaxed);
    const float dry = 1.0f - m;
    block.outL[i] = dry * block.inL[i] + m * block.outL[i];
    block.outR[i] = dry * block.inR[i] + m * block.outR[i];
}
