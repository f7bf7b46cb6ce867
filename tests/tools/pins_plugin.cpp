// An effect with PINS_IN inputs and PINS_OUT outputs that shows in its output
// which input fed which output, and whether an instance kept its own state:
// output k is (k + 1) times the mean of input (k mod PINS_IN) and that
// input's previous sample (0 before the first), carried across blocks. With
// no inputs, output k is (k + 1) / 4 throughout.
#include <array>

#include "AudioEffectX.h"

namespace {

constexpr int kInputs = PINS_IN;
constexpr int kOutputs = PINS_OUT;

class PinsEffect : public AudioEffectX {
public:
    explicit PinsEffect(audioMasterCallback master) : AudioEffectX(master, 1, 0) {
        setNumInputs(kInputs);
        setNumOutputs(kOutputs);
        setUniqueID(fourCharCode("Pins"));
        canProcessReplacing();
    }

    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override {
        for (int k = 0; k < kOutputs; ++k) {
            const float gain = static_cast<float>(k + 1);
            if (kInputs == 0) {
                for (VstInt32 i = 0; i < sampleFrames; ++i) outputs[k][i] = gain / 4.0f;
                continue;
            }
            const int source = k % (kInputs == 0 ? 1 : kInputs);
            float previous = previous_[source];
            for (VstInt32 i = 0; i < sampleFrames; ++i) {
                const float sample = inputs[source][i];
                outputs[k][i] = gain * 0.5f * (sample + previous);
                previous = sample;
            }
        }
        for (int j = 0; j < kInputs; ++j) previous_[j] = inputs[j][sampleFrames - 1];
    }

private:
    std::array<float, kInputs == 0 ? 1 : kInputs> previous_{};
};

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback master) { return new PinsEffect(master); }
