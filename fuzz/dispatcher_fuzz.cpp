// Fuzzes the dispatcher: sequences of calls with fuzzed opcode, index, value
// and opt, mixed with parameter changes (any 32-bit pattern). ptr always
// points into a scratch block between two sentinel guards; opcodes that read
// value as a pointer get a guarded place of their own. Text opcodes may write
// only their terminated limit; no call may touch a guard. effClose comes last.
#include <algorithm>
#include <array>
#include <cstdint>

#include "FuzzInput.h"

namespace {

constexpr std::size_t kGuardBytes = 64;
constexpr std::size_t kPayloadBytes = 4096;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::size_t kSeedBytes = 32;   // fuzzed bytes put in front of the payload
constexpr int kMaxCalls = 256;

// The most bytes each text opcode may write: its limit plus the terminator.
constexpr std::size_t kParameterTextBytes = 9;
constexpr std::size_t kNameBytes = 25;
constexpr std::size_t kPointerBytes = sizeof(void*);
struct WriteLimit {
    VstInt32 opcode;
    std::size_t bytes;
    bool terminatedAtLimit;  // a written text always ends with a zero at its limit
};
constexpr WriteLimit kWriteLimits[] = {
    {effGetProgramName, kNameBytes, false},
    {effGetParamLabel, kParameterTextBytes, true},
    {effGetParamDisplay, kParameterTextBytes, true},
    {effGetParamName, kParameterTextBytes, true},
    {effGetEffectName, kNameBytes, true},
    {effGetVendorString, kNameBytes, true},
    {effGetProductString, kNameBytes, true},
    {effGetSpeakerArrangement, kPointerBytes, false},
};
constexpr WriteLimit kAnyWrite = {0, kPayloadBytes, false};

// A block of memory between two guards.
struct Guarded {
    std::array<std::uint8_t, kGuardBytes + kPayloadBytes + kGuardBytes> bytes;

    std::uint8_t* payload() { return bytes.data() + kGuardBytes; }
    void reset(fuzz::Input& input) {
        bytes.fill(kGuardByte);
        std::fill_n(payload(), kPayloadBytes, 0);
        // Fuzzed bytes in front; the zeros behind terminate any text read here.
        for (std::size_t i = 0; i < kSeedBytes; ++i) payload()[i] = input.take<std::uint8_t>();
    }
    bool guardsIntact() const {
        auto guard = [](std::uint8_t byte) { return byte == kGuardByte; };
        return std::all_of(bytes.begin(), bytes.begin() + kGuardBytes, guard) &&
               std::all_of(bytes.end() - kGuardBytes, bytes.end(), guard);
    }
};

bool readsValueAsPointer(VstInt32 opcode) {
    return opcode == effSetSpeakerArrangement || opcode == effGetSpeakerArrangement;
}

const WriteLimit& writeLimit(VstInt32 opcode) {
    for (const WriteLimit& limit : kWriteLimits)
        if (limit.opcode == opcode) return limit;
    return kAnyWrite;
}

// Mostly opcodes the dispatchers know, sometimes any 32-bit value.
VstInt32 pickOpcode(fuzz::Input& input) {
    const auto raw = input.take<std::int32_t>();
    if ((raw & 0x80000000u) != 0 && (raw & 0x1) != 0) return raw;
    return static_cast<VstInt32>(static_cast<std::uint32_t>(raw) % 106) - 3;  // -3 to 102
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    AEffect* effect = fuzz::createEffect();
    if (effect == nullptr) fuzz::fail("no effect", 0);
    static Guarded ptrBlock, valueBlock;

    for (int call = 0; call < kMaxCalls && !input.empty(); ++call) {
        const auto action = input.take<std::uint8_t>();
        if (action % 8 == 7) {
            const auto index = input.take<std::int8_t>();
            effect->setParameter(effect, index, input.takeFloatBits());
            continue;
        }
        const VstInt32 opcode = pickOpcode(input);
        const auto index = input.take<std::int32_t>();
        auto value = static_cast<VstIntPtr>(input.take<std::int64_t>());
        const float opt = input.takeFloatBits();
        if (opcode == effClose) continue;  // the effect must outlive the sequence
        ptrBlock.reset(input);
        valueBlock.reset(input);
        const std::array<std::uint8_t, kPayloadBytes> before = [&] {
            std::array<std::uint8_t, kPayloadBytes> copy;
            std::copy_n(ptrBlock.payload(), kPayloadBytes, copy.begin());
            return copy;
        }();
        if (readsValueAsPointer(opcode)) value = reinterpret_cast<VstIntPtr>(valueBlock.payload());

        effect->dispatcher(effect, opcode, index, value, ptrBlock.payload(), opt);

        if (!ptrBlock.guardsIntact()) fuzz::fail("a guard around ptr was overwritten by opcode", opcode);
        if (!valueBlock.guardsIntact()) fuzz::fail("a guard around value was overwritten by opcode", opcode);
        const WriteLimit& limit = writeLimit(opcode);
        const std::uint8_t* written = ptrBlock.payload();
        if (!std::equal(before.begin() + limit.bytes, before.end(), written + limit.bytes))
            fuzz::fail("written past its limit by opcode", opcode);
        const bool wrote = !std::equal(before.begin(), before.begin() + limit.bytes, written);
        if (limit.terminatedAtLimit && wrote && written[limit.bytes - 1] != 0)
            fuzz::fail("text not terminated at its limit by opcode", opcode);
    }
    if (effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f) != 1) fuzz::fail("effClose did not answer 1", 0);
    return 0;
}
