// In-process test effects for the frame: RecordingEffect overrides every
// virtual operation of AudioEffectX, writes each call it receives with its
// arguments into a CallLog as text such as "getParameterName(7, 0x5000)", and
// answers what the log's script says. RecordingEditor does the same for the
// editor operations. Operations that ask the host are noted, then run the
// frame's own request, so a test sees both the call and the request.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AudioEffectX.h"

namespace frametest {

struct CallLog {
    std::vector<std::string> calls;
    // What the recording operations answer: booleans, VstInt32 results and
    // the pointer-sized result of vendorSpecific.
    bool boolAnswer = true;
    VstInt32 intAnswer = -1;
    VstIntPtr wideAnswer = 0x123456789AB;
};

inline std::string argText(bool state) { return state ? "true" : "false"; }
inline std::string argText(VstInt32 value) { return std::to_string(value); }
inline std::string argText(VstIntPtr value) { return std::to_string(value); }
inline std::string argText(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}
template <typename T>
std::string argText(T* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "%#llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return text;
}

template <typename... Args>
void note(CallLog& log, const char* operation, const Args&... args) {
    std::string call = operation;
    call += '(';
    [[maybe_unused]] const char* separator = "";
    ((call += separator, call += argText(args), separator = ", "), ...);
    call += ')';
    log.calls.push_back(call);
}

class RecordingEditor : public AEffEditor {
public:
    explicit RecordingEditor(CallLog& log) : log(log) {}
    ~RecordingEditor() override { note(log, "editor.destroyed"); }

    bool getRect(ERect** rect) override { note(log, "editor.getRect", rect); return log.boolAnswer; }
    bool open(void* parentWindow) override { note(log, "editor.open", parentWindow); return log.boolAnswer; }
    void close() override { note(log, "editor.close"); }
    void idle() override { note(log, "editor.idle"); }
    bool onKeyDown(VstKeyCode& key) override { return noteKey("editor.onKeyDown", key); }
    bool onKeyUp(VstKeyCode& key) override { return noteKey("editor.onKeyUp", key); }
    bool setKnobMode(VstInt32 mode) override { note(log, "editor.setKnobMode", mode); return log.boolAnswer; }

private:
    bool noteKey(const char* operation, const VstKeyCode& key) {
        note(log, operation, key.character, static_cast<VstInt32>(key.virt), static_cast<VstInt32>(key.modifier));
        return log.boolAnswer;
    }
    CallLog& log;
};

class RecordingEffect : public AudioEffectX {
public:
    static constexpr VstInt32 kPrograms = 3;
    static constexpr VstInt32 kParams = 4;

    RecordingEffect(audioMasterCallback audioMaster, CallLog& log)
        : AudioEffectX(audioMaster, kPrograms, kParams), log(log) {}
    ~RecordingEffect() override { note(log, "destroyed"); }

    void setEditor(AEffEditor* newEditor) { editor = newEditor; }

