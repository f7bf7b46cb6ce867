/// @file
/// AudioEffect: the base of every effect built on this frame.
#pragma once

#include <cstddef>

#include "AEffEditor.h"
#include "VstInterface.h"

/// The base of every effect built on this frame. It owns the effect record
/// the host calls through, translates dispatcher opcodes 0 to 24 into the
/// virtual operations below, and gives every operation a default, so an
/// effect overrides only what it needs. processReplacing is the one operation
/// every effect must supply.
///
/// Each operation says which host call reaches it (a dispatcher opcode, a
/// record function, or the effect itself), on which thread it comes
/// ("audio": the host's processing thread; "any": whichever thread the host
/// dispatches from, also while audio runs; "creation": the effect's own
/// constructor) and what its default does. The virtual operations are
/// declared in the order of their slots.
class AudioEffect {
public:
    /// Called by createEffectInstance at creation: fills the record with defaults.
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    /// Called by the frame after effClose (1); any thread; destroys the editor, if any.
    virtual ~AudioEffect();

    /// The whole effect object is obtained in one zero-filled piece, so state a
    /// constructor does not set starts at zero. A failed allocation makes the
    /// new-expression yield null instead of throwing into the host.
    static void* operator new(std::size_t bytes) noexcept;
    /// Releases what operator new obtained.
    static void operator delete(void* object) noexcept;

    /// The record's dispatcher entry, every opcode; any thread; handles 0 to 24 and answers 0 to the rest.
    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    /// effOpen (0); any thread, first after creation; does nothing.
    virtual void open() {}
    /// effClose (1), then the frame destroys the effect; any thread; does nothing.
    virtual void close() {}
    /// effMainsChanged (12) with value 0; any thread, never during processing; does nothing.
    virtual void suspend() {}
    /// effMainsChanged (12) with any other value; any thread, before processing starts; does nothing.
    virtual void resume() {}

    /// effSetSampleRate (10) with opt; any thread, while suspended; stores it in sampleRate.
    virtual void setSampleRate(float newSampleRate) { sampleRate = newSampleRate; }
    /// effSetBlockSize (11) with value; any thread, while suspended; stores it in blockSize.
    virtual void setBlockSize(VstInt32 newBlockSize) { blockSize = newBlockSize; }

