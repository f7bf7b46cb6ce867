// The channel buffers a plug-in processes, and the moves between a file's
// frame order and them. A host keeps one buffer per pin the plug-in
// announces, and at least the stereo pair the file is played through.
#pragma once

#include <vector>

#include "PluginHost.h"

namespace tapestop {

class PluginChannels {
public:
    static constexpr int kFileChannels = 2;
    // More pins than any real plug-in has; a count above it is a fault.
    static constexpr VstInt32 kMaxPins = 256;

    // Buffers of `frames` per pin; throws std::runtime_error for a plug-in
    // without outputs or with a pin count no host could serve.
    PluginChannels(const AEffect& record, int frames);

    int inputs() const { return static_cast<int>(inputs_.size()); }
    int outputs() const { return static_cast<int>(outputs_.size()); }

    // The channel pointers from `offset` frames on, for BlockProcessor.
    const float* const* inputsAt(int offset);
    float* const* outputsAt(int offset);

    // From interleaved file frames: a mono file feeds both inputs.
    void takeFrom(const float* interleaved, int fileChannels, int frames);
    // To interleaved file frames: a mono file gets the mean of both outputs,
    // formed in double precision so that equal channels come back bit for
    // bit; a plug-in with one output feeds both file channels.
    void giveTo(float* interleaved, int fileChannels, int frames) const;

private:
    std::vector<std::vector<float>> inputs_;
    std::vector<std::vector<float>> outputs_;
    std::vector<const float*> inputPointers_;
    std::vector<float*> outputPointers_;
};

}  // namespace tapestop
