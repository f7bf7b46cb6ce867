#include "TapeMotor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "TapeMotorEditor.h"
#include "TapeMotorMappings.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kSwitchOnValue = 0.5f;      // Trigger and Sync are on from here
constexpr float kFadeBelowSpeed = 0.25f;    // the tape's level is min(1, speed / 0.25)
constexpr double kTapeSeconds = 10.0;       // the tape holds at least this much history
constexpr std::uint32_t kTapFrames = 4;     // frames the interpolation reads
constexpr double kCrossfadeSeconds = 0.020; // back to the live input after a start
constexpr double kDefaultRateHz = 44100.0;
constexpr double kLowestRateHz = 1000.0;    // rates outside are paced and sized as the nearest
constexpr double kHighestRateHz = 768000.0;
constexpr double kDefaultTempoBpm = 120.0;

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
// to 3). At a whole u the node there gets weight 1 and the others 0 exactly.
struct Weights {
    float w0, w1, w2, w3;
};
inline Weights lagrangeWeights(float u) {
    const float a = u, b = u - 1.0f, c = u - 2.0f, d = u - 3.0f;
    return {-(b * c * d) / 6.0f, (a * c * d) / 2.0f, -(a * b * d) / 2.0f, (a * b * c) / 6.0f};
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
      publishedSpeed(1.0f),
      tape{},
      tapeRateHz(0.0),
      crossfadeStep(1.0f),
      tapeMask(0),
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

// --- Parameters, any thread.

void TapeMotor::setParameter(VstInt32 index, float value) {
    if (index < 0 || index >= kNumParameters || std::isnan(value)) return;
    parameters[index].store(std::clamp(value, 0.0f, 1.0f), kRelaxed);
}

float TapeMotor::getParameter(VstInt32 index) {
    return index >= 0 && index < kNumParameters ? parameters[index].load(kRelaxed) : 0.0f;
}

double TapeMotor::lengthFrames(float hostValue, bool synced, double tempoBpm) const {
    const double seconds = synced ? tapemotor::noteSeconds(hostValue, tempoBpm) : tapemotor::timeSeconds(hostValue);
    return std::clamp(seconds * tapeRateHz, 1.0, tapemotor::kLongestRampFrames);
}

// The frames a stop and the start after it take at the present settings;
// synced lengths at the tempo the last block read.
VstInt32 TapeMotor::getGetTailSize() {
    const bool synced = parameters[kSync].load(kRelaxed) >= kSwitchOnValue;
    const double tempoBpm = lastTempoBpm.load(kRelaxed);
    const double frames = lengthFrames(parameters[kStop].load(kRelaxed), synced, tempoBpm) +
                          lengthFrames(parameters[kStart].load(kRelaxed), synced, tempoBpm);
    return static_cast<VstInt32>(std::min(std::ceil(frames), static_cast<double>(std::numeric_limits<VstInt32>::max())));
}

VstIntPtr TapeMotor::vendorSpecific(VstInt32 lArg, VstIntPtr, void*, float) {
    return lArg == kDroppedEventsQuery ? droppedEvents.load(kRelaxed) : 0;
}

// --- Lifecycle, dispatcher thread.

bool TapeMotor::sizeTape(double rateHz) {
    tapeRateHz = rateHz;
    crossfadeStep = static_cast<float>(1.0 / std::max(1.0, std::round(kCrossfadeSeconds * rateHz)));
    const std::uint32_t capacity = capacityFrames(rateHz);
    if (tapeFrames && tapeMask + 1 == capacity) return true;
    // A failed allocation keeps the tape there is; lengths follow the new rate.
    std::unique_ptr<StereoFrame[]> frames(new (std::nothrow) StereoFrame[capacity]());
    if (!frames) return false;
    tapeFrames = std::move(frames);
    tapeMask = capacity - 1;
    return true;
}

// The tape is blank and caught up; notes and queued events are forgotten,
// since the host restarts its event stream with the audio.
void TapeMotor::rewindTape() {
    if (tapeFrames) std::fill(tapeFrames.get(), tapeFrames.get() + tapeMask + 1, StereoFrame{0.0f, 0.0f});
    tape = Tape{Motion::kCaughtUp, 0, 0.0, 0.0, 1.0, 1.0, 1.0, 1.0, 1.0f, 1.0f, 1.0f};
    releaseAllNotes();
    pendingEventCount = 0;
    droppedEvents.store(0, kRelaxed);
}

void TapeMotor::resume() {
    const double rateHz = usableRateHz(getSampleRate());
    if (rateHz != tapeRateHz) sizeTape(rateHz);
    rewindTape();
    AudioEffectX::resume();  // asks the host for MIDI events
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

void TapeMotor::applyEvent(const VstMidiEvent& event) {
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
}

void TapeMotor::releaseAllNotes() {
    for (auto& channel : heldNotes) std::fill(std::begin(channel), std::end(channel), false);
    heldNoteCount = 0;
}

// --- Audio thread. Controls and tempo are read once per block; MIDI notes
// switch the motor on their own frame.

TapeMotor::Controls TapeMotor::readControls() {
    const bool synced = parameters[kSync].load(kRelaxed) >= kSwitchOnValue;
    double tempoBpm = lastTempoBpm.load(kRelaxed);
    if (synced) {
        const VstTimeInfo* time = getTimeInfo(kVstTempoValid);
        const bool valid = time != nullptr && (time->flags & kVstTempoValid) != 0 && std::isfinite(time->tempo) &&
                           time->tempo > 0.0;
        tempoBpm = valid ? time->tempo : kDefaultTempoBpm;
        lastTempoBpm.store(static_cast<float>(tempoBpm), kRelaxed);
    }
    return Controls{
        parameters[kTrigger].load(kRelaxed) >= kSwitchOnValue,
        lengthFrames(parameters[kStop].load(kRelaxed), synced, tempoBpm),
        lengthFrames(parameters[kStart].load(kRelaxed), synced, tempoBpm),
        tapemotor::curveExponent(parameters[kCurve].load(kRelaxed)),
        parameters[kMix].load(kRelaxed),
    };
}

void TapeMotor::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    // Caught up with the motor running and no note due: a copy, nothing more.
    if (tape.motion == Motion::kCaughtUp && pendingEventCount == 0 && heldNoteCount == 0 &&
        parameters[kTrigger].load(kRelaxed) < kSwitchOnValue) {
        passThrough(tape, inputs, outputs, 0, sampleFrames);
        publishedSpeed.store(tape.speed, kRelaxed);
        return;
    }
    const Controls controls = readControls();
    Tape local = tape;
    rescaleRamp(local, controls);
    VstInt32 frame = 0;
    for (VstInt32 e = 0; e < pendingEventCount; ++e) {
        const VstInt32 at = std::clamp(pendingEvents[e].deltaFrames, frame, std::max(frame, sampleFrames));
        runTape(local, controls, inputs, outputs, frame, at);
        applyEvent(pendingEvents[e]);
        frame = at;
    }
    pendingEventCount = 0;
    runTape(local, controls, inputs, outputs, frame, sampleFrames);
    tape = local;
    publishedSpeed.store(tape.speed, kRelaxed);
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
        if (tape.motion == Motion::kStopping || tape.motion == Motion::kStarting) enterRamp(tape);
    }
}

