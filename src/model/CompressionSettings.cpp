#include "model/CompressionSettings.h"

#include "model/Numbers.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace slimreel {

namespace {

struct PlanRow {
    CompressionPlan plan;
    const char *raw;
    EncoderStrategy strategy;
    double bitrateFactor;
};

// The plan table: strategy and share of the source bit rate kept in quality
// mode. The smallest plan encodes at constant quality; its share is only a
// ceiling, for content the quality value alone would spend more on (noise,
// film grain): there it spends at most the fastest plan's rate (at 0.24 it
// fell 0.03 below the recommended plan's SSIM on noise).
constexpr std::array<PlanRow, 4> planTable{{
    {CompressionPlan::fastest, "fastest", EncoderStrategy::fastestH264, 0.32},
    {CompressionPlan::recommended, "recommended", EncoderStrategy::speedHEVC, 0.52},
    {CompressionPlan::highQuality, "highQuality", EncoderStrategy::qualityX264, 0.76},
    {CompressionPlan::smallest, "smallest", EncoderStrategy::smallestAV1, 0.32},
}};

const PlanRow &row(CompressionPlan plan)
{
    return *std::ranges::find(planTable, plan, &PlanRow::plan);
}

constexpr double audioTrackBitrate = 128'000;
constexpr std::int64_t targetSizeFloor = 160'000;
constexpr std::int64_t qualityFloor = 350'000;

} // namespace

QString rawValue(CompressionMode mode)
{
    return mode == CompressionMode::quality ? QStringLiteral("quality") : QStringLiteral("targetSize");
}

QString rawValue(CompressionPlan plan)
{
    return QString::fromLatin1(row(plan).raw);
}

QString rawValue(EncoderStrategy strategy)
{
    switch (strategy) {
    case EncoderStrategy::fastestH264:
        return QStringLiteral("fastestH264");
    case EncoderStrategy::speedHEVC:
        return QStringLiteral("speedHEVC");
    case EncoderStrategy::smallestAV1:
        return QStringLiteral("smallestAV1");
    case EncoderStrategy::qualityX264:
        break;
    }
    return QStringLiteral("qualityX264");
}

