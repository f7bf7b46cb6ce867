// Every plug-in this build makes keeps its texts within the interface's room:
// parameter names, labels and display texts in 8 characters and a zero,
// effect, vendor, product and program names in 24 and a zero. Each text is
// read, as a host reads it, into a buffer filled with a sentinel: it must be
// terminated within its room and touch nothing past it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace {

constexpr std::size_t kParameterTextBytes = 8 + 1;
constexpr std::size_t kNameBytes = 24 + 1;
constexpr char kSentinel = '\x5a';
constexpr float kValues[] = {0.0f, 0.25f, 0.5f, 1.0f};

const char* const kPlugins[] = {"tapestop.so", "tapemotor.so", "stereogain.so", "tempotremolo.so", "notegate.so"};

// One text request and the bytes it may write.
struct TextRequest {
    std::string what;
    VstInt32 opcode;
    VstInt32 index;
    std::size_t roomBytes;
};

// Reads one text; fails the test where it writes past its room or leaves the
// text unterminated within it.
void expectWithinRoom(host::Effect& effect, const std::string& plugin, const TextRequest& request) {
    std::array<char, 256> buffer;
    buffer.fill(kSentinel);
    effect.dispatch(request.opcode, request.index, 0, buffer.data());
    const std::string where = plugin + ", " + request.what;
    std::size_t bytesWritten = 0;
    for (std::size_t i = 0; i < buffer.size(); ++i)
        if (buffer[i] != kSentinel) bytesWritten = i + 1;
    EXPECT_LE(bytesWritten, request.roomBytes) << where << ": " << bytesWritten << " bytes written";
    if (bytesWritten > 0) {
        const auto end = buffer.begin() + static_cast<std::ptrdiff_t>(request.roomBytes);
        EXPECT_NE(std::find(buffer.begin(), end, '\0'), end) << where << ": not terminated";
    }
}

TEST(TextLimits, EveryPluginWritesItsTextsWithinTheirRoom) {
    for (const char* file : kPlugins) {
        const std::string plugin = file;
        host::PluginLibrary library(std::string(TAPESTOP_BUILD_DIR) + "/" + plugin);
        host::Host hostSide;
        host::Effect effect(library, hostSide);
        std::vector<TextRequest> requests = {{"effect name", effGetEffectName, 0, kNameBytes},
                                             {"vendor name", effGetVendorString, 0, kNameBytes},
                                             {"product name", effGetProductString, 0, kNameBytes},
                                             {"program name", effGetProgramName, 0, kNameBytes}};
        for (VstInt32 p = 0; p < effect.record()->numPrograms; ++p)
            requests.push_back({"program name " + std::to_string(p), effGetProgramNameIndexed, p, kNameBytes});
        for (const TextRequest& request : requests) expectWithinRoom(effect, plugin, request);

        for (VstInt32 i = 0; i < effect.record()->numParams; ++i) {
            const std::string parameter = "parameter " + std::to_string(i);
            expectWithinRoom(effect, plugin, {parameter + " name", effGetParamName, i, kParameterTextBytes});
            expectWithinRoom(effect, plugin, {parameter + " label", effGetParamLabel, i, kParameterTextBytes});
            for (float value : kValues) {
                effect.setParameter(i, value);
                expectWithinRoom(effect, plugin,
                                 {parameter + " display at " + std::to_string(value), effGetParamDisplay, i,
                                  kParameterTextBytes});
            }
        }
    }
}

}  // namespace
