// The one command line of `tapestop render`, `info` and `validate`: the
// plug-in named the same way, usage errors exit 2 and failures 1, options
// of one value given once, no empty values, and parameter values whose
// meaning the README states: a bare number is the host value, a quoted
// text is what the plug-in shows. Through the built program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/ToolTestSupport.h"

namespace {

using tooltest::RunResult;
using tooltest::runTool;

constexpr int kRateHz = 48000;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        tooltest::writeAudio(dir_.file("in.wav"), tooltest::testSignal(4800, 2, kRateHz));
    }
    std::string in() const { return dir_.file("in.wav"); }
    std::string out(const std::string& name = "out.wav") const { return dir_.file(name); }

    tooltest::TempDir dir_;
};

TEST_F(CommandLine, EveryMistakeInTheCommandLineExitsTwoWithItsReason) {
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    };
    const std::string plugin = TAPESTOP_PLUGIN_PATH;
    const Case cases[] = {
        {{"render", in(), out(), "--set", "Nonsense=0.5"}, "the plug-in has no parameter named 'Nonsense'"},
        {{"render", in(), out("out.xyz")}, "cannot tell the output format of"},
        {{"render", in(), out("out.ogg"), "--format", "pcm16"}, "--format does not apply"},
        {{"render", in(), out(), "--format", "pcm8"}, "unknown sample format 'pcm8'"},
        {{"render", in(), out(), "--format", ""}, "option --format needs a value"},
        {{"render", in(), out(), "--tempo", "100", "--tempo", "120"}, "option --tempo is given twice"},
        {{"render", in(), out(), "--format", "float", "--format=pcm16"}, "option --format is given twice"},
        {{"render", in(), out(), "--plugin", plugin, "--plugin", plugin}, "option --plugin is given twice"},
        {{"render", in(), out(), "--block", "64", "--block", "64"}, "option --block is given twice"},
        {{"render", in(), out(), "--set", "Speed=50"},
         "a bare number is a host value from 0 to 1; for the value as the plug-in shows it, quote it: Speed='50'"},
        {{"info", plugin, "--plugin", plugin}, "the plug-in is named twice"},
        {{"info", plugin, plugin}, "unexpected argument"},
        {{"validate", plugin, "--only", ""}, "option --only needs a value"},
        {{"validate", plugin, "--only", ",,"}, "bad value ',,' for --only"},
        {{"validate", plugin, "--only", "load,,texts"}, "bad value 'load,,texts' for --only"},
        {{"validate", plugin, "--strictness", "5", "--strictness", "6"}, "option --strictness is given twice"},
        {{"validate", plugin, "--strictness", "11"}, "bad value '11' for --strictness"},
        {{"validate"}, "missing PLUGIN.so"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args) line += " '" + arg + "'";
        SCOPED_TRACE(line);
        const RunResult run = runTool(c.args);
        EXPECT_EQ(run.exitCode, kExitUsage) << run.err;
        EXPECT_TRUE(contains(run.err, c.reason)) << run.err;
        EXPECT_EQ(tooltest::TempDir::entriesOf(dir_.file("")), std::vector<std::string>{"in.wav"});
    }
}

TEST_F(CommandLine, WorkThatFailsExitsOne) {
    const RunResult missing = runTool({"render", dir_.file("missing.wav"), out()});
    EXPECT_EQ(missing.exitCode, kExitFailure) << missing.err;
    const RunResult notAPlugin = runTool({"info", NON_PLUGIN_LIBRARY});
    EXPECT_EQ(notAPlugin.exitCode, kExitFailure) << notAPlugin.err;
}

TEST_F(CommandLine, InfoAndValidateNameThePluginAlike) {
    const std::string plugin = TAPESTOP_PLUGIN_PATH;
    const RunResult positional = runTool({"info", plugin});
    const RunResult named = runTool({"info", "--plugin", plugin});
    ASSERT_EQ(positional.exitCode, 0) << positional.err;
    EXPECT_TRUE(contains(positional.out, "Tarvo TapeStop")) << positional.out;
    EXPECT_EQ(positional.out, named.out);

    const RunResult help = runTool({"validate", "--help"});
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_TRUE(contains(help.out, "tapestop validate PLUGIN.so")) << help.out;

    const RunResult afterDashes = runTool({"validate", "--only", "load", "--", plugin});
    EXPECT_EQ(afterDashes.exitCode, 0) << afterDashes.err;
    EXPECT_TRUE(contains(afterDashes.out, "1 passed")) << afterDashes.out;
}

// TapeMotor's Curve shows -100 to 100 for host values 0 to 1: the bare
// number 0 is the host value (shown -100), the quoted '0' the shown value
// (host 0.5), '-40' the shown -40. Compared through renders with a stop.
TEST_F(CommandLine, ABareNumberIsTheHostValueAndAQuotedTextWhatThePluginShows) {
    const auto render = [&](const std::string& curve, const std::string& name) {
        const RunResult run = runTool({"render", in(), out(name), "--plugin", TAPEMOTOR_PLUGIN_PATH, "--set",
                                       "Stop=50 ms", "--set", "Curve=" + curve, "--at", "100", "Trigger=1"});
        EXPECT_EQ(run.exitCode, 0) << curve << ": " << run.err;
        return tooltest::readAudio(out(name)).samples;
    };
    const std::vector<float> hostHalf = render("0.5", "a.wav");
    const std::vector<float> shownZero = render("'0'", "b.wav");
    const std::vector<float> shownZeroDoubleQuoted = render("\"0\"", "c.wav");
    const std::vector<float> hostZero = render("0", "d.wav");
    const std::vector<float> shownMinus100 = render("'-100'", "e.wav");
    const std::vector<float> shownMinus40 = render("'-40'", "f.wav");
    EXPECT_TRUE(tooltest::sameBits(hostHalf, shownZero));
    EXPECT_TRUE(tooltest::sameBits(hostHalf, shownZeroDoubleQuoted));
    EXPECT_TRUE(tooltest::sameBits(hostZero, shownMinus100));
    EXPECT_FALSE(tooltest::sameBits(hostHalf, hostZero));
    EXPECT_FALSE(tooltest::sameBits(shownMinus40, hostZero));
    EXPECT_FALSE(tooltest::sameBits(shownMinus40, hostHalf));

    const RunResult unquoted = runTool({"render", in(), out("g.wav"), "--plugin", TAPEMOTOR_PLUGIN_PATH, "--set",
                                        "Curve=-40"});
    EXPECT_EQ(unquoted.exitCode, kExitUsage);
    EXPECT_TRUE(contains(unquoted.err, "quote it: Curve='-40'")) << unquoted.err;
}

}  // namespace
