/// @file
/// AudioEffectX: the frame class every effect derives from.
#pragma once

#include "AudioEffect.h"

/// The frame class every effect derives from. It adds no data. It replaces
/// the dispatcher with one that handles opcodes 25 to 79 and hands every other
/// opcode to AudioEffect's, replaces resume so that an effect that takes MIDI
/// asks the host for events, and appends the later operations of the
/// interface with their defaults.
///
/// Each operation says, as in AudioEffect, which host call reaches it, on
/// which thread, and what its default does. A "request" is an operation the
/// effect calls to ask the host something: it sends the named host opcode and
/// behaves without a host as if the host had answered 0. The appended virtual
/// operations are declared in the order of their slots.
class AudioEffectX : public AudioEffect {
public:
    /// Called by the effect's constructor at creation; passes everything on to AudioEffect.
    AudioEffectX(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
        : AudioEffect(audioMaster, numPrograms, numParams) {}

    /// The record's dispatcher entry, every opcode; any thread; handles 25 to 79, hands the rest to AudioEffect::dispatcher.
    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override;
    /// effMainsChanged (12) with a value other than 0; any thread; asks for MIDI (wantEvents) when the effect is a synth or its canDo("receiveVstMidiEvent") answers 1.
    void resume() override;

    /// @name Parameters
    /// @{

    /// effCanBeAutomated (26); any thread; answers true for every index.
    virtual bool canParameterBeAutomated(VstInt32 index) { (void)index; return true; }
    /// effString2Parameter (27); any thread; sets nothing and answers false.
    virtual bool string2parameter(VstInt32 index, char* text) { (void)index, (void)text; return false; }
    /// effGetParameterProperties (56); any thread; fills nothing and answers false.
    virtual bool getParameterProperties(VstInt32 index, VstParameterProperties* properties) {
        (void)index, (void)properties;
        return false;
    }
    /// Request audioMasterBeginEdit (43), from the effect's editor; any thread; answers the host's yes or no.
    virtual bool beginEdit(VstInt32 index);
    /// Request audioMasterEndEdit (44), from the effect's editor; any thread; answers the host's yes or no.
    virtual bool endEdit(VstInt32 index);
    /// @}

    /// @name Programs
    /// @{

    /// effGetProgramNameIndexed (29), a buffer of kVstMaxProgNameLen + 1 bytes; any thread; writes nothing and answers false.
    virtual bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) {
        (void)category, (void)index, (void)text;
        return false;
    }
    /// effBeginSetProgram (67); any thread; answers false.
    virtual bool beginSetProgram() { return false; }
    /// effEndSetProgram (68); any thread; answers false.
    virtual bool endSetProgram() { return false; }
    /// effBeginLoadBank (75); any thread; answers 0.
    virtual VstInt32 beginLoadBank(VstPatchChunkInfo* info) { (void)info; return 0; }
    /// effBeginLoadProgram (76); any thread; answers 0.
    virtual VstInt32 beginLoadProgram(VstPatchChunkInfo* info) { (void)info; return 0; }
    /// @}

    /// @name Connections and configuration
    /// @{

