// Audio buffers as a strict host hands them to a plug-in: every channel in a
// mapping of its own with an inaccessible page behind it (or before it), the
// arrays of channel pointers likewise, outputs pre-filled with a sentinel.
// A plug-in that reads or writes past a buffer's end crashes on the guard
// page; one that leaves output samples unwritten leaves the sentinel.
//
// A block starts 64-byte aligned, as hosts give it, so up to 15 samples of
// padding may lie between its end and the guard page; the padding holds the
// sentinel too, and a write into it is reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tapestop::validate {

enum class Guard { kBehind, kBefore };

// Samples a host would never produce: a NaN with its own payload.
constexpr std::uint32_t kSentinelBits = 0x7FA5A5A5u;
float sentinel();
bool isSentinel(float sample);

// Memory mapped with inaccessible pages on both sides.
class GuardedMapping {
public:
    explicit GuardedMapping(std::size_t bytes);
    ~GuardedMapping();
    GuardedMapping(const GuardedMapping&) = delete;
    GuardedMapping& operator=(const GuardedMapping&) = delete;
    GuardedMapping(GuardedMapping&& other) noexcept;

    unsigned char* begin() const { return usable_; }
    unsigned char* end() const { return usable_ + usableBytes_; }

private:
    unsigned char* base_ = nullptr;
    std::size_t totalBytes_ = 0;
    unsigned char* usable_ = nullptr;
    std::size_t usableBytes_ = 0;
};

// One channel's buffer, able to hold blocks of up to capacityFrames.
class GuardedChannel {
public:
    GuardedChannel(std::size_t capacityFrames, Guard guard);
    // Where a block of `frames` lies; the whole area is set to the sentinel.
    float* prepare(std::size_t frames);
    // Whether the area around the block (from the last prepare) still holds the sentinel.
    bool surroundingsIntact() const;

private:
    GuardedMapping mapping_;
    Guard guard_;
    float* block_ = nullptr;
    std::size_t frames_ = 0;
};

// The channels of one side (inputs or outputs) and their pointer array.
class GuardedChannels {
public:
    GuardedChannels(int channels, std::size_t capacityFrames, Guard guard);
    int count() const { return static_cast<int>(channels_.size()); }
    // Prepares every channel for a block and answers the pointer array.
    float** prepare(std::size_t frames);
    float** pointers() const { return pointers_; }
    bool surroundingsIntact() const;

private:
    std::vector<GuardedChannel> channels_;
    GuardedMapping pointerMapping_;
    float** pointers_ = nullptr;
};

}  // namespace tapestop::validate
