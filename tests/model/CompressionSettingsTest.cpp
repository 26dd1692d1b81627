#include "model/Formatters.h"
#include "model/RemainingTime.h"
#include "support/Fakes.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

using namespace slimreel;
using namespace slimreel::test;
using Plan = CompressionPlan;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();

// A source video with only the facts the derivations read.
VideoInfo video(double duration, double videoBitrate, double frameRate = 30, std::int64_t audioTracks = 0,
                double audioBitrate = 0, bool copyable = false)
{
    return {{}, duration, 0, 0, 0, videoBitrate, frameRate, {}, audioTracks, audioBitrate, copyable};
}

} // namespace

TEST(CompressionSettings, BitRatesKeyFrameIntervalAndProjectedSizes)
{
    const std::tuple<const char *, CompressionSettings, VideoInfo, std::int64_t> rates[] = {
        {"25 MB over 100 s less one encoded track", targetSize(25), video(100, 0, 0, 1, 128000), 1712000},
        {"the plan and copyable audio do not count", targetSize(25, Plan::fastest), video(100, 0, 0, 1, 96000, true), 1712000},
        {"under 1 s counts as 1 s", targetSize(1), video(0.4, 0), 7360000},
        {"below the floor of 160 kbit/s", targetSize(0.01), video(100, 0, 0, 2), 160000},
        {"recommended: 52 %, truncated", recommended, video(10, 1000001), 520000},
        {"fastest: 32 %", fastest, video(10, 5000000), 1600000},
        {"fastest: raised to its floor", fastest, video(10, 800000), 350000},
        {"high quality: 76 %", highQuality, video(10, 10000000), 7600000},
        {"a NaN source rate: the floor", highQuality, video(10, notANumber), 760000},
        // Inputs no probe should give, still defined: clamped, never undefined behaviour.
        {"NaN target", targetSize(notANumber), video(100, 0), 160000},
        {"NaN duration", targetSize(25), video(notANumber, 0), 160000},
        {"huge target", targetSize(1e300), video(100, 0), int64Max},
        {"infinite source rate", fastest, video(10, inf), int64Max},
    };
    for (const auto &[name, settings, info, rate] : rates) {
        EXPECT_EQ(settings.targetVideoBitrate(info), rate) << name;
    }
    const std::tuple<const char *, CompressionSettings, VideoInfo, double> audio[] = {
        {"copied as it is", recommended, video(10, 0, 0, 1, 160000, true), 160000},
        {"copied, without a probed rate", fastest, video(10, 0, 0, 1, notANumber, true), 128000},
        {"not copyable: 128 kbit/s a track", fastest, video(10, 0, 0, 2, 500000), 256000},
        {"x264 encodes even copyable audio", highQuality, video(10, 0, 0, 1, 96000, true), 128000},
        {"target size encodes it", targetSize(25, Plan::fastest), video(10, 0, 0, 3, 96000, true), 384000},
        {"no audio", recommended, video(10, 0, 0, 0, 0, true), 0},
        {"smallest copies up to 128 kbit/s", smallest, video(10, 0, 0, 1, 96000, true), 96000},
        {"smallest encodes more than that", smallest, video(10, 0, 0, 1, 160000, true), 128000},
    };
    for (const auto &[name, settings, info, rate] : audio) {
        EXPECT_EQ(settings.audioBitrate(info), rate) << name;
    }
    // About ten seconds of frames, rounded, at least 10; clamped for absurd rates.
    const std::pair<double, std::int64_t> intervals[] = {{29.97, 300}, {23.976, 240}, {0, 10},    {-30, 10},
                                                         {1.05, 11},   {1.24, 12},    {notANumber, 10}, {inf, int64Max}};
    for (const auto &[frameRate, frames] : intervals) {
        EXPECT_EQ(CompressionSettings().keyFrameInterval(video(10, 0, frameRate)), frames) << frameRate;
    }
    // A sample's bytes over the whole file.
    const std::tuple<std::int64_t, double, double, std::optional<std::int64_t>> bytes[] = {
        {1000000, 5, 60, 12000000}, {999, 10, 1, 99}, {0, 5, 60, {}}, {1000, 0, 60, {}}, {1000, notANumber, 60, {}},
        {1000, 5, -60, {}}, {1000, 5, inf, int64Max}};
    for (const auto &[sampleBytes, sampleSeconds, fullSeconds, expected] : bytes) {
        EXPECT_EQ(CompressionSettings::projectedBytes(sampleBytes, sampleSeconds, fullSeconds), expected) << sampleBytes;
    }
    // From a 5 s sample's packets: its rate moved a third of the way to the requested one (±2.5 %),
    // or its own bytes when it is the whole video (±1 % and 1.5 KB); audio and the MP4 boxes added as known.
    using Range = std::optional<OutputSizeEstimate>;
    const std::tuple<CompressionSettings, PreviewPacketStats, double, VideoInfo, Range> ranges[] = {
        {recommended, {100000, 2, 400000}, 5, video(60, 0), OutputSizeEstimate{4586600, 5251100}},
        {fastest, {100000, 2, 400000}, 5, video(61, 0, 0, 1, 128000, true), OutputSizeEstimate{5259471, 6394998}},
        {targetSize(25), {777777, 0, 400000}, 5, video(60, 0, 0, 2), OutputSizeEstimate{6669452, 12749900}},
        // Within 10 % of the rate: the content fills it, and a whole file may land 6 % above it.
        {recommended, {0, 0, 300000}, 5, video(60, 0), OutputSizeEstimate{3533600, 4157600}},
        {recommended, {100000, 1, 400000}, 5, video(5, 0), OutputSizeEstimate{497300, 510300}},
        // Constant quality from the sample alone: ±(5 % + 15 % of the share unseen).
        {highQuality, {100000, 2, 400000}, 5, video(60, 0), OutputSizeEstimate{4654850, 6792350}},
        // SVT-AV1's whole file differs from its short encodes: 9 % higher, at least ±13 %.
        {smallest, {100000, 2, 400000}, 5, video(6, 0), OutputSizeEstimate{563657, 730862}},
        {recommended, {1, 1, 1}, 5, video(0, 0), std::nullopt},
        {recommended, {1, 1, 1}, 0, video(60, 0), std::nullopt},
        {recommended, {1, 1, 1}, 5, video(inf, 0, 0, 1), OutputSizeEstimate{int64Max, int64Max}},
        {highQuality, {1, 1, 1}, 5, video(inf, 0, 0, 1), OutputSizeEstimate{int64Max, int64Max}},
    };
    for (const auto &[settings, stats, sample, info, expected] : ranges) {
        EXPECT_EQ(settings.projectedRange(stats, sample, info.duration, info), expected) << info.duration;
    }
    // Further stretches: each part weighted by the source's bytes, the range as wide as they disagree.
    const std::vector<std::int64_t> seconds{1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000,
                                            2000, 2000, 2000, 2000, 2000, 3000, 3000, 3000, 3000, 3000};
    // A rate plan: parts busier than the sample raise the top, up to 12 % over the requested rate.
    EXPECT_EQ(fastest.projectedRange({{5, 10, {20000, 1, 80000}}}, seconds, 20, video(20, 0)), (OutputSizeEstimate{360200, 989200}));
    // ... from a part at 87 % of it, once what plainer parts leave is spent there.
    const std::vector<std::int64_t> nearlyFilled{1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 2115, 2115, 2115, 2115, 2115};
    EXPECT_EQ(fastest.projectedRange({{5, 10, {0, 0, 90000}}}, nearlyFilled, 15, video(15, 0)), (OutputSizeEstimate{270650, 742400}));
    const std::vector<EncodedStretch> alike{{15, 16.25, {100000, 1, 100000}}, {0, 5, {100000, 1, 400000}}};
    // Stretches that agree: x264 still at least ±7 %.
    EXPECT_EQ(highQuality.projectedRange(alike, seconds, 20, video(20, 0)), (OutputSizeEstimate{1559200, 1792533}));
    EXPECT_EQ(highQuality.projectedRange(alike, {}, 20, video(20, 0)), (OutputSizeEstimate{1683200, 1935200}));
    const std::vector<EncodedStretch> unlike{{0, 5, {100000, 1, 400000}}, {15, 16.25, {100000, 1, 400000}}};
    EXPECT_EQ(highQuality.projectedRange(unlike, {}, 20, video(20, 0)), (OutputSizeEstimate{3739325, 4679075}));
    // The key frames at 0, 10 and 20 s cost what the nearest stretch's did: 300 KB, 100 KB, 100 KB.
    const std::vector<EncodedStretch> keys{{0, 5, {300000, 1, 400000}}, {12, 13.25, {100000, 1, 100000}}};
    EXPECT_EQ(highQuality.projectedRange(keys, {}, 30, video(30, 0)), (OutputSizeEstimate{2709800, 3115800}));
    // x265, a short video: the opening up to the sample's end is the output's own; the rest spends from
    // 30 % of the lower rate (a rest shorter than the sample may miss x265's bursts) to a third of the
    // way towards the requested rate, or 12 % over that rate where the content fills it.
    const std::vector<EncodedStretch> opening{{3.5, 8.5, {50000, 1, 200000}}, {0, 8.5, {100000, 1, 400000}}};
    EXPECT_EQ(recommended.projectedRange(opening, {}, 10, video(10, 0)), (OutputSizeEstimate{516920, 592907}));
    const std::vector<EncodedStretch> filling{{3.5, 8.5, {50000, 1, 300000}}, {0, 8.5, {100000, 1, 400000}}};
    EXPECT_EQ(recommended.projectedRange(filling, {}, 10, video(10, 0)), (OutputSizeEstimate{520064, 622392}));
    EXPECT_EQ(recommended.estimateStretches(3.5, 8.5, 10), (std::vector<std::pair<double, double>>{{0, 8.5}}));
    EXPECT_TRUE(recommended.estimateStretches(7, 12, 20).size() == 1 && recommended.estimateStretches(11, 16, 32).empty());
    EXPECT_TRUE(fastest.estimateStretches(3.5, 8.5, 10).empty());
    // SVT-AV1, a short video: the opening is the output's own; the rest spends from the sample's rate
    // fallen as far again (its share of the opening's, cubed) to 25 % over the higher rate; a key frame
    // there costs half the opening's to all of it.
    const std::vector<EncodedStretch> av1Opening{{4.2, 9.2, {50000, 1, 200000}}, {0, 9.2, {100000, 1, 400000}}};
    EXPECT_EQ(smallest.projectedRange(av1Opening, {}, 12, video(12, 0)), (OutputSizeEstimate{637033, 764993}));
    // Further on, a stretch speaks for the rest as without the opening (9 % up, ±13 %).
    const std::vector<EncodedStretch> av1After{
        {7, 12, {50000, 1, 200000}}, {0, 12, {100000, 2, 400000}}, {13.375, 14.625, {30000, 1, 60000}}};
    EXPECT_EQ(smallest.projectedRange(av1After, {}, 20, video(20, 0)), (OutputSizeEstimate{858469, 982401}));
    EXPECT_EQ(smallest.estimateStretches(3.5, 8.5, 10), (std::vector<std::pair<double, double>>{{0, 8.5}}));
    EXPECT_EQ(smallest.estimateStretches(7, 12, 20),
              (std::vector<std::pair<double, double>>{{0, 12}, {13.375, 14.625}, {17.375, 18.625}}));
    // Spread over what the sample leaves out; none for fastest or when it sees nearly all.
    const auto spread = highQuality.estimateStretches(21, 26, 60);
    ASSERT_EQ(spread.size(), 3u);
    for (const auto &[index, start] : {std::pair{0, 8.5416667}, {1, 31.875}, {2, 50.2083333}}) {
        EXPECT_NEAR(spread[index].first, start, 1e-6);
        EXPECT_NEAR(spread[index].second, start + 1.25, 1e-6);
    }
    EXPECT_EQ(smallest.estimateStretches(21, 26, 60), spread);
    EXPECT_TRUE(fastest.estimateStretches(21, 26, 60).empty());
    EXPECT_TRUE(highQuality.estimateStretches(2, 7, 9).empty());
    // x264's stretches run on over its 40 frames of look-ahead; SVT-AV1's would be cut inside a group.
    EXPECT_DOUBLE_EQ(highQuality.estimateStretchTail(video(60, 0, 25)), 1.6);
    EXPECT_EQ(smallest.estimateStretchTail(video(60, 0, 25)), 0);
}

