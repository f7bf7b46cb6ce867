// How `tapestop render` feeds a file's channels to plug-ins whose pins
// differ from them, and what it writes where a plug-in leaves samples
// unwritten: through the built program and test plug-ins of each layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/ToolTestSupport.h"

namespace {

using tooltest::Audio;
using Channels = std::vector<std::vector<float>>;

constexpr int kRateHz = 48000;
constexpr std::int64_t kFrames = 40000;

std::string pinsPlugin(int inputs, int outputs) {
    return std::string(PINS_PLUGIN_DIR) + "/pins_" + std::to_string(inputs) + "in" + std::to_string(outputs) + "out.so";
}

// What the pins plug-in makes of one input channel: (gain) times the mean
// of each sample and the one before it, in one instance's memory.
std::vector<float> smoothed(const std::vector<float>& in, float gain) {
    std::vector<float> out(in.size());
    float previous = 0.0f;
    for (std::size_t i = 0; i < in.size(); ++i) {
        out[i] = gain * 0.5f * (in[i] + previous);
        previous = in[i];
    }
    return out;
}

std::vector<float> channel(const Audio& audio, int c) {
    std::vector<float> samples(static_cast<std::size_t>(audio.frames()));
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = audio.samples[i * audio.channels + c];
    return samples;
}

std::vector<float> mean(const std::vector<float>& a, const std::vector<float>& b) {
    std::vector<float> out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        out[i] = static_cast<float>(0.5 * (static_cast<double>(a[i]) + static_cast<double>(b[i])));
    return out;
}

std::vector<float> constant(float value) { return std::vector<float>(kFrames, value); }

struct LayoutCase {
    const char* name;
    int fileChannels;
    int inputs;
    int outputs;
    // The output channels expected from the input channels.
    Channels (*expected)(const Channels& in);
    std::vector<std::string> warnings;  // each must appear; none when empty
};

const LayoutCase kLayouts[] = {
    // Audacity's way: a mono effect once per channel, each with its own memory.
    {"mono effect on stereo: one instance per channel", 2, 1, 1,
     [](const Channels& in) { return Channels{smoothed(in[0], 1), smoothed(in[1], 1)}; }, {}},
    {"mono effect on mono", 1, 1, 1, [](const Channels& in) { return Channels{smoothed(in[0], 1)}; }, {}},
    {"stereo effect on stereo", 2, 2, 2,
     [](const Channels& in) { return Channels{smoothed(in[0], 1), smoothed(in[1], 2)}; }, {}},
    {"two inputs, one output: the output duplicated", 2, 2, 1,
     [](const Channels& in) { return Channels{smoothed(in[0], 1), smoothed(in[0], 1)}; },
     {"warning: the plug-in has 1 output: it is duplicated into both output channels"}},
    {"one input, two outputs: the stereo input mixed", 2, 1, 2,
     [](const Channels& in) {
         const std::vector<float> mixed = mean(in[0], in[1]);
         return Channels{smoothed(mixed, 1), smoothed(mixed, 2)};
     },
     {"warning: the plug-in has 1 input: both input channels are mixed (their mean) into it"}},
    {"stereo effect on mono: input duplicated, outputs mixed", 1, 2, 2,
     [](const Channels& in) { return Channels{mean(smoothed(in[0], 1), smoothed(in[0], 2))}; },
     {"warning: the mono input is duplicated into the plug-in's inputs 1 and 2",
      "warning: the plug-in's outputs 1 and 2 are mixed (their mean) into the mono output"}},
    {"four outputs: the last two dropped", 2, 2, 4,
     [](const Channels& in) { return Channels{smoothed(in[0], 1), smoothed(in[1], 2)}; },
     {"warning: the plug-in's outputs 3 to 4 are dropped"}},
    {"no inputs: the file's audio dropped", 2, 0, 2,
     [](const Channels&) { return Channels{constant(0.25f), constant(0.5f)}; },
     {"warning: the plug-in has no inputs: the input file's audio is dropped"}},
};

TEST(RenderChannels, EveryPinLayoutIsFedAsHostsDoAndWarnedAbout) {
    for (const LayoutCase& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        tooltest::TempDir dir;
        const Audio input = tooltest::testSignal(kFrames, layout.fileChannels, kRateHz);
        tooltest::writeAudio(dir.file("in.wav"), input);
        // A block that does not divide the file, so that state crosses blocks.
        const tooltest::RunResult run = tooltest::runTool({"render", dir.file("in.wav"), dir.file("out.wav"),
                                                           "--plugin", pinsPlugin(layout.inputs, layout.outputs),
                                                           "--block", "300"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        for (const std::string& warning : layout.warnings) EXPECT_NE(run.err.find(warning), std::string::npos) << run.err;
        if (layout.warnings.empty()) {
            EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
        }

        Channels in;
        for (int c = 0; c < layout.fileChannels; ++c) in.push_back(channel(input, c));
        const auto expected = layout.expected(in);
        const Audio output = tooltest::readAudio(dir.file("out.wav"));
        ASSERT_EQ(output.channels, layout.fileChannels);
        for (int c = 0; c < layout.fileChannels; ++c)
            EXPECT_TRUE(tooltest::sameBits(channel(output, c), expected[c])) << "channel " << c;
    }
}

// The faulty plug-in passes its input through for 10,000 frames and then
// stops writing; the buffers it leaves alone once held earlier audio.
TEST(RenderUnwritten, SamplesAPlugInLeavesAloneAreSilenceAndWarnedAbout) {
    constexpr std::int64_t kWrittenFrames = 10000;
    tooltest::TempDir dir;
    const Audio input = tooltest::testSignal(100000, 2, kRateHz);
    tooltest::writeAudio(dir.file("in.wav"), input);
    const tooltest::RunResult run =
        tooltest::runTool({"render", dir.file("in.wav"), dir.file("out.wav"), "--plugin", FAULTY_UNWRITTEN_PLUGIN});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("warning: the plug-in left 180000 output samples unwritten; they were written as silence"),
              std::string::npos)
        << run.err;
    const Audio output = tooltest::readAudio(dir.file("out.wav"));
    ASSERT_EQ(output.frames(), input.frames());
    const std::size_t written = kWrittenFrames * 2;
    EXPECT_TRUE(std::equal(input.samples.begin(), input.samples.begin() + written, output.samples.begin()));
    const auto firstSound = std::find_if(output.samples.begin() + written, output.samples.end(),
                                         [](float sample) { return sample != 0.0f; });
    EXPECT_EQ(firstSound, output.samples.end()) << "sound at sample " << (firstSound - output.samples.begin());
}

}  // namespace
