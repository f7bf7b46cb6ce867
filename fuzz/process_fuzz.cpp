// Fuzzes the audio path: sequences of parameter changes (any 32-bit pattern
// on any index), processing calls of fuzzed sizes, zero and negative
// included, on fuzzed input, and long runs of generated signal (up to
// kMaxLongRunFrames frames in one action) that take a stop past the flat
// curve (frame 151,295) and the ring buffers' wrap (480,000), sometimes in
// place. No call may write a sample outside its frames, a call without frames
// writes nothing, and finite input gives finite output while the mix is
// finite and at most kFiniteMixLimit in size (a larger mix may overflow the
// blend to infinity by definition). The read slot staying inside the ring
// buffers is checked by the bounds sanitizer.
//
// One effect serves every input (fuzz/SharedEffect.h). After each input a
// frame with Trigger 0 and the start values of the parameters put it back
// into its start state through the interface. What stays from earlier inputs
// is never read but in two ways. Samples they recorded: the reader reaches a
// slot not written since the rising edge only when it runs ahead of the
// writer, which takes a speed below -1; before an input that sets one, the
// slots earlier inputs may have written are recorded over with zeros, as a
// fresh effect holds them. The write index, the rate and the read position:
// only an engaged frame that is no rising edge reads them, which needs a NaN
// trigger first; an input that does that before its first rising edge gets a
// fresh effect at that point.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "SharedEffect.h"

namespace {

constexpr VstInt32 kMaxBlockFrames = 4096;
constexpr VstInt32 kMinBlockFrames = -16;
constexpr std::size_t kGuardFrames = 16;
constexpr long kMaxLongRunFrames = 490000;  // just past the wrap at 480,000
// One full long run and a few dozen blocks beside it: more frames in one
// input reach nothing new and only slow the fuzzing down.
constexpr long kMaxFramesPerInput = kMaxLongRunFrames + 25 * kMaxBlockFrames;
// Long runs call the effect with no fewer frames than this: smaller calls are
// the ordinary actions' part, and hundreds of thousands of them would make
// one input take seconds.
constexpr VstInt32 kMinLongRunBlockFrames = 256;
// Before an input that lets the reader run ahead, up to this many recorded
// slots are cleared by recording zeros over them; more cost longer than a
// fresh effect does.
constexpr long kMaxClearedSlots = 32768;
constexpr std::uint8_t kLongRunHalvings = 24;
constexpr long kBufferLength = 480000;
constexpr float kSentinel = -7777.25f;
constexpr float kMaxInputMagnitude = 1e30f;  // the blend of such input with a bounded mix stays finite
constexpr float kFiniteMixLimit = 1e6f;
constexpr float kInt16Scale = 1.0f / 32768.0f;
constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kSpeed = 1;
constexpr VstInt32 kMix = 2;
// A fresh effect's parameters, as host values.
constexpr float kStartTrigger = 0.0f;
constexpr float kStartSpeed = 0.1f;
constexpr float kStartMix = 1.0f;
constexpr float kFastestSpeed = 1e30f;  // stands still in the first frame
// Action bytes: even ones set a parameter, odd ones process; 0x9D, and 0x9F in
// place, run a long stretch of generated signal: rare in random bytes, so
// that most inputs stay short.
constexpr std::uint8_t kLongRunAction = 0x9D;
constexpr std::size_t kLongRunBytes = 16;  // what follows its action byte

struct Channel {
    std::array<float, kMaxBlockFrames + kGuardFrames> samples;
};
Channel inL, inR, outL, outR;

// The harness's own loops over its own arrays, per sample, go without
// sanitizer and coverage instrumentation: instrumented, they cost more than
// the effect's processing of the same frames. The effect's code keeps all of
// its checks.
#define HARNESS_UNINSTRUMENTED __attribute__((no_sanitize("address", "undefined", "coverage")))

HARNESS_UNINSTRUMENTED void fillFrames(float* to, std::size_t count, float value) {
    for (std::size_t i = 0; i < count; ++i) to[i] = value;
}

HARNESS_UNINSTRUMENTED void copyFrames(const float* from, float* to, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
}

// Half the samples are 16-bit audio, the others any finite float up to
// kMaxInputMagnitude, so edge values reach the recording as well.
HARNESS_UNINSTRUMENTED float finite(float value) {
    return std::isfinite(value) && std::fabs(value) <= kMaxInputMagnitude ? value : 0.0f;
}

// An ordinary action's samples as the input holds them, left and right in
// turn, each int16 or, when wide, float32.
std::array<std::uint8_t, kMaxBlockFrames * 2 * sizeof(float)> sampleBytes;

void takeSampleBytes(fuzz::Input& input, bool wide, VstInt32 frames) {
    const std::size_t sampleSize = wide ? sizeof(float) : sizeof(std::int16_t);
    input.takeBytes(sampleBytes.data(), static_cast<std::size_t>(std::max(frames, 0)) * 2 * sampleSize);
}

HARNESS_UNINSTRUMENTED void decodeSamples(const std::uint8_t* bytes, bool wide, std::size_t frames, float* left,
                                          float* right) {
    for (std::size_t i = 0; i < frames; ++i) {
        if (wide) {
            float pair[2];
            std::memcpy(pair, bytes + i * sizeof(pair), sizeof(pair));
            left[i] = finite(pair[0]);
            right[i] = finite(pair[1]);
        } else {
            std::int16_t pair[2];
            std::memcpy(pair, bytes + i * sizeof(pair), sizeof(pair));
            left[i] = static_cast<float>(pair[0]) * kInt16Scale;
            right[i] = static_cast<float>(pair[1]) * kInt16Scale;
        }
    }
}

// Signals a long run generates, a block at a time.
enum class Signal : std::uint8_t { kSilence, kConstant, kRamp, kNoise, kCount };

struct Generator {
    Signal signal;
    float value;         // the constant, or the ramp's step
    std::uint32_t state;  // the noise's
    long frame = 0;

