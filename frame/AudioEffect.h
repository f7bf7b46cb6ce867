// AudioEffect: the base of every effect built on this frame. It owns the
// effect record the host calls through, translates dispatcher opcodes 0 to 24
// into the virtual operations below, and gives every operation a default, so
// an effect overrides only what it needs. processReplacing is the one
// operation every effect must supply.
//
// The virtual operations are declared in the order of their slots.
#pragma once

#include <cstddef>

#include "AEffEditor.h"
#include "VstInterface.h"

class AudioEffect {
public:
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    virtual ~AudioEffect();

    // The whole effect object is obtained in one zero-filled piece, so state a
    // constructor does not set starts at zero. A failed allocation makes the
    // new-expression yield null instead of throwing into the host.
    static void* operator new(std::size_t bytes) noexcept;
    static void operator delete(void* object) noexcept;

    // The base dispatcher for opcodes 0 to 24; every other opcode answers 0.
    // Called on whichever thread the host dispatches from.
    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    // Lifecycle notifications; the defaults do nothing.
    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}

    virtual void setSampleRate(float newSampleRate) { sampleRate = newSampleRate; }
    virtual void setBlockSize(VstInt32 newBlockSize) { blockSize = newBlockSize; }

    // Audio thread. inputs and outputs hold at least numInputs and numOutputs
    // channel pointers of sampleFrames samples each; one buffer may serve as
    // both input and output of a channel.
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    virtual void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) {
        (void)inputs, (void)outputs, (void)sampleFrames;
    }

    // Parameters; the host may call these on any thread, also while audio runs.
    virtual void setParameter(VstInt32 index, float value) { (void)index, (void)value; }
    virtual float getParameter(VstInt32 index) { (void)index; return 0.0f; }
    virtual void setParameterAutomated(VstInt32 index, float value);

    // Programs.
    virtual VstInt32 getProgram() { return curProgram; }
    virtual void setProgram(VstInt32 program) { curProgram = program; }
    virtual void setProgramName(char* name) { (void)name; }
    virtual void getProgramName(char* name) { name[0] = '\0'; }

    // Parameter texts: buffers of kVstMaxParamStrLen + 1 bytes. The defaults
    // write the empty text, that is one zero byte.
    virtual void getParameterLabel(VstInt32 index, char* label) { (void)index; label[0] = '\0'; }
    virtual void getParameterDisplay(VstInt32 index, char* text) { (void)index; text[0] = '\0'; }
    virtual void getParameterName(VstInt32 index, char* text) { (void)index; text[0] = '\0'; }

    // Chunks: the defaults have none.
    virtual VstInt32 getChunk(void** data, bool isPreset) { (void)data, (void)isPreset; return 0; }
    virtual VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) {
        (void)data, (void)byteSize, (void)isPreset;
        return 0;
    }

    // What the record announces.
    virtual void setUniqueID(VstInt32 id) { cEffect.uniqueID = id; }
    virtual void setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state = true) { setFlag(effFlagsCanReplacing, state); }
    virtual void canDoubleReplacing(bool state = true) { setFlag(effFlagsCanDoubleReplacing, state); }
    virtual void programsAreChunks(bool state = true) { setFlag(effFlagsProgramChunks, state); }
    virtual void setInitialDelay(VstInt32 delayFrames) { cEffect.initialDelay = delayFrames; }

    virtual AEffEditor* getEditor() { return editor; }
    virtual AEffect* getAeffect() { return &cEffect; }
    virtual float getSampleRate() { return sampleRate; }
    virtual VstInt32 getBlockSize() { return blockSize; }

    // Host requests of the base class.
    virtual VstInt32 getMasterVersion();
    virtual VstInt32 getCurrentUniqueId();
    virtual void masterIdle();

    // Value-to-text helpers for parameter displays. text holds maxLen + 1
    // bytes; nothing is written past text[maxLen], and every byte from the
    // terminating zero through text[maxLen] ends up zero.
    virtual void dB2string(float value, char* text, VstInt32 maxLen);
    virtual void Hz2string(float samples, char* text, VstInt32 maxLen);
    virtual void ms2string(float samples, char* text, VstInt32 maxLen);
    virtual void float2string(float value, char* text, VstInt32 maxLen);
    virtual void int2string(VstInt32 value, char* text, VstInt32 maxLen);

    // Deprecated operations, kept for hosts that still call them.
    virtual void process(float** inputs, float** outputs, VstInt32 sampleFrames) {
        (void)inputs, (void)outputs, (void)sampleFrames;
    }
    virtual float getVu() { return 0.0f; }
    virtual void hasVu(bool state = true) { setFlag(effFlagsHasVu, state); }
    virtual void hasClip(bool state = true) { setFlag(effFlagsHasClip, state); }
    virtual void canMono(bool state = true) { setFlag(effFlagsCanMono, state); }
    virtual void setRealtimeQualities(VstInt32 qualities) { cEffect.realQualities = qualities; }
    virtual void setOfflineQualities(VstInt32 qualities) { cEffect.offQualities = qualities; }

    virtual bool isInputConnected(VstInt32 input);
    virtual bool isOutputConnected(VstInt32 output);

protected:
    // Makes one request of the host: no call and an answer of 0 without a
    // host, otherwise one call with this effect's own record. Every request
    // operation of the frame goes through here.
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);

    // Sets or clears one bit of the record's flags, leaving the others.
    void setFlag(VstInt32 flag, bool state);

    audioMasterCallback audioMaster;
    AEffEditor* editor;
    float sampleRate;
    VstInt32 blockSize;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 curProgram;
    AEffect cEffect;
};

// Supplied by the effect: makes one effect object with new, or yields null.
// The entry function calls it once for every instance the host asks for.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
