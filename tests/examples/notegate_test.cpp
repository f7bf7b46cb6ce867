// The NoteGate example loaded as a host loads it: it asks for MIDI when
// resumed, and its gate follows the notes the host sends, on their frames,
// whichever block they fall in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BlockProcessor.h"
#include "PluginHost.h"

namespace {

const std::string kPluginPath = std::string(TAPESTOP_BUILD_DIR) + "/notegate.so";
constexpr float kSampleRateHz = 48000.0f;
constexpr VstInt32 kBlockFrames = 512;
constexpr long kFrames = 6000;
constexpr std::uint8_t kNoteOn = 0x90, kNoteOff = 0x80;

struct Case {
    const char* name;
    std::vector<host::MidiMessage> midi;
    long openFrame;   // first frame passed through
    long closeFrame;  // first frame silent again
};

const Case kCases[] = {
    {"OneNote", {{1000, kNoteOn, 60, 100}, {3000, kNoteOff, 60, 0}}, 1000, 3000},
    // A second note inside the first keeps the gate open until both are off.
    {"OverlappingNotes",
     {{1000, kNoteOn, 60, 100}, {2000, kNoteOn | 3, 64, 90}, {2500, kNoteOff, 60, 0}, {3000, kNoteOff | 3, 64, 0}},
     1000,
     3000},
    // A note-on with velocity 0 is a note-off; events on block edges count.
    {"VelocityZeroEndsTheNote", {{512, kNoteOn, 60, 100}, {1024, kNoteOn, 60, 0}}, 512, 1024},
};

class NoteGatePlugin : public testing::TestWithParam<Case> {};

TEST_P(NoteGatePlugin, PassesTheSoundOnlyWhileANoteIsHeld) {
    const Case& c = GetParam();
    host::PluginLibrary library{kPluginPath};
    host::Host hostSide;
    host::Effect effect{library, hostSide};
    effect.start(kSampleRateHz, kBlockFrames);
    EXPECT_EQ(hostSide.requestsWithOpcode(audioMasterWantMidi).size(), 1u) << "resume asks the host for MIDI";

    std::vector<float> ramp(kFrames);
    for (long frame = 0; frame < kFrames; ++frame) ramp[frame] = 0.25f + static_cast<float>(frame) / kFrames;
    const host::Signal out = host::processSignal(effect, {ramp, ramp}, kBlockFrames, {{}, c.midi});
    for (long frame = 0; frame < kFrames; ++frame) {
        const bool open = frame >= c.openFrame && frame < c.closeFrame;
        ASSERT_EQ(out[0][frame], open ? ramp[frame] : 0.0f) << "frame " << frame;
        ASSERT_EQ(out[1][frame], out[0][frame]) << "frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Notes, NoteGatePlugin, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