// Frames [from, to) with the motor in one state.
void TapeMotor::runTape(Tape& tape, const Controls& controls, const float* const* in, float* const* out,
                        VstInt32 from, VstInt32 to) {
    const bool motorOff = controls.motorOffByTrigger || heldNoteCount > 0;
    switchMotor(tape, motorOff);
    const float mix = controls.mix;
    const float dry = 1.0f - mix;
    const auto longestLagFrames = static_cast<double>(tapeMask + 1 - 2 * kTapFrames);
    for (VstInt32 i = from; i < to; ++i) {
        if (tape.motion == Motion::kCaughtUp) {
            passThrough(tape, in, out, i, to);  // 1. caught up
            return;
        }
        const float inL = in[0][i], inR = in[1][i];
        record(tape, inL, inR);                  // 2. record
        moveSpeed(tape);                         // 3. speed of this frame
        moveLiveShare(tape);                     // 4. crossfade to the live input
        if (tape.motion == Motion::kCaughtUp) {
            out[0][i] = inL;
            out[1][i] = inR;
            continue;
        }
        // 5. The tape at the read head, faded below a quarter of normal speed.
        StereoFrame played{0.0f, 0.0f};
        if (tape.speed > 0.0f) {
            const StereoFrame head = readTape(tape);
            const float gain = std::min(1.0f, tape.speed / kFadeBelowSpeed);
            played = {gain * head.left, gain * head.right};
        }
        // 6. Wet: the tape, crossfaded toward the live input.
        const float live = tape.liveShare;
        const float wetL = (1.0f - live) * played.left + live * inL;
        const float wetR = (1.0f - live) * played.right + live * inR;
        // 7. Blend with the dry input.
        out[0][i] = dry * inL + mix * wetL;
        out[1][i] = dry * inR + mix * wetR;
        // 8. The head moves on at the tape's speed, the input at one frame.
        // A lag longer than the tape drags the head along with the oldest frames.
        tape.lagFrames = std::min(tape.lagFrames + (1.0 - tape.speed), longestLagFrames);
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
}

// The motor switched off or on. From caught up the stop begins at the
// newest frame, which the output is now; from standstill the start begins at
// the live point, so the music that returns is the music playing now.
// Otherwise the head goes on from where it is.
void TapeMotor::switchMotor(Tape& tape, bool motorOff) {
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
    } else if (was == Motion::kStopped) {
        tape.lagFrames = 0.0;
    }
    enterRamp(tape);
}

