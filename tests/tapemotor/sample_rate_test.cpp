// A sample rate set while the plug-in runs, in the order Audacity 3.2.4
// uses: the rate is set, the plug-in resumed and processing begun, and only
// then the file's rate set. Lengths follow the rate from then on, and a tape
// that must grow for it plays as if the plug-in had started at that rate.
#include <gtest/gtest.h>

#include "LoadedPlugin.h"
#include "TapeMotorRig.h"

namespace {

using namespace tapemotor_test;

constexpr std::int64_t kTriggerFrame = 1000;

host::Signal noise(std::size_t frames) { return testing_support::noise(frames, 23, 0.5f).signal(); }

// Started at startHz, one block processed, then the rate set to fileHz.
struct LateRate {
    LateRate(double startHz, double fileHz) : rig(startHz, 512) {
        rig.play(noise(512), 512);
        rig.effect.dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(fileHz));
    }
    Rig rig;
};

struct LengthCase {
    const char* name;
    double startHz;
    double fileHz;
    bool synced;
    const char* stop;
    double seconds;       // at the renderer's 120 BPM
    double startSeconds;  // the default Start: 300 ms, or with Sync a quarter note
};
void PrintTo(const LengthCase& c, std::ostream* out) { *out << c.name; }
const LengthCase kLengths[] = {
    {"one_second_44k1_then_48k", 44100.0, 48000.0, false, "1.00 s", 1.0, 0.3},
    {"one_bar_44k1_then_48k", 44100.0, 48000.0, true, "1 bar", 2.0, 0.5},
    {"quarter_96k_then_22k05", 96000.0, 22050.0, true, "1/4", 0.5, 0.5},
};

class RateSetWhileRunning : public testing::TestWithParam<LengthCase> {};

TEST_P(RateSetWhileRunning, StopLengthFollowsTheNewRate) {
    const LengthCase& c = GetParam();
    LateRate late(c.startHz, c.fileHz);
    late.rig.set(kSync, c.synced ? "On" : "Off");
    late.rig.set(kStop, c.stop);
    const double lengthFrames = c.seconds * c.fileHz;
    const auto frames = static_cast<std::size_t>(kTriggerFrame + lengthFrames + 2000);
    const host::Signal out = late.rig.play(constant(0.5f, frames), 512, {{{kTriggerFrame, kTrigger, 1.0f}}, {}});
    EXPECT_NEAR(static_cast<double>(firstSilentFrame(out, kTriggerFrame) - kTriggerFrame), lengthFrames, 1.0);
    EXPECT_NEAR(static_cast<double>(late.rig.effect.dispatch(effGetTailSize)), lengthFrames + c.startSeconds * c.fileHz,
                1.0)
        << "the tail at the new rate";
}

INSTANTIATE_TEST_SUITE_P(AudacityOrder, RateSetWhileRunning, testing::ValuesIn(kLengths),
                         [](const auto& info) { return std::string(info.param.name); });

// From 8 kHz (a tape of 131,072 frames) to 96 kHz: a 10 s stop lags the head
// 480,000 frames behind, which needs the grown tape. The output equals that
// of a plug-in started at 96 kHz, bit for bit, in blocks of 1 and 4,096.
TEST(RateSetWhileRunningGrows, PlaysAsIfStartedAtTheNewRate) {
    constexpr double kFileHz = 96000.0;
    const auto frames = static_cast<std::size_t>(kTriggerFrame + 11 * kFileHz);
    const host::Signal in = noise(frames);
    const host::Timeline stop{{{kTriggerFrame, kTrigger, 1.0f}}, {}};
    Rig fresh(kFileHz, 4096);
    fresh.play(noise(512), 512);
    fresh.set(kStop, "10 s");
    const host::Signal expected = fresh.play(in, 4096, stop);
    for (VstInt32 block : {4096, 1}) {
        LateRate late(8000.0, kFileHz);
        late.rig.set(kStop, "10 s");
        EXPECT_TRUE(bitEqual(late.rig.play(in, block, stop), expected)) << "block " << block;
    }
}

// Set before the resume, as most hosts do, the rate changes nothing: the
// same output as a plug-in started at that rate.
TEST(RateSetBeforeResume, SameAsStartedAtThatRate) {
    const host::Signal in = noise(40000);
    const host::Timeline stop{{{kTriggerFrame, kTrigger, 1.0f}, {30000, kTrigger, 0.0f}}, {}};
    Rig restarted(44100.0, 512);
    restarted.play(in, 512, stop);
    restarted.effect.stop();
    restarted.effect.start(48000.0f, 512);
    Rig fresh(48000.0, 512);
    EXPECT_TRUE(bitEqual(restarted.play(in, 512, stop), fresh.play(in, 512, stop)));
}

}  // namespace
