#include "BlockProcessor.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string>

namespace host {

namespace {

template <typename Entry>
std::vector<Entry> inFrameOrder(std::vector<Entry> entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.frame < b.frame; });
    return entries;
}

// Words for a VstEvents list of `count` pointers (at least the record itself).
std::size_t eventListWords(std::size_t count) {
    const std::size_t bytes =
        std::max(sizeof(VstEvents), offsetof(VstEvents, events) + count * sizeof(VstEvent*));
    return (bytes + sizeof(VstIntPtr) - 1) / sizeof(VstIntPtr);
}

}  // namespace

BlockProcessor::BlockProcessor(Effect& effect, int inputs, int outputs, VstInt32 maxBlockFrames, Timeline timeline,
                               TransportHost* transport)
    : effect_(effect),
      maxBlockFrames_(maxBlockFrames),
      transport_(transport),
      parameters_(inFrameOrder(std::move(timeline.parameters))),
      midi_(inFrameOrder(std::move(timeline.midi))),
      inputPointers_(static_cast<std::size_t>(std::max(inputs, 0))),
      outputPointers_(static_cast<std::size_t>(std::max(outputs, 0))),
      midiEvents_(midi_.size()),
      eventListWords_(eventListWords(midi_.size())) {
    if (maxBlockFrames < 1)
        throw HostError("block processing needs a block size of at least 1 frame, not " +
                        std::to_string(maxBlockFrames));
    if (inputs < 0 || outputs < 0) throw HostError("block processing needs channel counts of at least 0");
    if (effect.record()->processReplacing == nullptr && effect.record()->process == nullptr)
        throw HostError("the effect offers no process function to process blocks with");
}

void BlockProcessor::process(const float* const* in, float* const* out, std::int64_t frames) {
    std::int64_t offset = 0;
    while (offset < frames) {
        applyDueParameters();
        const std::int64_t blockFrames = blockFramesFrom(frames - offset);
        if (transport_ != nullptr) transport_->moveTo(positionFrames_);
        sendMidiBefore(positionFrames_ + blockFrames);
        processBlock(in, out, offset, blockFrames);
        offset += blockFrames;
        positionFrames_ += blockFrames;
    }
}

namespace {

// The entries not yet sent, then `more`, in frame order.
template <typename Entry>
void merge(std::vector<Entry>& entries, std::size_t& next, std::vector<Entry> more) {
    entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(next));
    next = 0;
    entries.insert(entries.end(), more.begin(), more.end());
    entries = inFrameOrder(std::move(entries));
}

}  // namespace

void BlockProcessor::schedule(Timeline more) {
    merge(parameters_, nextParameter_, std::move(more.parameters));
    merge(midi_, nextMidi_, std::move(more.midi));
    midiEvents_.resize(midi_.size());
    eventListWords_.resize(eventListWords(midi_.size()));
}

void BlockProcessor::applyDueParameters() {
    for (; nextParameter_ < parameters_.size() && parameters_[nextParameter_].frame <= positionFrames_; ++nextParameter_)
        effect_.setParameter(parameters_[nextParameter_].index, parameters_[nextParameter_].value);
}

std::int64_t BlockProcessor::blockFramesFrom(std::int64_t available) const {
    std::int64_t frames = std::min<std::int64_t>(available, maxBlockFrames_);
    if (nextParameter_ < parameters_.size())
        frames = std::min(frames, parameters_[nextParameter_].frame - positionFrames_);
    return frames;
}

void BlockProcessor::sendMidiBefore(std::int64_t endFrame) {
    auto* list = reinterpret_cast<VstEvents*>(eventListWords_.data());
    auto** pointers = reinterpret_cast<VstEvent**>(reinterpret_cast<char*>(list) + offsetof(VstEvents, events));
    VstInt32 count = 0;
    for (; nextMidi_ < midi_.size() && midi_[nextMidi_].frame < endFrame; ++nextMidi_, ++count) {
        const MidiMessage& message = midi_[nextMidi_];
        VstMidiEvent& event = midiEvents_[static_cast<std::size_t>(count)];
        event = VstMidiEvent{};
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.deltaFrames = static_cast<VstInt32>(std::max<std::int64_t>(message.frame - positionFrames_, 0));
        event.midiData[0] = static_cast<char>(message.status);
        event.midiData[1] = static_cast<char>(message.data1);
        event.midiData[2] = static_cast<char>(message.data2);
        pointers[count] = reinterpret_cast<VstEvent*>(&event);
    }
    if (count == 0) return;
    list->numEvents = count;
    list->reserved = 0;
    effect_.dispatch(effProcessEvents, 0, 0, list);
}

void BlockProcessor::processBlock(const float* const* in, float* const* out, std::int64_t offset,
                                  std::int64_t frames) {
    // The interface passes inputs as non-const; a well-behaved effect never
    // writes them.
    for (std::size_t c = 0; c < inputPointers_.size(); ++c) inputPointers_[c] = const_cast<float*>(in[c]) + offset;
    for (std::size_t c = 0; c < outputPointers_.size(); ++c) outputPointers_[c] = out[c] + offset;
    AEffect* record = effect_.record();
    if (record->processReplacing != nullptr) {
        effect_.processReplacing(inputPointers_.data(), outputPointers_.data(), static_cast<VstInt32>(frames));
        return;
    }
    // An effect with only the old accumulating process adds its output to
    // what the buffers hold, so they start from silence.
    for (float* out : outputPointers_) std::fill_n(out, frames, 0.0f);
    record->process(record, inputPointers_.data(), outputPointers_.data(), static_cast<VstInt32>(frames));
}

Signal processSignal(Effect& effect, const Signal& in, VstInt32 blockFrames, const Timeline& timeline,
                     TransportHost* transport) {
    const AEffect& record = *effect.record();
    if (in.size() != static_cast<std::size_t>(std::max(record.numInputs, 0)))
        throw HostError("the signal has " + std::to_string(in.size()) + " channel(s) but the effect has " +
                        std::to_string(record.numInputs) + " input(s)");
    const std::size_t frames = in.empty() ? 0 : in.front().size();
    for (const std::vector<float>& channel : in)
        if (channel.size() != frames) throw HostError("the signal's channels differ in length");

    // Samples the effect leaves unwritten stay NaN, so that no check mistakes
    // them for output.
    const float unwritten = std::numeric_limits<float>::quiet_NaN();
    Signal out(static_cast<std::size_t>(std::max(record.numOutputs, 0)), std::vector<float>(frames, unwritten));
    std::vector<const float*> inputs;
    for (const std::vector<float>& channel : in) inputs.push_back(channel.data());
    std::vector<float*> outputs;
    for (std::vector<float>& channel : out) outputs.push_back(channel.data());

    BlockProcessor processor(effect, record.numInputs, record.numOutputs, blockFrames, timeline, transport);
    processor.process(inputs.data(), outputs.data(), static_cast<std::int64_t>(frames));
    return out;
}

}  // namespace host
