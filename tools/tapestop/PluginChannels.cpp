#include "PluginChannels.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "HostBuffers.h"

namespace tapestop {

namespace {

constexpr int kStereo = 2;

// The pin counts are checked before any buffer is made for them.
int checkedPins(VstInt32 count, const char* what) {
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

float mean(float a, float b) { return static_cast<float>(0.5 * (static_cast<double>(a) + static_cast<double>(b))); }

// Unwritten samples of one output become silence; answers how many.
std::int64_t silenceUnwritten(std::vector<float>& output, int frames) {
    std::int64_t unwritten = 0;
    for (int i = 0; i < frames; ++i) {
        if (!validate::isSentinel(output[i])) continue;
        output[i] = 0.0f;
        ++unwritten;
    }
    return unwritten;
}

std::string pinRange(int first, int last) {
    return first == last ? std::to_string(first) : std::to_string(first) + " to " + std::to_string(last);
}

}  // namespace

ChannelLayout ChannelLayout::of(int fileChannels, VstInt32 inputs, VstInt32 outputs) {
    ChannelLayout layout{fileChannels, checkedPins(inputs, "inputs"), checkedPins(outputs, "outputs"), 1};
    if (layout.outputs == 0) throw std::runtime_error("the plug-in has no audio outputs");
    if (fileChannels == kStereo && layout.inputs == 1 && layout.outputs == 1) layout.instances = kStereo;
    return layout;
}

std::vector<std::string> ChannelLayout::warnings() const {
    std::vector<std::string> lines;
    if (instances > 1) return lines;
    const bool mono = fileChannels == 1;
    if (inputs == 0) lines.push_back("the plug-in has no inputs: the input file's audio is dropped");
    if (!mono && inputs == 1) lines.push_back("the plug-in has 1 input: both input channels are mixed (their mean) into it");
    if (mono && inputs >= kStereo) lines.push_back("the mono input is duplicated into the plug-in's inputs 1 and 2");
    if (mono && outputs >= kStereo)
        lines.push_back("the plug-in's outputs 1 and 2 are mixed (their mean) into the mono output");
    if (!mono && outputs == 1) lines.push_back("the plug-in has 1 output: it is duplicated into both output channels");
    if (outputs > kStereo)
        lines.push_back("the plug-in's outputs " + pinRange(kStereo + 1, outputs) + " are dropped");
    return lines;
}

PluginChannels::PluginChannels(const ChannelLayout& layout, int frames)
    : layout_(layout),
      inputs_(layout.instances, std::vector<std::vector<float>>(std::max(layout.inputs, kStereo),
                                                                std::vector<float>(frames, 0.0f))),
      outputs_(layout.instances,
               std::vector<std::vector<float>>(layout.outputs, std::vector<float>(frames, 0.0f))),
      inputPointers_(inputs_.front().size()),
      outputPointers_(layout.outputs) {}

const float* const* PluginChannels::inputsAt(int instance, int offset) {
    auto& pins = inputs_[instance];
    for (std::size_t c = 0; c < pins.size(); ++c) inputPointers_[c] = pins[c].data() + offset;
    return inputPointers_.data();
}

float* const* PluginChannels::outputsAt(int instance, int offset) {
    auto& pins = outputs_[instance];
    for (std::size_t c = 0; c < pins.size(); ++c) outputPointers_[c] = pins[c].data() + offset;
    return outputPointers_.data();
}

void PluginChannels::takeFrom(const float* interleaved, int frames) {
    for (auto& pins : outputs_)
        for (int c = 0; c < std::min(layout_.outputs, kStereo); ++c)
            std::fill_n(pins[c].begin(), frames, validate::sentinel());
    auto& first = inputs_.front();
    if (layout_.instances > 1) {
        deinterleaveStereo(interleaved, first[0].data(), inputs_[1][0].data(), frames);
    } else if (layout_.fileChannels == 1) {
        std::copy_n(interleaved, frames, first[0].data());
        std::copy_n(interleaved, frames, first[1].data());
    } else if (layout_.inputs == 1) {
        for (int i = 0; i < frames; ++i) first[0][i] = mean(interleaved[2 * i], interleaved[2 * i + 1]);
    } else {
        deinterleaveStereo(interleaved, first[0].data(), first[1].data(), frames);
    }
}

std::int64_t PluginChannels::giveTo(float* interleaved, int frames) {
    std::int64_t unwritten = 0;
    for (auto& pins : outputs_)
        for (int c = 0; c < std::min(layout_.outputs, kStereo); ++c) unwritten += silenceUnwritten(pins[c], frames);
    const auto& first = outputs_.front();
    if (layout_.instances > 1) {
        interleaveStereo(first[0].data(), outputs_[1][0].data(), interleaved, frames);
    } else if (layout_.fileChannels == 1 && layout_.outputs == 1) {
        std::copy_n(first[0].data(), frames, interleaved);
    } else if (layout_.fileChannels == 1) {
        for (int i = 0; i < frames; ++i) interleaved[i] = mean(first[0][i], first[1][i]);
    } else {
        interleaveStereo(first[0].data(), first[layout_.outputs == 1 ? 0 : 1].data(), interleaved, frames);
    }
    return unwritten;
}

}  // namespace tapestop
