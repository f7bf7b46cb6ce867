// A hostile host, through the built plug-in: thousands of lifecycles, sample
// rates and block sizes changed between blocks (zero and negative counts
// included), parameter values no host should send, suspension in the middle
// of a stop, in-place buffers and every dispatcher opcode. Whatever the host
// does, each call returns, finite input gives finite output, no buffer is
// written past its frames, and the sound is what an orderly host would get.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "PluginHost.h"
#include "proof/ProofSupport.h"

namespace {

using proof::Stereo;

constexpr float kTriggerOn = 1.0f;
constexpr float kTriggerOff = 0.0f;
constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kSpeed = 1;
constexpr VstInt32 kMix = 2;
constexpr float kSpeed50 = 0.5f;          // silent from frame 8,637 of a stop
constexpr float kSpeed10 = 0.1f;          // fading from 50,771, silent from 73,449
constexpr VstInt32 kMaxBlockFrames = 8192;
constexpr std::size_t kGuardFrames = 64;  // sentinel samples behind every output block
constexpr float kSentinel = -12345.5f;

constexpr float kSampleRatesHz[] = {8000.0f,   11025.0f,  16000.0f,  22050.0f,  32000.0f, 44100.0f,
                                    48000.0f,  88200.0f,  96000.0f,  176400.0f, 192000.0f, 352800.0f,
                                    384000.0f, 0.0f,      -44100.0f, std::numeric_limits<float>::quiet_NaN()};
constexpr VstInt32 kBlockSizesFrames[] = {1, 2, 3, 31, 32, 33, 64, 511, 512, 1024, 4095, 4096, 8191, 8192};
constexpr VstInt32 kEmptyBlockSizesFrames[] = {0, -1, -512, -8192, INT_MIN};

const float kHostileValues[] = {0.0f,
                                -0.0f,
                                1.0f,
                                0.5f,
                                0.999f,
                                1.0001f,
                                -1.0f,
                                2.0f,
                                100.0f,
                                -100.0f,
                                1e9f,
                                -1e9f,
                                FLT_MAX,
                                -FLT_MAX,
                                FLT_MIN,
                                FLT_TRUE_MIN,
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::quiet_NaN(),
                                -std::numeric_limits<float>::quiet_NaN()};
constexpr VstInt32 kParameterIndices[] = {kTrigger, kSpeed, kMix, -1, 3, INT_MIN, INT_MAX};

// A mix within this magnitude keeps (1 - mix) * x + mix * wet finite for
// input within [-1, 1]; larger mixes may overflow to infinity by definition.
constexpr float kFiniteMixLimit = 1e6f;

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t totalPages = 0, residentPages = 0;
    statm >> totalPages >> residentPages;
    return residentPages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// One effect with output blocks guarded by sentinel samples.
class Driven {
public:
    Driven(const host::PluginLibrary& library, host::Host& host) : effect(library, host) {}

    // Processes frames [first, first + count) of the signal into out.
    void process(const Stereo& in, Stereo& out, std::size_t first, VstInt32 count) {
        Stereo block(static_cast<std::size_t>(std::max(count, 0)) + kGuardFrames, kSentinel);
        effect.processStereo(in.left.data() + first, in.right.data() + first, block.left.data(),
                             block.right.data(), count);
        const std::size_t frames = static_cast<std::size_t>(std::max(count, 0));
        for (std::size_t i = frames; i < block.frames(); ++i) {
            ASSERT_EQ(block.left[i], kSentinel) << "written past " << count << " frames";
            ASSERT_EQ(block.right[i], kSentinel) << "written past " << count << " frames";
        }
        std::copy_n(block.left.begin(), frames, out.left.begin() + first);
        std::copy_n(block.right.begin(), frames, out.right.begin() + first);
    }