    HARNESS_UNINSTRUMENTED void fill(float* to, std::size_t count) {
        switch (signal) {
            case Signal::kConstant: fillFrames(to, count, value); break;
            case Signal::kRamp:
                for (std::size_t i = 0; i < count; ++i)
                    to[i] = finite(value * static_cast<float>((frame + static_cast<long>(i)) & 0xFFFF));
                break;
            case Signal::kNoise:
                for (std::size_t i = 0; i < count; ++i) {
                    state = state * 1664525u + 1013904223u;
                    to[i] = static_cast<float>(static_cast<std::int32_t>(state)) * (1.0f / 2147483648.0f);
                }
                break;
            default: fillFrames(to, count, 0.0f); break;
        }
        frame += static_cast<long>(count);
    }
};

// What the harness knows of the effect's state: enough to tell an engaged
// frame without a rising edge while the state is still left from earlier
// inputs, and how many slots the input may have recorded.
struct Session {
    float trigger = kStartTrigger;
    float speed = kStartSpeed;
    float mix = kStartMix;
    float previousTrigger = kStartTrigger;
    bool ownState = false;  // after a rising edge or on a fresh effect
};
// How many slots from 0 on an effect's ring buffers may hold samples, as far
// as the harness can tell: an input's stops all start at slot 0.
struct Recording {
    long engagedFrames = 0;  // in this input
    long slots = 0;          // since the buffers last held only zeros
};
Recording sharedRecording;  // of the effect every input shares
Recording scratchRecording;  // of a fresh effect run beside it for the check

void setParameter(AEffect* effect, VstInt32 index, float value) { effect->setParameter(effect, index, value); }

void processScratch(AEffect* effect, VstInt32 frames) {
    std::fill_n(inL.samples.begin(), frames, 0.0f);
    std::fill_n(inR.samples.begin(), frames, 0.0f);
    float* inputs[2] = {inL.samples.data(), inR.samples.data()};
    float* outputs[2] = {outL.samples.data(), outR.samples.data()};
    effect->processReplacing(effect, inputs, outputs, frames);
}

// A fresh effect in place of the shared one, brought to where this input
// has taken the shared one so far: no rising edge yet, a NaN trigger last.
void replaceByFresh(AEffect*& effect, const Session& session, Recording& recording) {
    fuzz::renewEffect(effect);
    setParameter(effect, kTrigger, session.previousTrigger);
    processScratch(effect, 1);
    setParameter(effect, kTrigger, session.trigger);
    setParameter(effect, kSpeed, session.speed);
    setParameter(effect, kMix, session.mix);
    recording = Recording{};
}

// Before a call with frames: note what its first frame does.
void beforeFrames(AEffect*& effect, Session& session, Recording& recording, long frames) {
    const bool engaged = session.trigger >= 1.0f;
    if (engaged && !(session.previousTrigger < 1.0f) && !session.ownState) replaceByFresh(effect, session, recording);
    if (engaged) session.ownState = true;
    if (engaged) recording.engagedFrames += frames;
    session.previousTrigger = session.trigger;
}

// Whether the first frames of both output channels are finite: a sample is
// not when all its exponent bits are set. One pass without branches, so that
// long runs stay cheap; the frame at fault is looked for only on failure.
HARNESS_UNINSTRUMENTED bool allFinite(std::size_t frames) {
    constexpr std::uint32_t kExponentBits = 0x7F800000u;
    std::uint32_t nonFinite = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        nonFinite |= (std::bit_cast<std::uint32_t>(outL.samples[i]) & kExponentBits) == kExponentBits;
        nonFinite |= (std::bit_cast<std::uint32_t>(outR.samples[i]) & kExponentBits) == kExponentBits;
    }
    return nonFinite == 0;
}

