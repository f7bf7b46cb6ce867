// Realtime safety, shown rather than claimed: this program links the heap
// and lock interposers (host/HeapLockCounter.h), so the plug-in's heap and
// lock calls land there. Each thread counts its calls while a flag is
// armed around the measured calls. The audio path, the parameter calls and
// the text opcodes make none; creation obtains the effect in one allocation
// and effClose frees it once.
//
// The effect is driven through its record with a plain callback of this
// file, not the host library, whose callback locks and records.
//
// Under AddressSanitizer or ThreadSanitizer the sanitizer owns these
// functions, so there the test is skipped.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdlib>
#include <cmath>
#include <cstring>

#include "HeapLockCounter.h"
#include "PluginHost.h"

namespace {

using Counts = host::HeapLockCounts;

template <typename Calls>
Counts measure(Calls&& calls) {
    return host::countHeapAndLockCalls(calls);
}

constexpr VstIntPtr kHostVersion = 2400;
constexpr std::size_t kRingBufferBytes = 2 * 480000 * sizeof(float);
constexpr VstInt32 kBlockFrames = 512;
constexpr int kBlocks = 12;  // speed 100 is silent from frame 3,773: every state is passed
constexpr VstInt32 kTextOpcodes[] = {effGetParamLabel, effGetParamDisplay, effGetParamName,
                                     effGetEffectName, effGetVendorString, effGetProductString};
constexpr VstInt32 kIndices[] = {0, 1, 2, 3, -1};

// Answers the version query and nothing else: no lock, no heap.
VstIntPtr plainHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kHostVersion : 0;
}

void expectNothing(const Counts& counts, const char* what) {
    EXPECT_EQ(counts.allocations(), 0) << what;
    EXPECT_EQ(counts.frees, 0) << what;
    EXPECT_EQ(counts.deletes, 0) << what;
    EXPECT_EQ(counts.locks, 0) << what;
    EXPECT_EQ(counts.tryLocks, 0) << what;
    EXPECT_EQ(counts.unlocks, 0) << what;
}

class Realtime : public testing::Test {
protected:
    void SetUp() override {
if (!host::heaplock::available()) GTEST_SKIP() << "the sanitizer runtime owns the heap and lock functions";
    }
    host::PluginLibrary library{TAPESTOP_PLUGIN_PATH};
};

TEST_F(Realtime, TheCountersSeeWhatTheyCount) {
    // Without this the other tests could pass with the interposers unused.
    const Counts counts = measure([] {
        // Held in volatile pointers, so the compiler cannot drop the pairs.
        void* volatile block = std::malloc(16);
        std::free(block);
        int* volatile number = new int(1);
        delete number;
        pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
        pthread_mutex_lock(&mutex);
        pthread_mutex_unlock(&mutex);
    });
    EXPECT_EQ(counts.mallocs, 1);
    EXPECT_EQ(counts.frees, 1);
    EXPECT_EQ(counts.news, 1);
    EXPECT_EQ(counts.deletes, 1);
    EXPECT_EQ(counts.locks, 1);
    EXPECT_EQ(counts.unlocks, 1);
}

TEST_F(Realtime, OneAllocationAtCreationNoneOnTheAudioOrParameterPathOneFreeAtClose) {
    AEffect* effect = nullptr;
    const auto entry = library.entry();
    const Counts creation = measure([&] { effect = entry(plainHost); });
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(creation.allocations(), 1);
    EXPECT_GE(creation.largestBytes, kRingBufferBytes) << "the ring buffers are inside the effect object";
    EXPECT_EQ(creation.frees + creation.deletes, 0);
    EXPECT_EQ(creation.locks, 0);

    static float in[2][kBlockFrames], out[2][kBlockFrames];
    for (VstInt32 i = 0; i < kBlockFrames; ++i) in[0][i] = in[1][i] = static_cast<float>(i % 64) / 64.0f - 0.5f;
    float* inputs[2] = {in[0], in[1]};
    float* outputs[2] = {out[0], out[1]};

    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    expectNothing(measure([&] { effect->processReplacing(effect, inputs, outputs, kBlockFrames); }),
                  "pass-through");
    expectNothing(measure([&] {
                      effect->setParameter(effect, 1, 1.0f);
                      effect->setParameter(effect, 2, 0.75f);
                      effect->setParameter(effect, 0, 1.0f);
                      for (VstInt32 index : kIndices) effect->getParameter(effect, index);
                  }),
                  "parameters");
    expectNothing(measure([&] {
                      for (int block = 0; block < kBlocks; ++block)
                          effect->processReplacing(effect, inputs, outputs, kBlockFrames);
                  }),
                  "running, fading and stopped");
    char text[256];
    expectNothing(measure([&] {
                      for (VstInt32 opcode : kTextOpcodes)
                          for (VstInt32 index : kIndices) effect->dispatcher(effect, opcode, index, 0, text, 0.0f);
                  }),
                  "texts");
    EXPECT_EQ(out[0][kBlockFrames - 1], 0.25f * in[0][kBlockFrames - 1]) << "stopped: (1 - mix) times the input";

    const Counts closing = measure([&] { effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f); });
    EXPECT_EQ(closing.allocations(), 0);
    EXPECT_EQ(closing.frees + closing.deletes, 1) << "the effect object, once";
    EXPECT_EQ(closing.locks, 0);
}

