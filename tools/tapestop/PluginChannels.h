// How a file's channels meet a plug-in's pins, and the channel buffers the
// plug-in processes. As hosts do it:
//   - a plug-in with one input and one output runs once per channel of a
//     stereo file, each channel through an instance of its own;
//   - otherwise one instance: the file's channels feed the first inputs (a
//     mono file both of the first two; a stereo file into one input is mixed
//     to their mean), further inputs get silence; the first outputs give the
//     file's channels (one output feeds both channels of a stereo file, two
//     are mixed to their mean for a mono file), further outputs are dropped.
// Every channel dropped, duplicated or mixed is named in a warning.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace tapestop {

struct ChannelLayout {
    int fileChannels = 2;
    int inputs = 2;   // the plug-in's pins, per instance
    int outputs = 2;
    int instances = 1;

    // Throws std::runtime_error for a plug-in without outputs or with a pin
    // count no host could serve.
    static ChannelLayout of(int fileChannels, VstInt32 inputs, VstInt32 outputs);

    // One line for each channel that is dropped, duplicated or mixed.
    std::vector<std::string> warnings() const;
};

class PluginChannels {
public:
    // More pins than any real plug-in has; a count above it is a fault.
    static constexpr VstInt32 kMaxPins = 256;

    // Buffers of `frames` per pin of every instance.
    PluginChannels(const ChannelLayout& layout, int frames);

    // The pin counts handed to the plug-in, at least the stereo pair of
    // inputs a careless plug-in might read.
    int inputs() const { return static_cast<int>(inputs_.front().size()); }
    int outputs() const { return layout_.outputs; }

    // An instance's channel pointers from `offset` frames on, for BlockProcessor.
    const float* const* inputsAt(int instance, int offset);
    float* const* outputsAt(int instance, int offset);

    // From interleaved file frames into the inputs; fills the outputs the
    // file is made from with a value no plug-in writes, so that samples it
    // leaves unwritten show.
    void takeFrom(const float* interleaved, int frames);
    // To interleaved file frames. Samples the plug-in left unwritten become
    // silence rather than whatever the buffer held; answers how many there
    // were. Means are formed in double precision, so that equal channels
    // come back bit for bit.
    std::int64_t giveTo(float* interleaved, int frames);

private:
    ChannelLayout layout_;
    // [instance][pin]
    std::vector<std::vector<std::vector<float>>> inputs_;
    std::vector<std::vector<std::vector<float>>> outputs_;
    std::vector<const float*> inputPointers_;
    std::vector<float*> outputPointers_;
};

}  // namespace tapestop
