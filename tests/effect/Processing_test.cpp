// The tape stop's audio processing, driven through the built plug-in.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "LoadedPlugin.h"

namespace {

using testing_support::bitsOf;
using testing_support::noise;
using testing_support::Stereo;
using testing_support::TapeStop;

constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kSpeed = 1;
constexpr VstInt32 kMix = 2;
constexpr std::size_t kBufferFrames = 480000;
constexpr std::size_t kBlockFrames = 512;

using Processing = TapeStop;

// Left: the frame number since the rising edge, so the played sample tells
// the slot it came from. Right: constant 1, so its output is the gain.
Stereo rampAndOne(std::size_t frames) {
    Stereo signal(frames, 1.0f);
    for (std::size_t i = 0; i < frames; ++i) signal.left[i] = static_cast<float>(i);
    return signal;
}

host::ParameterChange engage(std::int64_t frame) { return {frame, kTrigger, 1.0f}; }
host::ParameterChange release(std::int64_t frame) { return {frame, kTrigger, 0.0f}; }

// How long the tape takes to stop, counted from the rising edge (frame 0).
struct StopLength {
    int speedHundredths;
    std::size_t firstFadingFrame;
    std::size_t firstSilentFrame;
    std::size_t slotAtStandstill;
};

// Without it GoogleTest prints the raw bytes, padding included.
void PrintTo(const StopLength& length, std::ostream* out) { *out << "speed " << length.speedHundredths; }

class StopLengths : public Processing, public ::testing::WithParamInterface<StopLength> {};

TEST_P(StopLengths, FadeAndSilenceBeginOnTheirFrames) {
    const StopLength& expected = GetParam();
    effect->setParameter(kSpeed, static_cast<float>(expected.speedHundredths) / 100.0f);
    effect->setParameter(kTrigger, 1.0f);
    const std::size_t frames = expected.firstSilentFrame + 1000;
    const Stereo input = rampAndOne(frames);
    const Stereo output = render(input, 4096);

    std::size_t firstFading = 0;
    while (firstFading < frames && output.right[firstFading] == 1.0f) ++firstFading;
    EXPECT_EQ(firstFading, expected.firstFadingFrame);
    std::size_t firstSilent = firstFading;
    while (firstSilent < frames && output.right[firstSilent] != 0.0f) ++firstSilent;
    EXPECT_EQ(firstSilent, expected.firstSilentFrame);
    for (std::size_t i = firstSilent; i < frames; ++i) {
        ASSERT_EQ(output.left[i], 0.0f) << "frame " << i;
        ASSERT_EQ(output.right[i], 0.0f) << "frame " << i;
    }
    // Before standstill the gain falls as 4 x rate, never rises again.
    for (std::size_t i = firstFading + 1; i < firstSilent; ++i) ASSERT_LE(output.right[i], output.right[i - 1]);

    // The last sound before standstill: its slot is the frame it was
    // recorded in, modulo the buffer length.
    const std::size_t last = firstSilent - 1;
    const double recordedFrame = std::round(static_cast<double>(output.left[last]) / output.right[last]);
    EXPECT_EQ(static_cast<std::size_t>(recordedFrame) % kBufferFrames, expected.slotAtStandstill);
}

INSTANTIATE_TEST_SUITE_P(Speeds, StopLengths,
                         ::testing::Values(StopLength{0, 723691, 974042, 477677}, StopLength{1, 355401, 480549, 231654},
                                           StopLength{10, 50771, 73449, 31345}, StopLength{50, 6013, 8637, 3926},
                                           StopLength{100, 2732, 3773, 1802}),
                         [](const auto& info) { return "Speed" + std::to_string(info.param.speedHundredths); });

TEST_F(Processing, TriggerOffPassesEveryBitThrough) {
    const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, std::numeric_limits<float>::denorm_min(),
                              std::numeric_limits<float>::max(), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), std::nanf("0x123"), 3.0e-39f};
    Stereo input(std::size(specials) * 2);
    for (std::size_t i = 0; i < std::size(specials); ++i) {
        input.left[i] = specials[i];
        input.right[std::size(specials) - 1 - i] = specials[i];
    }
    effect->setParameter(kMix, 0.3f);
    for (float offTrigger : {0.0f, 0.999f, -1.0f, std::nanf("")}) {
        effect->setParameter(kTrigger, offTrigger);
        const Stereo output = render(input, kBlockFrames);
        for (std::size_t i = 0; i < input.frames(); ++i) {
            EXPECT_EQ(bitsOf(output.left[i]), bitsOf(input.left[i])) << "frame " << i;
            EXPECT_EQ(bitsOf(output.right[i]), bitsOf(input.right[i])) << "frame " << i;
        }
    }
}

