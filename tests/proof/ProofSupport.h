// Helpers shared by the proof tests: stereo blocks, test signals, and the
// one switch that shortens the long runs under valgrind.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace proof {

// TAPESTOP_PROOF_QUICK=1 (set by CI for the valgrind run) divides the
// repetitions of the long tests; each test still covers every case.
inline bool quickRun() {
    const char* quick = std::getenv("TAPESTOP_PROOF_QUICK");
    return quick != nullptr && std::strcmp(quick, "0") != 0;
}

inline int repetitions(int full, int quick) { return quickRun() ? quick : full; }

// Two channels of samples, one vector each.
struct Stereo {
    explicit Stereo(std::size_t frames, float fill = 0.0f) : left(frames, fill), right(frames, fill) {}
    std::size_t frames() const { return left.size(); }
    std::vector<float> left;
    std::vector<float> right;
};

// Uniform noise in [-amplitude, amplitude], the same for the same seed.
inline Stereo noise(std::size_t frames, std::uint32_t seed, float amplitude = 1.0f) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(-amplitude, amplitude);
    Stereo signal(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        signal.left[i] = sample(random);
        signal.right[i] = sample(random);
    }
    return signal;
}

inline bool allFinite(const float* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isfinite(samples[i])) return false;
    return true;
}

inline std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

}  // namespace proof
