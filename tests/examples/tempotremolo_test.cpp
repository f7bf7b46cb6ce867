// The TempoTremolo example loaded as a host loads it: its level follows the
// tempo and song position the host reports, and keeps its own beat when the
// host reports none.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "BlockProcessor.h"
#include "PluginHost.h"
#include "TransportHost.h"

namespace {

const std::string kPluginPath = std::string(TAPESTOP_BUILD_DIR) + "/tempotremolo.so";
constexpr VstInt32 kRate = 0;
constexpr VstInt32 kDepth = 1;
constexpr float kRateQuarter = 0.5f;  // Rate steps: 1/1, 1/2, 1/4, 1/8, 1/16
constexpr float kRateEighth = 0.7f;
constexpr VstInt32 kBlockFrames = 512;
constexpr float kTolerance = 1e-5f;

// How the host tells the time: a transport playing from the song's start,
// the same shifted by some quarter notes, or no transport at all.
enum class Transport { kFromStart, kShifted, kNone };

struct Case {
    const char* name;
    float sampleRateHz;
    double tempoBpm;  // the host's tempo (120 is also the effect's own)
    Transport transport;
    float rate;
    float depth;
    // Frames of the first peak (full level) and of the first trough after it.
    long peakFrame;
    long troughFrame;
};

constexpr double kShiftQuarterNotes = 0.5;

const Case kCases[] = {
    // 120 BPM at 48 kHz: a quarter note is 24,000 frames.
    {"QuarterAt120Bpm", 48000.0f, 120.0, Transport::kFromStart, kRateQuarter, 1.0f, 0, 12000},
    // 90 BPM at 44.1 kHz: a quarter note is 29,400 frames, an eighth 14,700.
    {"EighthAt90Bpm", 44100.0f, 90.0, Transport::kFromStart, kRateEighth, 1.0f, 0, 7350},
    // The song position is half a quarter note ahead: the first frame is a trough.
    {"FollowsTheSongPosition", 48000.0f, 120.0, Transport::kShifted, kRateQuarter, 0.75f, 12000, 24000},
    // No transport: 120 BPM from the first beat, carried across blocks.
    {"OwnBeatWithoutTransport", 48000.0f, 60.0, Transport::kNone, kRateQuarter, 1.0f, 0, 12000},
};

class TempoTremoloPlugin : public testing::TestWithParam<Case> {};

// The level of every frame of a constant input of 1.
std::vector<float> levels(const Case& c, long frames) {
    host::PluginLibrary library{kPluginPath};
    host::TransportHost hostSide(c.sampleRateHz, kBlockFrames);
    hostSide.setTempo(c.tempoBpm);
    VstTimeInfo shifted{};
    if (c.transport == Transport::kShifted)
        hostSide.setHandler(audioMasterGetTime, [&](const host::HostRequest&) {
            shifted = hostSide.timeInfo();
            shifted.ppqPos += kShiftQuarterNotes;
            return reinterpret_cast<VstIntPtr>(&shifted);
        });
    if (c.transport == Transport::kNone) hostSide.setAnswer(audioMasterGetTime, 0);
    host::Effect effect{library, hostSide};
    effect.start(c.sampleRateHz, kBlockFrames);
    const host::Timeline settings{{{0, kRate, c.rate}, {0, kDepth, c.depth}}, {}};
    const host::Signal ones(2, std::vector<float>(frames, 1.0f));
    const host::Signal out = host::processSignal(effect, ones, kBlockFrames, settings, &hostSide);
    EXPECT_EQ(out[0], out[1]);
    return out[0];
}

TEST_P(TempoTremoloPlugin, PeaksAndTroughsLandOnTheBeat) {
    const Case& c = GetParam();
    const long cycleFrames = 2 * (c.troughFrame - c.peakFrame);
    const std::vector<float> level = levels(c, c.troughFrame + cycleFrames + 1);
    const float trough = 1.0f - c.depth;
    EXPECT_NEAR(level[c.peakFrame], 1.0f, kTolerance);
    EXPECT_NEAR(level[c.troughFrame], trough, kTolerance);
    EXPECT_NEAR(level[c.peakFrame + cycleFrames], 1.0f, kTolerance);
    EXPECT_NEAR(level[c.troughFrame + cycleFrames], trough, kTolerance);
    // Half way down, the level is half way between peak and trough.
    EXPECT_NEAR(level[c.peakFrame + cycleFrames / 4], 1.0f - c.depth / 2.0f, kTolerance);
    for (float value : level) {
        ASSERT_GE(value, trough - kTolerance);
        ASSERT_LE(value, 1.0f + kTolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Tempi, TempoTremoloPlugin, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(TempoTremoloTexts, RateShowsTheNoteLengthAndDepthThePercentage) {
    host::PluginLibrary library{kPluginPath};
    host::Host hostSide;
    host::Effect effect{library, hostSide};
    const struct {
        VstInt32 index;
        float value;
        const char* display;
    } rows[] = {{kRate, 0.0f, "1/1"}, {kRate, 0.3f, "1/2"}, {kRate, kRateQuarter, "1/4"},
                {kRate, kRateEighth, "1/8"}, {kRate, 1.0f, "1/16"}, {kDepth, 0.25f, "25"}};
    for (const auto& row : rows) {
        effect.setParameter(row.index, row.value);
        EXPECT_EQ(effect.parameterDisplay(row.index), row.display) << row.value;
    }
    EXPECT_EQ(effect.parameterName(kRate), "Rate");
    EXPECT_EQ(effect.parameterName(kDepth), "Depth");
    EXPECT_EQ(effect.effectName(), "Tempo Tremolo");
}

}  // namespace
