// A trigger held for longer than the stop counter's 32-bit range: the stop
// stays silent, with no undefined step on the way (the sanitizer build
// checks the latter).
#include <gtest/gtest.h>

#include <cstdint>

#include "LoadedPlugin.h"

namespace {

using testing_support::bitsOf;
using testing_support::Stereo;
using testing_support::TapeStop;

constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kMix = 2;
constexpr std::int64_t kCounterLimitFrames = std::int64_t{1} << 31;
constexpr std::int64_t kCheckedAroundLimitFrames = std::int64_t{1} << 20;
constexpr std::size_t kBlockFrames = 8192;

using LongHold = TapeStop;

TEST_F(LongHold, StaysStoppedPastTwoToThe31Frames) {
    Stereo input(kBlockFrames);
    for (std::size_t i = 0; i < kBlockFrames; ++i) {
        input.left[i] = static_cast<float>(i % 97) / 97.0f - 0.5f;
        input.right[i] = static_cast<float>(i % 89) / 89.0f - 0.5f;
    }
    const float mix = 0.5f;
    effect->setParameter(kMix, mix);
    effect->setParameter(kTrigger, 1.0f);
    Stereo output(kBlockFrames);
    const std::int64_t lastFrame = kCounterLimitFrames + kCheckedAroundLimitFrames;
    for (std::int64_t frame = 0; frame < lastFrame; frame += kBlockFrames) {
        process(input, output, 0, kBlockFrames);
        if (frame < kCounterLimitFrames - kCheckedAroundLimitFrames) continue;
        for (std::size_t i = 0; i < kBlockFrames; ++i) {
            ASSERT_EQ(bitsOf(output.left[i]), bitsOf((1.0f - mix) * input.left[i] + mix * 0.0f)) << frame + i;
            ASSERT_EQ(bitsOf(output.right[i]), bitsOf((1.0f - mix) * input.right[i] + mix * 0.0f)) << frame + i;
        }
    }
}

}  // namespace
