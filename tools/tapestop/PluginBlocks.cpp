#include "PluginBlocks.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace tapestop {

namespace {

// The pin counts are checked before any buffer is made for them.
VstInt32 checkedPins(VstInt32 count, const char* what) {
    if (count < 0 || count > PluginBlocks::kMaxPins)
        throw std::runtime_error("the plug-in announces " + std::to_string(count) + " " + what + "; at most " +
                                 std::to_string(PluginBlocks::kMaxPins) + " are supported");
    return count;
}

}  // namespace

PluginBlocks::PluginBlocks(host::Effect& effect, int frames)
    : effect_(effect),
      replacing_((effect.record()->flags & effFlagsCanReplacing) != 0),
      inputs_(std::max(checkedPins(effect.record()->numInputs, "inputs"), kFileChannels),
              std::vector<float>(frames, 0.0f)),
      outputs_(checkedPins(effect.record()->numOutputs, "outputs"), std::vector<float>(frames, 0.0f)),
      inputPointers_(inputs_.size()),
      outputPointers_(outputs_.size()) {
    if (outputs_.empty()) throw std::runtime_error("the plug-in has no audio outputs");
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
