#include "TapeMotor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <numbers>

#include "FlushToZero.h"
#include "TapeMotorEditor.h"
#include "TapeMotorMappings.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kSwitchOnValue = tapemotor::kSwitchOnValue;  // Trigger, Sync, Latch, Spinback
constexpr float kFadeBelowSpeed = 0.25f;    // the tape's level is min(1, |speed| / 0.25)
constexpr double kTapeSeconds = 10.0;       // the tape holds at least this much history
constexpr std::uint32_t kTapFrames = 4;     // frames the interpolation reads
constexpr double kCrossfadeSeconds = 0.020; // back to the live input after a start
constexpr double kDefaultRateHz = 44100.0;
constexpr double kLowestRateHz = 1000.0;    // rates outside are paced and sized as the nearest
constexpr double kHighestRateHz = 768000.0;
constexpr double kDefaultTempoBpm = 120.0;

// Spinback: the speed falls along the Curve to zero at the turn, then runs
// backwards along -kPeak * 27/4 * y * (1 - y)^2 (y the share of the reverse
// run passed): a quick pull to the peak reverse speed at a third of the run,
// then a long coast to standstill. The turn lies where the reverse run
// rewinds exactly what the forward run played, so the head comes to rest
// where the stop began and never reads before it.
constexpr double kSpinbackPeakSpeed = 2.5;
constexpr double kReverseShape = 27.0 / 4.0;   // makes the shape's peak 1
constexpr double kReverseArea = 9.0 / 16.0;    // the shape's integral over the run, as a share of the peak

// Tone: two one-pole low-passes at 20 kHz x speed, never below 200 Hz,
// mixed in from speed 1 (none) to speed 3/4 and below (all of it, at Tone 100).
constexpr double kToneTopHz = 20000.0;
constexpr double kToneFloorHz = 200.0;
constexpr float kToneDepthPerSlowdown = 4.0f;
constexpr float kLeastTone = 0.001f;  // below a tenth of a percent Tone is off
// Added to the first pole's input: keeps the poles, and so the output, from
// decaying into subnormal numbers when the tape plays silence (-360 dB).
constexpr float kToneOffset = 1e-18f;

// Quantize: a switch within this much of a grid point is on it, so that the
// grid falls on the same frame whatever the block size.
constexpr double kOnGridFrames = 1e-6;
// How far a host's position may stray from its sample position and still be
// the same transport: two of Ardour's ticks.
constexpr double kPositionSlackQuarterNotes = 2.0 / 1920.0;
constexpr double kQuarterNotesPerWholeNote = 4.0;

// MIDI status bytes (high nibble) and the controllers that end every note.
constexpr std::uint8_t kNoteOff = 0x80;
constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kAllNotesOff = 123;

// A rate the tape can be sized and paced for: non-finite or non-positive
// rates give the default, others are held within the range above.
double usableRateHz(float sampleRateHz) {
    if (!std::isfinite(sampleRateHz) || sampleRateHz <= 0.0f) return kDefaultRateHz;
    return std::clamp(static_cast<double>(sampleRateHz), kLowestRateHz, kHighestRateHz);
}

std::uint32_t capacityFrames(double rateHz) {
    const auto needed = static_cast<std::uint32_t>(std::ceil(kTapeSeconds * rateHz)) + kTapFrames;
    std::uint32_t capacity = 1;
    while (capacity < needed) capacity <<= 1;
    return capacity;
}

bool isMotorEvent(const VstMidiEvent& event) {
    const auto status = static_cast<std::uint8_t>(event.midiData[0] & 0xF0);
    const auto controller = static_cast<std::uint8_t>(event.midiData[1]);
    return status == kNoteOn || status == kNoteOff ||
           (status == kControlChange && (controller == kAllSoundOff || controller == kAllNotesOff));
}

// The four weights of the cubic through nodes 0 to 3, evaluated at u (from 1
// to 3), for four frames at once; each lane takes the steps one frame alone
// would, so the weights are the same to the bit. At a whole u the node there
// gets weight 1 and the others 0 exactly.
typedef float Four __attribute__((vector_size(4 * sizeof(float))));
inline void lagrangeWeights(const float* u, float* w0, float* w1, float* w2, float* w3) {
    Four a;
    std::memcpy(&a, u, sizeof a);
    const Four b = a - 1.0f, c = a - 2.0f, d = a - 3.0f;
    const Four v0 = -(b * c * d) / 6.0f, v1 = (a * c * d) / 2.0f, v2 = -(a * b * d) / 2.0f, v3 = (a * b * c) / 6.0f;
    std::memcpy(w0, &v0, sizeof v0);
    std::memcpy(w1, &v1, sizeof v1);
    std::memcpy(w2, &v2, sizeof v2);
    std::memcpy(w3, &v3, sizeof v3);
}

// y^e. At e = 1 (Curve 0, the default) powf(y, 1) is y for every y in
// [0, 1] (checked for all of them), so the call is skipped.
inline float curve(float y, float exponent) { return exponent == 1.0f ? y : ::powf(y, exponent); }

