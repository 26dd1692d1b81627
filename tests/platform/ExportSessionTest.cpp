#include "platform/ExportSession.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace slimreel;
using Preset = ExportSession::Preset;
using Status = ExportSession::Status;

namespace {

QUrl mediaUrl(const char *name)
{
    return QUrl::fromLocalFile(test::media(QString::fromLatin1(name)));
}

// Runs one export to its end and returns the final status.
Status exportTo(const QString &output, const char *source, Preset preset = Preset::preset1280x720)
{
    ExportSession session(mediaUrl(source), preset);
    session.setOutputUrl(QUrl::fromLocalFile(output));
    test::wait(session.exportAsynchronously());
    EXPECT_EQ(session.status(), Status::completed) << source << ": " << session.errorMessage().toStdString();
    return session.status();
}

QString probe(const QString &path, const char *entry, const char *stream = "v:0")
{
    return test::ffprobeValue(path, QString::fromLatin1(entry), QString::fromLatin1(stream));
}

} // namespace

TEST(ExportSession, PresetNames)
{
    EXPECT_EQ(ExportSession::presetName(Preset::preset1280x720), QStringLiteral("1280x720"));
    EXPECT_EQ(ExportSession::presetName(Preset::preset1920x1080), QStringLiteral("1920x1080"));
    EXPECT_EQ(ExportSession::presetName(Preset::highestQuality), QStringLiteral("HighestQuality"));
    EXPECT_EQ(ExportSession::presetName(Preset::hevcHighestQuality), QStringLiteral("HEVCHighestQuality"));
}

TEST(ExportSession, Compatibility)
{
    const struct {
        const char *file;
        bool compatible;
    } cases[] = {
        {"h264_aac.mp4", true}, {"hevc_ac3.mp4", true},    {"clip.webm", true},
        {"clip.avi", true},     {"not_video.mp4", false}, {"audio_only.m4a", false},
    };
    for (const auto &c : cases) {
        for (const Preset preset : {Preset::preset1280x720, Preset::hevcHighestQuality}) {
            EXPECT_EQ(test::wait(ExportSession::determineCompatibility(mediaUrl(c.file), preset)), c.compatible)
                << c.file << " " << ExportSession::presetName(preset).toStdString();
        }
    }
    const QUrl missing = QUrl::fromLocalFile(QDir::temp().filePath(QStringLiteral("slimreel-no-such.mp4")));
    EXPECT_FALSE(test::wait(ExportSession::determineCompatibility(missing, Preset::highestQuality)));
}

TEST(ExportSession, SourcesOfEveryKindBecomeH264WithAac)
{
    const struct {
        const char *file;
        int audioStreams;
    } cases[] = {
        {"clip.webm", 1}, {"clip.mkv", 1}, {"clip.avi", 1}, {"hevc_ac3.mp4", 1}, {"two_audio.mp4", 2}, {"no_audio.mp4", 0},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        const QString output = dir.filePath(QString::fromLatin1(c.file) + QStringLiteral(".mp4"));
        ASSERT_EQ(exportTo(output, c.file), Status::completed);
        EXPECT_EQ(probe(output, "stream=codec_name"), QStringLiteral("h264")) << c.file;
        for (int i = 0; i < c.audioStreams; ++i) {
            EXPECT_EQ(probe(output, "stream=codec_name", QStringLiteral("a:%1").arg(i).toLatin1().constData()),
                      QStringLiteral("aac"))
                << c.file << " audio " << i;
        }
        EXPECT_TRUE(probe(output, "stream=codec_name", QStringLiteral("a:%1").arg(c.audioStreams).toLatin1().constData())
                        .isEmpty())
            << c.file << " has more audio streams than its source";
        // Sources whose rate the container does not state still shrink.
        EXPECT_LT(QFileInfo(output).size(), QFileInfo(test::media(QString::fromLatin1(c.file))).size()) << c.file;
    }
}

TEST(ExportSession, TurnedPictureIsWrittenUpright)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("upright.mp4"));
    ASSERT_EQ(exportTo(output, "portrait_rotated.mp4"), Status::completed);
    EXPECT_EQ(probe(output, "stream=width"), QStringLiteral("360"));
    EXPECT_EQ(probe(output, "stream=height"), QStringLiteral("640"));
    // Turned once in the pixels, so no player may turn it again.
    EXPECT_TRUE(probe(output, "stream_side_data=rotation").isEmpty());
}