    /// The record's processReplacing; audio thread; no default, every effect supplies it.
    /// inputs and outputs hold at least numInputs and numOutputs channel
    /// pointers of sampleFrames samples each; one buffer may serve as both
    /// input and output of a channel.
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    /// The record's processDoubleReplacing; audio thread; does nothing.
    virtual void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) {
        (void)inputs, (void)outputs, (void)sampleFrames;
    }

    /// The record's setParameter; any thread, also while audio runs; does nothing.
    virtual void setParameter(VstInt32 index, float value) { (void)index, (void)value; }
    /// The record's getParameter; any thread, also while audio runs; answers 0.
    virtual float getParameter(VstInt32 index) { (void)index; return 0.0f; }
    /// Called by the effect itself when its own editor moves a parameter; any thread; calls setParameter, then tells the host (audioMasterAutomate, 0).
    virtual void setParameterAutomated(VstInt32 index, float value);

    /// effGetProgram (3); any thread; answers curProgram.
    virtual VstInt32 getProgram() { return curProgram; }
    /// effSetProgram (2), only for a number below numPrograms; any thread; stores it in curProgram.
    virtual void setProgram(VstInt32 program) { curProgram = program; }
    /// effSetProgramName (4); any thread; does nothing.
    virtual void setProgramName(char* name) { (void)name; }
    /// effGetProgramName (5), a buffer of kVstMaxProgNameLen + 1 bytes; any thread; writes the empty text.
    virtual void getProgramName(char* name) { name[0] = '\0'; }

    /// effGetParamLabel (6), a buffer of kVstMaxParamStrLen + 1 bytes; any thread; writes the empty text.
    virtual void getParameterLabel(VstInt32 index, char* label) { (void)index; label[0] = '\0'; }
    /// effGetParamDisplay (7), a buffer of kVstMaxParamStrLen + 1 bytes; any thread; writes the empty text.
    virtual void getParameterDisplay(VstInt32 index, char* text) { (void)index; text[0] = '\0'; }
    /// effGetParamName (8), a buffer of kVstMaxParamStrLen + 1 bytes; any thread; writes the empty text.
    virtual void getParameterName(VstInt32 index, char* text) { (void)index; text[0] = '\0'; }

    /// effGetChunk (23), isPreset when index is not 0; any thread; has no chunk and answers 0.
    virtual VstInt32 getChunk(void** data, bool isPreset) { (void)data, (void)isPreset; return 0; }
    /// effSetChunk (24), isPreset when index is not 0; any thread; ignores the chunk and answers 0.
    virtual VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) {
        (void)data, (void)byteSize, (void)isPreset;
        return 0;
    }

    /// Called by the effect; creation; stores the identifier in the record.
    virtual void setUniqueID(VstInt32 id) { cEffect.uniqueID = id; }
    /// Called by the effect; creation; stores the number of inputs in the record.
    virtual void setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
    /// Called by the effect; creation; stores the number of outputs in the record.
    virtual void setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }
    /// Called by the effect; creation; sets or clears effFlagsCanReplacing (set from the start).
    virtual void canProcessReplacing(bool state = true) { setFlag(effFlagsCanReplacing, state); }
    /// Called by the effect; creation; sets or clears effFlagsCanDoubleReplacing.
    virtual void canDoubleReplacing(bool state = true) { setFlag(effFlagsCanDoubleReplacing, state); }
    /// Called by the effect; creation; sets or clears effFlagsProgramChunks.
    virtual void programsAreChunks(bool state = true) { setFlag(effFlagsProgramChunks, state); }
    /// Called by the effect; creation; stores the latency in frames in the record.
    virtual void setInitialDelay(VstInt32 delayFrames) { cEffect.initialDelay = delayFrames; }

    /// Called by the effect; any thread; answers editor.
    virtual AEffEditor* getEditor() { return editor; }
    /// Called by the entry function at creation; answers the record handed to the host.
    virtual AEffect* getAeffect() { return &cEffect; }
    /// Called by the effect; any thread; answers sampleRate (44100 until the host sets one).
    virtual float getSampleRate() { return sampleRate; }
    /// Called by the effect; any thread; answers blockSize (1024 until the host sets one).
    virtual VstInt32 getBlockSize() { return blockSize; }

    /// Called by the effect; any thread; asks audioMasterVersion (1), a host answering 0 counts as version 1.
    virtual VstInt32 getMasterVersion();
    /// Called by the effect; any thread; asks audioMasterCurrentId (2) and answers its low 32 bits.
    virtual VstInt32 getCurrentUniqueId();
    /// Called by the effect; any thread; sends audioMasterIdle (3).
    virtual void masterIdle();

    /// Called by the effect for a parameter display; any thread; writes value in decibels, "-oo" for 0.
    /// text holds maxLen + 1 bytes; nothing is written past text[maxLen], and
    /// every byte from the terminating zero through text[maxLen] ends up zero.
    /// The same holds for the other helpers below.
    virtual void dB2string(float value, char* text, VstInt32 maxLen);
    /// Called by the effect; any thread; writes the frequency in hertz of a period of samples frames.
    virtual void Hz2string(float samples, char* text, VstInt32 maxLen);
    /// Called by the effect; any thread; writes the length of samples frames in milliseconds.
    virtual void ms2string(float samples, char* text, VstInt32 maxLen);
    /// Called by the effect; any thread; writes value in at most 8 characters, "Huge!" beyond them.
    virtual void float2string(float value, char* text, VstInt32 maxLen);
    /// Called by the effect; any thread; writes value as a whole number, "Huge!" from 10^8 on.
    virtual void int2string(VstInt32 value, char* text, VstInt32 maxLen);

    /// The record's deprecated process (accumulating); audio thread; does nothing.
    virtual void process(float** inputs, float** outputs, VstInt32 sampleFrames) {
        (void)inputs, (void)outputs, (void)sampleFrames;
    }
    /// No opcode reaches it (effGetVu answers 0 itself); answers 0.
    virtual float getVu() { return 0.0f; }
    /// Called by the effect; creation; sets or clears effFlagsHasVu (deprecated).
    virtual void hasVu(bool state = true) { setFlag(effFlagsHasVu, state); }
    /// Called by the effect; creation; sets or clears effFlagsHasClip (deprecated).
    virtual void hasClip(bool state = true) { setFlag(effFlagsHasClip, state); }
    /// Called by the effect; creation; sets or clears effFlagsCanMono (deprecated).
    virtual void canMono(bool state = true) { setFlag(effFlagsCanMono, state); }
    /// Called by the effect; creation; stores the record's realQualities (deprecated).
    virtual void setRealtimeQualities(VstInt32 qualities) { cEffect.realQualities = qualities; }
    /// Called by the effect; creation; stores the record's offQualities (deprecated).
    virtual void setOfflineQualities(VstInt32 qualities) { cEffect.offQualities = qualities; }

    /// Called by the effect; any thread; asks audioMasterPinConnected (4) for an input; true without a host.
    virtual bool isInputConnected(VstInt32 input);
    /// Called by the effect; any thread; asks audioMasterPinConnected (4) for an output; true without a host.
    virtual bool isOutputConnected(VstInt32 output);

protected:
    /// Makes one request of the host: no call and an answer of 0 without a
    /// host, otherwise one call with this effect's own record. Every request
    /// operation of the frame goes through here.
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);

    /// Sets or clears one bit of the record's flags, leaving the others.
    void setFlag(VstInt32 flag, bool state);

    /// Called by the effect at creation: the effect owns newEditor from now on
    /// (the destructor destroys it) and the record says it has an editor.
    void setEditor(AEffEditor* newEditor);

    audioMasterCallback audioMaster;  ///< the host's callback, or null
    AEffEditor* editor;               ///< the effect's editor, owned by the effect; null for none
    float sampleRate;                 ///< hertz; 44100 until the host sets one
    VstInt32 blockSize;               ///< the most frames per processing call; 1024 until the host sets one
    VstInt32 numPrograms;             ///< as given to the constructor
    VstInt32 numParams;               ///< as given to the constructor
    VstInt32 curProgram;              ///< the current program's number
    AEffect cEffect;                  ///< the record the host calls through
};

/// Supplied by the effect: makes one effect object with new, or yields null.
/// The entry function calls it once for every instance the host asks for,
/// after the host has answered the version query.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