// Where a spinback with this curve turns, as a share of the stop: the
// forward run travels turn / (e + 1), the reverse run peak * area * (1 - turn).
float turnFraction(float curveExponent) {
    const double reverse = kSpinbackPeakSpeed * kReverseArea * (curveExponent + 1.0);
    return static_cast<float>(reverse / (1.0 + reverse));
}

// The share y of the reverse run's coast (past its peak) where the speed is
// -reverseSpeed: bisection, since the shape has no handy inverse.
double coastShareAt(double reverseSpeed) {
    const double target = std::min(1.0, reverseSpeed / kSpinbackPeakSpeed);
    double low = 1.0 / 3.0, high = 1.0;
    for (int step = 0; step < 40; ++step) {
        const double y = 0.5 * (low + high);
        (kReverseShape * y * (1.0 - y) * (1.0 - y) > target ? low : high) = y;
    }
    return 0.5 * (low + high);
}

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    auto* effect = new TapeMotor(audioMaster);
    if (effect != nullptr && !effect->hasTape()) {
        delete effect;  // there was no memory for the tape
        return nullptr;
    }
    return effect;
}

TapeMotor::TapeMotor(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParameters),
      lastTempoBpm(static_cast<float>(kDefaultTempoBpm)),
      droppedEvents(0),
      hostRateHz(usableRateHz(getSampleRate())),
      grownReel(nullptr),
      retiredReel(nullptr),
      resumed(false),
      promisedCapacityFrames(0),
      tape{},
      tapeRateHz(0.0),
      crossfadeStep(1.0f),
      toneStepPerSpeed(0.0f),
      toneFloorStep(0.0f),
      tapeMask(0),
      motorOff(false),
      switchWaiting(false),
      switchAtQuarterNotes(0.0),
      latchedOff(false),
      offsetPaceFrames(0.0),
      offsetLowestFrames(0.0),
      offsetHighestFrames(0.0),
      heldNotes{},
      heldNoteCount(0),
      pendingEventCount(0),
      pendingEvents{} {
    isSynth(false);
    canProcessReplacing(true);
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(kUniqueId);
    for (auto& parameter : parameters) parameter.store(0.0f, kRelaxed);
    setProgram(0);
    sizeTape(usableRateHz(getSampleRate()));
    rewindTape();
    setEditor(createTapeMotorEditor(*this));  // last: the editor takes the settings above as defaults
}

TapeMotor::~TapeMotor() {
    delete grownReel.exchange(nullptr);
    freeRetiredReel();
}

// --- Parameters, any thread.

void TapeMotor::setParameter(VstInt32 index, float value) {
    if (index < 0 || index >= kNumParameters || std::isnan(value)) return;
    parameters[index].store(std::clamp(value, 0.0f, 1.0f), kRelaxed);
}

float TapeMotor::getParameter(VstInt32 index) {
    return index >= 0 && index < kNumParameters ? parameters[index].load(kRelaxed) : 0.0f;
}

double TapeMotor::lengthFrames(float hostValue, bool synced, double tempoBpm, double rateHz) {
    const double seconds = synced ? tapemotor::noteSeconds(hostValue, tempoBpm) : tapemotor::timeSeconds(hostValue);
    return std::clamp(seconds * rateHz, 1.0, tapemotor::kLongestRampFrames);
}

// The frames a stop and the start after it take at the present settings;
// synced lengths at the tempo the last block read.
VstInt32 TapeMotor::getGetTailSize() {
    const bool synced = parameters[kSync].load(kRelaxed) >= kSwitchOnValue;
    const double tempoBpm = lastTempoBpm.load(kRelaxed);
    const double rateHz = hostRateHz.load(kRelaxed);
    const double frames = lengthFrames(parameters[kStop].load(kRelaxed), synced, tempoBpm, rateHz) +
                          lengthFrames(parameters[kStart].load(kRelaxed), synced, tempoBpm, rateHz);
    return static_cast<VstInt32>(std::min(std::ceil(frames), static_cast<double>(std::numeric_limits<VstInt32>::max())));
}

VstIntPtr TapeMotor::vendorSpecific(VstInt32 lArg, VstIntPtr, void*, float) {
    return lArg == kDroppedEventsQuery ? droppedEvents.load(kRelaxed) : 0;
}

// --- Lifecycle, dispatcher thread.

// While audio is stopped: the tape for the rate, and the pace.
bool TapeMotor::sizeTape(double rateHz) {
    paceFor(rateHz);
    hostRateHz.store(rateHz, kRelaxed);
    const std::uint32_t capacity = capacityFrames(rateHz);
    if (tapeFrames && tapeMask + 1 == capacity) return true;
    // A failed allocation keeps the tape there is; lengths follow the new rate.
    std::unique_ptr<StereoFrame[]> frames(new (std::nothrow) StereoFrame[capacity]());
    if (!frames) return false;
    tapeFrames = std::move(frames);
    tapeMask = capacity - 1;
    promisedCapacityFrames = capacity;
    return true;
}