std::optional<CompressionMode> compressionModeFromRaw(const QString &raw)
{
    for (const auto mode : allCompressionModes) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

std::optional<CompressionPlan> compressionPlanFromRaw(const QString &raw)
{
    for (const auto &r : planTable) {
        if (QLatin1String(r.raw) == raw) {
            return r.plan;
        }
    }
    return std::nullopt;
}

EncoderStrategy CompressionSettings::encoderStrategy() const
{
    if (mode == CompressionMode::targetSize) {
        return EncoderStrategy::qualityX264;
    }
    return row(plan).strategy;
}

std::optional<std::int64_t> CompressionSettings::outputMaxHeight() const
{
    switch (encoderStrategy()) {
    case EncoderStrategy::fastestH264:
        return 720;
    case EncoderStrategy::speedHEVC:
        return 1080;
    case EncoderStrategy::qualityX264:
    case EncoderStrategy::smallestAV1:
        break;
    }
    return std::nullopt;
}

bool CompressionSettings::usesContentAdaptiveCRF() const
{
    return mode == CompressionMode::quality && plan == CompressionPlan::highQuality;
}

bool CompressionSettings::sizeFollowsContent() const
{
    return mode == CompressionMode::quality && (plan == CompressionPlan::highQuality || plan == CompressionPlan::smallest);
}

bool CompressionSettings::copiesAudio(const VideoInfo &info) const
{
    const EncoderStrategy strategy = encoderStrategy();
    if (mode != CompressionMode::quality || strategy == EncoderStrategy::qualityX264 || !info.canCopyAudioToMP4) {
        return false;
    }
    return strategy != EncoderStrategy::smallestAV1 || (info.audioBitrate > 0 && info.audioBitrate <= audioTrackBitrate);
}

double CompressionSettings::audioBitrate(const VideoInfo &info) const
{
    if (copiesAudio(info) && info.audioBitrate > 0) {
        return info.audioBitrate;
    }
    return static_cast<double>(info.audioTrackCount) * audioTrackBitrate;
}

std::int64_t CompressionSettings::targetVideoBitrate(const VideoInfo &info) const
{
    if (mode == CompressionMode::targetSize) {
        const double totalBits = targetSizeMB * 1'000'000.0 * 8.0;
        const double seconds = info.duration <= 1.0 ? 1.0 : info.duration;
        const double rate = totalBits / seconds * 0.92 - audioBitrate(info);
        return std::max(truncToInt64(rate), targetSizeFloor);
    }
    // NaN compares false, so an unreadable source rate also takes the 1 Mbit/s floor.
    const double source = info.videoBitrate > 1'000'000.0 ? info.videoBitrate : 1'000'000.0;
    return std::max(truncToInt64(source * row(plan).bitrateFactor), qualityFloor);
}

std::int64_t CompressionSettings::keyFrameInterval(const VideoInfo &info) const
{
    const double fps = info.frameRate > 1.0 ? info.frameRate : 1.0;
    return std::max<std::int64_t>(roundToInt64(fps * 10.0), 1);
}

std::optional<std::int64_t> CompressionSettings::projectedBytes(std::int64_t sampleBytes, double sampleDuration,
                                                                double fullDuration)
{
    if (sampleBytes < 1 || !(sampleDuration > 0) || !(fullDuration > 0)) {
        return std::nullopt;
    }
    return truncToInt64(static_cast<double>(sampleBytes) / sampleDuration * fullDuration);
}

namespace {

// Rate control (x264, x265 and the hardware encoders alike) holds a whole file
// near the rate that the sample reached: a plain picture stays below the
// requested rate, a busy one near it. A longer encode than the sample's five
// seconds still moves part of the way towards the requested rate (measured on
// x264 and x265: up to a third of the gap), and lands within a few percent.
constexpr double rateTowardsRequested = 0.35;
constexpr double rateTolerance = 0.025;
// A sample this close to the requested rate belongs to content that fills it;
// x264 and x265 then land whole files up to 4-5 % above the rate (VBV lets them).
constexpr double rateFilledShare = 0.9;
constexpr double rateFilledOvershoot = 0.06;
// A part busier than the sample that fills the rate: x264 landed the photographs'
// clip 11 % above the rate after a still scene in the sample (VBV allows 25 %).
// Rate control hands such parts what plainer ones left, so a part counts as filling
// from 85 % on: the four-scene clip's busiest part came to 89-90 % of the rate
// from its sample, and x265 spent 98 % of the rate on the whole of it.
constexpr double rateBusierOvershoot = 0.12;
constexpr double rateBusiestShare = 0.85;
// Rate control's state at any moment rests on all the video before it, and the sample
// starts afresh: x265's whole files spent from 8 % less to 95 % more than the sample on
// the same seconds, for reasons the sample cannot show. It does not know where a video
// ends, so the first seconds of the whole file are those of an encode that stops there.
// For a short video the estimate therefore encodes it from its start to the sample's end;
// this many seconds of it at most, three samples' worth.
constexpr double maxOpeningSeconds = 15;
// Constant quality: how far the parts of a video may differ from the stretches
// that stand for them: at the least, and at most, for stretches that disagree
// wholly and a video left unseen.
constexpr double qualitySpreadFloor = 0.05;
constexpr double qualitySpreadUnseen = 0.15;
// x264, its stretches encoded with the frames after them: where sample and stretches
// agreed, the whole files of the bench clips came within 0.2-5.7 % of the projection,
// the still picture 9 % below it (its file is nearly all one key frame). At least ±7 %
// holds all but that one.
constexpr double x264SpreadFloor = 0.07;
// SVT-AV1's whole files differ from its short encodes both ways: a short encode codes
// the frames after its opening key frame cheaply (a portrait pan: 26 % under the whole
// file's same frames), while a whole file's later key frames cost less than a first one
// (a still picture: 85 KB against 95 KB). Over the bench clips and ten more made like
// them at other lengths and strengths, whole encodes came to 0.93-1.33 times the size
// projected from the sample and stretches; 1.09 ± 13 % holds 18 of those 20.
constexpr double av1WholeOverStretches = 1.09;
constexpr double av1SpreadFloor = 0.13;
// With the opening encoded (a short video), the seconds after it: a sample that cost less
// than the opening's average belongs to content that grows cheaper as the encoder's
// references build up (a slow pan's whole file: 487 KB in its first second, 20 KB in its
// last), and the rest may fall on further. The portrait and the slow pan spent 0.28 and
// 0.25 times the sample's rate after the opening, where the sample spent 0.55 of the
// opening's; the cube of that share holds them. Over the bench clips and the ten more,
// no rest spent more than 1.20 times the higher of the two rates (noise, whose sample
// starts starved by the ceiling).
constexpr double av1TrendPower = 3;
constexpr double av1RestOvershoot = 1.25;
// A later key frame cost 0.54-0.89 of the first where the picture stays.
constexpr double av1LaterKeyLeast = 0.5;
// A sample that covers the video is the output's own encode, give or take x264's
// threads (0.6 %); and the MP4 boxes of a clip without audio came to 1.1 KB fewer
// than estimated (gem-doc's clips), 2 % of a file of 52 KB.
constexpr double wholeVideoTolerance = 0.01;
constexpr double wholeVideoBoxesSlack = 1'500;
// Further stretches for constant quality over the part the sample does not
// see: two, and one more per this many seconds of it, at most five; each a
// little over a second, a few groups of frames, so that their encodes stay cheap.
constexpr double unseenSecondsPerStretch = 40;
constexpr int maxStretches = 5;
constexpr double stretchSeconds = 1.25;
// Past this many key frames (a day of video) they all cost the stretches' average.
constexpr int maxNearestKeys = 10'000;
// x264 (medium) weighs each frame by how much the next 40 lean on it; at the end of a
// short encode nothing follows, and a slow pan's stretch came to 13-23 % below the same
// frames of the whole file (1-2 % with these frames after it).
constexpr double x264LookaheadFrames = 40;

// MP4 boxes, measured on ffmpeg's muxer with fast start: the fixed boxes; per
// video frame its size, time and offset entries (twice as many when audio is
// interleaved, each frame then its own chunk); per AAC frame of 1024 samples
// at 48 kHz its size entry.
constexpr double containerFixed = 2'000;
constexpr double containerPerFrame = 12;
constexpr double containerPerInterleavedFrame = 24;
constexpr double containerPerAudioSecond = 47 * 4.3;

// A frame rate the source does not state counts as the commonest one.
double framesPerSecond(const VideoInfo &info)
{
    return info.frameRate > 1.0 ? info.frameRate : 30.0;
}

double videoBytesOfStats(const PreviewPacketStats &stats)
{
    return static_cast<double>(stats.keyFrameBytes) + static_cast<double>(stats.interFrameBytes);
}

double averageKeyFrame(const PreviewPacketStats &stats)
{
    return stats.keyFrameCount >= 1 ? static_cast<double>(stats.keyFrameBytes) / static_cast<double>(stats.keyFrameCount)
                                    : 0.0;
}

// The sample's video bytes carried over to the whole video: the frames between key
// frames scale with time, the key frames come one per interval of ten seconds.
double sampleVideoOverWhole(const PreviewPacketStats &stats, double sampleDuration, double fullDuration)
{
    const double inter = static_cast<double>(stats.interFrameBytes) / sampleDuration * fullDuration;
    return inter + std::ceil(fullDuration / 10.0) * averageKeyFrame(stats);
}

double sumOfSeconds(const std::vector<std::int64_t> &seconds, double from, double to)
{
    double sum = 0;
    const double last = static_cast<double>(seconds.size());
    from = std::clamp(from, 0.0, last);
    to = std::clamp(to, from, last);
    // Partial seconds count by their share.
    for (auto i = static_cast<std::size_t>(from); static_cast<double>(i) < to && i < seconds.size(); ++i) {
        const double overlap = std::min(to, static_cast<double>(i) + 1) - std::max(from, static_cast<double>(i));
        sum += static_cast<double>(seconds[i]) * std::max(0.0, overlap);
    }
    return sum;
}

// How much busier the source is over [from, to] than over the seconds encoded,
// [seenFrom, seenTo]; alike where its bytes per second do not reach over the video.
double sourceBusier(const std::vector<std::int64_t> &seconds, double fullDuration, double from, double to,
                    double seenFrom, double seenTo)
{
    if (static_cast<double>(seconds.size()) + 1 < fullDuration) {
        return 1.0;
    }
    const double part = sumOfSeconds(seconds, from, to) / std::max(to - from, 1e-9);
    const double seen = sumOfSeconds(seconds, seenFrom, seenTo) / std::max(seenTo - seenFrom, 1e-9);
    return part > 0 && seen > 0 ? part / seen : 1.0;
}

// How far a moment lies from a stretch.
auto distanceFrom(double at)
{
    return [at](const EncodedStretch &s) { return at < s.start ? s.start - at : std::max(0.0, at - s.end); };
}

} // namespace

double CompressionSettings::containerBytes(double seconds, const VideoInfo &info) const
{
    const double fps = framesPerSecond(info);
    const double tracks = static_cast<double>(std::max<std::int64_t>(info.audioTrackCount, 0));
    const double perFrame = tracks > 0 ? containerPerInterleavedFrame : containerPerFrame;
    return containerFixed + seconds * (fps * perFrame + tracks * containerPerAudioSecond);
}

OutputSizeEstimate CompressionSettings::withKnownBytes(double lowVideo, double highVideo, double fullDuration,
                                                       const VideoInfo &info) const
{
    // Audio and the MP4 boxes are known in advance: added as they are, never scaled.
    const double known = audioBitrate(info) * fullDuration * 0.125 + containerBytes(fullDuration, info);
    const std::int64_t a = truncToInt64(lowVideo + known);
    const std::int64_t b = truncToInt64(highVideo + known);
    return OutputSizeEstimate{std::min(a, b), std::max(a, b)};
}

std::optional<OutputSizeEstimate> CompressionSettings::projectedRange(const PreviewPacketStats &stats,
                                                                      double sampleDuration, double fullDuration,
                                                                      const VideoInfo &info) const
{
    if (!(sampleDuration > 0) || !(fullDuration > 0)) {
        return std::nullopt;
    }
    return projectedRange({EncodedStretch{0, sampleDuration, stats}}, {}, fullDuration, info);
}

std::optional<OutputSizeEstimate>
CompressionSettings::requestedRateRange(const EncodedStretch &sample, const std::vector<std::int64_t> &sourceBytesPerSecond,
                                        double fullDuration, const VideoInfo &info) const
{
    const PreviewPacketStats &stats = sample.stats;
    const double length = sample.end - sample.start;
    if (!(length > 0)) {
        return std::nullopt;
    }
    double low = 0;
    double high = 0;
    if (length >= fullDuration) {
        low = high = videoBytesOfStats(stats) / length * fullDuration;
        low = low * (1 - wholeVideoTolerance) - wholeVideoBoxesSlack;
        high = high * (1 + wholeVideoTolerance) + wholeVideoBoxesSlack;
        return withKnownBytes(low, high, fullDuration, info);
    }
    const double requested = static_cast<double>(targetVideoBitrate(info)) * fullDuration / 8.0;
    const double sampled = sampleVideoOverWhole(stats, length, fullDuration);
    const double towards = sampled + rateTowardsRequested * (requested - sampled);
    // Without the source's bytes per second every part counts as the sample's.
    double weighted = towards;
    double busiest = 0;
    const bool known = static_cast<double>(sourceBytesPerSecond.size()) + 1 >= fullDuration;
    const double here = known ? sumOfSeconds(sourceBytesPerSecond, sample.start, sample.end) / length : 0.0;
    if (here > 0) {
        // Each part the sample does not see spends the sample's rate scaled by how much
        // busier the source is there, as far as rate control lets it.
        const double rate = sampled / fullDuration;
        const double ceiling = std::max(rate, requested / fullDuration * (1 + rateBusierOvershoot));
        double video = rate * length;
        for (const auto &[from, to] : {std::pair{0.0, sample.start}, std::pair{sample.end, fullDuration}}) {
            // Parts as long as the sample, so that the source's key frames weigh alike in
            // both (and at least the second its bytes are counted by); a short remainder is
            // shared out among them.
            const int count = std::max(1, static_cast<int>((to - from) / std::max(length, 1.0)));
            for (int i = 0; i < count && to - from > 0; ++i) {
                const double a = from + (to - from) * i / count;
                const double b = from + (to - from) * (i + 1) / count;
                const double partRate = std::min(rate * sumOfSeconds(sourceBytesPerSecond, a, b) / (b - a) / here, ceiling);
                video += partRate * (b - a);
                busiest = std::max(busiest, partRate * fullDuration);
            }
        }
        // Rate control also spends part of what plainer parts leave of the requested rate.
        weighted = video + rateTowardsRequested * std::max(0.0, requested - video);
    }
    // The range spans the sample alone and the parts together: as wide as they disagree.
    low = std::min({sampled, towards, weighted}) * (1 - rateTolerance);
    high = std::max({sampled, towards, weighted}) * (1 + rateTolerance);
    if (sampled >= rateFilledShare * requested) {
        high = std::max(high, requested * (1 + rateFilledOvershoot));
    }
    if (busiest >= rateBusiestShare * requested) {
        high = std::max(high, requested * (1 + rateBusierOvershoot));
    }
    return withKnownBytes(low, high, fullDuration, info);
}

std::optional<OutputSizeEstimate>
CompressionSettings::openingRateRange(const EncodedStretch &opening, const EncodedStretch &sample,
                                      const std::vector<std::int64_t> &sourceBytesPerSecond, double fullDuration,
                                      const VideoInfo &info) const
{
    // The opening's bytes are the output's own; only the rest is projected.
    const double known = videoBytesOfStats(opening.stats);
    const double rest = fullDuration - opening.end;
    const double requested = static_cast<double>(targetVideoBitrate(info)) / 8.0;
    // Key frames apart: the opening's come at its start, the rest's every ten seconds.
    const double sampleLength = sample.end - sample.start;
    const double openingRate = static_cast<double>(opening.stats.interFrameBytes) / opening.end;
    const double sampleRate = static_cast<double>(sample.stats.interFrameBytes) / sampleLength;
    const double busier = sourceBusier(sourceBytesPerSecond, fullDuration, opening.end, fullDuration, 0, opening.end);
    // The rest spends what the opening spent lately (the sample's rate, or the opening's
    // own), moving on towards the requested rate, and at most what rate control allows.
    const double ceiling = std::max(openingRate, requested * (1 + rateBusierOvershoot));
    // x265 spends a still picture's bytes in bursts a second or two apart (135 KB one
    // second, 8 KB the next): a rest shorter than the sample may hold none of them.
    const double burstShare = std::min(1.0, rest / sampleLength);
    const double lowRate = std::min(std::min(openingRate, sampleRate) * busier, ceiling) * burstShare;
    const double towards = openingRate + rateTowardsRequested * (requested - openingRate);
    double highRate = std::min(std::max({openingRate, sampleRate, towards}) * busier, ceiling);
    // Content that fills the rate may run over it by what the buffer lets it.
    if (std::max(openingRate, sampleRate) >= rateFilledShare * requested) {
        highRate = std::max(highRate, requested * (1 + rateBusierOvershoot));
    }
    const double keys = std::max(0.0, std::ceil(fullDuration / 10.0) - std::ceil(opening.end / 10.0))
                        * averageKeyFrame(opening.stats);
    const double low = (known + keys + lowRate * rest) * (1 - wholeVideoTolerance) - wholeVideoBoxesSlack;
    const double high = (known + keys + highRate * rest) * (1 + wholeVideoTolerance) + wholeVideoBoxesSlack;
    return withKnownBytes(low, high, fullDuration, info);
}

std::optional<OutputSizeEstimate>
CompressionSettings::openingQualityRange(const EncodedStretch &opening, const EncodedStretch &sample,
                                         std::vector<EncodedStretch> after,
                                         const std::vector<std::int64_t> &sourceBytesPerSecond, double fullDuration,
                                         const VideoInfo &info) const
{
    std::ranges::sort(after, {}, &EncodedStretch::start);
    // The opening's bytes are the output's own; only the rest is projected.
    double low = videoBytesOfStats(opening.stats) * (1 - wholeVideoTolerance) - wholeVideoBoxesSlack;
    double high = videoBytesOfStats(opening.stats) * (1 + wholeVideoTolerance) + wholeVideoBoxesSlack;
    const auto busier = [&](double from, double to, double seenFrom, double seenTo) {
        return sourceBusier(sourceBytesPerSecond, fullDuration, from, to, seenFrom, seenTo);
    };
    // Right after the opening the video goes on as its last seconds, the sample's, went.
    const double openingRate = static_cast<double>(opening.stats.interFrameBytes) / opening.end;
    const double sampleRate = static_cast<double>(sample.stats.interFrameBytes) / (sample.end - sample.start);
    const double trend = std::min(1.0, sampleRate / std::max(openingRate, 1.0));
    const double nextTo = after.empty() ? fullDuration : (opening.end + after.front().start) / 2;
    const double next = busier(opening.end, nextTo, sample.start, opening.end) * (nextTo - opening.end);
    low += std::min(openingRate, sampleRate) * std::pow(trend, av1TrendPower) * next;
    high += std::max(openingRate, sampleRate) * av1RestOvershoot * next;
    // Further on, each stretch speaks for the part nearest to it, as without the opening.
    for (std::size_t i = 0; i < after.size(); ++i) {
        const auto &s = after[i];
        const double from = i == 0 ? nextTo : (after[i - 1].end + s.start) / 2;
        const double to = i + 1 == after.size() ? fullDuration : (s.end + after[i + 1].start) / 2;
        const double bytes = (videoBytesOfStats(s.stats) - averageKeyFrame(s.stats)) / (s.end - s.start)
                            * busier(from, to, s.start, s.end) * av1WholeOverStretches * (to - from);
        low += bytes * (1 - av1SpreadFloor);
        high += bytes * (1 + av1SpreadFloor);
    }
    // The rest's key frames, each like the nearest stretch's or cheaper.
    after.push_back(opening);
    for (double at = std::ceil(opening.end / 10.0) * 10.0; at < fullDuration; at += 10.0) {
        const double key = averageKeyFrame(std::ranges::min_element(after, {}, distanceFrom(at))->stats);
        low += key * av1LaterKeyLeast;
        high += key;
    }
    return withKnownBytes(low, high, fullDuration, info);
}

std::optional<OutputSizeEstimate> CompressionSettings::projectedRange(std::vector<EncodedStretch> stretches,
                                                                      const std::vector<std::int64_t> &sourceBytesPerSecond,
                                                                      double fullDuration, const VideoInfo &info) const
{
    std::erase_if(stretches, [](const EncodedStretch &s) { return !(s.end - s.start > 0); });
    if (stretches.empty() || !(fullDuration > 0)) {
        return std::nullopt;
    }
    // A short video's opening, encoded up to the sample's end, is the output's own first seconds.
    const EncodedStretch &sample = stretches.front();
    const auto opening = std::find_if(stretches.begin() + 1, stretches.end(), [&](const EncodedStretch &s) {
        return s.start <= 0 && s.end >= sample.end && s.end < fullDuration;
    });
    if (!sizeFollowsContent()) {
        return opening != stretches.end() ? openingRateRange(*opening, sample, sourceBytesPerSecond, fullDuration, info)
                                          : requestedRateRange(sample, sourceBytesPerSecond, fullDuration, info);
    }
    if (opening != stretches.end()) {
        std::vector<EncodedStretch> after;
        std::copy_if(stretches.begin() + 1, stretches.end(), std::back_inserter(after),
                     [&](const EncodedStretch &s) { return s.start >= opening->end; });
        return openingQualityRange(*opening, sample, std::move(after), sourceBytesPerSecond, fullDuration, info);
    }
    std::ranges::sort(stretches, {}, &EncodedStretch::start);
    double keyBytes = 0;
    double keyCount = 0;
    double seen = 0;
    for (const auto &s : stretches) {
        keyBytes += static_cast<double>(s.stats.keyFrameBytes);
        keyCount += static_cast<double>(s.stats.keyFrameCount);
        seen += s.end - s.start;
    }
    double low = 0;
    double high = 0;
    if (seen >= fullDuration) {
        // The stretches are the video: their bytes are the output's.
        for (const auto &s : stretches) {
            high += videoBytesOfStats(s.stats);
        }
        high = high / seen * fullDuration;
        low = high * (1 - wholeVideoTolerance) - wholeVideoBoxesSlack;
        high = high * (1 + wholeVideoTolerance) + wholeVideoBoxesSlack;
    } else {
        // Each stretch stands for the part of the video nearer to it than to the
        // others. Within that part the source's own bytes say how much busier or
        // plainer it is than the stretch; without them it counts as alike.
        double video = 0;
        std::vector<double> rates;
        for (std::size_t i = 0; i < stretches.size(); ++i) {
            const auto &s = stretches[i];
            const double length = s.end - s.start;
            const double from = i == 0 ? 0.0 : (stretches[i - 1].end + s.start) / 2;
            const double to = i + 1 == stretches.size() ? fullDuration : (s.end + stretches[i + 1].start) / 2;
            // Every stretch opens on a key frame of its own; those of the output are counted apart.
            const double firstKey = averageKeyFrame(s.stats);
            const double rate = (videoBytesOfStats(s.stats) - firstKey) / length;
            const double busier = sourceBusier(sourceBytesPerSecond, fullDuration, from, to, s.start, s.end);
            video += rate * busier * std::max(0.0, to - from);
            rates.push_back(rate);
        }
        // The output's key frames come at 0 s, 10 s, 20 s …; each costs what the key frame
        // of the stretch nearest to it cost, its picture being the likeliest alike (a pan
        // that starts on detail: 174 KB, where the stretches' average was 128 KB).
        const double average = keyCount > 0 ? keyBytes / keyCount : 0.0;
        const double keys = std::ceil(fullDuration / 10.0);
        if (keys <= static_cast<double>(maxNearestKeys)) {
            for (double at = 0; at < fullDuration; at += 10.0) {
                const EncodedStretch &nearest = *std::ranges::min_element(stretches, {}, distanceFrom(at));
                video += nearest.stats.keyFrameCount >= 1 ? averageKeyFrame(nearest.stats) : average;
            }
        } else {
            video += keys * average;
        }
        // Stretches that agree speak for the parts between them; the more they differ,
        // the less the unseen rest is known.
        const double mean = std::accumulate(rates.begin(), rates.end(), 0.0) / static_cast<double>(rates.size());
        double squares = 0;
        for (const double r : rates) {
            squares += (r - mean) * (r - mean);
        }
        // One stretch alone cannot tell how the rest differs: as if wholly.
        const double variation = rates.size() > 1 && mean > 0
                                     ? std::sqrt(squares / static_cast<double>(rates.size())) / mean
                                     : 1.0;
        const double unseen = 1 - seen / fullDuration;
        double spread = qualitySpreadFloor + qualitySpreadUnseen * unseen * std::min(1.0, variation);
        if (encoderStrategy() == EncoderStrategy::smallestAV1) {
            video *= av1WholeOverStretches;
            spread = std::max(spread, av1SpreadFloor);
        } else {
            spread = std::max(spread, x264SpreadFloor);
        }
        low = video * (1 - spread);
        high = video * (1 + spread);
    }
    return withKnownBytes(low, high, fullDuration, info);
}

std::vector<std::pair<double, double>> CompressionSettings::estimateStretches(double sampleStart, double sampleEnd,
                                                                              double fullDuration) const
{
    std::vector<std::pair<double, double>> out;
    // x265's rate control and SVT-AV1's ceiling (whose buffer a short encode's first key
    // frame empties) both spend on the sample's seconds what the video before them
    // decides. Not for x264: the fastest plan's sample alone missed one bench clip of
    // twelve, and with the opening two; the high-quality plan's stretches already hold.
    const bool opening = (encoderStrategy() == EncoderStrategy::speedHEVC
                          || encoderStrategy() == EncoderStrategy::smallestAV1)
                         && sampleStart > 0 && sampleEnd < fullDuration && sampleEnd <= maxOpeningSeconds;
    if (opening) {
        out.emplace_back(0.0, sampleEnd);
    }
    if (!sizeFollowsContent()) {
        return out;
    }
    // Spread evenly over the time the sample leaves out, before and after it; where
    // that is too short for two of them, the sample has seen nearly all.
    const double before = opening ? 0.0 : std::max(0.0, sampleStart);
    const double unseen = before + std::max(0.0, fullDuration - sampleEnd);
    if (!(unseen >= 4 * stretchSeconds)) {
        return out;
    }
    const int count = std::min(maxStretches, 2 + static_cast<int>(unseen / unseenSecondsPerStretch));
    for (int i = 0; i < count; ++i) {
        const double at = unseen * (i + 0.5) / count;
        // Each stays inside its own side of the sample where that side is long enough.
        const double from = at < before ? 0.0 : sampleEnd;
        const double to = at < before ? before : fullDuration;
        const double middle = at < before ? at : sampleEnd + (at - before);
        const double start = std::clamp(middle - stretchSeconds / 2, from, std::max(from, to - stretchSeconds));
        out.emplace_back(start, std::min(start + stretchSeconds, fullDuration));
    }
    return out;
}

double CompressionSettings::estimateStretchTail(const VideoInfo &info) const
{
    // SVT-AV1 packs the hidden frames of a group into the packet of its first shown
    // one: a cut by time would count a group that lies mostly past it.
    if (encoderStrategy() != EncoderStrategy::qualityX264) {
        return 0;
    }
    const double fps = framesPerSecond(info);
    return x264LookaheadFrames / fps;
}

} // namespace slimreel
