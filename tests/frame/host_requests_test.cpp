// Every request an effect can make of its host: the opcode and the index,
// value, ptr and opt the host receives, how the host's answer becomes the
// result, and what the request yields when no host is attached.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "PluginHost.h"
#include "frame/RecordingEffect.h"

namespace {

using frametest::CallLog;
using frametest::note;
using Calls = std::vector<std::string>;

constexpr VstIntPtr k2To32 = VstIntPtr{1} << 32;
constexpr VstIntPtr k2To40 = VstIntPtr{1} << 40;
void* const kPlace = reinterpret_cast<void*>(std::uintptr_t{0x5000});
char* const kText = static_cast<char*>(kPlace);
char kCanDoText[] = "receiveVstMidiEvent";

// An effect with the frame's requests, noting the setters a request might run.
class RequestingEffect : public AudioEffectX {
public:
    RequestingEffect(audioMasterCallback audioMaster, CallLog& log) : AudioEffectX(audioMaster, 1, 4), log(log) {}
    void processReplacing(float**, float**, VstInt32) override {}
    void setParameter(VstInt32 index, float value) override { note(log, "setParameter", index, value); }
    void setSampleRate(float rate) override { note(log, "setSampleRate", rate); }
    void setBlockSize(VstInt32 size) override { note(log, "setBlockSize", size); }

private:
    CallLog& log;
};

// A result as text with its type, so that the table also checks what kind
// of value each request answers.
std::string show(bool state) { return state ? "true" : "false"; }
std::string show(VstInt32 value) { return "i32 " + std::to_string(value); }
std::string show(VstIntPtr value) { return "iptr " + std::to_string(value); }
std::string show(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "f64 %.17g", value);
    return text;
}
template <typename T>
std::string show(T* pointer) {
    return "ptr " + frametest::argText(pointer);
}
const std::string kNone = "none";

struct Row {
    const char* request;
    std::function<std::string(AudioEffectX&)> make;
    VstIntPtr hostAnswer;
    bool callsHost;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
    std::string result;
    std::string withoutHost;
    Calls effectCalls = {};
};

