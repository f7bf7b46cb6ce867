// A stereo pass-through effect that fails in one way once it has processed
// kFaultFrame frames, as badly written or hostile plug-ins do. The way is
// chosen when it is built: FAULT_CRASH (a segmentation fault), FAULT_ABORT,
// FAULT_EXIT (exit(0) from inside the plug-in), FAULT_HANG (never returns),
// FAULT_NAN (NaN on the left, infinity on the right), FAULT_INF (infinity
// on both, no NaN), FAULT_PINS (it announces 2^31 - 1 outputs), or
// FAULT_CRASH_ON_UNLOAD (a segmentation fault when the library is unloaded,
// after every frame was processed and the effect closed).
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <unistd.h>

#include "AudioEffectX.h"

namespace {

constexpr std::int64_t kFaultFrame = 10000;

#ifdef FAULT_CRASH_ON_UNLOAD
struct CrashOnUnload {
    ~CrashOnUnload() { std::raise(SIGSEGV); }
} crashOnUnload;
#endif

class FaultyEffect : public AudioEffectX {
public:
    explicit FaultyEffect(audioMasterCallback master) : AudioEffectX(master, 1, 0) {
        setNumInputs(2);
#ifdef FAULT_PINS
        setNumOutputs(std::numeric_limits<VstInt32>::max());
#else
        setNumOutputs(2);
#endif
        setUniqueID(fourCharCode("Flty"));
        canProcessReplacing();
    }

    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override {
        for (VstInt32 i = 0; i < sampleFrames; ++i, ++framesDone_) {
            outputs[0][i] = inputs[0][i];
            outputs[1][i] = inputs[1][i];
            if (framesDone_ >= kFaultFrame) fail(outputs, i);
        }
    }

private:
    void fail([[maybe_unused]] float** outputs, [[maybe_unused]] VstInt32 i) {
#if defined(FAULT_CRASH)
        std::raise(SIGSEGV);
#elif defined(FAULT_ABORT)
        std::abort();
#elif defined(FAULT_EXIT)
        std::exit(0);
#elif defined(FAULT_HANG)
        while (true) ::pause();
#elif defined(FAULT_NAN)
        outputs[0][i] = std::numeric_limits<float>::quiet_NaN();
        outputs[1][i] = -std::numeric_limits<float>::infinity();
#elif defined(FAULT_INF)
        outputs[0][i] = std::numeric_limits<float>::infinity();
        outputs[1][i] = -std::numeric_limits<float>::infinity();
#endif
    }

    std::int64_t framesDone_ = 0;
};

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback master) { return new FaultyEffect(master); }
