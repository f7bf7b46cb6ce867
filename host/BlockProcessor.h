// Processing a signal through an effect as a host plays a timeline: in
// blocks of at most the block size the effect was started with, each block
// ending where the next parameter change is due, so that every change lands
// on exactly its frame; MIDI events reach the effect through effProcessEvents
// before the block that holds their frame; a transport, if given, is moved
// to each block's first frame before the block.
#pragma once

#include <cstdint>
#include <vector>

#include "PluginHost.h"
#include "TransportHost.h"
#include "VstInterface.h"

namespace host {

// A parameter set to value just before the given frame is processed.
struct ParameterChange {
    std::int64_t frame = 0;
    VstInt32 index = 0;
    float value = 0.0f;
};

// A MIDI message of up to three bytes, sent at the given frame.
struct MidiMessage {
    std::int64_t frame = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

// What happens while a signal plays. Entries at the same frame keep their
// order; the lists need not be sorted.
struct Timeline {
    std::vector<ParameterChange> parameters;
    std::vector<MidiMessage> midi;
};

// One vector of samples per channel, all of the same length.
using Signal = std::vector<std::vector<float>>;

class BlockProcessor {
public:
    // inputs and outputs are the channel counts process() is given;
    // maxBlockFrames is the largest block handed to the effect (at least 1).
    // Everything processing needs is allocated here.
    BlockProcessor(Effect& effect, int inputs, int outputs, VstInt32 maxBlockFrames, Timeline timeline,
                   TransportHost* transport = nullptr);

    // Processes the next `frames` frames: in[c] and out[c] point at `frames`
    // samples of channel c. Calls may have any length; the timeline's frames
    // count from the first frame of the first call. Entries due before the
    // current position (a frame already processed, or a negative one) apply
    // at the start of the next block.
    void process(const float* const* in, float* const* out, std::int64_t frames);

    // Adds entries to the timeline, for a stream whose events become known
    // as it plays (frames still count from the first frame of the first
    // call). Entries at the same frame as earlier ones follow them. Allocates:
    // call it between process() calls, not from an audio thread.
    void schedule(Timeline more);

    // Frames processed so far.
    std::int64_t position() const { return positionFrames_; }
    // Entries of the timeline not yet sent.
    std::size_t pendingParameterChanges() const { return parameters_.size() - nextParameter_; }
    std::size_t pendingMidiMessages() const { return midi_.size() - nextMidi_; }

private:
    void applyDueParameters();
    std::int64_t blockFramesFrom(std::int64_t available) const;
    void sendMidiBefore(std::int64_t endFrame);
    void processBlock(const float* const* in, float* const* out, std::int64_t offset, std::int64_t frames);

    Effect& effect_;
    VstInt32 maxBlockFrames_;
    TransportHost* transport_;
    std::vector<ParameterChange> parameters_;
    std::vector<MidiMessage> midi_;
    std::size_t nextParameter_ = 0;
    std::size_t nextMidi_ = 0;
    std::int64_t positionFrames_ = 0;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
    // The events of one block and the list handed to the effect, with room
    // for every MIDI message of the timeline at once.
    std::vector<VstMidiEvent> midiEvents_;
    std::vector<VstIntPtr> eventListWords_;
};

// The whole signal through the effect in blocks of at most blockFrames, as
// BlockProcessor does, into a signal with one channel per effect output;
// samples the effect does not write are NaN. The signal has one channel per
// effect input, all of one length; throws HostError otherwise.
Signal processSignal(Effect& effect, const Signal& in, VstInt32 blockFrames, const Timeline& timeline = {},
                     TransportHost* transport = nullptr);

}  // namespace host
