#include "Render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "AudioFile.h"
#include "ChildProcess.h"
#include "EventSchedule.h"
#include "OutputFile.h"
#include "Parameters.h"
#include "PluginBlocks.h"
#include "Progress.h"
#include "RenderHost.h"

namespace tapestop {

namespace {

constexpr int kMaxChannels = 2;
constexpr int kChunkFrames = 16384;  // frames per read and write of the files
constexpr double kMillisecondsPerSecond = 1000.0;

// Rounded to the nearest frame; times beyond any file are held at a frame
// no file reaches, which keeps the conversion defined.
std::int64_t framesAt(const TimeSpec& time, int sampleRateHz) {
    constexpr double kBeyondAnyFileFrames = 9.0e18;
    double frames = time.amount;
    if (time.unit == TimeSpec::Unit::kSeconds) frames = time.amount * sampleRateHz;
    if (time.unit == TimeSpec::Unit::kMilliseconds) frames = time.amount * sampleRateHz / kMillisecondsPerSecond;
    return static_cast<std::int64_t>(std::round(std::min(frames, kBeyondAnyFileFrames)));
}

// Two changes of one parameter on one frame would leave the outcome to the
// order they were written in, and --stop T --release T would silently give
// no stop: both are refused.
std::vector<ParameterEvent> resolveEvents(host::Effect& effect, const RenderOptions& options, int sampleRateHz) {
    std::vector<ParameterEvent> events;
    std::map<std::pair<std::int64_t, VstInt32>, std::string> sources;
    for (const TimedEvent& event : options.events) {
        const auto* assignment = std::get_if<ParameterAssignment>(&event.what);
        if (assignment == nullptr) continue;
        const std::int64_t frame = framesAt(event.at, sampleRateHz);
        const VstInt32 index = findParameter(effect, assignment->parameter);
        const auto [earlier, first] = sources.emplace(std::make_pair(frame, index), event.source);
        if (!first)
            throw UsageError("'" + earlier->second + "' and '" + event.source + "' both change parameter '" +
                             effect.parameterName(index) + "' on frame " + std::to_string(frame) +
                             "; give one change per frame");
        events.push_back(ParameterEvent{frame, index, parameterValue(effect, index, *assignment)});
    }
    return events;
}

void checkChannels(const AudioReader& reader, const std::string& path) {
    if (reader.channels() > kMaxChannels)
        throw AudioFileError("input '" + path + "' has " + std::to_string(reader.channels()) +
                             " channels; only mono and stereo files can be rendered");
}

// The host's start of play: open, sample rate and block size; then the
// settings a host restores; then resume and the start of processing.
void openEffect(host::Effect& effect, int sampleRateHz, int blockFrames) {
    effect.dispatch(effOpen);
    effect.dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRateHz));
    effect.dispatch(effSetBlockSize, 0, blockFrames);
}

// A parameter set twice is refused rather than the last value kept.
void applySettings(host::Effect& effect, const std::vector<ParameterAssignment>& settings) {
    std::map<VstInt32, std::string> written;
    for (const ParameterAssignment& setting : settings) {
        const VstInt32 index = findParameter(effect, setting.parameter);
        const auto [earlier, first] = written.emplace(index, assignmentText(setting));
        if (!first)
            throw UsageError("parameter '" + effect.parameterName(index) + "' is set twice (--set " + earlier->second +
                             " and --set " + assignmentText(setting) + "); give one value");
        effect.setParameter(index, parameterValue(effect, index, setting));
    }
}

