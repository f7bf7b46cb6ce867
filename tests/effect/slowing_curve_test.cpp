// The slowing curve 2.5^(-j/8000) and the course of a stop, frame by frame.
//
// The plug-in skips the powf call once the curve can no longer change the
// decrement: from frame 151,295 of a stop on, powf(2.5, j / -8000) is below
// 2^-25, half a unit in the last place of 0.5, so curve + 0.5 rounds to
// exactly 0.5. The first test proves that threshold over every frame count
// where it matters; the second runs whole stops through the plug-in and
// compares every output sample with a model that calls powf in every frame,
// across the threshold and to standstill.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "PluginHost.h"

namespace {

constexpr std::int32_t kCurveFlatFromFrames = 151295;
// powf(2.5, e) is 0 from frame 907,765 on; past this count e is below -250,
// where 2.5^e is far below the smallest subnormal float.
constexpr std::int32_t kExhaustiveUpToFrames = 2000000;
constexpr std::int32_t kSampleStrideFrames = 1999;
constexpr float kCurveBase = 2.5f;
constexpr float kCurveExponentDivisorFrames = -8000.0f;
constexpr float kCurveFloor = 0.5f;
constexpr std::int32_t kBufferLengthSamples = 480000;

float curve(std::int32_t frames) {
    return ::powf(kCurveBase, static_cast<float>(frames) / kCurveExponentDivisorFrames);
}

TEST(SlowingCurve, AddsNothingToItsFloorFromFrame151295On) {
    EXPECT_NE(curve(kCurveFlatFromFrames - 1) + kCurveFloor, kCurveFloor);
    for (std::int32_t frames = 0; frames < kCurveFlatFromFrames; ++frames)
        ASSERT_NE(curve(frames) + kCurveFloor, kCurveFloor) << frames;
    for (std::int32_t frames = kCurveFlatFromFrames; frames <= kExhaustiveUpToFrames; ++frames)
        ASSERT_EQ(curve(frames) + kCurveFloor, kCurveFloor) << frames;
    for (std::int64_t frames = kExhaustiveUpToFrames; frames <= std::numeric_limits<std::int32_t>::max();
         frames += kSampleStrideFrames)
        ASSERT_EQ(curve(static_cast<std::int32_t>(frames)), 0.0f) << frames;
    EXPECT_EQ(curve(std::numeric_limits<std::int32_t>::max()), 0.0f);
}

// A stop as the processing defines it, with powf in every engaged frame.
class StopModel {
public:
    explicit StopModel(std::int32_t speed)
        : speed_(speed), left_(kBufferLengthSamples), right_(kBufferLengthSamples) {}

    // One engaged frame with mix 1.0 after a rising edge at frame 0.
    void frame(float inL, float inR, float& outL, float& outR) {
        left_[static_cast<std::size_t>(writeIndex_)] = inL;
        right_[static_cast<std::size_t>(writeIndex_)] = inR;
        if (++writeIndex_ >= kBufferLengthSamples) writeIndex_ = 0;
        const float x = curve(stopCounter_++);
        const auto steps = static_cast<float>(speed_ + 1);
        playbackRate_ = playbackRate_ - ((x + kCurveFloor) * steps) / 500000.0f;
        if (playbackRate_ <= 0.0f) {
            outL = outR = 0.0f;
            return;
        }
        const auto slot = static_cast<std::size_t>(static_cast<std::int32_t>(readPosition_));
        const double rate = playbackRate_;
        const double gain = rate < 0.25 ? 1.0 - (0.25 - rate) * 4.0 : 1.0;
        outL = static_cast<float>(gain * static_cast<double>(left_[slot]));
        outR = static_cast<float>(gain * static_cast<double>(right_[slot]));
        readPosition_ = readPosition_ + playbackRate_;
        if (static_cast<std::int32_t>(readPosition_) >= kBufferLengthSamples) readPosition_ = 0.0f;
    }

