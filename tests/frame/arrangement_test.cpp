// Speaker arrangements: the blocks allocateArrangement makes and releases,
// copySpeaker's bounded name copy, and matchArrangement, which builds on the
// other three through the virtual table. This program replaces the array
// allocator so that it can see every block's size and release.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "frame/RecordingEffect.h"

namespace {

struct ArrayAllocations {
    bool watching = false;
    std::vector<std::size_t> sizes;
    std::vector<void*> blocks;
    std::vector<void*> released;
};
ArrayAllocations allocations;

void* allocateArray(std::size_t bytes) {
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (allocations.watching && block != nullptr) {
        allocations.watching = false;  // the log's own growth is not watched
        allocations.sizes.push_back(bytes);
        allocations.blocks.push_back(block);
        allocations.watching = true;
    }
    return block;
}

void releaseArray(void* block) {
    if (allocations.watching && block != nullptr) {
        allocations.watching = false;
        allocations.released.push_back(block);
        allocations.watching = true;
    }
    std::free(block);
}

}  // namespace

void* operator new[](std::size_t bytes) {
    void* block = allocateArray(bytes);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return allocateArray(bytes); }
void operator delete[](void* block) noexcept { releaseArray(block); }
void operator delete[](void* block, std::size_t) noexcept { releaseArray(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { releaseArray(block); }

namespace {

using frametest::CallLog;
using frametest::DefaultEffect;
using frametest::RecordingEffect;
using Calls = std::vector<std::string>;

constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kSpeakerBytes = 112;
constexpr VstInt32 kFirstCountTooLarge = 19173962;  // 8 + 112 * n exceeds 2^31 - 1 from here on
constexpr std::size_t kNameBytes = 64;

class Watch {
public:
    Watch() { allocations = ArrayAllocations{}; allocations.watching = true; }
    ~Watch() { allocations.watching = false; }
};

bool allZero(const void* memory, std::size_t from, std::size_t to) {
    const auto* bytes = static_cast<const unsigned char*>(memory);
    for (std::size_t i = from; i < to; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

std::string letters(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += static_cast<char>('A' + i % 26);
    return text;
}

void setName(VstSpeakerProperties& speaker, const std::string& name) {
    std::memset(speaker.name, 0, sizeof speaker.name);
    std::memcpy(speaker.name, name.data(), std::min(name.size(), sizeof speaker.name));
}

template <typename T>
std::uint32_t bitsOf(T value) {
    std::uint32_t bits;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A speaker whose every field is distinct, with a 70-character name that
// fills all 64 bytes, so nothing terminates it.
VstSpeakerProperties sampleSpeaker(std::uint32_t seed) {
    VstSpeakerProperties speaker;
    const std::uint32_t signalingNan = 0x7FA00000u | seed;
    std::memcpy(&speaker.azimuth, &signalingNan, sizeof signalingNan);
    speaker.elevation = -0.0f;
    speaker.radius = 1.0e-40f;  // subnormal
    speaker.reserved = static_cast<float>(seed);
    setName(speaker, letters(70));
    speaker.type = static_cast<VstInt32>(seed) - 7;
    for (std::size_t i = 0; i < sizeof speaker.future; ++i) speaker.future[i] = static_cast<char>(seed + i);
    return speaker;
}

void expectCopied(const VstSpeakerProperties& to, const VstSpeakerProperties& from) {
    EXPECT_EQ(bitsOf(to.azimuth), bitsOf(from.azimuth));
    EXPECT_EQ(bitsOf(to.elevation), bitsOf(from.elevation));
    EXPECT_EQ(bitsOf(to.radius), bitsOf(from.radius));
    EXPECT_EQ(bitsOf(to.reserved), bitsOf(from.reserved));
    EXPECT_EQ(to.type, from.type);
    EXPECT_EQ(std::memcmp(to.future, from.future, sizeof to.future), 0);
    EXPECT_EQ(std::string(to.name), std::string(from.name, strnlen(from.name, 63)));
    EXPECT_TRUE(allZero(to.name, strnlen(to.name, 63), kNameBytes));
}

// --- allocateArrangement and deallocateArrangement

TEST(Arrangements, AllocateTwoGivesAZeroedBlockOf232Bytes) {
    DefaultEffect effect;
    VstSpeakerArrangement* place = nullptr;
    Watch watch;
    ASSERT_TRUE(effect.allocateArrangement(&place, 2));
    ASSERT_NE(place, nullptr);
    EXPECT_EQ(allocations.sizes, std::vector<std::size_t>{kHeaderBytes + 2 * kSpeakerBytes});
    EXPECT_EQ(allocations.blocks, std::vector<void*>{place});
    EXPECT_EQ(place->type, 0);
    EXPECT_EQ(place->numChannels, 2);
    EXPECT_TRUE(allZero(place, kHeaderBytes, kHeaderBytes + 2 * kSpeakerBytes));

    void* block = place;
    EXPECT_TRUE(effect.deallocateArrangement(&place));
    EXPECT_EQ(place, nullptr);
    EXPECT_EQ(allocations.released, std::vector<void*>{block});
}

TEST(Arrangements, AllocateNoneGivesTheHeaderAlone) {
    DefaultEffect effect;
    VstSpeakerArrangement* place = nullptr;
    Watch watch;
    ASSERT_TRUE(effect.allocateArrangement(&place, 0));
    EXPECT_EQ(allocations.sizes, std::vector<std::size_t>{kHeaderBytes});
    EXPECT_EQ(place->type, 0);
    EXPECT_EQ(place->numChannels, 0);
    effect.deallocateArrangement(&place);
}

TEST(Arrangements, AllocateReplacesTheBlockInThePlace) {
    DefaultEffect effect;
    VstSpeakerArrangement* place = nullptr;
    Watch watch;
    effect.allocateArrangement(&place, 1);
    void* first = place;
    place->type = 5;
    ASSERT_TRUE(effect.allocateArrangement(&place, 3));
    EXPECT_EQ(allocations.released, std::vector<void*>{first});
    EXPECT_EQ(allocations.sizes.back(), kHeaderBytes + 3 * kSpeakerBytes);
    EXPECT_EQ(allocations.blocks.back(), static_cast<void*>(place));
    EXPECT_EQ(place->type, 0);
    EXPECT_EQ(place->numChannels, 3);
    effect.deallocateArrangement(&place);
}

TEST(Arrangements, DeallocateOnAnEmptyPlaceChangesNothing) {
    DefaultEffect effect;
    VstSpeakerArrangement* place = nullptr;
    Watch watch;
    EXPECT_TRUE(effect.deallocateArrangement(&place));
    EXPECT_EQ(place, nullptr);
    EXPECT_TRUE(allocations.released.empty());
}

// A count whose block size would not fit 32 bits, or a negative one, is
// refused before anything is released or allocated.
TEST(Arrangements, ImpossibleCountsLeaveThePlaceAsItWas) {
    for (VstInt32 count : {-1, -2, INT_MIN, kFirstCountTooLarge, INT_MAX}) {
        DefaultEffect effect;
        VstSpeakerArrangement* place = nullptr;
        effect.allocateArrangement(&place, 1);
        place->type = 9;
        VstSpeakerArrangement* const before = place;
        VstSpeakerArrangement* empty = nullptr;
        {
            Watch watch;
            EXPECT_FALSE(effect.allocateArrangement(&place, count)) << count;
            EXPECT_FALSE(effect.allocateArrangement(&empty, count)) << count;
            EXPECT_TRUE(allocations.sizes.empty()) << count;
            EXPECT_TRUE(allocations.released.empty()) << count;
        }
        EXPECT_EQ(place, before) << count;
        EXPECT_EQ(place->type, 9) << count;
        EXPECT_EQ(place->numChannels, 1) << count;
        EXPECT_EQ(empty, nullptr) << count;
        effect.deallocateArrangement(&place);
    }
}

// --- copySpeaker

TEST(Arrangements, CopySpeakerCutsTheNameAt63AndCopiesTheRestBitForBit) {
    DefaultEffect effect;
    const VstSpeakerProperties from = sampleSpeaker(3);
    VstSpeakerProperties to;
    std::memset(&to, 'x', sizeof to);
    ASSERT_TRUE(effect.copySpeaker(&to, const_cast<VstSpeakerProperties*>(&from)));
    EXPECT_EQ(std::memcmp(to.name, letters(63).data(), 63), 0);
    EXPECT_EQ(to.name[63], '\0');
    expectCopied(to, from);
}

TEST(Arrangements, CopySpeakerFillsAfterAShortName) {
    DefaultEffect effect;
    VstSpeakerProperties from = sampleSpeaker(4);
    setName(from, "Left");
    std::memset(from.name + 5, 'y', kNameBytes - 5);  // bytes after the terminator are not copied
    VstSpeakerProperties to;
    std::memset(&to, 'x', sizeof to);
    ASSERT_TRUE(effect.copySpeaker(&to, &from));
    EXPECT_STREQ(to.name, "Left");
    EXPECT_TRUE(allZero(to.name, 4, kNameBytes));
}

TEST(Arrangements, CopySpeakerOntoItselfOnlyCutsTheName) {
    DefaultEffect effect;
    VstSpeakerProperties speaker = sampleSpeaker(5);
    const VstSpeakerProperties before = speaker;
    ASSERT_TRUE(effect.copySpeaker(&speaker, &speaker));
    expectCopied(speaker, before);
    EXPECT_EQ(speaker.name[63], '\0');
}

TEST(Arrangements, CopySpeakerWithANullPointerCopiesNothing) {
    DefaultEffect effect;
    VstSpeakerProperties from = sampleSpeaker(6);
    VstSpeakerProperties to;
    std::memset(&to, 'x', sizeof to);
    EXPECT_FALSE(effect.copySpeaker(&to, nullptr));
    EXPECT_FALSE(effect.copySpeaker(nullptr, &from));
    EXPECT_FALSE(effect.copySpeaker(nullptr, nullptr));
    const auto* bytes = reinterpret_cast<const unsigned char*>(&to);
    for (std::size_t i = 0; i < sizeof to; ++i) ASSERT_EQ(bytes[i], 'x') << i;
}

// --- matchArrangement

// An arrangement of three speakers, the second with a short name.
VstSpeakerArrangement* threeSpeakers(AudioEffectX& effect) {
    VstSpeakerArrangement* from = nullptr;
    effect.allocateArrangement(&from, 3);
    from->type = 42;
    for (VstInt32 i = 0; i < 3; ++i) from->speakers[i] = sampleSpeaker(static_cast<std::uint32_t>(10 + i));
    setName(from->speakers[1], "Centre");
    return from;
}

TEST(Arrangements, MatchReplacesTheTargetWithACopy) {
    DefaultEffect effect;
    VstSpeakerArrangement* from = threeSpeakers(effect);
    VstSpeakerArrangement* to = nullptr;
    effect.allocateArrangement(&to, 1);
    void* old = to;
    {
        Watch watch;
        ASSERT_TRUE(effect.matchArrangement(&to, from));
        EXPECT_EQ(allocations.released, std::vector<void*>{old});
        EXPECT_EQ(allocations.sizes, std::vector<std::size_t>{kHeaderBytes + 3 * kSpeakerBytes});
        EXPECT_EQ(allocations.blocks, std::vector<void*>{to});
    }
    EXPECT_EQ(to->type, 42);
    EXPECT_EQ(to->numChannels, 3);
    for (VstInt32 i = 0; i < 3; ++i) expectCopied(to->speakers[i], from->speakers[i]);
    EXPECT_STREQ(to->speakers[1].name, "Centre");
    EXPECT_EQ(std::string(to->speakers[0].name), letters(63));
    effect.deallocateArrangement(&to);
    effect.deallocateArrangement(&from);
}

// Matched to itself, an arrangement keeps its block: nothing is released
// or allocated, and its long names are cut to 63 characters.
TEST(Arrangements, MatchOntoItselfKeepsTheBlock) {
    DefaultEffect effect;
    VstSpeakerArrangement* arrangement = threeSpeakers(effect);
    VstSpeakerArrangement* const before = arrangement;
    {
        Watch watch;
        ASSERT_TRUE(effect.matchArrangement(&arrangement, arrangement));
        EXPECT_TRUE(allocations.released.empty());
        EXPECT_TRUE(allocations.sizes.empty());
    }
    EXPECT_EQ(arrangement, before);
    EXPECT_EQ(arrangement->type, 42);
    EXPECT_EQ(arrangement->numChannels, 3);
    EXPECT_STREQ(arrangement->speakers[1].name, "Centre");
    EXPECT_EQ(std::string(arrangement->speakers[0].name), letters(63));
    effect.deallocateArrangement(&arrangement);
}

TEST(Arrangements, MatchWithoutASourceLeavesTheTarget) {
    DefaultEffect effect;
    VstSpeakerArrangement* to = nullptr;
    effect.allocateArrangement(&to, 1);
    VstSpeakerArrangement* const before = to;
    Watch watch;
    EXPECT_FALSE(effect.matchArrangement(&to, nullptr));
    EXPECT_EQ(to, before);
    EXPECT_TRUE(allocations.released.empty());
    allocations.watching = false;
    effect.deallocateArrangement(&to);
}

TEST(Arrangements, MatchGoesThroughTheOtherThreeOperations) {
    CallLog log;
    RecordingEffect effect(nullptr, log);
    VstSpeakerArrangement* from = threeSpeakers(effect);
    VstSpeakerArrangement* to = nullptr;
    log.calls.clear();

    ASSERT_TRUE(effect.AudioEffectX::matchArrangement(&to, from));

    using frametest::argText;
    Calls expected = {"deallocateArrangement(" + argText(&to) + ")", "allocateArrangement(" + argText(&to) + ", 3)"};
    for (VstInt32 i = 0; i < 3; ++i)
        expected.push_back("copySpeaker(" + argText(&to->speakers[i]) + ", " + argText(&from->speakers[i]) + ")");
    EXPECT_EQ(log.calls, expected);
    effect.AudioEffectX::deallocateArrangement(&to);
    effect.AudioEffectX::deallocateArrangement(&from);
}

// An effect whose arrangement operations fail where a test says.
class FailingEffect : public DefaultEffect {
public:
    bool failDeallocate = false;
    bool failAllocate = false;
    int failCopyAt = -1;
    int copies = 0;
    bool deallocateArrangement(VstSpeakerArrangement** a) override {
        return !failDeallocate && DefaultEffect::deallocateArrangement(a);
    }
    bool allocateArrangement(VstSpeakerArrangement** a, VstInt32 n) override {
        return !failAllocate && DefaultEffect::allocateArrangement(a, n);
    }
    bool copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from) override {
        return copies++ != failCopyAt && DefaultEffect::copySpeaker(to, from);
    }
};

TEST(Arrangements, MatchStopsWhereAnOperationFails) {
    {
        FailingEffect effect;
        VstSpeakerArrangement* from = threeSpeakers(effect);
        VstSpeakerArrangement* to = nullptr;
        effect.failDeallocate = true;
        EXPECT_FALSE(effect.matchArrangement(&to, from));
        EXPECT_EQ(to, nullptr);
        EXPECT_EQ(effect.copies, 0);
        effect.failDeallocate = false;
        effect.deallocateArrangement(&from);
    }
    {
        FailingEffect effect;
        VstSpeakerArrangement* from = threeSpeakers(effect);
        VstSpeakerArrangement* to = nullptr;
        effect.failAllocate = true;
        EXPECT_FALSE(effect.matchArrangement(&to, from));
        EXPECT_EQ(to, nullptr);
        EXPECT_EQ(effect.copies, 0);
        effect.deallocateArrangement(&from);
    }
    {
        // Failing at the second speaker keeps the new arrangement, the first
        // speaker copied and the others zero.
        FailingEffect effect;
        VstSpeakerArrangement* from = threeSpeakers(effect);
        VstSpeakerArrangement* to = nullptr;
        effect.failCopyAt = 1;
        EXPECT_FALSE(effect.matchArrangement(&to, from));
        ASSERT_NE(to, nullptr);
        EXPECT_EQ(effect.copies, 2);
        EXPECT_EQ(to->type, 42);
        expectCopied(to->speakers[0], from->speakers[0]);
        EXPECT_TRUE(allZero(&to->speakers[1], 0, 2 * kSpeakerBytes));
        effect.deallocateArrangement(&to);
        effect.deallocateArrangement(&from);
    }
}

}  // namespace