// The peak of the finite samples; samples that are no number or infinite
// come first, since no level in dBFS can show them.
std::string peakText(const SampleLevels& levels) {
    char text[160];
    const double peakDb = levels.peak > 0.0f ? 20.0 * std::log10(levels.peak) : -INFINITY;
    if (levels.nanSamples + levels.infiniteSamples == 0) {
        std::snprintf(text, sizeof text, "peak %.1f dBFS (%.6f)", peakDb, static_cast<double>(levels.peak));
    } else {
        std::snprintf(text, sizeof text, "peak not finite: %lld NaN and %lld infinite samples; finite peak %.1f dBFS (%.6f)",
                      static_cast<long long>(levels.nanSamples), static_cast<long long>(levels.infiniteSamples), peakDb,
                      static_cast<double>(levels.peak));
    }
    return text;
}

void resumeEffect(host::Effect& effect) {
    effect.dispatch(effMainsChanged, 0, 1);
    effect.dispatch(effStartProcess);
}

void stopEffect(host::Effect& effect) {
    effect.dispatch(effStopProcess);
    effect.dispatch(effMainsChanged, 0, 0);
    effect.close();
}

// The library, host and effect of one render, built and torn down in order.
struct PluginSession {
    host::PluginLibrary library;
    RenderHost host;
    host::Effect effect;

    PluginSession(const std::string& path, int sampleRateHz, int blockFrames)
        : library(path.empty() ? TAPESTOP_PLUGIN_PATH : path), host(sampleRateHz, blockFrames), effect(library, host) {}
};

// What processing a chunk of the file takes.
struct Playback {
    host::Effect& effect;
    RenderHost& host;
    EventSchedule& schedule;
    PluginBlocks& blocks;
    host::ChildProgress& progress;
    int blockFrames;
};

// One chunk of the file, in blocks of the announced size counted from the
// start of the file, each cut where an event is due.
void processChunk(std::int64_t firstFrame, int frames, Playback& playback) {
    int offset = 0;
    while (offset < frames) {
        const std::int64_t frame = firstFrame + offset;
        for (const ParameterEvent& event : playback.schedule.takeDue(frame))
            playback.effect.setParameter(event.index, event.value);
        const auto blockLeft = static_cast<int>(playback.blockFrames - frame % playback.blockFrames);
        const auto pieceFrames =
            static_cast<int>(playback.schedule.framesBeforeNextEvent(frame, std::min(blockLeft, frames - offset)));
        playback.progress.frame(frame);
        playback.host.moveTo(frame);
        playback.blocks.process(offset, pieceFrames);
        offset += pieceFrames;
    }
}

// Between the file's frame order and the plug-in's channels, four frames a
// step as vector shuffles (the plain loop stays scalar). A mono file feeds
// both inputs ...
using FourFloats = float __attribute__((vector_size(4 * sizeof(float))));
constexpr int kFramesPerStep = 4;

FourFloats loadFour(const float* from) {
    FourFloats value;
    std::memcpy(&value, from, sizeof value);
    return value;
}

void storeFour(float* to, FourFloats value) { std::memcpy(to, &value, sizeof value); }

void deinterleave(const std::vector<float>& interleaved, int channels, int frames, PluginBlocks& blocks) {
    const float* in = interleaved.data();
    float* left = blocks.input(0);
    float* right = blocks.input(1);
    if (channels == 1) {
        std::copy_n(in, frames, left);
        std::copy_n(in, frames, right);
        return;
    }
    int i = 0;
    for (; i + kFramesPerStep <= frames; i += kFramesPerStep) {
        const FourFloats first = loadFour(in + 2 * i);
        const FourFloats second = loadFour(in + 2 * i + kFramesPerStep);
        storeFour(left + i, __builtin_shufflevector(first, second, 0, 2, 4, 6));
        storeFour(right + i, __builtin_shufflevector(first, second, 1, 3, 5, 7));
    }
    for (; i < frames; ++i) {
        left[i] = in[2 * i];
        right[i] = in[2 * i + 1];
    }
}

