#pragma once

#include "model/OutputSizeEstimate.h"
#include "model/PreviewPacketStats.h"
#include "model/VideoInfo.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

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

// A stretch of the source, [start, end] in seconds, encoded with the settings
// for the estimate, and its packets.
struct EncodedStretch {
    double start = 0;
    double end = 0;
    PreviewPacketStats stats;

    friend bool operator==(const EncodedStretch &, const EncodedStretch &) = default;
};

// The user's choice of how to compress, and every number derived from it, so
// that the encoders and the size estimates always agree.
struct CompressionSettings {
    CompressionMode mode = CompressionMode::quality;
    CompressionPlan plan = CompressionPlan::recommended;
    double targetSizeMB = 25;

    EncoderStrategy encoderStrategy() const;
    std::optional<std::int64_t> outputMaxHeight() const;
    bool usesContentAdaptiveCRF() const;
    // Constant quality (high quality, smallest): the size follows the content, so its estimate looks beyond the sample.
    bool sizeFollowsContent() const;
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
    // The sample and any further stretches (constant quality), each standing for
    // the part of the video nearest to it, weighted by the source's own video bytes
    // per second where they are known (empty: unknown).
    std::optional<OutputSizeEstimate> projectedRange(std::vector<EncodedStretch> stretches,
                                                     const std::vector<std::int64_t> &sourceBytesPerSecond,
                                                     double fullDuration, const VideoInfo &info) const;
    // Where to encode the further stretches, besides the sample [sampleStart, sampleEnd]:
    // for constant quality a few short ones spread over the video, for the recommended and
    // smallest plans first the short video's opening up to the sample's end; none when the
    // sample already sees enough of the video.
    std::vector<std::pair<double, double>> estimateStretches(double sampleStart, double sampleEnd,
                                                             double fullDuration) const;
    // How far past each of those stretches its encode runs, its frames not counted, so
    // that the stretch's own frames are coded as they are within the whole video.
    double estimateStretchTail(const VideoInfo &info) const;
    // The MP4 file's own bytes around the packets of `seconds` of output.
    double containerBytes(double seconds, const VideoInfo &info) const;

    friend bool operator==(const CompressionSettings &, const CompressionSettings &) = default;

private:
    std::optional<OutputSizeEstimate> requestedRateRange(const EncodedStretch &sample,
                                                         const std::vector<std::int64_t> &sourceBytesPerSecond,
                                                         double fullDuration, const VideoInfo &info) const;
    // A rate-controlled encode of the video's opening up to the sample's end, and the sample.
    std::optional<OutputSizeEstimate> openingRateRange(const EncodedStretch &opening, const EncodedStretch &sample,
                                                       const std::vector<std::int64_t> &sourceBytesPerSecond,
                                                       double fullDuration, const VideoInfo &info) const;
    // SVT-AV1's encode of the video's opening, the sample, and stretches after the opening.
    std::optional<OutputSizeEstimate> openingQualityRange(const EncodedStretch &opening, const EncodedStretch &sample,
                                                          std::vector<EncodedStretch> after,
                                                          const std::vector<std::int64_t> &sourceBytesPerSecond,
                                                          double fullDuration, const VideoInfo &info) const;
    OutputSizeEstimate withKnownBytes(double lowVideo, double highVideo, double fullDuration,
                                      const VideoInfo &info) const;
};

} // namespace slimreel
