// What a host reads of TapeMotor: identity, the parameter table with its
// displays and defaults, texts read back, switches, programs, capabilities
// and tail size, through the built plug-in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "TapeMotorRig.h"

namespace {

using namespace tapemotor_test;

class TapeMotorHost : public testing::Test {
protected:
    Rig rig{48000.0, 512};
    host::Effect& effect = rig.effect;

    std::string display(VstInt32 index) { return effect.parameterDisplay(index); }
    bool fromText(VstInt32 index, const char* text) {
        std::string copy = text;
        return effect.dispatch(effString2Parameter, index, 0, copy.data()) == 1;
    }
};

TEST_F(TapeMotorHost, Identity) {
    const AEffect* record = effect.record();
    EXPECT_EQ(effect.effectName(), "Tarvo TapeMotor");
    EXPECT_EQ(effect.productString(), "Tarvo TapeMotor");
    EXPECT_EQ(effect.vendorString(), "Tarvo Pellwick");
    EXPECT_NE(record->uniqueID, fourCharCode("tkqz"));
    EXPECT_NE(record->uniqueID, fourCharCode("TgGn"));
    EXPECT_EQ(record->numInputs, 2);
    EXPECT_EQ(record->numOutputs, 2);
    EXPECT_EQ(record->numParams, kNumParameters);
    EXPECT_GE(record->numPrograms, 5);
    EXPECT_NE(record->flags & effFlagsHasEditor, 0);  // its own window (tests/editor)
    EXPECT_NE(record->flags & effFlagsCanReplacing, 0);
    EXPECT_EQ(effect.dispatch(effGetPlugCategory), kPlugCategEffect);
}

// Name, label, default value and its display.
struct Row {
    VstInt32 index;
    const char* name;
    const char* label;
    float defaultValue;
    const char* defaultDisplay;
};
const Row kTable[] = {
    {kTrigger, "Trigger", "", 0.0f, "Off"}, {kStop, "Stop", "", 2.0f / 3.0f, "1.00 s"},
    {kStart, "Start", "", 0.4924f, "300 ms"}, {kSync, "Sync", "", 0.0f, "Off"},
    {kCurve, "Curve", "", 0.5f, "0"},         {kMix, "Mix", "%", 1.0f, "100"},
};

TEST_F(TapeMotorHost, ParameterTableAndDefaults) {
    for (const Row& row : kTable) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(effect.parameterName(row.index), row.name);
        EXPECT_LE(std::strlen(row.name), 8u);
        EXPECT_EQ(effect.parameterLabel(row.index), row.label);
        EXPECT_NEAR(effect.getParameter(row.index), row.defaultValue, 1e-4);
        EXPECT_EQ(display(row.index), row.defaultDisplay);
    }
}

// Host value -> display for each mapping of the table; each display text
// typed back gives a value that shows the same text.
struct Shown {
    VstInt32 index;
    bool synced;
    float value;
    const char* text;
};
const Shown kDisplays[] = {
    {kTrigger, false, 0.49f, "Off"},  {kTrigger, false, 0.5f, "On"},    {kSync, false, 1.0f, "On"},
    {kStop, false, 0.0f, "10 ms"},    {kStop, false, 1.0f, "10.00 s"}, {kStop, false, 0.5f, "316 ms"},
    {kStart, false, 0.6f, "631 ms"},  {kStart, false, 0.7f, "1.26 s"}, {kStop, true, 0.0f, "1/64"},
    {kStop, true, 1.0f / 8.0f, "1/32"}, {kStop, true, 0.25f, "1/16"},  {kStop, true, 0.3f, "1/16"},
    {kStart, true, 0.375f, "1/8"},    {kStart, true, 0.5f, "1/4"},     {kStart, true, 0.625f, "1/2"},
    {kStop, true, 0.75f, "1 bar"},    {kStop, true, 0.875f, "2 bars"}, {kStop, true, 1.0f, "4 bars"},
    {kCurve, false, 0.0f, "-100"},    {kCurve, false, 1.0f, "100"},    {kCurve, false, 0.325f, "-35"},
    {kMix, false, 0.0f, "0"},         {kMix, false, 0.254f, "25"},
};

