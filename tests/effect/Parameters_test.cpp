// The three parameters as a host sets and reads them through the record.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "LoadedPlugin.h"

namespace {

using testing_support::TapeStop;

constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kSpeed = 1;
constexpr VstInt32 kMix = 2;
constexpr float kInfinity = std::numeric_limits<float>::infinity();

using Parameters = TapeStop;

TEST_F(Parameters, ValuesAfterConstruction) {
    EXPECT_EQ(effect->getParameter(kTrigger), 0.0f);
    EXPECT_EQ(effect->getParameter(kSpeed), 0.1f);
    EXPECT_EQ(effect->getParameter(kMix), 1.0f);
    EXPECT_EQ(effect->getParameter(3), 0.0f);
    EXPECT_EQ(effect->getParameter(-1), 0.0f);
}

TEST_F(Parameters, TriggerIsASwitchAtOne) {
    struct Case {
        float set;
        float readBack;
    };
    for (const Case& c : {Case{0.0f, 0.0f}, Case{0.5f, 0.0f}, Case{0.99f, 0.0f}, Case{0.999f, 0.0f},
                          Case{1.0f, 1.0f}, Case{2.5f, 1.0f}, Case{kInfinity, 1.0f}, Case{-kInfinity, 0.0f},
                          Case{std::nanf(""), 0.0f}, Case{-3.0f, 0.0f}}) {
        effect->setParameter(kTrigger, c.set);
        EXPECT_EQ(effect->getParameter(kTrigger), c.readBack) << "trigger " << c.set;
    }
}

// Speed is stored as the hundredfold truncated toward zero and read back
// divided by 100, so what a host reads tells the stored hundredths.
TEST_F(Parameters, SpeedTruncatesTheHundredfold) {
    struct Case {
        float set;
        int hundredths;
    };
    for (const Case& c : {Case{1.0f, 100}, Case{0.999f, 99}, Case{0.1f, 10}, Case{0.015f, 1}, Case{0.005f, 0},
                          Case{0.0f, 0}, Case{0.53f, 52}, Case{0.59f, 58}, Case{0.5f, 50}, Case{1.5f, 150},
                          Case{-0.5f, -50}, Case{-0.004f, 0}}) {
        effect->setParameter(kSpeed, c.set);
        EXPECT_EQ(effect->getParameter(kSpeed), static_cast<float>(c.hundredths) / 100.0f) << "speed " << c.set;
    }
}

// A host that saves what it reads and sets it back keeps every speed but 53
// and 59, which come back one lower.
TEST_F(Parameters, SpeedRoundTripLosesOnlyFiftyThreeAndFiftyNine) {
    for (int hundredths = 0; hundredths <= 100; ++hundredths) {
        effect->setParameter(kSpeed, static_cast<float>(hundredths) / 100.0f);
        const float saved = effect->getParameter(kSpeed);
        effect->setParameter(kSpeed, saved);
        const int expected = (hundredths == 53 || hundredths == 59) ? hundredths - 1 : hundredths;
        // The value read after the round trip is the stored hundredths / 100.
        EXPECT_EQ(effect->getParameter(kSpeed), static_cast<float>(expected) / 100.0f) << hundredths;
    }
}

// Hundredfolds that are NaN or beyond the 32-bit range store 0 and the
// nearest 32-bit limit.
TEST_F(Parameters, SpeedOutsideTheIntegerRangeIsDefined) {
    struct Case {
        float set;
        float readBack;
    };
    const float top = static_cast<float>(std::numeric_limits<std::int32_t>::max()) / 100.0f;
    const float bottom = static_cast<float>(std::numeric_limits<std::int32_t>::min()) / 100.0f;
    for (const Case& c : {Case{std::nanf(""), 0.0f}, Case{kInfinity, top}, Case{1e30f, top}, Case{-kInfinity, bottom},
                          Case{-1e30f, bottom}}) {
        effect->setParameter(kSpeed, c.set);
        EXPECT_EQ(effect->getParameter(kSpeed), c.readBack) << "speed " << c.set;
    }
}

TEST_F(Parameters, MixIsStoredUnchanged) {
    for (float value : {0.0f, 0.25f, 0.53f, 1.0f, -0.5f, 7.0f, 1e30f, -kInfinity}) {
        effect->setParameter(kMix, value);
        EXPECT_EQ(effect->getParameter(kMix), value);
    }
    effect->setParameter(kMix, std::nanf(""));
    EXPECT_TRUE(std::isnan(effect->getParameter(kMix)));
}

TEST_F(Parameters, IndicesOutsideTheTableChangeNothing) {
    effect->setParameter(kTrigger, 1.0f);
    effect->setParameter(kSpeed, 0.42f);
    effect->setParameter(kMix, 0.3f);
    for (VstInt32 index : {3, -1, 100, std::numeric_limits<VstInt32>::min()}) {
        effect->setParameter(index, 0.77f);
        EXPECT_EQ(effect->getParameter(index), 0.0f);
    }
    EXPECT_EQ(effect->getParameter(kTrigger), 1.0f);
    EXPECT_EQ(effect->getParameter(kSpeed), 0.42f);
    EXPECT_EQ(effect->getParameter(kMix), 0.3f);
}

}  // namespace
