#pragma once

#include "model/OutputSizeEstimate.h"
#include "model/PreviewPacketStats.h"
#include "model/VideoInfo.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace slimreel {

enum class CompressionMode { quality, targetSize };
enum class CompressionPlan { fastest, recommended, highQuality, smallest };
enum class EncoderStrategy { fastestH264, speedHEVC, qualityX264, smallestAV1 };

inline constexpr std::array allCompressionModes{CompressionMode::quality, CompressionMode::targetSize};
inline constexpr std::array allCompressionPlans{CompressionPlan::fastest, CompressionPlan::recommended,
                                                CompressionPlan::highQuality, CompressionPlan::smallest};

// Raw texts equal the case names; parsing is exact and case-sensitive.
QString rawValue(CompressionMode mode);
QString rawValue(CompressionPlan plan);
QString rawValue(EncoderStrategy strategy);
std::optional<CompressionMode> compressionModeFromRaw(const QString &raw);
std::optional<CompressionPlan> compressionPlanFromRaw(const QString &raw);

// The user's choice of how to compress, and every number derived from it, so
// that the encoders and the size estimates always agree.
struct CompressionSettings {
    CompressionMode mode = CompressionMode::quality;
    CompressionPlan plan = CompressionPlan::recommended;
    double targetSizeMB = 25;

    EncoderStrategy encoderStrategy() const;
    std::optional<std::int64_t> outputMaxHeight() const;
    bool usesContentAdaptiveCRF() const;
    // Whether the audio goes into the output as it is. The smallest plan
    // copies it only when it is no larger than the AAC it would get instead.
    bool copiesAudio(const VideoInfo &info) const;
    double audioBitrate(const VideoInfo &info) const;
    std::int64_t targetVideoBitrate(const VideoInfo &info) const;
    std::int64_t keyFrameInterval(const VideoInfo &info) const;

    static std::optional<std::int64_t> projectedBytes(std::int64_t sampleBytes, double sampleDuration,
                                                      double fullDuration);
    std::optional<OutputSizeEstimate> projectedRange(const PreviewPacketStats &stats, double sampleDuration,
                                                     double fullDuration, const VideoInfo &info) const;

    friend bool operator==(const CompressionSettings &, const CompressionSettings &) = default;
};

} // namespace slimreel
