#include "compress/FFmpegCompressor.h"
#include "compress/NativeCompressor.h"
#include "probe/VideoProbeService.h"
#include "support/Fakes.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>

using namespace slimreel;
using namespace slimreel::test;

// Every kind of test video through both back ends: a playable MP4 of the expected codec, size and audio, as long as
// the video or its part, smaller than the source, progress up to its end, nothing left in the scratch folder.
TEST(RealEncodes, EveryKindOfSourceThroughBothBackEnds)
{
    enum class Audio { copied, encoded, none };
    const struct {
        bool native;
        const char *file;
        CompressionSettings settings;
        std::optional<TimeRange> range;
        const char *codec;
        int width, height; // within a pixel on the framework, whose sides come out even
        Audio audio;
        int audioStreams = 1;
    } cases[] = {
        {false, "h264_aac.mp4", fastest, {}, "h264", 640, 360, Audio::copied},
        {false, "h264_aac.mp4", recommended, {}, "hevc", 640, 360, Audio::copied},
        {false, "h264_aac.mp4", targetSize(0.5), {}, "h264", 640, 360, Audio::encoded},
        {false, "h264_mp3.mp4", fastest, {}, "h264", 640, 360, Audio::encoded},
        {false, "no_audio.mp4", targetSize(0.4), TimeRange{0.5, 2.5}, "h264", 640, 360, Audio::none, 0},
        {false, "odd_size.mp4", highQuality, {}, "h264", 320, 240, Audio::none, 0},
        {false, "tall.mp4", fastest, {}, "h264", 216, 720, Audio::copied},
        {false, "h264_aac.mp4", smallest, {}, "av1", 640, 360, Audio::copied},
        {true, "h264_aac.mp4", fastest, {}, "h264", 640, 360, Audio::encoded},
        {true, "h264_aac.mp4", targetSize(1, CompressionPlan::fastest), {}, "hevc", 640, 360, Audio::encoded},
        {true, "tall.mp4", fastest, {}, "h264", 216, 720, Audio::encoded},
        {true, "tall.mp4", recommended, {}, "h264", 324, 1080, Audio::encoded},
        {true, "h264_aac.mp4", smallest, {}, "av1", 640, 360, Audio::encoded},
        // Turned once in the pixels, so no player may turn it again.
        {true, "portrait_rotated.mp4", highQuality, {}, "h264", 360, 640, Audio::encoded},
        {true, "odd_size.mp4", highQuality, {}, "h264", 321, 241, Audio::none, 0},
        {true, "hevc_ac3.mp4", fastest, {}, "h264", 640, 360, Audio::encoded},
        {true, "clip.webm", fastest, {}, "h264", 480, 270, Audio::encoded},
        {true, "two_audio.mp4", fastest, TimeRange{0.5, 2.5}, "h264", 640, 360, Audio::encoded, 2},
    };
    const PrivateTempFolder privateTmp;
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.mp4"));
    EncoderCatalog software(EncoderProfile::software());
    FFmpegCompressor ffmpeg(ToolLocator::forTool(QStringLiteral("ffmpeg")), software);
    NativeCompressor native;
    wait(native.cancel()); // while idle: nothing is left pending for the next export
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2 %3").arg(c.native ? "native" : "ffmpeg", c.file, rawValue(c.settings.plan)).toStdString());
        const QString source = media(QString::fromLatin1(c.file));
        const auto info = wait(VideoProbeService().inspect(QUrl::fromLocalFile(source)));
        ASSERT_TRUE(info);
        std::vector<double> progress;
        VideoCompressing &compressor = c.native ? static_cast<VideoCompressing &>(native) : ffmpeg;
        const auto result = wait(compressor.compress(*info, c.settings, QUrl::fromLocalFile(out), c.range,
                                                     [&](double p) { progress.push_back(p); }, {}));
        ASSERT_TRUE(result.has_value()) << result.error().description().toStdString();
        const auto value = [&](const char *entry, const QString &stream = "v:0") { return ffprobeValue(out, entry, stream); };
        EXPECT_EQ(value("stream=codec_name").toStdString(), c.codec);
        const std::string codec = c.codec;
        EXPECT_EQ(value("stream=codec_tag_string"), codec == "hevc" ? "hvc1" : codec == "av1" ? "av01" : "avc1");
        const int width = value("stream=width").toInt(), height = value("stream=height").toInt();
        const int slack = c.native ? 1 : 0;
        EXPECT_TRUE(std::abs(width - c.width) <= slack && std::abs(height - c.height) <= slack && (width | height) % 2 == 0)
            << width << "x" << height;
        // What every player can show, upright as it is stored.
        EXPECT_EQ(value("stream=pix_fmt") + value("stream_side_data=rotation"), QStringLiteral("yuv420p"));
        for (int i = 0; i <= c.audioStreams; ++i) {
            EXPECT_EQ(value("stream=codec_name", QStringLiteral("a:%1").arg(i)), i < c.audioStreams ? "aac" : "");
        }
        const auto digest = [](const QString &path) {
            return runTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a:0", "-c", "copy", "-f", "md5", "-"}).out;
        };
        EXPECT_TRUE(c.audio == Audio::none || (digest(out) == digest(source)) == (c.audio == Audio::copied)); // same packets: copied
        const double length = c.range ? c.range->length() : info->duration;
        EXPECT_NEAR(value("format=duration").toDouble(), length, 0.2);
        // A part starts at 0, as a file of its own; a whole file comes out smaller, two passes near their target.
        EXPECT_LT(std::abs(value("stream=start_time").toDouble()), 0.1);
        const bool twoPass = c.settings.mode == CompressionMode::targetSize && !c.native;
        EXPECT_LT(QFileInfo(out).size(), twoPass ? c.settings.targetSizeMB * 1e6 * length / info->duration * 1.3 : info->fileSize);
        // The index before the media data, so that players can start at once.
        const QByteArray bytes = readFile(out);
        EXPECT_TRUE(bytes.indexOf("moov") >= 0 && bytes.indexOf("moov") < bytes.indexOf("mdat"));
        EXPECT_TRUE(!progress.empty() && std::ranges::is_sorted(progress) && progress.front() >= 0 && progress.back() == 1.0);
        EXPECT_EQ(tempEntries(QStringLiteral("Slimreel-")), QStringList());
    }
}