    // --- AudioEffect, in slot order
    void open() override { note(log, "open"); }
    void close() override { note(log, "close"); }
    void suspend() override { note(log, "suspend"); }
    void resume() override { note(log, "resume"); AudioEffectX::resume(); }
    void setSampleRate(float rate) override { note(log, "setSampleRate", rate); }
    void setBlockSize(VstInt32 size) override { note(log, "setBlockSize", size); }
    void processReplacing(float** in, float** out, VstInt32 frames) override { note(log, "processReplacing", in, out, frames); }
    void processDoubleReplacing(double** in, double** out, VstInt32 frames) override {
        note(log, "processDoubleReplacing", in, out, frames);
    }
    void setParameter(VstInt32 index, float value) override { note(log, "setParameter", index, value); }
    float getParameter(VstInt32 index) override { note(log, "getParameter", index); return 0.5f; }
    void setParameterAutomated(VstInt32 index, float value) override {
        note(log, "setParameterAutomated", index, value);
        AudioEffectX::setParameterAutomated(index, value);
    }
    VstInt32 getProgram() override { note(log, "getProgram"); return log.intAnswer; }
    void setProgram(VstInt32 program) override { note(log, "setProgram", program); }
    void setProgramName(char* name) override { note(log, "setProgramName", name); }
    void getProgramName(char* name) override { note(log, "getProgramName", name); }
    void getParameterLabel(VstInt32 index, char* text) override { note(log, "getParameterLabel", index, text); }
    void getParameterDisplay(VstInt32 index, char* text) override { note(log, "getParameterDisplay", index, text); }
    void getParameterName(VstInt32 index, char* text) override { note(log, "getParameterName", index, text); }
    VstInt32 getChunk(void** data, bool isPreset) override { note(log, "getChunk", data, isPreset); return log.intAnswer; }
    VstInt32 setChunk(void* data, VstInt32 bytes, bool isPreset) override {
        note(log, "setChunk", data, bytes, isPreset);
        return log.intAnswer;
    }
    void setUniqueID(VstInt32 id) override { note(log, "setUniqueID", id); }
    void setNumInputs(VstInt32 inputs) override { note(log, "setNumInputs", inputs); }
    void setNumOutputs(VstInt32 outputs) override { note(log, "setNumOutputs", outputs); }
    void canProcessReplacing(bool state) override { note(log, "canProcessReplacing", state); }
    void canDoubleReplacing(bool state) override { note(log, "canDoubleReplacing", state); }
    void programsAreChunks(bool state) override { note(log, "programsAreChunks", state); }
    void setInitialDelay(VstInt32 delay) override { note(log, "setInitialDelay", delay); }
    AEffEditor* getEditor() override { note(log, "getEditor"); return editor; }
    AEffect* getAeffect() override { note(log, "getAeffect"); return &cEffect; }
    float getSampleRate() override { note(log, "getSampleRate"); return sampleRate; }
    VstInt32 getBlockSize() override { note(log, "getBlockSize"); return blockSize; }
    VstInt32 getMasterVersion() override { note(log, "getMasterVersion"); return AudioEffectX::getMasterVersion(); }
    VstInt32 getCurrentUniqueId() override { note(log, "getCurrentUniqueId"); return AudioEffectX::getCurrentUniqueId(); }
    void masterIdle() override { note(log, "masterIdle"); AudioEffectX::masterIdle(); }
    void dB2string(float v, char* t, VstInt32 n) override { note(log, "dB2string", v, t, n); }
    void Hz2string(float v, char* t, VstInt32 n) override { note(log, "Hz2string", v, t, n); }
    void ms2string(float v, char* t, VstInt32 n) override { note(log, "ms2string", v, t, n); }
    void float2string(float v, char* t, VstInt32 n) override { note(log, "float2string", v, t, n); }
    void int2string(VstInt32 v, char* t, VstInt32 n) override { note(log, "int2string", v, t, n); }
    void process(float** in, float** out, VstInt32 frames) override { note(log, "process", in, out, frames); }
    float getVu() override { note(log, "getVu"); return 0.5f; }
    void hasVu(bool state) override { note(log, "hasVu", state); }
    void hasClip(bool state) override { note(log, "hasClip", state); }
    void canMono(bool state) override { note(log, "canMono", state); }
    void setRealtimeQualities(VstInt32 q) override { note(log, "setRealtimeQualities", q); }
    void setOfflineQualities(VstInt32 q) override { note(log, "setOfflineQualities", q); }
    bool isInputConnected(VstInt32 pin) override { note(log, "isInputConnected", pin); return AudioEffectX::isInputConnected(pin); }
    bool isOutputConnected(VstInt32 pin) override {
        note(log, "isOutputConnected", pin);
        return AudioEffectX::isOutputConnected(pin);
    }