// What follows from the rate: the lengths' frames, the crossfade's step,
// the Tone filter's steps.
void TapeMotor::paceFor(double rateHz) {
    tapeRateHz = rateHz;
    crossfadeStep = static_cast<float>(1.0 / std::max(1.0, std::round(kCrossfadeSeconds * rateHz)));
    toneStepPerSpeed = static_cast<float>(2.0 * std::numbers::pi * kToneTopHz / rateHz);
    toneFloorStep = static_cast<float>(2.0 * std::numbers::pi * kToneFloorHz / rateHz);
}

// The tape is blank and caught up; notes and queued events are forgotten,
// since the host restarts its event stream with the audio.
void TapeMotor::rewindTape() {
    if (tapeFrames) std::fill(tapeFrames.get(), tapeFrames.get() + tapeMask + 1, StereoFrame{0.0f, 0.0f});
    tape = Tape{};
    tape.motion = Motion::kCaughtUp;
    tape.readableLagFrames = kTapFrames - 3;
    tape.stopFrames = tape.startFrames = tape.perStopFrame = tape.perStartFrame = 1.0;
    tape.speed = tape.liveShare = tape.curveExponent = 1.0f;
    tape.turnFraction = turnFraction(1.0f);
    tapeSpeed.store(1.0f, kRelaxed);
    motorIsOff.store(false, kRelaxed);
    motorOff = switchWaiting = latchedOff = false;
    offsetPaceFrames = 0.0;  // the position is read afresh
    releaseAllNotes();
    pendingEventCount = 0;
    droppedEvents.store(0, kRelaxed);
}

void TapeMotor::freeRetiredReel() { delete retiredReel.exchange(nullptr, std::memory_order_acquire); }

void TapeMotor::resume() {
    delete grownReel.exchange(nullptr);  // no block runs: the tape is sized here
    freeRetiredReel();
    sizeTape(usableRateHz(getSampleRate()));
    promisedCapacityFrames = tapeMask + 1;
    rewindTape();
    resumed = true;
    AudioEffectX::resume();  // asks the host for MIDI events
}

void TapeMotor::suspend() { resumed = false; }

void TapeMotor::setSampleRate(float newSampleRate) {
    AudioEffectX::setSampleRate(newSampleRate);
    if (!resumed) return;  // resume sizes and paces the tape
    freeRetiredReel();
    const double rateHz = usableRateHz(newSampleRate);
    const std::uint32_t capacity = capacityFrames(rateHz);
    if (capacity > promisedCapacityFrames) {
        // A failed allocation keeps the tape there is, as in resume.
        std::unique_ptr<StereoFrame[]> frames(new (std::nothrow) StereoFrame[capacity]());
        auto* reel = frames ? new (std::nothrow) Reel{capacity - 1, std::move(frames)} : nullptr;
        if (reel != nullptr) {
            delete grownReel.exchange(reel, std::memory_order_acq_rel);  // one not yet taken is replaced
            promisedCapacityFrames = capacity;
        }
    }
    hostRateHz.store(rateHz, kRelaxed);
}

// Audio thread, at a block's start: the pace follows the rate the host set
// last, and a grown tape is taken over when the tape is caught up, when only
// the newest frames matter. The tape given up goes to the dispatcher to free.
void TapeMotor::followHostRate() {
    const double rateHz = hostRateHz.load(kRelaxed);
    if (rateHz != tapeRateHz) paceFor(rateHz);
    if (tape.motion != Motion::kCaughtUp || grownReel.load(kRelaxed) == nullptr ||
        retiredReel.load(kRelaxed) != nullptr)
        return;
    Reel* reel = grownReel.exchange(nullptr, std::memory_order_acq_rel);
    if (reel == nullptr) return;
    for (std::uint32_t back = 1; back <= kTapFrames; ++back)
        reel->frames[(tape.writeIndex - back) & reel->mask] = tapeFrames[(tape.writeIndex - back) & tapeMask];
    tape.writeIndex &= reel->mask;  // the newest frames keep their slots
    std::swap(reel->frames, tapeFrames);
    std::swap(reel->mask, tapeMask);
    retiredReel.store(reel, std::memory_order_release);
}

// --- Events, audio thread: kept by frame for the next block.

VstInt32 TapeMotor::processEvents(VstEvents* events) {
    if (events == nullptr) return 0;
    for (VstInt32 e = 0; e < events->numEvents; ++e) {
        const VstEvent* event = events->events[e];
        if (event == nullptr || event->type != kVstMidiType) continue;
        const auto& midi = *reinterpret_cast<const VstMidiEvent*>(event);
        if (!isMotorEvent(midi)) continue;
        if (pendingEventCount == kMaxEventsPerBlock) {
            droppedEvents.fetch_add(1, kRelaxed);
            continue;
        }
        // Insertion after every event of the same or an earlier frame keeps
        // the host's order within a frame.
        VstInt32 slot = pendingEventCount++;
        while (slot > 0 && pendingEvents[slot - 1].deltaFrames > midi.deltaFrames) {
            pendingEvents[slot] = pendingEvents[slot - 1];
            --slot;
        }
        pendingEvents[slot] = midi;
    }
    return 1;
}

