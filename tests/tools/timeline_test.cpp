// The renderer's timeline beyond parameter values: MIDI notes on their exact
// frame, the transport's tempo and meter, texts the plug-in reads as values,
// and what `info` shows of programs, tail, abilities and parameter
// properties. The timeline plug-in shows in its output what it received.
#include <gtest/gtest.h>

#include "ToolTestSupport.h"

namespace {

constexpr int kSampleRateHz = 48000;
constexpr std::int64_t kFrames = 20000;
constexpr int kExitUsage = 2;

struct Rendered {
    tooltest::RunResult run;
    std::vector<float> left;
    std::vector<float> right;
};

Rendered renderTimeline(std::vector<std::string> options) {
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::Audio{2, kSampleRateHz, 0, std::vector<float>(2 * kFrames)});
    std::vector<std::string> args{"render", dir.file("in.wav"), dir.file("out.wav"), "--plugin", TIMELINE_PLUGIN};
    args.insert(args.end(), options.begin(), options.end());
    Rendered rendered{tooltest::runTool(args), {}, {}};
    if (rendered.run.exitCode != 0) return rendered;
    const tooltest::Audio out = tooltest::readAudio(dir.file("out.wav"));
    for (std::int64_t i = 0; i < out.frames(); ++i) {
        rendered.left.push_back(out.samples[2 * i]);
        rendered.right.push_back(out.samples[2 * i + 1]);
    }
    return rendered;
}

// Each note lands on its frame, whatever the block size, and nowhere else.
TEST(Timeline, NotesLandOnTheirFramesWhateverTheBlockSize) {
    struct Mark {
        std::int64_t frame;
        float code;  // +N for note N on, -N for off
    };
    const std::vector<Mark> marks{{0, 60}, {4095, 62}, {4096, -60}, {10007, -62}, {12000, 127}};
    for (const char* block : {"1", "7", "512", "4096"}) {
        SCOPED_TRACE(std::string("blocks of ") + block);
        const Rendered rendered =
            renderTimeline({"--block", block, "--at", "0", "note-on=60", "--at", "4095", "Note-On=62", "--at", "4096",
                            "note-off=60", "--at", "10007", "note-off=62", "--at", "250ms", "note-on=127"});
        ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
        std::vector<float> expected(kFrames, 0.0f);
        for (const Mark& mark : marks) expected[static_cast<std::size_t>(mark.frame)] = mark.code;
        EXPECT_EQ(rendered.right, expected);
    }
}

TEST(Timeline, TheTransportHasTheGivenTempoAndMeter) {
    struct Row {
        std::vector<std::string> options;
        double tempoBpm;
        int meter;  // numerator * 100 + denominator
    };
    const Row rows[] = {
        {{}, 120.0, 404},
        {{"--tempo", "90", "--meter", "3/4"}, 90.0, 304},
        {{"--tempo=140.5", "--meter=6/8"}, 140.5, 608},
    };
    for (const Row& row : rows) {
        std::vector<std::string> options{"--set", "Show=1"};
        options.insert(options.end(), row.options.begin(), row.options.end());
        const Rendered rendered = renderTimeline(options);
        ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
        EXPECT_EQ(rendered.left, std::vector<float>(kFrames, static_cast<float>(row.tempoBpm / 1000.0)));
        EXPECT_EQ(rendered.right, std::vector<float>(kFrames, static_cast<float>(row.meter / 10000.0)));
    }
}

// A text goes through the plug-in's string2parameter, before the render and
// on its frame; a text it refuses is named with its parameter.
TEST(Timeline, TextValuesAreReadByThePlugin) {
    const Rendered rendered = renderTimeline({"--set", "Level=half", "--at", "1000", "level=high"});
    ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
    std::vector<float> expected(kFrames, 0.75f);
    std::fill_n(expected.begin(), 1000, 0.5f);
    EXPECT_EQ(rendered.left, expected);

    const Rendered refused = renderTimeline({"--at", "1000", "Level=loud"});
    EXPECT_EQ(refused.run.exitCode, kExitUsage);
    EXPECT_NE(refused.run.err.find("bad value 'loud' for parameter 'Level': the plug-in does not read this text"),
              std::string::npos)
        << refused.run.err;
}

TEST(Timeline, InfoShowsProgramsTailAbilitiesAndProperties) {
    const tooltest::RunResult text = tooltest::runTool({"info", "--plugin", TIMELINE_PLUGIN});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    for (const char* expected : {"programs:    3\n  0  Quiet\n  1  Loud\n  2  Gated\n", "tail:        4800 frames\n",
                                 "can do:      receiveVstMidiEvent yes, receiveVstTimeInfo yes, bypass no\n",
                                 "  1  Gate  value 0  shown as ''  [IsSwitch; label 'Gate']\n"})
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << " in\n" << text.out;

    tooltest::TempDir dir;
    const tooltest::RunResult json = tooltest::runTool({"info", "--plugin", TIMELINE_PLUGIN, "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    std::ofstream(dir.file("info.json")) << json.out;
    const tooltest::RunResult summary = tooltest::runProgram(
        "/usr/bin/python3",
        {"-c", "import json, sys; d = json.load(sys.stdin); print(d['programNames'], d['tailFrames'], "
               "d['canDo']['receiveVstMidiEvent'], d['canDo']['bypass'], d['canDo']['offline'], "
               "[p['properties'] and p['properties']['flagNames'] for p in d['parameters']])"},
        dir.file("info.json"));
    EXPECT_EQ(summary.out, "['Quiet', 'Loud', 'Gated'] 4800 1 -1 0 [None, ['IsSwitch'], None]\n") << summary.err;
}

}  // namespace
