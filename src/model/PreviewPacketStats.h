#pragma once

#include <cstdint>

namespace slimreel {

// How the video bytes of a compressed sample split between key frames and the rest.
struct PreviewPacketStats {
    std::int64_t keyFrameBytes = 0;
    std::int64_t keyFrameCount = 0;
    std::int64_t interFrameBytes = 0;

    friend bool operator==(const PreviewPacketStats &, const PreviewPacketStats &) = default;
};

} // namespace slimreel
