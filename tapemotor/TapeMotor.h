// Tarvo TapeMotor: a tape machine whose motor can be stopped and started.
// The stereo input is recorded continuously; a read head plays the tape at a
// speed that falls to standstill while the motor is off (Trigger on, a MIDI
// note held, or latched off by a note) and rises back to normal speed when
// it runs again, then crossfades to the live input, after which the input
// passes bit for bit. Stop and Start lengths are seconds, or note values at
// the host's tempo; a switch of the motor may wait for the next point of a
// musical grid. The stop either runs down (Tape) or spins back (Spinback),
// and the tape may darken as it slows (Tone).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "AudioEffectX.h"

class TapeMotor : public AudioEffectX {
public:
    enum Parameter : VstInt32 {
        kTrigger, kStop, kStart, kSync, kCurve, kMix, kQuantize, kMode, kBrake, kTone, kNumParameters
    };
    static constexpr VstInt32 kNumPrograms = 8;
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
    void suspend() override;
    ~TapeMotor() override;

    // Dispatcher thread, also while resumed (some hosts set the file's rate
    // only after processing has begun): lengths follow the new rate from the
    // next block; a tape that must grow is made here and taken over by the
    // audio thread at the next block that begins caught up.
    void setSampleRate(float newSampleRate) override;

    // The tape's speed in the last block processed (samples per frame: 1
    // normal, 0 standstill, below 0 spinning back), for an editor to draw.
    // Written once per block by the audio thread; read by any thread.
    std::atomic<float> tapeSpeed{1.0f};
    // Whether the motor was off at the end of the last block processed, by
    // Trigger, a held note or a latch, so an editor lights its button for
    // MIDI as for its own clicks. Written and read as tapeSpeed is.
    std::atomic<bool> motorIsOff{false};

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

    // Where a block lies on the host's musical grid; invalid (no position,
    // or the transport stopped) switches the motor at once.
    struct Grid {
        bool valid;
        double blockQuarterNotes;     // the position of the block's first frame
        double framesPerQuarterNote;
        double originQuarterNotes;    // the start of the block's bar
        double barQuarterNotes;
        double stepQuarterNotes;
    };

    // The host's settings as one block reads them.
    struct Controls {
        bool motorOffByTrigger;
        bool latch;
        bool spinback;
        double stopFrames;
        double startFrames;
        float curveExponent;
        float mix;
        float tone;  // 0 to 1
        Grid grid;
    };

    // The fields only the processing touches, held in a local for the length
    // of a block (the host's buffers may alias the members).
    struct Tape {
        Motion motion;
        bool spinback;             // the present stop spins back
        std::uint32_t writeIndex;  // slot the next input frame is recorded in
        double lagFrames;          // how far the read head is behind the newest frame
        double readableLagFrames;  // the longest lag whose frames are all recorded
        double rampFrames;         // frames into the present stop or start
        double stopFrames;         // lengths the ramp is paced by
        double startFrames;
        double perStopFrame;       // their reciprocals: the fraction one frame passes
        double perStartFrame;
        float speed;               // samples per frame: 0 standstill, 1 normal, below 0 backwards
        float liveShare;           // share of the live input in the tape's output
        float curveExponent;       // the ramps' shape
        float turnFraction;        // where a spinback's speed crosses zero
        StereoFrame toneState[2];  // the two poles of the darkening low-pass
    };

    // How the tape moves in one frame of a run, worked out before the run
    // is played.
    static constexpr VstInt32 kRunFrames = 64;  // a multiple of 4
    struct HeadSteps {
        alignas(16) float u[kRunFrames];     // the head, counted from node 0 of the cubic
        alignas(16) float w[4][kRunFrames];  // the cubic's weights there
        std::uint32_t back[kRunFrames];      // node 0, frames behind the newest
        float speed[kRunFrames];
        float liveShare[kRunFrames];
    };
    struct Weights {
        float w0, w1, w2, w3;
    };

    // A tape made by the dispatcher for the audio thread to take over.
    struct Reel {
        std::uint32_t mask;
        std::unique_ptr<StereoFrame[]> frames;
    };

