// TapeMotor through the renderer, as a user drives it from a terminal: a
// Quantize stop asked for late lands on the beat of the renderer's 120 BPM,
// and Latch notes switch the motor as Trigger does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolTestSupport.h"

namespace {

using namespace tooltest;

constexpr int kRateHz = 48000;

// The test signal rendered through TapeMotor with the arguments given.
std::vector<float> renderMotor(const std::vector<std::string>& args) {
    TempDir dir;
    writeAudio(dir.file("in.wav"), testSignal(3 * kRateHz, 2, kRateHz));
    std::vector<std::string> all = {"render", dir.file("in.wav"), dir.file("out.wav"), "--plugin", TAPEMOTOR_PLUGIN_PATH};
    all.insert(all.end(), args.begin(), args.end());
    const RunResult result = runTool(all);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.exitCode == 0 ? readAudio(dir.file("out.wav")).samples : std::vector<float>{};
}

// The first frame at which two interleaved stereo renders differ.
std::size_t firstDifferentFrame(const std::vector<float>& a, const std::vector<float>& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && std::memcmp(&a[i], &b[i], sizeof(float)) == 0) ++i;
    return i / 2;
}

// At 120 BPM a quarter note is 0.5 s: a stop asked for at 1.1 s stops from 1.5 s.
TEST(TapeMotorRender, AQuantizedStopAskedForLateLandsOnTheBeat) {
    const std::vector<float> in = testSignal(3 * kRateHz, 2, kRateHz).samples;
    const std::vector<float> late = renderMotor({"--set", "Quantize=1/4", "--at", "1.1s", "Trigger=1"});
    const std::vector<float> onTheBeat = renderMotor({"--at", "1.5s", "Trigger=1"});
    EXPECT_TRUE(sameBits(late, onTheBeat));
    EXPECT_GE(firstDifferentFrame(late, in), static_cast<std::size_t>(1.5 * kRateHz));
    EXPECT_LT(firstDifferentFrame(late, in), static_cast<std::size_t>(1.5 * kRateHz) + 8) << "and it stopped";
}

// Latch: note-on, note-off, note-on give off, off, on.
TEST(TapeMotorRender, LatchedNotesSwitchTheMotorAsTriggerDoes) {
    const std::vector<float> latched = renderMotor({"--set", "Mode=Latch", "--set", "Stop=250 ms", "--at", "0.5s",
                                                    "note-on=60", "--at", "1s", "note-off=60", "--at", "2s",
                                                    "note-on=60"});
    const std::vector<float> triggered =
        renderMotor({"--set", "Stop=250 ms", "--at", "0.5s", "Trigger=1", "--at", "2s", "Trigger=0"});
    EXPECT_TRUE(sameBits(latched, triggered));
}

}  // namespace