    // --- AudioEffectX, in slot order
    bool canParameterBeAutomated(VstInt32 index) override { note(log, "canParameterBeAutomated", index); return log.boolAnswer; }
    bool string2parameter(VstInt32 index, char* text) override { note(log, "string2parameter", index, text); return log.boolAnswer; }
    bool getParameterProperties(VstInt32 index, VstParameterProperties* p) override {
        note(log, "getParameterProperties", index, p);
        return log.boolAnswer;
    }
    bool beginEdit(VstInt32 index) override { note(log, "beginEdit", index); return AudioEffectX::beginEdit(index); }
    bool endEdit(VstInt32 index) override { note(log, "endEdit", index); return AudioEffectX::endEdit(index); }
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override {
        note(log, "getProgramNameIndexed", category, index, text);
        return log.boolAnswer;
    }
    bool beginSetProgram() override { note(log, "beginSetProgram"); return log.boolAnswer; }
    bool endSetProgram() override { note(log, "endSetProgram"); return log.boolAnswer; }
    VstInt32 beginLoadBank(VstPatchChunkInfo* info) override { note(log, "beginLoadBank", info); return log.intAnswer; }
    VstInt32 beginLoadProgram(VstPatchChunkInfo* info) override { note(log, "beginLoadProgram", info); return log.intAnswer; }
    bool ioChanged() override { note(log, "ioChanged"); return AudioEffectX::ioChanged(); }
    double updateSampleRate() override { note(log, "updateSampleRate"); return AudioEffectX::updateSampleRate(); }
    VstInt32 updateBlockSize() override { note(log, "updateBlockSize"); return AudioEffectX::updateBlockSize(); }
    VstInt32 getInputLatency() override { note(log, "getInputLatency"); return AudioEffectX::getInputLatency(); }
    VstInt32 getOutputLatency() override { note(log, "getOutputLatency"); return AudioEffectX::getOutputLatency(); }
    bool getInputProperties(VstInt32 index, VstPinProperties* p) override {
        note(log, "getInputProperties", index, p);
        return log.boolAnswer;
    }
    bool getOutputProperties(VstInt32 index, VstPinProperties* p) override {
        note(log, "getOutputProperties", index, p);
        return log.boolAnswer;
    }
    bool setSpeakerArrangement(VstSpeakerArrangement* in, VstSpeakerArrangement* out) override {
        note(log, "setSpeakerArrangement", in, out);
        return log.boolAnswer;
    }
    bool getSpeakerArrangement(VstSpeakerArrangement** in, VstSpeakerArrangement** out) override {
        note(log, "getSpeakerArrangement", in, out);
        return log.boolAnswer;
    }
    bool setBypass(bool onOff) override { note(log, "setBypass", onOff); return log.boolAnswer; }
    bool setPanLaw(VstInt32 type, float value) override { note(log, "setPanLaw", type, value); return log.boolAnswer; }
    bool setProcessPrecision(VstInt32 precision) override { note(log, "setProcessPrecision", precision); return log.boolAnswer; }
    VstInt32 getNumMidiInputChannels() override { note(log, "getNumMidiInputChannels"); return log.intAnswer; }
    VstInt32 getNumMidiOutputChannels() override { note(log, "getNumMidiOutputChannels"); return log.intAnswer; }
    VstTimeInfo* getTimeInfo(VstInt32 filter) override { note(log, "getTimeInfo", filter); return AudioEffectX::getTimeInfo(filter); }
    VstInt32 getCurrentProcessLevel() override { note(log, "getCurrentProcessLevel"); return AudioEffectX::getCurrentProcessLevel(); }
    VstInt32 getAutomationState() override { note(log, "getAutomationState"); return AudioEffectX::getAutomationState(); }
    VstInt32 processEvents(VstEvents* events) override { note(log, "processEvents", events); return log.intAnswer; }
    VstInt32 startProcess() override { note(log, "startProcess"); return log.intAnswer; }
    VstInt32 stopProcess() override { note(log, "stopProcess"); return log.intAnswer; }
    bool processVariableIo(VstVariableIo* io) override { note(log, "processVariableIo", io); return log.boolAnswer; }
    VstInt32 setTotalSampleToProcess(VstInt32 value) override { note(log, "setTotalSampleToProcess", value); return log.intAnswer; }
    bool getHostVendorString(char* t) override { note(log, "getHostVendorString", t); return AudioEffectX::getHostVendorString(t); }
    bool getHostProductString(char* t) override { note(log, "getHostProductString", t); return AudioEffectX::getHostProductString(t); }
    VstInt32 getHostVendorVersion() override { note(log, "getHostVendorVersion"); return AudioEffectX::getHostVendorVersion(); }
    VstIntPtr hostVendorSpecific(VstInt32 a, VstIntPtr b, void* p, float f) override {
        note(log, "hostVendorSpecific", a, b, p, f);
        return AudioEffectX::hostVendorSpecific(a, b, p, f);
    }
    VstInt32 canHostDo(char* text) override { note(log, "canHostDo", text); return AudioEffectX::canHostDo(text); }
    VstInt32 getHostLanguage() override { note(log, "getHostLanguage"); return AudioEffectX::getHostLanguage(); }
    void isSynth(bool state) override { note(log, "isSynth", state); AudioEffectX::isSynth(state); }
    void noTail(bool state) override { note(log, "noTail", state); }
    VstInt32 getGetTailSize() override { note(log, "getGetTailSize"); return log.intAnswer; }
    void* getDirectory() override { note(log, "getDirectory"); return AudioEffectX::getDirectory(); }
    bool getEffectName(char* name) override { note(log, "getEffectName", name); return log.boolAnswer; }
    bool getVendorString(char* text) override { note(log, "getVendorString", text); return log.boolAnswer; }
    bool getProductString(char* text) override { note(log, "getProductString", text); return log.boolAnswer; }
    VstInt32 getVendorVersion() override { note(log, "getVendorVersion"); return log.intAnswer; }
    VstIntPtr vendorSpecific(VstInt32 a, VstIntPtr b, void* p, float f) override {
        note(log, "vendorSpecific", a, b, p, f);
        return log.wideAnswer;
    }
    // The text is noted as text, since resume asks by name.
    VstInt32 canDo(char* text) override {
        log.calls.push_back(std::string("canDo(\"") + text + "\")");
        return log.intAnswer;
    }
    VstInt32 getVstVersion() override { note(log, "getVstVersion"); return log.intAnswer; }
    VstInt32 getPlugCategory() override { note(log, "getPlugCategory"); return log.intAnswer; }
    VstInt32 getMidiProgramName(VstInt32 channel, MidiProgramName* n) override {
        note(log, "getMidiProgramName", channel, n);
        return log.intAnswer;
    }
    VstInt32 getCurrentMidiProgram(VstInt32 channel, MidiProgramName* n) override {
        note(log, "getCurrentMidiProgram", channel, n);
        return log.intAnswer;
    }
    VstInt32 getMidiProgramCategory(VstInt32 channel, MidiProgramCategory* c) override {
        note(log, "getMidiProgramCategory", channel, c);
        return log.intAnswer;
    }
    bool hasMidiProgramsChanged(VstInt32 channel) override { note(log, "hasMidiProgramsChanged", channel); return log.boolAnswer; }
    bool getMidiKeyName(VstInt32 channel, MidiKeyName* k) override { note(log, "getMidiKeyName", channel, k); return log.boolAnswer; }
    bool updateDisplay() override { note(log, "updateDisplay"); return AudioEffectX::updateDisplay(); }
    bool sizeWindow(VstInt32 w, VstInt32 h) override { note(log, "sizeWindow", w, h); return AudioEffectX::sizeWindow(w, h); }
    bool openFileSelector(VstFileSelect* s) override { note(log, "openFileSelector", s); return AudioEffectX::openFileSelector(s); }
    bool closeFileSelector(VstFileSelect* s) override { note(log, "closeFileSelector", s); return AudioEffectX::closeFileSelector(s); }
    VstInt32 getNextShellPlugin(char* name) override { note(log, "getNextShellPlugin", name); return log.intAnswer; }
    bool allocateArrangement(VstSpeakerArrangement** a, VstInt32 n) override {
        note(log, "allocateArrangement", a, n);
        return AudioEffectX::allocateArrangement(a, n);
    }
    bool deallocateArrangement(VstSpeakerArrangement** a) override {
        note(log, "deallocateArrangement", a);
        return AudioEffectX::deallocateArrangement(a);
    }
    bool copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from) override {
        note(log, "copySpeaker", to, from);
        return AudioEffectX::copySpeaker(to, from);
    }
    bool matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from) override {
        note(log, "matchArrangement", to, from);
        return AudioEffectX::matchArrangement(to, from);
    }
    bool offlineRead(VstOfflineTask* t, VstInt32 option, bool readSource) override {
        note(log, "offlineRead", t, option, readSource);
        return AudioEffectX::offlineRead(t, option, readSource);
    }
    bool offlineWrite(VstOfflineTask* t, VstInt32 option) override {
        note(log, "offlineWrite", t, option);
        return AudioEffectX::offlineWrite(t, option);
    }
    bool offlineStart(VstAudioFile* f, VstInt32 files, VstInt32 newFiles) override {
        note(log, "offlineStart", f, files, newFiles);
        return AudioEffectX::offlineStart(f, files, newFiles);
    }
    VstInt32 offlineGetCurrentPass() override { note(log, "offlineGetCurrentPass"); return AudioEffectX::offlineGetCurrentPass(); }
    VstInt32 offlineGetCurrentMetaPass() override {
        note(log, "offlineGetCurrentMetaPass");
        return AudioEffectX::offlineGetCurrentMetaPass();
    }
    bool offlineNotify(VstAudioFile* f, VstInt32 files, bool start) override {
        note(log, "offlineNotify", f, files, start);
        return log.boolAnswer;
    }
    bool offlinePrepare(VstOfflineTask* t, VstInt32 count) override { note(log, "offlinePrepare", t, count); return log.boolAnswer; }
    bool offlineRun(VstOfflineTask* t, VstInt32 count) override { note(log, "offlineRun", t, count); return log.boolAnswer; }
    VstInt32 offlineGetNumPasses() override { note(log, "offlineGetNumPasses"); return log.intAnswer; }
    VstInt32 offlineGetNumMetaPasses() override { note(log, "offlineGetNumMetaPasses"); return log.intAnswer; }
    void wantEvents(VstInt32 filter) override { note(log, "wantEvents", filter); AudioEffectX::wantEvents(filter); }
    VstInt32 tempoAt(VstInt32 pos) override { note(log, "tempoAt", pos); return AudioEffectX::tempoAt(pos); }
    VstInt32 getNumAutomatableParameters() override {
        note(log, "getNumAutomatableParameters");
        return AudioEffectX::getNumAutomatableParameters();
    }
    VstInt32 getParameterQuantization() override {
        note(log, "getParameterQuantization");
        return AudioEffectX::getParameterQuantization();
    }
    VstInt32 getNumCategories() override { note(log, "getNumCategories"); return log.intAnswer; }
    bool copyProgram(VstInt32 destination) override { note(log, "copyProgram", destination); return log.boolAnswer; }
    bool needIdle() override { note(log, "needIdle"); return AudioEffectX::needIdle(); }
    AEffect* getPreviousPlug(VstInt32 input) override { note(log, "getPreviousPlug", input); return AudioEffectX::getPreviousPlug(input); }
    AEffect* getNextPlug(VstInt32 output) override { note(log, "getNextPlug", output); return AudioEffectX::getNextPlug(output); }
    void inputConnected(VstInt32 index, bool state) override { note(log, "inputConnected", index, state); }
    void outputConnected(VstInt32 index, bool state) override { note(log, "outputConnected", index, state); }
    VstInt32 willProcessReplacing() override { note(log, "willProcessReplacing"); return AudioEffectX::willProcessReplacing(); }
    void wantAsyncOperation(bool state) override { note(log, "wantAsyncOperation", state); }
    void hasExternalBuffer(bool state) override { note(log, "hasExternalBuffer", state); }
    VstInt32 reportCurrentPosition() override { note(log, "reportCurrentPosition"); return log.intAnswer; }
    float* reportDestinationBuffer() override { note(log, "reportDestinationBuffer"); return nullptr; }
    void setOutputSamplerate(float rate) override { note(log, "setOutputSamplerate", rate); AudioEffectX::setOutputSamplerate(rate); }
    VstSpeakerArrangement* getInputSpeakerArrangement() override {
        note(log, "getInputSpeakerArrangement");
        return AudioEffectX::getInputSpeakerArrangement();
    }
    VstSpeakerArrangement* getOutputSpeakerArrangement() override {
        note(log, "getOutputSpeakerArrangement");
        return AudioEffectX::getOutputSpeakerArrangement();
    }
    void* openWindow(VstWindow* w) override { note(log, "openWindow", w); return AudioEffectX::openWindow(w); }
    bool closeWindow(VstWindow* w) override { note(log, "closeWindow", w); return AudioEffectX::closeWindow(w); }
    void setBlockSizeAndSampleRate(VstInt32 size, float rate) override { note(log, "setBlockSizeAndSampleRate", size, rate); }
    bool getErrorText(char* text) override { note(log, "getErrorText", text); return log.boolAnswer; }
    void* getIcon() override { note(log, "getIcon"); return nullptr; }
    bool setViewPosition(VstInt32 x, VstInt32 y) override { note(log, "setViewPosition", x, y); return log.boolAnswer; }
    VstInt32 fxIdle() override { note(log, "fxIdle"); return log.intAnswer; }
    bool keysRequired() override { note(log, "keysRequired"); return log.boolAnswer; }
    bool getChunkFile(void* path) override { note(log, "getChunkFile", path); return AudioEffectX::getChunkFile(path); }

private:
    CallLog& log;
};

// An effect that keeps every default of the frame.
class DefaultEffect : public AudioEffectX {
public:
    static constexpr VstInt32 kPrograms = 3;
    static constexpr VstInt32 kParams = 4;
    explicit DefaultEffect(audioMasterCallback audioMaster = nullptr) : AudioEffectX(audioMaster, kPrograms, kParams) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

// Editor opcodes sent to an effect without an editor: each answers 0, calls
// no operation and leaves the memory behind ptr as it was.
inline void expectEditorOpcodesTouchNothing(std::initializer_list<VstInt32> opcodes, VstInt32 index,
                                            VstIntPtr value, float opt) {
    constexpr unsigned char kFill = 0xAB;
    for (VstInt32 opcode : opcodes) {
        CallLog log;
        RecordingEffect effect(nullptr, log);
        unsigned char place[16];
        std::memset(place, kFill, sizeof place);
        EXPECT_EQ(effect.dispatcher(opcode, index, value, place, opt), 0) << opcode;
        EXPECT_TRUE(log.calls.empty()) << opcode;
        for (unsigned char byte : place) EXPECT_EQ(byte, kFill) << opcode;
    }
}

}  // namespace frametest
