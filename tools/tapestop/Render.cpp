#include "Render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "AudioFile.h"
#include "EventSchedule.h"
#include "Parameters.h"
#include "PluginBlocks.h"
#include "Progress.h"
#include "RenderHost.h"

namespace tapestop {

namespace {

constexpr int kMaxChannels = 2;
constexpr double kMillisecondsPerSecond = 1000.0;

std::int64_t framesAt(const TimeSpec& time, int sampleRateHz) {
    switch (time.unit) {
        case TimeSpec::Unit::kSeconds: return std::llround(time.amount * sampleRateHz);
        case TimeSpec::Unit::kMilliseconds: return std::llround(time.amount * sampleRateHz / kMillisecondsPerSecond);
        case TimeSpec::Unit::kFrames: break;
    }
    return static_cast<std::int64_t>(time.amount);
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

// One chunk of the file, processed in pieces that end where an event is due.
struct Chunk {
    std::int64_t firstFrame;
    int frames;
};

void processChunk(const Chunk& chunk, host::Effect& effect, RenderHost& host, EventSchedule& schedule,
                  PluginBlocks& blocks) {
    int offset = 0;
    while (offset < chunk.frames) {
        const std::int64_t frame = chunk.firstFrame + offset;
        for (const ParameterEvent& event : schedule.takeDue(frame)) effect.setParameter(event.index, event.value);
        const auto frames = static_cast<int>(schedule.framesBeforeNextEvent(frame, chunk.frames - offset));
        host.moveTo(frame);
        blocks.process(offset, frames);
        offset += frames;
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

}  // namespace

RenderSummary render(const RenderOptions& options, const std::atomic<bool>& stopRequested) {
    const auto started = std::chrono::steady_clock::now();
    const OutputFormat format = outputFormatFor(options.outputPath, options.format.has_value(),
                                                options.format.value_or(SampleFormat::kFloat));
    AudioReader reader(options.inputPath);
    checkChannels(reader, options.inputPath);
    const int rate = reader.sampleRateHz();
    const int channels = reader.channels();

    host::PluginLibrary library(options.pluginPath.empty() ? host::builtPluginPath() : options.pluginPath);
    RenderHost host(rate, options.blockFrames);
    host::Effect effect(library, host);
    openEffect(effect, rate, options.blockFrames);
    applySettings(effect, options.settings);
    EventSchedule schedule(resolveEvents(effect, options, rate));
    resumeEffect(effect);
    PluginBlocks blocks(effect, options.blockFrames);
    AudioWriter writer(options.outputPath, format, channels, rate);

    RenderSummary summary{0, rate, channels, 0.0, 0.0f, format.clips, 0, format.description, 0};
    std::vector<float> fileIn(static_cast<std::size_t>(options.blockFrames) * channels);
    std::vector<float> fileOut(fileIn.size());
    Progress progress(reader.frames(), rate);
    while (const auto frames = static_cast<int>(reader.read(fileIn.data(), options.blockFrames))) {
        if (stopRequested.load()) throw std::runtime_error("interrupted; no output written");
        deinterleave(fileIn, channels, frames, blocks);
        processChunk(Chunk{summary.frames, frames}, effect, host, schedule, blocks);
        summary.peak = std::max(summary.peak, interleave(blocks, channels, frames, fileOut));
        writer.write(fileOut.data(), frames);
        summary.frames += frames;
        progress.update(summary.frames);
    }
    progress.finish();
    stopEffect(effect);
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
