#include "compress/CompressionError.h"
#include "compress/NativeCompressor.h"
#include "probe/VideoProbeService.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace slimreel;
using Plan = CompressionPlan;

namespace {

VideoInfo probed(const QString &path)
{
    const auto info = test::wait(VideoProbeService().inspect(QUrl::fromLocalFile(path)));
    return info.value_or(test::makeInfo(QUrl::fromLocalFile(path))); // for files that are no video
}

const CompressionSettings fastest{CompressionMode::quality, Plan::fastest, 25};
const CompressionSettings highQuality{CompressionMode::quality, Plan::highQuality, 25};

} // namespace

TEST(NativeCompressor, ExportsPlayableMP4sOfEveryKindOfSource)
{
    const struct {
        const char *file;
        CompressionSettings settings;
        std::optional<TimeRange> range;
        const char *codec;
        int width, height; // within a pixel: both sides come out even
        int audioStreams;  // each one AAC
    } cases[] = {
        {"h264_aac.mp4", fastest, {}, "h264", 640, 360, 1},
        {"h264_aac.mp4", {CompressionMode::targetSize, Plan::fastest, 1}, {}, "hevc", 640, 360, 1},
        {"tall.mp4", fastest, {}, "h264", 216, 720, 1},
        {"tall.mp4", {CompressionMode::quality, Plan::recommended, 25}, {}, "h264", 324, 1080, 1},
        // Turned once in the pixels, so no player may turn it again.
        {"portrait_rotated.mp4", highQuality, {}, "h264", 360, 640, 1},
        {"odd_size.mp4", highQuality, {}, "h264", 321, 241, 0},
        {"hevc_ac3.mp4", fastest, {}, "h264", 640, 360, 1},
        {"clip.webm", fastest, {}, "h264", 480, 270, 1},
        {"two_audio.mp4", fastest, TimeRange{0.5, 2.5}, "h264", 640, 360, 2},
    };
    const test::PrivateTempFolder privateTmp;
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("out.mp4"));
    NativeCompressor compressor;
    test::wait(compressor.cancel()); // while idle: nothing is left pending for the next export
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(c.file, rawValue(c.settings.plan)).toStdString());
        const VideoInfo info = probed(test::media(QString::fromLatin1(c.file)));
        std::vector<double> progress;
        const auto result = test::wait(compressor.compress(info, c.settings, QUrl::fromLocalFile(output), c.range,
                                                           [&](double p) { progress.push_back(p); }, {}));
        ASSERT_TRUE(result.has_value()) << result.error().description().toStdString();
        const auto value = [&](const char *entry, const QString &stream = "v:0") { return test::ffprobeValue(output, entry, stream); };
        EXPECT_EQ(value("stream=codec_name").toStdString(), c.codec);
        EXPECT_EQ(value("stream=codec_tag_string"), QLatin1String(c.codec) == "hevc" ? "hvc1" : "avc1");
        const int width = value("stream=width").toInt(), height = value("stream=height").toInt();
        EXPECT_TRUE(std::abs(width - c.width) <= 1 && std::abs(height - c.height) <= 1 && (width | height) % 2 == 0) << width << "x" << height;
        // What every player can show, upright as it is stored.
        EXPECT_EQ(value("stream=pix_fmt") + value("stream_side_data=rotation"), QStringLiteral("yuv420p"));
        for (int i = 0; i <= c.audioStreams; ++i) {
            EXPECT_EQ(value("stream=codec_name", QStringLiteral("a:%1").arg(i)), i < c.audioStreams ? "aac" : "");
        }
        const double length = c.range ? c.range->length() : info.duration;
        EXPECT_NEAR(value("format=duration").toDouble(), length, 0.15);
        // A part starts at 0, as a file of its own; a whole file comes out smaller.
        EXPECT_TRUE(c.range ? std::abs(value("stream=start_time").toDouble()) < 0.1 : QFileInfo(output).size() < info.fileSize);
        // The index before the media data, so that players can start at once.
        QFile written(output);
        const QByteArray bytes = written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
        EXPECT_TRUE(bytes.indexOf("moov") >= 0 && bytes.indexOf("moov") < bytes.indexOf("mdat"));
        EXPECT_TRUE(progress.size() >= 2 && std::ranges::is_sorted(progress) && progress.front() >= 0);
        EXPECT_EQ(progress.back(), 1.0);
    }
    EXPECT_TRUE(test::tempEntries(QStringLiteral("Slimreel-faststart-")).isEmpty());
}

TEST(NativeCompressor, FailuresAndCancellation)
{
    const test::PrivateTempFolder privateTmp;
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("out.mp4"));
    const QString veryShort = test::media(QStringLiteral("very_short.mp4"));
    const struct {
        QString source;
        std::optional<TimeRange> range;
        QString destination;
        Error expected; // without a text: the pipeline's own words
    } cases[] = {
        {test::media(QStringLiteral("not_video.mp4")), {}, output, CompressionError::unsupportedByNative()},
        {test::media(QStringLiteral("audio_only.m4a")), {}, output, CompressionError::unsupportedByNative()},
        {dir.filePath(QStringLiteral("gone.mp4")), {}, output, CompressionError::unsupportedByNative()},
        {veryShort, TimeRange{1, 1}, output, CompressionError::failed(QStringLiteral("所选片段为空"))},
        // Past the end the muxer would write a well-formed file without a picture.
        {veryShort, TimeRange{10, 15}, output, CompressionError::failed(QStringLiteral("所选片段中没有画面"))},
        {veryShort, {}, dir.filePath(QStringLiteral("missing-folder/out.mp4")), CompressionError::failed({})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source.toStdString());
        NativeCompressor compressor;
        const auto result = test::wait(compressor.compress(probed(c.source), fastest,
                                                           QUrl::fromLocalFile(c.destination), c.range, {}, {}));
        ASSERT_FALSE(result.has_value());
        const Error generic = CompressionError::failed(QStringLiteral("原生压缩失败"));
        EXPECT_TRUE(c.expected.text.isEmpty() ? isError(result.error(), CompressionError::Case::failed) && result.error() != generic
                                              : result.error() == c.expected)
            << result.error().description().toStdString();
        EXPECT_TRUE(c.expected != CompressionError::unsupportedByNative().toError() || !QFile::exists(output));
        EXPECT_EQ(compressor.exportBox(), nullptr);
    }

    // Cancelled, or the task stopped: the export ends, with no scratch file left behind.
    const VideoInfo info = probed(test::media(QStringLiteral("long.mp4")));
    for (const bool byStop : {false, true}) {
        NativeCompressor compressor;
        std::stop_source stop;
        std::optional<Result<void>> result;
        double lastProgress = 0;
        auto done = compressor
                        .compress(info, highQuality, QUrl::fromLocalFile(dir.filePath(QStringLiteral("out.mp4"))),
                                  std::nullopt, [&](double p) { lastProgress = p; }, stop.get_token())
                        .then([&](Result<void> r) { result = std::move(r); });
        ASSERT_TRUE(test::spinUntil([&] { return result.has_value() || lastProgress > 0; }));
        ASSERT_FALSE(result.has_value()) << "finished before it could be cancelled";
        byStop ? void(stop.request_stop()) : test::wait(compressor.cancel());
        ASSERT_TRUE(test::spinUntil([&] { return result.has_value(); }));
        EXPECT_EQ(*result, std::unexpected(CompressionError::cancelled().toError())) << byStop;
        EXPECT_EQ(compressor.exportBox(), nullptr);
    }
    EXPECT_TRUE(test::spinUntil([] { return test::tempEntries(QStringLiteral("Slimreel-faststart-")).isEmpty(); }));
}
