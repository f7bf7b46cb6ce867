// The StereoGain example loaded as a host loads it: its record, its one
// parameter, its processing and its texts, with the rest left to the frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PluginHost.h"

namespace {

const std::string kPluginPath = std::string(TAPESTOP_BUILD_DIR) + "/stereogain.so";
constexpr VstInt32 kTgGn = 0x5467476E;
constexpr VstInt32 kCanReplacing = 16;
constexpr float kSampleRateHz = 44100.0f;
constexpr VstInt32 kBlockFrames = 64;

class StereoGainPlugin : public ::testing::Test {
protected:
    host::PluginLibrary library{kPluginPath};
    host::Host hostSide;
    host::Effect effect{library, hostSide};
};

TEST_F(StereoGainPlugin, RecordDescribesAStereoEffectWithOneParameter) {
    const AEffect& record = *effect.record();
    EXPECT_EQ(record.uniqueID, kTgGn);
    EXPECT_EQ(host::fourCharText(record.uniqueID), "TgGn");
    EXPECT_EQ(record.numInputs, 2);
    EXPECT_EQ(record.numOutputs, 2);
    EXPECT_EQ(record.numParams, 1);
    EXPECT_EQ(record.numPrograms, 1);
    EXPECT_EQ(record.flags, kCanReplacing);
    EXPECT_EQ(record.version, 1);
    const std::vector<host::HostRequest> requests = hostSide.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].opcode, audioMasterVersion);
    EXPECT_EQ(requests[0].effect, nullptr);
}

TEST_F(StereoGainPlugin, GainParameterStoresTheHostsValue) {
    EXPECT_EQ(effect.getParameter(0), 0.5f);
    effect.setParameter(0, 0.25f);
    EXPECT_EQ(effect.getParameter(0), 0.25f);
    effect.setParameter(1, 0.75f);
    effect.setParameter(-1, 0.75f);
    EXPECT_EQ(effect.getParameter(0), 0.25f);
    EXPECT_EQ(effect.getParameter(1), 0.0f);
}

TEST_F(StereoGainPlugin, ScalesBothChannelsByTwiceTheParameter) {
    effect.start(kSampleRateHz, kBlockFrames);
    std::vector<float> inL(kBlockFrames), inR(kBlockFrames), outL(kBlockFrames), outR(kBlockFrames);
    for (VstInt32 i = 0; i < kBlockFrames; ++i) {
        inL[i] = 0.01f * static_cast<float>(i) - 0.3f;
        inR[i] = -0.02f * static_cast<float>(i) + 0.7f;
    }
    effect.processStereo(inL.data(), inR.data(), outL.data(), outR.data(), kBlockFrames);
    EXPECT_EQ(outL, inL);  // unity at the default
    EXPECT_EQ(outR, inR);

    effect.setParameter(0, 0.25f);
    effect.processStereo(inL.data(), inR.data(), outL.data(), outR.data(), kBlockFrames);
    for (VstInt32 i = 0; i < kBlockFrames; ++i) {
        EXPECT_EQ(outL[i], inL[i] * 0.5f) << i;
        EXPECT_EQ(outR[i], inR[i] * 0.5f) << i;
    }

    // One buffer as both input and output of each channel.
    std::vector<float> left = inL, right = inR;
    effect.setParameter(0, 1.0f);
    effect.processStereo(left.data(), right.data(), left.data(), right.data(), kBlockFrames);
    for (VstInt32 i = 0; i < kBlockFrames; ++i) {
        EXPECT_EQ(left[i], inL[i] * 2.0f) << i;
        EXPECT_EQ(right[i], inR[i] * 2.0f) << i;
    }
}

TEST_F(StereoGainPlugin, Texts) {
    EXPECT_EQ(effect.parameterName(0), "Gain");
    EXPECT_EQ(effect.parameterLabel(0), "dB");
    EXPECT_EQ(effect.parameterDisplay(0), "0.000000");
    effect.setParameter(0, 1.0f);
    EXPECT_EQ(effect.parameterDisplay(0), "6.020599");
    effect.setParameter(0, 0.25f);
    EXPECT_EQ(effect.parameterDisplay(0), "-6.02059");
    effect.setParameter(0, 0.0f);
    EXPECT_EQ(effect.parameterDisplay(0), "-oo");
    EXPECT_EQ(effect.parameterName(1), "");
    EXPECT_EQ(effect.parameterDisplay(1), "");
    EXPECT_EQ(effect.effectName(), "Stereo Gain");
    EXPECT_EQ(effect.vendorString(), "Tarvo Examples");
    EXPECT_EQ(effect.productString(), "Tarvo Stereo Gain");
}

TEST_F(StereoGainPlugin, LeavesTheRestToTheFrame) {
    effect.start(kSampleRateHz, kBlockFrames);
    EXPECT_EQ(hostSide.requests().size(), 1u);  // the version query alone
    EXPECT_EQ(effect.dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(effect.dispatch(effGetPlugCategory), 0);
    EXPECT_EQ(effect.dispatch(effCanBeAutomated, 0), 1);
    EXPECT_EQ(effect.close(), 1);
}

}  // namespace