// Hold: a held note keeps the motor off. Latch: each note-on switches it
// over; note-offs and the controllers that end every note only end notes.
void TapeMotor::applyEvent(const VstMidiEvent& event, bool latch) {
    const auto status = static_cast<std::uint8_t>(event.midiData[0] & 0xF0);
    const int channel = event.midiData[0] & (kMidiChannels - 1);
    const int key = event.midiData[1] & (kMidiKeys - 1);
    const bool velocity = (event.midiData[2] & 0x7F) != 0;
    if (status == kControlChange) {
        releaseAllNotes();
        return;
    }
    bool& held = heldNotes[channel][key];
    const bool press = status == kNoteOn && velocity;  // a note-on of velocity 0 is a note-off
    if (press != held) heldNoteCount += press ? 1 : -1;
    held = press;
    if (latch && press) latchedOff = !latchedOff;
}

void TapeMotor::releaseAllNotes() {
    for (auto& channel : heldNotes) std::fill(std::begin(channel), std::end(channel), false);
    heldNoteCount = 0;
}

bool TapeMotor::wantedOff(const Controls& controls) const {
    return controls.motorOffByTrigger || (controls.latch ? latchedOff : heldNoteCount > 0);
}

// --- Quantize, audio thread.

TapeMotor::Grid TapeMotor::readGrid(const VstTimeInfo* time, int gridIndex) {
    constexpr VstInt32 kNeeded =
        kVstTransportPlaying | kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid;
    Grid grid{};
    if (gridIndex == tapemotor::kGridOff || time == nullptr || (time->flags & kNeeded) != kNeeded) return grid;
    if (!std::isfinite(time->ppqPos) || !std::isfinite(time->barStartPos) || !std::isfinite(time->tempo) ||
        time->tempo <= 0.0 || time->timeSigNumerator <= 0 || time->timeSigDenominator <= 0)
        return grid;
    const double bar = time->timeSigNumerator * kQuarterNotesPerWholeNote / time->timeSigDenominator;
    const double step = gridIndex == tapemotor::kGridBar ? bar : tapemotor::kGridValues[gridIndex].quarterNotes;
    const double framesPerQuarterNote = tapeRateHz * tapemotor::kSecondsPerMinute / time->tempo;
    return Grid{true, refinedQuarterNotes(*time, framesPerQuarterNote), framesPerQuarterNote, time->barStartPos, bar,
                step};
}

// Some hosts give the position in whole ticks (Ardour 7.3: 1,920 to the
// quarter note, up to 6 frames off at 120 BPM and 48 kHz) but the sample
// position exactly. While the tempo holds and the two keep one distance
// within the slack, that distance is taken as the middle of all the
// distances seen, and the position is the sample position moved by it. A
// new tempo, or a distance out of the slack (the transport moved), starts
// again from the host's position.
double TapeMotor::refinedQuarterNotes(const VstTimeInfo& time, double framesPerQuarterNote) {
    const double offsetFrames = time.ppqPos * framesPerQuarterNote - time.samplePos;
    const double slackFrames = kPositionSlackQuarterNotes * framesPerQuarterNote;
    if (framesPerQuarterNote != offsetPaceFrames || offsetFrames < offsetHighestFrames - slackFrames ||
        offsetFrames > offsetLowestFrames + slackFrames) {
        offsetPaceFrames = framesPerQuarterNote;
        offsetLowestFrames = offsetHighestFrames = offsetFrames;
        return time.ppqPos;
    }
    offsetLowestFrames = std::min(offsetLowestFrames, offsetFrames);
    offsetHighestFrames = std::max(offsetHighestFrames, offsetFrames);
    return (time.samplePos + 0.5 * (offsetLowestFrames + offsetHighestFrames)) / framesPerQuarterNote;
}

// The first grid point at or after the frame, in quarter notes. The grid
// starts again at every bar line, so a step that does not divide the bar
// (a half note in 3/4) ends short at the bar line.
double TapeMotor::nextGridPoint(const Grid& grid, VstInt32 frame) const {
    const double fromBarFrames = (grid.blockQuarterNotes - grid.originQuarterNotes) * grid.framesPerQuarterNote + frame;
    const double barFrames = grid.barQuarterNotes * grid.framesPerQuarterNote;
    const double bars = std::floor((fromBarFrames + kOnGridFrames) / barFrames);
    const double intoBarFrames = fromBarFrames - bars * barFrames;
    const double steps = std::ceil((intoBarFrames - kOnGridFrames) / (grid.stepQuarterNotes * grid.framesPerQuarterNote));
    return grid.originQuarterNotes + bars * grid.barQuarterNotes +
           std::min(steps * grid.stepQuarterNotes, grid.barQuarterNotes);
}