TEST(ExportSession, OddSizesBecomeEven)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("even.mp4"));
    ASSERT_EQ(exportTo(output, "odd_size.mp4", Preset::highestQuality), Status::completed);
    EXPECT_EQ(probe(output, "stream=width").toInt() % 2, 0);
    EXPECT_EQ(probe(output, "stream=height").toInt() % 2, 0);
    EXPECT_NEAR(probe(output, "stream=width").toInt(), 321, 1);
    EXPECT_NEAR(probe(output, "stream=height").toInt(), 241, 1);
    EXPECT_EQ(probe(output, "stream=pix_fmt"), QStringLiteral("yuv420p"));
}

TEST(ExportSession, IndexIsAtTheFrontAndNoScratchFileRemains)
{
    const test::PrivateTempFolder privateTmp;
    const QStringList scratchBefore = test::tempEntries(QStringLiteral("Slimreel-faststart-"));
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("fast.mp4"));
    ASSERT_EQ(exportTo(output, "very_short.mp4"), Status::completed);
    QFile file(output);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const auto moov = bytes.indexOf("moov");
    const auto mdat = bytes.indexOf("mdat");
    ASSERT_GE(moov, 0);
    ASSERT_GE(mdat, 0);
    EXPECT_LT(moov, mdat);
    EXPECT_EQ(test::tempEntries(QStringLiteral("Slimreel-faststart-")), scratchBefore);
}

TEST(ExportSession, ProgressAndStatusThroughAnExport)
{
    QTemporaryDir dir;
    ExportSession session(mediaUrl("very_short.mp4"), Preset::preset1920x1080);
    session.setOutputUrl(QUrl::fromLocalFile(dir.filePath(QStringLiteral("out.mp4"))));
    EXPECT_EQ(session.status(), Status::waiting);
    EXPECT_EQ(session.progress(), 0.0);
    test::wait(session.exportAsynchronously());
    EXPECT_EQ(session.status(), Status::completed);
    EXPECT_EQ(session.progress(), 1.0);
    EXPECT_TRUE(session.errorMessage().isEmpty());
    // A session exports once.
    test::wait(session.exportAsynchronously());
    EXPECT_EQ(session.status(), Status::completed);
}

TEST(ExportSession, CancelBeforeStart)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("never.mp4"));
    ExportSession session(mediaUrl("h264_aac.mp4"), Preset::preset1280x720);
    session.setOutputUrl(QUrl::fromLocalFile(output));
    session.cancelExport();
    EXPECT_EQ(session.status(), Status::cancelled);
    test::wait(session.exportAsynchronously());
    EXPECT_EQ(session.status(), Status::cancelled);
    EXPECT_FALSE(QFile::exists(output));
}

TEST(ExportSession, DestroyedWhileExportingLeavesNothingRunning)
{
    const test::PrivateTempFolder privateTmp;
    const QStringList scratchBefore = test::tempEntries(QStringLiteral("Slimreel-faststart-"));
    QTemporaryDir dir;
    {
        ExportSession session(mediaUrl("long.mp4"), Preset::highestQuality);
        session.setOutputUrl(QUrl::fromLocalFile(dir.filePath(QStringLiteral("out.mp4"))));
        auto task = session.exportAsynchronously();
        ASSERT_TRUE(test::spinUntil([&] { return session.progress() > 0; }));
        EXPECT_EQ(session.status(), Status::exporting);
    }
    EXPECT_EQ(test::tempEntries(QStringLiteral("Slimreel-faststart-")), scratchBefore);
}

TEST(ExportSession, RangesWithoutPicturesFail)
{
    const struct {
        double start;
        double duration;
        const char *message;
    } cases[] = {
        {1.0, 0.0, "所选片段为空"},
        // Past the end the muxer would write a well-formed file without a picture.
        {10.0, 5.0, "所选片段中没有画面"},
    };
    for (const auto &c : cases) {
        QTemporaryDir dir;
        ExportSession session(mediaUrl("very_short.mp4"), Preset::preset1280x720);
        session.setOutputUrl(QUrl::fromLocalFile(dir.filePath(QStringLiteral("out.mp4"))));
        session.setTimeRange(c.start, c.duration);
        test::wait(session.exportAsynchronously());
        EXPECT_EQ(session.status(), Status::failed) << c.start;
        EXPECT_EQ(session.errorMessage().toStdString(), c.message) << c.start;
    }
}
