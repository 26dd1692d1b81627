#include "cli/CliRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using slimreel::test::CliResult;
using slimreel::test::media;

CliResult compress(const QStringList &arguments)
{
    return slimreel::test::runCli(QStringLiteral("compress"), arguments);
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

bool isVideo(const QString &path)
{
    return !slimreel::test::ffprobeValue(path, QStringLiteral("stream=codec_name")).isEmpty();
}

TEST(CompressCli, BatchWithAnUnreadableFile)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("new/out")); // created by the command
    const CliResult run = compress({QStringLiteral("--plan"), QStringLiteral("fastest"), QStringLiteral("--output"), out,
                              media(QStringLiteral("h264_aac.mp4")), media(QStringLiteral("not_video.mp4")),
                              media(QStringLiteral("clip.mkv"))});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_EQ(filesIn(out), (QStringList{"clip-compressed.mp4", "h264_aac-compressed.mp4"}));
    for (const QString &name : filesIn(out)) {
        EXPECT_TRUE(isVideo(QDir(out).filePath(name))) << name.toStdString();
    }
    EXPECT_TRUE(run.err.contains(QStringLiteral("not_video.mp4：无法读取这个视频文件"))) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("h264_aac.mp4: ") + QDir(out).filePath("h264_aac-compressed.mp4")))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression(QStringLiteral("clip.mkv: .*clip-compressed.mp4 \\(.+ → .+, "
                                                                   "\\d+% smaller\\)"))))
        << run.out.toStdString();
    // The import failure is not a failure of the run: no summary.
    EXPECT_FALSE(run.err.contains(QStringLiteral("批量压缩完成"))) << run.err.toStdString();
}

// A source at a starved bit rate cannot get smaller at the plan's floor rate:
// the run fails that video, removes its output and says so in its summary.
TEST(CompressCli, VideoThatCannotGetSmallerFailsTheRun)
{
    QTemporaryDir dir;
    const QString starved = dir.filePath(QStringLiteral("starved.mp4"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                  QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("testsrc2=size=320x240:rate=25:duration=2,noise=alls=40:allf=t"),
                  QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"),
                  QStringLiteral("ultrafast"), QStringLiteral("-b:v"), QStringLiteral("40k"),
                  QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), starved});
    ASSERT_TRUE(ffmpeg.waitForFinished(120000));
    ASSERT_EQ(ffmpeg.exitCode(), 0);

    const QString out = dir.filePath(QStringLiteral("out"));
    const CliResult run = compress({QStringLiteral("--output"), out, QStringLiteral("--plan"), QStringLiteral("fastest"),
                              media(QStringLiteral("h264_aac.mp4")), starved});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_EQ(filesIn(out), QStringList{"h264_aac-compressed.mp4"});
    EXPECT_TRUE(run.out.contains(QStringLiteral("starved.mp4: failed: 压缩结果没有变小，已移除无效输出。")))
        << run.out.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("批量压缩完成，其中 1 个视频失败。可在队列中查看原因。")))
        << run.err.toStdString();
}

TEST(CompressCli, SameNamesFromDifferentFoldersGetNumberedOutputs)
{
    QTemporaryDir dir;
    for (const QString &folder : {QStringLiteral("a"), QStringLiteral("b")}) {
        ASSERT_TRUE(QDir(dir.path()).mkpath(folder));
        ASSERT_TRUE(QFile::copy(media(QStringLiteral("h264_aac.mp4")), dir.filePath(folder + "/clip.mp4")));
    }
    const QString out = dir.filePath(QStringLiteral("out"));
    const CliResult run = compress({QStringLiteral("--output"), out, QStringLiteral("--plan"), QStringLiteral("fastest"),
                              dir.filePath(QStringLiteral("a/clip.mp4")), dir.filePath(QStringLiteral("b/clip.mp4"))});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(filesIn(out), (QStringList{"clip-compressed-2.mp4", "clip-compressed.mp4"}));
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    // Not a terminal: plain progress lines, one per tenth at most.
    EXPECT_TRUE(run.out.contains(QStringLiteral("[1/2] clip.mp4 ")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("[2/2] clip.mp4 ")));
    EXPECT_FALSE(run.out.contains(QLatin1Char('\r')));
}

TEST(CompressCli, InterruptDuringATwoPassRunLeavesNothingBehind)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    QProcess process;
    process.start(QStringLiteral(SLIMREEL_CLI_PATH),
                  {QStringLiteral("compress"), QStringLiteral("--mode"), QStringLiteral("targetSize"),
                   QStringLiteral("--verbose"), QStringLiteral("--output"), out, media(QStringLiteral("long.mp4"))});
    ASSERT_TRUE(process.waitForStarted());

    // Interrupt once the encoder reports progress, i.e. while ffmpeg runs.
    QString out1;
    while (!out1.contains(QStringLiteral("[1/1] long.mp4")) && process.state() == QProcess::Running) {
        process.waitForReadyRead(1000);
        out1 += QString::fromUtf8(process.readAllStandardOutput());
    }
    ASSERT_EQ(process.state(), QProcess::Running) << "the encode ended before it could be interrupted";
    ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    ASSERT_TRUE(process.waitForFinished(120000));
    out1 += QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130) << err.toStdString();
    EXPECT_TRUE(out1.contains(QStringLiteral("long.mp4: not compressed"))) << out1.toStdString();
    EXPECT_TRUE(filesIn(out).isEmpty()) << filesIn(out).join(u' ').toStdString();

    // The verbose log names the pass statistics folder of this run; it is gone.
    const auto pass = QRegularExpression(QStringLiteral("-passlogfile (\\S*Slimreel-pass-[0-9A-F-]+)/")).match(err);
    ASSERT_TRUE(pass.hasMatch()) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(pass.captured(1))) << pass.captured(1).toStdString();

    // No encoder writing into the output folder is left running.
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-f"), out});
    ASSERT_TRUE(pgrep.waitForFinished(10000));
    EXPECT_EQ(pgrep.exitCode(), 1) << QString::fromUtf8(pgrep.readAllStandardOutput()).toStdString();
}

TEST(CompressCli, UsageErrors)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString video = media(QStringLiteral("h264_aac.mp4"));
    const QString out = dir.filePath(QStringLiteral("out"));
    const struct {
        const char *name;
        QStringList arguments;
        const char *message;
    } cases[] = {
        {"no output folder", {video}, "--output DIR is required"},
        {"no files", {QStringLiteral("--output"), out}, "no files given"},
        {"unknown mode", {QStringLiteral("--mode"), QStringLiteral("Quality"), QStringLiteral("--output"), out, video},
         "unknown mode 'Quality'"},
        {"unknown plan", {QStringLiteral("--plan"), QStringLiteral("best"), QStringLiteral("--output"), out, video},
         "unknown plan 'best'"},
        {"target size not a number",
         {QStringLiteral("--target-mb"), QStringLiteral("ten"), QStringLiteral("--output"), out, video},
         "--target-mb needs a positive number"},
        {"target size zero", {QStringLiteral("--target-mb"), QStringLiteral("0"), QStringLiteral("--output"), out, video},
         "--target-mb needs a positive number"},
        {"output folder cannot be made",
         {QStringLiteral("--output"), dir.filePath(QStringLiteral("file/out")), video},
         "cannot write into the output folder"},
        {"unknown option", {QStringLiteral("--fast"), QStringLiteral("--output"), out, video}, "Unknown option"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult run = compress(c.arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.message))) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("Usage: slimreel-cli compress")));
    }
    EXPECT_FALSE(QFileInfo::exists(out)) << "nothing is started on a usage error";
}

} // namespace