// The frame of this block where the waiting switch lands; 0 once the grid
// is gone.
VstInt32 TapeMotor::waitingSwitchFrame(const Grid& grid) const {
    if (!grid.valid) return 0;
    const double frames = (switchAtQuarterNotes - grid.blockQuarterNotes) * grid.framesPerQuarterNote;
    return static_cast<VstInt32>(std::clamp(std::ceil(frames - kOnGridFrames), 0.0, 1e9));
}

// The motor is wanted off or on from this frame: at once without a grid,
// else at the next grid point. A newer wish replaces a waiting one.
void TapeMotor::wantMotor(bool off, VstInt32 frame, const Grid& grid) {
    if (switchWaiting && off == motorOff) {
        switchWaiting = false;  // back to what the tape does: nothing to switch
        return;
    }
    if (switchWaiting || off == motorOff) return;
    if (!grid.valid) {
        motorOff = off;
        return;
    }
    switchAtQuarterNotes = nextGridPoint(grid, frame);
    switchWaiting = true;
    if (waitingSwitchFrame(grid) <= frame) {
        motorOff = off;
        switchWaiting = false;
    }
}

// --- Audio thread. Controls, tempo and position are read once per block;
// MIDI notes switch the motor on their own frame.

TapeMotor::Controls TapeMotor::readControls() {
    const bool synced = parameters[kSync].load(kRelaxed) >= kSwitchOnValue;
    const int gridIndex = tapemotor::gridIndex(parameters[kQuantize].load(kRelaxed));
    double tempoBpm = lastTempoBpm.load(kRelaxed);
    const VstTimeInfo* time = nullptr;
    if (gridIndex != tapemotor::kGridOff)
        time = getTimeInfo(kVstTempoValid | kVstPpqPosValid | kVstBarsValid | kVstTimeSigValid);
    else if (synced)
        time = getTimeInfo(kVstTempoValid);
    if (synced) {
        const bool valid = time != nullptr && (time->flags & kVstTempoValid) != 0 && std::isfinite(time->tempo) &&
                           time->tempo > 0.0;
        tempoBpm = valid ? time->tempo : kDefaultTempoBpm;
        lastTempoBpm.store(static_cast<float>(tempoBpm), kRelaxed);
    }
    return Controls{
        parameters[kTrigger].load(kRelaxed) >= kSwitchOnValue,
        parameters[kMode].load(kRelaxed) >= kSwitchOnValue,
        parameters[kBrake].load(kRelaxed) >= kSwitchOnValue,
        lengthFrames(parameters[kStop].load(kRelaxed), synced, tempoBpm, tapeRateHz),
        lengthFrames(parameters[kStart].load(kRelaxed), synced, tempoBpm, tapeRateHz),
        tapemotor::curveExponent(parameters[kCurve].load(kRelaxed)),
        parameters[kMix].load(kRelaxed),
        parameters[kTone].load(kRelaxed) >= kLeastTone ? parameters[kTone].load(kRelaxed) : 0.0f,
        readGrid(time, gridIndex),
    };
}

void TapeMotor::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    followHostRate();
    // Caught up with the motor running and nothing due: a copy, nothing more.
    if (tape.motion == Motion::kCaughtUp && pendingEventCount == 0 && heldNoteCount == 0 && !latchedOff &&
        !motorOff && !switchWaiting && parameters[kTrigger].load(kRelaxed) < kSwitchOnValue) {
        passThrough(tape, inputs, outputs, 0, sampleFrames);
        return;
    }
    const Controls controls = readControls();
    // The tape's gain falls toward zero as it stops: no subnormal products
    // from here on, after the host's time is read.
    const FlushToZero noSubnormals;
    if (!controls.latch) latchedOff = false;  // the latched state belongs to Latch
    Tape local = tape;
    rescaleRamp(local, controls);
    if (switchWaiting && controls.grid.valid &&
        switchAtQuarterNotes - controls.grid.blockQuarterNotes > controls.grid.stepQuarterNotes)
        switchAtQuarterNotes = nextGridPoint(controls.grid, 0);  // the transport jumped back
    wantMotor(wantedOff(controls), 0, controls.grid);
    VstInt32 frame = 0;
    for (VstInt32 e = 0; e < pendingEventCount; ++e) {
        const VstInt32 at = std::clamp(pendingEvents[e].deltaFrames, frame, std::max(frame, sampleFrames));
        runUntil(local, controls, inputs, outputs, frame, at);
        applyEvent(pendingEvents[e], controls.latch);
        wantMotor(wantedOff(controls), at, controls.grid);
        frame = at;
    }
    pendingEventCount = 0;
    runUntil(local, controls, inputs, outputs, frame, sampleFrames);
    tape = local;
    tapeSpeed.store(local.speed, kRelaxed);
    motorIsOff.store(motorOff, kRelaxed);
}

