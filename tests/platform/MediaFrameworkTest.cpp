#include "platform/MediaFramework.h"

#include "probe/CodecNames.h"
#include "probe/VideoProbeError.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gst/gst.h>
#include <gtest/gtest.h>

using namespace slimreel;

namespace {

Result<VideoInfo> inspectMedia(const QString &name)
{
    return test::wait(MediaFramework::inspect(QUrl::fromLocalFile(test::media(name))));
}

QString subTypeText(const char *capsText)
{
    GstCaps *caps = gst_caps_from_string(capsText);
    const auto code = MediaFramework::mediaSubType(caps);
    gst_caps_unref(caps);
    return code ? CodecNames::fourCC(*code) : QStringLiteral("<none>");
}

} // namespace

TEST(MediaFramework, H264WithAacIsReadInFull)
{
    const auto info = inspectMedia(QStringLiteral("h264_aac.mp4"));
    ASSERT_TRUE(info.has_value()) << info.error().description().toStdString();
    EXPECT_EQ(info->width, 640);
    EXPECT_EQ(info->height, 360);
    EXPECT_NEAR(info->duration, 4.0, 0.1);
    EXPECT_DOUBLE_EQ(info->frameRate, 25.0);
    EXPECT_EQ(info->codec, QStringLiteral("H.264"));
    EXPECT_EQ(info->audioTrackCount, 1);
    EXPECT_TRUE(info->canCopyAudioToMP4);
    // The clip was written at about 3 Mbit/s video and 128 kbit/s audio.
    EXPECT_GT(info->videoBitrate, 2'000'000);
    EXPECT_LT(info->videoBitrate, 6'000'000);
    EXPECT_GT(info->audioBitrate, 100'000);
    EXPECT_LT(info->audioBitrate, 140'000);
    EXPECT_EQ(info->fileSize, QFileInfo(test::media(QStringLiteral("h264_aac.mp4"))).size());
    EXPECT_EQ(info->url, QUrl::fromLocalFile(test::media(QStringLiteral("h264_aac.mp4"))));
}

TEST(MediaFramework, HevcWithAc3CannotCopyAudio)
{
    const auto info = inspectMedia(QStringLiteral("hevc_ac3.mp4"));
    ASSERT_TRUE(info.has_value()) << info.error().description().toStdString();
    EXPECT_EQ(info->codec, QStringLiteral("HEVC"));
    EXPECT_EQ(info->audioTrackCount, 1);
    EXPECT_FALSE(info->canCopyAudioToMP4);
    // The container names no AC-3 rate; the decoder does, so this track must still decode.
    EXPECT_EQ(info->audioBitrate, 192'000);
}

TEST(MediaFramework, Mp3AudioCannotBeCopied)
{
    const auto info = inspectMedia(QStringLiteral("h264_mp3.mp4"));
    ASSERT_TRUE(info.has_value()) << info.error().description().toStdString();
    EXPECT_EQ(info->audioTrackCount, 1);
    EXPECT_FALSE(info->canCopyAudioToMP4);
}

TEST(MediaFramework, TwoAudioTracksAreCountedAndSummed)
{
    const auto info = inspectMedia(QStringLiteral("two_audio.mp4"));
    ASSERT_TRUE(info.has_value()) << info.error().description().toStdString();
    EXPECT_EQ(info->audioTrackCount, 2);
    EXPECT_TRUE(info->canCopyAudioToMP4);
    // 96k + 128k: more than either track alone.
    EXPECT_GT(info->audioBitrate, 200'000);
    EXPECT_LT(info->audioBitrate, 240'000);
}

TEST(MediaFramework, NoAudioTrack)
{
    const auto info = inspectMedia(QStringLiteral("no_audio.mp4"));
    ASSERT_TRUE(info.has_value()) << info.error().description().toStdString();
    EXPECT_EQ(info->audioTrackCount, 0);
    EXPECT_EQ(info->audioBitrate, 0);
    EXPECT_FALSE(info->canCopyAudioToMP4);
}

TEST(MediaFramework, QuarterTurnedVideoReportsShownSize)
{
    const auto info = inspectMedia(QStringLiteral("portrait_rotated.mp4"));
    ASSERT_TRUE(info.has_value()) << info.error().description().toStdString();
    EXPECT_EQ(info->width, 360);
    EXPECT_EQ(info->height, 640);
}

TEST(MediaFramework, OtherContainers)
{
    const struct {
        const char *file;
        const char *codec;
        std::int64_t width;
        std::int64_t height;
        bool copyable;
    } cases[] = {
        {"clip.webm", "VP9", 480, 270, false},
        {"clip.mkv", "H.264", 480, 270, true},
        {"odd_size.mp4", "H.264", 321, 241, false},
    };
    for (const auto &c : cases) {
        const auto info = inspectMedia(QString::fromLatin1(c.file));
        ASSERT_TRUE(info.has_value()) << c.file << ": " << info.error().description().toStdString();
        EXPECT_EQ(info->codec.toStdString(), c.codec) << c.file;
        EXPECT_EQ(info->width, c.width) << c.file;
        EXPECT_EQ(info->height, c.height) << c.file;
        EXPECT_EQ(info->canCopyAudioToMP4, c.copyable) << c.file;
        EXPECT_GT(info->duration, 1.5) << c.file;
        EXPECT_DOUBLE_EQ(info->frameRate, 25.0) << c.file;
    }
}

TEST(MediaFramework, ContainersWithoutStreamRatesGetAnEstimateFromTheFile)
{
    // Matroska and WebM carry no per-stream bit rate: the whole file's rate less
    // the known audio stands in, so plans do not fall to their floor.
    for (const char *name : {"clip.mkv", "clip.webm"}) {
        const QString path = test::media(QString::fromLatin1(name));
        const auto info = inspectMedia(QString::fromLatin1(name));
        ASSERT_TRUE(info.has_value()) << name;
        const double overall = static_cast<double>(QFileInfo(path).size()) * 8.0 / info->duration;
        EXPECT_GT(info->videoBitrate, 0.5 * overall) << name;
        EXPECT_LE(info->videoBitrate, overall) << name;
        EXPECT_EQ(info->audioTrackCount, 1) << name;
    }
}

TEST(MediaFramework, Failures)
{
    const struct {
        QString path;
        VideoProbeError expected;
    } cases[] = {
        {test::media(QStringLiteral("not_video.mp4")), VideoProbeError::unreadable},
        {test::media(QStringLiteral("audio_only.m4a")), VideoProbeError::missingVideoTrack},
        {QDir::temp().filePath(QStringLiteral("slimreel-no-such-file.mp4")), VideoProbeError::unreadable},
    };
    for (const auto &c : cases) {
        const auto info = test::wait(MediaFramework::inspect(QUrl::fromLocalFile(c.path)));
        ASSERT_FALSE(info.has_value()) << c.path.toStdString();
        EXPECT_TRUE(isError(info.error(), c.expected))
            << c.path.toStdString() << ": " << info.error().description().toStdString();
    }
}

TEST(MediaFramework, PathWithSpacesAndChineseCharacters)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString copy = dir.filePath(QStringLiteral("我的 视频 #1.mp4"));
    ASSERT_TRUE(QFile::copy(test::media(QStringLiteral("h264_aac.mp4")), copy));
    const auto info = test::wait(MediaFramework::inspect(QUrl::fromLocalFile(copy)));
    ASSERT_TRUE(info.has_value()) << info.error().description().toStdString();
    EXPECT_EQ(info->width, 640);
    EXPECT_EQ(info->url, QUrl::fromLocalFile(copy));
}

TEST(MediaFramework, DoesNotBlockTheEventLoop)
{
    // While a discovery runs on its worker, a zero timer on this thread still fires.
    bool timerFired = false;
    bool done = false;
    QTimer::singleShot(0, [&] { timerFired = true; });
    auto task = MediaFramework::inspect(QUrl::fromLocalFile(test::media(QStringLiteral("clip.webm"))));
    auto continuation = task.then([&](const Result<VideoInfo> &) { done = true; });
    EXPECT_FALSE(done);
    ASSERT_TRUE(test::spinUntil([&] { return done; }));
    EXPECT_TRUE(timerFired);
}

TEST(MediaFramework, ManySequentialInspectionsStayFast)
{
    // Prints the mean time per file for the record; each call must still succeed
    // on a discoverer that has served the calls before it.
    const QUrl url = QUrl::fromLocalFile(test::media(QStringLiteral("h264_aac.mp4")));
    constexpr int runs = 40;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i) {
        ASSERT_TRUE(test::wait(MediaFramework::inspect(url)).has_value());
    }
    std::printf("inspection: %.1f ms per file\n", static_cast<double>(timer.elapsed()) / runs);
}

TEST(MediaFramework, SubtypeTable)
{
    const struct {
        const char *caps;
        const char *code;
    } cases[] = {
        {"video/x-h264, stream-format=avc", "avc1"},
        {"video/x-h265, stream-format=hvc1", "hvc1"},
        {"video/x-h265, stream-format=hev1", "hev1"},
        {"video/x-h265", "hvc1"},
        {"video/x-av1", "av01"},
        {"video/x-vp9", "vp09"},
        {"video/mpeg, mpegversion=4, systemstream=false", "mp4v"},
        {"video/x-prores, variant=hq", "apch"},
        {"video/x-prores, variant=4444", "ap4h"},
        {"audio/mpeg, mpegversion=4, stream-format=raw", "mp4a"},
        {"audio/mpeg, mpegversion=2", "mp4a"},
        {"audio/mpeg, mpegversion=1, mpegaudioversion=1, layer=3", ".mp3"},
        {"audio/mpeg, mpegversion=1, layer=2", ".mp2"},
        {"audio/x-ac3, framed=true", "ac-3"},
        {"audio/x-eac3", "ec-3"},
        {"audio/x-opus", "Opus"},
        {"audio/x-flac", "fLaC"},
        {"video/x-theora", "<none>"},
        {"audio/x-vorbis", "<none>"},
        {"audio/mpeg, mpegversion=1, layer=1", "<none>"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(subTypeText(c.caps).toStdString(), c.code) << c.caps;
    }
    EXPECT_FALSE(MediaFramework::mediaSubType(nullptr).has_value());
}

TEST(MediaFramework, SubtypesNameTheCodec)
{
    const struct {
        const char *caps;
        const char *name;
    } cases[] = {
        {"video/x-h264", "H.264"},
        {"video/x-h265, stream-format=hev1", "HEVC"},
        {"video/x-av1", "AV1"},
        {"video/x-vp9", "VP9"},
        {"video/x-prores, variant=4444", "AP4H"},
        {"video/x-theora", "未知"},
    };
    for (const auto &c : cases) {
        GstCaps *caps = gst_caps_from_string(c.caps);
        EXPECT_EQ(CodecNames::codecName(MediaFramework::mediaSubType(caps)).toStdString(), c.name) << c.caps;
        gst_caps_unref(caps);
    }
}
