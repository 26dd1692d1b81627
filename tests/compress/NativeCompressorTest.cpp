#include "compress/CompressionError.h"
#include "compress/NativeCompressor.h"
#include "platform/MediaFramework.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stop_token>

using namespace slimreel;

namespace {

VideoInfo probed(const QString &name)
{
    const auto info = test::wait(MediaFramework::inspect(QUrl::fromLocalFile(test::media(name))));
    EXPECT_TRUE(info.has_value()) << name.toStdString();
    return info.value_or(VideoInfo{});
}

CompressionSettings quality(CompressionPlan plan)
{
    return {CompressionMode::quality, plan, 25};
}

double number(const QString &path, const QString &entry, const QString &stream = QStringLiteral("v:0"))
{
    return test::ffprobeValue(path, entry, stream).toDouble();
}

struct Outcome {
    Result<void> result;
    std::vector<double> progress;
};

Outcome exportWith(NativeCompressor &compressor, const VideoInfo &info, CompressionSettings settings, const QString &output,
             std::optional<TimeRange> range = std::nullopt)
{
    Outcome run;
    run.result = test::wait(compressor.compress(info, settings, QUrl::fromLocalFile(output), range,
                                                [&run](double value) { run.progress.push_back(value); }, {}));
    return run;
}

} // namespace

TEST(NativeCompressor, PresetFollowsTheSettings)
{
    using Preset = ExportSession::Preset;
    const struct {
        CompressionMode mode;
        CompressionPlan plan;
        Preset preset;
    } cases[] = {
        {CompressionMode::quality, CompressionPlan::fastest, Preset::preset1280x720},
        {CompressionMode::quality, CompressionPlan::recommended, Preset::preset1920x1080},
        {CompressionMode::quality, CompressionPlan::highQuality, Preset::highestQuality},
        {CompressionMode::targetSize, CompressionPlan::fastest, Preset::hevcHighestQuality},
        {CompressionMode::targetSize, CompressionPlan::recommended, Preset::hevcHighestQuality},
        {CompressionMode::targetSize, CompressionPlan::highQuality, Preset::hevcHighestQuality},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(NativeCompressor::exportPreset({c.mode, c.plan, 10}), c.preset)
            << rawValue(c.mode).toStdString() << "/" << rawValue(c.plan).toStdString();
    }
}

TEST(NativeCompressor, HeightCapsOfTheTwoPlansThatReachIt)
{
    // tall.mp4 is 360x1200: both presets scale it down, keeping its shape.
    const struct {
        CompressionPlan plan;
        int width;
        int height;
    } cases[] = {
        {CompressionPlan::fastest, 216, 720},
        {CompressionPlan::recommended, 324, 1080},
    };
    const VideoInfo info = probed(QStringLiteral("tall.mp4"));
    QTemporaryDir dir;
    for (const auto &c : cases) {
        const QString output = dir.filePath(rawValue(c.plan) + QStringLiteral(".mp4"));
        NativeCompressor compressor;
        const Outcome run = exportWith(compressor, info, quality(c.plan), output);
        ASSERT_TRUE(run.result.has_value()) << run.result.error().description().toStdString();
        EXPECT_EQ(test::ffprobeValue(output, QStringLiteral("stream=codec_name")), QStringLiteral("h264"));
        EXPECT_EQ(number(output, QStringLiteral("stream=height")), c.height);
        EXPECT_EQ(number(output, QStringLiteral("stream=width")), c.width);
        EXPECT_EQ(test::ffprobeValue(output, QStringLiteral("stream=codec_name"), QStringLiteral("a:0")),
                  QStringLiteral("aac"));
        EXPECT_NEAR(number(output, QStringLiteral("format=duration")), info.duration, 0.15);
        EXPECT_LT(QFileInfo(output).size(), info.fileSize);
    }
}

