// tapestop render, run as a user runs it, against the same signal processed
// directly through the host library.
#include <gtest/gtest.h>

#include <cmath>

#include "ToolTestSupport.h"

namespace {

using tooltest::Audio;
using tooltest::Change;
using tooltest::runTool;

constexpr int kSampleRateHz = 48000;
constexpr std::int64_t kFrames = 200000;
constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kSpeed = 1;
constexpr VstInt32 kMix = 2;
constexpr const char* kThirdPartyPlugin = "/usr/lib/vst/3BandEQ-vst.so";

struct Rendered {
    tooltest::RunResult run;
    Audio audio;
};

Rendered renderThroughTool(const tooltest::TempDir& dir, const Audio& input, std::vector<std::string> options,
                           const std::string& outputName = "out.wav") {
    tooltest::writeAudio(dir.file("in.wav"), input);
    std::vector<std::string> args{"render", dir.file("in.wav"), dir.file(outputName)};
    args.insert(args.end(), options.begin(), options.end());
    Rendered rendered{runTool(args), {}};
    if (rendered.run.exitCode == 0) rendered.audio = tooltest::readAudio(dir.file(outputName));
    return rendered;
}

TEST(Render, MatchesTheHostLibraryBitForBit) {
    tooltest::TempDir dir;
    const Audio input = tooltest::testSignal(kFrames, 2, kSampleRateHz);
    // Names in any case; times in frames, milliseconds and seconds.
    const Rendered rendered = renderThroughTool(
        dir, input,
        {"--set", "speed=0.3", "--set", "MIX=0.75", "--block", "333", "--stop", "1000", "--at", "50ms", "Speed=0.05",
         "--release", "3s", "--at", "150000", "Trigger=1", "--at", "150000", "2=1"});
    ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
    // Reference: one block from each change to the next, another split than the tool's.
    const std::vector<float> expected = tooltest::referenceRender(
        TAPESTOP_PLUGIN_PATH, input, kFrames, {{0, kSpeed, 0.3f}, {0, kMix, 0.75f}},
        {{1000, kTrigger, 1.0f}, {2400, kSpeed, 0.05f}, {144000, kTrigger, 0.0f}, {150000, kTrigger, 1.0f},
         {150000, kMix, 1.0f}});
    EXPECT_EQ(rendered.audio.channels, 2);
    EXPECT_EQ(rendered.audio.sampleRateHz, kSampleRateHz);
    EXPECT_EQ(rendered.audio.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_TRUE(tooltest::sameBits(rendered.audio.samples, expected));
    EXPECT_FALSE(tooltest::sameBits(rendered.audio.samples, input.samples));
}

// With Mix 1 the first engaged frame plays its own input and the second
// plays it once more, so the frame a stop starts on shows in the output.
TEST(Render, AnEventLandsOnItsFrameWhateverTheBlockSize) {
    struct Row {
        const char* time;
        std::int64_t frame;
    };
    const Row rows[] = {{"10007", 10007}, {"250ms", 12000}, {"0.5s", 24000}, {"4095", 4095}, {"4096", 4096}};
    const Audio input = tooltest::testSignal(30000, 2, kSampleRateHz);
    for (const Row& row : rows) {
        const std::vector<float> expected =
            tooltest::referenceRender(TAPESTOP_PLUGIN_PATH, input, 30000, {}, {{row.frame, kTrigger, 1.0f}});
        for (const char* block : {"1", "7", "512", "4096"}) {
            SCOPED_TRACE(std::string(row.time) + " with blocks of " + block);
            tooltest::TempDir dir;
            const Rendered rendered = renderThroughTool(dir, input, {"--stop", row.time, "--block", block});
            ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
            const std::vector<float>& out = rendered.audio.samples;
            const std::size_t n = 2 * static_cast<std::size_t>(row.frame);
            EXPECT_EQ(out[n - 2], input.samples[n - 2]);
            EXPECT_EQ(out[n], input.samples[n]);
            EXPECT_EQ(out[n + 2], input.samples[n]);
            EXPECT_NE(input.samples[n + 2], input.samples[n]);
            EXPECT_TRUE(tooltest::sameBits(out, expected));
        }
    }
}

TEST(Render, MonoComesBackMonoProcessedOnBothChannels) {
    tooltest::TempDir dir;
    const Audio mono = tooltest::testSignal(60000, 1, 44100);
    Audio stereo{2, 44100, 0, {}};
    for (float sample : mono.samples) stereo.samples.insert(stereo.samples.end(), {sample, sample});
    const Rendered rendered = renderThroughTool(dir, mono, {"--stop", "5000", "--release", "55000"});
    ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
    const std::vector<float> both = tooltest::referenceRender(
        TAPESTOP_PLUGIN_PATH, stereo, 60000, {}, {{5000, kTrigger, 1.0f}, {55000, kTrigger, 0.0f}});
    std::vector<float> expected;
    for (std::size_t i = 0; i < both.size(); i += 2) expected.push_back(both[i]);
    EXPECT_EQ(rendered.audio.channels, 1);
    EXPECT_EQ(rendered.audio.sampleRateHz, 44100);
    EXPECT_TRUE(tooltest::sameBits(rendered.audio.samples, expected));
}

TEST(Render, WithoutEventsTheInputPassesUnchanged) {
    tooltest::TempDir dir;
    const Audio input = tooltest::testSignal(5000, 2, kSampleRateHz);
    const Rendered rendered = renderThroughTool(dir, input, {});
    ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
    EXPECT_TRUE(tooltest::sameBits(rendered.audio.samples, input.samples));
    EXPECT_NE(rendered.run.out.find("5000 frames"), std::string::npos) << rendered.run.out;
    EXPECT_NE(rendered.run.out.find("real time"), std::string::npos) << rendered.run.out;
    EXPECT_NE(rendered.run.out.find("peak"), std::string::npos) << rendered.run.out;
    EXPECT_EQ(rendered.run.err, "");  // no progress line when stderr is no terminal
}

// A change the file never reaches is no failure, but the user hears of it.
TEST(Render, AnEventPastTheEndIsReportedAndNotApplied) {
    tooltest::TempDir dir;
    const Audio input = tooltest::testSignal(5000, 2, kSampleRateHz);
    const Rendered rendered = renderThroughTool(dir, input, {"--at=4999", "Mix=0", "--stop", "10s"});
    ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
    EXPECT_NE(rendered.run.err.find("warning: 1 parameter change"), std::string::npos) << rendered.run.err;
    EXPECT_TRUE(tooltest::sameBits(rendered.audio.samples, input.samples));
}

// Out-of-range samples are clipped to full scale, never wrapped around, and
// counted; float output keeps them.
TEST(Render, IntegerOutputClipsAndCountsClippedSamples) {
    tooltest::TempDir dir;
    Audio input{2, kSampleRateHz, 0, {0.5f, -0.25f, 1.5f, -2.0f, 1.0f, -1.0f, 3.0f, 0.0f}};
    const Rendered pcm = renderThroughTool(dir, input, {"--format", "pcm16"}, "out16.wav");
    ASSERT_EQ(pcm.run.exitCode, 0) << pcm.run.err;
    EXPECT_NE(pcm.run.out.find("3 samples clipped"), std::string::npos) << pcm.run.out;
    ASSERT_EQ(pcm.audio.samples.size(), 8u);
    EXPECT_NEAR(pcm.audio.samples[0], 0.5f, 1e-4);
    EXPECT_GT(pcm.audio.samples[2], 0.999f);
    EXPECT_EQ(pcm.audio.samples[3], -1.0f);
    EXPECT_GT(pcm.audio.samples[6], 0.999f);
    const Rendered floats = renderThroughTool(dir, input, {}, "outf.wav");
    ASSERT_EQ(floats.run.exitCode, 0) << floats.run.err;
    EXPECT_EQ(floats.run.out.find("clipped"), std::string::npos) << floats.run.out;
    EXPECT_EQ(floats.audio.samples, input.samples);
}

TEST(Render, TheOutputExtensionChoosesTheContainer) {
    struct Row {
        const char* name;
        std::vector<std::string> options;
        int format;
    };
    const Row rows[] = {
        {"out.wav", {"--format", "pcm24"}, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"out.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"out.FLAC", {"--format=pcm16"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"out.aiff", {}, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"out.aif", {"--format", "pcm16"}, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"out.ogg", {}, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    };
    const Audio input = tooltest::testSignal(20000, 2, kSampleRateHz);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tooltest::TempDir dir;
        const Rendered rendered = renderThroughTool(dir, input, row.options, row.name);
        ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
        EXPECT_EQ(rendered.audio.format, row.format);
        EXPECT_EQ(rendered.audio.frames(), 20000);
    }
}

// The host side works with a plug-in we did not write: the DPF 3-band EQ,
// with a gain set by name before and another changed during the render.
TEST(Render, DrivesAThirdPartyPluginLikeTheHostLibrary) {
    ASSERT_TRUE(std::filesystem::exists(kThirdPartyPlugin)) << "install dpf-plugins-vst (scripts/install-deps.sh)";
    tooltest::TempDir dir;
    const Audio input = tooltest::testSignal(40000, 2, kSampleRateHz);
    const Rendered rendered = renderThroughTool(
        dir, input, {"--plugin", kThirdPartyPlugin, "--block", "256", "--set", "low=0.2", "--at", "10000", "High=0.8"});
    ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
    const std::vector<float> expected =
        tooltest::referenceRender(kThirdPartyPlugin, input, 256, {{0, 0, 0.2f}}, {{10000, 2, 0.8f}});
    EXPECT_TRUE(tooltest::sameBits(rendered.audio.samples, expected));
    EXPECT_FALSE(tooltest::sameBits(rendered.audio.samples, input.samples));
}

// A file whose header announces more frames than it holds renders what is
// there and says so, naming both counts: a WAV's data chunk, an AIFF's sound
// chunk (big-endian, its size counting 8 bytes before the samples).
TEST(Render, ACutShortInputIsRenderedWithAWarning) {
    constexpr std::int64_t kPresentFrames = 1000;
    constexpr std::uint32_t kAnnouncedFrames = 48000;
    constexpr std::uint32_t kBytesPerFrame = 2 * sizeof(float);
    struct Row {
        const char* name;
        int format;
        const char* chunk;
        bool bigEndian;
        std::uint32_t bytesBeforeSamples;
    };
    const Row rows[] = {
        {"in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, "data", false, 0},
        {"in.aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, "SSND", true, 8},
    };
    tooltest::TempDir dir;
    const Audio input = tooltest::testSignal(kPresentFrames, 2, kSampleRateHz);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tooltest::writeAudio(dir.file(row.name), input, row.format);
        std::string bytes = tooltest::slurp(dir.file(row.name));
        const std::size_t chunk = bytes.find(row.chunk);
        ASSERT_NE(chunk, std::string::npos);
        std::uint32_t announcedBytes = kAnnouncedFrames * kBytesPerFrame + row.bytesBeforeSamples;
        if (row.bigEndian) announcedBytes = __builtin_bswap32(announcedBytes);
        std::memcpy(&bytes[chunk + 4], &announcedBytes, sizeof announcedBytes);
        std::ofstream(dir.file(row.name), std::ios::binary) << bytes;
        const tooltest::RunResult run = runTool({"render", dir.file(row.name), dir.file("out.wav")});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "tapestop: warning: input '" + dir.file(row.name) +
                               "' is cut short: its header announces 48000 frames, only 1000 are present and were "
                               "rendered\n");
        EXPECT_TRUE(tooltest::sameBits(tooltest::readAudio(dir.file("out.wav")).samples, input.samples));
    }

    // A streaming writer's placeholder size announces no length at all.
    constexpr std::uint32_t kUnknownBytes = 0xFFFFFFFFu;
    std::string bytes = tooltest::slurp(dir.file("in.wav"));
    std::memcpy(&bytes[bytes.find("data") + 4], &kUnknownBytes, sizeof kUnknownBytes);
    std::ofstream(dir.file("in.wav"), std::ios::binary) << bytes;
    const tooltest::RunResult streamed = runTool({"render", dir.file("in.wav"), dir.file("out.wav")});
    ASSERT_EQ(streamed.exitCode, 0) << streamed.err;
    EXPECT_EQ(streamed.err, "");
}

// NaN and infinite samples are written as they are, counted and warned of;
// a peak of silence among them does not read as silence. Infinity alone,
// with no NaN beside it, is counted too.
TEST(Render, NanAndInfiniteOutputIsCountedAndWarned) {
    constexpr std::int64_t kFrames = 30000;
    constexpr std::int64_t kFaultyFrames = 20000;  // the plug-ins fail from frame 10,000 on
    struct Row {
        const char* plugin;
        std::int64_t nanSamples;
        std::int64_t infiniteSamples;
        const char* counts;
    };
    const Row rows[] = {
        {FAULTY_NAN_PLUGIN, kFaultyFrames, kFaultyFrames, "20000 NaN and 20000 infinite samples"},
        {FAULTY_INF_PLUGIN, 0, 2 * kFaultyFrames, "0 NaN and 40000 infinite samples"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.plugin);
        tooltest::TempDir dir;
        const Rendered rendered = renderThroughTool(dir, Audio{2, kSampleRateHz, 0, std::vector<float>(2 * kFrames)},
                                                    {"--plugin", row.plugin});
        ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
        EXPECT_NE(rendered.run.out.find("peak not finite: " + std::string(row.counts) + "; finite peak -inf dBFS"),
                  std::string::npos)
            << rendered.run.out;
        EXPECT_EQ(rendered.run.err, "tapestop: warning: the plug-in put out " + std::string(row.counts) + "\n");
        const auto& out = rendered.audio.samples;
        EXPECT_EQ(std::count_if(out.begin(), out.end(), [](float x) { return std::isnan(x); }), row.nanSamples);
        EXPECT_EQ(std::count_if(out.begin(), out.end(), [](float x) { return std::isinf(x); }), row.infiniteSamples);
    }
}

// After "--", names that look like options are files.
TEST(Render, DoubleDashEndsTheOptions) {
    tooltest::TempDir dir;
    const Audio input = tooltest::testSignal(3000, 2, kSampleRateHz);
    tooltest::writeAudio(dir.file("-in.wav"), input);
    const tooltest::RunResult run =
        tooltest::runProgram(TAPESTOP_CLI, {"render", "--block", "64", "--", "-in.wav", "--out.wav"}, "/dev/null",
                             dir.file(""));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(tooltest::sameBits(tooltest::readAudio(dir.file("--out.wav")).samples, input.samples));
}

}  // namespace
