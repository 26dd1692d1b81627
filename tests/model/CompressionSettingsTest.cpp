#include "model/CompressionSettings.h"

#include <gtest/gtest.h>

#include <limits>

using namespace slimreel;

namespace {

using Mode = CompressionMode;
using Plan = CompressionPlan;
using Strategy = EncoderStrategy;

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

CompressionSettings quality(Plan plan)
{
    return {Mode::quality, plan, 25};
}

CompressionSettings targetSize(double megabytes, Plan plan = Plan::recommended)
{
    return {Mode::targetSize, plan, megabytes};
}

// A source video with only the facts the derivations read.
VideoInfo video(double duration, double videoBitrate, double frameRate, std::int64_t audioTracks = 0,
                double audioBitrate = 0, bool copyable = false)
{
    VideoInfo info;
    info.duration = duration;
    info.videoBitrate = videoBitrate;
    info.frameRate = frameRate;
    info.audioTrackCount = audioTracks;
    info.audioBitrate = audioBitrate;
    info.canCopyAudioToMP4 = copyable;
    return info;
}

} // namespace

TEST(CompressionSettings, StartsAtQualityRecommended25MB)
{
    const CompressionSettings settings;
    EXPECT_EQ(settings, (CompressionSettings{Mode::quality, Plan::recommended, 25}));
}

TEST(CompressionSettings, RawTexts)
{
    EXPECT_EQ(rawValue(Mode::quality), QStringLiteral("quality"));
    EXPECT_EQ(rawValue(Mode::targetSize), QStringLiteral("targetSize"));
    EXPECT_EQ(rawValue(Plan::fastest), QStringLiteral("fastest"));
    EXPECT_EQ(rawValue(Plan::recommended), QStringLiteral("recommended"));
    EXPECT_EQ(rawValue(Plan::highQuality), QStringLiteral("highQuality"));
    EXPECT_EQ(rawValue(Strategy::fastestH264), QStringLiteral("fastestH264"));
    EXPECT_EQ(rawValue(Strategy::speedHEVC), QStringLiteral("speedHEVC"));
    EXPECT_EQ(rawValue(Strategy::qualityX264), QStringLiteral("qualityX264"));

    for (const Mode mode : allCompressionModes) {
        EXPECT_EQ(compressionModeFromRaw(rawValue(mode)), mode);
    }
    for (const Plan plan : allCompressionPlans) {
        EXPECT_EQ(compressionPlanFromRaw(rawValue(plan)), plan);
    }
    for (const char *text : {"Quality", "QUALITY", "target", "targetsize", " quality", ""}) {
        EXPECT_EQ(compressionModeFromRaw(QString::fromLatin1(text)), std::nullopt) << text;
    }
    for (const char *text : {"Fastest", "highquality", "recommended ", "best", ""}) {
        EXPECT_EQ(compressionPlanFromRaw(QString::fromLatin1(text)), std::nullopt) << text;
    }
    const std::array modes{Mode::quality, Mode::targetSize};
    const std::array plans{Plan::fastest, Plan::recommended, Plan::highQuality};
    EXPECT_EQ(allCompressionModes, modes);
    EXPECT_EQ(allCompressionPlans, plans);
}

TEST(CompressionSettings, StrategyHeightCapAndCRF)
{
    const struct {
        Mode mode;
        Plan plan;
        Strategy strategy;
        std::optional<std::int64_t> maxHeight;
        bool crf;
    } cases[] = {
        {Mode::quality, Plan::fastest, Strategy::fastestH264, 720, false},
        {Mode::quality, Plan::recommended, Strategy::speedHEVC, 1080, false},
        {Mode::quality, Plan::highQuality, Strategy::qualityX264, std::nullopt, true},
        // The plan is kept but ignored in target-size mode.
        {Mode::targetSize, Plan::fastest, Strategy::qualityX264, std::nullopt, false},
        {Mode::targetSize, Plan::recommended, Strategy::qualityX264, std::nullopt, false},
        {Mode::targetSize, Plan::highQuality, Strategy::qualityX264, std::nullopt, false},
    };
    for (const auto &c : cases) {
        const CompressionSettings settings{c.mode, c.plan, 25};
        SCOPED_TRACE(rawValue(c.mode).toStdString() + "/" + rawValue(c.plan).toStdString());
        EXPECT_EQ(settings.encoderStrategy(), c.strategy);
        EXPECT_EQ(settings.outputMaxHeight(), c.maxHeight);
        EXPECT_EQ(settings.usesContentAdaptiveCRF(), c.crf);
    }
}

