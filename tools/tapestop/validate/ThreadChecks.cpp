// One thread processes while another sets and reads parameters and asks for
// display texts, as a host's audio and editor threads do, for a bounded time.
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "Checks.h"
#include "Session.h"

namespace tapestop::validate {

namespace {

constexpr float kSampleRateHz = 48000.0f;
constexpr VstInt32 kBlockFrames = 256;

}  // namespace

void checkThreads(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    instance.start(kSampleRateHz, kBlockFrames);
    const auto duration = std::chrono::milliseconds(context.scaled(300, 3000));
    const Signal in = testSignal(std::max(instance.inputs(), 1), kBlockFrames, context.settings().seed);
    Signal out = silence(instance.outputs(), kBlockFrames);
    Streamer streamer(instance, kBlockFrames);

    context.step("processing on one thread, parameters and texts on another");
    std::atomic<bool> done{false};
    std::atomic<long> blocks{0};
    std::thread audio([&] {
        while (!done.load(std::memory_order_relaxed)) {
            streamer.process(in, out, 0, kBlockFrames);
            blocks.fetch_add(1, std::memory_order_relaxed);
        }
    });
    std::mt19937 random(context.settings().seed);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    long rounds = 0;
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until && instance.parameters() > 0) {
        const VstInt32 index = static_cast<VstInt32>(random() % static_cast<unsigned>(instance.parameters()));
        instance.effect().setParameter(index, value(random));
        instance.effect().getParameter(index);
        instance.effect().parameterDisplay(index);
        ++rounds;
    }
    if (instance.parameters() == 0) std::this_thread::sleep_until(until);
    done = true;
    audio.join();
    reportStream(context, streamer.findings(), "while another thread set parameters");
    context.note(std::to_string(blocks.load()) + " blocks processed while " + std::to_string(rounds) +
                 " parameter changes, reads and display texts ran on another thread");
}

}  // namespace tapestop::validate
