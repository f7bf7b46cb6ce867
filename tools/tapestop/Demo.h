// A short stereo signal made for hearing a tape stop: a held bass note and
// an arpeggio of bright tones, whose falling pitch is easy to follow, over a
// beat of kicks and hi-hats.
#pragma once

#include <string>

namespace tapestop {

constexpr int kDemoSampleRateHz = 48000;
constexpr double kDemoSeconds = 6.0;

// Writes the signal in the format the extension names (32-bit float for
// .wav); throws AudioFileError.
void writeDemoSignal(const std::string& path);

}  // namespace tapestop
