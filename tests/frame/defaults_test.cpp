// What an effect inherits when it overrides nothing: the record a plain
// AudioEffect fills in, the slot order of the virtual operations, the flag
// setters, the default texts and answers of both dispatchers, and the
// defaults with a behaviour of their own.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/RecordingEffect.h"

namespace {

using frametest::CallLog;
using frametest::DefaultEffect;
using frametest::note;

constexpr VstIntPtr k2To32 = VstIntPtr{1} << 32;
constexpr VstInt32 kNoEf = 0x4E6F4566;
constexpr VstInt32 kVstP = 0x56737450;
constexpr VstInt32 kCanReplacing = 16;
constexpr unsigned char kFill = 0xAB;

class NothingChanged : public AudioEffect {
public:
    NothingChanged() : AudioEffect(nullptr, 2, 5) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

TEST(PlainAudioEffect, FillsTheRecordWithTheFramesDefaults) {
    NothingChanged effect;
    const AEffect& record = *effect.getAeffect();
    EXPECT_EQ(record.magic, kVstP);
    EXPECT_EQ(record.numPrograms, 2);
    EXPECT_EQ(record.numParams, 5);
    EXPECT_EQ(record.numInputs, 1);
    EXPECT_EQ(record.numOutputs, 2);
    EXPECT_EQ(record.flags, kCanReplacing);
    EXPECT_EQ(record.resvd1, 0);
    EXPECT_EQ(record.resvd2, 0);
    EXPECT_EQ(record.initialDelay, 0);
    EXPECT_EQ(record.realQualities, 0);
    EXPECT_EQ(record.offQualities, 0);
    EXPECT_EQ(record.ioRatio, 1.0f);
    EXPECT_EQ(record.object, static_cast<AudioEffect*>(&effect));
    EXPECT_EQ(record.user, nullptr);
    EXPECT_EQ(record.uniqueID, kNoEf);
    EXPECT_EQ(record.version, 1);
    for (char byte : record.future) EXPECT_EQ(byte, 0);
    EXPECT_NE(record.dispatcher, nullptr);
    EXPECT_NE(record.process, nullptr);
    EXPECT_NE(record.setParameter, nullptr);
    EXPECT_NE(record.getParameter, nullptr);
    EXPECT_NE(record.processReplacing, nullptr);
    EXPECT_NE(record.processDoubleReplacing, nullptr);
    // The gaps after magic and flags stay zero too.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (std::size_t gap : {4u, 5u, 6u, 7u, 60u, 61u, 62u, 63u}) EXPECT_EQ(bytes[gap], 0) << gap;
}

TEST(PlainAudioEffect, KnowsOnlyTheBaseOpcodes) {
    NothingChanged effect;
    AEffect* record = effect.getAeffect();
    for (VstInt32 index : {-1, 0, 2, 1000}) EXPECT_EQ(record->getParameter(record, index), 0.0f) << index;
    EXPECT_EQ(record->dispatcher(record, effIdentify, 0, 0, nullptr, 0.0f), 0x4E764566);
    EXPECT_EQ(record->dispatcher(record, effGetVstVersion, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(record->dispatcher(record, effCanBeAutomated, 0, 0, nullptr, 0.0f), 0);
}

// --- Slot order. A pointer to a virtual member holds 1 + the byte offset
// of its slot in the table (Itanium C++ ABI, as g++ on x86-64 uses); the
// first two slots belong to the virtual destructor.

template <typename Member>
std::ptrdiff_t slotOf(Member member) {
    struct Representation {
        std::uintptr_t pointer;
        std::ptrdiff_t adjustment;
    } representation;
    static_assert(sizeof(Member) == sizeof(Representation));
    std::memcpy(&representation, &member, sizeof representation);
    return static_cast<std::ptrdiff_t>((representation.pointer - 1) / sizeof(void*));
}

std::vector<std::ptrdiff_t> consecutiveFrom(std::ptrdiff_t first, std::size_t count) {
    std::vector<std::ptrdiff_t> slots(count);
    for (std::size_t i = 0; i < count; ++i) slots[i] = first + static_cast<std::ptrdiff_t>(i);
    return slots;
}

using A = AudioEffect;
using X = AudioEffectX;

TEST(SlotOrder, AudioEffectOperations) {
    const std::vector<std::ptrdiff_t> slots = {
        slotOf(&A::dispatcher), slotOf(&A::open), slotOf(&A::close), slotOf(&A::suspend), slotOf(&A::resume),
        slotOf(&A::setSampleRate), slotOf(&A::setBlockSize), slotOf(&A::processReplacing),
        slotOf(&A::processDoubleReplacing), slotOf(&A::setParameter), slotOf(&A::getParameter),
        slotOf(&A::setParameterAutomated), slotOf(&A::getProgram), slotOf(&A::setProgram), slotOf(&A::setProgramName),
        slotOf(&A::getProgramName), slotOf(&A::getParameterLabel), slotOf(&A::getParameterDisplay),
        slotOf(&A::getParameterName), slotOf(&A::getChunk), slotOf(&A::setChunk), slotOf(&A::setUniqueID),
        slotOf(&A::setNumInputs), slotOf(&A::setNumOutputs), slotOf(&A::canProcessReplacing),
        slotOf(&A::canDoubleReplacing), slotOf(&A::programsAreChunks), slotOf(&A::setInitialDelay),
        slotOf(&A::getEditor), slotOf(&A::getAeffect), slotOf(&A::getSampleRate), slotOf(&A::getBlockSize),
        slotOf(&A::getMasterVersion), slotOf(&A::getCurrentUniqueId), slotOf(&A::masterIdle), slotOf(&A::dB2string),
        slotOf(&A::Hz2string), slotOf(&A::ms2string), slotOf(&A::float2string), slotOf(&A::int2string),
        slotOf(&A::process), slotOf(&A::getVu), slotOf(&A::hasVu), slotOf(&A::hasClip), slotOf(&A::canMono),
        slotOf(&A::setRealtimeQualities), slotOf(&A::setOfflineQualities), slotOf(&A::isInputConnected),
        slotOf(&A::isOutputConnected),
    };
    EXPECT_EQ(slots, consecutiveFrom(2, 49));
}

TEST(SlotOrder, AudioEffectXReplacesTwoAndAppendsTheRest) {
    EXPECT_EQ(slotOf(&X::dispatcher), slotOf(&A::dispatcher));
    EXPECT_EQ(slotOf(&X::resume), slotOf(&A::resume));
    const std::vector<std::ptrdiff_t> slots = {
        // parameters
        slotOf(&X::canParameterBeAutomated), slotOf(&X::string2parameter), slotOf(&X::getParameterProperties),
        slotOf(&X::beginEdit), slotOf(&X::endEdit),
        // programs
        slotOf(&X::getProgramNameIndexed), slotOf(&X::beginSetProgram), slotOf(&X::endSetProgram),
        slotOf(&X::beginLoadBank), slotOf(&X::beginLoadProgram),
        // connections and configuration
        slotOf(&X::ioChanged), slotOf(&X::updateSampleRate), slotOf(&X::updateBlockSize), slotOf(&X::getInputLatency),
        slotOf(&X::getOutputLatency), slotOf(&X::getInputProperties), slotOf(&X::getOutputProperties),
        slotOf(&X::setSpeakerArrangement), slotOf(&X::getSpeakerArrangement), slotOf(&X::setBypass),
        slotOf(&X::setPanLaw), slotOf(&X::setProcessPrecision), slotOf(&X::getNumMidiInputChannels),
        slotOf(&X::getNumMidiOutputChannels),
        // real time
        slotOf(&X::getTimeInfo), slotOf(&X::getCurrentProcessLevel), slotOf(&X::getAutomationState),
        slotOf(&X::processEvents), slotOf(&X::startProcess), slotOf(&X::stopProcess),
        // variable input and output
        slotOf(&X::processVariableIo), slotOf(&X::setTotalSampleToProcess),
        // host properties
        slotOf(&X::getHostVendorString), slotOf(&X::getHostProductString), slotOf(&X::getHostVendorVersion),
        slotOf(&X::hostVendorSpecific), slotOf(&X::canHostDo), slotOf(&X::getHostLanguage),
        // effect properties
        slotOf(&X::isSynth), slotOf(&X::noTail), slotOf(&X::getGetTailSize), slotOf(&X::getDirectory),
        slotOf(&X::getEffectName), slotOf(&X::getVendorString), slotOf(&X::getProductString),
        slotOf(&X::getVendorVersion), slotOf(&X::vendorSpecific), slotOf(&X::canDo), slotOf(&X::getVstVersion),
        slotOf(&X::getPlugCategory),
        // MIDI programs
        slotOf(&X::getMidiProgramName), slotOf(&X::getCurrentMidiProgram), slotOf(&X::getMidiProgramCategory),
        slotOf(&X::hasMidiProgramsChanged), slotOf(&X::getMidiKeyName),
        // others
        slotOf(&X::updateDisplay), slotOf(&X::sizeWindow), slotOf(&X::openFileSelector),
        slotOf(&X::closeFileSelector), slotOf(&X::getNextShellPlugin),
        // speaker arrangements
        slotOf(&X::allocateArrangement), slotOf(&X::deallocateArrangement), slotOf(&X::copySpeaker),
        slotOf(&X::matchArrangement),
        // offline
        slotOf(&X::offlineRead), slotOf(&X::offlineWrite), slotOf(&X::offlineStart), slotOf(&X::offlineGetCurrentPass),
        slotOf(&X::offlineGetCurrentMetaPass), slotOf(&X::offlineNotify), slotOf(&X::offlinePrepare),
        slotOf(&X::offlineRun), slotOf(&X::offlineGetNumPasses), slotOf(&X::offlineGetNumMetaPasses),
        // deprecated
        slotOf(&X::wantEvents), slotOf(&X::tempoAt), slotOf(&X::getNumAutomatableParameters),
        slotOf(&X::getParameterQuantization), slotOf(&X::getNumCategories), slotOf(&X::copyProgram),
        slotOf(&X::needIdle), slotOf(&X::getPreviousPlug), slotOf(&X::getNextPlug), slotOf(&X::inputConnected),
        slotOf(&X::outputConnected), slotOf(&X::willProcessReplacing), slotOf(&X::wantAsyncOperation),
        slotOf(&X::hasExternalBuffer), slotOf(&X::reportCurrentPosition), slotOf(&X::reportDestinationBuffer),
        slotOf(&X::setOutputSamplerate), slotOf(&X::getInputSpeakerArrangement),
        slotOf(&X::getOutputSpeakerArrangement), slotOf(&X::openWindow), slotOf(&X::closeWindow),
        slotOf(&X::setBlockSizeAndSampleRate), slotOf(&X::getErrorText), slotOf(&X::getIcon),
        slotOf(&X::setViewPosition), slotOf(&X::fxIdle), slotOf(&X::keysRequired), slotOf(&X::getChunkFile),
    };
    EXPECT_EQ(slots, consecutiveFrom(slotOf(&A::isOutputConnected) + 1, 102));
}

// --- Flags

struct FlagRow {
    const char* setter;
    std::function<void(AudioEffectX&, bool)> set;
    VstInt32 bit;
};

TEST(Defaults, EachFlagSetterTouchesOnlyItsBit) {
    const std::vector<FlagRow> rows = {
        {"hasClip", [](AudioEffectX& e, bool on) { e.hasClip(on); }, 0x2},
        {"hasVu", [](AudioEffectX& e, bool on) { e.hasVu(on); }, 0x4},
        {"canMono", [](AudioEffectX& e, bool on) { e.canMono(on); }, 0x8},
        {"canProcessReplacing", [](AudioEffectX& e, bool on) { e.canProcessReplacing(on); }, 0x10},
        {"programsAreChunks", [](AudioEffectX& e, bool on) { e.programsAreChunks(on); }, 0x20},
        {"isSynth", [](AudioEffectX& e, bool on) { e.isSynth(on); }, 0x100},
        {"noTail", [](AudioEffectX& e, bool on) { e.noTail(on); }, 0x200},
        {"wantAsyncOperation", [](AudioEffectX& e, bool on) { e.wantAsyncOperation(on); }, 0x400},
        {"hasExternalBuffer", [](AudioEffectX& e, bool on) { e.hasExternalBuffer(on); }, 0x800},
        {"canDoubleReplacing", [](AudioEffectX& e, bool on) { e.canDoubleReplacing(on); }, 0x1000},
    };
    for (const FlagRow& row : rows) {
        DefaultEffect effect;
        VstInt32& flags = effect.getAeffect()->flags;
        flags = 0;
        row.set(effect, true);
        EXPECT_EQ(flags, row.bit) << row.setter;
        flags = ~row.bit;
        row.set(effect, true);
        row.set(effect, true);
        EXPECT_EQ(flags, -1) << row.setter;
        row.set(effect, false);
        EXPECT_EQ(flags, ~row.bit) << row.setter;
        row.set(effect, false);
        EXPECT_EQ(flags, ~row.bit) << row.setter;
    }
}

TEST(Defaults, PlugCategoryFollowsTheSynthFlag) {
    DefaultEffect effect;
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), 0);
    effect.isSynth(true);
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), 2);
    effect.isSynth(false);
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), 0);
}