// Frames [from, to), a waiting switch landing on its frame on the way.
void TapeMotor::runUntil(Tape& tape, const Controls& controls, const float* const* in, float* const* out,
                         VstInt32 from, VstInt32 to) {
    while (switchWaiting) {
        const VstInt32 lands = std::max(from, waitingSwitchFrame(controls.grid));
        if (lands >= to) break;
        runTape(tape, controls, in, out, from, lands);
        motorOff = !motorOff;
        switchWaiting = false;
        from = lands;
    }
    runTape(tape, controls, in, out, from, to);
}

// A length changed during a ramp keeps the fraction passed, so the speed
// goes on from where it is at the new pace; a curve changed during a ramp
// goes on from the fraction where the new curve has the present speed.
void TapeMotor::rescaleRamp(Tape& tape, const Controls& controls) {
    if (tape.motion == Motion::kStopping && controls.stopFrames != tape.stopFrames)
        tape.rampFrames = tape.rampFrames * controls.stopFrames / tape.stopFrames;
    if (tape.motion == Motion::kStarting && controls.startFrames != tape.startFrames)
        tape.rampFrames = tape.rampFrames * controls.startFrames / tape.startFrames;
    tape.stopFrames = controls.stopFrames;
    tape.startFrames = controls.startFrames;
    tape.perStopFrame = 1.0 / controls.stopFrames;
    tape.perStartFrame = 1.0 / controls.startFrames;
    if (controls.curveExponent != tape.curveExponent) {
        tape.curveExponent = controls.curveExponent;
        tape.turnFraction = turnFraction(controls.curveExponent);
        if (tape.motion == Motion::kStopping || tape.motion == Motion::kStarting) enterRamp(tape);
    }
}

// Frames [from, to) with the motor in one state.
void TapeMotor::runTape(Tape& tape, const Controls& controls, const float* const* in, float* const* out,
                        VstInt32 from, VstInt32 to) {
    switchMotor(tape, motorOff, controls.spinback);
    if (controls.tone > 0.0f)
        runMoving<true>(tape, controls, in, out, from, to);
    else
        runMoving<false>(tape, controls, in, out, from, to);
}

// The moving tape, a run of frames at a time: first how the tape moves
// through the run (speed, crossfade, where the head is), then the cubic's
// weights four frames at once, then what it plays, frame by frame (record,
// read, darken, fade, blend). The last step has no chain from frame to
// frame but the recording and Tone's poles. kToned: Tone is up.
template <bool kToned>
void TapeMotor::runMoving(Tape& tape, const Controls& controls, const float* const* in, float* const* out,
                          VstInt32 from, VstInt32 to) {
    const float mix = controls.mix;
    const float dry = 1.0f - mix;
    const auto longestLagFrames = static_cast<double>(tapeMask + 1 - 2 * kTapFrames);
    HeadSteps steps;
    for (VstInt32 i = from; i < to;) {
        if (tape.motion == Motion::kCaughtUp) {
            passThrough(tape, in, out, i, to);  // 1. caught up
            return;
        }
        // 2. The motion of up to kRunFrames frames, ending early where the
        // tape catches up (that frame plays the input).
        const VstInt32 run = std::min(to - i, kRunFrames);
        VstInt32 moved = 0;
        while (moved < run) {
            const VstInt32 k = moved++;
            tape.readableLagFrames = std::min(tape.readableLagFrames + 1.0, longestLagFrames);
            moveSpeed(tape);       // speed of this frame
            moveLiveShare(tape);   // crossfade to the live input
            placeHead(tape.lagFrames, steps.u[k], steps.back[k]);
            steps.speed[k] = tape.speed;
            steps.liveShare[k] = tape.liveShare;
            if (tape.motion == Motion::kCaughtUp) break;
            // The head moves on at the tape's speed, the input at one frame.
            // A lag longer than what is recorded drags the head along with
            // the oldest recorded frames.
            tape.lagFrames = std::min(tape.lagFrames + (1.0 - tape.speed), tape.readableLagFrames);
        }
        const bool caughtUp = tape.motion == Motion::kCaughtUp;
        // 3. The cubic's weights, four frames at a time.
        std::fill(steps.u + moved, steps.u + ((moved + 3) & ~3), 2.0f);
        for (VstInt32 k = 0; k < moved; k += 4)
            lagrangeWeights(steps.u + k, steps.w[0] + k, steps.w[1] + k, steps.w[2] + k, steps.w[3] + k);
        // 4. What the tape plays in those frames.
        // Locals: the outputs cannot alias them.
        std::uint32_t writeIndex = tape.writeIndex;
        StereoFrame toneState[2] = {tape.toneState[0], tape.toneState[1]};
        for (VstInt32 k = 0; k < moved; ++k, ++i) {
            const float inL = in[0][i], inR = in[1][i];
            tapeFrames[writeIndex] = StereoFrame{inL, inR};  // record
            writeIndex = (writeIndex + 1) & tapeMask;
            if (caughtUp && k == moved - 1) {
                out[0][i] = inL;
                out[1][i] = inR;
                break;
            }
            const float speed = steps.speed[k];
            // The tape at the read head, darkened as it slows, faded below a
            // quarter of normal speed.
            StereoFrame played{0.0f, 0.0f};
            if (speed != 0.0f) {
                StereoFrame head = readTape(writeIndex - 1 - steps.back[k],
                                            {steps.w[0][k], steps.w[1][k], steps.w[2][k], steps.w[3][k]});
                if (kToned) head = darken(toneState, head, speed, controls.tone);
                const float gain = std::min(1.0f, std::abs(speed) / kFadeBelowSpeed);
                played = {gain * head.left, gain * head.right};
            }
            // Wet: the tape, crossfaded toward the live input; then the blend
            // with the dry input.
            const float live = steps.liveShare[k];
            const float wetL = (1.0f - live) * played.left + live * inL;
            const float wetR = (1.0f - live) * played.right + live * inR;
            out[0][i] = dry * inL + mix * wetL;
            out[1][i] = dry * inR + mix * wetR;
        }
        tape.writeIndex = writeIndex;
        tape.toneState[0] = toneState[0];
        tape.toneState[1] = toneState[1];
        if (caughtUp) ++i;
    }
}

