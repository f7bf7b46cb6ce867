// Reference renders: what TapeMotor played before Quantize, Mode, Brake and
// Tone existed, kept as a 64-bit FNV-1a hash of the output's bytes. At those
// parameters' defaults every render must stay identical bit for bit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "TapeMotorRig.h"

namespace {

using namespace tapemotor_test;

// A noise of our own (a 32-bit LCG), so the input never depends on the
// standard library's distributions.
host::Signal lcgNoise(std::size_t frames, std::uint32_t seed) {
    host::Signal out(2, std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i)
        for (auto& channel : out) {
            seed = seed * 1664525u + 1013904223u;
            channel[i] = static_cast<float>(static_cast<std::int32_t>(seed)) / 4294967296.0f;
        }
    return out;
}

std::uint64_t fnv1a(const host::Signal& signal) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const auto& channel : signal) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(channel.data());
        for (std::size_t i = 0; i < channel.size() * sizeof(float); ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    }
    return hash;
}

struct Setting {
    VstInt32 index;
    const char* text;
};

struct Render {
    const char* name;
    double rateHz;
    double tempoBpm;
    VstInt32 blockFrames;
    VstInt32 program;
    std::vector<Setting> settings;
    host::Timeline timeline;
    std::size_t frames;
    std::uint64_t hash;  // of the render before the four parameters were added
};
void PrintTo(const Render& r, std::ostream* out) { *out << r.name; }

const Render kRenders[] = {
    {"classic_trigger_44k1_block512", 44100.0, 120.0, 512, 0, {},
     {{{10007, kTrigger, 1.0f}, {70001, kTrigger, 0.0f}}, {}}, 100000, 0x4ea623ba9e91f46eull},
    {"synced_notes_48k_140bpm_block97", 48000.0, 140.0, 97, 0,
     {{kSync, "On"}, {kStop, "1 bar"}, {kStart, "1/8"}, {kCurve, "50"}, {kMix, "70"}},
     {{}, {note(5003, kNoteOn), note(60000, kNoteOff), note(80000, kNoteOn, 61), note(83000, kNoteOff, 61)}}, 110000,
     0xaa68f4efd3a1a238ull},
    {"interrupted_gentle_96k_block1", 96000.0, 120.0, 1, 0, {{kStop, "500 ms"}, {kStart, "100 ms"}, {kCurve, "-100"}},
     {{{1000, kTrigger, 1.0f}, {30000, kTrigger, 0.0f}, {35000, kTrigger, 1.0f}, {50000, kTrigger, 0.0f}}, {}},
     80000, 0xbf10ddaf0e406ba4ull},
    {"power_down_program_44k1_block4096", 44100.0, 90.0, 4096, 2, {},
     {{{4410, kTrigger, 1.0f}, {200000, kTrigger, 0.0f}}, {}}, 240000, 0xd7430651a98859b9ull},
    {"half_stop_program_changes_48k_block333", 48000.0, 120.0, 333, 4, {},
     {{{2000, kTrigger, 1.0f}, {20000, kCurve, 0.9f}, {30000, kStop, 0.3f}, {90000, kTrigger, 0.0f}}, {}}, 140000,
     0x1b0ac848fb322b3full},
};

class ReferenceRender : public testing::TestWithParam<Render> {};

TEST_P(ReferenceRender, IdenticalToTheRenderBeforeTheNewParameters) {
    const Render& r = GetParam();
    Rig rig(r.rateHz, r.blockFrames, r.tempoBpm);
    rig.effect.dispatch(effSetProgram, 0, r.program);
    for (const Setting& s : r.settings) rig.set(s.index, s.text);
    const host::Signal out = rig.play(lcgNoise(r.frames, 12345), r.blockFrames, r.timeline);
    char shown[32];
    std::snprintf(shown, sizeof(shown), "0x%016llxull", static_cast<unsigned long long>(fnv1a(out)));
    EXPECT_EQ(fnv1a(out), r.hash) << "render hash " << shown;
}

INSTANTIATE_TEST_SUITE_P(BeforeQuantizeModeBrakeTone, ReferenceRender, testing::ValuesIn(kRenders),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
