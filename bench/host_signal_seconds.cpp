// The host library's side of the Python overhead benchmark: a long stereo
// signal through a plug-in with processSignal, from C++, with the tape stop
// engaged at 20 s and released at 50 s of every minute. Prints the best
// wall-clock seconds of the runs.
// Usage: host_signal_seconds PLUGIN.so SECONDS RUNS
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BlockProcessor.h"
#include "TransportHost.h"

namespace {

constexpr int kSampleRateHz = 48000;
constexpr int kBlockFrames = 512;
constexpr double kPi = 3.14159265358979323846;
constexpr int kStopSecond = 20, kReleaseSecond = 50, kSecondsPerMinute = 60;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: host_signal_seconds PLUGIN.so SECONDS RUNS\n");
        return 2;
    }
    const std::int64_t frames = static_cast<std::int64_t>(std::atof(argv[2]) * kSampleRateHz);
    const int runs = std::atoi(argv[3]);
    host::Signal in(2, std::vector<float>(static_cast<std::size_t>(frames)));
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSampleRateHz;
        in[0][i] = static_cast<float>(0.3 * std::sin(2 * kPi * 220.0 * t) + 0.1 * std::sin(2 * kPi * 1320.0 * t));
        in[1][i] = static_cast<float>(0.3 * std::sin(2 * kPi * 330.0 * t) + 0.1 * std::sin(2 * kPi * 990.0 * t));
    }
    host::Timeline timeline;
    for (std::int64_t minute = 0; minute * kSecondsPerMinute * kSampleRateHz < frames; ++minute) {
        const std::int64_t start = minute * kSecondsPerMinute * kSampleRateHz;
        timeline.parameters.push_back({start + kStopSecond * kSampleRateHz, 0, 1.0f});
        timeline.parameters.push_back({start + kReleaseSecond * kSampleRateHz, 0, 0.0f});
    }
    double best = 1e30;
    host::PluginLibrary library(argv[1]);
    for (int run = 0; run < runs; ++run) {
        host::TransportHost transport(kSampleRateHz, kBlockFrames);
        transport.setRecording(false);
        host::Effect effect(library, transport);
        effect.start(kSampleRateHz, kBlockFrames);
        const auto started = std::chrono::steady_clock::now();
        const host::Signal out = host::processSignal(effect, in, kBlockFrames, timeline, &transport);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        effect.stop();
    }
    std::printf("%.4f\n", best);
    return 0;
}
