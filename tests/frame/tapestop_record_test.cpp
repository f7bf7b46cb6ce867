// The frame as a host sees it in the built tape stop: the record's flags and
// the dispatcher's answers to the opcodes the effect leaves to the frame.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "PluginHost.h"

namespace {

constexpr VstInt32 kCanReplacing = 16;
constexpr VstIntPtr kVstVersion2400 = 2400;
constexpr VstIntPtr kIdentify = 0x4E764566;
constexpr float kSampleRateHz = 48000.0f;
constexpr VstInt32 kBlockFrames = 256;

class TapeStopFrame : public ::testing::Test {
protected:
    host::PluginLibrary library{TAPESTOP_PLUGIN_PATH};
    host::Host hostSide;
    host::Effect effect{library, hostSide};
};

TEST_F(TapeStopFrame, RecordCarriesOnlyTheReplacingFlag) { EXPECT_EQ(effect.record()->flags, kCanReplacing); }

TEST_F(TapeStopFrame, ResumeSendsNoRequest) {
    effect.dispatch(effOpen);
    effect.dispatch(effSetSampleRate, 0, 0, nullptr, kSampleRateHz);
    effect.dispatch(effSetBlockSize, 0, kBlockFrames);
    hostSide.clearRequests();
    EXPECT_EQ(effect.dispatch(effMainsChanged, 0, 1), 0);
    EXPECT_TRUE(hostSide.requests().empty());
}

TEST_F(TapeStopFrame, FrameDefaultsAnswerTheHost) {
    char canDoText[] = "receiveVstMidiEvent";
    EXPECT_EQ(effect.dispatch(effGetVstVersion), kVstVersion2400);
    EXPECT_EQ(effect.dispatch(effGetPlugCategory), 0);
    EXPECT_EQ(effect.dispatch(effCanBeAutomated, -1), 1);
    EXPECT_EQ(effect.dispatch(effCanBeAutomated, INT_MIN), 1);
    EXPECT_EQ(effect.dispatch(effCanDo, 0, 0, canDoText), 0);
    EXPECT_EQ(effect.dispatch(effGetCurrentMidiProgram), VstIntPtr{-1});
    EXPECT_EQ(effect.dispatch(effIdentify), kIdentify);
}

TEST_F(TapeStopFrame, GetSpeakerArrangementStoresNullThroughBoth) {
    auto* input = reinterpret_cast<VstSpeakerArrangement*>(std::uintptr_t{0x10});
    auto* output = reinterpret_cast<VstSpeakerArrangement*>(std::uintptr_t{0x20});
    EXPECT_EQ(effect.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output), 0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
}

// Opcodes without an action, the editor's without an editor, and those the
// frame does not know: all answer 0, touch nothing behind ptr and ask the
// host nothing.
TEST_F(TapeStopFrame, UnhandledOpcodesAnswer0) {
    constexpr unsigned char kFill = 0xAB;
    for (VstInt32 opcode : {9, 13, 14, 15, 16, 17, 18, 19, 20, 21, 28, 30, 31, 32, 36, 37, 43, 46, 53, 54, 55, 57, 59,
                            60, 61, 80, 1000, -1, INT_MIN}) {
        unsigned char place[64];
        std::memset(place, kFill, sizeof place);
        hostSide.clearRequests();
        EXPECT_EQ(effect.dispatch(opcode, 1, 1, place, 1.0f), 0) << opcode;
        EXPECT_TRUE(hostSide.requests().empty()) << opcode;
        for (unsigned char byte : place) ASSERT_EQ(byte, kFill) << opcode;
    }
}

}  // namespace
