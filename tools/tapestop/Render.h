// Rendering a file through a plug-in, block by block, as a host plays it:
// open, sample rate, block size, resume, parameters, process, suspend, close.
// The plug-in runs in a child process, so that its crash, abort, exit or hang
// cannot take the render's output with it: the parent writes the output, and
// gives it its name once the child has handed over every frame. What the
// plug-in does after that, while it closes and unloads, only adds a warning.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "AudioFile.h"
#include "Options.h"

namespace tapestop {

// What a render counts. Plain data: the child's part crosses to the parent
// through shared memory.
struct RenderCounts {
    std::int64_t frames = 0;           // rendered
    std::int64_t presentFrames = 0;    // in the input, as far as it can be told before reading; -1 unknown
    std::int64_t announcedFrames = 0;  // what the input's header promised
    std::int64_t unclaimedFrames = 0;  // audio after an input chunk whose size says 0
    int sampleRateHz = 0;
    int channels = 0;
    int pluginInputs = 0;   // pins, per instance
    int pluginOutputs = 0;
    SampleLevels levels;  // of the file as written
    ConformedSamples conformed;  // samples changed so that the format can hold them
    std::int64_t unwrittenSamples = 0;  // left unwritten by the plug-in, written as silence
    std::int64_t eventsPastEnd = 0;
};

struct RenderSummary {
    RenderCounts counts;
    double wallSeconds = 0.0;
    OutputFormat format;  // as written
    std::vector<std::string> warnings;  // one line each, without the program's name
};

// A render that ended early because the user interrupted it; `signal` is
// the interrupting signal.
class Interrupted : public std::runtime_error {
public:
    explicit Interrupted(int signal) : std::runtime_error("interrupted; no output written"), signal(signal) {}
    int signal;
};

// Throws on any failure (UsageError for a command line the plug-in cannot
// carry out, Interrupted), leaving no output behind and any existing output
// untouched.
RenderSummary render(const RenderOptions& options);

// The closing lines of a render, for the terminal.
std::string describe(const RenderSummary& summary);

}  // namespace tapestop