TEST(Formatters, DurationsByteCountsAndRemainingTime)
{
    // Beyond the 64-bit range the rounded value clamps instead of overflowing.
    const std::pair<double, const char *> durations[] = {
        {0, "0:00"}, {65.4, "1:05"}, {59.5, "1:00"}, {3599.4, "59:59"}, {3599.5, "1:00:00"}, {36000, "10:00:00"}, {2.5, "0:03"},
        {-2.5, "0:00"}, {notANumber, "--:--"}, {inf, "--:--"}, {1e300, "2562047788015215:30:07"}};
    for (const auto &[seconds, text] : durations) {
        EXPECT_EQ(Formatters::duration(seconds).toStdString(), text) << seconds;
    }
    const QLocale previous;
    QLocale::setDefault(QLocale::c());
    const std::pair<std::int64_t, const char *> counts[] = {
        {0, "0 bytes"},   {999, "999 bytes"},      {1'000, "1 KB"},       {999'499, "999 KB"},         {1'000'000, "1 MB"},
        {12'345'678, "12.3 MB"}, {45'960'000, "46 MB"}, {1'234'567'890, "1.23 GB"}, {2'500'000'000, "2.5 GB"}};
    for (const auto &[bytes, text] : counts) {
        EXPECT_EQ(Formatters::byteCount(bytes).toStdString(), text) << bytes;
    }
    // The remaining time, from the run's speed, only once it is known; minutes rounded up.
    using Left = std::pair<std::optional<double>, std::optional<double>>;
    const std::tuple<double, double, double, double, double, Left> runs[] = {
        {10, 20, 100, 5, 10, {2.5, 40}},         // 2 s of video a second
        {4.9, 20, 100, 5, 10, {}},               // the first seconds
        {10, 0.9, 100, 0.9, 10, {}},             // less than a hundredth done
        {10, 100, 100, 10, 10, {0, 0}},          // done
        {10, 20, 0, 5, 10, {}}, {notANumber, 20, 100, 5, 10, {}}, {10, 20, inf, 5, 10, {}},
    };
    for (const auto &[elapsed, done, total, currentDone, current, left] : runs) {
        const auto e = RemainingTime::estimate(elapsed, done, total, currentDone, current);
        EXPECT_EQ(Left(e.current, e.batch), left) << elapsed << " " << done << " of " << total;
    }
    const std::pair<double, const char *> texts[] = {
        {0, "剩余不到 1 分钟"}, {59.9, "剩余不到 1 分钟"}, {60, "剩余约 1 分钟"}, {61, "剩余约 2 分钟"}, {3599, "剩余约 1 小时"},
        {3661, "剩余约 1 小时 2 分钟"}, {-5, "剩余不到 1 分钟"}, {notANumber, ""}, {1e300, "剩余约 100 小时"}};
    for (const auto &[seconds, text] : texts) {
        EXPECT_EQ(RemainingTime::text(seconds).toStdString(), text) << seconds;
    }
    // The decimal point follows the user's locale.
    QLocale::setDefault(QLocale(QLocale::German));
    EXPECT_EQ(Formatters::byteCount(12'345'678), QStringLiteral("12,3 MB"));
    QLocale::setDefault(previous);
}
