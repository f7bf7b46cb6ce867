// TempoTremolo: a tremolo locked to the host's tempo. The level of both
// channels rises and falls once per note length (Rate: a whole note down to a
// sixteenth), by Depth (0: no change, 1: down to silence at every trough).
// It shows how an effect reads the host's transport: once per block it asks
// for the tempo and the song position in quarter notes, so the tremolo
// follows tempo changes and stays on the beat when the host jumps.
#pragma once

#include <atomic>

#include "AudioEffectX.h"

class TempoTremolo : public AudioEffectX {
public:
    enum Parameter : VstInt32 { kRate, kDepth, kNumParameters };
    static constexpr VstInt32 kNumPrograms = 1;
    static constexpr VstInt32 kUniqueId = fourCharCode("TgTr");
    // Used while the host tells no tempo.
    static constexpr double kDefaultTempoBpm = 120.0;

    explicit TempoTremolo(audioMasterCallback audioMaster);

    // Audio thread. Asks the host for its time information at the start of
    // every block; without a position it counts one of its own.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    // The host's mains on: the own position starts again at the first beat.
    void resume() override;

    // Any thread, also while audio runs.
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;

    // Texts the host shows; any thread.
    void getParameterName(VstInt32 index, char* text) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    // Any thread: says it reads the host's time ("receiveVstTimeInfo"), so
    // hosts that send time only where asked send it.
    VstInt32 canDo(char* text) override;

    // The length of one tremolo cycle in quarter notes for a Rate value:
    // 4 (whole note), 2, 1, 0.5 or 0.25 (sixteenth).
    static double cycleQuarterNotes(float rate);

private:
    std::atomic<float> rate;   // host value, 0 to 1, in five equal steps
    std::atomic<float> depth;  // host value, 0 to 1
    double ownPositionQuarterNotes;  // used when the host gives no position
    static_assert(std::atomic<float>::is_always_lock_free);
};
