#include "Render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <type_traits>
#include <vector>

#include "AudioFile.h"
#include "BlockProcessor.h"
#include "ChildProcess.h"
#include "DefaultPlugin.h"
#include "OutputFile.h"
#include "PluginChannels.h"
#include "Progress.h"
#include "RenderTimeline.h"
#include "TransportHost.h"

namespace tapestop {

namespace {

constexpr int kMaxChannels = 2;
constexpr int kChunkFrames = 32768;  // frames per read and write of the files, and per slot

void checkChannels(const AudioReader& reader, const std::string& path) {
    if (reader.channels() > kMaxChannels)
        throw AudioFileError("input '" + path + "' has " + std::to_string(reader.channels()) +
                             " channels; only mono and stereo files can be rendered");
}

// The peak of the finite samples; samples that are no number or infinite
// come first, since no level in dBFS can show them.
std::string peakText(const SampleLevels& levels) {
    char text[160];
    const double peakDb = levels.peak > 0.0f ? 20.0 * std::log10(levels.peak) : -INFINITY;
    if (levels.nanSamples + levels.infiniteSamples == 0) {
        std::snprintf(text, sizeof text, "peak %.1f dBFS (%.6f)", peakDb, static_cast<double>(levels.peak));
    } else {
        std::snprintf(text, sizeof text,
                      "peak not finite: %lld NaN and %lld infinite samples; finite peak %.1f dBFS (%.6f)",
                      static_cast<long long>(levels.nanSamples), static_cast<long long>(levels.infiniteSamples), peakDb,
                      static_cast<double>(levels.peak));
    }
    return text;
}

// The library, transport and effect of one render, built and torn down in
// order; the transport answers once per block, so it records nothing.
struct PluginSession {
    host::PluginLibrary library;
    host::TransportHost transport;
    host::Effect effect;

    PluginSession(const RenderOptions& options, int sampleRateHz)
        : library(options.pluginPath.empty() ? defaultPluginPath() : options.pluginPath),
          transport(sampleRateHz, options.blockFrames),
          effect(library, transport) {
        transport.setRecording(false);
        transport.setTempo(options.tempoBpm);
        transport.setTimeSignature(options.meter.numerator, options.meter.denominator);
    }
};

// The file moves in large chunks, a whole number of blocks each.
int chunkFramesFor(int blockFrames) { return std::max(1, kChunkFrames / blockFrames) * blockFrames; }

// How the two sides share the work. The child reads the input and runs the
// plug-in; the parent holds the output and writes it. Audio crosses in
// shared memory: a few slots of one chunk each, filled by the child in turn
// and handed back by the parent once written, so that reading and processing
// overlap with writing. The messages only name slots.
constexpr int kSlots = 3;

struct SlotMessage {
    static constexpr std::int32_t kReady = -1;  // the child is ready; the header in the report is valid
    static constexpr std::int32_t kEnd = -2;    // every frame has been sent
    std::int32_t slot = kReady;
    std::int32_t frames = 0;
};

// What the child hands back besides audio: the header of the render and
// its counts, or why it failed.
struct ChildReport {
    enum class Failure : int { kNone, kFailed, kUsage };
    RenderCounts counts;
    Failure failure = Failure::kNone;
    char message[2048] = {};
};
static_assert(std::is_trivially_copyable_v<ChildReport>);

// The shared memory: the report, then the slots.
class SharedLayout {
public:
    SharedLayout(int chunkFrames, int fileChannels)
        : slotSamples_(static_cast<std::size_t>(chunkFrames) * static_cast<std::size_t>(fileChannels)) {}

