#include "PluginChannels.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tapestop {

namespace {

// The pin counts are checked before any buffer is made for them.
VstInt32 checkedPins(VstInt32 count, const char* what) {
    if (count < 0 || count > PluginChannels::kMaxPins)
        throw std::runtime_error("the plug-in announces " + std::to_string(count) + " " + what + "; at most " +
                                 std::to_string(PluginChannels::kMaxPins) + " are supported");
    return count;
}

// Four frames a step as vector shuffles: the plain loops stay scalar.
using FourFloats = float __attribute__((vector_size(4 * sizeof(float))));
constexpr int kFramesPerStep = 4;

FourFloats loadFour(const float* from) {
    FourFloats value;
    std::memcpy(&value, from, sizeof value);
    return value;
}

void storeFour(float* to, FourFloats value) { std::memcpy(to, &value, sizeof value); }

void deinterleaveStereo(const float* in, float* left, float* right, int frames) {
    int i = 0;
    for (; i + kFramesPerStep <= frames; i += kFramesPerStep) {
        const FourFloats first = loadFour(in + 2 * i);
        const FourFloats second = loadFour(in + 2 * i + kFramesPerStep);
        storeFour(left + i, __builtin_shufflevector(first, second, 0, 2, 4, 6));
        storeFour(right + i, __builtin_shufflevector(first, second, 1, 3, 5, 7));
    }
    for (; i < frames; ++i) {
        left[i] = in[2 * i];
        right[i] = in[2 * i + 1];
    }
}

void interleaveStereo(const float* left, const float* right, float* out, int frames) {
    int i = 0;
    for (; i + kFramesPerStep <= frames; i += kFramesPerStep) {
        const FourFloats l = loadFour(left + i);
        const FourFloats r = loadFour(right + i);
        storeFour(out + 2 * i, __builtin_shufflevector(l, r, 0, 4, 1, 5));
        storeFour(out + 2 * i + kFramesPerStep, __builtin_shufflevector(l, r, 2, 6, 3, 7));
    }
    for (; i < frames; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
}

}  // namespace

PluginChannels::PluginChannels(const AEffect& record, int frames)
    : inputs_(std::max(checkedPins(record.numInputs, "inputs"), kFileChannels), std::vector<float>(frames, 0.0f)),
      outputs_(checkedPins(record.numOutputs, "outputs"), std::vector<float>(frames, 0.0f)),
      inputPointers_(inputs_.size()),
      outputPointers_(outputs_.size()) {
    if (outputs_.empty()) throw std::runtime_error("the plug-in has no audio outputs");
}

const float* const* PluginChannels::inputsAt(int offset) {
    for (std::size_t c = 0; c < inputs_.size(); ++c) inputPointers_[c] = inputs_[c].data() + offset;
    return inputPointers_.data();
}

float* const* PluginChannels::outputsAt(int offset) {
    for (std::size_t c = 0; c < outputs_.size(); ++c) outputPointers_[c] = outputs_[c].data() + offset;
    return outputPointers_.data();
}

void PluginChannels::takeFrom(const float* interleaved, int fileChannels, int frames) {
    float* left = inputs_[0].data();
    float* right = inputs_[1].data();
    if (fileChannels == 1) {
        std::copy_n(interleaved, frames, left);
        std::copy_n(interleaved, frames, right);
        return;
    }
    deinterleaveStereo(interleaved, left, right, frames);
}

void PluginChannels::giveTo(float* interleaved, int fileChannels, int frames) const {
    const float* left = outputs_[0].data();
    const float* right = outputs_[1 % outputs_.size()].data();
    if (fileChannels == 1) {
        for (int i = 0; i < frames; ++i)
            interleaved[i] = static_cast<float>(0.5 * (static_cast<double>(left[i]) + static_cast<double>(right[i])));
        return;
    }
    interleaveStereo(left, right, interleaved, frames);
}

}  // namespace tapestop
