// Processing as hosts drive it: every block size and sample rate, blocks
// that change size and fall short of the announced size, buffers against
// inaccessible pages, one buffer for a channel's input and output, suspend
// and resume in the middle, long runs, and parameters changed while running.
// Every block is inspected by the Streamer: unwritten samples, NaN,
// infinities, subnormals and writes outside the block.
#include <cstring>
#include <random>

#include "Checks.h"
#include "Session.h"

namespace tapestop::validate {

namespace {

constexpr float kSampleRateHz = 48000.0f;
constexpr VstInt32 kBlockFrames = 512;
constexpr VstInt32 kLargestBlockFrames = 8192;
constexpr std::size_t kFramesPerBlockSize = 4096;

constexpr int kQuickBlockSizes[] = {1, 7, 64, 512, 1000, 8192};
constexpr int kAllBlockSizes[] = {1, 2, 3, 7, 16, 32, 64, 100, 128, 256, 480, 512, 1000, 1024, 2048, 4096, 8192};
constexpr float kQuickSampleRatesHz[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f, 384000.0f};
constexpr float kAllSampleRatesHz[] = {22050.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 176400.0f, 192000.0f, 384000.0f};

std::string rateText(float rateHz) { return std::to_string(static_cast<int>(rateHz)) + " Hz"; }

Signal inputFor(const Instance& instance, std::size_t frames, std::uint32_t seed) {
    return testSignal(std::max(instance.inputs(), 1), frames, seed);
}

}  // namespace

void checkBlockSizes(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    const bool all = context.strictness() >= 5;
    const std::vector<int> sizes = all ? std::vector<int>(std::begin(kAllBlockSizes), std::end(kAllBlockSizes))
                                       : std::vector<int>(std::begin(kQuickBlockSizes), std::end(kQuickBlockSizes));
    for (int size : sizes) {
        context.step("block size " + std::to_string(size));
        Instance instance(library, host);
        instance.start(kSampleRateHz, size);
        StreamFindings found;
        processInBlocks(instance, inputFor(instance, std::max<std::size_t>(kFramesPerBlockSize, 2 * size), context.settings().seed),
                        static_cast<std::size_t>(size), &found);
        reportStream(context, found, "block size " + std::to_string(size));
    }

    context.step("blocks of changing size, up to the announced 8192");
    Instance instance(library, host);
    instance.start(kSampleRateHz, kLargestBlockFrames);
    const std::size_t frames = static_cast<std::size_t>(context.scaled(100000, 400000));
    const Signal in = inputFor(instance, frames, context.settings().seed);
    Signal out(static_cast<std::size_t>(instance.outputs()), std::vector<float>(frames));
    Streamer streamer(instance, kLargestBlockFrames);
    std::mt19937 random(context.settings().seed);
    std::uniform_int_distribution<int> blockFrames(1, kLargestBlockFrames);
    for (std::size_t offset = 0; offset < frames;) {
        const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(blockFrames(random)), frames - offset);
        streamer.process(in, out, offset, size);
        offset += size;
    }
    reportStream(context, streamer.findings(), "changing block sizes");
    context.note(std::to_string(sizes.size()) + " block sizes from 1 to 8192, then " + framesText(static_cast<std::int64_t>(frames)) +
                 " in blocks of changing size");
}

void checkBufferBounds(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    for (Guard guard : {Guard::kBehind, Guard::kBefore}) {
        const std::string side = guard == Guard::kBehind ? "behind" : "before";
        for (int size : {1, 13, 512}) {
            context.step("block size " + std::to_string(size) + ", inaccessible page " + side + " each buffer");
            Instance instance(library, host);
            instance.start(kSampleRateHz, size);
            const std::size_t frames = 64 * static_cast<std::size_t>(size);
            const Signal in = inputFor(instance, frames, context.settings().seed);
            Signal out(static_cast<std::size_t>(instance.outputs()), std::vector<float>(frames));
            Streamer streamer(instance, static_cast<std::size_t>(size), guard);
            for (std::size_t offset = 0; offset < frames; offset += static_cast<std::size_t>(size))
                streamer.process(in, out, offset, static_cast<std::size_t>(size));
            reportStream(context, streamer.findings(), "page " + side + ", block size " + std::to_string(size));
        }
    }
    context.note("no access outside the host's buffers and channel lists, every output sample written");
}

void checkSampleRates(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    const bool all = context.strictness() >= kMaxStrictness;
    const std::vector<float> rates = all ? std::vector<float>(std::begin(kAllSampleRatesHz), std::end(kAllSampleRatesHz))
                                         : std::vector<float>(std::begin(kQuickSampleRatesHz), std::end(kQuickSampleRatesHz));
    for (float rate : rates) {
        context.step("sample rate " + rateText(rate));
        Instance instance(library, host);
        instance.start(rate, kBlockFrames);
        StreamFindings found;
        processInBlocks(instance, inputFor(instance, static_cast<std::size_t>(rate / 2), context.settings().seed), kBlockFrames,
                        &found);
        reportStream(context, found, rateText(rate));
    }
    context.note(std::to_string(rates.size()) + " sample rates from 22050 to 384000 Hz, half a second each");
}

