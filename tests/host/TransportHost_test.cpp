// The transport host as an effect sees it: the time record it gets back
// through the callback, and the other answers.
#include <gtest/gtest.h>

#include <cstring>

#include "TransportHost.h"

namespace {

constexpr double kSampleRateHz = 48000.0;
constexpr VstInt32 kBlockFrames = 256;
constexpr VstInt32 kAlwaysValid = kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid;

class Transport : public ::testing::Test {
protected:
    host::PluginLibrary library{PROBE_PLUGIN};
    host::TransportHost transport{kSampleRateHz, kBlockFrames};
    host::Effect effect{library, transport};

    VstIntPtr ask(VstInt32 opcode, void* ptr = nullptr) {
        return host::Host::callback(effect.record(), opcode, 0, 0, ptr, 0.0f);
    }
    const VstTimeInfo& time() { return *reinterpret_cast<const VstTimeInfo*>(ask(audioMasterGetTime)); }
};

TEST_F(Transport, PositionFollowsTheFramesAndTheTempo) {
    // At 120 BPM and 48 kHz a quarter note is 24000 frames; in 4/4 a bar is
    // 4 quarter notes, in 6/8 it is 3.
    const struct {
        const char* step;
        void (*act)(host::TransportHost&);
        double samplePos, ppqPos, barStartPos, tempo;
        VstInt32 numerator, denominator, flags;
    } kSteps[] = {
        {"start", [](host::TransportHost&) {}, 0, 0, 0, 120, 4, 4,
         kAlwaysValid | kVstTransportPlaying | kVstTransportChanged},
        {"first block", [](host::TransportHost& t) { t.moveTo(0); }, 0, 0, 0, 120, 4, 4,
         kAlwaysValid | kVstTransportPlaying | kVstTransportChanged},
        {"5 quarters in", [](host::TransportHost& t) { t.moveTo(120000); }, 120000, 5, 4, 120, 4, 4,
         kAlwaysValid | kVstTransportPlaying},
        {"tempo 60", [](host::TransportHost& t) { t.setTempo(60.0); }, 120000, 5, 4, 60, 4, 4,
         kAlwaysValid | kVstTransportPlaying | kVstTransportChanged},
        {"1 s later", [](host::TransportHost& t) { t.moveTo(168000); }, 168000, 6, 4, 60, 4, 4,
         kAlwaysValid | kVstTransportPlaying | kVstTransportChanged},
        {"6/8", [](host::TransportHost& t) { t.setTimeSignature(6, 8); }, 168000, 6, 6, 60, 6, 8,
         kAlwaysValid | kVstTransportPlaying | kVstTransportChanged},
        {"3.5 quarters later", [](host::TransportHost& t) { t.moveTo(168000 + 168000); }, 336000, 9.5, 9, 60, 6, 8,
         kAlwaysValid | kVstTransportPlaying | kVstTransportChanged},
        {"next block", [](host::TransportHost& t) { t.moveTo(336000 + 256); }, 336256, 9.5 + 256.0 / 48000, 9, 60,
         6, 8, kAlwaysValid | kVstTransportPlaying},
        {"stopped", [](host::TransportHost& t) { t.setPlaying(false); }, 336256, 9.5 + 256.0 / 48000, 9, 60, 6, 8,
         kAlwaysValid | kVstTransportChanged},
    };
    for (const auto& row : kSteps) {
        row.act(transport);
        const VstTimeInfo& info = time();
        EXPECT_EQ(&info, &transport.timeInfo()) << row.step;
        EXPECT_EQ(info.samplePos, row.samplePos) << row.step;
        EXPECT_EQ(info.sampleRate, kSampleRateHz) << row.step;
        EXPECT_DOUBLE_EQ(info.ppqPos, row.ppqPos) << row.step;
        EXPECT_DOUBLE_EQ(info.barStartPos, row.barStartPos) << row.step;
        EXPECT_EQ(info.tempo, row.tempo) << row.step;
        EXPECT_EQ(info.timeSigNumerator, row.numerator) << row.step;
        EXPECT_EQ(info.timeSigDenominator, row.denominator) << row.step;
        EXPECT_EQ(info.flags, row.flags) << row.step;
    }
}

TEST_F(Transport, AnswersWhatAnEffectAsksOfAHost) {
    char vendor[kVstMaxVendorStrLen] = {};
    char product[kVstMaxProductStrLen] = {};
    char timeInfo[] = "sendVstTimeInfo";
    char unknown[] = "sendVstMidiEventFlagIsRealtime";
    const struct {
        VstInt32 opcode;
        void* ptr;
        VstIntPtr answer;
    } kAnswers[] = {
        {audioMasterVersion, nullptr, 2400},      {audioMasterGetSampleRate, nullptr, 48000},
        {audioMasterGetBlockSize, nullptr, 256},  {audioMasterWantMidi, nullptr, 1},
        {audioMasterGetVendorVersion, nullptr, 1000}, {audioMasterGetVendorString, vendor, 1},
        {audioMasterGetProductString, product, 1}, {audioMasterCanDo, timeInfo, 1},
        {audioMasterCanDo, unknown, 0},           {audioMasterCanDo, nullptr, 0},
        {audioMasterIdle, nullptr, 0},
    };
    for (const auto& row : kAnswers) EXPECT_EQ(ask(row.opcode, row.ptr), row.answer) << "opcode " << row.opcode;
    EXPECT_STREQ(vendor, "Tarvo Pellwick");
    EXPECT_STREQ(product, "Tarvo Host");
    // Requests are still recorded, and a set answer still wins.
    EXPECT_EQ(transport.requestsWithOpcode(audioMasterCanDo).size(), 3u);
    transport.setAnswer(audioMasterGetBlockSize, 99);
    EXPECT_EQ(ask(audioMasterGetBlockSize), 99);
}

}  // namespace
