#include "HostBuffers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace tapestop::validate {

namespace {

constexpr std::size_t kBlockAlignmentBytes = 64;

std::size_t pageBytes() { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }

std::size_t roundUp(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) / unit * unit; }

}  // namespace

float sentinel() {
    float value;
    std::memcpy(&value, &kSentinelBits, sizeof value);
    return value;
}

bool isSentinel(float sample) {
    std::uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits == kSentinelBits;
}

GuardedMapping::GuardedMapping(std::size_t bytes) {
    const std::size_t page = pageBytes();
    usableBytes_ = roundUp(std::max<std::size_t>(bytes, 1), page);
    totalBytes_ = usableBytes_ + 2 * page;
    void* base = ::mmap(nullptr, totalBytes_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::bad_alloc();
    base_ = static_cast<unsigned char*>(base);
    usable_ = base_ + page;
    if (::mprotect(usable_, usableBytes_, PROT_READ | PROT_WRITE) != 0) throw std::bad_alloc();
}

GuardedMapping::~GuardedMapping() {
    if (base_ != nullptr) ::munmap(base_, totalBytes_);
}

GuardedMapping::GuardedMapping(GuardedMapping&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)),
      totalBytes_(other.totalBytes_),
      usable_(other.usable_),
      usableBytes_(other.usableBytes_) {}

GuardedChannel::GuardedChannel(std::size_t capacityFrames, Guard guard)
    : mapping_(capacityFrames * sizeof(float) + kBlockAlignmentBytes), guard_(guard) {}

float* GuardedChannel::prepare(std::size_t frames) {
    float* first = reinterpret_cast<float*>(mapping_.begin());
    float* last = reinterpret_cast<float*>(mapping_.end());
    std::fill(first, last, sentinel());
    if (guard_ == Guard::kBefore) {
        block_ = first;
    } else {
        const auto endAddress = reinterpret_cast<std::uintptr_t>(mapping_.end());
        const std::uintptr_t start = (endAddress - frames * sizeof(float)) & ~(kBlockAlignmentBytes - 1);
        block_ = reinterpret_cast<float*>(start);
    }
    frames_ = frames;
    return block_;
}

bool GuardedChannel::surroundingsIntact() const {
    const float* first = reinterpret_cast<const float*>(mapping_.begin());
    const float* last = reinterpret_cast<const float*>(mapping_.end());
    const auto intact = [](const float* from, const float* to) { return std::all_of(from, to, isSentinel); };
    // Guarded by Validator.AStrayWriteShortOfTheGuardPageIsReportedAsOne.
    return intact(first, block_) && intact(block_ + frames_, last);
}

GuardedChannels::GuardedChannels(int channels, std::size_t capacityFrames, Guard guard)
    : pointerMapping_(sizeof(float*) * static_cast<std::size_t>(std::max(channels, 1))) {
    for (int channel = 0; channel < channels; ++channel) channels_.emplace_back(capacityFrames, guard);
    // The pointer array ends at its guard page: a plug-in that reads one
    // channel more than it announced crashes.
    const std::size_t arrayBytes = sizeof(float*) * static_cast<std::size_t>(channels);
    unsigned char* start = guard == Guard::kBehind ? pointerMapping_.end() - arrayBytes : pointerMapping_.begin();
    pointers_ = reinterpret_cast<float**>(start);
}

float** GuardedChannels::prepare(std::size_t frames) {
    for (std::size_t channel = 0; channel < channels_.size(); ++channel) pointers_[channel] = channels_[channel].prepare(frames);
    return pointers_;
}

bool GuardedChannels::surroundingsIntact() const {
    return std::all_of(channels_.begin(), channels_.end(), [](const GuardedChannel& c) { return c.surroundingsIntact(); });
}

}  // namespace tapestop::validate
