#include "Demo.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "AudioFile.h"
#include "OutputFile.h"

namespace tapestop {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kBeatSeconds = 0.5;  // 120 beats per minute
constexpr double kPeakLevel = 0.8;
constexpr int kHarmonics = 6;

// The arpeggio, one note per half beat, in hertz: A minor up and down.
constexpr std::array kArpeggioHz{220.0, 261.63, 329.63, 440.0, 523.25, 440.0, 329.63, 261.63};
constexpr double kBassHz = 110.0;

struct Stereo {
    double left = 0.0;
    double right = 0.0;
};

// A tone with falling harmonics, bright enough to show in a spectrogram.
double harmonicTone(double frequencyHz, double seconds) {
    double sum = 0.0;
    for (int k = 1; k <= kHarmonics; ++k) sum += std::sin(kTwoPi * frequencyHz * k * seconds) / k;
    return sum;
}

Stereo arpeggio(double seconds) {
    const double noteSeconds = kBeatSeconds / 2.0;
    const auto note = static_cast<std::size_t>(seconds / noteSeconds);
    const double sinceOnset = seconds - static_cast<double>(note) * noteSeconds;
    const double envelope = std::min(1.0, sinceOnset / 0.005) * std::exp(-sinceOnset * 6.0);
    const double tone = 0.35 * envelope * harmonicTone(kArpeggioHz[note % kArpeggioHz.size()], seconds);
    const double pan = note % 2 == 0 ? 0.3 : 0.7;  // alternate sides
    return {tone * (1.0 - pan), tone * pan};
}

double bass(double seconds) { return 0.25 * harmonicTone(kBassHz, seconds); }

// A kick on every beat: a sine falling from 150 to 50 Hz, quickly decaying.
double kick(double seconds) {
    const double t = std::fmod(seconds, kBeatSeconds);
    const double phase = kTwoPi * (50.0 * t + 100.0 * (1.0 - std::exp(-t * 30.0)) / 30.0);
    return 0.9 * std::exp(-t * 12.0) * std::sin(phase);
}

// A hi-hat between the beats: noise decaying within some 30 ms.
double hiHat(double seconds, std::uint32_t& noiseState) {
    noiseState = noiseState * 1664525u + 1013904223u;
    const double noise = static_cast<double>(noiseState) / 4294967296.0 * 2.0 - 1.0;
    const double t = std::fmod(seconds + kBeatSeconds / 2.0, kBeatSeconds);
    return 0.3 * std::exp(-t * 120.0) * noise;
}

std::vector<float> synthesize(std::int64_t frames) {
    std::vector<Stereo> mix(static_cast<std::size_t>(frames));
    std::uint32_t noiseState = 12345u;
    double peak = 0.0;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double seconds = static_cast<double>(i) / kDemoSampleRateHz;
        const Stereo tones = arpeggio(seconds);
        const double centre = bass(seconds) + kick(seconds);
        const double hat = hiHat(seconds, noiseState);
        mix[i] = {tones.left + centre + 0.7 * hat, tones.right + centre + 1.0 * hat};
        peak = std::max({peak, std::fabs(mix[i].left), std::fabs(mix[i].right)});
    }
    std::vector<float> interleaved;
    interleaved.reserve(mix.size() * 2);
    for (const Stereo& frame : mix) {
        interleaved.push_back(static_cast<float>(frame.left * kPeakLevel / peak));
        interleaved.push_back(static_cast<float>(frame.right * kPeakLevel / peak));
    }
    return interleaved;
}

}  // namespace

void writeDemoSignal(const std::string& path) {
    const auto frames = static_cast<std::int64_t>(kDemoSeconds * kDemoSampleRateHz);
    std::vector<float> samples = synthesize(frames);
    const OutputFormat format = outputFormatFor(path, false, SampleFormat::kFloat);
    OutputFile output(checkOutputTarget(path, "", false));
    AudioWriter writer(output.descriptor(), path, format, 2, kDemoSampleRateHz);
    writer.write(samples.data(), frames);
    writer.finish();
    output.commit();
}

}  // namespace tapestop
