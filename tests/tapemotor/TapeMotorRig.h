// Test support for TapeMotor: the built plug-in loaded as a host loads it,
// started at a sample rate behind a host with a transport, and signals
// played through it along a timeline of parameter changes and MIDI notes.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "BlockProcessor.h"
#include "PluginHost.h"
#include "TransportHost.h"

namespace tapemotor_test {

enum Parameter : VstInt32 {
    kTrigger, kStop, kStart, kSync, kCurve, kMix, kQuantize, kMode, kBrake, kTone, kNumParameters
};

constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kNoteOff = 0x80;

inline host::PluginLibrary& library() {
    static host::PluginLibrary loaded(TAPEMOTOR_PLUGIN_PATH);
    return loaded;
}

// One TapeMotor behind a transport host, started at rateHz.
struct Rig {
    explicit Rig(double rateHz, VstInt32 maxBlockFrames = 4096, double tempoBpm = 120.0)
        : transport(rateHz, maxBlockFrames), effect(library(), transport) {
        transport.setRecording(false);
        transport.setTempo(tempoBpm);
        effect.start(static_cast<float>(rateHz), maxBlockFrames);
    }
    ~Rig() {
        if (effect.isOpen()) effect.close();
    }

    // Sets a parameter from its display text; fails the test if refused.
    void set(VstInt32 index, const std::string& text) {
        std::string copy = text;
        EXPECT_EQ(effect.dispatch(effString2Parameter, index, 0, copy.data()), 1) << "refused: " << text;
    }

    host::Signal play(const host::Signal& in, VstInt32 blockFrames, const host::Timeline& timeline = {}) {
        transport.moveTo(0);
        return host::processSignal(effect, in, blockFrames, timeline, &transport);
    }

    host::TransportHost transport;
    host::Effect effect;
};

// Two equal channels.
inline host::Signal stereo(std::vector<float> channel) { return {channel, channel}; }

inline host::Signal sine(double frequencyHz, double rateHz, std::size_t frames, double amplitude = 0.5) {
    std::vector<float> channel(frames);
    for (std::size_t i = 0; i < frames; ++i)
        channel[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * i / rateHz));
    return stereo(channel);
}

inline host::Signal constant(float value, std::size_t frames) { return stereo(std::vector<float>(frames, value)); }

inline host::MidiMessage note(std::int64_t frame, std::uint8_t status, std::uint8_t key = 60, std::uint8_t velocity = 100) {
    return host::MidiMessage{frame, status, key, velocity};
}

// The first frame from `from` on whose samples are both exactly zero.
inline std::int64_t firstSilentFrame(const host::Signal& out, std::int64_t from) {
    for (std::size_t i = static_cast<std::size_t>(from); i < out[0].size(); ++i)
        if (out[0][i] == 0.0f && out[1][i] == 0.0f) return static_cast<std::int64_t>(i);
    return -1;
}

// The first frame from which on the output equals the input bit for bit.
inline std::int64_t firstFrameEqualToTheEnd(const host::Signal& out, const host::Signal& in) {
    std::size_t i = out[0].size();
    while (i > 0 && std::memcmp(&out[0][i - 1], &in[0][i - 1], sizeof(float)) == 0 &&
           std::memcmp(&out[1][i - 1], &in[1][i - 1], sizeof(float)) == 0)
        --i;
    return static_cast<std::int64_t>(i);
}

inline bool bitEqual(const host::Signal& a, const host::Signal& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t c = 0; c < a.size(); ++c)
        if (a[c].size() != b[c].size() || std::memcmp(a[c].data(), b[c].data(), a[c].size() * sizeof(float)) != 0)
            return false;
    return true;
}

}  // namespace tapemotor_test
