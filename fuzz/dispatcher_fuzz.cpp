// Fuzzes the dispatcher: sequences of calls with fuzzed opcode, index, value
// and opt, mixed with parameter changes (any 32-bit pattern), each read back.
// ptr always points into a scratch block between two sentinel guards;
// opcodes that read value as a pointer get a guarded place of their own.
// Text opcodes may write
// only their terminated limit; no call may touch a guard. effClose is never
// sent by the fuzzer: it would end the effect that every input shares.
//
// One effect serves every input (fuzz/SharedEffect.h). The dispatcher can
// change the parameters, the sample rate, the block size and the program
// number; after each input they are set back to a fresh effect's values
// through the interface. No opcode processes audio, so the processing's
// state stays as it was made.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "SharedEffect.h"

namespace {

constexpr std::size_t kGuardBytes = 64;
constexpr std::size_t kPayloadBytes = 4096;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::size_t kSeedBytes = 32;   // fuzzed bytes put in front of the payload
constexpr int kMaxCalls = 256;
// A fresh effect's values of what the dispatcher can change.
constexpr float kStartParameters[] = {0.0f, 0.1f, 1.0f};  // Trigger, Speed, Mix as host values
constexpr float kStartSampleRateHz = 44100.0f;
constexpr VstIntPtr kStartBlockSizeFrames = 1024;
constexpr VstIntPtr kStartProgram = 0;

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
        std::memset(bytes.data(), kGuardByte, kGuardBytes);
        std::memset(payload() + kPayloadBytes, kGuardByte, kGuardBytes);
        // Fuzzed bytes in front; the zeros behind terminate any text read here.
        input.takeBytes(payload(), kSeedBytes);
        std::memset(payload() + kSeedBytes, 0, kPayloadBytes - kSeedBytes);
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

void runInput(AEffect*& effect, fuzz::Input& input, fuzz::Digest& digest, bool) {
    static Guarded ptrBlock, valueBlock;

    for (int call = 0; call < kMaxCalls && !input.empty(); ++call) {
        const auto action = input.take<std::uint8_t>();
        if (action % 8 == 7) {
            const auto index = input.take<std::int8_t>();
            effect->setParameter(effect, index, input.takeFloatBits());
            const float readBack = effect->getParameter(effect, index);
            if (fuzz::checkingRestore()) digest.add(readBack);
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

        const VstIntPtr answer = effect->dispatcher(effect, opcode, index, value, ptrBlock.payload(), opt);

        if (!ptrBlock.guardsIntact()) fuzz::fail("a guard around ptr was overwritten by opcode", opcode);
        if (!valueBlock.guardsIntact()) fuzz::fail("a guard around value was overwritten by opcode", opcode);
        const WriteLimit& limit = writeLimit(opcode);
        const std::uint8_t* written = ptrBlock.payload();
        if (!std::equal(before.begin() + limit.bytes, before.end(), written + limit.bytes))
            fuzz::fail("written past its limit by opcode", opcode);
        const bool wrote = !std::equal(before.begin(), before.begin() + limit.bytes, written);
        if (limit.terminatedAtLimit && wrote && written[limit.bytes - 1] != 0)
            fuzz::fail("text not terminated at its limit by opcode", opcode);
        // The speaker arrangement is a pointer into the effect, which differs
        // between effects by nature.
        if (fuzz::checkingRestore() && opcode != effGetSpeakerArrangement) {
            digest.add(answer);
            digest.add(written, limit.bytes);
        }
    }
}

void restore(AEffect* effect) {
    for (VstInt32 index = 0; index < static_cast<VstInt32>(std::size(kStartParameters)); ++index)
        effect->setParameter(effect, index, kStartParameters[index]);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, kStartSampleRateHz);
    effect->dispatcher(effect, effSetBlockSize, 0, kStartBlockSizeFrames, nullptr, 0.0f);
    effect->dispatcher(effect, effSetProgram, 0, kStartProgram, nullptr, 0.0f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::runShared(data, size, [](AEffect*, const std::uint8_t*, std::size_t) {}, runInput, restore);
    return 0;
}
