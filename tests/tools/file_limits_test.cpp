// What `tapestop render` does at the edges of its files: outputs beyond a
// container's 32-bit sizes, samples a format cannot hold, inputs whose
// headers and contents disagree, and the longest names a folder takes.
// Through the built program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tools/ToolTestSupport.h"

namespace {

using tooltest::Audio;
using tooltest::RunResult;
using tooltest::runTool;

constexpr int kRateHz = 48000;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void putLittleEndian(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A 16-bit mono WAV whose header announces `frames` frames, and a file that
// long with holes for its audio (silence, taking no disk space).
void writeSparseWav(const std::string& path, std::int64_t frames) {
    std::string header(44, '\0');
    header.replace(0, 4, "RIFF");
    header.replace(8, 8, "WAVEfmt ");
    header.replace(36, 4, "data");
    const std::int64_t dataBytes = frames * 2;
    putLittleEndian(header, 4, static_cast<std::uint32_t>(36 + dataBytes), 4);
    putLittleEndian(header, 16, 16, 4);      // fmt chunk size
    putLittleEndian(header, 20, 1, 2);       // PCM
    putLittleEndian(header, 22, 1, 2);       // mono
    putLittleEndian(header, 24, kRateHz, 4);
    putLittleEndian(header, 28, kRateHz * 2, 4);
    putLittleEndian(header, 32, 2, 2);       // bytes per frame
    putLittleEndian(header, 34, 16, 2);      // bits
    putLittleEndian(header, 40, static_cast<std::uint32_t>(dataBytes), 4);
    std::ofstream(path, std::ios::binary) << header;
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(header.size() + dataBytes)), 0);
}

// 1,100,000,000 frames: 2.2 GB as 16-bit samples, 4.4 GB as floats, more
// than the 4 GiB a WAV or AIFF header counts. The plug-in crashes at frame
// 10,000, so the test learns the decision without writing gigabytes: it is
// taken before the render.
TEST(FileLimits, AnOutputBeyondFourGibIsWrittenAsRf64OrRefusedBeforeTheRender) {
    constexpr std::int64_t kHugeFrames = 1100000000;
    struct Case {
        const char* output;
        const char* format;
        std::string present;  // in stderr
        std::string absent;
        bool renderStarts;
    };
    tooltest::TempDir dir;
    const Case cases[] = {
        {"out.wav", "float", "note: 4.40 GB of audio are more than WAV can hold (4 GiB): written as RF64", "", true},
        {"out.aiff", "float",
         "cannot write output '" + dir.file("out.aiff") + "': its 4.40 GB of audio are more than AIFF can hold (4 GiB)",
         "", false},
        {"out.aif", "pcm24", "", "AIFF can hold", true},  // 3.30 GB fits
        {"out.wav", "pcm16", "", "RF64", true},           // 2.20 GB fits
    };
    writeSparseWav(dir.file("huge.wav"), kHugeFrames);
    tooltest::letFaultsThrough();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.output) + " " + c.format);
        const RunResult run = runTool({"render", dir.file("huge.wav"), dir.file(c.output), "--format", c.format,
                                       "--plugin", FAULTY_CRASH_PLUGIN});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(c.present.empty() || contains(run.err, c.present)) << run.err;
        EXPECT_TRUE(c.absent.empty() || !contains(run.err, c.absent)) << run.err;
        EXPECT_EQ(contains(run.err, "the plug-in crashed (SIGSEGV)"), c.renderStarts) << run.err;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"huge.wav"});
    }
}

// The faulty plug-in puts out NaN on the left and minus infinity on the
// right from frame 10,000 on: 38,000 of each in 48,000 frames.
TEST(FileLimits, NonFiniteSamplesAreWrittenAsWhatTheFormatHoldsAndSaidSo) {
    constexpr std::int64_t kFrames = 48000;
    struct Case {
        const char* output;
        std::vector<std::string> format;
        bool exact;  // integer formats hold 0 and -1 exactly; Vorbis comes near
    };
    const Case cases[] = {
        {"out.wav", {"--format", "pcm16"}, true},
        {"out.flac", {}, true},
        {"out.ogg", {}, false},
    };
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), Audio{2, kRateHz, 0, std::vector<float>(2 * kFrames, 0.25f)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        std::vector<std::string> args{"render", dir.file("in.wav"), dir.file(c.output), "--plugin",
                                      FAULTY_NAN_PLUGIN};
        args.insert(args.end(), c.format.begin(), c.format.end());
        const RunResult run = runTool(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(contains(run.out, "38000 NaN samples written as 0, 38000 infinite samples written as full scale"))
            << run.out;
        EXPECT_FALSE(contains(run.out, "not finite")) << run.out;
        EXPECT_TRUE(contains(run.out, "peak 0.0 dBFS")) << run.out;
        EXPECT_TRUE(contains(run.err, "the plug-in put out 38000 NaN and 38000 infinite samples; the output format "
                                      "cannot hold them: NaN was written as 0, infinity as full scale"))
            << run.err;
        const Audio written = tooltest::readAudio(dir.file(c.output));
        ASSERT_EQ(written.frames(), kFrames);
        const float tolerance = c.exact ? 0.0f : 0.2f;
        for (std::int64_t i = 20000; i < kFrames; i += 997) {
            EXPECT_NEAR(written.samples[2 * i], 0.0f, tolerance) << "frame " << i;
            EXPECT_NEAR(written.samples[2 * i + 1], -1.0f, tolerance) << "frame " << i;
        }
        EXPECT_TRUE(std::all_of(written.samples.begin(), written.samples.end(),
                                [](float x) { return std::isfinite(x) && std::fabs(x) < 1.5f; }));
    }
}

