// Spinback and Tone, measured on the built plug-in's output. A spinback's
// speed is read off the output: with a constant input the output is the
// tape's level, with each frame's number as input it is level x position,
// so the position is their ratio and the speed its step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>
#include <vector>

#include "LoadedPlugin.h"
#include "TapeMotorRig.h"

namespace {

using namespace tapemotor_test;

constexpr double kRateHz = 48000.0;
constexpr std::int64_t kTriggerFrame = 4800;
constexpr double kPeakReverseSpeed = 2.5;  // what the README states

host::Signal frameNumbers(std::size_t frames) {
    std::vector<float> ramp(frames);
    for (std::size_t i = 0; i < frames; ++i) ramp[i] = static_cast<float>(i);
    return stereo(ramp);
}

host::Signal spinback(const host::Signal& in, const char* stop, const char* curve = "0") {
    Rig rig(kRateHz, 512);
    rig.set(kBrake, "Spinback");
    rig.set(kStop, stop);
    rig.set(kCurve, curve);
    return rig.play(in, 512, {{{kTriggerFrame, kTrigger, 1.0f}}, {}});
}

// The head's position and speed at each frame of a stop, where the tape is
// loud enough to read them (level above 1/20).
struct Track {
    std::vector<double> level, position, speed;
    std::vector<bool> readable;
};
Track track(const char* stop, const char* curve, std::size_t frames) {
    const host::Signal level = spinback(constant(1.0f, frames), stop, curve);
    const host::Signal placed = spinback(frameNumbers(frames), stop, curve);
    Track t;
    t.level.assign(level[0].begin(), level[0].end());
    t.position.resize(frames);
    t.speed.assign(frames, 0.0);
    t.readable.assign(frames, false);
    for (std::size_t i = 0; i < frames; ++i) {
        t.readable[i] = t.level[i] > 0.05;
        if (t.readable[i]) t.position[i] = placed[0][i] / t.level[i];
        if (i > 0 && t.readable[i] && t.readable[i - 1]) t.speed[i] = t.position[i] - t.position[i - 1];
    }
    return t;
}

struct SpinCase {
    const char* name;
    const char* stop;
    double stopSeconds;
    const char* curve;
};
void PrintTo(const SpinCase& c, std::ostream* out) { *out << c.name; }
const SpinCase kSpins[] = {
    {"one_second_linear", "1 s", 1.0, "0"},
    {"half_second_steep", "500 ms", 0.5, "100"},
    {"two_seconds_gentle", "2 s", 2.0, "-100"},
};

class Spinback : public testing::TestWithParam<SpinCase> {};

// The speed falls from normal through zero once, reaches the peak reverse
// speed, and comes to standstill on the frame the Stop length states; the
// head never reads before the frame the stop began at.
TEST_P(Spinback, TurnsOnceReachesThePeakAndStandsStillOnTime) {
    const SpinCase& c = GetParam();
    const auto stopFrames = static_cast<std::int64_t>(c.stopSeconds * kRateHz);
    const auto frames = static_cast<std::size_t>(kTriggerFrame + stopFrames + 4800);
    const Track t = track(c.stop, c.curve, frames);
    int turns = 0;
    double lastSign = 1.0, slowest = 1.0, earliest = 1e9;
    for (std::size_t i = kTriggerFrame + 1; i < frames; ++i) {
        if (!t.readable[i] || !t.readable[i - 1]) continue;
        const double sign = t.speed[i] < 0.0 ? -1.0 : 1.0;
        if (sign != lastSign && std::abs(t.speed[i]) > 0.01) {
            ++turns;
            lastSign = sign;
        }
        slowest = std::min(slowest, t.speed[i]);
        earliest = std::min(earliest, t.position[i]);
    }
    EXPECT_EQ(turns, 1);
    EXPECT_NEAR(slowest, -kPeakReverseSpeed, 0.05);
    EXPECT_GE(earliest, kTriggerFrame - 4.0) << "read before the stop began";
    const host::Signal out = spinback(frameNumbers(frames), c.stop, c.curve);
    const std::int64_t silent = firstSilentFrame(out, kTriggerFrame + stopFrames / 2);
    EXPECT_NEAR(static_cast<double>(silent - kTriggerFrame), static_cast<double>(stopFrames), 1.0);
    for (std::size_t i = static_cast<std::size_t>(silent); i < frames; ++i) ASSERT_EQ(out[0][i], 0.0f) << i;
}

INSTANTIATE_TEST_SUITE_P(LengthsAndCurves, Spinback, testing::ValuesIn(kSpins),
                         [](const auto& info) { return std::string(info.param.name); });

// While the tape runs backwards the output is the recorded input played
// backwards: a 300 Hz tone matches the tone at the read positions, at the
// tape's level, with a correlation near 1.
TEST(SpinbackSound, TheReverseRunIsTheInputPlayedBackwards) {
    const auto frames = static_cast<std::size_t>(kTriggerFrame + kRateHz + 4800);
    const Track t = track("1 s", "0", frames);
    const double radiansPerFrame = 2.0 * std::numbers::pi * 300.0 / kRateHz;
    const host::Signal out = spinback(sine(300.0, kRateHz, frames), "1 s");
    double product = 0.0, outEnergy = 0.0, expectedEnergy = 0.0;
    std::size_t reverseFrames = 0;
    for (std::size_t i = kTriggerFrame; i < frames; ++i) {
        if (t.speed[i] > -0.3) continue;
        const double expected = t.level[i] * 0.5 * std::sin(radiansPerFrame * t.position[i]);
        product += expected * out[0][i];
        outEnergy += out[0][i] * out[0][i];
        expectedEnergy += expected * expected;
        ++reverseFrames;
    }
    ASSERT_GT(reverseFrames, 4800u) << "a reverse run of a tenth of a second at least";
    EXPECT_GT(product / std::sqrt(outEnergy * expectedEnergy), 0.999);
}

// No click: the output's largest step stays within the input's times the
// fastest speed (a tone spun back at 2.5x moves 2.5x as fast), and an
// interrupted spinback returns as smoothly.
TEST(SpinbackSound, NoStepLargerThanTheInputsAtThePeakSpeed) {
    const auto frames = static_cast<std::size_t>(2.5 * kRateHz);
    const host::Signal in = sine(200.0, kRateHz, frames);
    float inputStep = 0.0f;
    for (std::size_t i = 1; i < frames; ++i) inputStep = std::max(inputStep, std::abs(in[0][i] - in[0][i - 1]));
    for (std::int64_t release : {std::int64_t{60000}, std::int64_t{48000}, std::int64_t{40000}}) {
        Rig rig(kRateHz, 512);
        rig.set(kBrake, "Spinback");
        rig.set(kStop, "1 s");
        rig.set(kStart, "200 ms");
        const host::Signal out = rig.play(in, 512, {{{kTriggerFrame, kTrigger, 1.0f}, {release, kTrigger, 0.0f}}, {}});
        float largest = 0.0f;
        for (std::size_t i = 1; i < frames; ++i) largest = std::max(largest, std::abs(out[0][i] - out[0][i - 1]));
        EXPECT_LE(largest, 1.1f * static_cast<float>(kPeakReverseSpeed) * inputStep) << "release " << release;
        EXPECT_LT(firstFrameEqualToTheEnd(out, in), static_cast<std::int64_t>(frames) - 1000) << "caught up";
    }
}

// --- A small spectrum: magnitudes of one Hann-windowed stretch (a DFT at
// the bins asked for; the stretches are short).
std::vector<double> magnitudes(const std::vector<float>& x, std::size_t first, std::size_t length) {
    std::vector<double> out(length / 2);
    for (std::size_t bin = 0; bin < out.size(); ++bin) {
        std::complex<double> sum = 0.0;
        const double turn = -2.0 * std::numbers::pi * static_cast<double>(bin) / static_cast<double>(length);
        for (std::size_t i = 0; i < length; ++i) {
            const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (length - 1));
            sum += window * x[first + i] * std::polar(1.0, turn * static_cast<double>(i));
        }
        out[bin] = std::abs(sum);
    }
    return out;
}