TEST(CompressionSettings, AudioBitrate)
{
    const struct {
        const char *name;
        CompressionSettings settings;
        VideoInfo info;
        double expected;
    } cases[] = {
        {"copied as it is", quality(Plan::recommended), video(10, 0, 0, 1, 160000, true), 160000},
        {"copied on the fastest plan", quality(Plan::fastest), video(10, 0, 0, 2, 200000, true), 200000},
        {"copyable but no probed rate", quality(Plan::recommended), video(10, 0, 0, 1, 0, true), 128000},
        {"copyable with a NaN rate", quality(Plan::recommended), video(10, 0, 0, 1, notANumber, true), 128000},
        {"not copyable", quality(Plan::fastest), video(10, 0, 0, 2, 500000, false), 256000},
        {"x264 re-encodes even copyable audio", quality(Plan::highQuality), video(10, 0, 0, 1, 96000, true),
         128000},
        {"target size re-encodes", targetSize(25, Plan::fastest), video(10, 0, 0, 3, 96000, true), 384000},
        {"no audio", quality(Plan::recommended), video(10, 0, 0, 0, 0, false), 0},
        {"no audio, target size", targetSize(25), video(10, 0, 0, 0, 0, false), 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.settings.audioBitrate(c.info), c.expected) << c.name;
    }
}

TEST(CompressionSettings, TargetVideoBitrate)
{
    const struct {
        const char *name;
        CompressionSettings settings;
        VideoInfo info;
        std::int64_t expected;
    } cases[] = {
        {"25 MB over 100 s with one re-encoded track", targetSize(25), video(100, 0, 0, 1, 128000, false), 1712000},
        {"target size ignores the plan", targetSize(25, Plan::fastest), video(100, 0, 0, 1, 128000, true), 1712000},
        {"a 0.4 s video counts as 1 s", targetSize(1), video(0.4, 0, 0), 7360000},
        {"exactly 1 s", targetSize(1), video(1.0, 0, 0), 7360000},
        {"a zero duration counts as 1 s", targetSize(1), video(0, 0, 0), 7360000},
        {"a negative rate takes the floor", targetSize(0.01), video(100, 0, 0, 2), 160000},
        {"recommended on 500 kbit/s", quality(Plan::recommended), video(10, 500000, 0), 520000},
        {"fastest on 800 kbit/s is raised to the floor", quality(Plan::fastest), video(10, 800000, 0), 350000},
        {"high quality on 10 Mbit/s", quality(Plan::highQuality), video(10, 10000000, 0), 7600000},
        {"fastest on 5 Mbit/s", quality(Plan::fastest), video(10, 5000000, 0), 1600000},
        {"quality truncates toward zero", quality(Plan::recommended), video(10, 1000001, 0), 520000},
        {"unknown source rate", quality(Plan::recommended), video(10, 0, 0), 520000},
        {"NaN source rate", quality(Plan::highQuality), video(10, notANumber, 0), 760000},
        // Inputs no probe should give, still defined: clamped, never undefined behaviour.
        {"NaN target", targetSize(notANumber), video(100, 0, 0), 160000},
        {"infinite target", targetSize(inf), video(100, 0, 0), int64Max},
        {"negative infinite target", targetSize(-inf), video(100, 0, 0), 160000},
        {"huge target", targetSize(1e300), video(100, 0, 0), int64Max},
        {"negative target", targetSize(-50), video(100, 0, 0), 160000},
        {"NaN duration", targetSize(25), video(notANumber, 0, 0), 160000},
        {"infinite duration", targetSize(25), video(inf, 0, 0), 160000},
        {"huge source rate", quality(Plan::fastest), video(10, 1e300, 0), int64Max},
        {"infinite source rate", quality(Plan::fastest), video(10, inf, 0), int64Max},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.settings.targetVideoBitrate(c.info), c.expected) << c.name;
    }
}

TEST(CompressionSettings, KeyFrameIntervalIsAboutTenSeconds)
{
    const struct {
        double frameRate;
        std::int64_t frames;
    } cases[] = {
        {29.97, 300}, {23.976, 240}, {25, 250},  {60, 600},   {0, 10},       {-30, 10},
        {0.5, 10},    {1.0, 10},     {1.05, 11}, {1.25, 13},  {1.24, 12},    {notANumber, 10},
        {inf, int64Max}, {1e300, int64Max},
    };
    const CompressionSettings settings;
    for (const auto &c : cases) {
        EXPECT_EQ(settings.keyFrameInterval(video(10, 0, c.frameRate)), c.frames) << c.frameRate;
    }
}

