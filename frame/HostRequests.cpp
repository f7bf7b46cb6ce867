// Every request an effect can make of its host, one row each, in the order
// of the host opcodes. A row names the opcode, places the request's own
// arguments into index, value, ptr and opt, and turns the answer into the
// result. callHost makes the call, or answers 0 when no host is attached.
#include "AudioEffectX.h"

namespace {

// How a host's pointer-sized answer becomes a request's result.
bool nonZero(VstIntPtr answer) { return answer != 0; }
VstInt32 oneOrZero(VstIntPtr answer) { return answer != 0 ? 1 : 0; }
VstInt32 low32(VstIntPtr answer) { return static_cast<VstInt32>(answer); }
bool low32IsZero(VstIntPtr answer) { return low32(answer) == 0; }
template <typename Pointer>
Pointer* asPointer(VstIntPtr answer) {
    return reinterpret_cast<Pointer*>(answer);
}

}  // namespace

// 0: the setter runs first, whether or not a host listens.
void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

// 1: a host that answers 0 is taken to speak version 1.
VstInt32 AudioEffect::getMasterVersion() {
    const VstInt32 version = low32(callHost(audioMasterVersion));
    return version == 0 ? 1 : version;
}

VstInt32 AudioEffect::getCurrentUniqueId() { return low32(callHost(audioMasterCurrentId)); }  // 2
void AudioEffect::masterIdle() { callHost(audioMasterIdle); }                                   // 3

// 4: the host answers 0 for a connected pin, so with no host every pin is connected.
bool AudioEffect::isInputConnected(VstInt32 input) { return low32IsZero(callHost(audioMasterPinConnected, input, 0)); }
bool AudioEffect::isOutputConnected(VstInt32 output) { return low32IsZero(callHost(audioMasterPinConnected, output, 1)); }

void AudioEffectX::wantEvents(VstInt32 filter) { callHost(audioMasterWantMidi, 0, filter); }  // 6
VstTimeInfo* AudioEffectX::getTimeInfo(VstInt32 filter) {                                      // 7
    return asPointer<VstTimeInfo>(callHost(audioMasterGetTime, 0, filter));
}
VstInt32 AudioEffectX::tempoAt(VstInt32 pos) { return low32(callHost(audioMasterTempoAt, 0, pos)); }  // 10
VstInt32 AudioEffectX::getNumAutomatableParameters() {                                                 // 11
    return low32(callHost(audioMasterGetNumAutomatableParameters));
}
VstInt32 AudioEffectX::getParameterQuantization() {  // 12
    return low32(callHost(audioMasterGetParameterQuantization));
}
bool AudioEffectX::ioChanged() { return nonZero(callHost(audioMasterIOChanged)); }  // 13
bool AudioEffectX::needIdle() { return nonZero(callHost(audioMasterNeedIdle)); }    // 14
bool AudioEffectX::sizeWindow(VstInt32 width, VstInt32 height) {                    // 15
    return nonZero(callHost(audioMasterSizeWindow, width, height));
}

// 16: only a positive answer (tested at full width) replaces the stored rate;
// setSampleRate is not called.
double AudioEffectX::updateSampleRate() {
    const VstIntPtr answer = callHost(audioMasterGetSampleRate);
    if (answer > 0) sampleRate = static_cast<float>(answer);
    return sampleRate;
}

// 17: only a positive answer (tested on its low 32 bits) replaces the stored
// size; setBlockSize is not called.
VstInt32 AudioEffectX::updateBlockSize() {
    const VstInt32 answer = low32(callHost(audioMasterGetBlockSize));
    if (answer > 0) blockSize = answer;
    return blockSize;
}

VstInt32 AudioEffectX::getInputLatency() { return low32(callHost(audioMasterGetInputLatency)); }    // 18
VstInt32 AudioEffectX::getOutputLatency() { return low32(callHost(audioMasterGetOutputLatency)); }  // 19
// 20, 21: the pin number is not passed.
AEffect* AudioEffectX::getPreviousPlug(VstInt32) { return asPointer<AEffect>(callHost(audioMasterGetPreviousPlug)); }
AEffect* AudioEffectX::getNextPlug(VstInt32) { return asPointer<AEffect>(callHost(audioMasterGetNextPlug)); }
VstInt32 AudioEffectX::willProcessReplacing() { return low32(callHost(audioMasterWillReplaceOrAccumulate)); }  // 22
VstInt32 AudioEffectX::getCurrentProcessLevel() { return low32(callHost(audioMasterGetCurrentProcessLevel)); }  // 23
VstInt32 AudioEffectX::getAutomationState() { return low32(callHost(audioMasterGetAutomationState)); }  // 24