    /// Request audioMasterIOChanged (13); any thread; answers the host's yes or no.
    virtual bool ioChanged();
    /// Request audioMasterGetSampleRate (16); any thread; stores a positive answer in sampleRate and answers sampleRate.
    virtual double updateSampleRate();
    /// Request audioMasterGetBlockSize (17); any thread; stores a positive answer in blockSize and answers blockSize.
    virtual VstInt32 updateBlockSize();
    /// Request audioMasterGetInputLatency (18); any thread; answers the host's frames.
    virtual VstInt32 getInputLatency();
    /// Request audioMasterGetOutputLatency (19); any thread; answers the host's frames.
    virtual VstInt32 getOutputLatency();
    /// effGetInputProperties (33); any thread; fills nothing and answers false.
    virtual bool getInputProperties(VstInt32 index, VstPinProperties* properties) {
        (void)index, (void)properties;
        return false;
    }
    /// effGetOutputProperties (34); any thread; fills nothing and answers false.
    virtual bool getOutputProperties(VstInt32 index, VstPinProperties* properties) {
        (void)index, (void)properties;
        return false;
    }
    /// effSetSpeakerArrangement (42); any thread, while suspended; answers false.
    virtual bool setSpeakerArrangement(VstSpeakerArrangement* pluginInput, VstSpeakerArrangement* pluginOutput) {
        (void)pluginInput, (void)pluginOutput;
        return false;
    }
    /// effGetSpeakerArrangement (69); any thread; stores null in both places and answers false.
    virtual bool getSpeakerArrangement(VstSpeakerArrangement** pluginInput, VstSpeakerArrangement** pluginOutput) {
        *pluginInput = nullptr;
        *pluginOutput = nullptr;
        return false;
    }
    /// effSetBypass (44); any thread; answers false (the host bypasses the effect itself).
    virtual bool setBypass(bool onOff) { (void)onOff; return false; }
    /// effSetPanLaw (74); any thread; answers false.
    virtual bool setPanLaw(VstInt32 type, float value) { (void)type, (void)value; return false; }
    /// effSetProcessPrecision (77); any thread, while suspended; answers false.
    virtual bool setProcessPrecision(VstInt32 precision) { (void)precision; return false; }
    /// effGetNumMidiInputChannels (78); any thread; answers 0.
    virtual VstInt32 getNumMidiInputChannels() { return 0; }
    /// effGetNumMidiOutputChannels (79); any thread; answers 0.
    virtual VstInt32 getNumMidiOutputChannels() { return 0; }
    /// @}

    /// @name Real time
    /// @{

    /// Request audioMasterGetTime (7) with the VstTimeInfoFlags wanted; any thread, mostly the audio thread within processReplacing; answers the host's record (valid for the block) or null.
    virtual VstTimeInfo* getTimeInfo(VstInt32 filter);
    /// Request audioMasterGetCurrentProcessLevel (23); any thread; answers the host's level.
    virtual VstInt32 getCurrentProcessLevel();
    /// Request audioMasterGetAutomationState (24); any thread; answers the host's state.
    virtual VstInt32 getAutomationState();
    /// effProcessEvents (25); audio thread, before the processReplacing of the block the events fall in; ignores them and answers 0.
    virtual VstInt32 processEvents(VstEvents* events) { (void)events; return 0; }
    /// effStartProcess (71); any thread, after resume; answers 0.
    virtual VstInt32 startProcess() { return 0; }
    /// effStopProcess (72); any thread, before suspend; answers 0.
    virtual VstInt32 stopProcess() { return 0; }
    /// @}

    /// @name Variable input and output
    /// @{

    /// effProcessVarIo (41); audio thread (offline hosts); answers false.
    virtual bool processVariableIo(VstVariableIo* variableIo) { (void)variableIo; return false; }
    /// effSetTotalSampleToProcess (73); any thread; answers value unchanged.
    virtual VstInt32 setTotalSampleToProcess(VstInt32 value) { return value; }
    /// @}

    /// @name Host properties
    /// @{

    /// Request audioMasterGetVendorString (32); any thread; the host writes its vendor into text; answers true for a non-zero answer.
    virtual bool getHostVendorString(char* text);
    /// Request audioMasterGetProductString (33); any thread; the host writes its product into text; answers true for a non-zero answer.
    virtual bool getHostProductString(char* text);
    /// Request audioMasterGetVendorVersion (34); any thread; answers the host's version.
    virtual VstInt32 getHostVendorVersion();
    /// Request audioMasterVendorSpecific (35); any thread; answers the host's answer unchanged.
    virtual VstIntPtr hostVendorSpecific(VstInt32 lArg1, VstIntPtr lArg2, void* ptrArg, float floatArg);
    /// Request audioMasterCanDo (37); any thread; answers 1 for any answer but 0, otherwise 0.
    virtual VstInt32 canHostDo(char* text);
    /// Request audioMasterGetLanguage (38); any thread; answers the host's language.
    virtual VstInt32 getHostLanguage();
    /// @}

