#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace tapestop {

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
}

Progress::Progress(std::int64_t totalFrames, int sampleRateHz)
    : totalFrames_(totalFrames), sampleRateHz_(sampleRateHz), enabled_(::isatty(STDERR_FILENO) == 1) {}

void Progress::update(std::int64_t frames) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    const double seconds = static_cast<double>(frames) / sampleRateHz_;
    if (totalFrames_ < 0) {  // an input that does not tell its length
        std::fprintf(stderr, "\rrendering  %.1f s", seconds);
    } else {
        const double percent =
            totalFrames_ > 0 ? 100.0 * static_cast<double>(frames) / static_cast<double>(totalFrames_) : 100.0;
        std::fprintf(stderr, "\rrendering %5.1f%%  %.1f s of %.1f s", percent, seconds,
                     static_cast<double>(totalFrames_) / sampleRateHz_);
    }
    std::fflush(stderr);
}

void Progress::finish() {
    if (!enabled_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

}  // namespace tapestop