bool AudioEffectX::offlineStart(VstAudioFile* ptr, VstInt32 numAudioFiles, VstInt32 numNewAudioFiles) {  // 25
    return nonZero(callHost(audioMasterOfflineStart, numNewAudioFiles, numAudioFiles, ptr));
}
bool AudioEffectX::offlineRead(VstOfflineTask* offline, VstInt32 option, bool readSource) {  // 26
    return nonZero(callHost(audioMasterOfflineRead, readSource ? 1 : 0, option, offline));
}
bool AudioEffectX::offlineWrite(VstOfflineTask* offline, VstInt32 option) {  // 27
    return nonZero(callHost(audioMasterOfflineWrite, 0, option, offline));
}
VstInt32 AudioEffectX::offlineGetCurrentPass() { return oneOrZero(callHost(audioMasterOfflineGetCurrentPass)); }  // 28
VstInt32 AudioEffectX::offlineGetCurrentMetaPass() {                                                              // 29
    return oneOrZero(callHost(audioMasterOfflineGetCurrentMetaPass));
}
void AudioEffectX::setOutputSamplerate(float samplerate) {  // 30
    callHost(audioMasterSetOutputSampleRate, 0, 0, nullptr, samplerate);
}
VstSpeakerArrangement* AudioEffectX::getOutputSpeakerArrangement() {  // 31
    return asPointer<VstSpeakerArrangement>(callHost(audioMasterGetOutputSpeakerArrangement));
}
bool AudioEffectX::getHostVendorString(char* text) {  // 32
    return nonZero(callHost(audioMasterGetVendorString, 0, 0, text));
}
bool AudioEffectX::getHostProductString(char* text) {  // 33
    return nonZero(callHost(audioMasterGetProductString, 0, 0, text));
}
VstInt32 AudioEffectX::getHostVendorVersion() { return low32(callHost(audioMasterGetVendorVersion)); }  // 34
VstIntPtr AudioEffectX::hostVendorSpecific(VstInt32 lArg1, VstIntPtr lArg2, void* ptrArg, float floatArg) {  // 35
    return callHost(audioMasterVendorSpecific, lArg1, lArg2, ptrArg, floatArg);
}
VstInt32 AudioEffectX::canHostDo(char* text) { return oneOrZero(callHost(audioMasterCanDo, 0, 0, text)); }  // 37
VstInt32 AudioEffectX::getHostLanguage() { return low32(callHost(audioMasterGetLanguage)); }               // 38
void* AudioEffectX::openWindow(VstWindow* window) {                                                        // 39
    return asPointer<void>(callHost(audioMasterOpenWindow, 0, 0, window));
}
bool AudioEffectX::closeWindow(VstWindow* window) { return nonZero(callHost(audioMasterCloseWindow, 0, 0, window)); }  // 40
void* AudioEffectX::getDirectory() { return asPointer<void>(callHost(audioMasterGetDirectory)); }                    // 41
bool AudioEffectX::updateDisplay() { return nonZero(callHost(audioMasterUpdateDisplay)); }                          // 42
bool AudioEffectX::beginEdit(VstInt32 index) { return nonZero(callHost(audioMasterBeginEdit, index)); }             // 43
bool AudioEffectX::endEdit(VstInt32 index) { return nonZero(callHost(audioMasterEndEdit, index)); }                 // 44

// 45, 46, 48: a null pointer is refused before the host is asked.
bool AudioEffectX::openFileSelector(VstFileSelect* fileSelect) {
    return fileSelect != nullptr && nonZero(callHost(audioMasterOpenFileSelector, 0, 0, fileSelect));
}
bool AudioEffectX::closeFileSelector(VstFileSelect* fileSelect) {
    return fileSelect != nullptr && nonZero(callHost(audioMasterCloseFileSelector, 0, 0, fileSelect));
}
bool AudioEffectX::getChunkFile(void* nativePath) {
    return nativePath != nullptr && nonZero(callHost(audioMasterGetChunkFile, 0, 0, nativePath));
}

VstSpeakerArrangement* AudioEffectX::getInputSpeakerArrangement() {  // 49
    return asPointer<VstSpeakerArrangement>(callHost(audioMasterGetInputSpeakerArrangement));
}
