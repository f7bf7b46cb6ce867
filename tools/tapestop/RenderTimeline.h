// What the command line asks to happen during a render, resolved against the
// plug-in once it is open: the settings made before the first frame, and the
// parameter changes and MIDI notes at their frames.
#pragma once

#include <vector>

#include "BlockProcessor.h"
#include "Options.h"
#include "PluginHost.h"

namespace tapestop {

// The frame a time names in a file at `sampleRateHz`, rounded to the nearest.
std::int64_t framesAt(const TimeSpec& time, int sampleRateHz);

// Sets each parameter; throws UsageError for a parameter set twice and for a
// text the plug-in refuses, ParameterError for an unknown parameter.
void applySettings(host::Effect& effect, const std::vector<ParameterAssignment>& settings);

// The events at frames of a file at `sampleRateHz`; throws as applySettings
// does, and UsageError for two changes of one parameter on one frame.
host::Timeline resolveTimeline(host::Effect& effect, const std::vector<TimedEvent>& events, int sampleRateHz);

}  // namespace tapestop
