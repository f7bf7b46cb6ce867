#include "EventSchedule.h"

#include <algorithm>

namespace tapestop {

EventSchedule::EventSchedule(std::vector<ParameterEvent> events) : events_(std::move(events)) {
    std::stable_sort(events_.begin(), events_.end(),
                     [](const ParameterEvent& a, const ParameterEvent& b) { return a.frame < b.frame; });
}

std::span<const ParameterEvent> EventSchedule::takeDue(std::int64_t frame) {
    const std::size_t first = next_;
    while (next_ < events_.size() && events_[next_].frame <= frame) ++next_;
    return std::span<const ParameterEvent>(events_).subspan(first, next_ - first);
}

std::int64_t EventSchedule::framesBeforeNextEvent(std::int64_t frame, std::int64_t available) const {
    if (next_ >= events_.size()) return available;
    return std::clamp<std::int64_t>(events_[next_].frame - frame, 0, available);
}

std::size_t EventSchedule::countAtOrAfter(std::int64_t endFrame) const {
    return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(),
                                                  [endFrame](const ParameterEvent& e) { return e.frame >= endFrame; }));
}

}  // namespace tapestop