inline void TapeMotor::record(Tape& tape, float left, float right) {
    tapeFrames[tape.writeIndex] = StereoFrame{left, right};
    tape.writeIndex = (tape.writeIndex + 1) & tapeMask;
}

// Caught up: the input, bit for bit. Only the frames a stop can reach are
// recorded: a stop begins at the newest frame, and the interpolation looks
// kTapFrames back.
void TapeMotor::passThrough(Tape& tape, const float* const* in, float* const* out, VstInt32 from, VstInt32 to) {
    for (int channel = 0; channel < 2; ++channel)
        if (out[channel] != in[channel] && to > from)
            std::memmove(out[channel] + from, in[channel] + from, sizeof(float) * static_cast<std::size_t>(to - from));
    const VstInt32 first = std::max(from, to - static_cast<VstInt32>(kTapFrames));
    tape.writeIndex = (tape.writeIndex + static_cast<std::uint32_t>(first - from)) & tapeMask;
    for (VstInt32 i = first; i < to; ++i) record(tape, in[0][i], in[1][i]);
    tape.readableLagFrames = kTapFrames - 3;  // node 0 of the cubic reaches lag + 2 back
}

// The motor switched off or on. From caught up the stop begins at the
// newest frame, which the output is now; from standstill the start begins at
// the live point, so the music that returns is the music playing now.
// Otherwise the head goes on from where it is. A stop keeps the brake it
// began with; one that begins while the tape runs backwards spins back.
void TapeMotor::switchMotor(Tape& tape, bool motorOff, bool spinback) {
    const Motion was = tape.motion;
    if (motorOff && (was == Motion::kCaughtUp || was == Motion::kStarting || was == Motion::kCatchingUp))
        tape.motion = Motion::kStopping;
    else if (!motorOff && (was == Motion::kStopping || was == Motion::kStopped))
        tape.motion = Motion::kStarting;
    else
        return;
    if (was == Motion::kCaughtUp) {
        tape.lagFrames = 0.0;
        tape.speed = 1.0f;
        tape.liveShare = 0.0f;
        tape.toneState[0] = tape.toneState[1] = StereoFrame{0.0f, 0.0f};
    } else if (was == Motion::kStopped) {
        tape.lagFrames = 0.0;
    }
    tape.spinback = tape.motion == Motion::kStopping && (spinback || tape.speed < 0.0f);
    enterRamp(tape);
}

// The ramp begins where its curve has the present speed, so the speed never
// jumps: x = 1 - s^(1/e) for a stop, 1 - (1 - s)^(1/e) for a start; a
// spinback's forward run is the stop's squeezed into the turn, its reverse
// run is entered on the coast.
void TapeMotor::enterRamp(Tape& tape) {
    const float inverse = 1.0f / tape.curveExponent;
    if (tape.motion != Motion::kStopping)
        tape.rampFrames = (1.0 - ::powf(1.0f - tape.speed, inverse)) * tape.startFrames;
    else if (!tape.spinback)
        tape.rampFrames = (1.0 - ::powf(tape.speed, inverse)) * tape.stopFrames;
    else if (tape.speed >= 0.0f)
        tape.rampFrames = (1.0 - ::powf(tape.speed, inverse)) * tape.turnFraction * tape.stopFrames;
    else
        tape.rampFrames = (tape.turnFraction + (1.0 - tape.turnFraction) * coastShareAt(-tape.speed)) * tape.stopFrames;
}

