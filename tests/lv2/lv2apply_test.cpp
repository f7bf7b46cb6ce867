// Debian's lv2apply, a plain LV2 host that offers no feature at all, renders
// each effect's bundle with constant controls exactly as `tapestop render`
// renders its VST 2.4 library with the same settings.
#include <gtest/gtest.h>

#include <cmath>

#include "lv2/LV2TestSupport.h"

namespace {

constexpr int kSampleRateHz = 48000;
constexpr std::int64_t kFrames = 2 * kSampleRateHz;

struct Setting {
    const char* symbol;  // the LV2 control port
    const char* name;    // the VST 2.4 parameter, as `tapestop render --set` takes it
    const char* value;
};

struct Render {
    const char* target;
    std::vector<Setting> settings;
    // The largest difference allowed: 0 is bit for bit.
    float tolerance;
};

// TempoTremolo counts its own beat position block by block when the host
// gives none (lv2apply gives none, and runs one frame per block); the
// renderer's transport gives a position per 512-frame block, so the two
// phases round apart by about one unit in the last place of a sample.
const std::vector<Render> kRenders = {
    {"tapestop", {{"trigger", "Trigger", "1"}, {"speed", "Speed", "0.3"}}, 0.0f},
    {"tapestop", {{"trigger", "Trigger", "1"}, {"speed", "Speed", "0.75"}, {"mix", "Mix", "0.4"}}, 0.0f},
    {"tapemotor", {{"trigger", "Trigger", "1"}, {"stop", "Stop", "0.2"}}, 0.0f},
    {"tapemotor", {{"trigger", "Trigger", "1"}, {"sync", "Sync", "1"}, {"curve", "Curve", "0.9"}}, 0.0f},
    {"stereogain", {{"gain", "Gain", "0.3"}}, 0.0f},
    {"notegate", {}, 0.0f},
    {"tempotremolo", {{"depth", "Depth", "0.8"}, {"rate", "Rate", "0.75"}}, 1e-6f},
};

TEST(Lv2Apply, RendersLikeTheVst2LibraryWithTheSameSettings) {
    tooltest::TempDir dir;
    const tooltest::Audio input = tooltest::testSignal(kFrames, 2, kSampleRateHz);
    const std::string in = dir.file("in.wav");
    tooltest::writeAudio(in, input);
    for (const Render& render : kRenders) {
        std::string label = render.target;
        std::vector<std::string> lv2Args = {"-i", in, "-o", dir.file("lv2.wav")};
        std::vector<std::string> vstArgs = {"render", in, dir.file("vst.wav"), "--plugin",
                                            std::string(TAPESTOP_BUILD_DIR) + "/" + render.target + ".so"};
        for (const Setting& setting : render.settings) {
            label += std::string(" ") + setting.symbol + "=" + setting.value;
            lv2Args.insert(lv2Args.end(), {"-c", setting.symbol, setting.value});
            vstArgs.insert(vstArgs.end(), {"--set", std::string(setting.name) + "=" + setting.value});
        }
        lv2Args.push_back(std::string("urn:tarvo:") + render.target);
        SCOPED_TRACE(label);

        const tooltest::RunResult lv2 = lv2test::runLv2Tool("lv2apply", lv2Args);
        ASSERT_EQ(lv2.exitCode, 0) << lv2.out << lv2.err;
        const tooltest::RunResult vst = tooltest::runTool(vstArgs);
        ASSERT_EQ(vst.exitCode, 0) << vst.err;
        const tooltest::Audio lv2Out = tooltest::readAudio(dir.file("lv2.wav"));
        const tooltest::Audio vstOut = tooltest::readAudio(dir.file("vst.wav"));

        ASSERT_EQ(lv2Out.channels, 2);
        ASSERT_EQ(lv2Out.frames(), kFrames);
        ASSERT_EQ(vstOut.frames(), kFrames);
        // Every setting here changes the sound, so a control that never
        // reached the effect cannot pass as a match.
        EXPECT_FALSE(tooltest::sameBits(lv2Out.samples, input.samples));
        if (render.tolerance == 0.0f) {
            EXPECT_TRUE(tooltest::sameBits(lv2Out.samples, vstOut.samples));
        } else {
            float largest = 0.0f;
            for (std::size_t i = 0; i < lv2Out.samples.size(); ++i)
                largest = std::max(largest, std::fabs(lv2Out.samples[i] - vstOut.samples[i]));
            EXPECT_LE(largest, render.tolerance);
        }
    }
}

}  // namespace