// --- Setters of record fields and members

TEST(Defaults, SettersStoreIntoTheRecord) {
    DefaultEffect effect;
    const AEffect& record = *effect.getAeffect();
    effect.setUniqueID(0x746B717A);
    effect.setNumInputs(6);
    effect.setNumOutputs(8);
    effect.setInitialDelay(128);
    effect.setRealtimeQualities(3);
    effect.setOfflineQualities(-4);
    EXPECT_EQ(record.uniqueID, 0x746B717A);
    EXPECT_EQ(record.numInputs, 6);
    EXPECT_EQ(record.numOutputs, 8);
    EXPECT_EQ(record.initialDelay, 128);
    EXPECT_EQ(record.realQualities, 3);
    EXPECT_EQ(record.offQualities, -4);
}

TEST(Defaults, SampleRateAndBlockSizeUntilTheHostSetsThem) {
    DefaultEffect effect;
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    effect.dispatcher(effSetSampleRate, 0, 22050, nullptr, 48000.0f);
    effect.dispatcher(effSetBlockSize, 0, k2To32, nullptr, 0.0f);
    EXPECT_EQ(effect.getSampleRate(), 48000.0f);
    EXPECT_EQ(effect.getBlockSize(), 0);
}

TEST(Defaults, SetBlockSizeAndSampleRateCallsNeitherSetter) {
    class Sizes : public DefaultEffect {
    public:
        explicit Sizes(CallLog& log) : log(log) {}
        void setSampleRate(float rate) override { note(log, "setSampleRate", rate); }
        void setBlockSize(VstInt32 size) override { note(log, "setBlockSize", size); }
        CallLog& log;
    };
    CallLog log;
    Sizes effect(log);
    effect.setBlockSizeAndSampleRate(256, 96000.0f);
    EXPECT_EQ(effect.getBlockSize(), 256);
    EXPECT_EQ(effect.getSampleRate(), 96000.0f);
    EXPECT_TRUE(log.calls.empty());
}

