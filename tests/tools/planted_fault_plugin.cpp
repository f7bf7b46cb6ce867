// A small effect with one planted fault, chosen at compile time by
// FAULT_<NAME> (none: the clean control), for the validator's tests. The
// clean effect is a stereo gain with a tone parameter, two named programs
// and its state in chunks, so that every check of the validator has
// something to look at. Each fault is the few lines that break it.
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include <unistd.h>
#include <xmmintrin.h>

#include "AudioEffectX.h"
#include "TextBuffer.h"

#ifdef FAULT_UNDEFINED_SYMBOL
extern "C" void tarvoSymbolNobodyDefines();  // left unresolved at link time
#endif

namespace {

constexpr VstInt32 kGain = 0, kTone = 1, kParameters = 2, kPrograms = 2;
constexpr VstInt32 kNameChars = 24;
constexpr VstInt32 kChunkBytes = kParameters * sizeof(float);  // the chunk is the parameter values
constexpr std::size_t kLeakBytes = 4u << 20;
constexpr std::int64_t kFramesBeforeNan = 100000;
constexpr float kFilterHz = 9000.0f;  // a one-pole filter stable only up to sampleRate / pi

#ifdef FAULT_SHARED_STATE
float sharedValues[kParameters];  // one set of values for every instance
#endif
#ifdef FAULT_LEAK_4MB_PER_INSTANCE
void* volatile leaked;  // the last leak only: the rest are lost
#endif
#ifdef FAULT_LAST_BIT_DIFFERS
int instancesMade = 0;
#endif

}  // namespace

class PlantedFaultEffect : public AudioEffectX {
public:
    explicit PlantedFaultEffect(audioMasterCallback master) : AudioEffectX(master, kPrograms, kParameters) {
        setNumInputs(2);
        setNumOutputs(2);
        setUniqueID(fourCharCode("TfLt"));
        programsAreChunks(true);
        values[kGain] = 0.5f;
        values[kTone] = 0.0f;
        table = &storage;
#ifdef FAULT_CHATTY
        std::printf("a plug-in that talks on stdout\n");  // no fault: the report must stay clean
        std::fflush(stdout);
#endif
#ifdef FAULT_LOCALE_AT_CREATION
        std::setlocale(LC_NUMERIC, "C.UTF-8");
#endif
#ifdef FAULT_NULL_PROCESS_REPLACING
        cEffect.processReplacing = nullptr;
#endif
#ifdef FAULT_LEAK_4MB_PER_INSTANCE
        leaked = std::malloc(kLeakBytes);
        std::memset(leaked, 1, kLeakBytes);
#endif
#ifdef FAULT_UNDEFINED_SYMBOL
        if (master == nullptr) tarvoSymbolNobodyDefines();
#endif
    }

    ~PlantedFaultEffect() override {
#ifdef FAULT_DOUBLE_FREE_ON_SECOND_CLOSE
        static int closes = 0;
        if (++closes == 2) {
            void* volatile block = std::malloc(64);
            std::free(block);
            std::free(block);
        }
#endif
    }

    void resume() override {
        AudioEffectX::resume();
#ifdef FAULT_FTZ_LEFT_BY_RESUME
        _mm_setcsr(_mm_getcsr() | 0x8040);
#endif
#ifdef FAULT_SUSPEND_LOSES_STATE
        if (resumes++ == 0) table = &storage;
#endif
    }

#ifdef FAULT_SUSPEND_LOSES_STATE
    void suspend() override { table = nullptr; }
    int resumes = 0;
#endif

    void processReplacing(float** in, float** out, VstInt32 frames) override {
#ifdef FAULT_HEAP_IN_PROCESS
        std::vector<float> scratch(static_cast<std::size_t>(frames));
#endif
#ifdef FAULT_LOCK_IN_PROCESS
        std::lock_guard<std::mutex> lock(mutex);
#endif
#ifdef FAULT_CRASH_AT_BLOCK_1
        if (frames == 1) table = nullptr;
#endif
#ifdef FAULT_SLOWER_THAN_REAL_TIME
        ::usleep(static_cast<useconds_t>(2e6 * frames / sampleRate));
#endif
        const float gain = 2.0f * value(kGain);
        const float coefficient = 1.0f - 2.0f * 3.14159265f * kFilterHz / sampleRate;
        for (VstInt32 i = 0; i < frames; ++i) {
            const float left = in[0][i], right = in[1][i];
            float wetLeft = left * gain * (*table)[0], wetRight = right * gain;
#ifdef FAULT_NOT_IN_PLACE_SAFE
            out[0][i] = wetRight;
            wetRight = in[0][i] * gain;
#endif
#ifdef FAULT_UNSTABLE_AT_LOW_SAMPLE_RATES
            filterState = wetLeft - coefficient * filterState;
            if (std::fabs(filterState) < 1e-30f) filterState = 0.0f;  // no subnormal tail
            wetLeft = filterState;
#else
            (void)coefficient;
#endif
#ifdef FAULT_NAN_AFTER_100K_FRAMES
            if (framesDone + i >= kFramesBeforeNan) wetLeft = std::nanf("");
#endif
#ifdef FAULT_LAST_BIT_DIFFERS
            if (instanceNumber % 2 == 1) wetLeft = std::nextafter(wetLeft, INFINITY);  // one step in the last bit
#endif
#ifdef FAULT_RANDOM_OUTPUT
            wetLeft += 1e-3f * static_cast<float>(std::rand()) / static_cast<float>(RAND_MAX);
#endif
#ifdef FAULT_SUBNORMAL_OUTPUT
            decay = decay * 0.5f + left;
            wetLeft = decay * gain;
#endif
#ifdef FAULT_INFINITE_AT_FULL_TONE
            wetRight /= 1.0f - value(kTone);
#endif
            out[0][i] = wetLeft;
#ifdef FAULT_UNWRITTEN_OUTPUT
            (void)wetRight;  // the right channel is never written
#else
            out[1][i] = wetRight;
#endif
        }
#ifdef FAULT_OUT_OF_BOUNDS_WRITE
        out[1][frames] = 0.0f;
#endif
#ifdef FAULT_STRAY_WRITE_BEFORE_GUARD
        // One sample past the block, only where that is not yet the next
        // page: a host's guard page never stops this write.
        const auto pageBytes = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        if (reinterpret_cast<std::uintptr_t>(out[1] + frames) % pageBytes != 0) out[1][frames] = 0.0f;
#endif
        framesDone += frames;
    }