TEST(NativeCompressor, TypicalFootageComesOutSmallerInEveryPreset)
{
    const struct {
        CompressionSettings settings;
        const char *codec;
    } cases[] = {
        {quality(CompressionPlan::fastest), "h264"},
        {quality(CompressionPlan::recommended), "h264"},
        {quality(CompressionPlan::highQuality), "h264"},
        {{CompressionMode::targetSize, CompressionPlan::recommended, 1}, "hevc"},
    };
    const VideoInfo info = probed(QStringLiteral("h264_aac.mp4"));
    QTemporaryDir dir;
    for (const auto &c : cases) {
        const QString output = dir.filePath(ExportSession::presetName(NativeCompressor::exportPreset(c.settings)) + ".mp4");
        NativeCompressor compressor;
        const Outcome run = exportWith(compressor, info, c.settings, output);
        ASSERT_TRUE(run.result.has_value()) << c.codec << ": " << run.result.error().description().toStdString();
        EXPECT_EQ(test::ffprobeValue(output, QStringLiteral("stream=codec_name")).toStdString(), c.codec);
        // A source below every cap keeps its own size.
        EXPECT_EQ(number(output, QStringLiteral("stream=width")), 640);
        EXPECT_EQ(number(output, QStringLiteral("stream=height")), 360);
        EXPECT_EQ(test::ffprobeValue(output, QStringLiteral("stream=codec_name"), QStringLiteral("a:0")),
                  QStringLiteral("aac"));
        EXPECT_NEAR(number(output, QStringLiteral("format=duration")), info.duration, 0.15);
        const qint64 size = QFileInfo(output).size();
        EXPECT_LT(size, info.fileSize) << c.codec;
        std::printf("%s: %lld -> %lld bytes\n", qPrintable(QFileInfo(output).fileName()),
                    static_cast<long long>(info.fileSize), static_cast<long long>(size));
    }
}

TEST(NativeCompressor, HevcIsTaggedForAppleDevices)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("hevc.mp4"));
    NativeCompressor compressor;
    const Outcome run = exportWith(compressor, probed(QStringLiteral("very_short.mp4")),
                             {CompressionMode::targetSize, CompressionPlan::fastest, 1}, output);
    ASSERT_TRUE(run.result.has_value()) << run.result.error().description().toStdString();
    EXPECT_EQ(test::ffprobeValue(output, QStringLiteral("stream=codec_tag_string")), QStringLiteral("hvc1"));
}

TEST(NativeCompressor, PreviewRangeExportsOnlyThatPart)
{
    const struct {
        const char *file;
        TimeRange range;
        int frames;
        int audioStreams;
    } cases[] = {
        {"h264_aac.mp4", {1.0, 3.0}, 50, 1},
        {"long.mp4", {12.5, 17.5}, 125, 1},
        {"two_audio.mp4", {0.5, 2.5}, 50, 2},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        const QString output = dir.filePath(QString::fromLatin1(c.file));
        NativeCompressor compressor;
        const Outcome run = exportWith(compressor, probed(QString::fromLatin1(c.file)), quality(CompressionPlan::fastest),
                                       output, c.range);
        ASSERT_TRUE(run.result.has_value()) << c.file << ": " << run.result.error().description().toStdString();
        EXPECT_NEAR(number(output, QStringLiteral("format=duration")), c.range.length(), 0.15) << c.file;
        EXPECT_NEAR(number(output, QStringLiteral("stream=nb_frames")), c.frames, 2) << c.file;
        EXPECT_NEAR(number(output, QStringLiteral("stream=start_time")), 0.0, 0.1) << c.file;
        const QString lastAudio = QStringLiteral("a:%1").arg(c.audioStreams - 1);
        EXPECT_EQ(test::ffprobeValue(output, QStringLiteral("stream=codec_name"), lastAudio), QStringLiteral("aac")) << c.file;
        EXPECT_NEAR(number(output, QStringLiteral("stream=duration"), lastAudio), c.range.length(), 0.15) << c.file;
        EXPECT_EQ(run.progress.back(), 1.0) << c.file;
    }
}

TEST(NativeCompressor, ExistingDestinationIsReplaced)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("out.mp4"));
    {
        QFile old(output);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5'000'000, 'x'));
    }
    NativeCompressor compressor;
    const Outcome run = exportWith(compressor, probed(QStringLiteral("very_short.mp4")), quality(CompressionPlan::fastest), output);
    ASSERT_TRUE(run.result.has_value()) << run.result.error().description().toStdString();
    EXPECT_LT(QFileInfo(output).size(), 5'000'000);
    EXPECT_EQ(test::ffprobeValue(output, QStringLiteral("stream=codec_name")), QStringLiteral("h264"));
}

TEST(NativeCompressor, ProgressRisesAndEndsAtExactlyOne)
{
    QTemporaryDir dir;
    NativeCompressor compressor;
    const Outcome run = exportWith(compressor, probed(QStringLiteral("long.mp4")), quality(CompressionPlan::fastest),
                             dir.filePath(QStringLiteral("out.mp4")));
    ASSERT_TRUE(run.result.has_value()) << run.result.error().description().toStdString();
    ASSERT_GE(run.progress.size(), 2u);
    EXPECT_EQ(run.progress.back(), 1.0);
    EXPECT_TRUE(std::ranges::is_sorted(run.progress));
    EXPECT_TRUE(std::ranges::all_of(run.progress, [](double p) { return p >= 0.0 && p <= 1.0; }));
}

