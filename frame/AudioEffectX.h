// AudioEffectX: the frame class every effect derives from. It adds no data.
// It replaces the dispatcher with one that handles opcodes 25 to 79 and hands
// every other opcode to AudioEffect's, replaces resume so that an effect that
// takes MIDI asks the host for events, and appends the later operations of
// the interface with their defaults.
//
// The appended virtual operations are declared in the order of their slots.
// Unless a comment says otherwise, a default changes nothing and answers
// false, 0 or null. The operations marked "host request" ask the host and
// behave without a host as if it had answered 0.
#pragma once

#include "AudioEffect.h"

class AudioEffectX : public AudioEffect {
public:
    AudioEffectX(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
        : AudioEffect(audioMaster, numPrograms, numParams) {}

    // Opcodes 25 to 79; every other opcode goes to AudioEffect::dispatcher.
    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override;
    // Asks the host for events when the effect is a synth or can take MIDI.
    void resume() override;

    // --- Parameters
    virtual bool canParameterBeAutomated(VstInt32 index) { (void)index; return true; }
    virtual bool string2parameter(VstInt32 index, char* text) { (void)index, (void)text; return false; }
    virtual bool getParameterProperties(VstInt32 index, VstParameterProperties* properties) {
        (void)index, (void)properties;
        return false;
    }
    virtual bool beginEdit(VstInt32 index);  // host request
    virtual bool endEdit(VstInt32 index);    // host request

    // --- Programs
    virtual bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) {
        (void)category, (void)index, (void)text;
        return false;
    }
    virtual bool beginSetProgram() { return false; }
    virtual bool endSetProgram() { return false; }
    virtual VstInt32 beginLoadBank(VstPatchChunkInfo* info) { (void)info; return 0; }
    virtual VstInt32 beginLoadProgram(VstPatchChunkInfo* info) { (void)info; return 0; }

    // --- Connections and configuration
    virtual bool ioChanged();              // host request
    virtual double updateSampleRate();     // host request; stores a positive answer in sampleRate
    virtual VstInt32 updateBlockSize();    // host request; stores a positive answer in blockSize
    virtual VstInt32 getInputLatency();    // host request
    virtual VstInt32 getOutputLatency();   // host request
    virtual bool getInputProperties(VstInt32 index, VstPinProperties* properties) {
        (void)index, (void)properties;
        return false;
    }
    virtual bool getOutputProperties(VstInt32 index, VstPinProperties* properties) {
        (void)index, (void)properties;
        return false;
    }
    virtual bool setSpeakerArrangement(VstSpeakerArrangement* pluginInput, VstSpeakerArrangement* pluginOutput) {
        (void)pluginInput, (void)pluginOutput;
        return false;
    }
    // Stores null in both places.
    virtual bool getSpeakerArrangement(VstSpeakerArrangement** pluginInput, VstSpeakerArrangement** pluginOutput) {
        *pluginInput = nullptr;
        *pluginOutput = nullptr;
        return false;
    }
    virtual bool setBypass(bool onOff) { (void)onOff; return false; }
    virtual bool setPanLaw(VstInt32 type, float value) { (void)type, (void)value; return false; }
    virtual bool setProcessPrecision(VstInt32 precision) { (void)precision; return false; }
    virtual VstInt32 getNumMidiInputChannels() { return 0; }
    virtual VstInt32 getNumMidiOutputChannels() { return 0; }

    // --- Real time
    virtual VstTimeInfo* getTimeInfo(VstInt32 filter);  // host request
    virtual VstInt32 getCurrentProcessLevel();          // host request
    virtual VstInt32 getAutomationState();              // host request
    virtual VstInt32 processEvents(VstEvents* events) { (void)events; return 0; }
    virtual VstInt32 startProcess() { return 0; }
    virtual VstInt32 stopProcess() { return 0; }

    // --- Variable input and output
    virtual bool processVariableIo(VstVariableIo* variableIo) { (void)variableIo; return false; }
    virtual VstInt32 setTotalSampleToProcess(VstInt32 value) { return value; }

    // --- Host properties (all host requests)
    virtual bool getHostVendorString(char* text);
    virtual bool getHostProductString(char* text);
    virtual VstInt32 getHostVendorVersion();
    virtual VstIntPtr hostVendorSpecific(VstInt32 lArg1, VstIntPtr lArg2, void* ptrArg, float floatArg);
    virtual VstInt32 canHostDo(char* text);
    virtual VstInt32 getHostLanguage();

    // --- Effect properties
    virtual void isSynth(bool state = true) { setFlag(effFlagsIsSynth, state); }
    virtual void noTail(bool state = true) { setFlag(effFlagsNoSoundInStop, state); }
    virtual VstInt32 getGetTailSize() { return 0; }
    virtual void* getDirectory();  // host request
    // Names of at most kVstMaxEffectNameLen, kVstMaxVendorStrLen and
    // kVstMaxProductStrLen characters; every effect supplies its own.
    virtual bool getEffectName(char* name) { (void)name; return false; }
    virtual bool getVendorString(char* text) { (void)text; return false; }
    virtual bool getProductString(char* text) { (void)text; return false; }
    virtual VstInt32 getVendorVersion() { return 0; }
    virtual VstIntPtr vendorSpecific(VstInt32 lArg, VstIntPtr lArg2, void* ptrArg, float floatArg) {
        (void)lArg, (void)lArg2, (void)ptrArg, (void)floatArg;
        return 0;
    }
    // Answers 1 for a capability the effect has, -1 for one it refuses, 0 when it does not know.
    virtual VstInt32 canDo(char* text) { (void)text; return 0; }
    virtual VstInt32 getVstVersion() { return kVstVersion; }
    virtual VstInt32 getPlugCategory() {
        return (cEffect.flags & effFlagsIsSynth) != 0 ? kPlugCategSynth : kPlugCategUnknown;
    }

