#include "Render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "AudioFile.h"
#include "DefaultPlugin.h"
#include "EventSchedule.h"
#include "Parameters.h"
#include "PluginBlocks.h"
#include "Progress.h"
#include "RenderHost.h"

namespace tapestop {

namespace {

constexpr int kMaxChannels = 2;
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

std::vector<ParameterEvent> resolveEvents(host::Effect& effect, const RenderOptions& options, int sampleRateHz) {
    std::vector<ParameterEvent> events;
    for (const TimedAssignment& event : options.events)
        events.push_back(ParameterEvent{framesAt(event.at, sampleRateHz),
                                        findParameter(effect, event.assignment.parameter), event.assignment.value});
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

void applySettings(host::Effect& effect, const std::vector<ParameterAssignment>& settings) {
    for (const ParameterAssignment& setting : settings)
        effect.setParameter(findParameter(effect, setting.parameter), setting.value);
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
        : library(path.empty() ? defaultPluginPath() : path), host(sampleRateHz, blockFrames), effect(library, host) {}
};

// What processing a chunk of the file takes.
struct Playback {
    host::Effect& effect;
    RenderHost& host;
    EventSchedule& schedule;
    PluginBlocks& blocks;
};

// One chunk of the file, processed in pieces that end where an event is due.
void processChunk(std::int64_t firstFrame, int frames, Playback& playback) {
    int offset = 0;
    while (offset < frames) {
        const std::int64_t frame = firstFrame + offset;
        for (const ParameterEvent& event : playback.schedule.takeDue(frame))
            playback.effect.setParameter(event.index, event.value);
        const auto pieceFrames = static_cast<int>(playback.schedule.framesBeforeNextEvent(frame, frames - offset));
        playback.host.moveTo(frame);
        playback.blocks.process(offset, pieceFrames);
        offset += pieceFrames;
    }
}

// Between the file's interleaved frames and the plug-in's channels. A mono
// file feeds both inputs ...
void deinterleave(const std::vector<float>& interleaved, int channels, int frames, PluginBlocks& blocks) {
    float* left = blocks.input(0);
    float* right = blocks.input(1);
    for (int i = 0; i < frames; ++i) {
        left[i] = interleaved[static_cast<std::size_t>(i) * channels];
        right[i] = interleaved[static_cast<std::size_t>(i) * channels + channels - 1];
    }
}

// ... and takes the mean of both outputs, formed in double precision so that
// equal channels come back bit for bit.
float interleave(const PluginBlocks& blocks, int channels, int frames, std::vector<float>& interleaved) {
    const float* left = blocks.output(0);
    const float* right = blocks.output(1);
    float peak = 0.0f;
    for (int i = 0; i < frames; ++i) {
        if (channels == 1) {
            interleaved[i] = static_cast<float>(0.5 * (static_cast<double>(left[i]) + static_cast<double>(right[i])));
        } else {
            interleaved[2 * static_cast<std::size_t>(i)] = left[i];
            interleaved[2 * static_cast<std::size_t>(i) + 1] = right[i];
        }
    }
    for (int i = 0; i < frames * channels; ++i) peak = std::max(peak, std::fabs(interleaved[i]));
    return peak;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Reads, processes and writes the whole file, one block at a time.
void streamFile(AudioReader& reader, AudioWriter& writer, Playback& playback, int blockFrames,
                const std::atomic<bool>& stopRequested, RenderSummary& summary) {
    const int channels = reader.channels();
    std::vector<float> fileIn(static_cast<std::size_t>(blockFrames) * channels);
    std::vector<float> fileOut(fileIn.size());
    Progress progress(reader.frames(), reader.sampleRateHz());
    while (const auto frames = static_cast<int>(reader.read(fileIn.data(), blockFrames))) {
        if (stopRequested.load()) throw std::runtime_error("interrupted; no output written");
        deinterleave(fileIn, channels, frames, playback.blocks);
        processChunk(summary.frames, frames, playback);
        summary.peak = std::max(summary.peak, interleave(playback.blocks, channels, frames, fileOut));
        writer.write(fileOut.data(), frames);
        summary.frames += frames;
        progress.update(summary.frames);
    }
    progress.finish();
}

}  // namespace

RenderSummary render(const RenderOptions& options, const std::atomic<bool>& stopRequested) {
    const auto started = std::chrono::steady_clock::now();
    const OutputFormat format = outputFormatFor(options.outputPath, options.format.has_value(),
                                                options.format.value_or(SampleFormat::kFloat));
    AudioReader reader(options.inputPath);
    checkChannels(reader, options.inputPath);
    const int rate = reader.sampleRateHz();

    PluginSession session(options.pluginPath, rate, options.blockFrames);
    openEffect(session.effect, rate, options.blockFrames);
    applySettings(session.effect, options.settings);
    EventSchedule schedule(resolveEvents(session.effect, options, rate));
    resumeEffect(session.effect);
    PluginBlocks blocks(session.effect, options.blockFrames);
    AudioWriter writer(options.outputPath, format, reader.channels(), rate);

    RenderSummary summary{0, rate, reader.channels(), 0.0, 0.0f, format.clips, 0, format.description, 0};
    Playback playback{session.effect, session.host, schedule, blocks};
    streamFile(reader, writer, playback, options.blockFrames, stopRequested, summary);
    stopEffect(session.effect);
    writer.commit();
    summary.clippedSamples = writer.clippedSamples();
    summary.eventsPastEnd = schedule.countAtOrAfter(summary.frames);
    summary.wallSeconds = secondsSince(started);
    return summary;
}

std::string describe(const RenderSummary& summary) {
    const double seconds = static_cast<double>(summary.frames) / summary.sampleRateHz;
    const double peakDb = summary.peak > 0.0f ? 20.0 * std::log10(summary.peak) : -INFINITY;
    char text[512];
    std::snprintf(text, sizeof text,
                  "%lld frames (%.3f s at %d Hz, %s) in %.3f s, %.0fx real time\npeak %.1f dBFS (%.6f), %s",
                  static_cast<long long>(summary.frames), seconds, summary.sampleRateHz,
                  summary.channels == 1 ? "mono" : "stereo", summary.wallSeconds,
                  summary.wallSeconds > 0.0 ? seconds / summary.wallSeconds : 0.0, peakDb, summary.peak,
                  summary.formatDescription.c_str());
    std::string result = text;
    if (summary.clips) result += ", " + std::to_string(summary.clippedSamples) + " samples clipped";
    return result + "\n";
}

}  // namespace tapestop