// The spectral centroid in hertz of a stretch.
double centroidHz(const std::vector<float>& x, std::size_t first, std::size_t length) {
    const std::vector<double> m = magnitudes(x, first, length);
    double weighted = 0.0, total = 0.0;
    for (std::size_t bin = 1; bin < m.size(); ++bin) {
        weighted += m[bin] * bin * kRateHz / length;
        total += m[bin];
    }
    return weighted / total;
}

host::Signal darkStop(const host::Signal& in, const char* tone) {
    Rig rig(kRateHz, 512);
    rig.set(kTone, tone);
    rig.set(kStop, "2 s");
    rig.set(kStart, "100 ms");
    return rig.play(in, 512, {{{kTriggerFrame, kTrigger, 1.0f}, {kTriggerFrame + 72000, kTrigger, 0.0f}}, {}});
}

// At speed 1 Tone leaves the tape alone: before the stop, on its first
// frames, and from the end of the start on, Tone 100 plays Tone 0's output
// bit for bit; while the tape is slow the two differ.
TEST(Tone, AtNormalSpeedTheTapeIsUntouched) {
    const host::Signal in = testing_support::noise(100000, 5, 0.5f).signal();
    const host::Signal plain = darkStop(in, "0");
    const host::Signal dark = darkStop(in, "100");
    const std::int64_t startEnds = kTriggerFrame + 72000 + 4800;  // 100 ms start
    for (std::size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(std::memcmp(plain[c].data(), dark[c].data(), (kTriggerFrame + 1) * sizeof(float)), 0);
        EXPECT_EQ(std::memcmp(plain[c].data() + startEnds, dark[c].data() + startEnds,
                              (in[c].size() - startEnds) * sizeof(float)),
                  0);
    }
    EXPECT_EQ(firstFrameEqualToTheEnd(dark, in), firstFrameEqualToTheEnd(plain, in)) << "caught up as without Tone";
    bool differs = false;
    for (std::size_t i = kTriggerFrame + 10000; i < kTriggerFrame + 20000; ++i) differs = differs || plain[0][i] != dark[0][i];
    EXPECT_TRUE(differs);
}

// As the tape slows, the spectral centroid of a noise falls, and with Tone
// it falls further than the slowing alone takes it: a little while the
// tape is nearly at speed, by a quarter or more from half speed down.
TEST(Tone, TheCentroidFallsAsTheSpeedFalls) {
    const host::Signal in = testing_support::noise(100000, 9, 0.5f).signal();
    const host::Signal plain = darkStop(in, "0");
    const host::Signal dark = darkStop(in, "100");
    constexpr std::size_t kStretch = 1024;
    double previous = 1e9;
    // Linear stop over 96,000 frames: speeds 0.9, 0.7, 0.5, 0.3.
    for (double speed : {0.9, 0.7, 0.5, 0.3}) {
        const auto first = static_cast<std::size_t>(kTriggerFrame + (1.0 - speed) * 96000.0) - kStretch / 2;
        const double darkHz = centroidHz(dark[0], first, kStretch);
        const double plainHz = centroidHz(plain[0], first, kStretch);
        SCOPED_TRACE(speed);
        EXPECT_LT(darkHz, previous);
        EXPECT_LT(darkHz, (speed > 0.6 ? 0.97 : 0.75) * plainHz) << "plain " << plainHz;
        previous = darkHz;
    }
}

}  // namespace