using E = AudioEffectX;
const std::vector<Row> kRows = {
    {"setParameterAutomated", [](E& e) { e.setParameterAutomated(2, 0.25f); return kNone; },
     7, true, 0, 2, 0, nullptr, 0.25f, kNone, kNone, {"setParameter(2, 0.25)"}},
    {"getMasterVersion", [](E& e) { return show(e.getMasterVersion()); }, 0, true, 1, 0, 0, nullptr, 0, "i32 1", "i32 1"},
    {"getMasterVersion", [](E& e) { return show(e.getMasterVersion()); }, 2400, true, 1, 0, 0, nullptr, 0, "i32 2400", "i32 1"},
    {"getMasterVersion", [](E& e) { return show(e.getMasterVersion()); }, k2To32, true, 1, 0, 0, nullptr, 0, "i32 1", "i32 1"},
    {"getMasterVersion", [](E& e) { return show(e.getMasterVersion()); }, k2To32 + 5, true, 1, 0, 0, nullptr, 0, "i32 5", "i32 1"},
    {"getCurrentUniqueId", [](E& e) { return show(e.getCurrentUniqueId()); },
     k2To32 + 0x746B717A, true, 2, 0, 0, nullptr, 0, "i32 1953198458", "i32 0"},
    {"masterIdle", [](E& e) { e.masterIdle(); return kNone; }, 5, true, 3, 0, 0, nullptr, 0, kNone, kNone},
    // A connected pin is one the host answers 0 for, tested on the low 32 bits.
    {"isInputConnected", [](E& e) { return show(e.isInputConnected(3)); }, 0, true, 4, 3, 0, nullptr, 0, "true", "true"},
    {"isInputConnected", [](E& e) { return show(e.isInputConnected(3)); }, 1, true, 4, 3, 0, nullptr, 0, "false", "true"},
    {"isInputConnected", [](E& e) { return show(e.isInputConnected(3)); }, k2To32, true, 4, 3, 0, nullptr, 0, "true", "true"},
    {"isOutputConnected", [](E& e) { return show(e.isOutputConnected(3)); }, 0, true, 4, 3, 1, nullptr, 0, "true", "true"},
    {"isOutputConnected", [](E& e) { return show(e.isOutputConnected(3)); }, 1, true, 4, 3, 1, nullptr, 0, "false", "true"},
    {"wantEvents", [](E& e) { e.wantEvents(-2); return kNone; }, 1, true, 6, 0, -2, nullptr, 0, kNone, kNone},
    {"getTimeInfo", [](E& e) { return show(e.getTimeInfo(1024)); }, 0x7000, true, 7, 0, 1024, nullptr, 0, "ptr 0x7000", "ptr 0"},
    {"tempoAt", [](E& e) { return show(e.tempoAt(-5)); }, k2To32 + 120000, true, 10, 0, -5, nullptr, 0, "i32 120000", "i32 0"},
    {"getNumAutomatableParameters", [](E& e) { return show(e.getNumAutomatableParameters()); },
     9, true, 11, 0, 0, nullptr, 0, "i32 9", "i32 0"},
    {"getParameterQuantization", [](E& e) { return show(e.getParameterQuantization()); },
     -1, true, 12, 0, 0, nullptr, 0, "i32 -1", "i32 0"},
    {"ioChanged", [](E& e) { return show(e.ioChanged()); }, k2To32, true, 13, 0, 0, nullptr, 0, "true", "false"},
    {"needIdle", [](E& e) { return show(e.needIdle()); }, -1, true, 14, 0, 0, nullptr, 0, "true", "false"},
    {"sizeWindow", [](E& e) { return show(e.sizeWindow(640, -480)); }, 1, true, 15, 640, -480, nullptr, 0, "true", "false"},
    // The sample rate's positive test looks at the whole answer...
    {"updateSampleRate", [](E& e) { return show(e.updateSampleRate()); }, 48000, true, 16, 0, 0, nullptr, 0, "f64 48000", "f64 44100"},
    {"updateSampleRate", [](E& e) { return show(e.updateSampleRate()); }, 0, true, 16, 0, 0, nullptr, 0, "f64 44100", "f64 44100"},
    {"updateSampleRate", [](E& e) { return show(e.updateSampleRate()); }, -1, true, 16, 0, 0, nullptr, 0, "f64 44100", "f64 44100"},
    {"updateSampleRate", [](E& e) { return show(e.updateSampleRate()); },
     4294967295, true, 16, 0, 0, nullptr, 0, "f64 4294967296", "f64 44100"},
    {"updateSampleRate", [](E& e) { return show(e.updateSampleRate()); },
     k2To32, true, 16, 0, 0, nullptr, 0, "f64 4294967296", "f64 44100"},
    // ...the block size's only at its low 32 bits.
    {"updateBlockSize", [](E& e) { return show(e.updateBlockSize()); }, 512, true, 17, 0, 0, nullptr, 0, "i32 512", "i32 1024"},
    {"updateBlockSize", [](E& e) { return show(e.updateBlockSize()); }, k2To32 + 512, true, 17, 0, 0, nullptr, 0, "i32 512", "i32 1024"},
    {"updateBlockSize", [](E& e) { return show(e.updateBlockSize()); }, k2To32, true, 17, 0, 0, nullptr, 0, "i32 1024", "i32 1024"},
    {"updateBlockSize", [](E& e) { return show(e.updateBlockSize()); }, 0, true, 17, 0, 0, nullptr, 0, "i32 1024", "i32 1024"},
    {"updateBlockSize", [](E& e) { return show(e.updateBlockSize()); }, 4294967295, true, 17, 0, 0, nullptr, 0, "i32 1024", "i32 1024"},
    {"getInputLatency", [](E& e) { return show(e.getInputLatency()); }, 64, true, 18, 0, 0, nullptr, 0, "i32 64", "i32 0"},
    {"getOutputLatency", [](E& e) { return show(e.getOutputLatency()); }, 128, true, 19, 0, 0, nullptr, 0, "i32 128", "i32 0"},
    {"getPreviousPlug", [](E& e) { return show(e.getPreviousPlug(5)); }, 0x8000, true, 20, 0, 0, nullptr, 0, "ptr 0x8000", "ptr 0"},
    {"getNextPlug", [](E& e) { return show(e.getNextPlug(5)); }, 0x8000, true, 21, 0, 0, nullptr, 0, "ptr 0x8000", "ptr 0"},
    {"willProcessReplacing", [](E& e) { return show(e.willProcessReplacing()); }, 1, true, 22, 0, 0, nullptr, 0, "i32 1", "i32 0"},
    {"getCurrentProcessLevel", [](E& e) { return show(e.getCurrentProcessLevel()); }, 2, true, 23, 0, 0, nullptr, 0, "i32 2", "i32 0"},
    {"getAutomationState", [](E& e) { return show(e.getAutomationState()); }, 3, true, 24, 0, 0, nullptr, 0, "i32 3", "i32 0"},
    {"offlineStart", [](E& e) { return show(e.offlineStart(static_cast<VstAudioFile*>(kPlace), -3, 4)); },
     1, true, 25, 4, -3, kPlace, 0, "true", "false"},
    {"offlineRead", [](E& e) { return show(e.offlineRead(static_cast<VstOfflineTask*>(kPlace), 2, true)); },
     1, true, 26, 1, 2, kPlace, 0, "true", "false"},
    {"offlineRead", [](E& e) { return show(e.offlineRead(static_cast<VstOfflineTask*>(kPlace), 2, false)); },
     0, true, 26, 0, 2, kPlace, 0, "false", "false"},
    {"offlineWrite", [](E& e) { return show(e.offlineWrite(static_cast<VstOfflineTask*>(kPlace), -2)); },
     k2To32, true, 27, 0, -2, kPlace, 0, "true", "false"},
    {"offlineGetCurrentPass", [](E& e) { return show(e.offlineGetCurrentPass()); }, k2To32, true, 28, 0, 0, nullptr, 0, "i32 1", "i32 0"},
    {"offlineGetCurrentPass", [](E& e) { return show(e.offlineGetCurrentPass()); }, -7, true, 28, 0, 0, nullptr, 0, "i32 1", "i32 0"},
    {"offlineGetCurrentMetaPass", [](E& e) { return show(e.offlineGetCurrentMetaPass()); }, 5, true, 29, 0, 0, nullptr, 0, "i32 1", "i32 0"},
    {"setOutputSamplerate", [](E& e) { e.setOutputSamplerate(96000.0f); return kNone; }, 1, true, 30, 0, 0, nullptr, 96000.0f, kNone, kNone},
    {"getOutputSpeakerArrangement", [](E& e) { return show(e.getOutputSpeakerArrangement()); },
     0x9000, true, 31, 0, 0, nullptr, 0, "ptr 0x9000", "ptr 0"},
    {"getHostVendorString", [](E& e) { return show(e.getHostVendorString(kText)); }, 1, true, 32, 0, 0, kPlace, 0, "true", "false"},
    {"getHostProductString", [](E& e) { return show(e.getHostProductString(kText)); }, 1, true, 33, 0, 0, kPlace, 0, "true", "false"},
    {"getHostVendorVersion", [](E& e) { return show(e.getHostVendorVersion()); }, 1000, true, 34, 0, 0, nullptr, 0, "i32 1000", "i32 0"},
    {"hostVendorSpecific", [](E& e) { return show(e.hostVendorSpecific(-3, k2To40, kPlace, 0.75f)); },
     0x123456789AB, true, 35, -3, k2To40, kPlace, 0.75f, "iptr 1250999896491", "iptr 0"},
    {"canHostDo", [](E& e) { return show(e.canHostDo(kCanDoText)); }, -1, true, 37, 0, 0, kCanDoText, 0, "i32 1", "i32 0"},
    {"getHostLanguage", [](E& e) { return show(e.getHostLanguage()); }, 2, true, 38, 0, 0, nullptr, 0, "i32 2", "i32 0"},
    {"openWindow", [](E& e) { return show(e.openWindow(static_cast<VstWindow*>(kPlace))); },
     0xA000, true, 39, 0, 0, kPlace, 0, "ptr 0xa000", "ptr 0"},
    {"closeWindow", [](E& e) { return show(e.closeWindow(static_cast<VstWindow*>(kPlace))); },
     1, true, 40, 0, 0, kPlace, 0, "true", "false"},
    {"getDirectory", [](E& e) { return show(e.getDirectory()); }, 0xB000, true, 41, 0, 0, nullptr, 0, "ptr 0xb000", "ptr 0"},
    {"updateDisplay", [](E& e) { return show(e.updateDisplay()); }, 1, true, 42, 0, 0, nullptr, 0, "true", "false"},
    {"beginEdit", [](E& e) { return show(e.beginEdit(-6)); }, 1, true, 43, -6, 0, nullptr, 0, "true", "false"},
    {"endEdit", [](E& e) { return show(e.endEdit(6)); }, 1, true, 44, 6, 0, nullptr, 0, "true", "false"},
    {"openFileSelector", [](E& e) { return show(e.openFileSelector(static_cast<VstFileSelect*>(kPlace))); },
     1, true, 45, 0, 0, kPlace, 0, "true", "false"},
    {"openFileSelector", [](E& e) { return show(e.openFileSelector(nullptr)); }, 1, false, 45, 0, 0, nullptr, 0, "false", "false"},
    {"closeFileSelector", [](E& e) { return show(e.closeFileSelector(static_cast<VstFileSelect*>(kPlace))); },
     1, true, 46, 0, 0, kPlace, 0, "true", "false"},
    {"closeFileSelector", [](E& e) { return show(e.closeFileSelector(nullptr)); }, 1, false, 46, 0, 0, nullptr, 0, "false", "false"},
    {"getChunkFile", [](E& e) { return show(e.getChunkFile(kPlace)); }, 1, true, 48, 0, 0, kPlace, 0, "true", "false"},
    {"getChunkFile", [](E& e) { return show(e.getChunkFile(nullptr)); }, 1, false, 48, 0, 0, nullptr, 0, "false", "false"},
    {"getInputSpeakerArrangement", [](E& e) { return show(e.getInputSpeakerArrangement()); },
     0xC000, true, 49, 0, 0, nullptr, 0, "ptr 0xc000", "ptr 0"},
};