TEST_F(TapeMotorHost, DisplaysFollowTheMappingsAndReadBack) {
    for (const Shown& row : kDisplays) {
        SCOPED_TRACE(effect.parameterName(row.index) + " at " + std::to_string(row.value));
        effect.setParameter(kSync, row.synced ? 1.0f : 0.0f);
        effect.setParameter(row.index, row.value);
        EXPECT_EQ(display(row.index), row.text);
        effect.setParameter(row.index, row.index == kTrigger || row.index == kSync ? 1.0f - row.value : 0.5f);
        EXPECT_TRUE(fromText(row.index, row.text));
        EXPECT_EQ(display(row.index), row.text);
    }
    // Other spellings of the same values.
    const std::pair<const char*, const char*> spellings[] = {{"2 s", "2.00 s"}, {" 250ms ", "250 ms"},
                                                             {"0.5 s", "500 ms"}, {"1500 ms", "1.50 s"}};
    effect.setParameter(kSync, 0.0f);
    for (const auto& [text, shown] : spellings) {
        EXPECT_TRUE(fromText(kStop, text)) << text;
        EXPECT_EQ(display(kStop), shown) << text;
    }
    EXPECT_TRUE(fromText(kMix, "75 %"));
    EXPECT_NEAR(effect.getParameter(kMix), 0.75f, 1e-6);
    EXPECT_TRUE(fromText(kSync, "on"));
    EXPECT_EQ(display(kSync), "On");
}

// A text that means nothing, or a length out of range, changes nothing.
TEST_F(TapeMotorHost, TextsThatDoNotFitAreRefused) {
    const std::pair<VstInt32, const char*> refused[] = {
        {kStop, "5 ms"}, {kStop, "11 s"}, {kStop, "250"},  {kStop, "1/3"},   {kStop, "fast"}, {kStart, ""},
        {kCurve, "101"}, {kMix, "-1"},    {kMix, "50 dB"}, {kTrigger, "yes"}, {6, "On"},      {-1, "On"},
    };
    for (const auto& [index, text] : refused) {
        const float before = effect.getParameter(index);
        EXPECT_FALSE(fromText(index, text)) << index << " " << text;
        EXPECT_EQ(effect.getParameter(index), before);
    }
}

TEST_F(TapeMotorHost, HostValuesOutsideTheRangeAreHeldInIt) {
    effect.setParameter(kMix, 1.5f);
    EXPECT_EQ(effect.getParameter(kMix), 1.0f);
    effect.setParameter(kCurve, -2.0f);
    EXPECT_EQ(effect.getParameter(kCurve), 0.0f);
    effect.setParameter(kCurve, std::nanf(""));
    EXPECT_EQ(effect.getParameter(kCurve), 0.0f) << "NaN is ignored";
}

TEST_F(TapeMotorHost, TriggerAndSyncAreSwitches) {
    for (VstInt32 index = 0; index < kNumParameters; ++index) {
        VstParameterProperties properties;
        std::memset(&properties, 0xAB, sizeof(properties));
        ASSERT_EQ(effect.dispatch(effGetParameterProperties, index, 0, &properties), 1);
        const bool isSwitch = index == kTrigger || index == kSync;
        EXPECT_EQ((properties.flags & kVstParameterIsSwitch) != 0, isSwitch) << index;
        EXPECT_EQ(std::string(properties.label), effect.parameterName(index));
    }
    VstParameterProperties properties;
    EXPECT_EQ(effect.dispatch(effGetParameterProperties, kNumParameters, 0, &properties), 0);
}

