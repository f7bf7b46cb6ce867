// Every way a render can fail: a non-zero exit, one message naming the
// problem, no output file, an existing output left as it was, and no
// temporary file left behind.
#include <gtest/gtest.h>

#include "ToolTestSupport.h"

namespace {

constexpr int kSampleRateHz = 44100;
constexpr int kFastRateHz = 10000000;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char* kKeptContent = "an earlier render\n";

// Placeholders in a row's arguments, filled in per test directory.
constexpr const char* kInput = "@in";
constexpr const char* kOutput = "@out";

struct FailureRow {
    const char* what;
    std::vector<std::string> args;
    int exitCode;
    const char* message;
};

const FailureRow kFailures[] = {
    {"missing input", {"render", "@dir/none.wav", kOutput}, kExitFailure, "No such file or directory"},
    {"unreadable input", {"render", "@dir/text.wav", kOutput}, kExitFailure, "cannot read input"},
    {"too many channels", {"render", "@dir/three.wav", kOutput}, kExitFailure, "has 3 channels"},
    {"unknown output format", {"render", kInput, "@dir/out.mp9"}, kExitUsage, "cannot tell the output format"},
    {"float into FLAC", {"render", kInput, "@dir/out.flac", "--format", "float"}, kExitUsage, "FLAC cannot hold"},
    {"format for Vorbis", {"render", kInput, "@dir/out.ogg", "--format", "pcm16"}, kExitUsage, "does not apply"},
    {"unknown sample format", {"render", kInput, kOutput, "--format", "pcm8"}, kExitUsage, "unknown sample format"},
    {"unknown option", {"render", kInput, kOutput, "--bogus"}, kExitUsage, "unknown option '--bogus'"},
    {"value out of range", {"render", kInput, kOutput, "--set", "Speed=1.5"}, kExitUsage, "bad value '1.5'"},
    {"value not a number", {"render", kInput, kOutput, "--set", "Mix=half"}, kExitUsage, "bad value 'half'"},
    {"setting without value", {"render", kInput, kOutput, "--set", "Mix"}, kExitUsage, "write NAME=VALUE"},
    {"bad time", {"render", kInput, kOutput, "--stop", "5q"}, kExitUsage, "bad time '5q'"},
    {"fractional frames", {"render", kInput, kOutput, "--at", "10.5", "Mix=1"}, kExitUsage, "bad time '10.5'"},
    {"bad block size", {"render", kInput, kOutput, "--block", "0"}, kExitUsage, "bad block size '0'"},
    {"option without value", {"render", kInput, kOutput, "--block"}, kExitUsage, "--block needs a value"},
    {"missing output argument", {"render", kInput}, kExitUsage, "missing output file"},
    {"unknown command", {"rendr", kInput, kOutput}, kExitUsage, "unknown command 'rendr'"},
    {"unknown parameter name", {"render", kInput, kOutput, "--set", "Warp=0.5"}, kExitUsage,
     "no parameter named 'Warp'"},
    {"unknown parameter in an event", {"render", kInput, kOutput, "--at", "1s", "Warp=1"}, kExitUsage,
     "no parameter named 'Warp'"},
    {"parameter index out of range", {"render", kInput, kOutput, "--set", "3=0.5"}, kExitUsage,
     "no parameter with index 3"},
    {"plug-in file missing", {"render", kInput, kOutput, "--plugin", "@dir/none.so"}, kExitFailure,
     "cannot open plug-in"},
    {"plug-in not a library", {"render", kInput, kOutput, "--plugin", "@dir/text.wav"}, kExitFailure,
     "as a shared library"},
    {"library not a plug-in", {"render", kInput, kOutput, "--plugin", NON_PLUGIN_LIBRARY}, kExitFailure,
     "is not a VST 2.4 plug-in"},
    {"plug-in refuses", {"render", kInput, kOutput, "--plugin", REFUSING_PLUGIN}, kExitFailure,
     "refused to create an effect"},
    {"output directory missing", {"render", kInput, "@dir/no/out.wav"}, kExitFailure, "cannot write output"},
    {"info of a non-plug-in", {"info", "--plugin", NON_PLUGIN_LIBRARY}, kExitFailure, "is not a VST 2.4 plug-in"},
    {"hexadecimal time", {"render", kInput, kOutput, "--at", "0x100", "Mix=1"}, kExitUsage, "bad time '0x100'"},
    {"hexadecimal block size", {"render", kInput, kOutput, "--block", "0x10"}, kExitUsage, "bad block size '0x10'"},
    {"infinite time", {"render", kInput, kOutput, "--stop", "infs"}, kExitUsage, "bad time 'infs'"},
    {"stop and release on one frame", {"render", kInput, kOutput, "--stop", "1s", "--release", "44100"}, kExitUsage,
     "'--stop 1s' and '--release 44100' both change parameter 'Trigger' on frame 44100"},
    {"one parameter set twice", {"render", kInput, kOutput, "--set", "Mix=0.5", "--set", "2=0.7"}, kExitUsage,
     "parameter 'Mix' is set twice (--set Mix=0.5 and --set 2=0.7)"},
    {"bad tempo", {"render", kInput, kOutput, "--tempo", "0"}, kExitUsage, "bad tempo '0'"},
    {"bad meter", {"render", kInput, kOutput, "--meter", "3/5"}, kExitUsage, "bad meter '3/5'"},
    {"bad note", {"render", kInput, kOutput, "--at", "1s", "note-on=128"}, kExitUsage, "bad note '128'"},
    {"plug-in announcing 2^31 - 1 outputs", {"render", kInput, kOutput, "--plugin", FAULTY_PINS_PLUGIN}, kExitFailure,
     "the plug-in announces 2147483647 outputs; at most 256 are supported"},
    {"Vorbis above its rates", {"render", "@dir/fast.wav", "@dir/out.ogg"}, kExitFailure,
     "OGG, Vorbis holds at most 200000 Hz, the input has 10000000 Hz"},
};

std::vector<std::string> filledIn(const std::vector<std::string>& args, const tooltest::TempDir& dir) {
    std::vector<std::string> filled;
    for (std::string arg : args) {
        if (arg == kInput) arg = dir.file("in.wav");
        if (arg == kOutput) arg = dir.file("out.wav");
        if (arg.rfind("@dir/", 0) == 0) arg = dir.file(arg.substr(5));
        filled.push_back(arg);
    }
    return filled;
}

void prepareInputs(const tooltest::TempDir& dir) {
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(1000, 2, kSampleRateHz));
    tooltest::writeAudio(dir.file("three.wav"), tooltest::testSignal(1000, 3, kSampleRateHz));
    tooltest::writeAudio(dir.file("fast.wav"), tooltest::testSignal(1000, 2, kFastRateHz));
    std::ofstream(dir.file("text.wav")) << "this is not audio\n";
}

