// The texts the tape stop shows a host, read through the dispatcher of the
// built plug-in as a host reads them. Every text goes into a sentinel-filled
// buffer, so a case checks the characters, the zero bytes after them, and how
// many bytes were written in all.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace {

// Dispatcher opcodes.
constexpr VstInt32 kGetParamLabel = 6;
constexpr VstInt32 kGetParamDisplay = 7;
constexpr VstInt32 kGetParamName = 8;
constexpr VstInt32 kGetEffectName = 45;
constexpr VstInt32 kGetVendorString = 47;
constexpr VstInt32 kGetProductString = 48;

// Host request and its filter sent before every display.
constexpr VstInt32 kHostGetTime = 7;
constexpr VstIntPtr kTempoValidFilter = 1024;

constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kSpeed = 1;
constexpr VstInt32 kMix = 2;

constexpr std::size_t kParameterTextBytes = 9;  // eight characters and the terminating zero
constexpr std::size_t kNameBytes = 25;          // 24 characters and the terminating zero
constexpr std::size_t kBufferBytes = 64;
constexpr char kSentinel = '\xA5';
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

const std::vector<VstInt32> kNoParameter = {3, -1, 100, std::numeric_limits<VstInt32>::min(),
                                            std::numeric_limits<VstInt32>::max()};

using Buffer = std::array<char, kBufferBytes>;

struct Reply {
    VstIntPtr answer;
    Buffer bytes;
};