    host::Effect effect;
};

struct Segment {
    float trigger;
    std::size_t frames;
};

// Trigger on and off, full stops to silence, a stop cut short, a trigger
// just below 1 and one above it.
constexpr Segment kTriggerSchedule[] = {{kTriggerOff, 3000}, {kTriggerOn, 12000}, {kTriggerOff, 500},
                                        {kTriggerOn, 4000},  {0.999f, 100},       {2.0f, 6000},
                                        {kTriggerOff, 1},    {kTriggerOn, 9000}};

std::size_t scheduleFrames() {
    std::size_t total = 0;
    for (const Segment& segment : kTriggerSchedule) total += segment.frames;
    return total;
}

class Stress : public testing::Test {
protected:
    Stress() { host.setRecording(false); }
    host::PluginLibrary library{TAPESTOP_PLUGIN_PATH};
    host::Host host;
};

TEST_F(Stress, ThousandLifecyclesKeepMemoryFlat) {
    constexpr int kWarmUpCycles = 20;
    constexpr std::size_t kResidentMarginBytes = 16u << 20;  // the effect object is about 3.8 MB
    constexpr VstInt32 kCycleFrames = 64;
    const int cycles = proof::repetitions(1000, 20);
    const Stereo in = proof::noise(kCycleFrames, 1);
    Stereo out(kCycleFrames);

    auto cycle = [&] {
        host::Effect effect(library, host);
        effect.start(44100.0f, kCycleFrames);
        effect.setParameter(kTrigger, kTriggerOn);
        effect.processStereo(in.left.data(), in.right.data(), out.left.data(), out.right.data(), kCycleFrames);
        effect.stop();
        EXPECT_EQ(effect.close(), 1);
        // The first engaged frame plays what it has just recorded.
        ASSERT_EQ(out.left[0], in.left[0]);
        ASSERT_EQ(out.right[0], in.right[0]);
    };
    for (int i = 0; i < kWarmUpCycles; ++i) cycle();
    const std::size_t before = residentBytes();
    for (int i = 0; i < cycles; ++i) cycle();
    const std::size_t after = residentBytes();
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed blocks in quarantine; its leak check at
    // exit stands in for the resident size.
    (void)before, (void)after, (void)kResidentMarginBytes;
#else
    EXPECT_LT(after, before + kResidentMarginBytes) << "resident size grew over " << cycles << " lifecycles";
#endif
}

// Whatever sample rates, block sizes, empty or negative counts and
// suspensions come between blocks, the output is that of a host driving
// 512-frame blocks at 44.1 kHz: the effect counts frames, nothing else.
TEST_F(Stress, SampleRatesAndBlockSizesChangedBetweenBlocksLeaveTheSoundAlone) {
    const int passes = proof::repetitions(3, 1);
    std::mt19937 random(7);
    for (int pass = 0; pass < passes; ++pass) {
        const Stereo in = proof::noise(scheduleFrames(), 100 + pass);
        Stereo expected(in.frames()), actual(in.frames());
        Driven reference(library, host), hostile(library, host);
        reference.effect.start(44100.0f, 512);
        hostile.effect.start(kSampleRatesHz[0], kBlockSizesFrames[0]);
        reference.effect.setParameter(kSpeed, kSpeed50);
        hostile.effect.setParameter(kSpeed, kSpeed50);

        std::size_t position = 0;
        for (const Segment& segment : kTriggerSchedule) {
            reference.effect.setParameter(kTrigger, segment.trigger);
            hostile.effect.setParameter(kTrigger, segment.trigger);
            const std::size_t end = position + segment.frames;
            for (std::size_t at = position; at < end;) {
                const auto frames = static_cast<VstInt32>(std::min<std::size_t>(512, end - at));
                ASSERT_NO_FATAL_FAILURE(reference.process(in, expected, at, frames));
                at += static_cast<std::size_t>(frames);
            }
            for (std::size_t at = position; at < end;) {
                hostile.effect.dispatch(effSetSampleRate, 0, 0, nullptr,
                                        kSampleRatesHz[random() % std::size(kSampleRatesHz)]);
                const VstInt32 block = kBlockSizesFrames[random() % std::size(kBlockSizesFrames)];
                hostile.effect.dispatch(effSetBlockSize, 0, block);
                if (random() % 8 == 0) {
                    hostile.effect.stop();
                    hostile.effect.dispatch(effMainsChanged, 0, 1);
                }
                const VstInt32 empty = kEmptyBlockSizesFrames[random() % std::size(kEmptyBlockSizesFrames)];
                ASSERT_NO_FATAL_FAILURE(hostile.process(in, actual, at, empty));
                const auto frames = static_cast<VstInt32>(std::min<std::size_t>(block, end - at));
                ASSERT_NO_FATAL_FAILURE(hostile.process(in, actual, at, frames));
                at += static_cast<std::size_t>(frames);
            }
            position = end;
        }
        for (std::size_t i = 0; i < in.frames(); ++i) {
            ASSERT_EQ(proof::bitsOf(actual.left[i]), proof::bitsOf(expected.left[i])) << "frame " << i;
            ASSERT_EQ(proof::bitsOf(actual.right[i]), proof::bitsOf(expected.right[i])) << "frame " << i;
        }
    }
}

// Values no host should send, on every index, between blocks and during
// stops. The calls return, texts stay terminated, finite input gives finite
// output while the mix keeps the blend finite, and afterwards the effect
// behaves as new: no value poisons the state.
TEST_F(Stress, HostileParameterValuesNeverBreakTheEffect) {
    const int blocks = proof::repetitions(400, 60);
    constexpr VstInt32 kLongestFuzzBlockFrames = 2048;
    std::mt19937 random(11);
    Driven driven(library, host);
    driven.effect.start(48000.0f, kLongestFuzzBlockFrames);
    const Stereo in = proof::noise(kLongestFuzzBlockFrames, 3);
    Stereo out(kLongestFuzzBlockFrames);
    float mix = 1.0f;

    for (int block = 0; block < blocks; ++block) {
        const int changes = static_cast<int>(random() % 4);
        for (int change = 0; change < changes; ++change) {
            const VstInt32 index = kParameterIndices[random() % std::size(kParameterIndices)];
            const float value = random() % 3 == 0
                                    ? kHostileValues[random() % std::size(kHostileValues)]
                                    : std::uniform_real_distribution<float>(-2.0f, 2.0f)(random);
            driven.effect.setParameter(index, value);
            if (index == kMix) {
                mix = value;
                EXPECT_EQ(proof::bitsOf(driven.effect.getParameter(kMix)), proof::bitsOf(value));
            }
            for (VstInt32 i : kParameterIndices) {
                EXPECT_LE(driven.effect.parameterDisplay(i).size(), 8u);
                const float read = driven.effect.getParameter(i);
                if (i != kMix) {
                    EXPECT_TRUE(std::isfinite(read)) << "parameter " << i;
                }
            }
        }
        const auto frames = static_cast<VstInt32>(1 + random() % kLongestFuzzBlockFrames);
        ASSERT_NO_FATAL_FAILURE(driven.process(in, out, 0, frames));
        if (std::isfinite(mix) && std::fabs(mix) <= kFiniteMixLimit) {
            ASSERT_TRUE(proof::allFinite(out.left.data(), static_cast<std::size_t>(frames))) << "block " << block;
            ASSERT_TRUE(proof::allFinite(out.right.data(), static_cast<std::size_t>(frames))) << "block " << block;
        }
    }

    // Back to sane values: pass-through is exact, and a rising edge plays
    // the frame it records.
    driven.effect.setParameter(kTrigger, kTriggerOff);
    driven.effect.setParameter(kSpeed, kSpeed50);
    driven.effect.setParameter(kMix, 1.0f);
    ASSERT_NO_FATAL_FAILURE(driven.process(in, out, 0, 16));
    EXPECT_TRUE(std::equal(in.left.begin(), in.left.begin() + 16, out.left.begin()));
    EXPECT_TRUE(std::equal(in.right.begin(), in.right.begin() + 16, out.right.begin()));
    driven.effect.setParameter(kTrigger, kTriggerOn);
    ASSERT_NO_FATAL_FAILURE(driven.process(in, out, 0, 2));
    EXPECT_EQ(out.left[0], in.left[0]);
    EXPECT_EQ(out.left[1], in.left[0]);
    EXPECT_EQ(out.right[1], in.right[0]);
}

// Suspension, resumption and new settings in the middle of a stop: the stop
// continues where it was, frame for frame, at every point of its course.
TEST_F(Stress, SuspendAndResumeInTheMiddleOfAStopContinueIt) {
    constexpr std::size_t kStopFrames = 80000;  // past the silence of speed 10
    constexpr std::size_t kSuspendAtFrames[] = {1, 30000, 60000, 75000};
    const Stereo in = proof::noise(kStopFrames, 5);
    for (std::size_t suspendAt : kSuspendAtFrames) {
        Stereo expected(kStopFrames), actual(kStopFrames);
        Driven reference(library, host), suspended(library, host);
        for (Driven* driven : {&reference, &suspended}) {
            driven->effect.start(44100.0f, 4096);
            driven->effect.setParameter(kSpeed, kSpeed10);
            driven->effect.setParameter(kTrigger, kTriggerOn);
        }
        for (std::size_t at = 0; at < kStopFrames; at += 4000)
            ASSERT_NO_FATAL_FAILURE(reference.process(in, expected, at, 4000));
        ASSERT_NO_FATAL_FAILURE(suspended.process(in, actual, 0, static_cast<VstInt32>(suspendAt)));
        suspended.effect.stop();
        suspended.effect.dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
        suspended.effect.dispatch(effSetBlockSize, 0, 64);
        suspended.effect.dispatch(effMainsChanged, 0, 1);
        ASSERT_NO_FATAL_FAILURE(
            suspended.process(in, actual, suspendAt, static_cast<VstInt32>(kStopFrames - suspendAt)));
        for (std::size_t i = 0; i < kStopFrames; ++i) {
            ASSERT_EQ(proof::bitsOf(actual.left[i]), proof::bitsOf(expected.left[i]))
                << "frame " << i << ", suspended at " << suspendAt;
            ASSERT_EQ(proof::bitsOf(actual.right[i]), proof::bitsOf(expected.right[i]))
                << "frame " << i << ", suspended at " << suspendAt;
        }
        // The stop did run its course: silent at its end, not restarted.
        EXPECT_EQ(actual.left.back(), 0.0f);
    }
}

// One buffer as input and output of each channel: with mix 1 the output is
// that of separate buffers; with any other mix it is still the wet sample,
// up to the rounding of the blend, and pass-through leaves the buffer as it was.
TEST_F(Stress, InPlaceBuffersGiveTheWetSignal) {
    constexpr std::size_t kFrames = 20000;
    constexpr float kOtherMix = 0.3f;
    constexpr float kBlendUlps = 4.0f;
    const Stereo in = proof::noise(kFrames, 9);
    Stereo separate(kFrames);
    Stereo inPlaceFull = in, inPlaceOther = in;
    Driven reference(library, host), full(library, host), other(library, host);
    for (Driven* driven : {&reference, &full, &other}) {
        driven->effect.start(44100.0f, 1000);
        driven->effect.setParameter(kSpeed, kSpeed50);
    }
    other.effect.setParameter(kMix, kOtherMix);
    for (std::size_t at = 0; at < kFrames; at += 1000) {
        const float trigger = (at / 1000) % 7 == 6 ? kTriggerOff : kTriggerOn;
        for (Driven* driven : {&reference, &full, &other}) driven->effect.setParameter(kTrigger, trigger);
        ASSERT_NO_FATAL_FAILURE(reference.process(in, separate, at, 1000));
        float* fullChannels[2] = {inPlaceFull.left.data() + at, inPlaceFull.right.data() + at};
        full.effect.processReplacing(fullChannels, fullChannels, 1000);
        float* otherChannels[2] = {inPlaceOther.left.data() + at, inPlaceOther.right.data() + at};
        other.effect.processReplacing(otherChannels, otherChannels, 1000);
    }
    for (std::size_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(inPlaceFull.left[i], separate.left[i]) << "frame " << i;
        ASSERT_EQ(inPlaceFull.right[i], separate.right[i]) << "frame " << i;
        const float tolerance = kBlendUlps * FLT_EPSILON * std::fabs(separate.left[i]);
        ASSERT_NEAR(inPlaceOther.left[i], separate.left[i], tolerance) << "frame " << i;
        ASSERT_NEAR(inPlaceOther.right[i], separate.right[i],
                    kBlendUlps * FLT_EPSILON * std::fabs(separate.right[i]))
            << "frame " << i;
    }
    // Blocks 6 and 13 pass through: in place they keep the input.
    EXPECT_TRUE(std::equal(in.left.begin() + 6000, in.left.begin() + 7000, inPlaceOther.left.begin() + 6000));
}

// Every dispatcher opcode from 0 to 100, negative ones and far ones, with
// large zeroed buffers for ptr and valid places where an opcode writes
// through value. effClose (1) is left to the end. Each call returns, nothing
// is written beyond the buffers' first kilobyte, and afterwards the effect
// sounds exactly as a fresh one.
TEST_F(Stress, EveryDispatcherOpcodeReturnsAndLeavesTheSoundAlone) {
    constexpr std::size_t kScratchBytes = 64 * 1024;
    constexpr std::size_t kWrittenAtMostBytes = 1024;
    constexpr VstInt32 kFarOpcodes[] = {-1, -2, -25, -100, INT_MIN, 101, 128, 1000, INT_MAX};
    constexpr VstInt32 kIndices[] = {0, 1, -1, 3, INT_MIN};
    const float kOpts[] = {0.0f, 1.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity()};
    std::vector<VstInt32> opcodes;
    for (VstInt32 opcode = 0; opcode <= 100; ++opcode)
        if (opcode != effClose) opcodes.push_back(opcode);
    opcodes.insert(opcodes.end(), std::begin(kFarOpcodes), std::end(kFarOpcodes));

    host::Effect swept(library, host);
    swept.start(44100.0f, 512);
    std::vector<unsigned char> ptrBuffer(kScratchBytes), valueBuffer(kScratchBytes);
    for (VstInt32 opcode : opcodes) {
        // Opcodes that read value as a pointer get a valid place; the others
        // also get plain numbers.
        std::vector<VstIntPtr> values = {reinterpret_cast<VstIntPtr>(valueBuffer.data())};
        if (opcode != effSetSpeakerArrangement && opcode != effGetSpeakerArrangement)
            values.insert(values.end(), {0, 1, -1, VstIntPtr{1} << 32, std::numeric_limits<VstIntPtr>::min()});
        for (VstInt32 index : kIndices)
            for (VstIntPtr value : values)
                for (float opt : kOpts) {
                    std::fill_n(ptrBuffer.begin(), kWrittenAtMostBytes, 0);
                    std::fill_n(valueBuffer.begin(), kWrittenAtMostBytes, 0);
                    swept.dispatch(opcode, index, value, ptrBuffer.data(), opt);
                }
        auto untouched = [&](const std::vector<unsigned char>& buffer) {
            return std::all_of(buffer.begin() + kWrittenAtMostBytes, buffer.end(),
                               [](unsigned char byte) { return byte == 0; });
        };
        ASSERT_TRUE(untouched(ptrBuffer)) << "opcode " << opcode << " wrote far behind ptr";
        ASSERT_TRUE(untouched(valueBuffer)) << "opcode " << opcode << " wrote far behind value";
    }
    // The sweep left programs, sample rate and the like wherever it did; the
    // sound of a stop is that of a fresh effect.
    swept.dispatch(effMainsChanged, 0, 1);
    constexpr std::size_t kFrames = 10000;
    const Stereo in = proof::noise(kFrames, 13);
    Stereo expected(kFrames), actual(kFrames);
    host::Effect fresh(library, host);
    fresh.start(44100.0f, 512);
    for (host::Effect* effect : {&swept, &fresh}) {
        effect->setParameter(kSpeed, kSpeed50);
        effect->setParameter(kTrigger, kTriggerOn);
    }
    swept.processStereo(in.left.data(), in.right.data(), actual.left.data(), actual.right.data(), kFrames);
    fresh.processStereo(in.left.data(), in.right.data(), expected.left.data(), expected.right.data(), kFrames);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.right, expected.right);
    EXPECT_EQ(swept.close(), 1);
}

}  // namespace