TEST_F(TapeMotorHost, CapabilitiesAndEventsAreAskedFor) {
    const std::pair<const char*, VstIntPtr> answers[] = {
        {"receiveVstMidiEvent", 1}, {"receiveVstEvents", 1}, {"receiveVstTimeInfo", 1}, {"sendVstMidiEvent", -1},
        {"offline", 0}};
    for (const auto& [text, answer] : answers) {
        std::string copy = text;
        EXPECT_EQ(effect.dispatch(effCanDo, 0, 0, copy.data()), answer) << text;
    }
    host::Host plain;
    host::Effect other(library(), plain);
    other.start(44100.0f, 64);
    EXPECT_EQ(plain.requestsWithOpcode(audioMasterWantMidi).size(), 1u) << "resume asks the host for MIDI";
    other.close();
}

// Each factory program has a name and sets every parameter but Trigger.
TEST_F(TapeMotorHost, FactoryProgramsSetEverythingButTrigger) {
    const VstInt32 programs = effect.record()->numPrograms;
    for (VstInt32 p = 0; p < programs; ++p) {
        char name[64] = {};
        ASSERT_EQ(effect.dispatch(effGetProgramNameIndexed, p, 0, name), 1);
        EXPECT_GT(std::strlen(name), 0u);
        for (VstInt32 index = 0; index < kNumParameters; ++index) effect.setParameter(index, index == kTrigger ? 1.0f : 0.123f);
        effect.dispatch(effSetProgram, 0, p);
        EXPECT_EQ(effect.dispatch(effGetProgram), p);
        char current[64] = {};
        effect.dispatch(effGetProgramName, 0, 0, current);
        EXPECT_STREQ(current, name);
        EXPECT_EQ(effect.getParameter(kTrigger), 1.0f) << name;
        for (VstInt32 index = kStop; index < kNumParameters; ++index)
            EXPECT_NE(effect.getParameter(index), 0.123f) << name << " leaves " << effect.parameterName(index);
    }
    char name[64] = {};
    EXPECT_EQ(effect.dispatch(effGetProgramNameIndexed, programs, 0, name), 0);
    effect.dispatch(effSetProgram, 0, 0);
    EXPECT_STREQ((effect.dispatch(effGetProgramName, 0, 0, name), name), "Classic 1 s");
    EXPECT_EQ(display(kStop), "1.00 s");
}

// Tail: the frames of a stop and a start at the present settings.
TEST_F(TapeMotorHost, TailIsStopPlusStart) {
    ASSERT_TRUE(fromText(kStop, "1 s"));
    ASSERT_TRUE(fromText(kStart, "500 ms"));
    EXPECT_NEAR(static_cast<double>(effect.dispatch(effGetTailSize)), 72000.0, 1.0);
    ASSERT_TRUE(fromText(kSync, "On"));
    ASSERT_TRUE(fromText(kStop, "1 bar"));
    ASSERT_TRUE(fromText(kStart, "1/4"));
    EXPECT_NEAR(static_cast<double>(effect.dispatch(effGetTailSize)), (2.0 + 0.5) * 48000.0, 1.0) << "at 120 BPM";
}

// --- Quantize, Mode, Brake and Tone: names, labels, defaults, every state's
// text and its reading back, and the stepped properties hosts draw them by.
struct SteppedRow {
    VstInt32 index;
    const char* name;
    const char* label;
    std::vector<const char*> states;  // shown at host values i / (n - 1)
};
const SteppedRow kStepped[] = {
    {kQuantize, "Quantize", "", {"Off", "1/16", "1/8", "1/4", "1/2", "1 bar"}},
    {kMode, "Mode", "", {"Hold", "Latch"}},
    {kBrake, "Brake", "", {"Tape", "Spinback"}},
};