// Minor page faults this thread takes during the calls.
template <typename Calls>
long pageFaults(Calls&& calls) {
    rusage before{}, after{};
    ::getrusage(RUSAGE_THREAD, &before);
    calls();
    ::getrusage(RUSAGE_THREAD, &after);
    return after.ru_minflt - before.ru_minflt;
}

// The ring buffers are written at creation, so the pages they lie on are
// mapped before the audio starts: recording into them in the first engaged
// blocks maps none. Left to the first write, each 1,024 frames recorded
// would cost two page faults on the audio thread.
TEST_F(Realtime, TheFirstEngagedBlocksTakeNoPageFaults) {
    constexpr int kEngagedBlocks = 64;  // 32,768 frames: 64 pages of recording
    constexpr long kAllowedFaults = 4;  // far below one per page
    static float in[2][kBlockFrames], out[2][kBlockFrames];
    float* inputs[2] = {in[0], in[1]};
    float* outputs[2] = {out[0], out[1]};
    const auto entry = library.entry();
    auto engagedBlocks = [&](AEffect* effect) {
        effect->setParameter(effect, 0, 1.0f);
        for (int block = 0; block < kEngagedBlocks; ++block)
            effect->processReplacing(effect, inputs, outputs, kBlockFrames);
    };
    // A first effect maps the engaged path's code and data pages.
    AEffect* warmUp = entry(plainHost);
    ASSERT_NE(warmUp, nullptr);
    warmUp->processReplacing(warmUp, inputs, outputs, kBlockFrames);
    engagedBlocks(warmUp);
    warmUp->dispatcher(warmUp, effClose, 0, 0, nullptr, 0.0f);

    AEffect* effect = entry(plainHost);
    ASSERT_NE(effect, nullptr);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    effect->processReplacing(effect, inputs, outputs, kBlockFrames);
    EXPECT_LE(pageFaults([&] { engagedBlocks(effect); }), kAllowedFaults);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}

TEST_F(Realtime, AHostAnsweringZeroGetsNoEffectAndNothingIsAllocated) {
    const auto entry = library.entry();
    AEffect* effect = reinterpret_cast<AEffect*>(1);
    const Counts counts = measure([&] {
        effect = entry([](AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return 0; });
    });
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(counts.allocations(), 0);
}

// TapeMotor sizes its tape outside the audio thread (creation, resume after
// a rate change); after that its audio, MIDI, parameter, program and text
// paths touch no heap and no lock, also while it reads the host's tempo.
namespace motor {

VstTimeInfo hostTime{};
VstIntPtr timedHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterGetTime) return reinterpret_cast<VstIntPtr>(&hostTime);
    return opcode == audioMasterVersion ? kHostVersion : 0;
}
enum : VstInt32 { kTrigger, kStop, kStart, kSync, kNumParameters = 6 };
constexpr VstInt32 kMotorOpcodes[] = {effGetParamLabel, effGetParamDisplay, effGetParamName, effGetProgramNameIndexed,
                                      effGetParameterProperties, effGetEffectName, effGetProductString};

}  // namespace motor

