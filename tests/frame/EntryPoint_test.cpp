// Creation through the exported entry function and the record a host reads,
// exercised on the built tape-stop plug-in.
#include <gtest/gtest.h>

#include <cstring>

#include "LoadedPlugin.h"

namespace {

using testing_support::tapeStopLibrary;

constexpr VstInt32 kMagicVstP = 0x56737450;
constexpr VstInt32 kTapeStopId = 0x746B717A;  // 'tkqz'

TEST(EntryPoint, ExportsOneFunctionUnderBothNames) {
    auto& library = tapeStopLibrary();
    void* pluginMain = library.symbol("VSTPluginMain");
    ASSERT_NE(pluginMain, nullptr);
    EXPECT_EQ(library.symbol("main"), pluginMain);
    // Frame and effect symbols stay inside the library.
    EXPECT_EQ(library.symbol("createEffectInstance"), nullptr);
    EXPECT_EQ(library.symbol("_Z20createEffectInstancePFlP7AEffectiilPvfE"), nullptr);
}

TEST(EntryPoint, AsksTheVersionFirstWithANullRecord) {
    host::Host hostSide;
    host::Effect effect(tapeStopLibrary(), hostSide);
    const auto requests = hostSide.requests();
    ASSERT_FALSE(requests.empty());
    const host::HostRequest& first = requests.front();
    EXPECT_EQ(first.effect, nullptr);
    EXPECT_EQ(first.opcode, 1);
    EXPECT_EQ(first.index, 0);
    EXPECT_EQ(first.value, 0);
    EXPECT_EQ(first.ptr, nullptr);
    EXPECT_EQ(first.opt, 0.0f);
    // Creation asks nothing else.
    EXPECT_EQ(requests.size(), 1u);
}

TEST(EntryPoint, VersionAnswerDecidesCreation) {
    struct Case {
        VstIntPtr versionAnswer;
        bool created;
    };
    for (const Case& c : {Case{0, false}, Case{1, true}, Case{2400, true}, Case{-1, true}}) {
        host::Host hostSide;
        hostSide.setAnswer(1, c.versionAnswer);
        if (c.created) {
            host::Effect effect(tapeStopLibrary(), hostSide);
            EXPECT_EQ(effect.record()->magic, kMagicVstP) << "version answer " << c.versionAnswer;
        } else {
            EXPECT_THROW(host::Effect(tapeStopLibrary(), hostSide), host::HostError);
        }
    }
}

TEST(EntryPoint, EntryReturnsNullWhenTheHostAnswersZero) {
    auto refuse = [](AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return 0; };
    EXPECT_EQ(tapeStopLibrary().entry()(refuse), nullptr);
}

TEST(EntryPoint, RecordOfANewTapeStop) {
    host::Host hostSide;
    host::Effect effect(tapeStopLibrary(), hostSide);
    const AEffect& r = *effect.record();
    EXPECT_EQ(r.magic, kMagicVstP);
    EXPECT_EQ(r.numPrograms, 1);
    EXPECT_EQ(r.numParams, 3);
    EXPECT_EQ(r.numInputs, 2);
    EXPECT_EQ(r.numOutputs, 2);
    EXPECT_EQ(r.flags, 16);
    EXPECT_EQ(r.resvd1, 0);
    EXPECT_EQ(r.resvd2, 0);
    EXPECT_EQ(r.initialDelay, 0);
    EXPECT_EQ(r.realQualities, 0);
    EXPECT_EQ(r.offQualities, 0);
    EXPECT_EQ(r.ioRatio, 1.0f);
    EXPECT_NE(r.object, nullptr);
    EXPECT_EQ(r.user, nullptr);
    EXPECT_EQ(r.uniqueID, kTapeStopId);
    EXPECT_EQ(r.version, 1);
    const char zeros[56] = {};
    EXPECT_EQ(std::memcmp(r.future, zeros, sizeof(zeros)), 0);
    EXPECT_NE(r.dispatcher, nullptr);
    EXPECT_NE(r.process, nullptr);
    EXPECT_NE(r.setParameter, nullptr);
    EXPECT_NE(r.getParameter, nullptr);
    EXPECT_NE(r.processReplacing, nullptr);
    EXPECT_NE(r.processDoubleReplacing, nullptr);
    // The alignment gaps after magic and flags are zero as well.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
    for (int offset : {4, 5, 6, 7, 60, 61, 62, 63}) EXPECT_EQ(bytes[offset], 0) << "byte " << offset;
}

TEST(EntryPoint, TwoCallsMakeIndependentEffects) {
    host::Host hostSide;
    host::Effect first(tapeStopLibrary(), hostSide);
    host::Effect second(tapeStopLibrary(), hostSide);
    EXPECT_NE(first.record(), second.record());
    EXPECT_NE(first.record()->object, second.record()->object);
    first.setParameter(2, 0.25f);
    EXPECT_EQ(first.getParameter(2), 0.25f);
    EXPECT_EQ(second.getParameter(2), 1.0f);
}

TEST(EntryPoint, CloseAnswersOneAndSendsNothing) {
    host::Host hostSide;
    host::Effect effect(tapeStopLibrary(), hostSide);
    hostSide.clearRequests();
    EXPECT_EQ(effect.close(), 1);
    EXPECT_FALSE(effect.isOpen());
    EXPECT_TRUE(hostSide.requests().empty());
}

// The deprecated process and the double-precision process leave the outputs alone.
TEST(EntryPoint, UnofferedProcessFunctionsWriteNothing) {
    host::Host hostSide;
    host::Effect effect(tapeStopLibrary(), hostSide);
    AEffect* r = effect.record();
    float in[4] = {1, 2, 3, 4};
    float out[4] = {-5, -5, -5, -5};
    float* inputs[2] = {in, in + 2};
    float* outputs[2] = {out, out + 2};
    r->process(r, inputs, outputs, 2);
    double din[4] = {1, 2, 3, 4};
    double dout[4] = {-5, -5, -5, -5};
    double* dinputs[2] = {din, din + 2};
    double* doutputs[2] = {dout, dout + 2};
    r->processDoubleReplacing(r, dinputs, doutputs, 2);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(out[i], -5.0f);
        EXPECT_EQ(dout[i], -5.0);
    }
}

}  // namespace