    // --- MIDI programs
    virtual VstInt32 getMidiProgramName(VstInt32 channel, MidiProgramName* name) { (void)channel, (void)name; return 0; }
    virtual VstInt32 getCurrentMidiProgram(VstInt32 channel, MidiProgramName* current) {
        (void)channel, (void)current;
        return -1;
    }
    virtual VstInt32 getMidiProgramCategory(VstInt32 channel, MidiProgramCategory* category) {
        (void)channel, (void)category;
        return 0;
    }
    virtual bool hasMidiProgramsChanged(VstInt32 channel) { (void)channel; return false; }
    virtual bool getMidiKeyName(VstInt32 channel, MidiKeyName* keyName) { (void)channel, (void)keyName; return false; }

    // --- Others
    virtual bool updateDisplay();                               // host request
    virtual bool sizeWindow(VstInt32 width, VstInt32 height);   // host request
    virtual bool openFileSelector(VstFileSelect* fileSelect);   // host request; null gives false, no call
    virtual bool closeFileSelector(VstFileSelect* fileSelect);  // host request; null gives false, no call
    virtual VstInt32 getNextShellPlugin(char* name) { (void)name; return 0; }

    // --- Speaker arrangements. A place holds a pointer to an arrangement
    // made by allocateArrangement, or null.
    // Replaces what the place holds with a zeroed arrangement of nbChannels
    // speakers; a negative count or one whose size does not fit answers false
    // and leaves the place as it was.
    virtual bool allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 nbChannels);
    virtual bool deallocateArrangement(VstSpeakerArrangement** arrangement);
    virtual bool copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from);
    virtual bool matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from);

    // --- Offline processing
    virtual bool offlineRead(VstOfflineTask* offline, VstInt32 option, bool readSource = true);  // host request
    virtual bool offlineWrite(VstOfflineTask* offline, VstInt32 option);                         // host request
    virtual bool offlineStart(VstAudioFile* ptr, VstInt32 numAudioFiles, VstInt32 numNewAudioFiles);  // host request
    virtual VstInt32 offlineGetCurrentPass();      // host request
    virtual VstInt32 offlineGetCurrentMetaPass();  // host request
    virtual bool offlineNotify(VstAudioFile* ptr, VstInt32 numAudioFiles, bool start) {
        (void)ptr, (void)numAudioFiles, (void)start;
        return false;
    }
    virtual bool offlinePrepare(VstOfflineTask* offline, VstInt32 count) { (void)offline, (void)count; return false; }
    virtual bool offlineRun(VstOfflineTask* offline, VstInt32 count) { (void)offline, (void)count; return false; }
    virtual VstInt32 offlineGetNumPasses() { return 0; }
    virtual VstInt32 offlineGetNumMetaPasses() { return 0; }

    // --- Deprecated operations; the dispatcher never calls them.
    virtual void wantEvents(VstInt32 filter = 1);        // host request
    virtual VstInt32 tempoAt(VstInt32 pos);              // host request
    virtual VstInt32 getNumAutomatableParameters();      // host request
    virtual VstInt32 getParameterQuantization();         // host request
    virtual VstInt32 getNumCategories() { return 1; }
    virtual bool copyProgram(VstInt32 destination) { (void)destination; return false; }
    virtual bool needIdle();                             // host request
    virtual AEffect* getPreviousPlug(VstInt32 input);    // host request
    virtual AEffect* getNextPlug(VstInt32 output);       // host request
    virtual void inputConnected(VstInt32 index, bool state) { (void)index, (void)state; }
    virtual void outputConnected(VstInt32 index, bool state) { (void)index, (void)state; }
    virtual VstInt32 willProcessReplacing();             // host request
    virtual void wantAsyncOperation(bool state = true) { setFlag(effFlagsExtIsAsync, state); }
    virtual void hasExternalBuffer(bool state = true) { setFlag(effFlagsExtHasBuffer, state); }
    virtual VstInt32 reportCurrentPosition() { return 0; }
    virtual float* reportDestinationBuffer() { return nullptr; }
    virtual void setOutputSamplerate(float samplerate);                 // host request
    virtual VstSpeakerArrangement* getInputSpeakerArrangement();        // host request
    virtual VstSpeakerArrangement* getOutputSpeakerArrangement();       // host request
    virtual void* openWindow(VstWindow* window);                        // host request
    virtual bool closeWindow(VstWindow* window);                        // host request
    // Stores both without calling setBlockSize or setSampleRate.
    virtual void setBlockSizeAndSampleRate(VstInt32 newBlockSize, float newSampleRate) {
        blockSize = newBlockSize;
        sampleRate = newSampleRate;
    }
    virtual bool getErrorText(char* text) { (void)text; return false; }
    virtual void* getIcon() { return nullptr; }
    virtual bool setViewPosition(VstInt32 x, VstInt32 y) { (void)x, (void)y; return false; }
    virtual VstInt32 fxIdle() { return 0; }
    virtual bool keysRequired() { return false; }
    virtual bool getChunkFile(void* nativePath);  // host request; null gives false, no call
};
