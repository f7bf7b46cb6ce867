#include "AudioEffect.h"

#include <cstdlib>
#include <cstring>

namespace {

AudioEffect* effectOf(AEffect* record) { return static_cast<AudioEffect*>(record->object); }

// The record functions: each finds the effect through the record and
// forwards to one virtual operation. effClose also destroys the effect.
VstIntPtr dispatchEffect(AEffect* record, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    AudioEffect* effect = effectOf(record);
    const VstIntPtr answer = effect->dispatcher(opcode, index, value, ptr, opt);
    if (opcode != effClose) return answer;
    delete effect;
    return 1;
}

void processDeprecated(AEffect* record, float** inputs, float** outputs, VstInt32 sampleFrames) {
    effectOf(record)->process(inputs, outputs, sampleFrames);
}

void processReplacingRecord(AEffect* record, float** inputs, float** outputs, VstInt32 sampleFrames) {
    effectOf(record)->processReplacing(inputs, outputs, sampleFrames);
}

void processDoubleReplacingRecord(AEffect* record, double** inputs, double** outputs, VstInt32 sampleFrames) {
    effectOf(record)->processDoubleReplacing(inputs, outputs, sampleFrames);
}

void setParameterRecord(AEffect* record, VstInt32 index, float value) { effectOf(record)->setParameter(index, value); }

float getParameterRecord(AEffect* record, VstInt32 index) { return effectOf(record)->getParameter(index); }

constexpr float kDefaultSampleRateHz = 44100.0f;
constexpr VstInt32 kDefaultBlockSizeFrames = 1024;
constexpr VstInt32 kIdentifyAnswer = fourCharCode("NvEf");

}  // namespace

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster),
      editor(nullptr),
      sampleRate(kDefaultSampleRateHz),
      blockSize(kDefaultBlockSizeFrames),
      numPrograms(numPrograms),
      numParams(numParams),
      curProgram(0) {
    std::memset(&cEffect, 0, sizeof(cEffect));
    cEffect.flags = effFlagsCanReplacing;
    cEffect.dispatcher = dispatchEffect;
    cEffect.process = processDeprecated;
    cEffect.setParameter = setParameterRecord;
    cEffect.getParameter = getParameterRecord;
    cEffect.processReplacing = processReplacingRecord;
    cEffect.processDoubleReplacing = processDoubleReplacingRecord;
    cEffect.magic = kEffectMagic;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = fourCharCode("NoEf");
    cEffect.version = 1;
}

AudioEffect::~AudioEffect() { delete editor; }

void* AudioEffect::operator new(std::size_t bytes) noexcept { return std::calloc(1, bytes); }

void AudioEffect::operator delete(void* object) noexcept { std::free(object); }

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    if (audioMaster == nullptr) return 0;
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

void AudioEffect::setFlag(VstInt32 flag, bool state) {
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}

void AudioEffect::setEditor(AEffEditor* newEditor) {
    delete editor;
    editor = newEditor;
    setFlag(effFlagsHasEditor, editor != nullptr);
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    using Row = VstIntPtr (*)(AudioEffect&, VstInt32 index, VstIntPtr value, void* ptr, float opt);
    // One row per opcode, 0 to 24. Where a 32-bit argument comes from value,
    // its low 32 bits are passed; the tests of effSetProgram and
    // effMainsChanged look at the whole value.
    static constexpr Row kRows[] = {
        /* effOpen */ [](AudioEffect& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { e.open(); return 0; },
        /* effClose */ [](AudioEffect& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { e.close(); return 0; },
        /* effSetProgram */
        [](AudioEffect& e, VstInt32, VstIntPtr value, void*, float) -> VstIntPtr {
            if (value < static_cast<VstIntPtr>(e.numPrograms)) e.setProgram(static_cast<VstInt32>(value));
            return 0;
        },
        /* effGetProgram */ [](AudioEffect& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return e.getProgram(); },
        /* effSetProgramName */
        [](AudioEffect& e, VstInt32, VstIntPtr, void* ptr, float) -> VstIntPtr {
            e.setProgramName(static_cast<char*>(ptr));
            return 0;
        },
        /* effGetProgramName */
        [](AudioEffect& e, VstInt32, VstIntPtr, void* ptr, float) -> VstIntPtr {
            e.getProgramName(static_cast<char*>(ptr));
            return 0;
        },
        /* effGetParamLabel */
        [](AudioEffect& e, VstInt32 index, VstIntPtr, void* ptr, float) -> VstIntPtr {
            e.getParameterLabel(index, static_cast<char*>(ptr));
            return 0;
        },
        /* effGetParamDisplay */
        [](AudioEffect& e, VstInt32 index, VstIntPtr, void* ptr, float) -> VstIntPtr {
            e.getParameterDisplay(index, static_cast<char*>(ptr));
            return 0;
        },
        /* effGetParamName */
        [](AudioEffect& e, VstInt32 index, VstIntPtr, void* ptr, float) -> VstIntPtr {
            e.getParameterName(index, static_cast<char*>(ptr));
            return 0;
        },
        /* effGetVu */ nullptr,
        /* effSetSampleRate */
        [](AudioEffect& e, VstInt32, VstIntPtr, void*, float opt) -> VstIntPtr { e.setSampleRate(opt); return 0; },
        /* effSetBlockSize */
        [](AudioEffect& e, VstInt32, VstIntPtr value, void*, float) -> VstIntPtr {
            e.setBlockSize(static_cast<VstInt32>(value));
            return 0;
        },
        /* effMainsChanged */
        [](AudioEffect& e, VstInt32, VstIntPtr value, void*, float) -> VstIntPtr {
            if (value == 0)
                e.suspend();
            else
                e.resume();
            return 0;
        },
        /* effEditGetRect */
        [](AudioEffect& e, VstInt32, VstIntPtr, void* ptr, float) -> VstIntPtr {
            return e.editor != nullptr && e.editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
        },
        /* effEditOpen */
        [](AudioEffect& e, VstInt32, VstIntPtr, void* ptr, float) -> VstIntPtr {
            return e.editor != nullptr && e.editor->open(ptr) ? 1 : 0;
        },
        /* effEditClose */
        [](AudioEffect& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
            if (e.editor != nullptr) e.editor->close();
            return 0;
        },
        /* effEditDraw */ nullptr,
        /* effEditMouse */ nullptr,
        /* effEditKey */ nullptr,
        /* effEditIdle */
        [](AudioEffect& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
            if (e.editor != nullptr) e.editor->idle();
            return 0;
        },
        /* effEditTop */ nullptr,
        /* effEditSleep */ nullptr,
        /* effIdentify */ [](AudioEffect&, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return kIdentifyAnswer; },
        /* effGetChunk */
        [](AudioEffect& e, VstInt32 index, VstIntPtr, void* ptr, float) -> VstIntPtr {
            return e.getChunk(static_cast<void**>(ptr), index != 0);
        },
        /* effSetChunk */
        [](AudioEffect& e, VstInt32 index, VstIntPtr value, void* ptr, float) -> VstIntPtr {
            return e.setChunk(ptr, static_cast<VstInt32>(value), index != 0);
        },
    };
    static_assert(sizeof(kRows) / sizeof(kRows[0]) == effSetChunk + 1);

    // Taken unsigned, one test turns away negative opcodes and those above 24.
    const auto row = static_cast<std::uint32_t>(opcode);
    if (row > static_cast<std::uint32_t>(effSetChunk) || kRows[row] == nullptr) return 0;
    return kRows[row](*this, index, value, ptr, opt);
}
