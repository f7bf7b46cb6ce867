// The fuzzers' view of their input: values taken from the front, little
// endian, zero once the input is used up, so that seed files are easy to
// write (fuzz/make_seeds.py).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AudioEffect.h"

namespace fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return offset_ >= size_; }

    template <typename T>
    T take() {
        T value{};
        const std::size_t count = offset_ < size_ ? std::min(sizeof(T), size_ - offset_) : 0;
        std::memcpy(&value, data_ + offset_, count);
        offset_ += sizeof(T);
        return value;
    }

    // The next bytes as they stand, zeros past the end.
    void takeBytes(std::uint8_t* to, std::size_t count) {
        const std::size_t available = offset_ < size_ ? std::min(count, size_ - offset_) : 0;
        std::memcpy(to, data_ + offset_, available);
        std::memset(to + available, 0, count - available);
        offset_ += count;
    }

    // Any 32-bit pattern: NaN, infinities and denormals included.
    float takeFloatBits() { return take<float>(); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

// Answers the version query and nothing else, as a plain host would.
inline VstIntPtr plainHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

// The entry function's work, without its export: the fuzzer has a main of
// its own, so the effect is made in process through the frame's factory.
inline AEffect* createEffect() {
    AudioEffect* effect = createEffectInstance(plainHost);
    return effect != nullptr ? effect->getAeffect() : nullptr;
}

[[noreturn]] inline void fail(const char* what, long detail) {
    std::fprintf(stderr, "fuzz check failed: %s (%ld)\n", what, detail);
    std::abort();
}

}  // namespace fuzz
