// The progress line on stderr while a file renders, shown only when stderr
// is a terminal.
#pragma once

#include <chrono>
#include <cstdint>

namespace tapestop {

class Progress {
public:
    Progress(std::int64_t totalFrames, int sampleRateHz);
    // Redraws the line at most a few times a second.
    void update(std::int64_t frames);
    // Clears the line.
    void finish();

private:
    std::int64_t totalFrames_;
    int sampleRateHz_;
    bool enabled_;
    std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace tapestop