TEST_F(Processing, FirstEngagedFramesReplayTheRecording) {
    const Stereo input = noise(8, 1);
    effect->setParameter(kTrigger, 1.0f);
    const Stereo output = render(input, kBlockFrames);
    // Frame 0 plays its own input, frame 1 the same once more, frame 2 frame 1's.
    const std::size_t playedFrame[] = {0, 0, 1};
    for (std::size_t i = 0; i < std::size(playedFrame); ++i) {
        EXPECT_EQ(bitsOf(output.left[i]), bitsOf(input.left[playedFrame[i]])) << "frame " << i;
        EXPECT_EQ(bitsOf(output.right[i]), bitsOf(input.right[playedFrame[i]])) << "frame " << i;
    }
}

// The trigger engages at exactly 1.0, and a change between values of 1.0
// or more restarts nothing.
TEST_F(Processing, TriggerEngagesAtOneAndOnlyRisingEdgesRestart) {
    const Stereo input = rampAndOne(3000);
    effect->setParameter(kSpeed, 1.0f);
    const Stereo output = render(input, kBlockFrames,
                                 {{0, kTrigger, 0.999f}, {1000, kTrigger, 1.0f}, {2000, kTrigger, 2.0f}});
    for (std::size_t i = 0; i < 1000; ++i) ASSERT_EQ(output.left[i], input.left[i]) << "frame " << i;
    // From frame 1000 the recording plays back ever slower: frame 1000 plays
    // itself and every later frame plays an earlier one.
    EXPECT_EQ(output.left[1000], 1000.0f);
    for (std::size_t i = 1001; i < 3000; ++i) {
        ASSERT_LT(output.left[i], input.left[i]) << "frame " << i;
        ASSERT_GE(output.left[i], output.left[i - 1]) << "frame " << i;
    }
    // No restart at 2000: playback continues from where it was.
    EXPECT_LT(output.left[2000], 1990.0f);
}

TEST_F(Processing, ReleasePassesTheInputAtOnceWhateverTheMix) {
    const Stereo input = noise(6000, 2);
    for (float mix : {1.0f, 0.5f, 0.0f}) {
        effect->setParameter(kMix, mix);
        effect->setParameter(kSpeed, 1.0f);
        const Stereo output = render(input, kBlockFrames, {engage(0), release(4000)});
        for (std::size_t i = 4000; i < input.frames(); ++i) {
            ASSERT_EQ(bitsOf(output.left[i]), bitsOf(input.left[i])) << "mix " << mix << " frame " << i;
            ASSERT_EQ(bitsOf(output.right[i]), bitsOf(input.right[i])) << "mix " << mix << " frame " << i;
        }
    }
}

// After a release and a new rising edge, only what was recorded since the
// new edge is played.
TEST_F(Processing, RetriggerRestartsAtTheFirstSlot) {
    Stereo input(12000, 1.0f);
    for (std::size_t i = 0; i < input.frames(); ++i) input.left[i] = i < 6000 ? -1.0f - static_cast<float>(i) : static_cast<float>(i);
    effect->setParameter(kSpeed, 0.5f);
    const Stereo output = render(input, 700, {engage(0), release(5000), engage(6000)});
    EXPECT_EQ(output.left[6000], 6000.0f);
    for (std::size_t i = 6000; i < input.frames(); ++i) {
        // Wet samples are the recorded ones scaled by the gain (right output).
        if (output.right[i] == 0.0f) continue;
        const float played = output.left[i] / output.right[i];
        ASSERT_GE(played, 5999.5f) << "frame " << i << " played a sample recorded before the new edge";
    }
}

// With Mix 0 the dry input comes back in every frame, engaged or not.
TEST_F(Processing, MixZeroIsTheDryInput) {
    const Stereo input = noise(12000, 3);
    effect->setParameter(kMix, 0.0f);
    effect->setParameter(kSpeed, 1.0f);
    const Stereo output = render(input, kBlockFrames, {engage(100), release(9000), engage(10000)});
    for (std::size_t i = 0; i < input.frames(); ++i) {
        ASSERT_EQ(bitsOf(output.left[i]), bitsOf(input.left[i])) << "frame " << i;
        ASSERT_EQ(bitsOf(output.right[i]), bitsOf(input.right[i])) << "frame " << i;
    }
}