// The ramp begins where its curve has the present speed, so the speed never
// jumps: x = 1 - s^(1/e) for a stop, 1 - (1 - s)^(1/e) for a start.
void TapeMotor::enterRamp(Tape& tape) {
    const float inverse = 1.0f / tape.curveExponent;
    if (tape.motion == Motion::kStopping)
        tape.rampFrames = (1.0 - ::powf(tape.speed, inverse)) * tape.stopFrames;
    else
        tape.rampFrames = (1.0 - ::powf(1.0f - tape.speed, inverse)) * tape.startFrames;
}

// Stop: speed (1 - x)^e; start: 1 - (1 - x)^e; x the fraction of the length
// passed, counted in whole frames so that standstill falls on its frame.
inline void TapeMotor::moveSpeed(Tape& tape) {
    switch (tape.motion) {
        case Motion::kStopping: {
            const double x = tape.rampFrames * tape.perStopFrame;
            tape.speed = x < 1.0 ? ::powf(static_cast<float>(1.0 - x), tape.curveExponent) : 0.0f;
            tape.rampFrames += 1.0;
            if (tape.speed <= 0.0f) tape.motion = Motion::kStopped;
            break;
        }
        case Motion::kStarting: {
            const double x = tape.rampFrames * tape.perStartFrame;
            tape.speed = x < 1.0 ? 1.0f - ::powf(static_cast<float>(1.0 - x), tape.curveExponent) : 1.0f;
            tape.rampFrames += 1.0;
            if (tape.speed >= 1.0f) tape.motion = Motion::kCatchingUp;
            break;
        }
        case Motion::kStopped: tape.speed = 0.0f; break;
        case Motion::kCatchingUp:
        case Motion::kCaughtUp: tape.speed = 1.0f; break;
    }
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

// The tape at lagFrames behind the newest frame, by the cubic through the
// four frames around it. Close to the newest frame the four are the newest
// four, so the head never reads a frame not yet recorded.
inline TapeMotor::StereoFrame TapeMotor::readTape(const Tape& tape) const {
    // The lag is never negative, so truncation is the floor.
    const auto whole = static_cast<std::uint32_t>(tape.lagFrames);
    float u = 2.0f - static_cast<float>(tape.lagFrames - whole);  // from node 0, in (1, 2]
    std::uint32_t back = whole + 2;                               // node 0, frames behind the newest
    if (back < kTapFrames - 1) {
        u += static_cast<float>(kTapFrames - 1 - back);
        back = kTapFrames - 1;
    }
    const std::uint32_t first = tape.writeIndex - 1 - back;
    const StereoFrame& p0 = tapeFrames[first & tapeMask];
    const StereoFrame& p1 = tapeFrames[(first + 1) & tapeMask];
    const StereoFrame& p2 = tapeFrames[(first + 2) & tapeMask];
    const StereoFrame& p3 = tapeFrames[(first + 3) & tapeMask];
    const Weights w = lagrangeWeights(u);
    return {w.w0 * p0.left + w.w1 * p1.left + w.w2 * p2.left + w.w3 * p3.left,
            w.w0 * p0.right + w.w1 * p1.right + w.w2 * p2.right + w.w3 * p3.right};
}
