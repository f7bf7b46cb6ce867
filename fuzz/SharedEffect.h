// One effect per fuzz process, put back into its start state through the
// interface after every input: creating a 3.8 MB effect for each input
// would take nearly all the fuzzing time.
//
// Whether the restored effect answers every input as a fresh one does is
// checked, not assumed: with TAPESTOP_FUZZ_CHECK_RESTORE=1 in the
// environment each input also runs on a fresh effect, and the two digests of
// everything the effect answered and wrote must agree.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FuzzInput.h"

namespace fuzz {

// FNV-1a over what an effect answered and wrote for one input.
class Digest {
public:
    void add(const void* data, std::size_t bytes) {
        const auto* byte = static_cast<const std::uint8_t*>(data);
        for (std::size_t i = 0; i < bytes; ++i) value_ = (value_ ^ byte[i]) * 1099511628211ull;
    }
    template <typename T>
    void add(const T& value) {
        add(&value, sizeof(value));
    }
    std::uint64_t value() const { return value_; }

private:
    std::uint64_t value_ = 14695981039346656037ull;
};

inline bool checkingRestore() {
    static const bool checking = [] {
        const char* setting = std::getenv("TAPESTOP_FUZZ_CHECK_RESTORE");
        return setting != nullptr && std::strcmp(setting, "1") == 0;
    }();
    return checking;
}

inline void closeEffect(AEffect* effect) {
    if (effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f) != 1) fail("effClose did not answer 1", 0);
}

// Closes the effect and puts a fresh one in its place.
inline void renewEffect(AEffect*& effect) {
    closeEffect(effect);
    effect = createEffect();
    if (effect == nullptr) fail("no effect", 0);
}

// Runs one input on the shared effect, then restores it; when checking, runs
// the input on a fresh effect too and compares. Prepare(AEffect*&, data,
// size) may ready the shared effect for this input first; Run(AEffect*&,
// Input&, Digest&, bool shared) may use it; either may renew it
// (renewEffect). Restore(AEffect*) puts the shared effect back into its start
// state.
template <typename Prepare, typename Run, typename Restore>
void runShared(const std::uint8_t* data, std::size_t size, Prepare&& prepare, Run&& run, Restore&& restore) {
    static AEffect* shared = createEffect();
    if (shared == nullptr) fail("no effect", 0);
    prepare(shared, data, size);
    Digest reused;
    Input input(data, size);
    run(shared, input, reused, true);
    restore(shared);
    if (!checkingRestore()) return;
    AEffect* fresh = createEffect();
    if (fresh == nullptr) fail("no effect", 0);
    Digest alone;
    Input again(data, size);
    run(fresh, again, alone, false);
    closeEffect(fresh);
    if (reused.value() != alone.value()) fail("the restored effect answered unlike a fresh one", static_cast<long>(size));
}

}  // namespace fuzz
