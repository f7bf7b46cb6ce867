// Test support: the built tape-stop plug-in, loaded once per test program
// as a host loads it, stereo test signals, and a fixture that drives a fresh
// effect through the host library's block processing.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "BlockProcessor.h"
#include "PluginHost.h"

namespace testing_support {

inline host::PluginLibrary& tapeStopLibrary() {
    static host::PluginLibrary library(TAPESTOP_PLUGIN_PATH);
    return library;
}

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;

    explicit Stereo(std::size_t frames = 0, float value = 0.0f) : left(frames, value), right(frames, value) {}
    // The first two channels of a processed signal.
    explicit Stereo(host::Signal channels) : left(std::move(channels.at(0))), right(std::move(channels.at(1))) {}
    std::size_t frames() const { return left.size(); }
    host::Signal signal() const { return {left, right}; }
};

// Uniform noise in [-amplitude, amplitude], the same for the same seed.
inline Stereo noise(std::size_t frames, std::uint32_t seed, float amplitude = 1.0f) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(-amplitude, amplitude);
    Stereo signal(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        signal.left[i] = sample(random);
        signal.right[i] = sample(random);
    }
    return signal;
}

// A fresh tape-stop effect with a recording host, started like a host does.
class TapeStop : public ::testing::Test {
protected:
    void SetUp() override { restart(); }
    void TearDown() override {
        if (effect && effect->isOpen()) effect->close();
    }

    // Closes the effect and starts a new one.
    void restart() {
        if (effect && effect->isOpen()) effect->close();
        effect = std::make_unique<host::Effect>(tapeStopLibrary(), hostSide);
        effect->start(kSampleRateHz, kStartBlockFrames);
    }

    // Processes frames [first, first + count) of input into output.
    void process(const Stereo& input, Stereo& output, std::size_t first, std::size_t count) {
        effect->processStereo(input.left.data() + first, input.right.data() + first, output.left.data() + first,
                              output.right.data() + first, static_cast<VstInt32>(count));
    }

    // Processes the whole input in blocks of at most blockFrames, each
    // parameter change landing on its frame.
    Stereo render(const Stereo& input, std::size_t blockFrames,
                  std::vector<host::ParameterChange> changes = {}) {
        return Stereo(host::processSignal(*effect, input.signal(), static_cast<VstInt32>(blockFrames),
                                          {std::move(changes), {}}));
    }

    static constexpr float kSampleRateHz = 44100.0f;
    static constexpr VstInt32 kStartBlockFrames = 512;
    host::Host hostSide;
    std::unique_ptr<host::Effect> effect;
};

inline std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

}  // namespace testing_support
