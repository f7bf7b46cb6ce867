// Helpers shared by the proof tests: the stereo signals and bit checks of
// the other tests, a finiteness check, and the one switch that shortens the
// long runs under valgrind.
#pragma once

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "LoadedPlugin.h"

namespace proof {

using testing_support::bitsOf;
using testing_support::noise;
using testing_support::Stereo;

// TAPESTOP_PROOF_QUICK=1 (set by CI for the valgrind run) divides the
// repetitions of the long tests; each test still covers every case.
inline bool quickRun() {
    const char* quick = std::getenv("TAPESTOP_PROOF_QUICK");
    return quick != nullptr && std::strcmp(quick, "0") != 0;
}

inline int repetitions(int full, int quick) { return quickRun() ? quick : full; }

inline bool allFinite(const float* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isfinite(samples[i])) return false;
    return true;
}

}  // namespace proof
