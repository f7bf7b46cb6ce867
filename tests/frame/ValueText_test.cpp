// The frame's value-to-text helpers, run in-process on small effects built on
// AudioEffectX. Every write goes into a sentinel-filled buffer, so a case
// checks the text, the zero bytes after it through text[maxLen], and that
// nothing past text[maxLen] was touched.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "AudioEffectX.h"

namespace {

constexpr char kSentinel = '\xA5';
constexpr std::size_t kBufferBytes = 48;
constexpr float kSampleRateHz = 44100.0f;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr VstInt32 kInt32Min = std::numeric_limits<VstInt32>::min();
constexpr VstInt32 kInt32Max = std::numeric_limits<VstInt32>::max();

class PlainEffect : public AudioEffectX {
public:
    PlainEffect() : AudioEffectX(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

// Answers a sample rate of its own, whatever the stored one is, and counts
// how often it was asked.
class OwnRateEffect : public PlainEffect {
public:
    float getSampleRate() override {
        ++reads;
        return rateHz;
    }
    float rateHz = 0.0f;
    int reads = 0;
};

// Records each number it is asked to show and writes a marker instead.
class RecordingEffect : public PlainEffect {
public:
    void float2string(float value, char* text, VstInt32 maxLen) override {
        shown.push_back(value);
        std::strncpy(text, kMarker, static_cast<std::size_t>(maxLen));
        text[maxLen] = '\0';
    }
    static constexpr char kMarker[] = "marker";
    std::vector<float> shown;
};

using Buffer = std::array<char, kBufferBytes>;

Buffer sentinelBuffer() {
    Buffer buffer;
    buffer.fill(kSentinel);
    return buffer;
}

// Bytes 0 to maxLen hold expected and then zeros; every later byte still
// holds the sentinel.
::testing::AssertionResult holdsText(const Buffer& buffer, const std::string& expected, VstInt32 maxLen) {
    const auto last = static_cast<std::size_t>(maxLen);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        const char wanted = i > last ? kSentinel : i < expected.size() ? expected[i] : '\0';
        if (buffer[i] != wanted) {
            return ::testing::AssertionFailure()
                   << "byte " << i << " is " << static_cast<int>(static_cast<unsigned char>(buffer[i])) << ", wanted "
                   << static_cast<int>(static_cast<unsigned char>(wanted)) << "; text \""
                   << std::string(buffer.data(), strnlen(buffer.data(), buffer.size())) << "\"";
        }
    }
    return ::testing::AssertionSuccess();
}

template <typename Value>
struct Case {
    Value value;
    VstInt32 maxLen;
    const char* expected;
};

template <typename Value>
void expectTexts(AudioEffect& effect, void (AudioEffect::*write)(Value, char*, VstInt32),
                 const std::vector<Case<Value>>& cases) {
    for (const auto& c : cases) {
        Buffer buffer = sentinelBuffer();
        (effect.*write)(c.value, buffer.data(), c.maxLen);
        EXPECT_TRUE(holdsText(buffer, c.expected, c.maxLen)) << "value " << c.value << ", maxLen " << c.maxLen;
    }
}

TEST(Float2String, EightCharacterBudget) {
    PlainEffect effect;
    expectTexts<float>(effect, &AudioEffect::float2string,
                       {
                           {0.0f, 8, "0.000000"},
                           {-0.0f, 8, "0.000000"},
                           {0.5f, 8, "0.500000"},
                           {-0.5f, 8, "-0.50000"},
                           {1234.5678f, 8, "1234.567"},  // holds 1234.5677490234375: cut, not rounded
                           {0.7f, 8, "0.699999"},
                           {0.99999994f, 8, "0.999999"},
                           {100.0f, 8, "100.0000"},
                           {12.345f, 8, "12.34500"},
                           {-12.345f, 8, "-12.3450"},
                           {0.001f, 8, "0.001000"},
                           {-0.001f, 8, "-0.00100"},
                           {-0.000000001f, 8, "-0.00000"},
                           {1e-45f, 8, "0.000000"},
                           {1234567.0f, 8, "1234567."},
                           {9999999.0f, 8, "9999999."},
                           {-123456.0f, 8, "-123456."},
                           {-999999.0f, 8, "-999999."},
                       });
}

TEST(Float2String, NoRoomForThePointShowsTheDigitsAlone) {
    PlainEffect effect;
    expectTexts<float>(effect, &AudioEffect::float2string,
                       {
                           {10000000.0f, 8, "10000000"},
                           {12345678.0f, 8, "12345678"},
                           {99999992.0f, 8, "99999992"},  // the largest float below 99999999
                           {-1000000.0f, 8, "-1000000"},
                           {-1234567.0f, 8, "-1234567"},
                           {-9999999.0f, 8, "-9999999"},
                           {12345678.0f, 20, "12345678"},
                           {-1234567.0f, 20, "-1234567"},
                       });
}

TEST(Float2String, OutOfRangeAndNaN) {
    PlainEffect effect;
    expectTexts<float>(effect, &AudioEffect::float2string,
                       {
                           {99999999.0f, 8, "Huge!"},  // its float is 100000000
                           {123456789.0f, 8, "Huge!"},
                           {-10000000.0f, 8, "Huge!"},
                           {kInfinity, 8, "Huge!"},
                           {-kInfinity, 8, "Huge!"},
                           {kNaN, 8, "NaN"},
                           {-kNaN, 8, "NaN"},
                           {kNaN, 2, "Na"},
                       });
}

TEST(Float2String, ShorterAndLongerLimits) {
    PlainEffect effect;
    expectTexts<float>(effect, &AudioEffect::float2string,
                       {
                           {1.5f, 4, "1.50"},
                           {1234.5678f, 4, "1234"},
                           {-0.001f, 4, "-0.0"},
                           {123456789.0f, 4, "Huge"},
                           {-0.5f, 1, "-"},
                           {0.5f, 0, ""},
                           {-0.5f, 0, ""},
                           {123456789.0f, 0, ""},
                           {kNaN, 0, ""},
                           {0.5f, 20, "0.500000"},  // the budget stays eight characters
                           {-12345678.0f, 20, "Huge!"},
                       });
}

TEST(DB2String, Decibels) {
    PlainEffect effect;
    expectTexts<float>(effect, &AudioEffect::dB2string,
                       {
                           {0.5f, 8, "-6.02059"},
                           {1.0f, 8, "0.000000"},
                           {2.0f, 8, "6.020599"},
                           {0.001f, 8, "-60.0000"},
                           {0.000001f, 8, "-120.000"},
                           {0.0f, 8, "-oo"},
                           {-0.0f, 8, "-oo"},
                           {-1.0f, 8, "-oo"},
                           {-kInfinity, 8, "-oo"},
                           {0.0f, 2, "-o"},
                           {-1.0f, 2, "-o"},
                           {0.0f, 0, ""},
                           {kInfinity, 8, "Huge!"},
                           {kNaN, 8, "NaN"},
                           {0.5f, 3, "-6."},
                       });
}

TEST(Hz2String, FrequencyOfAPeriod) {
    PlainEffect effect;
    effect.setSampleRate(kSampleRateHz);
    expectTexts<float>(effect, &AudioEffect::Hz2string,
                       {
                           {100.0f, 8, "441.0000"},
                           {1024.0f, 8, "43.06640"},
                           {1.0f, 8, "44100.00"},
                           {0.5f, 8, "88200.00"},
                           {0.0f, 8, "0.000000"},
                           {-0.0f, 8, "0.000000"},
                           {-100.0f, 8, "-441.000"},
                           {kNaN, 8, "NaN"},
                           {100.0f, 3, "441"},
                       });
}

TEST(Ms2String, MillisecondsOfSamples) {
    PlainEffect effect;
    effect.setSampleRate(kSampleRateHz);
    expectTexts<float>(effect, &AudioEffect::ms2string,
                       {
                           {44100.0f, 8, "1000.000"},
                           {1.0f, 8, "0.022675"},
                           {1024.0f, 8, "23.21995"},
                           {0.0f, 8, "0.000000"},
                           {-44100.0f, 8, "-1000.00"},
                           {1024.0f, 5, "23.21"},
                       });
}

TEST(Ms2String, ZeroSampleRate) {
    PlainEffect effect;
    effect.setSampleRate(0.0f);
    expectTexts<float>(effect, &AudioEffect::ms2string,
                       {
                           {1.0f, 8, "Huge!"},
                           {-1.0f, 8, "Huge!"},
                           {0.0f, 8, "NaN"},
                       });
}

TEST(Int2String, Decimal) {
    PlainEffect effect;
    expectTexts<VstInt32>(effect, &AudioEffect::int2string,
                          {
                              {0, 8, "0"},
                              {7, 8, "7"},
                              {42, 8, "42"},
                              {-42, 8, "-42"},
                              {-1, 8, "-1"},
                              {100, 8, "100"},
                              {10000000, 8, "10000000"},
                              {99999999, 8, "99999999"},
                              {100000000, 8, "Huge!"},
                              {kInt32Max, 8, "Huge!"},
                              {-123456789, 10, "-123456789"},
                              {-123456789, 8, "-1234567"},
                              {-999999999, 12, "-999999999"},
                              {123, 2, "12"},
                              {-42, 1, "-"},
                              {42, 0, ""},
                              {-42, 0, ""},
                              {100000000, 0, ""},
                          });
}

TEST(Int2String, BelowNineDigitsShowsEveryDigit) {
    PlainEffect effect;
    expectTexts<VstInt32>(effect, &AudioEffect::int2string,
                          {
                              {-1000000000, 12, "-1000000000"},
                              {-2147483647, 12, "-2147483647"},
                              {kInt32Min, 12, "-2147483648"},
                              {kInt32Min, 11, "-2147483648"},
                              {kInt32Min, 8, "-2147483"},
                          });
}

TEST(ValueTextDispatch, SampleRateIsReadThroughTheEffectAtEveryCall) {
    OwnRateEffect effect;
    effect.setSampleRate(kSampleRateHz);  // the stored rate, which the override hides
    effect.rateHz = 48000.0f;
    expectTexts<float>(effect, &AudioEffect::Hz2string, {{100.0f, 8, "480.0000"}, {0.0f, 8, "0.000000"}});
    expectTexts<float>(effect, &AudioEffect::ms2string, {{48.0f, 8, "1.000000"}});
    effect.rateHz = 22050.0f;
    expectTexts<float>(effect, &AudioEffect::Hz2string, {{100.0f, 8, "220.5000"}});
    expectTexts<float>(effect, &AudioEffect::ms2string, {{22050.0f, 8, "1000.000"}});
    EXPECT_EQ(effect.reads, 5);
}

TEST(ValueTextDispatch, NumbersAreShownThroughTheEffectsFloat2String) {
    RecordingEffect effect;
    effect.setSampleRate(kSampleRateHz);
    expectTexts<float>(effect, &AudioEffect::dB2string, {{10.0f, 8, RecordingEffect::kMarker}, {1.0f, 4, "mark"}});
    expectTexts<float>(effect, &AudioEffect::Hz2string, {{100.0f, 8, RecordingEffect::kMarker}, {0.0f, 8, "marker"}});
    expectTexts<float>(effect, &AudioEffect::ms2string, {{44100.0f, 8, RecordingEffect::kMarker}});
    EXPECT_EQ(effect.shown, (std::vector<float>{20.0f, 0.0f, 441.0f, 0.0f, 1000.0f}));

    // A gain of zero or less has its own text and shows no number.
    effect.shown.clear();
    expectTexts<float>(effect, &AudioEffect::dB2string, {{0.0f, 8, "-oo"}});
    EXPECT_TRUE(effect.shown.empty());
}

}  // namespace
