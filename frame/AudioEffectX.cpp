#include "AudioEffectX.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace {

VstIntPtr answerBool(bool state) { return state ? 1 : 0; }

// The key record for the editor: modifier is the low 8 bits of opt truncated
// toward zero. Outside the VstInt32 range every finite float is a multiple of
// 256, so its low 8 bits are 0; such values, infinities and NaN give 0 without
// a conversion that would be undefined.
VstKeyCode keyCodeFrom(VstInt32 index, VstIntPtr value, float opt) {
    VstKeyCode key{};
    key.character = index;
    key.virt = static_cast<unsigned char>(value & 0xFF);
    const bool representable = opt > -2147483649.0f && opt < 2147483648.0f;  // false for NaN
    key.modifier = representable ? static_cast<unsigned char>(static_cast<VstInt32>(opt) & 0xFF) : 0;
    return key;
}

}  // namespace

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    using X = AudioEffectX;
    using Row = VstIntPtr (*)(X&, VstInt32 index, VstIntPtr value, void* ptr, float opt);
    // One row per opcode from 25 to 79. A null row is an opcode this
    // dispatcher does not handle: it goes to the base dispatcher. Booleans are
    // answered as 1 or 0, VstInt32 results sign-extended.
    static constexpr Row kRows[] = {
        /* 25 effProcessEvents */
        [](X& e, VstInt32, VstIntPtr, void* ptr, float) -> VstIntPtr { return e.processEvents(static_cast<VstEvents*>(ptr)); },
        /* 26 effCanBeAutomated */
        [](X& e, VstInt32 index, VstIntPtr, void*, float) { return answerBool(e.canParameterBeAutomated(index)); },
        /* 27 effString2Parameter */
        [](X& e, VstInt32 index, VstIntPtr, void* ptr, float) {
            return answerBool(e.string2parameter(index, static_cast<char*>(ptr)));
        },
        /* 28 effGetNumProgramCategories */ nullptr,
        /* 29 effGetProgramNameIndexed */
        [](X& e, VstInt32 index, VstIntPtr value, void* ptr, float) {
            return answerBool(e.getProgramNameIndexed(static_cast<VstInt32>(value), index, static_cast<char*>(ptr)));
        },
        /* 30 effCopyProgram */ nullptr,
        /* 31 effConnectInput */ nullptr,
        /* 32 effConnectOutput */ nullptr,
        /* 33 effGetInputProperties */
        [](X& e, VstInt32 index, VstIntPtr, void* ptr, float) {
            return answerBool(e.getInputProperties(index, static_cast<VstPinProperties*>(ptr)));
        },
        /* 34 effGetOutputProperties */
        [](X& e, VstInt32 index, VstIntPtr, void* ptr, float) {
            return answerBool(e.getOutputProperties(index, static_cast<VstPinProperties*>(ptr)));
        },
        /* 35 effGetPlugCategory */ [](X& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return e.getPlugCategory(); },
        /* 36 effGetCurrentPosition */ nullptr,
        /* 37 effGetDestinationBuffer */ nullptr,
        /* 38 effOfflineNotify */
        [](X& e, VstInt32 index, VstIntPtr value, void* ptr, float) {
            return answerBool(e.offlineNotify(static_cast<VstAudioFile*>(ptr), static_cast<VstInt32>(value), index != 0));
        },
        /* 39 effOfflinePrepare */
        [](X& e, VstInt32, VstIntPtr value, void* ptr, float) {
            return answerBool(e.offlinePrepare(static_cast<VstOfflineTask*>(ptr), static_cast<VstInt32>(value)));
        },
        /* 40 effOfflineRun */
        [](X& e, VstInt32, VstIntPtr value, void* ptr, float) {
            return answerBool(e.offlineRun(static_cast<VstOfflineTask*>(ptr), static_cast<VstInt32>(value)));
        },
        /* 41 effProcessVarIo */
        [](X& e, VstInt32, VstIntPtr, void* ptr, float) {
            return answerBool(e.processVariableIo(static_cast<VstVariableIo*>(ptr)));
        },
        /* 42 effSetSpeakerArrangement */
        [](X& e, VstInt32, VstIntPtr value, void* ptr, float) {
            return answerBool(e.setSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement*>(value),
                                                      static_cast<VstSpeakerArrangement*>(ptr)));
        },
        /* 43 effSetBlockSizeAndSampleRate */ nullptr,
        /* 44 effSetBypass */ [](X& e, VstInt32, VstIntPtr value, void*, float) { return answerBool(e.setBypass(value != 0)); },
        /* 45 effGetEffectName */
        [](X& e, VstInt32, VstIntPtr, void* ptr, float) { return answerBool(e.getEffectName(static_cast<char*>(ptr))); },
        /* 46 effGetErrorText */ nullptr,
        /* 47 effGetVendorString */
        [](X& e, VstInt32, VstIntPtr, void* ptr, float) { return answerBool(e.getVendorString(static_cast<char*>(ptr))); },
        /* 48 effGetProductString */
        [](X& e, VstInt32, VstIntPtr, void* ptr, float) { return answerBool(e.getProductString(static_cast<char*>(ptr))); },
        /* 49 effGetVendorVersion */ [](X& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return e.getVendorVersion(); },
        /* 50 effVendorSpecific: the pointer-sized answer goes back unchanged */
        [](X& e, VstInt32 index, VstIntPtr value, void* ptr, float opt) { return e.vendorSpecific(index, value, ptr, opt); },
        /* 51 effCanDo */
        [](X& e, VstInt32, VstIntPtr, void* ptr, float) -> VstIntPtr { return e.canDo(static_cast<char*>(ptr)); },
        /* 52 effGetTailSize */ [](X& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return e.getGetTailSize(); },
        /* 53 effIdle */ nullptr,
        /* 54 effGetIcon */ nullptr,
        /* 55 effSetViewPosition */ nullptr,
        /* 56 effGetParameterProperties */
        [](X& e, VstInt32 index, VstIntPtr, void* ptr, float) {
            return answerBool(e.getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)));
        },
        /* 57 effKeysRequired */ nullptr,
        /* 58 effGetVstVersion */ [](X& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return e.getVstVersion(); },
        /* 59 effEditKeyDown */
        [](X& e, VstInt32 index, VstIntPtr value, void*, float opt) {
            if (e.editor == nullptr) return VstIntPtr{0};
            VstKeyCode key = keyCodeFrom(index, value, opt);
            return answerBool(e.editor->onKeyDown(key));
        },
        /* 60 effEditKeyUp */
        [](X& e, VstInt32 index, VstIntPtr value, void*, float opt) {
            if (e.editor == nullptr) return VstIntPtr{0};
            VstKeyCode key = keyCodeFrom(index, value, opt);
            return answerBool(e.editor->onKeyUp(key));
        },
        /* 61 effSetEditKnobMode */
        [](X& e, VstInt32, VstIntPtr value, void*, float) {
            return e.editor != nullptr ? answerBool(e.editor->setKnobMode(static_cast<VstInt32>(value))) : VstIntPtr{0};
        },
        /* 62 effGetMidiProgramName */
        [](X& e, VstInt32 index, VstIntPtr, void* ptr, float) -> VstIntPtr {
            return e.getMidiProgramName(index, static_cast<MidiProgramName*>(ptr));
        },
        /* 63 effGetCurrentMidiProgram */
        [](X& e, VstInt32 index, VstIntPtr, void* ptr, float) -> VstIntPtr {
            return e.getCurrentMidiProgram(index, static_cast<MidiProgramName*>(ptr));
        },
        /* 64 effGetMidiProgramCategory */
        [](X& e, VstInt32 index, VstIntPtr, void* ptr, float) -> VstIntPtr {
            return e.getMidiProgramCategory(index, static_cast<MidiProgramCategory*>(ptr));
        },
        /* 65 effHasMidiProgramsChanged */
        [](X& e, VstInt32 index, VstIntPtr, void*, float) { return answerBool(e.hasMidiProgramsChanged(index)); },
        /* 66 effGetMidiKeyName */
        [](X& e, VstInt32 index, VstIntPtr, void* ptr, float) {
            return answerBool(e.getMidiKeyName(index, static_cast<MidiKeyName*>(ptr)));
        },
        /* 67 effBeginSetProgram */ [](X& e, VstInt32, VstIntPtr, void*, float) { return answerBool(e.beginSetProgram()); },
        /* 68 effEndSetProgram */ [](X& e, VstInt32, VstIntPtr, void*, float) { return answerBool(e.endSetProgram()); },
        /* 69 effGetSpeakerArrangement */
        [](X& e, VstInt32, VstIntPtr value, void* ptr, float) {
            return answerBool(e.getSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement**>(value),
                                                      static_cast<VstSpeakerArrangement**>(ptr)));
        },
        /* 70 effShellGetNextPlugin */
        [](X& e, VstInt32, VstIntPtr, void* ptr, float) -> VstIntPtr { return e.getNextShellPlugin(static_cast<char*>(ptr)); },
        /* 71 effStartProcess */ [](X& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return e.startProcess(); },
        /* 72 effStopProcess */ [](X& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return e.stopProcess(); },
        /* 73 effSetTotalSampleToProcess */
        [](X& e, VstInt32, VstIntPtr value, void*, float) -> VstIntPtr {
            return e.setTotalSampleToProcess(static_cast<VstInt32>(value));
        },
        /* 74 effSetPanLaw */
        [](X& e, VstInt32, VstIntPtr value, void*, float opt) {
            return answerBool(e.setPanLaw(static_cast<VstInt32>(value), opt));
        },
        /* 75 effBeginLoadBank */
        [](X& e, VstInt32, VstIntPtr, void* ptr, float) -> VstIntPtr {
            return e.beginLoadBank(static_cast<VstPatchChunkInfo*>(ptr));
        },
        /* 76 effBeginLoadProgram */
        [](X& e, VstInt32, VstIntPtr, void* ptr, float) -> VstIntPtr {
            return e.beginLoadProgram(static_cast<VstPatchChunkInfo*>(ptr));
        },
        /* 77 effSetProcessPrecision */
        [](X& e, VstInt32, VstIntPtr value, void*, float) {
            return answerBool(e.setProcessPrecision(static_cast<VstInt32>(value)));
        },
        /* 78 effGetNumMidiInputChannels */
        [](X& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return e.getNumMidiInputChannels(); },
        /* 79 effGetNumMidiOutputChannels */
        [](X& e, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return e.getNumMidiOutputChannels(); },
    };
    static_assert(sizeof(kRows) / sizeof(kRows[0]) == effGetNumMidiOutputChannels - effProcessEvents + 1);

    // Taken unsigned, one test sends negative opcodes and those outside 25 to
    // 79 to the base dispatcher, called directly rather than through the
    // virtual table.
    const auto row = static_cast<std::uint32_t>(opcode) - static_cast<std::uint32_t>(effProcessEvents);
    if (row >= sizeof(kRows) / sizeof(kRows[0]) || kRows[row] == nullptr)
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    return kRows[row](*this, index, value, ptr, opt);
}