    /// @name Effect properties
    /// @{

    /// Called by the effect; creation; sets or clears effFlagsIsSynth (then getPlugCategory answers kPlugCategSynth).
    virtual void isSynth(bool state = true) { setFlag(effFlagsIsSynth, state); }
    /// Called by the effect; creation; sets or clears effFlagsNoSoundInStop (silence in, silence out).
    virtual void noTail(bool state = true) { setFlag(effFlagsNoSoundInStop, state); }
    /// effGetTailSize (52); any thread; answers 0 (the host's default tail).
    virtual VstInt32 getGetTailSize() { return 0; }
    /// Request audioMasterGetDirectory (41); any thread; answers the host's pointer to the plug-in's folder, or null.
    virtual void* getDirectory();
    /// effGetEffectName (45), a host buffer (write at most kVstMaxNameLen characters and a terminator); any thread; writes nothing and answers false.
    virtual bool getEffectName(char* name) { (void)name; return false; }
    /// effGetVendorString (47), a host buffer (write at most kVstMaxNameLen characters and a terminator); any thread; writes nothing and answers false.
    virtual bool getVendorString(char* text) { (void)text; return false; }
    /// effGetProductString (48), a host buffer (write at most kVstMaxNameLen characters and a terminator); any thread; writes nothing and answers false.
    virtual bool getProductString(char* text) { (void)text; return false; }
    /// effGetVendorVersion (49); any thread; answers 0.
    virtual VstInt32 getVendorVersion() { return 0; }
    /// effVendorSpecific (50); any thread; answers 0.
    virtual VstIntPtr vendorSpecific(VstInt32 lArg, VstIntPtr lArg2, void* ptrArg, float floatArg) {
        (void)lArg, (void)lArg2, (void)ptrArg, (void)floatArg;
        return 0;
    }
    /// effCanDo (51), also asked by resume for "receiveVstMidiEvent"; any thread; answers 0 (does not know). An effect answers 1 for what it can do, -1 for what it refuses.
    virtual VstInt32 canDo(char* text) { (void)text; return 0; }
    /// effGetVstVersion (58); any thread; answers kVstVersion (2400).
    virtual VstInt32 getVstVersion() { return kVstVersion; }
    /// effGetPlugCategory (35); any thread; answers kPlugCategSynth for a synth, otherwise kPlugCategUnknown.
    virtual VstInt32 getPlugCategory() {
        return (cEffect.flags & effFlagsIsSynth) != 0 ? kPlugCategSynth : kPlugCategUnknown;
    }
    /// @}

    /// @name MIDI programs
    /// @{

    /// effGetMidiProgramName (62); any thread; fills nothing and answers 0.
    virtual VstInt32 getMidiProgramName(VstInt32 channel, MidiProgramName* name) { (void)channel, (void)name; return 0; }
    /// effGetCurrentMidiProgram (63); any thread; writes nothing and answers -1 (none).
    virtual VstInt32 getCurrentMidiProgram(VstInt32 channel, MidiProgramName* current) {
        (void)channel, (void)current;
        return -1;
    }
    /// effGetMidiProgramCategory (64); any thread; fills nothing and answers 0.
    virtual VstInt32 getMidiProgramCategory(VstInt32 channel, MidiProgramCategory* category) {
        (void)channel, (void)category;
        return 0;
    }
    /// effHasMidiProgramsChanged (65); any thread; answers false.
    virtual bool hasMidiProgramsChanged(VstInt32 channel) { (void)channel; return false; }
    /// effGetMidiKeyName (66); any thread; fills nothing and answers false.
    virtual bool getMidiKeyName(VstInt32 channel, MidiKeyName* keyName) { (void)channel, (void)keyName; return false; }
    /// @}

    /// @name Others
    /// @{