TEST(HostRequests, TheTableCoversAllFortySixRequests) {
    std::set<std::string> names;
    for (const Row& row : kRows) names.insert(row.request);
    EXPECT_EQ(names.size(), 46u);
}

TEST(HostRequests, EachRequestPlacesItsArgumentsAndTurnsTheAnswerIntoItsResult) {
    for (const Row& row : kRows) {
        CallLog log;
        host::Host hostSide;
        hostSide.setAnswer(row.opcode, row.hostAnswer);
        auto* requesting = new RequestingEffect(&host::Host::callback, log);
        host::Effect effect(requesting->getAeffect(), hostSide);

        const std::string where = std::string(row.request) + " answered " + std::to_string(row.hostAnswer);
        EXPECT_EQ(row.make(*requesting), row.result) << where;
        EXPECT_EQ(log.calls, row.effectCalls) << where;
        const std::vector<host::HostRequest> requests = hostSide.requests();
        ASSERT_EQ(requests.size(), row.callsHost ? 1u : 0u) << where;
        if (!row.callsHost) continue;
        EXPECT_EQ(requests[0].effect, effect.record()) << where;
        EXPECT_EQ(requests[0].opcode, row.opcode) << where;
        EXPECT_EQ(requests[0].index, row.index) << where;
        EXPECT_EQ(requests[0].value, row.value) << where;
        EXPECT_EQ(requests[0].ptr, row.ptr) << where;
        EXPECT_EQ(requests[0].opt, row.opt) << where;
    }
}