void AudioEffectX::resume() {
    if ((cEffect.flags & effFlagsIsSynth) != 0) {
        wantEvents(1);
        return;
    }
    char receiveMidi[] = "receiveVstMidiEvent";
    if (canDo(receiveMidi) == 1) wantEvents(1);
}

// --- Speaker arrangements

bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 nbChannels) {
    // A negative count, or one whose block would not fit a VstInt32 byte
    // size, is refused before anything is released or allocated.
    constexpr auto kMaxBytes = static_cast<std::size_t>(std::numeric_limits<VstInt32>::max());
    constexpr std::size_t kMaxChannels = (kMaxBytes - kSpeakerArrangementHeaderBytes) / sizeof(VstSpeakerProperties);
    if (nbChannels < 0 || static_cast<std::size_t>(nbChannels) > kMaxChannels) return false;

    if (*arrangement != nullptr) {
        delete[] reinterpret_cast<char*>(*arrangement);
        *arrangement = nullptr;
    }
    const std::size_t bytes =
        kSpeakerArrangementHeaderBytes + static_cast<std::size_t>(nbChannels) * sizeof(VstSpeakerProperties);
    char* block = new (std::nothrow) char[bytes];
    if (block == nullptr) return false;
    std::memset(block, 0, bytes);
    *arrangement = reinterpret_cast<VstSpeakerArrangement*>(block);
    (*arrangement)->numChannels = nbChannels;
    return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** arrangement) {
    if (*arrangement != nullptr) {
        delete[] reinterpret_cast<char*>(*arrangement);
        *arrangement = nullptr;
    }
    return true;
}

bool AudioEffectX::copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from) {
    if (to == nullptr || from == nullptr) return false;
    // Like strncpy with 63, but also sound when both point at one speaker:
    // each byte is read before it is written.
    constexpr std::size_t kNameChars = sizeof(to->name) - 1;
    bool ended = false;
    for (std::size_t i = 0; i < kNameChars; ++i) {
        ended = ended || from->name[i] == '\0';
        to->name[i] = ended ? '\0' : from->name[i];
    }
    to->name[kNameChars] = '\0';
    to->type = from->type;
    to->azimuth = from->azimuth;
    to->elevation = from->elevation;
    to->radius = from->radius;
    to->reserved = from->reserved;
    std::memcpy(to->future, from->future, sizeof(to->future));
    return true;
}

bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from) {
    if (from == nullptr) return false;
    // Matching an arrangement to itself would release the source before
    // reading it; it keeps its block and only has its names cut.
    const bool self = *to == from;
    if (!self && (!deallocateArrangement(to) || !allocateArrangement(to, from->numChannels))) return false;
    (*to)->type = from->type;
    for (VstInt32 i = 0; i < (*to)->numChannels; ++i)
        if (!copySpeaker(&(*to)->speakers[i], &from->speakers[i])) return false;
    return true;
}