    static std::size_t bytesFor(int chunkFrames) {
        return sizeof(ChildReport) + kSlots * static_cast<std::size_t>(chunkFrames) * kMaxChannels * sizeof(float);
    }
    static ChildReport& report(void* shared) { return *static_cast<ChildReport*>(shared); }
    float* slot(void* shared, int index) const {
        return reinterpret_cast<float*>(static_cast<char*>(shared) + sizeof(ChildReport)) +
               static_cast<std::size_t>(index) * slotSamples_;
    }

private:
    std::size_t slotSamples_;
};
static_assert(sizeof(ChildReport) % alignof(float) == 0);

// One chunk through the plug-in, a block-size step at a time, so that the
// progress names the block a crash happened in.
void processChunk(host::BlockProcessor& processor, PluginChannels& channels, int frames, int blockFrames,
                  host::ChildProgress& progress) {
    for (int offset = 0; offset < frames; offset += blockFrames) {
        progress.frame(processor.position());
        processor.process(channels.inputsAt(offset), channels.outputsAt(offset), std::min(blockFrames, frames - offset));
    }
}

// The child's side of the stream: each chunk read into the next slot,
// processed there in place, and handed to the parent; a slot is reused only
// once the parent has handed it back. Every slot comes back before the end,
// since a socket closed with messages unread resets the connection, and the
// parent could lose the last ones.
void streamChunks(AudioReader& reader, host::BlockProcessor& processor, PluginChannels& channels, int blockFrames,
                  host::ChildContext& context) {
    const int fileChannels = reader.channels();
    const int chunkFrames = chunkFramesFor(blockFrames);
    const SharedLayout layout(chunkFrames, fileChannels);
    host::ChildProgress& progress = context.progress();
    int slotsOut = 0;
    const auto takeOneBack = [&] {
        SlotMessage handedBack;
        --slotsOut;
        return context.receive(&handedBack, sizeof handedBack);
    };
    for (std::int32_t slot = 0;; slot = (slot + 1) % kSlots) {
        if (slotsOut == kSlots && !takeOneBack()) return;
        float* samples = layout.slot(context.shared(), slot);
        progress.step("reading the input");
        const auto frames = static_cast<std::int32_t>(reader.read(samples, chunkFrames));
        if (frames == 0) break;
        channels.takeFrom(samples, fileChannels, frames);
        progress.step("processing");
        processChunk(processor, channels, frames, blockFrames, progress);
        channels.giveTo(samples, fileChannels, frames);
        const SlotMessage filled{slot, frames};
        if (!context.send(&filled, sizeof filled)) return;
        ++slotsOut;
    }
    while (slotsOut > 0)
        if (!takeOneBack()) return;
}

// The child's whole work: loads and drives the plug-in and reads the input;
// the audio goes to the parent through the slots.
void renderInChild(const RenderOptions& options, host::ChildContext& context) {
    host::ChildProgress& progress = context.progress();
    RenderCounts& counts = SharedLayout::report(context.shared()).counts;
    progress.step("reading the input");
    AudioReader reader(options.inputPath);
    checkChannels(reader, options.inputPath);
    const int rate = reader.sampleRateHz();

    progress.step("loading");
    PluginSession session(options, rate);
    progress.step("starting");
    session.effect.start(static_cast<float>(rate), options.blockFrames);
    applySettings(session.effect, options.settings);
    PluginChannels channels(*session.effect.record(), chunkFramesFor(options.blockFrames));
    host::BlockProcessor processor(session.effect, channels.inputs(), channels.outputs(), options.blockFrames,
                                   resolveTimeline(session.effect, options.events, rate), &session.transport);
    counts.sampleRateHz = rate;
    counts.channels = reader.channels();
    counts.presentFrames = reader.frames();
    counts.announcedFrames = reader.announcedFrames();
    const SlotMessage ready{SlotMessage::kReady, 0};
    if (!context.send(&ready, sizeof ready)) return;

    streamChunks(reader, processor, channels, options.blockFrames, context);
    progress.step("stopping");
    session.effect.stop();
    session.effect.close();
    counts.eventsPastEnd = static_cast<std::int64_t>(processor.pendingParameterChanges() +
                                                     processor.pendingMidiMessages());
    const SlotMessage end{SlotMessage::kEnd, 0};
    context.send(&end, sizeof end);
}

void reportFailure(ChildReport& report, ChildReport::Failure failure, const char* message) {
    report.failure = failure;
    std::snprintf(report.message, sizeof report.message, "%s", message);
}

int runChild(const RenderOptions& options, host::ChildContext& context) {
    ChildReport& report = SharedLayout::report(context.shared());
    try {
        renderInChild(options, context);
    } catch (const UsageError& error) {
        reportFailure(report, ChildReport::Failure::kUsage, error.what());
    } catch (const std::exception& error) {
        reportFailure(report, ChildReport::Failure::kFailed, error.what());
    } catch (...) {
        reportFailure(report, ChildReport::Failure::kFailed, "the plug-in threw an exception of no standard type");
    }
    return static_cast<int>(report.failure);
}

// Why the child ended without handing over every frame.
[[noreturn]] void throwChildFailure(host::ChildProcess& child) {
    const host::ChildOutcome outcome = child.finish();
    // The plug-in shared the child's memory: its message is ended here.
    ChildReport report = SharedLayout::report(child.shared());
    report.message[sizeof report.message - 1] = '\0';
    if (outcome.ending == host::ChildOutcome::Ending::kInterrupted) throw Interrupted(outcome.signal);
    if (outcome.ending == host::ChildOutcome::Ending::kFinished && report.failure == ChildReport::Failure::kUsage)
        throw UsageError(report.message);
    if (outcome.ending == host::ChildOutcome::Ending::kFinished && report.failure == ChildReport::Failure::kFailed)
        throw std::runtime_error(report.message);
    throw std::runtime_error("the plug-in " + outcome.describe() + "; no output written");
}

SlotMessage receiveFrom(host::ChildProcess& child) {
    SlotMessage message;
    if (child.receive(&message, sizeof message) != host::ChildProcess::Received::kMessage) throwChildFailure(child);
    return message;
}

// The parent's side of the stream: each slot the child fills is measured,
// written and handed back, until the child says it has sent everything.
// What comes from the child is checked before it is used: the plug-in shares
// its memory and may have scribbled over anything.
void writeChunks(host::ChildProcess& child, AudioWriter& writer, int chunkFrames, RenderCounts& counts) {
    const SharedLayout layout(chunkFrames, counts.channels);
    Progress shown(counts.presentFrames, counts.sampleRateHz);
    for (SlotMessage message = receiveFrom(child); message.slot != SlotMessage::kEnd; message = receiveFrom(child)) {
        if (message.slot < 0 || message.slot >= kSlots || message.frames <= 0 || message.frames > chunkFrames)
            throw std::runtime_error("the plug-in's process handed over a chunk that does not exist");
        float* samples = layout.slot(child.shared(), message.slot);
        counts.levels.add(samples, static_cast<std::int64_t>(message.frames) * counts.channels);
        writer.write(samples, message.frames);
        counts.frames += message.frames;
        shown.update(counts.frames);
        child.send(&message, sizeof message);
    }
    shown.finish();
}

// The header the child wrote before it said it was ready.
RenderCounts headerFrom(host::ChildProcess& child) {
    if (receiveFrom(child).slot != SlotMessage::kReady) throwChildFailure(child);
    RenderCounts header = SharedLayout::report(child.shared()).counts;
    if (header.channels < 1 || header.channels > kMaxChannels || header.sampleRateHz <= 0)
        throw std::runtime_error("the plug-in's process handed over a header that makes no sense");
    return header;
}

std::vector<std::string> warningsOf(const RenderCounts& counts, const RenderOptions& options,
                                    const OutputTarget& target) {
    std::vector<std::string> warnings;
    // Guarded by Render.ACutShortInputIsRenderedWithAWarning.
    if (counts.announcedFrames > counts.frames)
        warnings.push_back("input '" + options.inputPath + "' is cut short: its header announces " +
                           std::to_string(counts.announcedFrames) + " frames, only " + std::to_string(counts.frames) +
                           " are present and were rendered");
    if (counts.levels.nanSamples + counts.levels.infiniteSamples > 0)
        warnings.push_back("the plug-in put out " + std::to_string(counts.levels.nanSamples) + " NaN and " +
                           std::to_string(counts.levels.infiniteSamples) + " infinite samples");
    if (counts.eventsPastEnd > 0)
        warnings.push_back(std::to_string(counts.eventsPastEnd) + " parameter change(s) or note(s) at or after the end " +
                           "of the input (" + std::to_string(counts.frames) + " frames) never took effect");
    // Guarded by Output.ReplacingKeepsPermissionsSymlinksAndOtherNames.
    if (target.otherLinks > 0)
        warnings.push_back("'" + options.outputPath + "' had " + std::to_string(target.otherLinks) +
                           " other name(s) (hard links); they keep the earlier content");
    return warnings;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

RenderSummary render(const RenderOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    const host::InterruptWatch interrupts;
    const OutputFormat format = outputFormatFor(options.outputPath, options.format.has_value(),
                                                options.format.value_or(SampleFormat::kFloat));
    OutputFile output(checkOutputTarget(options.outputPath, options.inputPath, options.force));
    const int chunkFrames = chunkFramesFor(options.blockFrames);
    host::ChildProcess child([&](host::ChildContext& context) { return runChild(options, context); },
                             SharedLayout::bytesFor(chunkFrames));
    RenderCounts counts = headerFrom(child);
    AudioWriter writer(output.descriptor(), options.outputPath, format, counts.channels, counts.sampleRateHz);
    writeChunks(child, writer, chunkFrames, counts);
    // Guarded by Isolation.AFailingPluginIsReportedAndLeavesNothingBehind.
    if (!child.finish().succeeded()) throwChildFailure(child);
    writer.finish();
    counts.clippedSamples = writer.clippedSamples();
    counts.eventsPastEnd = SharedLayout::report(child.shared()).counts.eventsPastEnd;
    // An interrupt that came as the child finished still means "stop".
    if (const int signal = host::InterruptWatch::pendingSignal(); signal != 0) throw Interrupted(signal);
    output.commit();
    return RenderSummary{counts, secondsSince(started), format.clips, format.description,
                         warningsOf(counts, options, output.target())};
}

std::string describe(const RenderSummary& summary) {
    const RenderCounts& counts = summary.counts;
    const double seconds = static_cast<double>(counts.frames) / counts.sampleRateHz;
    char text[512];
    std::snprintf(text, sizeof text, "%lld frames (%.3f s at %d Hz, %s) in %.3f s, %.0fx real time\n",
                  static_cast<long long>(counts.frames), seconds, counts.sampleRateHz,
                  counts.channels == 1 ? "mono" : "stereo", summary.wallSeconds,
                  summary.wallSeconds > 0.0 ? seconds / summary.wallSeconds : 0.0);
    std::string result = text;
    result += peakText(counts.levels) + ", " + summary.formatDescription;
    if (summary.clips) result += ", " + std::to_string(counts.clippedSamples) + " samples clipped";
    return result + "\n";
}

}  // namespace tapestop
