// Parameter changes at given frames, and the splitting of processing blocks
// at those frames so that each change lands on exactly its frame.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "VstInterface.h"

namespace tapestop {

struct ParameterEvent {
    std::int64_t frame = 0;
    VstInt32 index = 0;
    float value = 0.0f;
};

class EventSchedule {
public:
    // Events at the same frame keep their given order.
    explicit EventSchedule(std::vector<ParameterEvent> events);

    // The events due by `frame` that were not taken yet, in order.
    std::span<const ParameterEvent> takeDue(std::int64_t frame);

    // How many of `available` frames from `frame` on can be processed before
    // the next event is due.
    std::int64_t framesBeforeNextEvent(std::int64_t frame, std::int64_t available) const;

    // Events never reached before `endFrame`.
    std::size_t countAtOrAfter(std::int64_t endFrame) const;

private:
    std::vector<ParameterEvent> events_;
    std::size_t next_ = 0;
};

}  // namespace tapestop
