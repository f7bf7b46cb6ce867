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
#include "OutputFile.h"
#include "PluginChannels.h"
#include "Progress.h"
#include "RenderTimeline.h"
#include "TransportHost.h"

namespace tapestop {

namespace {

constexpr int kMaxChannels = 2;
constexpr int kChunkFrames = 16384;  // frames per read and write of the files

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
        : library(options.pluginPath.empty() ? TAPESTOP_PLUGIN_PATH : options.pluginPath),
          transport(sampleRateHz, options.blockFrames),
          effect(library, transport) {
        transport.setRecording(false);
        transport.setTempo(options.tempoBpm);
        transport.setTimeSignature(options.meter.numerator, options.meter.denominator);
    }
};

// The file moves in large chunks, a whole number of blocks each.
int chunkFramesFor(int blockFrames) { return std::max(1, kChunkFrames / blockFrames) * blockFrames; }

// One chunk through the plug-in, a block-size step at a time, so that the
// progress names the block a crash happened in.
void processChunk(host::BlockProcessor& processor, PluginChannels& channels, int frames, int blockFrames,
                  host::ChildProgress& progress) {
    for (int offset = 0; offset < frames; offset += blockFrames) {
        progress.frame(processor.position());
        processor.process(channels.inputsAt(offset), channels.outputsAt(offset), std::min(blockFrames, frames - offset));
    }
}

// Reads, processes and writes the whole file, a chunk at a time.
void streamFile(AudioReader& reader, AudioWriter& writer, host::BlockProcessor& processor, int blockFrames,
                host::ChildProgress& progress, RenderCounts& counts, PluginChannels& channels) {
    const int fileChannels = reader.channels();
    const int chunkFrames = chunkFramesFor(blockFrames);
    std::vector<float> fileIn(static_cast<std::size_t>(chunkFrames) * fileChannels);
    std::vector<float> fileOut(fileIn.size());
    Progress shown(reader.frames(), reader.sampleRateHz());
    while (true) {
        progress.step("reading the input");
        const auto frames = static_cast<int>(reader.read(fileIn.data(), chunkFrames));
        if (frames == 0) break;
        channels.takeFrom(fileIn.data(), fileChannels, frames);
        progress.step("processing");
        processChunk(processor, channels, frames, blockFrames, progress);
        channels.giveTo(fileOut.data(), fileChannels, frames);
        counts.levels.add(fileOut.data(), static_cast<std::int64_t>(frames) * fileChannels);
        progress.step("writing the output");
        writer.write(fileOut.data(), frames);
        counts.frames += frames;
        shown.update(counts.frames);
    }
    shown.finish();
}

// What the child hands back: its counts, or why it failed.
struct ChildReport {
    enum class Failure : int { kNone, kFailed, kUsage };
    RenderCounts counts;
    Failure failure = Failure::kNone;
    char message[2048] = {};
};
static_assert(std::is_trivially_copyable_v<ChildReport>);

void reportFailure(ChildReport& report, ChildReport::Failure failure, const char* message) {
    report.failure = failure;
    std::snprintf(report.message, sizeof report.message, "%s", message);
}

// The child's whole work: loads and drives the plug-in, reads the input and
// writes the audio into the parent's nameless output file.
void renderInChild(const RenderOptions& options, const OutputFormat& format, int outputFd,
                   host::ChildProgress& progress, RenderCounts& counts) {
    progress.step("reading the input");
    AudioReader reader(options.inputPath);
    checkChannels(reader, options.inputPath);
    const int rate = reader.sampleRateHz();
    counts.sampleRateHz = rate;
    counts.channels = reader.channels();
    counts.announcedFrames = reader.announcedFrames();

    progress.step("loading");
    PluginSession session(options, rate);
    progress.step("starting");
    session.effect.start(static_cast<float>(rate), options.blockFrames);
    applySettings(session.effect, options.settings);
    PluginChannels channels(*session.effect.record(), chunkFramesFor(options.blockFrames));
    host::BlockProcessor processor(session.effect, channels.inputs(), channels.outputs(), options.blockFrames,
                                   resolveTimeline(session.effect, options.events, rate), &session.transport);
    AudioWriter writer(outputFd, options.outputPath, format, reader.channels(), rate);

    streamFile(reader, writer, processor, options.blockFrames, progress, counts, channels);
    progress.step("stopping");
    session.effect.stop();
    session.effect.close();
    progress.step("finishing the output");
    writer.finish();
    counts.clippedSamples = writer.clippedSamples();
    counts.eventsPastEnd = static_cast<std::int64_t>(processor.pendingParameterChanges() +
                                                     processor.pendingMidiMessages());
}

int runChild(const RenderOptions& options, const OutputFormat& format, int outputFd, host::ChildContext& context) {
    auto& report = *static_cast<ChildReport*>(context.shared());
    try {
        renderInChild(options, format, outputFd, context.progress(), report.counts);
    } catch (const UsageError& error) {
        reportFailure(report, ChildReport::Failure::kUsage, error.what());
    } catch (const std::exception& error) {
        reportFailure(report, ChildReport::Failure::kFailed, error.what());
    } catch (...) {
        reportFailure(report, ChildReport::Failure::kFailed, "the plug-in threw an exception of no standard type");
    }
    return static_cast<int>(report.failure);
}

void throwChildFailure(const ChildReport& report, const host::ChildOutcome& outcome) {
    if (outcome.ending == host::ChildOutcome::Ending::kInterrupted) throw Interrupted(outcome.signal);
    if (outcome.ending == host::ChildOutcome::Ending::kFinished && report.failure == ChildReport::Failure::kUsage)
        throw UsageError(report.message);
    if (outcome.ending == host::ChildOutcome::Ending::kFinished && report.failure == ChildReport::Failure::kFailed)
        throw std::runtime_error(report.message);
    throw std::runtime_error("the plug-in " + outcome.describe() + "; no output written");
}

std::vector<std::string> warningsOf(const RenderCounts& counts, const RenderOptions& options,
                                    const OutputTarget& target) {
    std::vector<std::string> warnings;
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
    host::ChildProcess child(
        [&](host::ChildContext& context) { return runChild(options, format, output.descriptor(), context); },
        sizeof(ChildReport));
    const host::ChildOutcome outcome = child.finish();
    // The plug-in shared the child's memory: its message is ended here.
    ChildReport report = *static_cast<const ChildReport*>(child.shared());
    report.message[sizeof report.message - 1] = '\0';
    if (!outcome.succeeded()) throwChildFailure(report, outcome);
    // An interrupt that came as the child finished still means "stop".
    if (const int signal = host::InterruptWatch::pendingSignal(); signal != 0) throw Interrupted(signal);
    output.commit();
    return RenderSummary{report.counts, secondsSince(started), format.clips, format.description,
                         warningsOf(report.counts, options, output.target())};
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