// Stop: speed (1 - x)^e; start: 1 - (1 - x)^e; x the fraction of the length
// passed, counted in whole frames so that standstill falls on its frame.
inline void TapeMotor::moveSpeed(Tape& tape) {
    switch (tape.motion) {
        case Motion::kStopping: {
            const double x = tape.rampFrames * tape.perStopFrame;
            if (tape.spinback) {
                tape.speed = spinbackSpeed(tape, x);
                tape.rampFrames += 1.0;
                if (x >= 1.0) tape.motion = Motion::kStopped;
                break;
            }
            tape.speed = x < 1.0 ? curve(static_cast<float>(1.0 - x), tape.curveExponent) : 0.0f;
            tape.rampFrames += 1.0;
            if (tape.speed <= 0.0f) tape.motion = Motion::kStopped;
            break;
        }
        case Motion::kStarting: {
            const double x = tape.rampFrames * tape.perStartFrame;
            tape.speed = x < 1.0 ? 1.0f - curve(static_cast<float>(1.0 - x), tape.curveExponent) : 1.0f;
            tape.rampFrames += 1.0;
            if (tape.speed >= 1.0f) tape.motion = Motion::kCatchingUp;
            break;
        }
        case Motion::kStopped: tape.speed = 0.0f; break;
        case Motion::kCatchingUp:
        case Motion::kCaughtUp: tape.speed = 1.0f; break;
    }
}

// The spinback's speed at x of the stop: the forward run to the turn, then
// the reverse run to standstill at x = 1.
float TapeMotor::spinbackSpeed(const Tape& tape, double x) {
    const double turn = tape.turnFraction;
    if (x < turn) return curve(static_cast<float>(1.0 - x / turn), tape.curveExponent);
    if (x >= 1.0) return 0.0f;
    const double y = (x - turn) / (1.0 - turn);
    return static_cast<float>(-kSpinbackPeakSpeed * kReverseShape * y * (1.0 - y) * (1.0 - y));
}

// The live share rises over the crossfade once the tape runs at full speed
// and falls back at the same pace otherwise; at 1 the tape is caught up.
inline void TapeMotor::moveLiveShare(Tape& tape) const {
    if (tape.motion != Motion::kCatchingUp) {
        tape.liveShare = std::max(0.0f, tape.liveShare - crossfadeStep);
        return;
    }
    tape.liveShare = std::min(1.0f, tape.liveShare + crossfadeStep);
    if (tape.liveShare >= 1.0f) {
        tape.motion = Motion::kCaughtUp;
        tape.lagFrames = 0.0;
    }
}

// Where the head reads lagFrames behind the newest frame: node 0 of the
// cubic, back frames behind the newest, and u, where the head is counted
// from node 0. Close to the newest frame the four nodes are the newest four,
// so the head never reads a frame not yet recorded.
inline void TapeMotor::placeHead(double lagFrames, float& u, std::uint32_t& back) {
    // The lag is never negative, so truncation is the floor.
    const auto whole = static_cast<std::uint32_t>(lagFrames);
    u = 2.0f - static_cast<float>(lagFrames - whole);  // in (1, 2]
    back = whole + 2;
    if (back < kTapFrames - 1) {
        u += static_cast<float>(kTapFrames - 1 - back);
        back = kTapFrames - 1;
    }
}

// The cubic through the four frames from the slot of node 0 on.
[[gnu::always_inline]] inline TapeMotor::StereoFrame TapeMotor::readTape(std::uint32_t first, Weights w) const {
    const StereoFrame& p0 = tapeFrames[first & tapeMask];
    const StereoFrame& p1 = tapeFrames[(first + 1) & tapeMask];
    const StereoFrame& p2 = tapeFrames[(first + 2) & tapeMask];
    const StereoFrame& p3 = tapeFrames[(first + 3) & tapeMask];
    return {w.w0 * p0.left + w.w1 * p1.left + w.w2 * p2.left + w.w3 * p3.left,
            w.w0 * p0.right + w.w1 * p1.right + w.w2 * p2.right + w.w3 * p3.right};
}

// Tone: the head through two one-pole low-passes whose cutoff follows the
// speed, mixed in as the tape slows below normal speed. At normal speed (and
// faster) the head passes untouched.
[[gnu::always_inline]] inline TapeMotor::StereoFrame TapeMotor::darken(StereoFrame (&state)[2], StereoFrame head,
                                                                       float speed, float tone) const {
    speed = std::abs(speed);
    const float step = std::max(toneFloorStep, toneStepPerSpeed * speed);
    const float g = step / (1.0f + step), keep = 1.0f - g;
    // y = keep * y + g * x: one multiplication and one addition from frame
    // to frame.
    StereoFrame& first = state[0];
    StereoFrame& second = state[1];
    first = {keep * first.left + (g * head.left + kToneOffset), keep * first.right + (g * head.right + kToneOffset)};
    second = {keep * second.left + g * first.left, keep * second.right + g * first.right};
    const float depth = tone * std::min(1.0f, kToneDepthPerSlowdown * (1.0f - speed));
    if (depth <= 0.0f) return head;
    return {head.left + depth * (second.left - head.left), head.right + depth * (second.right - head.right)};
}
