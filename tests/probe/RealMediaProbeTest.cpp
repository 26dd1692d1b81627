#include "probe/VideoProbeError.h"
#include "probe/VideoProbeService.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace slimreel;

namespace {

Result<VideoInfo> probeWithFFprobe(const QString &name)
{
    const VideoProbeService service(ToolLocator::forTool(QStringLiteral("ffprobe")),
                                    VideoProbeService::Order::ffprobeOnly);
    return test::wait(service.inspect(QUrl::fromLocalFile(test::media(name))));
}

double number(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    EXPECT_TRUE(ok) << text.toStdString();
    return value;
}

} // namespace

TEST(RealMediaProbe, GeneratedVideosThroughFFprobe)
{
    const struct {
        const char *name;
        std::int64_t width;
        std::int64_t height;
        double frameRate;
        const char *codec;
        std::int64_t audioTracks;
        bool copyable;
    } cases[] = {
        {"h264_aac.mp4", 640, 360, 25, "H.264", 1, true},
        {"h264_mp3.mp4", 640, 360, 25, "H.264", 1, false},
        {"hevc_ac3.mp4", 640, 360, 25, "HEVC", 1, false},
        {"two_audio.mp4", 640, 360, 25, "H.264", 2, true},
        {"no_audio.mp4", 640, 360, 25, "H.264", 0, false},
        // Stored size: ffprobe applies no rotation.
        {"portrait_rotated.mp4", 640, 360, 25, "H.264", 1, true},
        {"clip.mkv", 480, 270, 25, "H.264", 1, true},
        {"clip.webm", 480, 270, 25, "VP9", 1, false},
        {"clip.avi", 480, 270, 25, "MPEG4", 1, false},
        {"odd_size.mp4", 321, 241, 25, "H.264", 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = test::media(QString::fromLatin1(c.name));
        const auto info = probeWithFFprobe(QString::fromLatin1(c.name));
        ASSERT_TRUE(info) << info.error().description().toStdString();
        EXPECT_EQ(info->url, QUrl::fromLocalFile(path));
        EXPECT_EQ(info->width, c.width);
        EXPECT_EQ(info->height, c.height);
        EXPECT_DOUBLE_EQ(info->frameRate, c.frameRate);
        EXPECT_EQ(info->codec, QString::fromLatin1(c.codec));
        EXPECT_EQ(info->audioTrackCount, c.audioTracks);
        EXPECT_EQ(info->canCopyAudioToMP4, c.copyable);
        EXPECT_EQ(info->fileSize, QFileInfo(path).size());
        EXPECT_EQ(info->duration, number(test::ffprobeValue(path, QStringLiteral("format=duration"))));
        EXPECT_GT(info->videoBitrate, 0);
        if (c.audioTracks == 0) {
            EXPECT_EQ(info->audioBitrate, 0);
        } else {
            EXPECT_GT(info->audioBitrate, 0);
        }
    }
}

TEST(RealMediaProbe, StatedRatesAreTakenAsTheyAre)
{
    const QString path = test::media(QStringLiteral("h264_aac.mp4"));
    const auto info = probeWithFFprobe(QStringLiteral("h264_aac.mp4"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->videoBitrate, number(test::ffprobeValue(path, QStringLiteral("stream=bit_rate"))));
    EXPECT_EQ(info->audioBitrate, number(test::ffprobeValue(path, QStringLiteral("stream=bit_rate"),
                                                            QStringLiteral("a:0"))));
}

TEST(RealMediaProbe, FilesThatAreNotVideos)
{
    const auto text = probeWithFFprobe(QStringLiteral("not_video.mp4"));
    ASSERT_FALSE(text);
    EXPECT_TRUE(isError(text.error(), VideoProbeError::unreadable));
    EXPECT_EQ(text.error().description(), QStringLiteral("无法读取这个视频文件"));

    const auto audio = probeWithFFprobe(QStringLiteral("audio_only.m4a"));
    ASSERT_FALSE(audio);
    EXPECT_TRUE(isError(audio.error(), VideoProbeError::missingVideoTrack));
    EXPECT_EQ(audio.error().description(), QStringLiteral("文件中没有可用的视频轨道"));

    const QTemporaryDir dir;
    const VideoProbeService service(ToolLocator::forTool(QStringLiteral("ffprobe")),
                                    VideoProbeService::Order::ffprobeOnly);
    const auto missing = test::wait(service.inspect(QUrl::fromLocalFile(dir.filePath(QStringLiteral("gone.mp4")))));
    ASSERT_FALSE(missing);
    EXPECT_TRUE(isError(missing.error(), VideoProbeError::unreadable));
}

// The default order: whichever side reads it, a plain H.264/AAC file gives these facts.
TEST(RealMediaProbe, DefaultOrderReadsACommonFile)
{
    const VideoProbeService service;
    const auto info = test::wait(service.inspect(QUrl::fromLocalFile(test::media(QStringLiteral("h264_aac.mp4")))));
    ASSERT_TRUE(info) << info.error().description().toStdString();
    EXPECT_EQ(info->width, 640);
    EXPECT_EQ(info->height, 360);
    EXPECT_EQ(info->codec, QStringLiteral("H.264"));
    EXPECT_EQ(info->audioTrackCount, 1);
    EXPECT_TRUE(info->canCopyAudioToMP4);
    EXPECT_NEAR(info->duration, 4.0, 0.1);

    const auto text = test::wait(service.inspect(QUrl::fromLocalFile(test::media(QStringLiteral("not_video.mp4")))));
    ASSERT_FALSE(text);
    EXPECT_TRUE(isError(text.error(), VideoProbeError::unreadable));
}
