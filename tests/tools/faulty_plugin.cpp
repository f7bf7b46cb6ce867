// A stereo pass-through effect that fails in one way once it has processed
// kFaultFrame frames, as badly written or hostile plug-ins do. The way is
// chosen when it is built: FAULT_CRASH (a segmentation fault), FAULT_ABORT,
// FAULT_EXIT (exit(0) from inside the plug-in), FAULT_HANG (never returns),
// FAULT_NAN (NaN on the left, minus infinity on the right), FAULT_INF
// (infinity on both, no NaN), FAULT_PINS (it announces 2^31 - 1 outputs),
// FAULT_UNWRITTEN (it stops writing its outputs), FAULT_CRASH_ON_UNLOAD (a
// segmentation fault when the library is unloaded, after every frame was
// processed and the effect closed), or FAULT_FORK_CRASH (it forks a helper,
// then crashes). FAULT_CLOSE_HANG processes well but takes kCloseHangSeconds
// to close. The FAULT_CREATION_* ways fail in the constructor instead: EXIT,
// CRASH, FORK_CRASH, or PRINT (it talks on stdout and works).
//
// A forked helper's process ID is written to the file the environment
// variable FAULTY_HELPER_PID_FILE names; a helper still alive after
// kHelperSeconds appends "outlived" to it.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <unistd.h>

#include "AudioEffectX.h"

namespace {

constexpr std::int64_t kFaultFrame = 10000;
constexpr unsigned kHelperSeconds = 30;
constexpr unsigned kCloseHangSeconds = 60;

[[maybe_unused]] void forkHelper() {
    const pid_t helper = ::fork();
    if (helper == 0) {
        ::sleep(kHelperSeconds);
        if (FILE* file = std::fopen(std::getenv("FAULTY_HELPER_PID_FILE"), "a")) {
            std::fputs("outlived\n", file);
            std::fclose(file);
        }
        ::_exit(0);
    }
    if (FILE* file = std::fopen(std::getenv("FAULTY_HELPER_PID_FILE"), "w")) {
        std::fprintf(file, "%d\n", static_cast<int>(helper));
        std::fclose(file);
    }
}

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
#if defined(FAULT_CREATION_EXIT)
        std::exit(0);
#elif defined(FAULT_CREATION_CRASH)
        std::raise(SIGSEGV);
#elif defined(FAULT_CREATION_FORK_CRASH)
        forkHelper();
        std::raise(SIGSEGV);
#elif defined(FAULT_CREATION_PRINT)
        std::printf("a plug-in that talks on stdout while it loads\n");
        std::fflush(stdout);
#endif
    }

#ifdef FAULT_CLOSE_HANG
    ~FaultyEffect() override { ::sleep(kCloseHangSeconds); }
#endif

    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override {
        for (VstInt32 i = 0; i < sampleFrames; ++i, ++framesDone_) {
#ifdef FAULT_UNWRITTEN
            if (framesDone_ >= kFaultFrame) continue;
#endif
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
#elif defined(FAULT_FORK_CRASH)
        forkHelper();
        std::raise(SIGSEGV);
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
