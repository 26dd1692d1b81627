#include "cli/CliRunner.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

using slimreel::test::CliResult;
using slimreel::test::media;

CliResult estimate(const QStringList &arguments)
{
    return slimreel::test::runCli(QStringLiteral("estimate"), arguments);
}

// The sample file the verbose log shows ffmpeg writing.
QString sampleIn(const QString &log)
{
    const auto match = QRegularExpression(QStringLiteral("(\\S*Slimreel-preview-[0-9A-F-]{36}\\.mp4)")).match(log);
    return match.hasMatch() ? match.captured(1) : QString();
}

TEST(EstimateCli, QualityModePrintsBothTextsFromASampleAndRemovesIt)
{
    const CliResult run = estimate({QStringLiteral("--verbose"), media(QStringLiteral("h264_aac.mp4"))});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression(QStringLiteral("^Estimated size: 约 \\S+ [KMG]?B–\\S+ [KMG]?B\\n"))))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(
        QRegularExpression(QStringLiteral("\\nSavings: (根据样片预计节省 \\d+%–\\d+%|样片未能缩小)\\n$"))))
        << run.out.toStdString();
    const QString sample = sampleIn(run.err);
    ASSERT_FALSE(sample.isEmpty()) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(sample)) << sample.toStdString();
}

TEST(EstimateCli, JsonGivesTheBoundsInBytes)
{
    const CliResult run = estimate({QStringLiteral("--json"), QStringLiteral("--plan"), QStringLiteral("fastest"),
                              media(QStringLiteral("h264_aac.mp4"))});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    EXPECT_EQ(json.value(QStringLiteral("mode")).toString(), "quality");
    EXPECT_EQ(json.value(QStringLiteral("plan")).toString(), "fastest");
    const qint64 lower = json.value(QStringLiteral("lowerBound")).toInteger(-1);
    const qint64 upper = json.value(QStringLiteral("upperBound")).toInteger(-1);
    EXPECT_GT(lower, 0);
    EXPECT_LE(lower, upper);
    EXPECT_EQ(json.value(QStringLiteral("sourceBytes")).toInteger(),
              QFileInfo(media(QStringLiteral("h264_aac.mp4"))).size());
    EXPECT_TRUE(json.value(QStringLiteral("estimatedSizeText")).toString().startsWith(QStringLiteral("约 ")));
}

TEST(EstimateCli, TargetSizeModeNeedsNoSample)
{
    // 1 MB: the video's bit rate is whatever fits 92 % of it beside the audio,
    // so the planned size is 920,000 bytes whatever the duration.
    const CliResult run = estimate({QStringLiteral("--verbose"), QStringLiteral("--mode"), QStringLiteral("targetSize"),
                              QStringLiteral("--target-mb"), QStringLiteral("1"), media(QStringLiteral("long.mp4"))});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("Estimated size: 920 KB\nSavings: 目标节省约 "))) << run.out.toStdString();
    EXPECT_TRUE(sampleIn(run.err).isEmpty()) << "no sample is made";
}

TEST(EstimateCli, Failures)
{
    const struct {
        const char *name;
        QStringList arguments;
        int exitCode;
        const char *message;
    } cases[] = {
        {"unreadable file", {media(QStringLiteral("not_video.mp4"))}, 1, "not_video.mp4：无法读取这个视频文件"},
        {"no file", {}, 2, "give exactly one file"},
        {"two files", {media(QStringLiteral("h264_aac.mp4")), media(QStringLiteral("clip.mkv"))}, 2,
         "give exactly one file"},
        {"unknown plan", {QStringLiteral("--plan"), QStringLiteral("Fastest"), media(QStringLiteral("h264_aac.mp4"))}, 2,
         "unknown plan 'Fastest'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult run = estimate(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.message))) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    }
}

} // namespace