TEST(HostRequests, WithoutAHostEachRequestBehavesAsIfTheHostAnswered0) {
    for (const Row& row : kRows) {
        CallLog log;
        RequestingEffect effect(nullptr, log);
        EXPECT_EQ(row.make(effect), row.withoutHost) << row.request;
        EXPECT_EQ(log.calls, row.effectCalls) << row.request;
    }
}

TEST(HostRequests, SetParameterAutomatedRunsTheSetterBeforeTellingTheHost) {
    host::Host hostSide;
    std::vector<std::size_t> requestsSeenBySetter;
    class Effect : public RequestingEffect {
    public:
        Effect(CallLog& log, host::Host& h, std::vector<std::size_t>& seen)
            : RequestingEffect(&host::Host::callback, log), h(h), seen(seen) {}
        void setParameter(VstInt32, float) override { seen.push_back(h.requests().size()); }
        host::Host& h;
        std::vector<std::size_t>& seen;
    };
    CallLog log;
    auto* automated = new Effect(log, hostSide, requestsSeenBySetter);
    host::Effect effect(automated->getAeffect(), hostSide);
    automated->setParameterAutomated(1, 0.5f);
    EXPECT_EQ(requestsSeenBySetter, std::vector<std::size_t>{0});
    EXPECT_EQ(hostSide.requestsWithOpcode(audioMasterAutomate).size(), 1u);
}

TEST(HostRequests, UpdatesKeepWhatTheyStored) {
    CallLog log;
    host::Host hostSide;
    auto* requesting = new RequestingEffect(&host::Host::callback, log);
    host::Effect effect(requesting->getAeffect(), hostSide);

    hostSide.setAnswer(audioMasterGetSampleRate, 48000);
    hostSide.setAnswer(audioMasterGetBlockSize, k2To32 + 512);
    requesting->updateSampleRate();
    requesting->updateBlockSize();
    EXPECT_EQ(requesting->getSampleRate(), 48000.0f);
    EXPECT_EQ(requesting->getBlockSize(), 512);

    hostSide.setAnswer(audioMasterGetSampleRate, -1);
    hostSide.setAnswer(audioMasterGetBlockSize, k2To32);
    EXPECT_EQ(requesting->updateSampleRate(), 48000.0);
    EXPECT_EQ(requesting->updateBlockSize(), 512);
    EXPECT_TRUE(log.calls.empty());
}

}  // namespace
