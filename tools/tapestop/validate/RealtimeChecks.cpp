// No heap call and no lock on the audio thread: the heap and lock functions
// of this process are interposed (host/HeapLockCounter.h), and only calls
// made on this thread inside processReplacing, setParameter, getParameter and
// the text opcodes count. The host callback answers from a fixed table with
// counting paused, so the host's own work never counts against the plug-in;
// the table keeps the host's side free of heap calls and locks altogether.
#include <algorithm>
#include <random>

#include "Checks.h"
#include "HeapLockCounter.h"
#include "Session.h"

namespace tapestop::validate {

namespace {

constexpr float kSampleRateHz = 48000.0f;
constexpr VstInt32 kBlockFrames = 512;
constexpr VstInt32 kTextOpcodes[] = {effGetParamName, effGetParamLabel, effGetParamDisplay};
constexpr VstInt32 kNameOpcodes[] = {effGetEffectName, effGetVendorString, effGetProductString, effGetProgramName};

// A transport standing at the start, playing at 120 BPM in 4/4.
VstTimeInfo standingTransport() {
    VstTimeInfo time{};
    time.sampleRate = kSampleRateHz;
    time.tempo = 120.0;
    time.timeSigNumerator = 4;
    time.timeSigDenominator = 4;
    time.flags = kVstTransportPlaying | kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid;
    return time;
}

VstIntPtr tableHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    host::HeapLockCountingPause pause;
    static VstTimeInfo time = standingTransport();
    switch (opcode) {
    case audioMasterVersion: return kVstVersion;
    case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(&time);
    case audioMasterGetSampleRate: return static_cast<VstIntPtr>(kSampleRateHz);
    case audioMasterGetBlockSize: return kBlockFrames;
    default: return 0;
    }
}

void add(host::HeapLockCounts& total, const host::HeapLockCounts& more) {
    total.mallocs += more.mallocs;
    total.callocs += more.callocs;
    total.reallocs += more.reallocs;
    total.frees += more.frees;
    total.news += more.news;
    total.deletes += more.deletes;
    total.locks += more.locks;
    total.tryLocks += more.tryLocks;
    total.unlocks += more.unlocks;
}

// Heap calls and locks that may wait fail; try-locks, which never wait but
// still share a lock with other threads, warn and fail at 10.
void judge(CheckContext& context, const host::HeapLockCounts& counts, const std::string& during) {
    if (counts.heapCalls() > 0)
        context.fail(during + ": " + std::to_string(counts.heapCalls()) + " heap calls (malloc " +
                     std::to_string(counts.mallocs) + ", calloc " + std::to_string(counts.callocs) + ", realloc " +
                     std::to_string(counts.reallocs) + ", free " + std::to_string(counts.frees) + ", new " +
                     std::to_string(counts.news) + ", delete " + std::to_string(counts.deletes) + ")");
    if (counts.locks > 0) context.fail(during + ": " + std::to_string(counts.locks) + " locks that may wait");
    if (counts.tryLocks > 0)
        context.failFrom(kMaxStrictness, during + ": " + std::to_string(counts.tryLocks) + " try-locks");
}

template <typename Calls>
void count(host::HeapLockCounts& total, Calls&& calls) {
    add(total, host::countHeapAndLockCalls(calls));
}

}  // namespace

void checkRealtime(CheckContext& context) {
    if (!host::heaplock::available()) {
        context.warn("not checked: this build of tapestop does not interpose the heap and lock functions");
        return;
    }
    host::PluginLibrary library(context.settings().pluginPath);
    context.step("creating and starting");
    AEffect* record = library.entry()(tableHost);
    if (record == nullptr) throw std::runtime_error("the entry function returned null");
    ValidationHost unused;  // the effect calls tableHost; this only closes it
    host::Effect effect(record, unused);
    effect.start(kSampleRateHz, kBlockFrames);

    const int channels = std::max({record->numInputs, record->numOutputs, 1});
    Signal in = testSignal(channels, kBlockFrames, context.settings().seed);
    Signal out = silence(channels, kBlockFrames);
    std::vector<float*> inputs = channelPointers(in), outputs = channelPointers(out);
    std::vector<char> text(GuardedText::kBufferBytes);
    const std::vector<float> values = parameterValues(context, 4);
    const int blocks = context.scaled(50, 400);
    host::HeapLockCounts processing, parameters, texts;
    std::mt19937 random(context.settings().seed);
    for (int block = 0; block < blocks; ++block) {
        context.step("processReplacing, block " + std::to_string(block));
        count(processing, [&] { processBlock(effect, inputs.data(), outputs.data(), kBlockFrames); });
        if (record->numParams == 0) continue;
        const VstInt32 index = static_cast<VstInt32>(random() % static_cast<unsigned>(record->numParams));
        const float value = values[random() % values.size()];
        context.step("parameter " + std::to_string(index));
        count(parameters, [&] {
            effect.setParameter(index, value);
            effect.getParameter(index);
        });
        context.step("texts of parameter " + std::to_string(index));
        count(texts, [&] {
            for (VstInt32 opcode : kTextOpcodes) effect.dispatch(opcode, index, 0, text.data());
        });
    }
    context.step("effect, vendor, product and program names");
    count(texts, [&] {
        for (VstInt32 opcode : kNameOpcodes) effect.dispatch(opcode, 0, 0, text.data());
    });
    judge(context, processing, "during processReplacing");
    judge(context, parameters, "during setParameter and getParameter");
    judge(context, texts, "during the text opcodes");
    if (context.result() == Result::kPass)
        context.note(std::to_string(blocks) + " blocks with parameter changes and texts between them: no heap call, no lock");
}

}  // namespace tapestop::validate
