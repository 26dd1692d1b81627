#pragma once

#include <cstdint>

namespace slimreel {

// A projected output size range in bytes; lowerBound <= upperBound.
struct OutputSizeEstimate {
    std::int64_t lowerBound = 0;
    std::int64_t upperBound = 0;

    friend bool operator==(const OutputSizeEstimate &, const OutputSizeEstimate &) = default;
};

} // namespace slimreel
