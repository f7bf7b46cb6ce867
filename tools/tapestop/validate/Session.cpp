#include "Session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace tapestop::validate {

Signal testSignal(int channels, std::size_t frames, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    Signal signal(static_cast<std::size_t>(channels), std::vector<float>(frames, 0.0f));
    const std::size_t soundFrames = frames - frames / 4;
    for (std::vector<float>& channel : signal)
        for (std::size_t frame = 0; frame < soundFrames; ++frame) channel[frame] = sample(random);
    return signal;
}

Signal silence(int channels, std::size_t frames) {
    return Signal(static_cast<std::size_t>(channels), std::vector<float>(frames, 0.0f));
}

std::vector<float*> channelPointers(Signal& signal) {
    std::vector<float*> pointers;
    for (std::vector<float>& channel : signal) pointers.push_back(channel.data());
    return pointers;
}

ValidationHost::ValidationHost() : TransportHost(48000.0, 512) { setRecording(false); }

void ValidationHost::setStream(float sampleRateHz, VstInt32 blockFrames) {
    setAnswer(audioMasterGetSampleRate, static_cast<VstIntPtr>(sampleRateHz));
    setAnswer(audioMasterGetBlockSize, blockFrames);
}

Instance::Instance(const host::PluginLibrary& library, ValidationHost& host)
    : host_(host),
      effect_(library, host),
      inputs_(effect_.record()->numInputs),
      outputs_(effect_.record()->numOutputs),
      parameters_(effect_.record()->numParams) {
    effect_.open();
}

void Instance::start(float sampleRateHz, VstInt32 blockFrames) {
    host_.setStream(sampleRateHz, blockFrames);
    effect_.start(sampleRateHz, blockFrames);
}

namespace {

std::atomic<int>* processingCalls = nullptr;

}  // namespace

void countProcessingIn(std::atomic<int>* callsUnderWay) { processingCalls = callsUnderWay; }

void processBlock(host::Effect& effect, float** inputs, float** outputs, VstInt32 frames) {
    if (processingCalls != nullptr) processingCalls->fetch_add(1);
    effect.processReplacing(inputs, outputs, frames);
    if (processingCalls != nullptr) processingCalls->fetch_sub(1);
}

namespace {

void noteFirst(std::int64_t& count, std::string& first, int channel, std::int64_t frame, float sample) {
    if (count++ > 0) return;
    first = "output " + std::to_string(channel) + ", frame " + std::to_string(frame) + " (" + floatText(sample) + ")";
}

}  // namespace

void reportStream(CheckContext& context, const StreamFindings& found, const std::string& where) {
    if (found.unwritten > 0)
        context.fail(where + ": " + std::to_string(found.unwritten) + " output samples left unwritten, first at " +
                     found.firstUnwritten);
    if (found.nonFinite > 0)
        context.fail(where + ": " + std::to_string(found.nonFinite) + " NaN or infinite output samples, first at " +
                     found.firstNonFinite);
    if (found.blocksWithStrayWrites > 0)
        context.fail(where + ": wrote outside the host's buffers in " + std::to_string(found.blocksWithStrayWrites) +
                     " blocks, first in " + found.firstStrayWrite);
    if (found.subnormal > 0)
        context.failFrom(10, where + ": " + std::to_string(found.subnormal) + " subnormal output samples, first at " +
                                 found.firstSubnormal);
}

Streamer::Streamer(Instance& instance, std::size_t capacityFrames, Guard guard)
    : instance_(instance),
      inputs_(instance.inputs(), capacityFrames, guard),
      outputs_(instance.outputs(), capacityFrames, guard) {}

void Streamer::process(const Signal& in, Signal& out, std::size_t offset, std::size_t frames, bool inPlace) {
    if (in.size() < static_cast<std::size_t>(inputs_.count()) || out.size() < static_cast<std::size_t>(outputs_.count()))
        throw std::logic_error("the validator's signal has fewer channels than the plug-in");
    float** inputs = inputs_.prepare(frames);
    float** outputs = outputs_.prepare(frames);
    const int shared = inPlace ? std::min(inputs_.count(), outputs_.count()) : 0;
    for (int channel = 0; channel < shared; ++channel) inputs[channel] = outputs[channel];
    for (int channel = 0; channel < inputs_.count(); ++channel)
        std::copy_n(in[static_cast<std::size_t>(channel)].begin() + static_cast<std::ptrdiff_t>(offset), frames,
                    inputs[channel]);
    processBlock(instance_.effect(), inputs, outputs, static_cast<VstInt32>(frames));
    inspect(out, offset, frames);
}