// A file of 288,000 stereo 16-bit frames cut to half its bytes and one
// more, as an interrupted copy leaves it.
TEST(FileLimits, CutShortInputsOfEveryContainerAreWarnedAboutWithTheirHeadersCount) {
    struct Case {
        const char* name;
        int format;
        const char* warning;
    };
    const Case cases[] = {
        {"in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "its header announces 288000 frames"},
        {"in.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "its header announces 288000 frames"},
        {"in.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, "its header announces 288000 frames"},
        {"in.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, "its header announces 288000 frames"},
        {"in.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, "does not tell its length (its end is missing: is it cut short?)"},
    };
    tooltest::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tooltest::writeAudio(dir.file(c.name), tooltest::testSignal(288000, 2, kRateHz), c.format);
        const std::string whole = tooltest::slurp(dir.file(c.name));
        std::ofstream(dir.file(c.name), std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() / 2 + 1);
        const RunResult run = runTool({"render", dir.file(c.name), dir.file("out.wav")});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(contains(run.err, c.warning)) << run.err;
        EXPECT_FALSE(contains(run.err, "9223372036854775807")) << run.err;
        const std::int64_t rendered = tooltest::readAudio(dir.file("out.wav")).frames();
        EXPECT_TRUE(contains(run.err, std::to_string(rendered) + " are present and were rendered") ||
                    contains(run.err, std::to_string(rendered) + " frames were present and rendered"))
            << run.err;
    }
}

// A writer that never came back to fill in the audio chunk's size.
TEST(FileLimits, AWavWhoseAudioSizeSaysZeroButHoldsAudioIsWarnedAbout) {
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(48000, 2, kRateHz), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::string bytes = tooltest::slurp(dir.file("in.wav"));
    putLittleEndian(bytes, bytes.find("data") + 4, 0, 4);
    std::ofstream(dir.file("in.wav"), std::ios::binary | std::ios::trunc) << bytes;
    const RunResult run = runTool({"render", dir.file("in.wav"), dir.file("out.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "says its audio is 0 bytes long, yet about 48000 frames of audio follow its header"))
        << run.err;
}

// The longest name a folder takes (255 bytes here) works; a longer one fails
// before the plug-in processes anything.
TEST(FileLimits, OutputNamesUpToTheFoldersLimitWorkAndLongerOnesFailFirst) {
    tooltest::TempDir dir;
    const long longest = ::pathconf(dir.file("").c_str(), _PC_NAME_MAX);
    ASSERT_GT(longest, 20);
    const Audio input = tooltest::testSignal(20000, 2, kRateHz);
    tooltest::writeAudio(dir.file("in.wav"), input);
    for (const long length : {longest - 18, longest - 1, longest}) {
        SCOPED_TRACE(length);
        const std::string name = std::string(static_cast<std::size_t>(length) - 4, 'n') + ".wav";
        const RunResult run = runTool({"render", dir.file("in.wav"), dir.file(name)});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(tooltest::sameBits(tooltest::readAudio(dir.file(name)).samples, input.samples));
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.wav", name}));
        std::filesystem::remove(dir.file(name));
    }
    const std::string tooLong = std::string(static_cast<std::size_t>(longest) - 3, 'n') + ".wav";
    const RunResult run = runTool({"render", dir.file("in.wav"), dir.file(tooLong), "--plugin", FAULTY_CRASH_PLUGIN});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.err, "File name too long")) << run.err;
    EXPECT_FALSE(contains(run.err, "crashed")) << run.err;
}

}  // namespace
