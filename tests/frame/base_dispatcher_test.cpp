// The base dispatcher, opcodes 0 to 24: which operation each opcode reaches,
// with which arguments, and what it answers; and the record's functions that
// lead there.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "frame/RecordingEffect.h"

namespace {

using frametest::CallLog;
using frametest::RecordingEditor;
using frametest::RecordingEffect;
using Calls = std::vector<std::string>;

constexpr VstIntPtr k2To32 = VstIntPtr{1} << 32;
constexpr VstInt32 kScriptedInteger = -2;  // what the recording effect's VstInt32 operations answer
constexpr VstIntPtr kIdentify = 0x4E764566;
void* const kPlace = reinterpret_cast<void*>(std::uintptr_t{0x5000});

struct Row {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
    Calls calls;
    VstIntPtr answer;
};

const std::vector<Row> kBaseRows = {
    {0, 0, 0, nullptr, 0.0f, {"open()"}, 0},
    {1, 0, 0, nullptr, 0.0f, {"close()"}, 0},
    // effSetProgram compares the whole value, signed, with numPrograms (3),
    // and only then cuts it to 32 bits.
    {2, 0, 0, nullptr, 0.0f, {"setProgram(0)"}, 0},
    {2, 0, 2, nullptr, 0.0f, {"setProgram(2)"}, 0},
    {2, 0, 3, nullptr, 0.0f, {}, 0},
    {2, 0, -1, nullptr, 0.0f, {"setProgram(-1)"}, 0},
    {2, 0, k2To32, nullptr, 0.0f, {}, 0},
    {2, 0, -k2To32 + 1, nullptr, 0.0f, {"setProgram(1)"}, 0},
    {3, 0, 0, nullptr, 0.0f, {"getProgram()"}, kScriptedInteger},
    {4, 0, 0, kPlace, 0.0f, {"setProgramName(0x5000)"}, 0},
    {5, 0, 0, kPlace, 0.0f, {"getProgramName(0x5000)"}, 0},
    {6, 7, 0, kPlace, 0.0f, {"getParameterLabel(7, 0x5000)"}, 0},
    {7, -3, 0, kPlace, 0.0f, {"getParameterDisplay(-3, 0x5000)"}, 0},
    {8, 7, 0, kPlace, 0.0f, {"getParameterName(7, 0x5000)"}, 0},
    {9, 1, 1, kPlace, 1.0f, {}, 0},
    {10, 0, 99, nullptr, 48000.0f, {"setSampleRate(48000)"}, 0},
    {11, 0, k2To32 + 512, nullptr, 0.0f, {"setBlockSize(512)"}, 0},
    {11, 0, k2To32, nullptr, 0.0f, {"setBlockSize(0)"}, 0},
    {11, 0, -1, nullptr, 0.0f, {"setBlockSize(-1)"}, 0},
    // effMainsChanged tests the whole value for zero; AudioEffectX's resume
    // then asks the effect's own canDo.
    {12, 0, 0, nullptr, 0.0f, {"suspend()"}, 0},
    {12, 0, 1, nullptr, 0.0f, {"resume()", "canDo(\"receiveVstMidiEvent\")"}, 0},
    {12, 0, 2, nullptr, 0.0f, {"resume()", "canDo(\"receiveVstMidiEvent\")"}, 0},
    {12, 0, k2To32, nullptr, 0.0f, {"resume()", "canDo(\"receiveVstMidiEvent\")"}, 0},
    {12, 0, -1, nullptr, 0.0f, {"resume()", "canDo(\"receiveVstMidiEvent\")"}, 0},
    {16, 1, 1, kPlace, 1.0f, {}, 0},
    {17, 1, 1, kPlace, 1.0f, {}, 0},
    {18, 1, 1, kPlace, 1.0f, {}, 0},
    {20, 1, 1, kPlace, 1.0f, {}, 0},
    {21, 1, 1, kPlace, 1.0f, {}, 0},
    {22, 0, 0, nullptr, 0.0f, {}, kIdentify},
    {23, 0, 0, kPlace, 0.0f, {"getChunk(0x5000, false)"}, kScriptedInteger},
    {23, 1, 0, kPlace, 0.0f, {"getChunk(0x5000, true)"}, kScriptedInteger},
    {23, -7, 0, kPlace, 0.0f, {"getChunk(0x5000, true)"}, kScriptedInteger},
    {24, 0, k2To32 + 100, kPlace, 0.0f, {"setChunk(0x5000, 100, false)"}, kScriptedInteger},
    {24, 2, 100, kPlace, 0.0f, {"setChunk(0x5000, 100, true)"}, kScriptedInteger},
    // Taken unsigned, one test turns away negative opcodes and those above 24.
    {-1, 1, 1, kPlace, 1.0f, {}, 0},
    {25, 1, 1, kPlace, 1.0f, {}, 0},
    {79, 1, 1, kPlace, 1.0f, {}, 0},
    {80, 1, 1, kPlace, 1.0f, {}, 0},
    {INT_MIN, 1, 1, kPlace, 1.0f, {}, 0},
    {INT_MAX, 1, 1, kPlace, 1.0f, {}, 0},
};

std::string describe(const Row& row) {
    return "opcode " + std::to_string(row.opcode) + " index " + std::to_string(row.index) + " value " +
           std::to_string(row.value);
}

TEST(BaseDispatcher, EachOpcodeReachesItsOperation) {
    for (const Row& row : kBaseRows) {
        CallLog log;
        log.intAnswer = kScriptedInteger;
        RecordingEffect effect(nullptr, log);
        const VstIntPtr answer = effect.AudioEffect::dispatcher(row.opcode, row.index, row.value, row.ptr, row.opt);
        EXPECT_EQ(log.calls, row.calls) << describe(row);
        EXPECT_EQ(answer, row.answer) << describe(row);
    }
}

// The host reaches the same rows through the record, where the extended
// dispatcher hands every opcode up to 24 to the base dispatcher.
TEST(BaseDispatcher, TheRecordReachesTheSameRows) {
    for (const Row& row : kBaseRows) {
        if (row.opcode < 0 || row.opcode > 24 || row.opcode == effClose) continue;
        CallLog log;
        log.intAnswer = kScriptedInteger;
        RecordingEffect effect(nullptr, log);
        AEffect* record = effect.AudioEffect::getAeffect();
        const VstIntPtr answer = record->dispatcher(record, row.opcode, row.index, row.value, row.ptr, row.opt);
        EXPECT_EQ(log.calls, row.calls) << describe(row);
        EXPECT_EQ(answer, row.answer) << describe(row);
    }
}

TEST(BaseDispatcher, SetProgramStoresMinusOneAtFullWidth) {
    frametest::DefaultEffect effect;
    effect.dispatcher(effSetProgram, 0, 2, nullptr, 0.0f);
    effect.dispatcher(effSetProgram, 0, frametest::DefaultEffect::kPrograms, nullptr, 0.0f);
    EXPECT_EQ(effect.dispatcher(effGetProgram, 0, 0, nullptr, 0.0f), 2);
    effect.dispatcher(effSetProgram, 0, -1, nullptr, 0.0f);
    EXPECT_EQ(effect.dispatcher(effGetProgram, 0, 0, nullptr, 0.0f), VstIntPtr{-1});
}

TEST(BaseDispatcher, EditorOpcodesWithoutAnEditorTouchNothing) {
    frametest::expectEditorOpcodesTouchNothing({13, 14, 15, 19}, 1, 1, 1.0f);
}

struct EditorRow {
    VstInt32 opcode;
    Calls calls;
    VstIntPtr answerWhenTrue;
    VstIntPtr answerWhenFalse;
};

TEST(BaseDispatcher, EditorOpcodesReachTheEditor) {
    const std::vector<EditorRow> rows = {
        {13, {"editor.getRect(0x5000)"}, 1, 0},
        {14, {"editor.open(0x5000)"}, 1, 0},
        {15, {"editor.close()"}, 0, 0},
        {16, {}, 0, 0},
        {17, {}, 0, 0},
        {18, {}, 0, 0},
        {19, {"editor.idle()"}, 0, 0},
        {20, {}, 0, 0},
        {21, {}, 0, 0},
    };
    for (bool editorAnswer : {true, false}) {
        for (const EditorRow& row : rows) {
            CallLog log;
            log.boolAnswer = editorAnswer;
            RecordingEffect effect(nullptr, log);
            effect.setEditor(new RecordingEditor(log));
            const VstIntPtr answer = effect.dispatcher(row.opcode, 1, 1, kPlace, 1.0f);
            EXPECT_EQ(log.calls, row.calls) << row.opcode;
            EXPECT_EQ(answer, editorAnswer ? row.answerWhenTrue : row.answerWhenFalse) << row.opcode;
        }
    }
}

// --- The record's functions

TEST(RecordFunctions, CloseRunsCloseThenDestroysEffectAndEditor) {
    CallLog log;
    auto* effect = new RecordingEffect(nullptr, log);
    effect->setEditor(new RecordingEditor(log));
    AEffect* record = effect->AudioEffect::getAeffect();
    EXPECT_EQ(record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(log.calls, (Calls{"close()", "destroyed()", "editor.destroyed()"}));
}

TEST(RecordFunctions, EachForwardsItsArgumentsUnchanged) {
    float* inputs[2] = {};
    float* outputs[2] = {};
    double* inputs64[2] = {};
    double* outputs64[2] = {};
    CallLog log;
    RecordingEffect effect(nullptr, log);
    AEffect* record = effect.AudioEffect::getAeffect();

    record->process(record, inputs, outputs, 17);
    record->processReplacing(record, inputs, outputs, -5);
    record->processDoubleReplacing(record, inputs64, outputs64, 9);
    record->setParameter(record, -2, 0.75f);
    EXPECT_EQ(record->getParameter(record, 3), 0.5f);
    EXPECT_EQ(record->dispatcher(record, effGetParamName, 6, 0, kPlace, 0.0f), 0);

    auto pointer = [](const void* p) { return frametest::argText(p); };
    EXPECT_EQ(log.calls, (Calls{
                             "process(" + pointer(inputs) + ", " + pointer(outputs) + ", 17)",
                             "processReplacing(" + pointer(inputs) + ", " + pointer(outputs) + ", -5)",
                             "processDoubleReplacing(" + pointer(inputs64) + ", " + pointer(outputs64) + ", 9)",
                             "setParameter(-2, 0.75)",
                             "getParameter(3)",
                             "getParameterName(6, 0x5000)",
                         }));
}

}  // namespace
