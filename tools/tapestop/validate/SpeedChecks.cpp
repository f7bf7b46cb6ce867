// The cost of processing at 48 kHz in blocks of 512: nanoseconds per frame
// and the real-time factor (audio seconds processed per second of work).
#include <chrono>
#include <cstdio>

#include "Checks.h"
#include "Session.h"

namespace tapestop::validate {

namespace {

constexpr float kSampleRateHz = 48000.0f;
constexpr VstInt32 kBlockFrames = 512;
constexpr int kWarmUpBlocks = 20;

}  // namespace

void checkSpeed(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    instance.start(kSampleRateHz, kBlockFrames);
    const Signal in = testSignal(std::max(instance.inputs(), 1), kBlockFrames, context.settings().seed);
    Signal out = silence(instance.outputs(), kBlockFrames);
    Streamer streamer(instance, kBlockFrames);
    context.step("warming up");
    for (int block = 0; block < kWarmUpBlocks; ++block) streamer.process(in, out, 0, kBlockFrames);

    // The measured blocks go straight to the plug-in, without the Streamer's
    // inspection, in buffers filled once.
    Signal input = in, output = out;
    std::vector<float*> inputs = channelPointers(input), outputs = channelPointers(output);
    const auto budget = std::chrono::milliseconds(context.scaled(250, 2000));
    context.step("measuring");
    long blocks = 0;
    const auto started = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::steady_clock::duration::zero();
    while (elapsed < budget) {
        processBlock(instance.effect(), inputs.data(), outputs.data(), kBlockFrames);
        ++blocks;
        elapsed = std::chrono::steady_clock::now() - started;
    }
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const double frames = static_cast<double>(blocks) * kBlockFrames;
    const double nanosecondsPerFrame = seconds * 1e9 / frames;
    const double realTimeFactor = frames / kSampleRateHz / seconds;
    char text[160];
    std::snprintf(text, sizeof text, "%.1f ns per frame at 48 kHz in blocks of 512, %.1f times real time", nanosecondsPerFrame,
                  realTimeFactor);
    if (realTimeFactor < 1.0)
        context.failFrom(kMaxStrictness, std::string(text) + ": slower than real time");
    else
        context.note(text);
}

}  // namespace tapestop::validate