    /// Request audioMasterUpdateDisplay (42); any thread; answers the host's yes or no.
    virtual bool updateDisplay();
    /// Request audioMasterSizeWindow (15); any thread; answers the host's yes or no.
    virtual bool sizeWindow(VstInt32 width, VstInt32 height);
    /// Request audioMasterOpenFileSelector (45); any thread; null gives false without asking.
    virtual bool openFileSelector(VstFileSelect* fileSelect);
    /// Request audioMasterCloseFileSelector (46); any thread; null gives false without asking.
    virtual bool closeFileSelector(VstFileSelect* fileSelect);
    /// effShellGetNextPlugin (70); any thread; writes nothing and answers 0 (no shell).
    virtual VstInt32 getNextShellPlugin(char* name) { (void)name; return 0; }
    /// @}

    /// @name Speaker arrangements
    /// A place holds a pointer to an arrangement made by allocateArrangement, or null.
    /// @{

    /// Called by the effect; any thread; replaces what the place holds with a zeroed arrangement of nbChannels speakers; a negative count or one whose size does not fit answers false and leaves the place as it was.
    virtual bool allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 nbChannels);
    /// Called by the effect; any thread; releases what the place holds, leaves null there and answers true.
    virtual bool deallocateArrangement(VstSpeakerArrangement** arrangement);
    /// Called by the effect; any thread; copies one speaker, its name cut to 63 characters; false for a null pointer.
    virtual bool copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from);
    /// Called by the effect; any thread; replaces the place's arrangement with a copy of from; false for a null from.
    virtual bool matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from);
    /// @}

    /// @name Offline processing
    /// @{

    /// Request audioMasterOfflineRead (26); any thread; answers the host's yes or no.
    virtual bool offlineRead(VstOfflineTask* offline, VstInt32 option, bool readSource = true);
    /// Request audioMasterOfflineWrite (27); any thread; answers the host's yes or no.
    virtual bool offlineWrite(VstOfflineTask* offline, VstInt32 option);
    /// Request audioMasterOfflineStart (25); any thread; answers the host's yes or no.
    virtual bool offlineStart(VstAudioFile* ptr, VstInt32 numAudioFiles, VstInt32 numNewAudioFiles);
    /// Request audioMasterOfflineGetCurrentPass (28); any thread; answers 1 or 0.
    virtual VstInt32 offlineGetCurrentPass();
    /// Request audioMasterOfflineGetCurrentMetaPass (29); any thread; answers 1 or 0.
    virtual VstInt32 offlineGetCurrentMetaPass();
    /// effOfflineNotify (38); any thread; answers false.
    virtual bool offlineNotify(VstAudioFile* ptr, VstInt32 numAudioFiles, bool start) {
        (void)ptr, (void)numAudioFiles, (void)start;
        return false;
    }
    /// effOfflinePrepare (39); any thread; answers false.
    virtual bool offlinePrepare(VstOfflineTask* offline, VstInt32 count) { (void)offline, (void)count; return false; }
    /// effOfflineRun (40); any thread; answers false.
    virtual bool offlineRun(VstOfflineTask* offline, VstInt32 count) { (void)offline, (void)count; return false; }
    /// No opcode reaches it; answers 0.
    virtual VstInt32 offlineGetNumPasses() { return 0; }
    /// No opcode reaches it; answers 0.
    virtual VstInt32 offlineGetNumMetaPasses() { return 0; }
    /// @}

    /// @name Deprecated operations
    /// The dispatcher never calls them.
    /// @{

    /// Request audioMasterWantMidi (6), sent by resume; any thread; asks the host for MIDI events.
    virtual void wantEvents(VstInt32 filter = 1);
    /// Request audioMasterTempoAt (10); any thread; answers the host's answer (by custom the tempo times 10,000).
    virtual VstInt32 tempoAt(VstInt32 pos);
    /// Request audioMasterGetNumAutomatableParameters (11); any thread; answers the host's number.
    virtual VstInt32 getNumAutomatableParameters();
    /// Request audioMasterGetParameterQuantization (12); any thread; answers the host's number.
    virtual VstInt32 getParameterQuantization();
    /// No opcode reaches it; answers 1.
    virtual VstInt32 getNumCategories() { return 1; }
    /// No opcode reaches it (effCopyProgram answers 0); answers false.
    virtual bool copyProgram(VstInt32 destination) { (void)destination; return false; }
    /// Request audioMasterNeedIdle (14); any thread; answers the host's yes or no.
    virtual bool needIdle();
    /// Request audioMasterGetPreviousPlug (20); any thread; answers the host's record or null.
    virtual AEffect* getPreviousPlug(VstInt32 input);
    /// Request audioMasterGetNextPlug (21); any thread; answers the host's record or null.
    virtual AEffect* getNextPlug(VstInt32 output);
    /// No opcode reaches it (effConnectInput answers 0); does nothing.
    virtual void inputConnected(VstInt32 index, bool state) { (void)index, (void)state; }
    /// No opcode reaches it (effConnectOutput answers 0); does nothing.
    virtual void outputConnected(VstInt32 index, bool state) { (void)index, (void)state; }
    /// Request audioMasterWillReplaceOrAccumulate (22); any thread; answers the host's answer.
    virtual VstInt32 willProcessReplacing();
    /// Called by the effect; creation; sets or clears effFlagsExtIsAsync.
    virtual void wantAsyncOperation(bool state = true) { setFlag(effFlagsExtIsAsync, state); }
    /// Called by the effect; creation; sets or clears effFlagsExtHasBuffer.
    virtual void hasExternalBuffer(bool state = true) { setFlag(effFlagsExtHasBuffer, state); }
    /// No opcode reaches it (effGetCurrentPosition answers 0); answers 0.
    virtual VstInt32 reportCurrentPosition() { return 0; }
    /// No opcode reaches it (effGetDestinationBuffer answers 0); answers null.
    virtual float* reportDestinationBuffer() { return nullptr; }
    /// Request audioMasterSetOutputSampleRate (30); any thread; tells the host.
    virtual void setOutputSamplerate(float samplerate);
    /// Request audioMasterGetInputSpeakerArrangement (49); any thread; answers the host's arrangement or null.
    virtual VstSpeakerArrangement* getInputSpeakerArrangement();
    /// Request audioMasterGetOutputSpeakerArrangement (31); any thread; answers the host's arrangement or null.
    virtual VstSpeakerArrangement* getOutputSpeakerArrangement();
    /// Request audioMasterOpenWindow (39); any thread; answers the host's window or null.
    virtual void* openWindow(VstWindow* window);
    /// Request audioMasterCloseWindow (40); any thread; answers the host's yes or no.
    virtual bool closeWindow(VstWindow* window);
    /// No opcode reaches it (effSetBlockSizeAndSampleRate answers 0); stores both without calling setBlockSize or setSampleRate.
    virtual void setBlockSizeAndSampleRate(VstInt32 newBlockSize, float newSampleRate) {
        blockSize = newBlockSize;
        sampleRate = newSampleRate;
    }
    /// No opcode reaches it (effGetErrorText answers 0); answers false.
    virtual bool getErrorText(char* text) { (void)text; return false; }
    /// No opcode reaches it (effGetIcon answers 0); answers null.
    virtual void* getIcon() { return nullptr; }
    /// No opcode reaches it (effSetViewPosition answers 0); answers false.
    virtual bool setViewPosition(VstInt32 x, VstInt32 y) { (void)x, (void)y; return false; }
    /// No opcode reaches it (effIdle answers 0); answers 0.
    virtual VstInt32 fxIdle() { return 0; }
    /// No opcode reaches it (effKeysRequired answers 0); answers false.
    virtual bool keysRequired() { return false; }
    /// Request audioMasterGetChunkFile (48); any thread; null gives false without asking.
    virtual bool getChunkFile(void* nativePath);
    /// @}
};
