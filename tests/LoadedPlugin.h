// Test support: the built tape-stop plug-in, loaded once per test program
// as a host loads it, and a stereo signal driven through it block by block.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

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
    std::size_t frames() const { return left.size(); }
};

// A fresh tape-stop effect with a recording host, started like a host does.
class TapeStop : public ::testing::Test {
protected:
    void SetUp() override {
        effect = std::make_unique<host::Effect>(tapeStopLibrary(), hostSide);
        effect->start(44100.0f, 512);
    }
    void TearDown() override {
        if (effect && effect->isOpen()) effect->close();
    }

    // Processes frames [first, first + count) of input into output.
    void process(const Stereo& input, Stereo& output, std::size_t first, std::size_t count) {
        effect->processStereo(input.left.data() + first, input.right.data() + first, output.left.data() + first,
                              output.right.data() + first, static_cast<VstInt32>(count));
    }

    // Processes the whole input in blocks of blockFrames; before each frame
    // listed in changes, the change is applied (blocks are split there).
    using Change = std::pair<std::size_t, std::function<void(host::Effect&)>>;
    Stereo render(const Stereo& input, std::size_t blockFrames, const std::vector<Change>& changes = {}) {
        Stereo output(input.frames(), -7.0f);
        std::size_t frame = 0;
        std::size_t next = 0;
        while (frame < input.frames()) {
            while (next < changes.size() && changes[next].first == frame) changes[next++].second(*effect);
            std::size_t end = std::min(input.frames(), frame + blockFrames);
            if (next < changes.size()) end = std::min(end, changes[next].first);
            process(input, output, frame, end - frame);
            frame = end;
        }
        return output;
    }

    host::Host hostSide;
    std::unique_ptr<host::Effect> effect;
};

inline std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

}  // namespace testing_support
