#include "compress/CompressionCoordinator.h"
#include "compress/FFmpegCompressor.h"
#include "compress/NativeCompressor.h"
#include "support/Fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace slimreel;
using namespace slimreel::test;

namespace {

// What a library or player reads from a video beyond its picture: date | title | location | audio languages |
// subtitles (codec:language) | chapters | transfer/pixel format.
QString carried(const QString &path)
{
    const ToolRun run =
        runTool("ffprobe", {"-v", "error", "-show_format", "-show_streams", "-show_chapters", "-of", "json", path});
    const QJsonObject root = QJsonDocument::fromJson(run.out.toUtf8()).object();
    const QJsonObject tags = root[u"format"][u"tags"].toObject();
    QStringList audio, subtitles, picture;
    for (const QJsonValue &value : root[u"streams"].toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream[u"codec_type"].toString();
        const QString language = stream[u"tags"][u"language"].toString();
        if (type == u"audio") {
            audio << language;
        } else if (type == u"subtitle") {
            subtitles << stream[u"codec_name"].toString() + u':' + language;
        } else if (type == u"video" && picture.isEmpty()) {
            picture << stream[u"color_transfer"].toString() << stream[u"pix_fmt"].toString();
        }
    }
    return QStringList{tags[u"creation_time"].toString().left(19), tags[u"title"].toString(), tags[u"location"].toString(),
                       audio.join(u','), subtitles.join(u','), QString::number(root[u"chapters"].toArray().size()),
                       picture.join(u'/')}
        .join(QStringLiteral(" | "));
}

// A source made with ffmpeg from the arguments after the lavfi picture input.
QString makeSource(const QTemporaryDir &dir, const QString &name, const QStringList &arguments)
{
    const QString path = dir.filePath(name);
    const ToolRun run = runTool("ffmpeg", QStringList{"-v", "error", "-y"} + arguments + QStringList{path});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    return path;
}

} // namespace

// Recording date, file time, permissions and the other tracks survive every
// plan and both back ends; image subtitles and an absent date stay absent.
TEST(Metadata, WhatTheSourceCarriesSurvivesEveryPlan)
{
    QTemporaryDir dir;
    const QString chapters = dir.filePath(QStringLiteral("chapters.txt"));
    const QString subtitles = dir.filePath(QStringLiteral("s.srt"));
    ASSERT_TRUE(writeFile(chapters, ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
                                    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n"));
    ASSERT_TRUE(writeFile(subtitles, "1\n00:00:00,200 --> 00:00:01,500\nHallo\n"));
    const QString picture = "testsrc2=size=320x240:rate=25";
    const QString film = makeSource(
        dir, "film.mkv",
        {"-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", "sine=f=300", "-f", "lavfi", "-i", "sine=f=500", "-i",
         chapters, "-i", subtitles, "-t", "2", "-map", "0", "-map", "1", "-map", "2", "-map",
         "4", "-map_chapters", "3", "-c:v", "libx264", "-qp", "5", "-c:a", "aac", "-c:s", "srt", "-metadata",
         "creation_time=2021-05-04T10:20:30Z", "-metadata", "title=Holiday", "-metadata:s:a:0", "language=eng",
         "-metadata:s:a:1", "language=deu", "-metadata:s:s:0", "language=fra"});
    const QString phone = makeSource(
        dir, "phone.mov",
        {"-f", "lavfi", "-i", picture, "-t", "2", "-c:v", "libx264", "-qp", "5", "-metadata",
         "creation_time=2022-07-08T09:10:11Z", "-metadata", "location=+48.8584+002.2945/"});
    const QString hlg = makeSource(
        dir, "hlg.mp4",
        {"-f", "lavfi", "-i", picture, "-t", "2", "-c:v", "libx265", "-x265-params", "log-level=error", "-crf", "5",
         "-pix_fmt", "yuv420p10le", "-color_primaries", "bt2020", "-color_trc", "arib-std-b67", "-colorspace",
         "bt2020nc"});
    const QString filmAs = "2021-05-04T10:20:30 | Holiday |  | eng,deu | mov_text:fra | 2 | /yuv420p";
    const QString phoneAs = "2022-07-08T09:10:11 |  | +48.8584+002.2945/ |  |  | 0 | /yuv420p";
    // GStreamer's muxer writes no location, and a colour description of its own.
    const QString phoneNative = "2022-07-08T09:10:11 |  |  |  |  | 0 | smpte170m/yuv420p";
    const QString hlgAs = " |  |  |  |  | 0 | arib-std-b67/yuv420p";
    const QString hlgTenBit = " |  |  |  |  | 0 | arib-std-b67/yuv420p10le";

    enum class Engine { ffmpeg, native };
    const struct {
        const char *name;
        QString source;
        Engine engine;
        CompressionSettings settings;
        QString expected;
        unsigned sourceMode;
    } cases[] = {
        {"film, fastest", film, Engine::ffmpeg, {.plan = CompressionPlan::fastest}, filmAs, 0600},
        {"film, recommended", film, Engine::ffmpeg, {}, filmAs, 0644},
        {"film, high quality", film, Engine::ffmpeg, {.plan = CompressionPlan::highQuality}, filmAs, 0640},
        {"film, target size", film, Engine::ffmpeg, {.mode = CompressionMode::targetSize, .targetSizeMB = 0.2}, filmAs, 0600},
        {"phone, recommended, read-only", phone, Engine::ffmpeg, {}, phoneAs, 0444},
        {"phone, native", phone, Engine::native, {}, phoneNative, 0600},
        {"hlg, fastest", hlg, Engine::ffmpeg, {.plan = CompressionPlan::fastest}, hlgAs, 0644},
        {"hlg, recommended", hlg, Engine::ffmpeg, {}, hlgTenBit, 0644},
        {"hlg, target size", hlg, Engine::ffmpeg, {.mode = CompressionMode::targetSize, .targetSizeMB = 0.2}, hlgAs, 0644},
    };
    const ToolLocator noFFmpeg({dir.filePath(QStringLiteral("none"))});
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ::chmod(QFile::encodeName(c.source).constData(), c.sourceMode);
        const timespec day[2] = {{1'551'614'400, 0}, {1'551'614'400, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(c.source).constData(), day, 0), 0);
        CompressionCoordinator coordinator = c.engine == Engine::native
            ? CompressionCoordinator(std::make_shared<FFmpegCompressor>(), std::make_shared<NativeCompressor>(), noFFmpeg)
            : CompressionCoordinator();
        const VideoInfo info{QUrl::fromLocalFile(c.source), 2, 320, 240, QFileInfo(c.source).size() * 4, 2'000'000, 25, "H.264", 1, 128'000, true};
        const QString out = dir.filePath(QStringLiteral("out%1.mp4").arg(n++));
        const Result<void> done = wait(coordinator.compress(info, c.settings, QUrl::fromLocalFile(out), std::nullopt, {}, {}));
        ASSERT_TRUE(done) << done.error().description().toStdString();
        EXPECT_EQ(carried(out), c.expected);
        EXPECT_EQ(QFileInfo(out).lastModified(), QFileInfo(c.source).lastModified());
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(out).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.sourceMode & ~0022U);
    }
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral(".*partial*")}, QDir::Files | QDir::Hidden), QStringList{});
}
