// Tarvo TapeMotor: a tape machine whose motor can be stopped and started.
// The stereo input is recorded continuously; a read head plays the tape at a
// speed that falls to standstill while the motor is off (Trigger on or any
// MIDI note held) and rises back to normal speed when it runs again, then
// crossfades to the live input, after which the input passes bit for bit.
// Stop and Start lengths are seconds, or note values at the host's tempo.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "AudioEffectX.h"

class TapeMotor : public AudioEffectX {
public:
    enum Parameter : VstInt32 { kTrigger, kStop, kStart, kSync, kCurve, kMix, kNumParameters };
    static constexpr VstInt32 kNumPrograms = 5;
    static constexpr VstInt32 kUniqueId = fourCharCode("TtMo");
    // vendorSpecific(kDroppedEventsQuery, ...) answers how many MIDI events
    // did not fit into a block's event array since the last resume.
    static constexpr VstInt32 kDroppedEventsQuery = fourCharCode("TMdr");
    // Events one block keeps; more are dropped and counted.
    static constexpr int kMaxEventsPerBlock = 512;
    static constexpr int kMidiChannels = 16;
    static constexpr int kMidiKeys = 128;

    explicit TapeMotor(audioMasterCallback audioMaster);
    // False when there was no memory for the tape at construction.
    bool hasTape() const { return tapeFrames != nullptr; }

    // Audio thread.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    VstInt32 processEvents(VstEvents* events) override;

    // Dispatcher thread, while audio is stopped: sizes the tape for the
    // present sample rate and rewinds it.
    void resume() override;

    // Any thread, also while audio runs: each parameter is one atomic host value.
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    VstInt32 getGetTailSize() override;
    VstIntPtr vendorSpecific(VstInt32 lArg, VstIntPtr lArg2, void* ptrArg, float floatArg) override;

    // Texts, identity and programs (TapeMotorTexts.cpp); any thread, no heap.
    void getParameterName(VstInt32 index, char* text) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    bool string2parameter(VstInt32 index, char* text) override;
    bool getParameterProperties(VstInt32 index, VstParameterProperties* properties) override;
    void setProgram(VstInt32 program) override;
    void getProgramName(char* name) override;
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    // The project's version, major × 1000 + minor × 100 + patch (1.0.0 is 1000).
    VstInt32 getVendorVersion() override { return TARVO_VENDOR_VERSION; }
    VstInt32 canDo(char* text) override;
    VstInt32 getPlugCategory() override { return kPlugCategEffect; }

private:
    struct StereoFrame {
        float left;
        float right;
    };

    // What the motor is doing. Caught up: the output is the input.
    enum class Motion : std::int32_t { kCaughtUp, kStopping, kStopped, kStarting, kCatchingUp };

    // The host's settings as one block reads them.
    struct Controls {
        bool motorOffByTrigger;
        double stopFrames;
        double startFrames;
        float curveExponent;
        float mix;
    };

    // The fields only the processing touches, held in a local for the length
    // of a block (the host's buffers may alias the members).
    struct Tape {
        Motion motion;
        std::uint32_t writeIndex;  // slot the next input frame is recorded in
        double lagFrames;          // how far the read head is behind the newest frame
        double rampFrames;         // frames into the present stop or start
        double stopFrames;         // lengths the ramp is paced by
        double startFrames;
        double perStopFrame;       // their reciprocals: the fraction one frame passes
        double perStartFrame;
        float speed;               // samples per frame: 0 standstill, 1 normal
        float liveShare;           // share of the live input in the tape's output
        float curveExponent;       // the ramps' shape
    };

    Controls readControls();
    void runTape(Tape& tape, const Controls& controls, const float* const* in, float* const* out, VstInt32 from,
                 VstInt32 to);
    void record(Tape& tape, float left, float right);
    void passThrough(Tape& tape, const float* const* in, float* const* out, VstInt32 from, VstInt32 to);
    static void switchMotor(Tape& tape, bool motorOff);
    static void enterRamp(Tape& tape);
    static void moveSpeed(Tape& tape);
    void moveLiveShare(Tape& tape) const;
    StereoFrame readTape(const Tape& tape) const;
    static void rescaleRamp(Tape& tape, const Controls& controls);
    void applyEvent(const VstMidiEvent& event);
    void releaseAllNotes();
    void rewindTape();
    bool sizeTape(double sampleRateHz);
    double lengthFrames(float hostValue, bool synced, double tempoBpm) const;

    // Host values 0 to 1: written by the host's threads, read by the audio thread.
    std::atomic<float> parameters[kNumParameters];
    std::atomic<float> lastTempoBpm;  // the tempo the last synced block read
    std::atomic<std::int32_t> droppedEvents;

    // The processing's own state.
    Tape tape;
    double tapeRateHz;             // the rate the tape was sized and paced for
    float crossfadeStep;           // the live share's change per frame
    std::uint32_t tapeMask;        // capacity - 1; the capacity is a power of two
    std::unique_ptr<StereoFrame[]> tapeFrames;
    bool heldNotes[kMidiChannels][kMidiKeys];
    std::int32_t heldNoteCount;
    std::int32_t pendingEventCount;  // MIDI events for the next block, by frame
    VstMidiEvent pendingEvents[kMaxEventsPerBlock];

    static_assert(std::atomic<float>::is_always_lock_free && sizeof(std::atomic<float>) == 4);
    static_assert(std::atomic<std::int32_t>::is_always_lock_free);
};
