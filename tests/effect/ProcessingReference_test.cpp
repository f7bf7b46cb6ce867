// The tape stop's processing against a reference: the plain per-frame loop,
// every step of every frame written out, as the processing was before its
// pass-through and standstill frames were given fast phases. Random sequences
// of parameter changes and blocks of -2 to 4,096 frames run through the built
// plug-in and through the reference side by side, on separate, in-place and
// cross-aliased buffers at every alignment; every sample of every buffer must
// agree bit for bit.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "LoadedPlugin.h"

namespace {

using testing_support::bitsOf;
using testing_support::TapeStop;

constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kSpeed = 1;
constexpr VstInt32 kMix = 2;
constexpr std::int32_t kBufferLengthSamples = 480000;
constexpr VstInt32 kMaxBlockFrames = 4096;
constexpr VstInt32 kMinBlockFrames = -2;
constexpr int kStepsPerSequence = 3000;
constexpr unsigned kSequences = 6;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Host values worth trying beside random ones.
constexpr float kTriggers[] = {0.0f, 1.0f, 0.999f, 2.0f, kNaN, -1.0f, kInfinity, 1.0f, 0.0f};
constexpr float kSpeeds[] = {0.0f, 0.1f, 0.53f, 1.0f, -0.5f, -1e9f, 3e9f, kNaN, 1e-3f, 5.0f};
constexpr float kMixes[] = {0.0f, 0.5f, 1.0f, 0.3f, -2.0f, 1e3f, kNaN};
// Block lengths around the multiples of the pass-through runs, beside random ones.
constexpr VstInt32 kBlocks[] = {-2, -1, 0, 1, 2, 3, 15, 16, 17, 31, 32, 33, 63, 64, 65, 96, 128, 512, 1024, 4096};

// The processing as one loop over frames, on state of its own.
class ReferenceTapeStop {
public:
    ReferenceTapeStop() : bufferL_(kBufferLengthSamples, 0.0f), bufferR_(kBufferLengthSamples, 0.0f) {}

    void setParameter(VstInt32 index, float value) {
        if (index == kTrigger) trigger_ = value;
        if (index == kSpeed) speed_ = hundredths(value);
        if (index == kMix) mix_ = value;
    }

