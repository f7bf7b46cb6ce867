#include "PluginBlocks.h"

#include <algorithm>
#include <stdexcept>

namespace tapestop {

PluginBlocks::PluginBlocks(host::Effect& effect, int blockFrames)
    : effect_(effect),
      replacing_((effect.record()->flags & effFlagsCanReplacing) != 0),
      inputs_(std::max(effect.record()->numInputs, kFileChannels), std::vector<float>(blockFrames, 0.0f)),
      outputs_(std::max(effect.record()->numOutputs, 1), std::vector<float>(blockFrames, 0.0f)),
      inputPointers_(inputs_.size()),
      outputPointers_(outputs_.size()) {
    if (effect.record()->numOutputs < 1) throw std::runtime_error("the plug-in has no audio outputs");
}

void PluginBlocks::process(int offset, int frames) {
    for (std::size_t i = 0; i < inputs_.size(); ++i) inputPointers_[i] = inputs_[i].data() + offset;
    for (std::size_t i = 0; i < outputs_.size(); ++i) outputPointers_[i] = outputs_[i].data() + offset;
    if (replacing_) {
        effect_.processReplacing(inputPointers_.data(), outputPointers_.data(), frames);
        return;
    }
    // A plug-in without replacing processing adds into its outputs.
    for (float* output : outputPointers_) std::fill(output, output + frames, 0.0f);
    effect_.record()->process(effect_.record(), inputPointers_.data(), outputPointers_.data(), frames);
}

}  // namespace tapestop
