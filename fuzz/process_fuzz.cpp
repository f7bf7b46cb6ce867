// Fuzzes the audio path: sequences of parameter changes (any 32-bit pattern
// on any index) and processing calls of fuzzed sizes, zero and negative
// included, on fuzzed input, sometimes in place. No call may write a sample
// outside its frames, a call without frames writes nothing, and finite input
// gives finite output while the mix is finite and at most kFiniteMixLimit in
// size (a larger mix may overflow the blend to infinity by definition). The
// read slot staying inside the ring buffers is checked by the bounds
// sanitizer.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "FuzzInput.h"

namespace {

constexpr VstInt32 kMaxBlockFrames = 4096;
constexpr VstInt32 kMinBlockFrames = -16;
constexpr std::size_t kGuardFrames = 16;
constexpr long kMaxFramesPerInput = 1 << 18;
constexpr float kSentinel = -7777.25f;
constexpr float kMaxInputMagnitude = 1e30f;  // the blend of such input with a bounded mix stays finite
constexpr float kFiniteMixLimit = 1e6f;
constexpr float kInt16Scale = 1.0f / 32768.0f;
constexpr VstInt32 kMix = 2;

struct Channel {
    std::array<float, kMaxBlockFrames + kGuardFrames> samples;
};

// Half the samples are 16-bit audio, the others any finite float up to
// kMaxInputMagnitude, so edge values reach the recording as well.
float takeSample(fuzz::Input& input, bool wide) {
    if (!wide) return static_cast<float>(input.take<std::int16_t>()) * kInt16Scale;
    const float value = input.takeFloatBits();
    return std::isfinite(value) && std::fabs(value) <= kMaxInputMagnitude ? value : 0.0f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    AEffect* effect = fuzz::createEffect();
    if (effect == nullptr) fuzz::fail("no effect", 0);
    static Channel inL, inR, outL, outR;
    float mix = 1.0f;
    long frames = 0;

    while (!input.empty() && frames < kMaxFramesPerInput) {
        const auto action = input.take<std::uint8_t>();
        if (action % 2 == 0) {
            // Mostly the three parameters, sometimes any index.
            const auto raw = input.take<std::int8_t>();
            const VstInt32 index = (action & 0x80) != 0 ? raw : static_cast<std::uint8_t>(raw) % 3;
            const float value = input.takeFloatBits();
            effect->setParameter(effect, index, value);
            if (index == kMix) mix = value;
            continue;
        }
        const VstInt32 count = kMinBlockFrames + static_cast<VstInt32>(input.take<std::uint16_t>() %
                                                                       (kMaxBlockFrames - kMinBlockFrames + 1));
        const bool inPlace = (action & 0x2) != 0;
        const bool wide = (action & 0x4) != 0;
        const auto fill = static_cast<std::size_t>(std::max(count, 0));
        for (std::size_t i = 0; i < fill; ++i) {
            inL.samples[i] = takeSample(input, wide);
            inR.samples[i] = takeSample(input, wide);
        }
        outL.samples.fill(kSentinel);
        outR.samples.fill(kSentinel);
        if (inPlace) {
            std::copy_n(inL.samples.begin(), fill, outL.samples.begin());
            std::copy_n(inR.samples.begin(), fill, outR.samples.begin());
        }
        float* inputs[2] = {inPlace ? outL.samples.data() : inL.samples.data(),
                            inPlace ? outR.samples.data() : inR.samples.data()};
        float* outputs[2] = {outL.samples.data(), outR.samples.data()};
        effect->processReplacing(effect, inputs, outputs, count);
        frames += static_cast<long>(fill);

        for (std::size_t i = fill; i < outL.samples.size(); ++i)
            if (outL.samples[i] != kSentinel || outR.samples[i] != kSentinel)
                fuzz::fail("sample written outside the block of frames", count);
        if (std::isfinite(mix) && std::fabs(mix) <= kFiniteMixLimit)
            for (std::size_t i = 0; i < fill; ++i)
                if (!std::isfinite(outL.samples[i]) || !std::isfinite(outR.samples[i]))
                    fuzz::fail("finite input gave non-finite output at frame", static_cast<long>(i));
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    return 0;
}
