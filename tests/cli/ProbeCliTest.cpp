#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;

    // One JSON object per non-empty line of standard output.
    QList<QJsonObject> objects() const
    {
        QList<QJsonObject> list;
        for (const QString &line : out.split(u'\n', Qt::SkipEmptyParts)) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            EXPECT_TRUE(document.isObject()) << line.toStdString();
            list << document.object();
        }
        return list;
    }
};

CliRun cli(const QStringList &arguments, const QString &workingDirectory = {})
{
    QProcess process;
    if (!workingDirectory.isEmpty()) {
        process.setWorkingDirectory(workingDirectory);
    }
    process.start(QStringLiteral(SLIMREEL_CLI_PATH), arguments);
    EXPECT_TRUE(process.waitForFinished(120000)) << arguments.join(u' ').toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

const QStringList videoInfoKeys{QStringLiteral("audioBitrate"),    QStringLiteral("audioTrackCount"),
                                QStringLiteral("canCopyAudioToMP4"), QStringLiteral("codec"),
                                QStringLiteral("duration"),        QStringLiteral("fileSize"),
                                QStringLiteral("frameRate"),       QStringLiteral("height"),
                                QStringLiteral("url"),             QStringLiteral("videoBitrate"),
                                QStringLiteral("width")};

QString fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

} // namespace

TEST(ProbeCli, JsonLinesCarryEveryFieldOfVideoInfo)
{
    const QString aac = slimreel::test::media(QStringLiteral("h264_aac.mp4"));
    const QString mp3 = slimreel::test::media(QStringLiteral("h264_mp3.mp4"));
    const QString rotated = slimreel::test::media(QStringLiteral("portrait_rotated.mp4"));
    const CliRun run = cli({QStringLiteral("probe"), QStringLiteral("--json"), QStringLiteral("--backend"),
                         QStringLiteral("ffprobe"), aac, mp3, rotated});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const auto objects = run.objects();
    ASSERT_EQ(objects.size(), 3);
    for (const QJsonObject &object : objects) {
        EXPECT_EQ(object.keys(), videoInfoKeys);
        EXPECT_TRUE(object.value(QStringLiteral("duration")).isDouble());
        EXPECT_TRUE(object.value(QStringLiteral("fileSize")).isDouble());
        EXPECT_TRUE(object.value(QStringLiteral("videoBitrate")).isDouble());
        EXPECT_TRUE(object.value(QStringLiteral("codec")).isString());
        EXPECT_TRUE(object.value(QStringLiteral("canCopyAudioToMP4")).isBool());
    }

    const QJsonObject &first = objects[0];
    EXPECT_EQ(first.value(QStringLiteral("url")).toString(), fileUrl(aac));
    EXPECT_EQ(first.value(QStringLiteral("width")).toInteger(), 640);
    EXPECT_EQ(first.value(QStringLiteral("height")).toInteger(), 360);
    EXPECT_EQ(first.value(QStringLiteral("frameRate")).toDouble(), 25);
    EXPECT_EQ(first.value(QStringLiteral("codec")).toString(), QStringLiteral("H.264"));
    EXPECT_EQ(first.value(QStringLiteral("audioTrackCount")).toInteger(), 1);
    EXPECT_TRUE(first.value(QStringLiteral("canCopyAudioToMP4")).toBool());
    EXPECT_EQ(first.value(QStringLiteral("fileSize")).toInteger(), QFileInfo(aac).size());
    EXPECT_NEAR(first.value(QStringLiteral("duration")).toDouble(), 4.0, 0.05);
    EXPECT_GT(first.value(QStringLiteral("videoBitrate")).toDouble(), 0);
    EXPECT_GT(first.value(QStringLiteral("audioBitrate")).toDouble(), 0);

    EXPECT_EQ(objects[1].value(QStringLiteral("url")).toString(), fileUrl(mp3));
    EXPECT_FALSE(objects[1].value(QStringLiteral("canCopyAudioToMP4")).toBool());

    EXPECT_EQ(objects[2].value(QStringLiteral("width")).toInteger(), 640);
    EXPECT_EQ(objects[2].value(QStringLiteral("height")).toInteger(), 360);
}

TEST(ProbeCli, AFailedFileGivesAnErrorObjectAndExitOne)
{
    const QString text = slimreel::test::media(QStringLiteral("not_video.mp4"));
    const QString audio = slimreel::test::media(QStringLiteral("audio_only.m4a"));
    const QString video = slimreel::test::media(QStringLiteral("h264_aac.mp4"));
    const CliRun run = cli({QStringLiteral("probe"), QStringLiteral("--json"), QStringLiteral("--backend=ffprobe"),
                         text, video, audio});
    EXPECT_EQ(run.exitCode, 1);
    const auto objects = run.objects();
    ASSERT_EQ(objects.size(), 3);
    EXPECT_EQ(objects[0].keys(), (QStringList{QStringLiteral("error"), QStringLiteral("url")}));
    EXPECT_EQ(objects[0].value(QStringLiteral("url")).toString(), fileUrl(text));
    EXPECT_EQ(objects[0].value(QStringLiteral("error")).toString(), QStringLiteral("无法读取这个视频文件"));
    EXPECT_EQ(objects[1].keys(), videoInfoKeys);
    EXPECT_EQ(objects[2].value(QStringLiteral("error")).toString(), QStringLiteral("文件中没有可用的视频轨道"));
}