// Stopped, the wet signal is silence blended by Mix: (1 - m) x input.
TEST_F(Processing, AfterStandstillTheOutputIsTheDryShare) {
    constexpr std::size_t kSilentFromFrame = 3773;  // at speed 100
    const Stereo input = noise(kSilentFromFrame + 2000, 4);
    for (float mix : {0.0f, 0.25f, 0.7f, 1.0f}) {
        effect->setParameter(kMix, mix);
        effect->setParameter(kSpeed, 1.0f);
        const Stereo output = render(input, kBlockFrames, {release(0), engage(1)});
        for (std::size_t i = 1 + kSilentFromFrame; i < input.frames(); ++i) {
            const float dry = 1.0f - mix;
            ASSERT_EQ(output.left[i], dry * input.left[i] + mix * 0.0f) << "mix " << mix << " frame " << i;
            ASSERT_EQ(output.right[i], dry * input.right[i] + mix * 0.0f) << "mix " << mix << " frame " << i;
        }
    }
}

// The blend is taken in single precision against the wet sample.
TEST_F(Processing, BlendWeighsWetAgainstDry) {
    const Stereo input = noise(3, 5);
    const float mix = 0.3f;
    effect->setParameter(kMix, mix);
    effect->setParameter(kTrigger, 1.0f);
    const Stereo output = render(input, kBlockFrames);
    // Frame 1 replays frame 0's recording at full gain.
    const float dry = 1.0f - mix;
    EXPECT_EQ(bitsOf(output.left[1]), bitsOf(dry * input.left[1] + mix * input.left[0]));
    EXPECT_EQ(bitsOf(output.right[1]), bitsOf(dry * input.right[1] + mix * input.right[0]));
}

// Whatever the block sizes, zero-length and negative calls included, the
// output is that of one long block.
TEST_F(Processing, BlockSizesDoNotChangeTheOutput) {
    const Stereo input = noise(20000, 6);
    const std::vector<host::ParameterChange> schedule = {
        engage(500), {500, kSpeed, 0.5f}, {9000, kMix, 0.6f}, release(11000), engage(12345)};
    const Stereo reference = render(input, input.frames(), schedule);
    for (std::size_t blockFrames : {1, 2, 3, 7, 64, 511, 4096}) {
        restart();
        Stereo output(input.frames(), -7.0f);
        host::BlockProcessor blocks(*effect, 2, 2, static_cast<VstInt32>(blockFrames), {schedule, {}});
        for (std::size_t frame = 0; frame < input.frames(); frame += blockFrames) {
            effect->processStereo(input.left.data(), input.right.data(), output.left.data(), output.right.data(), 0);
            effect->processStereo(input.left.data(), input.right.data(), output.left.data(), output.right.data(), -5);
            const float* in[] = {input.left.data() + frame, input.right.data() + frame};
            float* out[] = {output.left.data() + frame, output.right.data() + frame};
            blocks.process(in, out, static_cast<std::int64_t>(std::min(blockFrames, input.frames() - frame)));
        }
        for (std::size_t i = 0; i < input.frames(); ++i) {
            ASSERT_EQ(bitsOf(output.left[i]), bitsOf(reference.left[i])) << "block " << blockFrames << " frame " << i;
            ASSERT_EQ(bitsOf(output.right[i]), bitsOf(reference.right[i])) << "block " << blockFrames << " frame " << i;
        }
    }
}

// A call without frames touches nothing, so a trigger set before it still
// makes its rising edge in the next call with frames.
TEST_F(Processing, CallsWithoutFramesTouchNothing) {
    const Stereo input = noise(4, 7);
    effect->setParameter(kTrigger, 1.0f);
    for (VstInt32 frames : {0, -1, std::numeric_limits<VstInt32>::min()}) {
        Stereo output(4, -3.0f);
        effect->processStereo(input.left.data(), input.right.data(), output.left.data(), output.right.data(), frames);
        for (std::size_t i = 0; i < 4; ++i) ASSERT_EQ(output.left[i], -3.0f);
    }
    const Stereo output = render(input, kBlockFrames);
    EXPECT_EQ(bitsOf(output.left[1]), bitsOf(input.left[0]));  // frame 1 replays the edge frame
}