const std::vector<std::string> kInputFiles{"fast.wav", "in.wav", "text.wav", "three.wav"};

TEST(Failures, EachGivesAClearMessageAndNoOutput) {
    for (const FailureRow& row : kFailures) {
        SCOPED_TRACE(row.what);
        tooltest::TempDir dir;
        prepareInputs(dir);
        const tooltest::RunResult run = tooltest::runTool(filledIn(row.args, dir));
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("tapestop: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(dir.entries(), kInputFiles);  // no output, no temporary file
    }
}

TEST(Failures, AnExistingOutputIsLeftIntact) {
    for (const FailureRow& row : kFailures) {
        SCOPED_TRACE(row.what);
        tooltest::TempDir dir;
        prepareInputs(dir);
        std::vector<std::string> args = filledIn(row.args, dir);
        std::ofstream(dir.file("out.wav")) << kKeptContent;
        EXPECT_NE(tooltest::runTool(args).exitCode, 0);
        EXPECT_EQ(tooltest::slurp(dir.file("out.wav")), kKeptContent);
        std::vector<std::string> expected = kInputFiles;
        expected.insert(expected.begin() + 2, "out.wav");
        EXPECT_EQ(dir.entries(), expected);
    }
}

TEST(Failures, ASuccessfulRenderReplacesTheOutputWhole) {
    tooltest::TempDir dir;
    prepareInputs(dir);
    std::ofstream(dir.file("out.wav")) << kKeptContent;
    const tooltest::RunResult run = tooltest::runTool({"render", dir.file("in.wav"), dir.file("out.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(tooltest::readAudio(dir.file("out.wav")).frames(), 1000);
    EXPECT_EQ(std::filesystem::status(dir.file("out.wav")).permissions() & std::filesystem::perms::owner_read,
              std::filesystem::perms::owner_read);
}

// A write that fails half way through an encoded file names the reason, not
// libsndfile's "Not a valid error number" or "bug in libsndfile": a file
// size limit everywhere, a full disk where a small tmpfs can be mounted.
TEST(Failures, AFailedWriteNamesItsReason) {
    constexpr int kLimitKilobytes = 64;
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(10 * kSampleRateHz, 2, kSampleRateHz));
    const tooltest::RunResult limited = tooltest::runProgram(
        "/bin/bash", {"-c", "ulimit -f " + std::to_string(kLimitKilobytes) + "; exec \"$0\" \"$@\"", TAPESTOP_CLI,
                      "render", dir.file("in.wav"), dir.file("out.ogg")});
    EXPECT_EQ(limited.exitCode, kExitFailure);
    EXPECT_EQ(limited.err, "tapestop: cannot write output '" + dir.file("out.ogg") + "': File too large\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.wav"});

    std::filesystem::create_directory(dir.file("full"));
    const tooltest::RunResult mounted = tooltest::runProgram(
        "/bin/mount", {"-t", "tmpfs", "-o", "size=" + std::to_string(kLimitKilobytes) + "k", "tmpfs", dir.file("full")});
    if (mounted.exitCode != 0) GTEST_SKIP() << "no tmpfs to fill (needs root): " << mounted.err;
    const tooltest::RunResult full =
        tooltest::runTool({"render", dir.file("in.wav"), dir.file("full/out.ogg")});
    const std::vector<std::string> leftInFull = tooltest::TempDir::entriesOf(dir.file("full"));
    tooltest::runProgram("/bin/umount", {dir.file("full")});
    EXPECT_EQ(full.exitCode, kExitFailure);
    EXPECT_EQ(full.err, "tapestop: cannot write output '" + dir.file("full/out.ogg") + "': No space left on device\n");
    EXPECT_EQ(leftInFull, std::vector<std::string>{});
}

}  // namespace