    Controls readControls();
    Grid readGrid(const VstTimeInfo* time, int gridIndex);
    double refinedQuarterNotes(const VstTimeInfo& time, double framesPerQuarterNote);
    void runUntil(Tape& tape, const Controls& controls, const float* const* in, float* const* out, VstInt32 from,
                  VstInt32 to);
    void runTape(Tape& tape, const Controls& controls, const float* const* in, float* const* out, VstInt32 from,
                 VstInt32 to);
    template <bool kToned>
    void runMoving(Tape& tape, const Controls& controls, const float* const* in, float* const* out, VstInt32 from,
                   VstInt32 to);
    void record(Tape& tape, float left, float right);
    void passThrough(Tape& tape, const float* const* in, float* const* out, VstInt32 from, VstInt32 to);
    static void switchMotor(Tape& tape, bool motorOff, bool spinback);
    static void enterRamp(Tape& tape);
    static void moveSpeed(Tape& tape);
    static float spinbackSpeed(const Tape& tape, double x);
    void moveLiveShare(Tape& tape) const;
    static void placeHead(double lagFrames, float& u, std::uint32_t& back);
    StereoFrame readTape(std::uint32_t first, Weights w) const;
    StereoFrame darken(StereoFrame (&state)[2], StereoFrame head, float speed, float tone) const;
    static void rescaleRamp(Tape& tape, const Controls& controls);
    void applyEvent(const VstMidiEvent& event, bool latch);
    void wantMotor(bool off, VstInt32 frame, const Grid& grid);
    double nextGridPoint(const Grid& grid, VstInt32 frame) const;
    VstInt32 waitingSwitchFrame(const Grid& grid) const;
    bool wantedOff(const Controls& controls) const;
    void releaseAllNotes();
    void followHostRate();
    void paceFor(double rateHz);
    void rewindTape();
    bool sizeTape(double sampleRateHz);
    void freeRetiredReel();
    static double lengthFrames(float hostValue, bool synced, double tempoBpm, double rateHz);

    // Host values 0 to 1: written by the host's threads, read by the audio thread.
    std::atomic<float> parameters[kNumParameters];
    std::atomic<float> lastTempoBpm;  // the tempo the last synced block read
    std::atomic<std::int32_t> droppedEvents;
    std::atomic<double> hostRateHz;   // the rate the host set last, as the tape is paced
    std::atomic<Reel*> grownReel;     // made by the dispatcher, taken by the audio thread
    std::atomic<Reel*> retiredReel;   // given up by the audio thread, freed by the dispatcher

    // The dispatcher's own state.
    bool resumed;
    std::uint32_t promisedCapacityFrames;  // the tape's, or the grown one's on its way

    // The processing's own state.
    Tape tape;
    double tapeRateHz;             // the rate the tape is paced for
    float crossfadeStep;           // the live share's change per frame
    float toneStepPerSpeed;        // the low-pass's 2 pi fc / rate per unit of speed
    float toneFloorStep;           // and its lowest
    std::uint32_t tapeMask;        // capacity - 1; the capacity is a power of two
    std::unique_ptr<StereoFrame[]> tapeFrames;
    bool motorOff;                 // what the tape follows
    bool switchWaiting;            // a switch of the motor waits for a grid point
    double switchAtQuarterNotes;   // that point
    bool latchedOff;               // Latch: the notes have switched the motor off
    double offsetPaceFrames;       // the frames per quarter note the offsets below were seen at
    double offsetLowestFrames;     // the host's position less its sample position, in frames:
    double offsetHighestFrames;    // the least and the most seen since
    bool heldNotes[kMidiChannels][kMidiKeys];
    std::int32_t heldNoteCount;
    std::int32_t pendingEventCount;  // MIDI events for the next block, by frame
    VstMidiEvent pendingEvents[kMaxEventsPerBlock];

    static_assert(std::atomic<float>::is_always_lock_free && sizeof(std::atomic<float>) == 4);
    static_assert(std::atomic<std::int32_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
    static_assert(std::atomic<double>::is_always_lock_free && std::atomic<Reel*>::is_always_lock_free);
};
