#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace slimreel {

// Every float-to-integer conversion goes through these two, so that no input
// (NaN, infinities, huge products) can reach undefined behaviour.
// Rule: NaN becomes 0; values beyond the signed 64-bit range clamp to its ends.
// The clamp uses 2^63 as a double bound because INT64_MAX itself is not
// representable and would round up to 2^63, which no longer fits.

// Truncates toward zero.
inline std::int64_t truncToInt64(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double upper = 9223372036854775808.0; // 2^63
    if (value >= upper) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (value <= -upper) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

// Rounds to the nearest integer, halves away from zero.
inline std::int64_t roundToInt64(double value)
{
    return truncToInt64(std::round(value));
}

} // namespace slimreel