TEST_F(Realtime, TapeMotorAllocatesAndLocksNothingAfterSizingItsTape) {
    host::PluginLibrary tapeMotor{TAPEMOTOR_PLUGIN_PATH};
    motor::hostTime.tempo = 100.0;
    motor::hostTime.flags = kVstTempoValid;
    AEffect* effect = tapeMotor.entry()(motor::timedHost);
    ASSERT_NE(effect, nullptr);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 96000.0f);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);

    static float in[2][kBlockFrames], out[2][kBlockFrames];
    for (VstInt32 i = 0; i < kBlockFrames; ++i) in[0][i] = in[1][i] = static_cast<float>(i % 64) / 64.0f - 0.5f;
    float* inputs[2] = {in[0], in[1]};
    float* outputs[2] = {out[0], out[1]};
    const auto blocks = [&](int count) {
        for (int block = 0; block < count; ++block) effect->processReplacing(effect, inputs, outputs, kBlockFrames);
    };
    VstMidiEvent noteOn{kVstMidiType, sizeof(VstMidiEvent), 100, 0, 0, 0, {char(0x90), 60, 100, 0}, 0, 0, 0, 0};
    VstMidiEvent noteOff = noteOn;
    noteOff.midiData[0] = char(0x80);
    VstEvents events{1, 0, {reinterpret_cast<VstEvent*>(&noteOn), nullptr}};

    expectNothing(measure([&] { blocks(1); }), "caught up");
    expectNothing(measure([&] {
                      effect->setParameter(effect, motor::kStop, 0.0f);   // 10 ms
                      effect->setParameter(effect, motor::kStart, 0.0f);  // 10 ms
                      for (VstInt32 index = -1; index <= motor::kNumParameters; ++index) effect->getParameter(effect, index);
                  }),
                  "parameters");
    expectNothing(measure([&] {
                      effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
                      blocks(4);  // stop and standstill
                      events.events[0] = reinterpret_cast<VstEvent*>(&noteOff);
                      effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
                      blocks(8);  // start, crossfade, caught up
                      effect->setParameter(effect, motor::kSync, 1.0f);
                      effect->setParameter(effect, motor::kTrigger, 1.0f);
                      blocks(40);  // a synced stop at the host's tempo
                  }),
                  "events and processing");
    EXPECT_EQ(out[0][kBlockFrames - 1], 0.0f) << "stood still";
    char text[256];
    expectNothing(measure([&] {
                      for (VstInt32 opcode : motor::kMotorOpcodes)
                          for (VstInt32 index = -1; index <= motor::kNumParameters; ++index)
                              effect->dispatcher(effect, opcode, index, 0, text, 0.0f);
                      for (const char* typed : {"250 ms", "2 s", "1/8", "1 bar", "On", "-40", "nonsense"}) {
                          std::strcpy(text, typed);
                          effect->dispatcher(effect, effString2Parameter, motor::kStop, 0, text, 0.0f);
                      }
                      effect->dispatcher(effect, effSetProgram, 0, 2, nullptr, 0.0f);
                      effect->dispatcher(effect, effGetProgramName, 0, 0, text, 0.0f);
                      std::strcpy(text, "receiveVstMidiEvent");
                      effect->dispatcher(effect, effCanDo, 0, 0, text, 0.0f);
                      effect->dispatcher(effect, effGetTailSize, 0, 0, nullptr, 0.0f);
                  }),
                  "texts and programs");
    const Counts closing = measure([&] { effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f); });
    EXPECT_EQ(closing.allocations(), 0);
    // The editor (never opened here) holds its object and two lists of parameters.
    EXPECT_EQ(closing.frees + closing.deletes, 5) << "the tape, the effect object and the editor's three";
}

// Quantize on the host's beat, Latch, Spinback and Tone touch no heap and
// no lock either, also after the host set a rate that grows the tape while
// the plug-in runs: the call that sets it makes the grown tape, the blocks
// after it only take it over.
TEST_F(Realtime, TapeMotorOnTheBeatSpunBackAndDarkAfterALateRateTouchesNoHeap) {
    constexpr VstInt32 kQuantize = 6, kMode = 7, kBrake = 8, kTone = 9;
    constexpr double kTempoBpm = 120.0, kRateHz = 192000.0;
    host::PluginLibrary tapeMotor{TAPEMOTOR_PLUGIN_PATH};
    motor::hostTime = VstTimeInfo{};
    motor::hostTime.tempo = kTempoBpm;
    motor::hostTime.timeSigNumerator = motor::hostTime.timeSigDenominator = 4;
    motor::hostTime.flags = kVstTransportPlaying | kVstTempoValid | kVstPpqPosValid | kVstBarsValid | kVstTimeSigValid;
    AEffect* effect = tapeMotor.entry()(motor::timedHost);
    ASSERT_NE(effect, nullptr);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 8000.0f);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    for (VstInt32 index : {kMode, kBrake, kTone}) effect->setParameter(effect, index, 1.0f);
    effect->setParameter(effect, kQuantize, 0.6f);  // 1/4
    effect->setParameter(effect, motor::kStop, 0.0f);
    effect->setParameter(effect, motor::kStart, 0.0f);

    static float in[2][kBlockFrames], out[2][kBlockFrames];
    for (VstInt32 i = 0; i < kBlockFrames; ++i) in[0][i] = in[1][i] = static_cast<float>(i % 64) / 64.0f - 0.5f;
    float* inputs[2] = {in[0], in[1]};
    float* outputs[2] = {out[0], out[1]};
    const auto blocks = [&](int count) {
        for (int block = 0; block < count; ++block) {
            effect->processReplacing(effect, inputs, outputs, kBlockFrames);
            motor::hostTime.ppqPos += kBlockFrames * kTempoBpm / 60.0 / kRateHz;
            motor::hostTime.barStartPos = 4.0 * std::floor(motor::hostTime.ppqPos / 4.0);
        }
    };
    blocks(1);
    const Counts growing = measure([&] { effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 192000.0f); });
    EXPECT_GT(growing.allocations(), 0) << "the grown tape is made by the host's call";
    VstMidiEvent noteOn{kVstMidiType, sizeof(VstMidiEvent), 100, 0, 0, 0, {char(0x90), 60, 100, 0}, 0, 0, 0, 0};
    VstEvents events{1, 0, {reinterpret_cast<VstEvent*>(&noteOn), nullptr}};
    expectNothing(measure([&] {
                      blocks(2);  // the grown tape taken over
                      effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
                      blocks(400);  // to the beat, a spinback, standstill
                      effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
                      blocks(400);  // to the beat, a start
                  }),
                  "processing");
    effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}

}  // namespace