TEST(NativeCompressor, CancelDuringExport)
{
    QTemporaryDir dir;
    NativeCompressor compressor;
    std::optional<Result<void>> result;
    double lastProgress = 0;
    auto task = compressor.compress(probed(QStringLiteral("long.mp4")), quality(CompressionPlan::highQuality),
                                    QUrl::fromLocalFile(dir.filePath(QStringLiteral("out.mp4"))), std::nullopt,
                                    [&](double p) { lastProgress = p; }, {});
    auto done = task.then([&](Result<void> r) { result = std::move(r); });
    ASSERT_TRUE(test::spinUntil([&] { return result.has_value() || (compressor.exportBox() && lastProgress > 0); }));
    ASSERT_FALSE(result.has_value()) << "finished before it could be cancelled";
    test::wait(compressor.cancel());
    ASSERT_TRUE(test::spinUntil([&] { return result.has_value(); }));
    ASSERT_FALSE(result->has_value());
    EXPECT_TRUE(isError(result->error(), CompressionError::Case::cancelled)) << result->error().description().toStdString();
    EXPECT_EQ(result->error().description(), QStringLiteral("任务已取消"));
    EXPECT_EQ(compressor.exportBox(), nullptr);
}

TEST(NativeCompressor, CancelledTaskStopsTheExport)
{
    QTemporaryDir dir;
    NativeCompressor compressor;
    std::stop_source stop;
    std::optional<Result<void>> result;
    double lastProgress = 0;
    auto task = compressor.compress(probed(QStringLiteral("long.mp4")), quality(CompressionPlan::highQuality),
                                    QUrl::fromLocalFile(dir.filePath(QStringLiteral("out.mp4"))), std::nullopt,
                                    [&](double p) { lastProgress = p; }, stop.get_token());
    auto done = task.then([&](Result<void> r) { result = std::move(r); });
    ASSERT_TRUE(test::spinUntil([&] { return result.has_value() || lastProgress > 0; }));
    ASSERT_FALSE(result.has_value()) << "finished before it could be cancelled";
    stop.request_stop();
    ASSERT_TRUE(test::spinUntil([&] { return result.has_value(); }));
    ASSERT_FALSE(result->has_value());
    EXPECT_TRUE(isError(result->error(), CompressionError::Case::cancelled));
    EXPECT_EQ(compressor.exportBox(), nullptr);
}

TEST(NativeCompressor, CancelWhileIdleDoesNothing)
{
    NativeCompressor compressor;
    test::wait(compressor.cancel());
    EXPECT_EQ(compressor.exportBox(), nullptr);
    // No cancellation is left pending for the next export.
    QTemporaryDir dir;
    const Outcome run = exportWith(compressor, probed(QStringLiteral("very_short.mp4")), quality(CompressionPlan::fastest),
                             dir.filePath(QStringLiteral("out.mp4")));
    EXPECT_TRUE(run.result.has_value()) << run.result.error().description().toStdString();
}

TEST(NativeCompressor, IncompatibleSourceWritesNothing)
{
    for (const char *name : {"not_video.mp4", "audio_only.m4a"}) {
        QTemporaryDir dir;
        const QString output = dir.filePath(QStringLiteral("out.mp4"));
        NativeCompressor compressor;
        VideoInfo info;
        info.url = QUrl::fromLocalFile(test::media(QString::fromLatin1(name)));
        const Outcome run = exportWith(compressor, info, quality(CompressionPlan::fastest), output);
        ASSERT_FALSE(run.result.has_value()) << name;
        EXPECT_TRUE(isError(run.result.error(), CompressionError::Case::unsupportedByNative)) << name;
        EXPECT_EQ(run.result.error().description(), QStringLiteral("系统原生后端不支持这个文件，请改用 FFmpeg。"));
        EXPECT_FALSE(QFile::exists(output)) << name;
        EXPECT_EQ(compressor.exportBox(), nullptr);
    }
}

TEST(NativeCompressor, UnwritableDestinationFailsWithThePipelinesMessage)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("missing-folder/out.mp4"));
    NativeCompressor compressor;
    const Outcome run = exportWith(compressor, probed(QStringLiteral("very_short.mp4")), quality(CompressionPlan::fastest), output);
    ASSERT_FALSE(run.result.has_value());
    EXPECT_TRUE(isError(run.result.error(), CompressionError::Case::failed));
    EXPECT_FALSE(run.result.error().description().isEmpty());
    EXPECT_NE(run.result.error().description(), QStringLiteral("原生压缩失败"));
    EXPECT_EQ(compressor.exportBox(), nullptr);
}
