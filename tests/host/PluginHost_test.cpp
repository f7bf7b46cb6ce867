// What the host library tells about creation, and how set answers and
// handlers combine with the version query an effect makes at creation.
#include <gtest/gtest.h>

#include <string>

#include "PluginHost.h"

namespace {

TEST(Creation, AHandlerForOneOpcodeKeepsTheVersionQuery) {
    host::PluginLibrary library(PROBE_PLUGIN);
    host::Host hostSide;
    int timeRequests = 0;
    hostSide.setHandler(audioMasterGetTime, [&](const host::HostRequest&) -> VstIntPtr {
        ++timeRequests;
        return 0;
    });
    host::Effect effect(library, hostSide);
    EXPECT_EQ(effect.record()->magic, kEffectMagic);
    EXPECT_EQ(host::Host::callback(effect.record(), audioMasterVersion, 0, 0, nullptr, 0.0f), 2400);
    EXPECT_EQ(host::Host::callback(effect.record(), audioMasterGetTime, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(timeRequests, 1);
    // A handler takes precedence over a set answer for its opcode only.
    hostSide.setAnswer(audioMasterGetBlockSize, 64);
    hostSide.setAnswer(audioMasterGetSampleRate, 44100);
    hostSide.setHandler(audioMasterGetBlockSize, [](const host::HostRequest&) -> VstIntPtr { return 128; });
    EXPECT_EQ(host::Host::callback(effect.record(), audioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 128);
    EXPECT_EQ(host::Host::callback(effect.record(), audioMasterGetSampleRate, 0, 0, nullptr, 0.0f), 44100);
}

TEST(Creation, FailureSaysWhatTheEntryDidAndWhatTheHostAnswered) {
    const struct {
        const char* library;
        VstIntPtr versionAnswer;
        const char* problem;
        const char* answered;
    } kFailures[] = {
        {PROBE_PLUGIN, 0, "its entry function returned null", "the host answered 0 to its version query"},
        {REFUSING_PLUGIN, 2400, "its entry function returned null", "it did not ask for the host's version"},
        {BAD_MAGIC_PLUGIN, 2400, "no magic number 'VstP'", "the host answered 2400 to its version query"},
        {BAD_MAGIC_PLUGIN, -7, "no magic number 'VstP'", "the host answered -7 to its version query"},
    };
    for (const auto& row : kFailures) {
        host::PluginLibrary library(row.library);
        host::Host hostSide;
        hostSide.setAnswer(audioMasterVersion, row.versionAnswer);
        try {
            host::Effect effect(library, hostSide);
            ADD_FAILURE() << row.library << " made an effect";
        } catch (const host::HostError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(row.library), std::string::npos) << message;
            EXPECT_NE(message.find(row.problem), std::string::npos) << message;
            EXPECT_NE(message.find(row.answered), std::string::npos) << message;
        }
    }
}

TEST(Lifecycle, StartAndStopSendTheHostsSequence) {
    // The probe answers every opcode through the frame; what it was sent is
    // seen from the effect's side through a wrapped dispatcher.
    static std::vector<VstInt32> sent;
    static AEffectDispatcherProc original = nullptr;
    host::PluginLibrary library(PROBE_PLUGIN);
    host::Host hostSide;
    host::Effect effect(library, hostSide);
    original = effect.record()->dispatcher;
    effect.record()->dispatcher = [](AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                     float opt) -> VstIntPtr {
        sent.push_back(opcode);
        return original(e, opcode, index, value, ptr, opt);
    };
    sent.clear();
    effect.start(44100.0f, 512);
    EXPECT_EQ(sent, (std::vector<VstInt32>{effOpen, effSetSampleRate, effSetBlockSize, effMainsChanged,
                                           effStartProcess}));
    sent.clear();
    effect.stop();
    EXPECT_EQ(sent, (std::vector<VstInt32>{effStopProcess, effMainsChanged}));
    // Opened once in its life: a second start, or open() after it, sends no
    // effOpen; resume() is the start's last two steps alone.
    sent.clear();
    effect.start(48000.0f, 256);
    effect.open();
    effect.stop();
    effect.resume();
    EXPECT_EQ(sent, (std::vector<VstInt32>{effSetSampleRate, effSetBlockSize, effMainsChanged, effStartProcess,
                                           effStopProcess, effMainsChanged, effMainsChanged, effStartProcess}));
    effect.record()->dispatcher = original;
}

}  // namespace