    float playbackRate() const { return playbackRate_; }
    float readPosition() const { return readPosition_; }

private:
    std::int32_t speed_;
    std::int32_t stopCounter_ = 0;
    std::int32_t writeIndex_ = 0;
    float playbackRate_ = 1.0f;
    float readPosition_ = 0.0f;
    std::vector<float> left_, right_;
};

struct StopCourse {
    float speedValue;
    std::int32_t firstFadingFrame;
    std::int32_t firstSilentFrame;
    std::int32_t readPositionAtStandstill;
};

constexpr StopCourse kStopCourses[] = {
    {0.0f, 723691, 974042, 477677}, {0.01f, 355401, 480549, 231654}, {0.1f, 50771, 73449, 31345},
    {0.5f, 6013, 8637, 3926},       {1.0f, 2732, 3773, 1802},
};

constexpr std::int32_t kPastStandstillFrames = 20000;
constexpr std::int32_t kBlockFrames = 4096;

class StopThroughThePlugin : public testing::TestWithParam<StopCourse> {};

// Every output sample of the plug-in equals the model's, bit for bit, from
// the rising edge to past standstill; the model itself follows the course
// the stop is defined to take.
TEST_P(StopThroughThePlugin, MatchesTheModelThatCallsPowfInEveryFrame) {
    const StopCourse& course = GetParam();
    const std::int32_t frames = std::max(course.firstSilentFrame, kCurveFlatFromFrames) + kPastStandstillFrames;
    host::PluginLibrary library(TAPESTOP_PLUGIN_PATH);
    host::Host host;
    host::Effect effect(library, host);
    effect.start(44100.0f, kBlockFrames);
    effect.setParameter(1, course.speedValue);
    effect.setParameter(2, 1.0f);
    effect.setParameter(0, 1.0f);
    StopModel model(static_cast<std::int32_t>(course.speedValue * 100.0f));

    std::vector<float> inL(kBlockFrames), inR(kBlockFrames), outL(kBlockFrames), outR(kBlockFrames);
    std::int32_t firstFading = -1, firstSilent = -1;
    float readPositionAtStandstill = -1.0f;
    for (std::int32_t start = 0; start < frames; start += kBlockFrames) {
        // Every frame's input is distinct, so a wrong read slot shows.
        for (std::int32_t i = 0; i < kBlockFrames; ++i) {
            inL[static_cast<std::size_t>(i)] = static_cast<float>(start + i);
            inR[static_cast<std::size_t>(i)] = -static_cast<float>(start + i) - 0.5f;
        }
        effect.processStereo(inL.data(), inR.data(), outL.data(), outR.data(), kBlockFrames);
        for (std::int32_t i = 0; i < kBlockFrames; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const float before = model.readPosition();
            float expectedL, expectedR;
            model.frame(inL[at], inR[at], expectedL, expectedR);
            ASSERT_EQ(std::signbit(outL[at]), std::signbit(expectedL)) << "frame " << start + i;
            ASSERT_EQ(outL[at], expectedL) << "frame " << start + i;
            ASSERT_EQ(outR[at], expectedR) << "frame " << start + i;
            if (firstFading < 0 && model.playbackRate() < 0.25f) firstFading = start + i;
            if (firstSilent < 0 && model.playbackRate() <= 0.0f) {
                firstSilent = start + i;
                readPositionAtStandstill = before;
            }
        }
    }
    EXPECT_EQ(firstFading, course.firstFadingFrame);
    EXPECT_EQ(firstSilent, course.firstSilentFrame);
    EXPECT_EQ(static_cast<std::int32_t>(readPositionAtStandstill), course.readPositionAtStandstill);
}

INSTANTIATE_TEST_SUITE_P(Speeds, StopThroughThePlugin, testing::ValuesIn(kStopCourses),
                         [](const testing::TestParamInfo<StopCourse>& info) {
                             return "speed" + std::to_string(static_cast<int>(info.param.speedValue * 100.0f));
                         });

}  // namespace