void checkSuspendResume(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    instance.start(kSampleRateHz, kBlockFrames);
    const std::size_t frames = 64 * kBlockFrames;
    const Signal in = inputFor(instance, frames, context.settings().seed);
    Signal out(static_cast<std::size_t>(instance.outputs()), std::vector<float>(frames));
    Streamer streamer(instance, kBlockFrames);
    for (std::size_t block = 0; block * kBlockFrames < frames; ++block) {
        if (block % 16 == 8) {
            context.step("suspend and resume after block " + std::to_string(block));
            instance.effect().stop();
            if (block % 32 == 8) {
                instance.effect().dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
                instance.effect().dispatch(effSetBlockSize, 0, kBlockFrames);
            }
            instance.effect().resume();
        }
        context.step("processing block " + std::to_string(block));
        streamer.process(in, out, block * kBlockFrames, kBlockFrames);
    }
    instance.effect().stop();
    reportStream(context, streamer.findings(), "around suspend and resume");
    context.note("suspended and resumed 4 times while processing, once with a new sample rate");
}

void checkInPlace(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    const Instance probe(library, host);
    const Signal in = testSignal(std::max(probe.inputs(), 1), 32 * kBlockFrames, context.settings().seed);
    const std::uint32_t seed = context.settings().seed;
    context.step("separate buffers");
    const Signal separate = freshOutput(library, host, in, seed);
    context.step("one buffer per channel for input and output");
    const Signal inPlace = freshOutput(library, host, in, seed, true);
    const std::string difference = firstDifference(separate, inPlace);
    if (difference.empty()) {
        context.note("in-place output equals the output into separate buffers");
    } else if (!firstDifference(separate, freshOutput(library, host, in, seed)).empty()) {
        context.note("output differs from run to run, so in-place processing was not compared");
    } else {
        context.fail("in-place output differs from the output into separate buffers at " + difference);
    }
}

void checkLongRun(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    std::mt19937 random(context.settings().seed);
    instance.start(kSampleRateHz, kBlockFrames);
    const std::size_t frames = static_cast<std::size_t>(context.scaled(120000, 960000));
    context.step("processing " + framesText(static_cast<std::int64_t>(frames)) + " at the default parameters");
    StreamFindings found;
    processInBlocks(instance, inputFor(instance, frames, context.settings().seed), kBlockFrames, &found);
    reportStream(context, found, "default parameters");
    context.step("processing " + framesText(static_cast<std::int64_t>(frames)) + " at random parameters");
    randomParameters(instance, random);
    processInBlocks(instance, inputFor(instance, frames, context.settings().seed + 1), kBlockFrames, &found);
    reportStream(context, found, "random parameters");
    context.note("twice " + framesText(static_cast<std::int64_t>(frames)) + " of noise, each ending in silence");
}

void checkDeterminism(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    const Instance probe(library, host);
    const Signal in = testSignal(std::max(probe.inputs(), 1), static_cast<std::size_t>(context.scaled(16, 64)) * kBlockFrames,
                                 context.settings().seed);
    context.step("first fresh instance");
    const Signal first = freshOutput(library, host, in, context.settings().seed);
    context.step("second fresh instance");
    const Signal second = freshOutput(library, host, in, context.settings().seed);
    const std::string difference = firstDifference(first, second);
    if (difference.empty())
        context.note("two fresh instances give the same output bit for bit");
    else
        context.failFrom(kMaxStrictness, "two fresh instances give different output for the same input and parameters, first at " +
                                             difference);
}

void checkParameterFuzz(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    instance.start(kSampleRateHz, kBlockFrames * 2);
    const std::size_t frames = static_cast<std::size_t>(context.scaled(100000, 1000000));
    const Signal in = inputFor(instance, frames, context.settings().seed);
    Signal out(static_cast<std::size_t>(instance.outputs()), std::vector<float>(frames));
    Streamer streamer(instance, kBlockFrames * 2);
    std::mt19937 random(context.settings().seed);
    std::uniform_int_distribution<int> blockFrames(1, kBlockFrames * 2);
    std::uniform_int_distribution<int> changes(0, 3);
    std::uniform_int_distribution<int> parameter(0, std::max(instance.parameters() - 1, 0));
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    int changed = 0;
    for (std::size_t offset = 0; offset < frames;) {
        for (int n = changes(random); n > 0 && instance.parameters() > 0; --n, ++changed) {
            const VstInt32 index = parameter(random);
            const float v = changes(random) == 0 ? static_cast<float>(changes(random) % 2) : value(random);
            context.step("setting parameter " + std::to_string(index) + " to " + floatText(v) + " at frame " +
                         std::to_string(offset));
            instance.effect().setParameter(index, v);
        }
        const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(blockFrames(random)), frames - offset);
        streamer.process(in, out, offset, size);
        offset += size;
    }
    reportStream(context, streamer.findings(), "parameters fuzzed");
    context.note(std::to_string(changed) + " parameter changes over " + framesText(static_cast<std::int64_t>(frames)));
}

}  // namespace tapestop::validate
