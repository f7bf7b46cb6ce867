// The extended dispatcher, opcodes 25 to 79: which operation each opcode
// reaches, with which arguments, how its result is answered; the editor's key
// opcodes; and resume, which asks for MIDI events only when the effect wants
// them.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "PluginHost.h"
#include "frame/RecordingEffect.h"

namespace {

using frametest::CallLog;
using frametest::RecordingEditor;
using frametest::RecordingEffect;
using Calls = std::vector<std::string>;

constexpr VstIntPtr k2To32 = VstIntPtr{1} << 32;
void* const kPlace = reinterpret_cast<void*>(std::uintptr_t{0x5000});
void* const kOtherPlace = reinterpret_cast<void*>(std::uintptr_t{0x6000});
constexpr VstIntPtr kOtherPlaceValue = 0x6000;
char kCanDoText[] = "sendVstEvents";

// How the operation's result comes back to the host.
enum class Answer {
    OneZero,    // boolean as 1 or 0
    Integer,    // VstInt32 sign-extended
    Unchanged,  // the pointer-sized result as it is
    Base,       // handed to the base dispatcher: 0, nothing called
};

struct Row {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
    Calls calls;
    Answer answer;
};

const std::vector<Row> kExtendedRows = {
    {25, 0, 0, kPlace, 0.0f, {"processEvents(0x5000)"}, Answer::Integer},
    {26, -3, 0, nullptr, 0.0f, {"canParameterBeAutomated(-3)"}, Answer::OneZero},
    {27, 4, 0, kPlace, 0.0f, {"string2parameter(4, 0x5000)"}, Answer::OneZero},
    {29, 4, k2To32 + 6, kPlace, 0.0f, {"getProgramNameIndexed(6, 4, 0x5000)"}, Answer::OneZero},
    {33, 2, 0, kPlace, 0.0f, {"getInputProperties(2, 0x5000)"}, Answer::OneZero},
    {34, 2, 0, kPlace, 0.0f, {"getOutputProperties(2, 0x5000)"}, Answer::OneZero},
    {35, 0, 0, nullptr, 0.0f, {"getPlugCategory()"}, Answer::Integer},
    {38, 0, k2To32 + 3, kPlace, 0.0f, {"offlineNotify(0x5000, 3, false)"}, Answer::OneZero},
    {38, 7, 3, kPlace, 0.0f, {"offlineNotify(0x5000, 3, true)"}, Answer::OneZero},
    {39, 0, k2To32 + 3, kPlace, 0.0f, {"offlinePrepare(0x5000, 3)"}, Answer::OneZero},
    {40, 0, k2To32 + 3, kPlace, 0.0f, {"offlineRun(0x5000, 3)"}, Answer::OneZero},
    {41, 0, 0, kPlace, 0.0f, {"processVariableIo(0x5000)"}, Answer::OneZero},
    {42, 0, kOtherPlaceValue, kPlace, 0.0f, {"setSpeakerArrangement(0x6000, 0x5000)"}, Answer::OneZero},
    {44, 0, 0, nullptr, 0.0f, {"setBypass(false)"}, Answer::OneZero},
    {44, 0, k2To32, nullptr, 0.0f, {"setBypass(true)"}, Answer::OneZero},
    {44, 0, -1, nullptr, 0.0f, {"setBypass(true)"}, Answer::OneZero},
    {45, 0, 0, kPlace, 0.0f, {"getEffectName(0x5000)"}, Answer::OneZero},
    {47, 0, 0, kPlace, 0.0f, {"getVendorString(0x5000)"}, Answer::OneZero},
    {48, 0, 0, kPlace, 0.0f, {"getProductString(0x5000)"}, Answer::OneZero},
    {49, 0, 0, nullptr, 0.0f, {"getVendorVersion()"}, Answer::Integer},
    {50, 3, 0x123456789, kPlace, 1.5f, {"vendorSpecific(3, 4886718345, 0x5000, 1.5)"}, Answer::Unchanged},
    {51, 0, 0, kCanDoText, 0.0f, {"canDo(\"sendVstEvents\")"}, Answer::Integer},
    {52, 0, 0, nullptr, 0.0f, {"getGetTailSize()"}, Answer::Integer},
    {56, 5, 0, kPlace, 0.0f, {"getParameterProperties(5, 0x5000)"}, Answer::OneZero},
    {58, 0, 0, nullptr, 0.0f, {"getVstVersion()"}, Answer::Integer},
    {62, 9, 0, kPlace, 0.0f, {"getMidiProgramName(9, 0x5000)"}, Answer::Integer},
    {63, 9, 0, kPlace, 0.0f, {"getCurrentMidiProgram(9, 0x5000)"}, Answer::Integer},
    {64, 9, 0, kPlace, 0.0f, {"getMidiProgramCategory(9, 0x5000)"}, Answer::Integer},
    {65, 9, 0, nullptr, 0.0f, {"hasMidiProgramsChanged(9)"}, Answer::OneZero},
    {66, 9, 0, kPlace, 0.0f, {"getMidiKeyName(9, 0x5000)"}, Answer::OneZero},
    {67, 0, 0, nullptr, 0.0f, {"beginSetProgram()"}, Answer::OneZero},
    {68, 0, 0, nullptr, 0.0f, {"endSetProgram()"}, Answer::OneZero},
    {69, 0, kOtherPlaceValue, kPlace, 0.0f, {"getSpeakerArrangement(0x6000, 0x5000)"}, Answer::OneZero},
    {70, 0, 0, kPlace, 0.0f, {"getNextShellPlugin(0x5000)"}, Answer::Integer},
    {71, 0, 0, nullptr, 0.0f, {"startProcess()"}, Answer::Integer},
    {72, 0, 0, nullptr, 0.0f, {"stopProcess()"}, Answer::Integer},
    {73, 0, 4294967295, nullptr, 0.0f, {"setTotalSampleToProcess(-1)"}, Answer::Integer},
    {73, 0, k2To32 + 1000, nullptr, 0.0f, {"setTotalSampleToProcess(1000)"}, Answer::Integer},
    {74, 0, k2To32 + 2, nullptr, 0.5f, {"setPanLaw(2, 0.5)"}, Answer::OneZero},
    {75, 0, 0, kPlace, 0.0f, {"beginLoadBank(0x5000)"}, Answer::Integer},
    {76, 0, 0, kPlace, 0.0f, {"beginLoadProgram(0x5000)"}, Answer::Integer},
    {77, 0, k2To32 + 1, nullptr, 0.0f, {"setProcessPrecision(1)"}, Answer::OneZero},
    {78, 0, 0, nullptr, 0.0f, {"getNumMidiInputChannels()"}, Answer::Integer},
    {79, 0, 0, nullptr, 0.0f, {"getNumMidiOutputChannels()"}, Answer::Integer},
    // The twelve opcodes of 25 to 79 without a row of their own.
    {28, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {30, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {31, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {32, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {36, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {37, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {43, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {46, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {53, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {54, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {55, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {57, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    // Outside 25 to 79, negative opcodes included.
    {-1, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {80, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {INT_MIN, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {INT_MIN + 25, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    {INT_MAX, 1, 1, kPlace, 1.0f, {}, Answer::Base},
    // Below 25 the base dispatcher's answer comes back unchanged.
    {3, 0, 0, nullptr, 0.0f, {"getProgram()"}, Answer::Integer},
};

// Two scripts for the recording effect, so that every answer rule is seen
// to follow the operation's result both ways.
struct Script {
    bool boolAnswer;
    VstInt32 intAnswer;
    VstIntPtr wideAnswer;
    VstIntPtr oneZero;
    VstIntPtr integer;
    VstIntPtr unchanged;
};
constexpr Script kScripts[] = {
    {true, -1, 0x123456789AB, 1, VstIntPtr{-1}, 0x123456789AB},
    {false, INT_MAX, -5, 0, VstIntPtr{INT_MAX}, -5},
};

VstIntPtr expectedAnswer(Answer rule, const Script& script) {
    switch (rule) {
        case Answer::OneZero: return script.oneZero;
        case Answer::Integer: return script.integer;
        case Answer::Unchanged: return script.unchanged;
        case Answer::Base: return 0;
    }
    return 0;
}

TEST(ExtendedDispatcher, EachOpcodeReachesItsOperation) {
    for (const Script& script : kScripts) {
        for (const Row& row : kExtendedRows) {
            CallLog log;
            log.boolAnswer = script.boolAnswer;
            log.intAnswer = script.intAnswer;
            log.wideAnswer = script.wideAnswer;
            RecordingEffect effect(nullptr, log);
            const VstIntPtr answer = effect.dispatcher(row.opcode, row.index, row.value, row.ptr, row.opt);
            const std::string where = "opcode " + std::to_string(row.opcode) + " value " + std::to_string(row.value);
            EXPECT_EQ(log.calls, row.calls) << where;
            EXPECT_EQ(answer, expectedAnswer(row.answer, script)) << where;
        }
    }
}

// --- Editor opcodes

struct KeyRow {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    float opt;
    std::string call;
};

const std::vector<KeyRow> kKeyRows = {
    {59, 97, 259, 2.9f, "editor.onKeyDown(97, 3, 2)"},
    {60, 97, 259, 2.9f, "editor.onKeyUp(97, 3, 2)"},
    {59, -4, -1, -2.9f, "editor.onKeyDown(-4, 255, 254)"},
    {59, 0, 0, 300.7f, "editor.onKeyDown(0, 0, 44)"},
    {59, 0, 0, 1.0e10f, "editor.onKeyDown(0, 0, 0)"},
    {59, 0, 0, -3.0e9f, "editor.onKeyDown(0, 0, 0)"},
    {59, 0, 0, std::nanf(""), "editor.onKeyDown(0, 0, 0)"},
    {59, 0, 0, INFINITY, "editor.onKeyDown(0, 0, 0)"},
    {61, 0, k2To32 + 5, 0.0f, "editor.setKnobMode(5)"},
};

TEST(ExtendedDispatcher, EditorOpcodesReachTheEditor) {
    for (bool editorAnswer : {true, false}) {
        for (const KeyRow& row : kKeyRows) {
            CallLog log;
            log.boolAnswer = editorAnswer;
            RecordingEffect effect(nullptr, log);
            effect.setEditor(new RecordingEditor(log));
            EXPECT_EQ(effect.dispatcher(row.opcode, row.index, row.value, kPlace, row.opt), editorAnswer ? 1 : 0)
                << row.call;
            EXPECT_EQ(log.calls, Calls{row.call});
        }
    }
}

TEST(ExtendedDispatcher, EveryOpcodeFrom25To79HasARow) {
    std::vector<int> seen(80, 0);
    for (const Row& row : kExtendedRows)
        if (row.opcode >= 25 && row.opcode <= 79) seen[static_cast<std::size_t>(row.opcode)] = 1;
    for (const KeyRow& row : kKeyRows) seen[static_cast<std::size_t>(row.opcode)] = 1;
    for (int opcode = 25; opcode <= 79; ++opcode) EXPECT_EQ(seen[static_cast<std::size_t>(opcode)], 1) << opcode;
}

TEST(ExtendedDispatcher, EditorOpcodesWithoutAnEditorTouchNothing) {
    frametest::expectEditorOpcodesTouchNothing({59, 60, 61}, 97, 259, 2.9f);
}

// --- resume

struct ResumeRow {
    bool synth;
    VstInt32 canDoAnswer;
    Calls calls;
    bool asksForEvents;
};

TEST(Resume, AsksTheEffectsOwnCanDoAndWantsEventsOnlyThen) {
    const std::vector<ResumeRow> rows = {
        {false, 1, {"resume()", "canDo(\"receiveVstMidiEvent\")", "wantEvents(1)"}, true},
        {false, 0, {"resume()", "canDo(\"receiveVstMidiEvent\")"}, false},
        {false, -1, {"resume()", "canDo(\"receiveVstMidiEvent\")"}, false},
        {false, 2, {"resume()", "canDo(\"receiveVstMidiEvent\")"}, false},
        {true, 0, {"resume()", "wantEvents(1)"}, true},
    };
    for (const ResumeRow& row : rows) {
        CallLog log;
        log.intAnswer = row.canDoAnswer;
        auto* recording = new RecordingEffect(&host::Host::callback, log);
        host::Host hostSide;
        host::Effect effect(recording->AudioEffect::getAeffect(), hostSide);
        recording->isSynth(row.synth);
        log.calls.clear();

        effect.dispatch(effMainsChanged, 0, 1);

        const std::string where = "synth " + std::to_string(row.synth) + " canDo " + std::to_string(row.canDoAnswer);
        EXPECT_EQ(log.calls, row.calls) << where;
        const std::vector<host::HostRequest> requests = hostSide.requests();
        ASSERT_EQ(requests.size(), row.asksForEvents ? 1u : 0u) << where;
        if (!row.asksForEvents) continue;
        EXPECT_EQ(requests[0].effect, effect.record());
        EXPECT_EQ(requests[0].opcode, audioMasterWantMidi);
        EXPECT_EQ(requests[0].index, 0);
        EXPECT_EQ(requests[0].value, 1);
        EXPECT_EQ(requests[0].ptr, nullptr);
        EXPECT_EQ(requests[0].opt, 0.0f);
    }
}

}  // namespace
