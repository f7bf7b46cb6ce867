// A host's audio thread processes while its editor thread sets and reads
// the parameters and asks for their texts, as hosts do. Built and run under
// ThreadSanitizer in CI, which must find no data race; here the test checks
// that every value read back is one that was written whole, that every
// display text is one the effect can show, and that the output stays finite.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "PluginHost.h"
#include "proof/ProofSupport.h"

namespace {

constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kSpeed = 1;
constexpr VstInt32 kMix = 2;
constexpr VstInt32 kBlockFrames = 256;
constexpr float kTriggers[] = {0.0f, 1.0f, 0.999f, 2.0f};
constexpr float kSpeeds[] = {0.0f, 0.1f, 0.5f, 1.0f};  // read back as 0, 0.1, 0.5, 1
constexpr float kMixes[] = {0.0f, 0.25f, 0.5f, 1.0f};

TEST(Concurrency, ParametersAndTextsOnOneThreadWhileAnotherProcesses) {
    // Both sides do a fixed amount of work; the audio side keeps going until
    // the parameter side is done, so the two always overlap.
    const int minBlocks = proof::repetitions(2000, 200);
    const int parameterRounds = proof::repetitions(20000, 2000);
    host::PluginLibrary library(TAPESTOP_PLUGIN_PATH);
    host::Host host;
    host.setRecording(false);
    host::Effect effect(library, host);
    effect.start(44100.0f, kBlockFrames);

    std::atomic<bool> parametersDone{false};
    bool outputFinite = true;
    int blocks = 0;
    std::thread audio([&] {
        const proof::Stereo in = proof::noise(kBlockFrames, 17);
        proof::Stereo out(kBlockFrames);
        for (; blocks < minBlocks || !parametersDone; ++blocks) {
            effect.processStereo(in.left.data(), in.right.data(), out.left.data(), out.right.data(), kBlockFrames);
            outputFinite = outputFinite && proof::allFinite(out.left.data(), kBlockFrames) &&
                           proof::allFinite(out.right.data(), kBlockFrames);
        }
    });

    const std::set<float> speedsRead = {0.0f, 0.1f, 0.5f, 1.0f};
    const std::set<std::string> speedTexts = {"0", "10", "50", "100"};
    const std::set<std::string> mixTexts = {"0", "25", "50", "100"};
    int wrong = 0;
    for (int rounds = 0; rounds < parameterRounds; ++rounds) {
        const std::size_t pick = static_cast<std::size_t>(rounds) % 4;
        effect.setParameter(kTrigger, kTriggers[(pick + static_cast<std::size_t>(rounds / 4)) % 4]);
        effect.setParameter(kSpeed, kSpeeds[pick]);
        effect.setParameter(kMix, kMixes[3 - pick]);
        const float trigger = effect.getParameter(kTrigger);
        wrong += trigger != 0.0f && trigger != 1.0f;
        wrong += speedsRead.count(effect.getParameter(kSpeed)) == 0;
        wrong += std::find(std::begin(kMixes), std::end(kMixes), effect.getParameter(kMix)) == std::end(kMixes);
        const std::string triggerText = effect.parameterDisplay(kTrigger);
        wrong += triggerText != "0" && triggerText != "1";
        wrong += speedTexts.count(effect.parameterDisplay(kSpeed)) == 0;
        wrong += mixTexts.count(effect.parameterDisplay(kMix)) == 0;
    }
    parametersDone = true;
    audio.join();
    EXPECT_EQ(wrong, 0) << "values or texts that were never set";
    EXPECT_TRUE(outputFinite) << "in " << blocks << " blocks";
}

}  // namespace