// Processes frames [0, count) of the channels and checks what was written:
// nothing in the kGuardFrames after them (further on, the bounds sanitizer
// sees a write past the channels' end).
void processChecked(AEffect* effect, const Session& session, VstInt32 count, bool inPlace, fuzz::Digest& digest) {
    const auto fill = static_cast<std::size_t>(std::max(count, 0));
    const std::size_t guardEnd = fill + kGuardFrames;
    if (inPlace) {
        copyFrames(inL.samples.data(), outL.samples.data(), fill);
        copyFrames(inR.samples.data(), outR.samples.data(), fill);
    }
    fillFrames(outL.samples.data() + (inPlace ? fill : 0), inPlace ? kGuardFrames : guardEnd, kSentinel);
    fillFrames(outR.samples.data() + (inPlace ? fill : 0), inPlace ? kGuardFrames : guardEnd, kSentinel);
    float* inputs[2] = {inPlace ? outL.samples.data() : inL.samples.data(),
                        inPlace ? outR.samples.data() : inR.samples.data()};
    float* outputs[2] = {outL.samples.data(), outR.samples.data()};
    effect->processReplacing(effect, inputs, outputs, count);

    for (std::size_t i = fill; i < guardEnd; ++i)
        if (outL.samples[i] != kSentinel || outR.samples[i] != kSentinel)
            fuzz::fail("sample written outside the block of frames", count);
    if (std::isfinite(session.mix) && std::fabs(session.mix) <= kFiniteMixLimit && !allFinite(fill))
        for (std::size_t i = 0; i < fill; ++i)
            if (!std::isfinite(outL.samples[i]) || !std::isfinite(outR.samples[i]))
                fuzz::fail("finite input gave non-finite output at frame", static_cast<long>(i));
    if (fuzz::checkingRestore()) {
        digest.add(outL.samples.data(), fill * sizeof(float));
        digest.add(outR.samples.data(), fill * sizeof(float));
    }
}

long longRun(AEffect*& effect, Session& session, Recording& recording, fuzz::Input& input, bool inPlace,
             long framesLeft, fuzz::Digest& digest) {
    // Up to kMaxLongRunFrames, shortened by a fuzzed power of two: most runs
    // stay short, which keeps the inputs per second up.
    const long longest = input.take<std::uint32_t>() % (kMaxLongRunFrames + 1);
    const long frames = std::min<long>(longest >> (input.take<std::uint8_t>() % kLongRunHalvings), framesLeft);
    const auto block =
        std::max(static_cast<VstInt32>(input.take<std::uint16_t>() % kMaxBlockFrames + 1), kMinLongRunBlockFrames);
    const auto kind = static_cast<Signal>(input.take<std::uint8_t>() % static_cast<std::uint8_t>(Signal::kCount));
    Generator left{kind, finite(input.takeFloatBits()), input.take<std::uint32_t>()};
    Generator right{kind, -left.value, ~left.state};
    for (long done = 0; done < frames;) {
        const auto count = static_cast<VstInt32>(std::min<long>(block, frames - done));
        left.fill(inL.samples.data(), static_cast<std::size_t>(count));
        right.fill(inR.samples.data(), static_cast<std::size_t>(count));
        beforeFrames(effect, session, recording, count);
        processChecked(effect, session, count, inPlace, digest);
        done += count;
    }
    return frames;
}

