// Turning a host's float into a whole number without undefined behaviour.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Truncates toward zero like a plain conversion, but a value outside the
// 32-bit range gives the nearest limit and NaN gives 0.
inline std::int32_t truncateToInt32(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
    if (value < -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}