void Streamer::inspect(Signal& out, std::size_t offset, std::size_t frames) {
    float** outputs = outputs_.pointers();
    for (int channel = 0; channel < outputs_.count(); ++channel) {
        for (std::size_t i = 0; i < frames; ++i) {
            const float sample = outputs[channel][i];
            const std::int64_t frame = streamFrame_ + static_cast<std::int64_t>(i);
            if (isSentinel(sample))
                noteFirst(findings_.unwritten, findings_.firstUnwritten, channel, frame, sample);
            else if (!std::isfinite(sample))
                noteFirst(findings_.nonFinite, findings_.firstNonFinite, channel, frame, sample);
            else if (std::fpclassify(sample) == FP_SUBNORMAL)
                noteFirst(findings_.subnormal, findings_.firstSubnormal, channel, frame, sample);
            out[static_cast<std::size_t>(channel)][offset + i] = sample;
        }
    }
    if (!inputs_.surroundingsIntact() || !outputs_.surroundingsIntact()) {
        if (findings_.blocksWithStrayWrites++ == 0)
            findings_.firstStrayWrite = "the block of " + std::to_string(frames) + " frames at frame " +
                                        std::to_string(streamFrame_);
    }
    streamFrame_ += static_cast<std::int64_t>(frames);
}

Signal processInBlocks(Instance& instance, const Signal& in, std::size_t blockFrames, StreamFindings* findings,
                       bool inPlace) {
    const std::size_t frames = in.empty() ? 0 : in.front().size();
    Signal out(static_cast<std::size_t>(instance.outputs()), std::vector<float>(frames, 0.0f));
    Streamer streamer(instance, blockFrames);
    for (std::size_t offset = 0; offset < frames; offset += blockFrames)
        streamer.process(in, out, offset, std::min(blockFrames, frames - offset), inPlace);
    if (findings != nullptr) *findings = streamer.findings();
    return out;
}

void randomParameters(Instance& instance, std::mt19937& random) {
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (VstInt32 i = 0; i < instance.parameters(); ++i) {
        const unsigned pick = random() % 8;
        instance.effect().setParameter(i, pick < 2 ? static_cast<float>(pick) : value(random));
    }
}

Signal freshOutput(const host::PluginLibrary& library, ValidationHost& host, const Signal& in, std::uint32_t seed,
                   bool inPlace) {
    constexpr float kSampleRateHz = 48000.0f;
    constexpr std::size_t kBlockFrames = 512;
    Instance instance(library, host);
    std::mt19937 random(seed);
    randomParameters(instance, random);
    instance.start(kSampleRateHz, kBlockFrames);
    return processInBlocks(instance, in, kBlockFrames, nullptr, inPlace);
}

std::string firstDifference(const Signal& a, const Signal& b) {
    for (std::size_t channel = 0; channel < a.size(); ++channel)
        for (std::size_t frame = 0; frame < a[channel].size(); ++frame)
            if (std::memcmp(&a[channel][frame], &b[channel][frame], sizeof(float)) != 0)
                return "output " + std::to_string(channel) + ", frame " + std::to_string(frame) + " (" +
                       floatText(a[channel][frame]) + " against " + floatText(b[channel][frame]) + ")";
    return "";
}

GuardedText readGuardedText(host::Effect& effect, VstInt32 opcode, VstInt32 index) {
    constexpr char kSentinel = '\xA5';
    static GuardedMapping mapping(GuardedText::kBufferBytes);
    char* buffer = reinterpret_cast<char*>(mapping.end()) - GuardedText::kBufferBytes;
    std::fill(buffer, buffer + GuardedText::kBufferBytes, kSentinel);
    GuardedText result;
    result.answer = effect.dispatch(opcode, index, 0, buffer);
    for (std::size_t i = GuardedText::kBufferBytes; i > 0; --i)
        if (buffer[i - 1] != kSentinel) {
            result.bytesWritten = i;
            break;
        }
    const char* end = std::find(buffer, buffer + GuardedText::kBufferBytes, '\0');
    result.terminated = end != buffer + GuardedText::kBufferBytes;
    result.text.assign(buffer, std::min<std::size_t>(static_cast<std::size_t>(end - buffer), result.bytesWritten));
    return result;
}

std::vector<float> parameterValues(CheckContext& context, int randomCount) {
    std::vector<float> values = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
    std::mt19937 random(context.settings().seed);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (int i = 0; i < randomCount; ++i) values.push_back(value(random));
    return values;
}

std::string framesText(std::int64_t frames) { return std::to_string(frames) + " frames"; }

std::string floatText(float value) {
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", seconds);
    return text;
}

}  // namespace tapestop::validate
