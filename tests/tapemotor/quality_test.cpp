// How clean the moving tape sounds, measured on the built plug-in's output:
// no interpolation images above the tone while the tape slows, and no step
// from one frame to the next larger than the input's anywhere in a stop,
// standstill, start and crossfade.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include <xmmintrin.h>

#include "TapeMotorRig.h"

namespace {

using namespace tapemotor_test;

constexpr double kRateHz = 48000.0;
constexpr double kToneHz = 1000.0;

// --- A small spectrum analyser: Blackman-Harris windows of 4,096 frames,
// half overlapping, through a radix-2 FFT.

constexpr std::size_t kWindowFrames = 4096;

void fft(std::vector<std::complex<double>>& x) {
    const std::size_t n = x.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> turn = std::polar(1.0, -2.0 * std::numbers::pi / static_cast<double>(length));
        for (std::size_t start = 0; start < n; start += length) {
            std::complex<double> w = 1.0;
            for (std::size_t k = 0; k < length / 2; ++k, w *= turn) {
                const std::complex<double> a = x[start + k], b = x[start + k + length / 2] * w;
                x[start + k] = a + b;
                x[start + k + length / 2] = a - b;
            }
        }
    }
}

// The strongest component above aboveHz against the strongest of all, in
// dB, over every window inside [first, end).
double worstComponentAboveDb(const std::vector<float>& signal, std::size_t first, std::size_t end, double aboveHz) {
    std::vector<double> window(kWindowFrames);
    for (std::size_t i = 0; i < kWindowFrames; ++i) {
        const double phase = 2.0 * std::numbers::pi * static_cast<double>(i) / (kWindowFrames - 1);
        window[i] = 0.35875 - 0.48829 * std::cos(phase) + 0.14128 * std::cos(2 * phase) - 0.01168 * std::cos(3 * phase);
    }
    const auto firstBin = static_cast<std::size_t>(std::ceil(aboveHz * kWindowFrames / kRateHz));
    double worst = -1000.0;
    for (std::size_t start = first; start + kWindowFrames <= end; start += kWindowFrames / 2) {
        std::vector<std::complex<double>> x(kWindowFrames);
        for (std::size_t i = 0; i < kWindowFrames; ++i) x[i] = window[i] * signal[start + i];
        fft(x);
        double peak = 0.0, above = 0.0;
        for (std::size_t bin = 0; bin <= kWindowFrames / 2; ++bin) {
            peak = std::max(peak, std::abs(x[bin]));
            if (bin >= firstBin) above = std::max(above, std::abs(x[bin]));
        }
        worst = std::max(worst, 20.0 * std::log10(above / peak));
    }
    return worst;
}

// The analyser finds what it is to find: a component at -60 dB.
TEST(Analyser, SeesAComponentSixtyDecibelsDown) {
    std::vector<float> signal(8 * kWindowFrames);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const double t = static_cast<double>(i) / kRateHz;
        signal[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 700.0 * t) +
                                       0.0005 * std::sin(2 * std::numbers::pi * 5000.0 * t));
    }
    EXPECT_NEAR(worstComponentAboveDb(signal, 0, signal.size(), 1100.0), -60.0, 1.0);
    EXPECT_LT(worstComponentAboveDb(std::vector<float>(sine(700.0, kRateHz, signal.size())[0]), 0, signal.size(), 1100.0),
              -100.0);
}

// A 2 s stop of a 1 kHz sine: while the speed is above 0.3 (the first 70 %
// of a linear stop) nothing above 1.1 kHz comes within 70 dB of the tone.
TEST(Artefacts, NoImagesAboveTheToneWhileTheTapeSlows) {
    constexpr std::int64_t kTriggerFrame = 4800;
    const auto stopFrames = static_cast<std::size_t>(2.0 * kRateHz);
    const std::size_t fastEnough = static_cast<std::size_t>(kTriggerFrame) + stopFrames * 7 / 10;
    Rig rig(kRateHz, 512);
    rig.set(kStop, "2 s");
    rig.set(kCurve, "0");
    const host::Signal in = sine(kToneHz, kRateHz, fastEnough + kWindowFrames);
    const host::Signal out = rig.play(in, 512, {{{kTriggerFrame, kTrigger, 1.0f}}, {}});
    EXPECT_LT(worstComponentAboveDb(out[0], kTriggerFrame, fastEnough, 1100.0), -70.0);
}

// A 4 s spinback of a 1 kHz sine: while the tape runs backwards faster than
// 0.3 of normal speed (from 2 % to 80 % of the reverse run, which takes the
// last 26 % of the stop at Curve 0), the tone is at most 2.5 kHz, and
// nothing above 2.75 kHz comes within 70 dB of it.
TEST(Artefacts, NoImagesWhileTheTapeSpinsBack) {
    constexpr std::int64_t kTriggerFrame = 4800;
    constexpr double kStopFrames = 4.0 * kRateHz;
    constexpr double kTurn = 0.7377;  // 2.5 * 9/16 * 2 / (1 + 2.5 * 9/16 * 2)
    const auto first = static_cast<std::size_t>(kTriggerFrame + (kTurn + 0.02 * (1.0 - kTurn)) * kStopFrames);
    const auto end = static_cast<std::size_t>(kTriggerFrame + (kTurn + 0.8 * (1.0 - kTurn)) * kStopFrames);
    Rig rig(kRateHz, 512);
    rig.set(kStop, "4 s");
    rig.set(kCurve, "0");
    rig.set(kBrake, "Spinback");
    const host::Signal in = sine(kToneHz, kRateHz, end + kWindowFrames);
    const host::Signal out = rig.play(in, 512, {{{kTriggerFrame, kTrigger, 1.0f}}, {}});
    EXPECT_LT(worstComponentAboveDb(out[0], first, end, 2750.0), -70.0);
}