TEST(Defaults, OperationsWithAnAnswerOfTheirOwn) {
    DefaultEffect effect;
    EXPECT_EQ(effect.getVstVersion(), 2400);
    EXPECT_EQ(effect.getNumCategories(), 1);
    EXPECT_EQ(effect.setTotalSampleToProcess(-9), -9);
    EXPECT_TRUE(effect.canParameterBeAutomated(INT_MIN));
    EXPECT_EQ(effect.getCurrentMidiProgram(0, nullptr), -1);
    EXPECT_EQ(effect.getVu(), 0.0f);
    EXPECT_EQ(effect.getEditor(), nullptr);
}

// --- Default texts: exactly one zero byte at the start of the buffer.

TEST(Defaults, DefaultTextsWriteOneZeroByte) {
    for (VstInt32 opcode : {effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName}) {
        DefaultEffect effect;
        char text[16];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(effect.dispatcher(opcode, 1, 0, text, 0.0f), 0);
        EXPECT_EQ(text[0], '\0') << opcode;
        for (std::size_t i = 1; i < sizeof text; ++i) EXPECT_EQ(text[i], 'x') << opcode << " byte " << i;
    }
}

TEST(Defaults, GetSpeakerArrangementStoresNullThroughBoth) {
    DefaultEffect effect;
    auto* input = reinterpret_cast<VstSpeakerArrangement*>(std::uintptr_t{0x10});
    auto* output = reinterpret_cast<VstSpeakerArrangement*>(std::uintptr_t{0x20});
    EXPECT_EQ(effect.dispatcher(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output, 0.0f), 0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
}

// --- The default answers of both dispatchers. ptr points at a filled
// buffer, which no default may touch.

struct AnswerRow {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    VstIntPtr answer;
};

TEST(Defaults, DispatcherAnswers) {
    const std::vector<AnswerRow> rows = {
        {3, 0, 0, 0},        {9, 0, 0, 0},       {22, 0, 0, 0x4E764566}, {23, 0, 0, 0},  {23, 1, 0, 0},
        {24, 1, 64, 0},      {25, 0, 0, 0},      {26, -5, 0, 1},         {26, INT_MIN, 0, 1},
        {27, 0, 0, 0},       {29, 0, 0, 0},      {33, 0, 0, 0},          {34, 0, 0, 0},  {35, 0, 0, 0},
        {38, 1, 2, 0},       {39, 0, 2, 0},      {40, 0, 2, 0},          {41, 0, 0, 0},  {42, 0, 0, 0},
        {44, 0, k2To32, 0},  {45, 0, 0, 0},      {47, 0, 0, 0},          {48, 0, 0, 0},  {49, 0, 0, 0},
        {50, 1, 1, 0},       {52, 0, 0, 0},      {56, 0, 0, 0},          {58, 0, 0, 2400},
        {62, 0, 0, 0},       {63, 0, 0, VstIntPtr{-1}},                  {64, 0, 0, 0},  {65, 0, 0, 0},
        {66, 0, 0, 0},       {67, 0, 0, 0},      {68, 0, 0, 0},          {70, 0, 0, 0},  {71, 0, 0, 0},
        {72, 0, 0, 0},       {73, 0, 1000, 1000}, {73, 0, 4294967295, VstIntPtr{-1}},
        {74, 0, 1, 0},       {75, 0, 0, 0},      {76, 0, 0, 0},          {77, 0, 1, 0},  {78, 0, 0, 0},
        {79, 0, 0, 0},
    };
    for (const AnswerRow& row : rows) {
        DefaultEffect effect;
        unsigned char place[64];
        std::memset(place, kFill, sizeof place);
        const std::string where = "opcode " + std::to_string(row.opcode) + " value " + std::to_string(row.value);
        EXPECT_EQ(effect.dispatcher(row.opcode, row.index, row.value, place, 0.5f), row.answer) << where;
        for (unsigned char byte : place) ASSERT_EQ(byte, kFill) << where;
    }
}

TEST(Defaults, CanDoAnswers0ForAnyText) {
    DefaultEffect effect;
    for (const char* text : {"receiveVstMidiEvent", "sendVstEvents", "bypass", ""}) {
        std::string copy = text;
        EXPECT_EQ(effect.dispatcher(effCanDo, 0, 0, copy.data(), 0.0f), 0) << text;
    }
}

}  // namespace