// Exactly the first `written` bytes hold expected and then zeros; every
// later byte still holds the sentinel.
::testing::AssertionResult holds(const Buffer& bytes, const std::string& expected, std::size_t written) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char wanted = i >= written ? kSentinel : i < expected.size() ? expected[i] : '\0';
        if (bytes[i] != wanted) {
            return ::testing::AssertionFailure()
                   << "byte " << i << " is " << static_cast<int>(static_cast<unsigned char>(bytes[i])) << ", wanted "
                   << static_cast<int>(static_cast<unsigned char>(wanted)) << "; text \""
                   << std::string(bytes.data(), strnlen(bytes.data(), bytes.size())) << "\"";
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult untouched(const Buffer& bytes) { return holds(bytes, "", 0); }

class ParameterTexts : public ::testing::Test {
protected:
    Reply ask(VstInt32 opcode, VstInt32 index) {
        Reply reply{0, {}};
        reply.bytes.fill(kSentinel);
        reply.answer = effect.dispatch(opcode, index, 0, reply.bytes.data());
        return reply;
    }

    void expectDisplay(VstInt32 index, const std::string& expected) {
        const Reply reply = ask(kGetParamDisplay, index);
        EXPECT_EQ(reply.answer, 0);
        EXPECT_TRUE(holds(reply.bytes, expected, kParameterTextBytes)) << "index " << index;
    }

    host::PluginLibrary library{TAPESTOP_PLUGIN_PATH};
    host::Host host;
    host::Effect effect{library, host};
};

TEST_F(ParameterTexts, Names) {
    const struct {
        VstInt32 index;
        const char* name;
    } kNames[] = {{kTrigger, "Trigger"}, {kSpeed, "Speed"}, {kMix, "Mix"}};
    for (const auto& row : kNames) {
        const Reply reply = ask(kGetParamName, row.index);
        EXPECT_EQ(reply.answer, 0);
        EXPECT_TRUE(holds(reply.bytes, row.name, kParameterTextBytes)) << "index " << row.index;
    }
    for (VstInt32 index : kNoParameter) {
        const Reply reply = ask(kGetParamName, index);
        EXPECT_EQ(reply.answer, 0);
        EXPECT_TRUE(untouched(reply.bytes)) << "index " << index;
    }
}

TEST_F(ParameterTexts, LabelsAreEmptyButMixs) {
    const struct {
        VstInt32 index;
        const char* label;
    } kLabels[] = {{kTrigger, ""}, {kSpeed, ""}, {kMix, "%"}, {3, ""}, {-1, ""}, {100, ""}};
    for (const auto& row : kLabels) {
        const Reply reply = ask(kGetParamLabel, row.index);
        EXPECT_EQ(reply.answer, 0);
        EXPECT_TRUE(holds(reply.bytes, row.label, kParameterTextBytes)) << "index " << row.index;
    }
}

TEST_F(ParameterTexts, DisplaysAfterConstruction) {
    expectDisplay(kTrigger, "0");
    expectDisplay(kSpeed, "10");
    expectDisplay(kMix, "100");
}

TEST_F(ParameterTexts, EveryDisplayFirstAsksForTimeInformation) {
    Buffer* pending = nullptr;
    bool bufferUntouchedAtRequest = false;
    host.setHandler(kHostGetTime, [&](const host::HostRequest&) -> VstIntPtr {
        if (pending != nullptr) bufferUntouchedAtRequest = untouched(*pending);
        return 0;
    });
    std::vector<VstInt32> indices = {kTrigger, kSpeed, kMix};
    indices.insert(indices.end(), kNoParameter.begin(), kNoParameter.end());
    for (VstInt32 index : indices) {
        host.clearRequests();
        Buffer bytes;
        bytes.fill(kSentinel);
        pending = &bytes;
        bufferUntouchedAtRequest = false;
        EXPECT_EQ(effect.dispatch(kGetParamDisplay, index, 0, bytes.data()), 0);
        pending = nullptr;

        const std::vector<host::HostRequest> requests = host.requests();
        ASSERT_EQ(requests.size(), 1u) << "index " << index;
        EXPECT_EQ(requests[0].effect, effect.record());
        EXPECT_EQ(requests[0].opcode, kHostGetTime);
        EXPECT_EQ(requests[0].index, 0);
        EXPECT_EQ(requests[0].value, kTempoValidFilter);
        EXPECT_TRUE(bufferUntouchedAtRequest) << "index " << index;
        const bool isParameter = index >= kTrigger && index <= kMix;
        if (!isParameter) {
            EXPECT_TRUE(untouched(bytes)) << "index " << index;
        }
    }
}

TEST_F(ParameterTexts, OtherTextsAskNothingOfTheHost) {
    host.clearRequests();
    for (VstInt32 opcode : {kGetParamLabel, kGetParamName}) ask(opcode, kMix);
    for (VstInt32 opcode : {kGetEffectName, kGetVendorString, kGetProductString}) ask(opcode, 0);
    EXPECT_TRUE(host.requests().empty());
}

TEST_F(ParameterTexts, TriggerShowsWhetherItIsEngaged) {
    const struct {
        float value;
        const char* display;
    } kTriggers[] = {{0.0f, "0"},   {0.999f, "0"},      {0.99999994f, "0"}, {-1.0f, "0"}, {-kInfinity, "0"},
                     {1.0f, "1"},   {2.0f, "1"},        {kInfinity, "1"},   {kNaN, "1"}};
    for (const auto& row : kTriggers) {
        effect.setParameter(kTrigger, row.value);
        expectDisplay(kTrigger, row.display);
    }
}

TEST_F(ParameterTexts, SpeedOfEveryHundredth) {
    // A host value of s / 100 stores its hundredfold truncated; only the
    // floats for 0.53 and 0.59 fall just below and show one less.
    for (int s = 0; s <= 100; ++s) {
        const int shown = s == 53 ? 52 : s == 59 ? 58 : s;
        effect.setParameter(kSpeed, static_cast<float>(s) / 100.0f);
        expectDisplay(kSpeed, std::to_string(shown));
    }
}

TEST_F(ParameterTexts, SpeedOutsideTheHostRange) {
    const struct {
        float value;
        const char* display;
    } kSpeeds[] = {
        {0.999f, "99"},
        {0.015f, "1"},
        {0.005f, "0"},
        {1.5f, "150"},
        {-0.5f, "-50"},
        {-0.005f, "0"},                // -0.5 truncates toward zero
        {123456.78f, "12345678"},
        {1234567.9f, "12345678"},      // nine digits, cut to eight
        {-21474836.48f, "-2147483"},   // its hundredfold is -2147483648 exactly
        {-1e9f, "-2147483"},           // the stored speed saturates at the 32-bit minimum
        {1e9f, "21474836"},            // and at the maximum
    };
    for (const auto& row : kSpeeds) {
        effect.setParameter(kSpeed, row.value);
        expectDisplay(kSpeed, row.display);
    }
}

TEST_F(ParameterTexts, MixOfEveryHundredth) {
    // The percentage is formed in single precision and truncated: the floats
    // nearest 0.53 and 0.59 fall just below their hundredfold.
    for (int h = 0; h <= 100; ++h) {
        const int shown = h == 53 ? 52 : h == 59 ? 58 : h;
        effect.setParameter(kMix, static_cast<float>(h) / 100.0f);
        expectDisplay(kMix, std::to_string(shown));
    }
}

TEST_F(ParameterTexts, MixOutsideTheHostRange) {
    const struct {
        float value;
        const char* display;
    } kMixes[] = {
        {1.5f, "150"},
        {-0.5f, "-50"},
        {-0.005f, "0"},
        {20000000.0f, "20000000"},  // 2000000000, cut to eight characters
        {1e30f, "21474836"},        // beyond the 32-bit range: the nearest limit
        {kInfinity, "21474836"},
        {-1e30f, "-2147483"},
        {-kInfinity, "-2147483"},
        {kNaN, "NaN"},
    };
    for (const auto& row : kMixes) {
        effect.setParameter(kMix, row.value);
        expectDisplay(kMix, row.display);
    }
}

TEST_F(ParameterTexts, DisplaysLeaveTheParametersAsTheyAre) {
    effect.setParameter(kTrigger, 2.5f);
    effect.setParameter(kSpeed, 0.25f);
    effect.setParameter(kMix, 0.75f);
    for (VstInt32 index : {kTrigger, kSpeed, kMix, 3}) {
        ask(kGetParamDisplay, index);
        ask(kGetParamName, index);
        ask(kGetParamLabel, index);
    }
    EXPECT_EQ(effect.getParameter(kTrigger), 1.0f);
    EXPECT_EQ(effect.getParameter(kSpeed), 0.25f);
    EXPECT_EQ(effect.getParameter(kMix), 0.75f);
}

TEST_F(ParameterTexts, EffectVendorAndProductNames) {
    const struct {
        VstInt32 opcode;
        const char* name;
    } kNames[] = {
        {kGetEffectName, "Tarvo TapeStop"},
        {kGetVendorString, "Tarvo Pellwick"},
        {kGetProductString, "Tarvo TapeStop"},
    };
    for (const auto& row : kNames) {
        const Reply reply = ask(row.opcode, 0);
        EXPECT_EQ(reply.answer, 1) << "opcode " << row.opcode;
        EXPECT_TRUE(holds(reply.bytes, row.name, kNameBytes)) << "opcode " << row.opcode;
    }
}

}  // namespace