    void setParameter(VstInt32 index, float value) override {
        if (index < 0 || index >= kParameters) return;
#ifdef FAULT_PARAMETER_RACE
        table = nullptr;  // a moment in which the audio thread finds no table
        for (int spin = 0; spin < 2000; ++spin) asm volatile("" ::: "memory");
        table = &storage;
#endif
        values[index] = value;
    }

    float getParameter(VstInt32 index) override {
        if (index < 0 || index >= kParameters) return 0.0f;
#if defined(FAULT_PARAMETER_OUTSIDE_RANGE)
        return 2.0f * value(index);
#elif defined(FAULT_CHUNK_QUANTIZED_ON_RESTORE)
        // No fault: a restored value reads back in thousandths, the sound keeps every bit.
        return restored ? std::round(value(index) * 1000.0f) / 1000.0f : value(index);
#else
        return value(index);
#endif
    }

    void getParameterName(VstInt32 index, char* text) override {
#ifdef FAULT_LONG_PARAMETER_NAME
        std::memset(text, 'N', 100);
        text[100] = '\0';
        return;
#endif
        copyText(text, index == kGain ? "Gain" : index == kTone ? "Tone" : "", kVstMaxParamStrLen);
    }

    void getParameterLabel(VstInt32 index, char* text) override {
        copyText(text, index == kGain ? "dB" : "", kVstMaxParamStrLen);
    }

    void getParameterDisplay(VstInt32 index, char* text) override {
#ifdef FAULT_HANG_IN_DISPLAY
        for (;;) ::pause();
#endif
        if (index < 0 || index >= kParameters) return copyText(text, "", kVstMaxParamStrLen);
        float2string(value(index), text, kVstMaxParamStrLen);
    }

    void setProgram(VstInt32 program) override {
#ifndef FAULT_PROGRAM_NOT_SELECTABLE
        if (program >= 0 && program < kPrograms) curProgram = program;
#else
        (void)program;
#endif
    }
    void getProgramName(char* name) override { copyText(name, curProgram == 0 ? "Plain" : "Bright", kNameChars); }
    bool getProgramNameIndexed(VstInt32, VstInt32 index, char* text) override {
        if (index < 0 || index >= kPrograms) return false;
        copyText(text, index == 0 ? "Plain" : "Bright", kNameChars);
        return true;
    }

    VstInt32 getChunk(void** data, bool) override {
        *data = values;
        return kChunkBytes;
    }
    VstInt32 setChunk(void* data, VstInt32 bytes, bool) override {
#ifndef FAULT_CHUNK_LOSES_STATE
        if (bytes == kChunkBytes) std::memcpy(values, data, kChunkBytes);
#ifdef FAULT_CHUNK_QUANTIZED_ON_RESTORE
        restored = true;
#endif
#else
        (void)data, (void)bytes;
#endif
        return 0;
    }

    bool getEffectName(char* name) override { return copyText(name, "Faulty", kNameChars), true; }
    bool getVendorString(char* text) override { return copyText(text, "Tarvo Tests", kNameChars), true; }
    bool getProductString(char* text) override { return copyText(text, "Tarvo Faulty Effect", kNameChars), true; }

private:
#ifdef FAULT_SHARED_STATE
    float value(VstInt32 index) const { return sharedValues[index]; }
    float* const values = sharedValues;
#else
    float value(VstInt32 index) const { return values[index]; }
    float values[kParameters];
#endif
    float storage[1] = {1.0f};
    float (*volatile table)[1] = nullptr;
    std::int64_t framesDone = 0;
#ifdef FAULT_CHUNK_QUANTIZED_ON_RESTORE
    bool restored = false;
#endif
#ifdef FAULT_LAST_BIT_DIFFERS
    int instanceNumber = instancesMade++;
#endif
    float filterState = 0.0f, decay = 0.0f;
    std::mutex mutex;
};

AudioEffect* createEffectInstance(audioMasterCallback master) { return new PlantedFaultEffect(master); }
