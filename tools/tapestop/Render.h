// Rendering a file through a plug-in, block by block, as a host plays it:
// open, sample rate, block size, parameters, resume, process, suspend, close.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "Options.h"

namespace tapestop {

struct RenderSummary {
    std::int64_t frames = 0;
    int sampleRateHz = 0;
    int channels = 0;
    double wallSeconds = 0.0;
    float peak = 0.0f;  // largest magnitude the plug-in put out, before clipping
    bool clips = false;
    std::int64_t clippedSamples = 0;
    std::string formatDescription;
    std::size_t eventsPastEnd = 0;
};

// Throws on any failure, leaving no output behind and any existing output
// untouched. Stops with an error as soon as `stopRequested` turns true.
RenderSummary render(const RenderOptions& options, const std::atomic<bool>& stopRequested);

// The closing lines of a render, for the terminal.
std::string describe(const RenderSummary& summary);

}  // namespace tapestop