void runInput(AEffect*& effect, fuzz::Input& input, fuzz::Digest& digest, bool shared) {
    Recording& recording = shared ? sharedRecording : scratchRecording;
    recording.engagedFrames = 0;
    Session session;
    long frames = 0;
    while (!input.empty() && frames < kMaxFramesPerInput) {
        const auto action = input.take<std::uint8_t>();
        const bool inPlace = (action & 0x2) != 0;
        if (action % 2 == 0) {
            // Mostly the three parameters, sometimes any index.
            const auto raw = input.take<std::int8_t>();
            const VstInt32 index = (action & 0x80) != 0 ? raw : static_cast<std::uint8_t>(raw) % 3;
            const float value = input.takeFloatBits();
            setParameter(effect, index, value);
            if (index == kTrigger) session.trigger = value;
            if (index == kSpeed) session.speed = value;
            if (index == kMix) session.mix = value;
            digest.add(value);
            continue;
        }
        if ((action | 0x2) == (kLongRunAction | 0x2)) {
            frames += longRun(effect, session, recording, input, inPlace, kMaxFramesPerInput - frames, digest);
            continue;
        }
        const VstInt32 count = kMinBlockFrames + static_cast<VstInt32>(input.take<std::uint16_t>() %
                                                                       (kMaxBlockFrames - kMinBlockFrames + 1));
        const bool wide = (action & 0x4) != 0;
        takeSampleBytes(input, wide, count);
        decodeSamples(sampleBytes.data(), wide, static_cast<std::size_t>(std::max(count, 0)), inL.samples.data(),
                      inR.samples.data());
        if (count > 0) beforeFrames(effect, session, recording, count);
        processChecked(effect, session, count, inPlace, digest);
        frames += std::max(count, 0);
    }
}

// A frame with the trigger off, which leaves the count at 0 and the last
// trigger below 1, and the start values of the parameters.
void restore(AEffect* effect) {
    sharedRecording.slots = std::max(sharedRecording.slots, std::min(sharedRecording.engagedFrames, kBufferLength));
    sharedRecording.engagedFrames = 0;
    setParameter(effect, kTrigger, kStartTrigger);
    processScratch(effect, 1);
    setParameter(effect, kSpeed, kStartSpeed);
    setParameter(effect, kMix, kStartMix);
}

// Whether the input processes frames with the trigger not below 1 and a
// speed below -1 (a hundredfold of -2 or less): only then can the reader run
// ahead of the writer. Walks the actions as runInput reads them, keeping the
// two values, without running any.
bool mayReadAhead(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    float trigger = kStartTrigger;
    bool speedBelowMinusOne = false;
    while (!input.empty()) {
        const auto action = input.take<std::uint8_t>();
        if (action % 2 == 0) {
            const auto raw = input.take<std::int8_t>();
            const VstInt32 index = (action & 0x80) != 0 ? raw : static_cast<std::uint8_t>(raw) % 3;
            const float value = input.takeFloatBits();
            if (index == kTrigger) trigger = value;
            if (index == kSpeed) speedBelowMinusOne = value * 100.0f <= -2.0f;
            continue;
        }
        const bool readsAhead = !(trigger < 1.0f) && speedBelowMinusOne;
        std::uint8_t skipped[kLongRunBytes];
        if ((action | 0x2) == (kLongRunAction | 0x2)) {
            if (readsAhead) return true;
            input.takeBytes(skipped, kLongRunBytes);
            continue;
        }
        const VstInt32 count = kMinBlockFrames + static_cast<VstInt32>(input.take<std::uint16_t>() %
                                                                       (kMaxBlockFrames - kMinBlockFrames + 1));
        if (readsAhead && count > 0) return true;
        takeSampleBytes(input, (action & 0x4) != 0, count);
    }
    return false;
}

// Before an input that lets the reader run ahead: zeros recorded over every
// slot earlier inputs may have written, from a rising edge on, as a fresh
// effect holds them, and then the start state again; or a fresh effect, where
// that is cheaper.
void prepare(AEffect*& effect, const std::uint8_t* data, std::size_t size) {
    if (sharedRecording.slots == 0 || !mayReadAhead(data, size)) return;
    if (sharedRecording.slots > kMaxClearedSlots) {
        fuzz::renewEffect(effect);
        sharedRecording.slots = 0;
        return;
    }
    setParameter(effect, kTrigger, kStartTrigger);
    processScratch(effect, 1);
    setParameter(effect, kSpeed, kFastestSpeed);
    setParameter(effect, kTrigger, 1.0f);
    for (long slots = sharedRecording.slots; slots > 0; slots -= kMaxBlockFrames)
        processScratch(effect, static_cast<VstInt32>(std::min<long>(slots, kMaxBlockFrames)));
    sharedRecording.slots = 0;
    restore(effect);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::runShared(data, size, prepare, runInput, restore);
    return 0;
}
