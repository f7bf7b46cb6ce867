// The channel buffers a plug-in processes, and the call that processes part
// of them: a host keeps one buffer per pin the plug-in announces, even where
// the file has fewer channels.
#pragma once

#include <vector>

#include "PluginHost.h"

namespace tapestop {

class PluginBlocks {
public:
    static constexpr int kFileChannels = 2;  // the stereo pair the file is played through
    // More pins than any real plug-in has; a count above it is a fault.
    static constexpr VstInt32 kMaxPins = 256;

    // Buffers of `frames` per pin; throws std::runtime_error for a plug-in
    // without outputs or with a pin count no host could serve.
    PluginBlocks(host::Effect& effect, int frames);

    float* input(int channel) { return inputs_[channel].data(); }
    // The output channel a file channel takes: a mono plug-in feeds both.
    const float* output(int channel) const { return outputs_[channel % outputs_.size()].data(); }

    // Processes `frames` frames from `offset` in every buffer.
    void process(int offset, int frames);

private:
    host::Effect& effect_;
    bool replacing_;
    std::vector<std::vector<float>> inputs_;
    std::vector<std::vector<float>> outputs_;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
};

}  // namespace tapestop