// --- Clicks: the output's largest frame-to-frame step against the input's.

float largestStep(const std::vector<float>& x, std::size_t first, std::size_t end) {
    float largest = 0.0f;
    for (std::size_t i = first + 1; i < end; ++i) largest = std::max(largest, std::abs(x[i] - x[i - 1]));
    return largest;
}

struct Motion {
    const char* name;
    const char* stop;
    const char* start;
    const char* curve;
    const char* mix;
    double releaseAfterSeconds;  // after the trigger; before standstill interrupts the stop
};
void PrintTo(const Motion& m, std::ostream* out) { *out << m.name; }

const Motion kMotions[] = {
    {"default", "1 s", "300 ms", "0", "100", 1.5},
    {"quick", "250 ms", "100 ms", "0", "100", 0.5},
    {"steep", "500 ms", "500 ms", "100", "100", 1.0},
    {"gentle", "500 ms", "500 ms", "-100", "100", 1.0},
    {"interrupted", "1 s", "300 ms", "0", "100", 0.4},
    {"half mix", "250 ms", "250 ms", "50", "50", 0.6},
};

class Clicks : public testing::TestWithParam<Motion> {};

TEST_P(Clicks, NoStepLargerThanTheInputsThroughStopStandstillStartAndCrossfade) {
    const Motion& m = GetParam();
    constexpr std::int64_t kTriggerFrame = 4800;
    const auto release = kTriggerFrame + static_cast<std::int64_t>(m.releaseAfterSeconds * kRateHz);
    const auto frames = static_cast<std::size_t>(release + 1.0 * kRateHz);
    Rig rig(kRateHz, 512);
    rig.set(kStop, m.stop);
    rig.set(kStart, m.start);
    rig.set(kCurve, m.curve);
    rig.set(kMix, m.mix);
    const host::Signal in = sine(kToneHz, kRateHz, frames);
    const host::Signal out = rig.play(in, 512, {{{kTriggerFrame, kTrigger, 1.0f}, {release, kTrigger, 0.0f}}, {}});
    ASSERT_LE(firstFrameEqualToTheEnd(out, in), static_cast<std::int64_t>(frames) - 1000) << "caught up in time";
    const float inputStep = largestStep(in[0], 0, frames);
    EXPECT_LE(largestStep(out[0], 0, frames), 1.1f * inputStep);
    EXPECT_LE(largestStep(out[1], 0, frames), 1.1f * inputStep);
}

INSTANTIATE_TEST_SUITE_P(Motions, Clicks, testing::ValuesIn(kMotions), [](const auto& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
});

}  // namespace

// --- Subnormals: a tail at -400 dB (a reverb dying away reaches it) through
// stops whose gain falls toward zero. Products below the smallest normal
// float come out as zero, never as subnormals, which would slow this and
// every later plug-in; and the host's floating-point mode is left as it was.

struct QuietStop {
    const char* name;
    float stop, curve, brake, mix;  // host values
};
void PrintTo(const QuietStop& s, std::ostream* out) { *out << s.name; }

class Subnormals : public ::testing::TestWithParam<QuietStop> {};

TEST_P(Subnormals, AQuietTailThroughAStopGivesNone) {
    const QuietStop& s = GetParam();
    constexpr std::size_t kFrames = 48000;
    constexpr std::size_t kGapEvery = 256, kGapFrames = 64;  // silence between bursts, as tails have
    host::Signal in = sine(kToneHz, kRateHz, kFrames, 1e-20);
    for (std::size_t i = 0; i < kFrames; ++i)
        if (i % kGapEvery >= kGapEvery - kGapFrames) in[0][i] = in[1][i] = 0.0f;
    Rig rig(kRateHz, 512);
    for (const auto& [index, value] : {std::pair{kStop, s.stop}, {kCurve, s.curve}, {kBrake, s.brake}, {kMix, s.mix}})
        rig.effect.setParameter(index, value);
    const unsigned hostMode = _mm_getcsr();
    const host::Signal out = rig.play(in, 512, {{{4800, kTrigger, 1.0f}}, {}});
    EXPECT_EQ(_mm_getcsr(), hostMode);
    std::size_t subnormal = 0;
    for (const auto& channel : out)
        subnormal += static_cast<std::size_t>(std::count_if(channel.begin(), channel.end(), [](float x) {
            return std::fpclassify(x) == FP_SUBNORMAL;
        }));
    EXPECT_EQ(subnormal, 0u);
}

INSTANTIATE_TEST_SUITE_P(Stops, Subnormals,
                         ::testing::Values(QuietStop{"tape_curved_mix_tiny", 0.5f, 0.9f, 0.0f, 1e-9f},
                                           QuietStop{"tape_steep_mix_tiny", 0.5f, 1.0f, 0.0f, 1e-9f},
                                           QuietStop{"spinback_steep", 0.3f, 1.0f, 1.0f, 1.0f},
                                           QuietStop{"spinback_short_mix_tiny", 0.1f, 0.9f, 1.0f, 1e-9f}),
                         [](const auto& info) { return std::string(info.param.name); });