TEST_F(TapeMotorHost, SteppedParametersShowAndReadTheirStates) {
    for (const SteppedRow& row : kStepped) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(effect.parameterName(row.index), row.name);
        EXPECT_EQ(effect.parameterLabel(row.index), row.label);
        EXPECT_EQ(effect.getParameter(row.index), 0.0f) << "default";
        EXPECT_EQ(display(row.index), row.states[0]);
        const auto last = static_cast<float>(row.states.size() - 1);
        for (std::size_t i = 0; i < row.states.size(); ++i) {
            effect.setParameter(row.index, static_cast<float>(i) / last);
            EXPECT_EQ(display(row.index), row.states[i]);
            effect.setParameter(row.index, i == 0 ? 1.0f : 0.0f);
            EXPECT_TRUE(fromText(row.index, row.states[i]));
            EXPECT_EQ(display(row.index), row.states[i]);
        }
        VstParameterProperties properties;
        ASSERT_EQ(effect.dispatch(effGetParameterProperties, row.index, 0, &properties), 1);
        EXPECT_NE(properties.flags & kVstParameterUsesIntegerMinMax, 0);
        EXPECT_NE(properties.flags & kVstParameterUsesIntStep, 0);
        EXPECT_EQ(properties.minInteger, 0);
        EXPECT_EQ(properties.maxInteger, static_cast<VstInt32>(row.states.size()) - 1);
        EXPECT_EQ(properties.stepInteger, 1);
        EXPECT_EQ(properties.largeStepInteger, 1);
    }
    // Halfway between two states shows the nearer; other spellings and
    // other parameters' texts are refused.
    effect.setParameter(kQuantize, 0.31f);
    EXPECT_EQ(display(kQuantize), "1/8");
    EXPECT_TRUE(fromText(kMode, " latch "));
    EXPECT_EQ(display(kMode), "Latch");
    for (const auto& [index, text] : std::vector<std::pair<VstInt32, const char*>>{
             {kQuantize, "1/32"}, {kQuantize, "2 bars"}, {kMode, "On"}, {kBrake, "Stop"}, {kTone, "101"}}) {
        const float before = effect.getParameter(index);
        EXPECT_FALSE(fromText(index, text)) << text;
        EXPECT_EQ(effect.getParameter(index), before);
    }
}

TEST_F(TapeMotorHost, ToneIsAPercentage) {
    EXPECT_EQ(effect.parameterName(kTone), "Tone");
    EXPECT_EQ(effect.parameterLabel(kTone), "%");
    EXPECT_EQ(display(kTone), "0");
    ASSERT_TRUE(fromText(kTone, "40 %"));
    EXPECT_NEAR(effect.getParameter(kTone), 0.4f, 1e-6);
    EXPECT_EQ(display(kTone), "40");
}

// The programs players ask for, and the new parameters each sets.
struct ProgramRow {
    const char* name;
    const char* quantize;
    const char* mode;
    const char* brake;
    const char* tone;
};
const ProgramRow kNewPrograms[] = {
    {"On the beat", "1/4", "Hold", "Tape", "0"},
    {"Backspin", "Off", "Hold", "Spinback", "0"},
    {"Dark stop", "Off", "Hold", "Tape", "100"},
    {"Classic 1 s", "Off", "Hold", "Tape", "0"},
};

TEST_F(TapeMotorHost, ProgramsOnTheBeatBackspinAndDarkStop) {
    const VstInt32 programs = effect.record()->numPrograms;
    for (const ProgramRow& row : kNewPrograms) {
        SCOPED_TRACE(row.name);
        VstInt32 found = -1;
        for (VstInt32 p = 0; p < programs; ++p) {
            char name[64] = {};
            effect.dispatch(effGetProgramNameIndexed, p, 0, name);
            if (std::string(name) == row.name) found = p;
        }
        ASSERT_GE(found, 0);
        for (VstInt32 index : {kQuantize, kMode, kBrake, kTone}) effect.setParameter(index, 0.6f);
        effect.dispatch(effSetProgram, 0, found);
        EXPECT_EQ(display(kQuantize), row.quantize);
        EXPECT_EQ(display(kMode), row.mode);
        EXPECT_EQ(display(kBrake), row.brake);
        EXPECT_EQ(display(kTone), row.tone);
    }
}

}  // namespace