TEST(ProbeCli, DefaultBackendReadsVideosAndRejectsText)
{
    const QString video = slimreel::test::media(QStringLiteral("h264_aac.mp4"));
    const CliRun ok = cli({QStringLiteral("probe"), QStringLiteral("--json"), video});
    EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    const auto objects = ok.objects();
    ASSERT_EQ(objects.size(), 1);
    EXPECT_EQ(objects[0].value(QStringLiteral("width")).toInteger(), 640);
    EXPECT_EQ(objects[0].value(QStringLiteral("codec")).toString(), QStringLiteral("H.264"));

    const CliRun failed = cli({QStringLiteral("probe"), QStringLiteral("--json"),
                            slimreel::test::media(QStringLiteral("not_video.mp4"))});
    EXPECT_EQ(failed.exitCode, 1);
}

TEST(ProbeCli, RelativeAndUnusualPaths)
{
    const QString video = slimreel::test::media(QStringLiteral("h264_aac.mp4"));
    const CliRun relative = cli({QStringLiteral("probe"), QStringLiteral("--json"), QStringLiteral("--backend"),
                              QStringLiteral("ffprobe"), QStringLiteral("h264_aac.mp4")},
                             QFileInfo(video).absolutePath());
    EXPECT_EQ(relative.exitCode, 0) << relative.err.toStdString();
    ASSERT_EQ(relative.objects().size(), 1);
    EXPECT_EQ(relative.objects()[0].value(QStringLiteral("url")).toString(), fileUrl(video));

    QTemporaryDir dir;
    const QString odd = dir.filePath(QStringLiteral("-my clip 夏天 #1.mp4"));
    ASSERT_TRUE(QFile::copy(video, odd));
    const CliRun unusual = cli({QStringLiteral("probe"), QStringLiteral("--json"), QStringLiteral("--backend"),
                             QStringLiteral("ffprobe"), QStringLiteral("--"), QFileInfo(odd).fileName()},
                            dir.path());
    EXPECT_EQ(unusual.exitCode, 0) << unusual.err.toStdString();
    ASSERT_EQ(unusual.objects().size(), 1);
    const QString url = unusual.objects()[0].value(QStringLiteral("url")).toString();
    EXPECT_EQ(QUrl(url).toLocalFile(), odd);
    EXPECT_FALSE(url.contains(u' ')); // a URL string, encoded
}

TEST(ProbeCli, ReadableOutputWithoutJson)
{
    const CliRun run = cli({QStringLiteral("probe"), QStringLiteral("--backend"), QStringLiteral("ffprobe"),
                         slimreel::test::media(QStringLiteral("hevc_ac3.mp4")),
                         slimreel::test::media(QStringLiteral("not_video.mp4"))});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains(QStringLiteral("640x360"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("HEVC")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("kbit/s")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("0:03")));
    EXPECT_TRUE(run.err.contains(QStringLiteral("not_video.mp4: 无法读取这个视频文件"))) << run.err.toStdString();
}

TEST(ProbeCli, UsageErrorsExitTwo)
{
    const QString video = slimreel::test::media(QStringLiteral("h264_aac.mp4"));
    const QList<QStringList> cases{
        {},
        {QStringLiteral("inspect"), video},
        {QStringLiteral("probe")},
        {QStringLiteral("probe"), QStringLiteral("--json")},
        {QStringLiteral("probe"), QStringLiteral("--bogus"), video},
        {QStringLiteral("probe"), QStringLiteral("--backend"), QStringLiteral("quicktime"), video},
        {QStringLiteral("probe"), QStringLiteral("--backend")},
    };
    for (const QStringList &arguments : cases) {
        const CliRun run = cli(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("Usage:"))) << run.err.toStdString();
    }
}

TEST(ProbeCli, Help)
{
    const CliRun overview = cli({QStringLiteral("--help")});
    EXPECT_EQ(overview.exitCode, 0);
    EXPECT_TRUE(overview.out.contains(QStringLiteral("probe"))) << overview.out.toStdString();

    const CliRun probe = cli({QStringLiteral("probe"), QStringLiteral("--help")});
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_TRUE(probe.out.startsWith(QStringLiteral("Usage: slimreel-cli probe"))) << probe.out.toStdString();
    EXPECT_TRUE(probe.out.contains(QStringLiteral("--backend")));
    EXPECT_TRUE(probe.out.contains(QStringLiteral("--json")));
}