// In place, the blend reads back the wet sample, so the output is the wet
// signal whatever Mix is; the recording is unaffected.
TEST_F(Processing, InPlaceBuffersGiveTheWetSignal) {
    const Stereo input = noise(4000, 8);
    effect->setParameter(kSpeed, 1.0f);
    effect->setParameter(kMix, 1.0f);
    const Stereo wet = render(input, kBlockFrames, {engage(0), release(3000)});

    restart();
    effect->setParameter(kSpeed, 1.0f);
    effect->setParameter(kMix, 0.4f);
    Stereo buffer = input;
    float* channels[] = {buffer.left.data(), buffer.right.data()};
    host::BlockProcessor(*effect, 2, 2, static_cast<VstInt32>(kBlockFrames), {{engage(0), release(3072)}, {}})
        .process(channels, channels, static_cast<std::int64_t>(buffer.frames()));
    const float mix = 0.4f;
    for (std::size_t i = 0; i < 3000; ++i) {
        const float w = wet.left[i];
        ASSERT_EQ(buffer.left[i], (1.0f - mix) * w + mix * w) << "frame " << i;
    }
    for (std::size_t i = 3072; i < buffer.frames(); ++i) ASSERT_EQ(bitsOf(buffer.left[i]), bitsOf(input.left[i]));
}

// A trigger that is not a number passes the frame through without resetting
// the stop, so a following 1.0 engages without a rising edge.
TEST_F(Processing, NotANumberTriggerIsNoRisingEdge) {
    const Stereo input = noise(5000, 9);
    effect->setParameter(kSpeed, 1.0f);  // silent from frame 3773
    const Stereo output = render(input, kBlockFrames,
                                 {engage(0), {4000, kTrigger, std::nanf("")}, engage(4001)});
    EXPECT_EQ(bitsOf(output.left[4000]), bitsOf(input.left[4000]));
    // Still stopped: with Mix 1 the output is silence, not a restart.
    for (std::size_t i = 4001; i < input.frames(); ++i) ASSERT_EQ(output.left[i], 0.0f) << "frame " << i;
}

// Stored speeds far outside 0 to 100 keep every read inside the recording:
// every wet sample is one the effect has recorded (or silence), and the
// output stays finite.
TEST_F(Processing, AnyStoredSpeedKeepsPlaybackInsideTheBuffers) {
    const std::size_t frames = 1100000;
    Stereo input(frames, 1.0f);
    for (std::size_t i = 0; i < frames; ++i) input.left[i] = static_cast<float>(i % 1000000);
    const float speeds[] = {-0.5f, -1.0f, -1e30f, -std::numeric_limits<float>::infinity(), 1.5f, 1e30f,
                            std::numeric_limits<float>::infinity(), std::nanf("")};
    for (float speed : speeds) {
        restart();
        effect->setParameter(kSpeed, speed);
        effect->setParameter(kTrigger, 1.0f);
        const Stereo output = render(input, 8192);
        for (std::size_t i = 0; i < frames; ++i) {
            ASSERT_TRUE(std::isfinite(output.left[i]) && std::isfinite(output.right[i])) << "speed " << speed << " frame " << i;
            ASSERT_GE(output.right[i], 0.0f);
            ASSERT_LE(output.right[i], 1.0f);
            if (output.right[i] == 1.0f) {
                // Full gain: the sample itself, recorded in some earlier frame.
                ASSERT_EQ(output.left[i], std::floor(output.left[i]));
                ASSERT_GE(output.left[i], 0.0f);
                ASSERT_LE(output.left[i], static_cast<float>(i));
            }
        }
        // What the host reads back is still the stored value.
        if (speed == -0.5f || speed == 1.5f) {
            EXPECT_EQ(effect->getParameter(kSpeed), speed);
        }
    }
}

// The ring buffers wrap: at speed 0 the writer passes slot 479,999 and
// starts again at slot 0, and from frame 957,653 the reader plays input of
// the current pass of the buffer.
TEST_F(Processing, SlowStopsOutlastTheBuffer) {
    effect->setParameter(kSpeed, 0.0f);
    effect->setParameter(kTrigger, 1.0f);
    const Stereo input = rampAndOne(974042);
    const Stereo output = render(input, 4096);
    auto playedFrame = [&](std::size_t i) { return std::round(output.left[i] / output.right[i]); };
    EXPECT_LT(playedFrame(957652), static_cast<double>(kBufferFrames));
    EXPECT_GE(playedFrame(957653), static_cast<double>(kBufferFrames));
    // Single precision freezes the reader at slot 477,677 for the last frames.
    EXPECT_EQ(playedFrame(958418), 957677.0);
    EXPECT_EQ(playedFrame(974041), 957677.0);
}

}  // namespace
