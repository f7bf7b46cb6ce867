#include "Render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "AudioFile.h"
#include "BlockProcessor.h"
#include "ChildProcess.h"
#include "ClosingPlugin.h"
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

// One instance of the plug-in with the transport it asks and the processor
// that plays the timeline through it; the transport answers once per
// block, so it records nothing.
struct PluginInstance {
    host::TransportHost transport;
    host::Effect effect;
    std::optional<host::BlockProcessor> processor;

    PluginInstance(host::PluginLibrary& library, const RenderOptions& options, int sampleRateHz)
        : transport(sampleRateHz, options.blockFrames), effect(library, transport) {
        transport.setRecording(false);
        transport.setTempo(options.tempoBpm);
        transport.setTimeSignature(options.meter.numerator, options.meter.denominator);
    }
};

// The library and its instances, built and torn down in order: one, or one
// per channel of a stereo file for a plug-in with one input and one output.
struct PluginSession {
    host::PluginLibrary library;
    std::vector<std::unique_ptr<PluginInstance>> instances;

    PluginSession(const RenderOptions& options, int sampleRateHz)
        : library(options.pluginPath.empty() ? defaultPluginPath() : options.pluginPath) {
        instances.push_back(std::make_unique<PluginInstance>(library, options, sampleRateHz));
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

// One chunk through each instance, a block-size step at a time, so that the
// progress names the block a crash happened in.
void processChunk(PluginSession& session, PluginChannels& channels, int frames, int blockFrames,
                  host::ChildProgress& progress) {
    for (int instance = 0; instance < static_cast<int>(session.instances.size()); ++instance) {
        host::BlockProcessor& processor = *session.instances[instance]->processor;
        for (int offset = 0; offset < frames; offset += blockFrames) {
            progress.frame(processor.position());
            processor.process(channels.inputsAt(instance, offset), channels.outputsAt(instance, offset),
                              std::min(blockFrames, frames - offset));
        }
    }
}

// The child's side of the stream: each chunk read into the next slot,
// processed there in place, and handed to the parent; a slot is reused only
// once the parent has handed it back. Every slot comes back before the end,
// since a socket closed with messages unread resets the connection, and the
// parent could lose the last ones.
// False when the parent is gone.
bool streamChunks(AudioReader& reader, PluginSession& session, PluginChannels& channels, int blockFrames,
                  host::ChildContext& context) {
    const int fileChannels = reader.channels();
    const int chunkFrames = chunkFramesFor(blockFrames);
    const SharedLayout layout(chunkFrames, fileChannels);
    host::ChildProgress& progress = context.progress();
    RenderCounts& counts = SharedLayout::report(context.shared()).counts;
    int slotsOut = 0;
    const auto takeOneBack = [&] {
        SlotMessage handedBack;
        --slotsOut;
        return context.receive(&handedBack, sizeof handedBack);
    };
    for (std::int32_t slot = 0;; slot = (slot + 1) % kSlots) {
        if (slotsOut == kSlots && !takeOneBack()) return false;
        float* samples = layout.slot(context.shared(), slot);
        progress.step("reading the input");
        const auto frames = static_cast<std::int32_t>(reader.read(samples, chunkFrames));
        if (frames == 0) break;
        channels.takeFrom(samples, frames);
        progress.step("processing");
        processChunk(session, channels, frames, blockFrames, progress);
        counts.unwrittenSamples += channels.giveTo(samples, frames);
        const SlotMessage filled{slot, frames};
        if (!context.send(&filled, sizeof filled)) return false;
        ++slotsOut;
    }
    while (slotsOut > 0)
        if (!takeOneBack()) return false;
    return true;
}

// Every instance started, set and given its timeline alike.
void startInstances(PluginSession& session, const RenderOptions& options, const ChannelLayout& layout,
                    const PluginChannels& channels, int rate) {
    while (static_cast<int>(session.instances.size()) < layout.instances)
        session.instances.push_back(std::make_unique<PluginInstance>(session.library, options, rate));
    for (auto& instance : session.instances) {
        if (&instance != &session.instances.front()) instance->effect.start(static_cast<float>(rate), options.blockFrames);
        applySettings(instance->effect, options.settings);
        instance->processor.emplace(instance->effect, channels.inputs(), channels.outputs(), options.blockFrames,
                                    resolveTimeline(instance->effect, options.events, rate), &instance->transport);
    }
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
    host::Effect& first = session.instances.front()->effect;
    first.start(static_cast<float>(rate), options.blockFrames);
    const ChannelLayout layout =
        ChannelLayout::of(reader.channels(), first.record()->numInputs, first.record()->numOutputs);
    PluginChannels channels(layout, chunkFramesFor(options.blockFrames));
    startInstances(session, options, layout, channels, rate);
    counts.sampleRateHz = rate;
    counts.channels = reader.channels();
    counts.pluginInputs = layout.inputs;
    counts.pluginOutputs = layout.outputs;
    counts.presentFrames = reader.length().frames;
    counts.announcedFrames = reader.length().announcedFrames;
    counts.unclaimedFrames = reader.length().unclaimedFrames;
    const SlotMessage ready{SlotMessage::kReady, 0};
    if (!context.send(&ready, sizeof ready)) return;

    if (!streamChunks(reader, session, channels, options.blockFrames, context)) return;
    const host::BlockProcessor& processor = *session.instances.front()->processor;
    counts.eventsPastEnd = static_cast<std::int64_t>(processor.pendingParameterChanges() +
                                                     processor.pendingMidiMessages());
    // The output is complete: what the plug-in does from here on, while it
    // stops, closes and unloads, cannot cost it.
    const SlotMessage end{SlotMessage::kEnd, 0};
    if (!context.send(&end, sizeof end)) return;
    progress.frame(-1);
    progress.step("closing");
    for (auto& instance : session.instances) {
        instance->effect.stop();
        instance->effect.close();
    }
    progress.step("unloading");
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
        writer.write(samples, message.frames);
        counts.levels.add(samples, static_cast<std::int64_t>(message.frames) * counts.channels);
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
    if (header.channels < 1 || header.channels > kMaxChannels || header.sampleRateHz <= 0 ||
        header.pluginInputs < 0 || header.pluginInputs > PluginChannels::kMaxPins || header.pluginOutputs < 1 ||
        header.pluginOutputs > PluginChannels::kMaxPins)
        throw std::runtime_error("the plug-in's process handed over a header that makes no sense");
    return header;
}

std::string counted(std::int64_t number, const std::string& what) {
    return std::to_string(number) + " " + what + (number == 1 ? "" : "s");
}

std::vector<std::string> inputWarnings(const RenderCounts& counts, const RenderOptions& options) {
    std::vector<std::string> warnings;
    const std::string input = "input '" + options.inputPath + "'";
    // Guarded by Render.ACutShortInputIsRenderedWithAWarning.
    if (counts.announcedFrames > counts.frames)
        warnings.push_back(input + " is cut short: its header announces " + std::to_string(counts.announcedFrames) +
                           " frames, only " + std::to_string(counts.frames) + " are present and were rendered");
    if (counts.presentFrames < 0)
        warnings.push_back(input + " does not tell its length (its end is missing: is it cut short?); " +
                           std::to_string(counts.frames) + " frames were present and rendered");
    if (counts.unclaimedFrames > 0)
        warnings.push_back(input + " says its audio is 0 bytes long, yet about " +
                           counted(counts.unclaimedFrames, "frame") +
                           " of audio follow its header (a writer that never finished?); they were not rendered");
    return warnings;
}

std::vector<std::string> warningsOf(const RenderCounts& counts, const RenderOptions& options,
                                    const OutputTarget& target) {
    std::vector<std::string> warnings = inputWarnings(counts, options);
    const ChannelLayout layout = ChannelLayout::of(counts.channels, counts.pluginInputs, counts.pluginOutputs);
    for (const std::string& line : layout.warnings()) warnings.push_back(line);
    const std::int64_t nan = counts.levels.nanSamples + counts.conformed.nan;
    const std::int64_t infinite = counts.levels.infiniteSamples + counts.conformed.infinite;
    if (nan + infinite > 0)
        warnings.push_back("the plug-in put out " + std::to_string(nan) + " NaN and " + std::to_string(infinite) +
                           " infinite samples" +
                           (counts.conformed.nan + counts.conformed.infinite > 0
                                ? "; the output format cannot hold them: NaN was written as 0, infinity as full scale"
                                : ""));
    if (counts.unwrittenSamples > 0)
        warnings.push_back("the plug-in left " + counted(counts.unwrittenSamples, "output sample") +
                           " unwritten; they were written as silence");
    if (counts.eventsPastEnd > 0)
        warnings.push_back(std::to_string(counts.eventsPastEnd) + " parameter change(s) or note(s) at or after the end " +
                           "of the input (" + std::to_string(counts.frames) + " frames) never took effect");
    // Guarded by Output.ReplacingKeepsPermissionsSymlinksAndOtherNames.
    if (target.otherLinks > 0)
        warnings.push_back("'" + options.outputPath + "' had " + std::to_string(target.otherLinks) +
                           " other name(s) (hard links); they keep the earlier content");
    return warnings;
}

// An extension or --format the containers do not take is the command line's fault.
OutputFormat outputFormatOf(const RenderOptions& options) {
    try {
        return outputFormatFor(options.outputPath, options.format.has_value(),
                               options.format.value_or(SampleFormat::kFloat));
    } catch (const AudioFileError& error) {
        throw UsageError(error.what());
    }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

RenderSummary render(const RenderOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    const host::InterruptWatch interrupts;
    const OutputFormat asked = outputFormatOf(options);
    OutputFile output(checkOutputTarget(options.outputPath, options.inputPath, options.force));
    const int chunkFrames = chunkFramesFor(options.blockFrames);
    host::ChildProcess child([&](host::ChildContext& context) { return runChild(options, context); },
                             SharedLayout::bytesFor(chunkFrames));
    RenderCounts counts = headerFrom(child);
    OutputFormat format = fittedToLength(asked, options.outputPath, counts.presentFrames, counts.channels);
    if (!format.note.empty()) std::fprintf(stderr, "tapestop: note: %s\n", format.note.c_str());
    AudioWriter writer(output.descriptor(), options.outputPath, format, counts.channels, counts.sampleRateHz);
    writeChunks(child, writer, chunkFrames, counts);
    writer.finish();
    // Of an input that did not tell its length, libsndfile made RF64 only if it grew that far.
    if (format.autoDowngrade) format = fittedToLength(asked, options.outputPath, counts.frames, counts.channels);
    counts.conformed = writer.conformed();
    const RenderCounts& fromChild = SharedLayout::report(child.shared()).counts;
    counts.eventsPastEnd = fromChild.eventsPastEnd;
    counts.unwrittenSamples = std::max<std::int64_t>(fromChild.unwrittenSamples, 0);  // memory the plug-in shared
    // An interrupt that came as the last block arrived still means "stop".
    if (const int signal = host::InterruptWatch::pendingSignal(); signal != 0) throw Interrupted(signal);
    output.commit();
    const double renderSeconds = secondsSince(started);  // the plug-in's closing is not the render's time
    std::vector<std::string> warnings = warningsOf(counts, options, output.target());
    const ChildReport& report = SharedLayout::report(child.shared());
    if (const std::string closing = closingTrouble(child, report.message, sizeof report.message,
                                                   "the output is complete and was kept");
        !closing.empty())
        warnings.push_back(closing);
    return RenderSummary{counts, renderSeconds, format, warnings};
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
    result += peakText(counts.levels) + ", " + summary.format.description;
    if (summary.format.clips) result += ", " + counted(counts.conformed.clipped, "sample") + " clipped";
    if (counts.conformed.nan > 0) result += ", " + counted(counts.conformed.nan, "NaN sample") + " written as 0";
    if (counts.conformed.infinite > 0)
        result += ", " + counted(counts.conformed.infinite, "infinite sample") + " written as full scale";
    if (!summary.format.note.empty()) result += "\n(" + summary.format.note + ")";
    return result + "\n";
}

}  // namespace tapestop
