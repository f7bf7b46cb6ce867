// What the host values of Stop, Start, Curve, Quantize, Mode, Brake and Tone
// mean, shared by the processing and the texts.
#pragma once

#include <cmath>

namespace tapemotor {

// Sync off: 10 ms * 1000^v, from 10 ms to 10 s.
constexpr double kShortestSeconds = 0.010;
constexpr double kLengthRange = 1000.0;
// The longest ramp the processing paces, whatever tempo a host reports.
constexpr double kLongestRampFrames = 1e12;

inline double timeSeconds(float hostValue) { return kShortestSeconds * std::pow(kLengthRange, hostValue); }

// The host value whose length is this many seconds.
inline float valueForSeconds(double seconds) {
    return static_cast<float>(std::log(seconds / kShortestSeconds) / std::log(kLengthRange));
}

// Sync on: the note value at index round(8v), in quarter notes; a bar is four.
struct NoteValue {
    const char* text;
    double quarterNotes;
};
constexpr NoteValue kNoteValues[] = {
    {"1/64", 1.0 / 16.0}, {"1/32", 1.0 / 8.0}, {"1/16", 0.25}, {"1/8", 0.5},     {"1/4", 1.0},
    {"1/2", 2.0},         {"1 bar", 4.0},      {"2 bars", 8.0}, {"4 bars", 16.0},
};
constexpr int kNumNoteValues = sizeof(kNoteValues) / sizeof(kNoteValues[0]);
constexpr float kNoteSteps = kNumNoteValues - 1;

inline const NoteValue& noteValue(float hostValue) { return kNoteValues[static_cast<int>(std::lround(kNoteSteps * hostValue))]; }
inline float valueForNote(int index) { return static_cast<float>(index) / kNoteSteps; }

constexpr double kSecondsPerMinute = 60.0;
inline double noteSeconds(float hostValue, double tempoBpm) {
    return noteValue(hostValue).quarterNotes * kSecondsPerMinute / tempoBpm;
}

// Curve: the ramps' exponent 2^(4v - 2), from 1/4 to 4; 1 (v = 0.5) is linear.
inline float curveExponent(float hostValue) { return std::exp2(4.0f * hostValue - 2.0f); }

// Trigger, Sync, Mode (Latch) and Brake (Spinback) are on from here.
constexpr float kSwitchOnValue = 0.5f;

// Quantize: the grid at index round(5v); Off switches at once, a bar follows
// the host's time signature.
struct GridValue {
    const char* text;
    double quarterNotes;  // 0 for Off and for a bar
};
constexpr GridValue kGridValues[] = {{"Off", 0.0}, {"1/16", 0.25}, {"1/8", 0.5}, {"1/4", 1.0}, {"1/2", 2.0}, {"1 bar", 0.0}};
constexpr int kNumGridValues = sizeof(kGridValues) / sizeof(kGridValues[0]);
constexpr int kGridOff = 0;
constexpr int kGridBar = kNumGridValues - 1;
constexpr float kGridSteps = kNumGridValues - 1;

inline int gridIndex(float hostValue) { return static_cast<int>(std::lround(kGridSteps * hostValue)); }
inline float valueForGrid(int index) { return static_cast<float>(index) / kGridSteps; }

// Mode and Brake: two named states each.
constexpr const char* kModeTexts[] = {"Hold", "Latch"};
constexpr const char* kBrakeTexts[] = {"Tape", "Spinback"};

}  // namespace tapemotor