TEST(CompressionSettings, ProjectedBytes)
{
    const struct {
        std::int64_t sampleBytes;
        double sampleDuration;
        double fullDuration;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {1000000, 5, 60, 12000000},
        {1, 5, 60, 12},
        {999, 10, 1, 99},                 // truncated toward zero
        {0, 5, 60, std::nullopt},
        {-5, 5, 60, std::nullopt},
        {1000, 0, 60, std::nullopt},
        {1000, -1, 60, std::nullopt},
        {1000, notANumber, 60, std::nullopt},
        {1000, 5, 0, std::nullopt},
        {1000, 5, -60, std::nullopt},
        {1000, 5, notANumber, std::nullopt},
        {int64Max, 1e-300, 1e300, int64Max}, // clamped
        {1000, 5, inf, int64Max},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(CompressionSettings::projectedBytes(c.sampleBytes, c.sampleDuration, c.fullDuration), c.expected)
            << c.sampleBytes << " " << c.sampleDuration << " " << c.fullDuration;
    }
}

TEST(CompressionSettings, ProjectedRange)
{
    const struct {
        const char *name;
        CompressionSettings settings;
        PreviewPacketStats stats;
        double sampleDuration;
        double fullDuration;
        VideoInfo info;
        std::optional<OutputSizeEstimate> expected;
    } cases[] = {
        {"video only", quality(Plan::recommended), {100000, 2, 400000}, 5, 60, video(60, 0, 0),
         OutputSizeEstimate{3863250, 5151000}},
        {"key frames round up, copied audio", quality(Plan::fastest), {100000, 2, 400000}, 5, 61,
         video(61, 0, 0, 1, 128000, true), OutputSizeEstimate{4947485, 6268060}},
        {"no key frames in the sample", targetSize(25), {0, 0, 400000}, 5, 60, video(60, 0, 0, 2),
         OutputSizeEstimate{5575200, 6787200}},
        {"key-frame bytes without a count are ignored", targetSize(25), {777777, 0, 400000}, 5, 60,
         video(60, 0, 0, 2), OutputSizeEstimate{5575200, 6787200}},
        {"fractional duration", quality(Plan::recommended), {300000, 3, 1000000}, 5, 12.5,
         video(12.5, 0, 0, 1, 96000, true), OutputSizeEstimate{2196750, 2878500}},
        {"empty sample", quality(Plan::recommended), {0, 0, 0}, 5, 60, video(60, 0, 0), OutputSizeEstimate{0, 0}},
        // Nonsense statistics still give an ordered range.
        {"negative bytes stay ordered", quality(Plan::recommended), {0, 0, -400000}, 5, 60, video(60, 0, 0),
         OutputSizeEstimate{-4848000, -3636000}},
        {"zero sample duration", quality(Plan::recommended), {1, 1, 1}, 0, 60, video(60, 0, 0), std::nullopt},
        {"NaN sample duration", quality(Plan::recommended), {1, 1, 1}, notANumber, 60, video(60, 0, 0), std::nullopt},
        {"zero full duration", quality(Plan::recommended), {1, 1, 1}, 5, 0, video(0, 0, 0), std::nullopt},
        {"NaN full duration", quality(Plan::recommended), {1, 1, 1}, 5, notANumber, video(60, 0, 0), std::nullopt},
        {"infinite full duration clamps", quality(Plan::recommended), {1, 1, 1}, 5, inf, video(60, 0, 0, 1),
         OutputSizeEstimate{int64Max, int64Max}},
    };
    for (const auto &c : cases) {
        const auto range = c.settings.projectedRange(c.stats, c.sampleDuration, c.fullDuration, c.info);
        EXPECT_EQ(range, c.expected) << c.name;
        if (range) {
            EXPECT_LE(range->lowerBound, range->upperBound) << c.name;
        }
    }
}

TEST(CompressionSettings, EqualityComparesAllThreeFields)
{
    const CompressionSettings base{Mode::quality, Plan::fastest, 25};
    EXPECT_EQ(base, (CompressionSettings{Mode::quality, Plan::fastest, 25}));
    EXPECT_NE(base, (CompressionSettings{Mode::targetSize, Plan::fastest, 25}));
    EXPECT_NE(base, (CompressionSettings{Mode::quality, Plan::recommended, 25}));
    EXPECT_NE(base, (CompressionSettings{Mode::quality, Plan::fastest, 25.5}));
    EXPECT_NE((CompressionSettings{Mode::quality, Plan::fastest, notANumber}),
              (CompressionSettings{Mode::quality, Plan::fastest, notANumber}));
}