    void process(float** inputs, float** outputs, VstInt32 frames) {
        const float* inL = inputs[0];
        const float* inR = inputs[1];
        float* outL = outputs[0];
        float* outR = outputs[1];
        for (VstInt32 i = 0; i < frames; ++i) {
            const float t = trigger_;
            const bool engaged = t >= 1.0f;
            if (engaged && previousTrigger_ < 1.0f) {
                stopCounter_ = 0;
                writeIndex_ = 0;
                playbackRate_ = 1.0f;
                readPosition_ = 0.0f;
            } else if (t < 1.0f) {
                stopCounter_ = 0;
            }
            if (!engaged) {
                outL[i] = inL[i];
                outR[i] = inR[i];
            } else {
                bufferL_[static_cast<std::size_t>(writeIndex_)] = inL[i];
                bufferR_[static_cast<std::size_t>(writeIndex_)] = inR[i];
                if (++writeIndex_ >= kBufferLengthSamples) writeIndex_ = 0;
                slowDown();
                writeWet(outL[i], outR[i]);
                const float m = mix_;
                const float dry = 1.0f - m;
                outL[i] = dry * inL[i] + m * outL[i];
                outR[i] = dry * inR[i] + m * outR[i];
            }
            previousTrigger_ = t;
        }
    }

private:
    // Host value times 100, truncated; NaN gives 0, the 32-bit range clamps.
    static std::int32_t hundredths(float value) {
        const float scaled = value * 100.0f;
        if (std::isnan(scaled)) return 0;
        if (scaled >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
        if (scaled < -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
        return static_cast<std::int32_t>(scaled);
    }

    void slowDown() {
        const std::int32_t j = stopCounter_;
        const float x = ::powf(2.5f, static_cast<float>(j) / -8000.0f);
        if (j < std::numeric_limits<std::int32_t>::max()) stopCounter_ = j + 1;
        const auto s = static_cast<float>(static_cast<std::int64_t>(speed_) + 1);
        playbackRate_ = playbackRate_ - ((x + 0.5f) * s) / 500000.0f;
    }

    void writeWet(float& left, float& right) {
        if (playbackRate_ <= 0.0f) {
            left = right = 0.0f;
            return;
        }
        const auto slot = static_cast<std::size_t>(static_cast<std::int32_t>(readPosition_));
        const double rate = playbackRate_;
        const double gain = rate < 0.25 ? 1.0 - (0.25 - rate) * 4.0 : 1.0;
        left = static_cast<float>(gain * static_cast<double>(bufferL_[slot]));
        right = static_cast<float>(gain * static_cast<double>(bufferR_[slot]));
        readPosition_ = readPosition_ + playbackRate_;
        if (readPosition_ >= static_cast<float>(kBufferLengthSamples)) readPosition_ = 0.0f;
    }

    float trigger_ = 0.0f;
    float previousTrigger_ = 0.0f;
    std::int32_t speed_ = 10;
    std::int32_t stopCounter_ = 0;
    std::int32_t writeIndex_ = 0;
    std::vector<float> bufferL_, bufferR_;
    float playbackRate_ = 0.0f;
    float readPosition_ = 0.0f;
    float mix_ = 1.0f;
};

// How a host lays out the four channels of a call over buffers A, B, C, D.
// The last one overlaps a channel with another in part, as no host should:
// the output is still what the per-frame loop writes.
enum class Layout { kSeparate, kInPlace, kLeftOutIsRightIn, kOutputsSwapInputs, kLeftOutThreeAfterLeftIn };
constexpr Layout kLayouts[] = {Layout::kSeparate, Layout::kInPlace, Layout::kLeftOutIsRightIn,
                               Layout::kOutputsSwapInputs, Layout::kLeftOutThreeAfterLeftIn};
constexpr std::size_t kOverlapShiftSamples = 3;

// Four buffers and the channel pointers of one layout over them, each
// channel starting kMisalignments[offset] samples into its buffer, so that
// wide moves meet every alignment.
constexpr std::size_t kMisalignments[] = {0, 1, 2, 3};
struct Buffers {
    std::array<std::vector<float>, 4> memory;
    float* inputs[2];
    float* outputs[2];

    Buffers(const std::array<std::vector<float>, 4>& contents, Layout layout, std::size_t offset)
        : memory(contents) {
        float* a = memory[0].data() + offset;
        float* b = memory[1].data() + offset;
        float* c = memory[2].data() + offset;
        float* d = memory[3].data() + offset;
        outputs[0] = c;
        outputs[1] = d;
        switch (layout) {
            case Layout::kSeparate: inputs[0] = a, inputs[1] = b; break;
            case Layout::kInPlace: inputs[0] = c, inputs[1] = d; break;
            case Layout::kLeftOutIsRightIn: inputs[0] = a, inputs[1] = c; break;
            case Layout::kOutputsSwapInputs: inputs[0] = d, inputs[1] = c; break;
            case Layout::kLeftOutThreeAfterLeftIn:
                inputs[0] = a, inputs[1] = b, outputs[0] = a + kOverlapShiftSamples;
                break;
        }
    }
};

// One thing a host does: set a parameter, or process a block of frames on
// fresh contents of the four buffers in one layout.
struct Step {
    VstInt32 index;  // parameter, or kProcess
    float value;
    VstInt32 frames;
    Layout layout;
    std::size_t misalignment = 0;
};
constexpr VstInt32 kProcess = -1;

Step set(VstInt32 index, float value) { return {index, value, 0, Layout::kSeparate}; }
Step process(VstInt32 frames, Layout layout = Layout::kSeparate, std::size_t misalignment = 0) {
    return {kProcess, 0.0f, frames, layout, misalignment};
}

// Noise, with now and then a value that tests the arithmetic's edges.
float sample(std::mt19937& random) {
    constexpr float kSpecials[] = {0.0f, -0.0f, kInfinity, -kInfinity, kNaN, 1e-40f, 3e38f, -1.0f};
    if (random() % 64 == 0) return kSpecials[random() % std::size(kSpecials)];
    return std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
}

template <typename T, std::size_t N>
T pick(std::mt19937& random, const T (&values)[N]) {
    return values[random() % N];
}

// Half the steps change a parameter, the trigger most often, to a value
// worth trying or a random one near 0 to 1.
Step randomStep(std::mt19937& random) {
    const unsigned action = random() % 8;
    if (action >= 4) {
        const VstInt32 frames = random() % 2 == 0 ? pick(random, kBlocks)
                                                  : std::uniform_int_distribution<VstInt32>(kMinBlockFrames,
                                                                                            kMaxBlockFrames)(random);
        return process(frames, pick(random, kLayouts), pick(random, kMisalignments));
    }
    const VstInt32 index = action < 2 ? kTrigger : static_cast<VstInt32>(action) - 1;
    if (random() % 2 == 0) return set(index, std::uniform_real_distribution<float>(-0.1f, 1.1f)(random));
    return set(index, index == kTrigger ? pick(random, kTriggers)
                      : index == kSpeed ? pick(random, kSpeeds)
                                        : pick(random, kMixes));
}

// Bit for bit, except that one NaN stands for any: which operand's NaN an
// addition or product passes on depends on the order the compiler gives
// them, which the source does not fix.
bool same(float plugin, float model) {
    return bitsOf(plugin) == bitsOf(model) || (std::isnan(plugin) && std::isnan(model));
}

class ProcessingReference : public TapeStop {
protected:
    // Runs the step through the plug-in and the reference; false, with a
    // failure, where any sample of the four buffers differs.
    bool agree(const Step& step, std::mt19937& random, int number) {
        if (step.index != kProcess) {
            effect->setParameter(step.index, step.value);
            reference.setParameter(step.index, step.value);
            return true;
        }
        std::array<std::vector<float>, 4> contents;
        for (auto& channel : contents) {
            channel.resize(kMaxBlockFrames + std::size(kMisalignments) + kOverlapShiftSamples);
            for (float& value : channel) value = sample(random);
        }
        Buffers plugin(contents, step.layout, step.misalignment), model(contents, step.layout, step.misalignment);
        effect->processReplacing(plugin.inputs, plugin.outputs, step.frames);
        reference.process(model.inputs, model.outputs, step.frames);
        for (std::size_t buffer = 0; buffer < contents.size(); ++buffer)
            for (std::size_t i = 0; i < contents[buffer].size(); ++i)
                if (!same(plugin.memory[buffer][i], model.memory[buffer][i])) {
                    ADD_FAILURE() << plugin.memory[buffer][i] << " against " << model.memory[buffer][i]
                                  << " at step " << number << ", " << step.frames << " frames, layout "
                                  << static_cast<int>(step.layout) << ", " << step.misalignment
                                  << " samples in, buffer " << buffer << ", sample " << i;
                    return false;
                }
        return true;
    }

    ReferenceTapeStop reference;
};

class RandomSequences : public ProcessingReference, public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomSequences, MatchTheReferenceBitForBit) {
    std::mt19937 random(GetParam());
    for (int number = 0; number < kStepsPerSequence; ++number)
        if (!agree(randomStep(random), random, number)) return;
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomSequences, ::testing::Range(1u, 1u + kSequences));

// Sequences that random ones reach too seldom: a stop released in whole runs
// of pass-through frames, then a NaN blip, then engaged without a rising
// edge (the count must start again from 0); a stop held past standstill,
// then started again by a negative speed; a blip in the middle of a stop.
const std::vector<Step> kScripted[] = {
    {set(kSpeed, 1.0f), set(kTrigger, 1.0f), process(1000), set(kTrigger, 0.0f), process(64), set(kTrigger, kNaN),
     process(32), set(kTrigger, 1.0f), process(4096), process(64, Layout::kInPlace)},
    {set(kSpeed, 1.0f), set(kTrigger, 1.0f), process(4096), process(512), set(kSpeed, -0.5f), process(4096),
     process(4096, Layout::kLeftOutIsRightIn), set(kSpeed, 0.0f), process(4096)},
    {set(kMix, 0.5f), set(kTrigger, 2.0f), process(3000), set(kTrigger, kNaN), process(1), set(kTrigger, 1.0f),
     process(4096, Layout::kOutputsSwapInputs), set(kTrigger, 0.999f), process(96), set(kTrigger, 1.0f), process(33)},
};

TEST_F(ProcessingReference, ScriptedSequencesMatchTheReferenceBitForBit) {
    std::mt19937 random(7);
    for (const std::vector<Step>& steps : kScripted) {
        restart();
        reference = ReferenceTapeStop();
        for (std::size_t number = 0; number < steps.size(); ++number)
            if (!agree(steps[number], random, static_cast<int>(number))) return;
    }
}

}  // namespace