// ... and takes the mean of both outputs, formed in double precision so that
// equal channels come back bit for bit.
void interleave(const PluginBlocks& blocks, int channels, int frames, std::vector<float>& interleaved) {
    const float* left = blocks.output(0);
    const float* right = blocks.output(1);
    float* out = interleaved.data();
    if (channels == 1) {
        for (int i = 0; i < frames; ++i)
            out[i] = static_cast<float>(0.5 * (static_cast<double>(left[i]) + static_cast<double>(right[i])));
        return;
    }
    int i = 0;
    for (; i + kFramesPerStep <= frames; i += kFramesPerStep) {
        const FourFloats l = loadFour(left + i);
        const FourFloats r = loadFour(right + i);
        storeFour(out + 2 * i, __builtin_shufflevector(l, r, 0, 4, 1, 5));
        storeFour(out + 2 * i + kFramesPerStep, __builtin_shufflevector(l, r, 2, 6, 3, 7));
    }
    for (; i < frames; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
}

// The file moves in large chunks, a whole number of blocks each, so that
// the plug-in sees the same blocks whatever the chunk size.
int chunkFramesFor(int blockFrames) { return std::max(1, kChunkFrames / blockFrames) * blockFrames; }

// Reads, processes and writes the whole file, a chunk at a time.
void streamFile(AudioReader& reader, AudioWriter& writer, Playback& playback, RenderCounts& counts) {
    const int channels = reader.channels();
    const int chunkFrames = chunkFramesFor(playback.blockFrames);
    std::vector<float> fileIn(static_cast<std::size_t>(chunkFrames) * channels);
    std::vector<float> fileOut(fileIn.size());
    Progress progress(reader.frames(), reader.sampleRateHz());
    while (true) {
        playback.progress.step("reading the input");
        const auto frames = static_cast<int>(reader.read(fileIn.data(), chunkFrames));
        if (frames == 0) break;
        deinterleave(fileIn, channels, frames, playback.blocks);
        playback.progress.step("processing");
        processChunk(counts.frames, frames, playback);
        interleave(playback.blocks, channels, frames, fileOut);
        counts.levels.add(fileOut.data(), static_cast<std::int64_t>(frames) * channels);
        playback.progress.step("writing the output");
        writer.write(fileOut.data(), frames);
        counts.frames += frames;
        progress.update(counts.frames);
    }
    progress.finish();
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
    PluginSession session(options.pluginPath, rate, options.blockFrames);
    progress.step("opening");
    openEffect(session.effect, rate, options.blockFrames);
    applySettings(session.effect, options.settings);
    EventSchedule schedule(resolveEvents(session.effect, options, rate));
    resumeEffect(session.effect);
    PluginBlocks blocks(session.effect, chunkFramesFor(options.blockFrames));
    AudioWriter writer(outputFd, options.outputPath, format, reader.channels(), rate);

    Playback playback{session.effect, session.host, schedule, blocks, progress, options.blockFrames};
    streamFile(reader, writer, playback, counts);
    progress.step("closing");
    stopEffect(session.effect);
    progress.step("finishing the output");
    writer.finish();
    counts.clippedSamples = writer.clippedSamples();
    counts.eventsPastEnd = static_cast<std::int64_t>(schedule.countAtOrAfter(counts.frames));
}

int runChild(const RenderOptions& options, const OutputFormat& format, int outputFd, host::ChildContext& context) {
    auto& report = *static_cast<ChildReport*>(context.shared());
    try {
        renderInChild(options, format, outputFd, context.progress(), report.counts);
    } catch (const UsageError& error) {
        reportFailure(report, ChildReport::Failure::kUsage, error.what());
    } catch (const std::exception& error) {
        reportFailure(report, ChildReport::Failure::kFailed, error.what());
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
        warnings.push_back(std::to_string(counts.eventsPastEnd) + " parameter change(s) at or after the end of the " +
                           "input (" + std::to_string(counts.frames) + " frames) never took effect");
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
    const ChildReport report = *static_cast<const ChildReport*>(child.shared());
    if (!outcome.succeeded()) throwChildFailure(report, outcome);
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
