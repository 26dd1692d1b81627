#include "compress/CompressionError.h"
#include "compress/FFmpegCompressor.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>

using namespace slimreel;

// Readable failure messages for the values compared below.
static void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace slimreel {
static void PrintTo(const Error &error, std::ostream *out)
{
    *out << "Error(" << static_cast<int>(error.domain) << ", " << error.code << ", \"" << error.text.toStdString()
         << "\")";
}
} // namespace slimreel
using testing::DoubleNear;
using testing::ElementsAre;

namespace {

const QString missingX264 = QStringLiteral("当前 FFmpeg 未包含 libx264，无法使用高质量或指定大小模式。");

CompressionSettings quality(CompressionPlan plan)
{
    return {CompressionMode::quality, plan, 25};
}

CompressionSettings targetSize(double megabytes)
{
    return {CompressionMode::targetSize, CompressionPlan::recommended, megabytes};
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

// The facts of a real test video, read with ffprobe as the probe service would.
VideoInfo probed(const QString &path)
{
    VideoInfo info;
    info.url = QUrl::fromLocalFile(path);
    info.duration = test::ffprobeValue(path, QStringLiteral("format=duration")).toDouble();
    info.width = test::ffprobeValue(path, QStringLiteral("stream=width")).toLongLong();
    info.height = test::ffprobeValue(path, QStringLiteral("stream=height")).toLongLong();
    info.fileSize = QFileInfo(path).size();
    info.videoBitrate = test::ffprobeValue(path, QStringLiteral("stream=bit_rate")).toDouble();
    const QStringList rate = test::ffprobeValue(path, QStringLiteral("stream=r_frame_rate")).split(QLatin1Char('/'));
    info.frameRate = rate.value(0).toDouble() / rate.value(1, QStringLiteral("1")).toDouble();
    const QString audio = test::ffprobeValue(path, QStringLiteral("stream=codec_name"), QStringLiteral("a:0"));
    info.audioTrackCount = audio.isEmpty() ? 0 : 1;
    info.audioBitrate = test::ffprobeValue(path, QStringLiteral("stream=bit_rate"), QStringLiteral("a:0")).toDouble();
    info.canCopyAudioToMP4 = audio == QLatin1String("aac");
    return info;
}

// Digest of the first audio stream's packets: equal digests mean the audio was copied.
QString audioDigest(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                                       QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-c"),
                                       QStringLiteral("copy"), QStringLiteral("-f"), QStringLiteral("md5"),
                                       QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

bool processAlive(qint64 pid)
{
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

struct Outcome {
    Result<void> result;
    std::vector<double> progress;
};

// Every test gets its own temporary folder as the system's, so that pass
// folders of other programs running alongside cannot confuse the checks.
class FFmpegCompressorTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_previousTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", m_tmp.path().toUtf8());
        ASSERT_EQ(QDir(QDir::tempPath()).canonicalPath(), QDir(m_tmp.path()).canonicalPath());
    }
    void TearDown() override
    {
        if (m_previousTmp.isEmpty()) {
            qunsetenv("TMPDIR");
        } else {
            qputenv("TMPDIR", m_previousTmp);
        }
    }

    QString fake(const QString &body) { return test::writeScript(m_dir, QStringLiteral("ffmpeg"), body); }
    FFmpegCompressor fakeCompressor() { return FFmpegCompressor(ToolLocator({m_dir.filePath(QStringLiteral("ffmpeg"))}), m_catalog); }
    FFmpegCompressor realCompressor() { return FFmpegCompressor(ToolLocator::forTool(QStringLiteral("ffmpeg")), m_software); }
    QString output(const QString &name = QStringLiteral("out.mp4")) const { return m_dir.filePath(name); }
    qint64 scriptPid() const { return readText(m_dir.filePath(QStringLiteral("pid"))).trimmed().toLongLong(); }

    VideoInfo fiveSecondVideo() const
    {
        VideoInfo info;
        info.url = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("source.mov")));
        info.duration = 5;
        info.width = 1280;
        info.height = 720;
        info.frameRate = 30;
        info.videoBitrate = 4'000'000;
        return info;
    }

    Outcome compress(FFmpegCompressor &compressor, const CompressionSettings &settings, const VideoInfo &info,
                     std::optional<TimeRange> range = std::nullopt, const QString &destination = {})
    {
        Outcome outcome;
        outcome.result = test::wait(compressor.compress(
            info, settings, QUrl::fromLocalFile(destination.isEmpty() ? output() : destination), range,
            [&outcome](double value) { outcome.progress.push_back(value); }, {}));
        return outcome;
    }

    QTemporaryDir m_tmp;
    QTemporaryDir m_dir;
    QByteArray m_previousTmp;
    EncoderCatalog m_catalog{EncoderProfile::macOS()};
    EncoderCatalog m_software{EncoderProfile::software()};
};

// A fake that prints one progress line, then waits (as sleep, same pid) until killed.
const QString slowFake = QStringLiteral("echo $$ > \"$(dirname \"$0\")/pid\"\n"
                                        "echo 'first error line' >&2\n"
                                        "echo 'second error line' >&2\n"
                                        "echo out_time_ms=1000000\n"
                                        "exec sleep 30\n");

} // namespace

// ---- real encodes of the small test videos ----

TEST_F(FFmpegCompressorTest, QualityPlansOnAnAacSource)
{
    const QString source = test::media(QStringLiteral("h264_aac.mp4"));
    const VideoInfo info = probed(source);
    const struct {
        CompressionPlan plan;
        const char *codec;
        bool audioCopied;
    } cases[] = {
        {CompressionPlan::fastest, "h264", true},
        {CompressionPlan::recommended, "hevc", true},
        {CompressionPlan::highQuality, "h264", false},
    };
    FFmpegCompressor compressor = realCompressor();
    for (const auto &c : cases) {
        const QString out = output(rawValue(c.plan) + QStringLiteral(".mp4"));
        const Outcome outcome = compress(compressor, quality(c.plan), info, std::nullopt, out);
        ASSERT_TRUE(outcome.result.has_value()) << outcome.result.error().description().toStdString();
        EXPECT_EQ(test::ffprobeValue(out, QStringLiteral("stream=codec_name")).toStdString(), c.codec);
        EXPECT_EQ(test::ffprobeValue(out, QStringLiteral("stream=height")), QStringLiteral("360"));
        EXPECT_EQ(test::ffprobeValue(out, QStringLiteral("stream=codec_name"), QStringLiteral("a:0")), QStringLiteral("aac"));
        EXPECT_EQ(audioDigest(out) == audioDigest(source), c.audioCopied) << rawValue(c.plan).toStdString();
        EXPECT_NEAR(test::ffprobeValue(out, QStringLiteral("format=duration")).toDouble(), info.duration, 0.2);
        EXPECT_LT(QFileInfo(out).size(), info.fileSize) << rawValue(c.plan).toStdString();
        ASSERT_FALSE(outcome.progress.empty());
        EXPECT_EQ(outcome.progress.back(), 1.0);
    }
    EXPECT_EQ(test::ffprobeValue(output(QStringLiteral("recommended.mp4")), QStringLiteral("stream=codec_tag_string")),
              QStringLiteral("hvc1"));
}

TEST_F(FFmpegCompressorTest, HeightCapsOnATallSource)
{
    const VideoInfo info = probed(test::media(QStringLiteral("tall.mp4")));
    ASSERT_EQ(info.height, 1200);
    const struct {
        CompressionSettings settings;
        const char *height;
    } cases[] = {
        {quality(CompressionPlan::fastest), "720"},
        {quality(CompressionPlan::recommended), "1080"},
        {quality(CompressionPlan::highQuality), "1200"},
    };
    FFmpegCompressor compressor = realCompressor();
    for (const auto &c : cases) {
        const QString out = output(rawValue(c.settings.plan) + QStringLiteral(".mp4"));
        const Outcome outcome = compress(compressor, c.settings, info, std::nullopt, out);
        ASSERT_TRUE(outcome.result.has_value()) << outcome.result.error().description().toStdString();
        EXPECT_EQ(test::ffprobeValue(out, QStringLiteral("stream=height")).toStdString(), c.height);
        EXPECT_LT(QFileInfo(out).size(), info.fileSize) << rawValue(c.settings.plan).toStdString();
    }
}

TEST_F(FFmpegCompressorTest, OddSizedSourceComesOutWithEvenSides)
{
    const VideoInfo info = probed(test::media(QStringLiteral("odd_size.mp4")));
    ASSERT_EQ(info.width, 321);
    ASSERT_EQ(info.height, 241);
    FFmpegCompressor compressor = realCompressor();
    for (const auto &settings : {quality(CompressionPlan::fastest), quality(CompressionPlan::recommended),
                                 quality(CompressionPlan::highQuality), targetSize(0.2)}) {
        const Outcome outcome = compress(compressor, settings, info);
        ASSERT_TRUE(outcome.result.has_value()) << outcome.result.error().description().toStdString();
        EXPECT_EQ(test::ffprobeValue(output(), QStringLiteral("stream=width")), QStringLiteral("320"));
        EXPECT_EQ(test::ffprobeValue(output(), QStringLiteral("stream=height")), QStringLiteral("240"));
    }
}

TEST_F(FFmpegCompressorTest, AudioThatMP4CannotCarryIsReencoded)
{
    const VideoInfo info = probed(test::media(QStringLiteral("h264_mp3.mp4")));
    ASSERT_FALSE(info.canCopyAudioToMP4);
    FFmpegCompressor compressor = realCompressor();
    for (const auto plan : {CompressionPlan::fastest, CompressionPlan::recommended}) {
        const Outcome outcome = compress(compressor, quality(plan), info);
        ASSERT_TRUE(outcome.result.has_value()) << outcome.result.error().description().toStdString();
        EXPECT_EQ(test::ffprobeValue(output(), QStringLiteral("stream=codec_name"), QStringLiteral("a:0")),
                  QStringLiteral("aac"));
        EXPECT_LT(QFileInfo(output()).size(), info.fileSize);
    }
}

TEST_F(FFmpegCompressorTest, SourceWithoutAudio)
{
    const VideoInfo info = probed(test::media(QStringLiteral("no_audio.mp4")));
    ASSERT_EQ(info.audioTrackCount, 0);
    FFmpegCompressor compressor = realCompressor();
    for (const auto &settings : {quality(CompressionPlan::fastest), targetSize(0.4)}) {
        const Outcome outcome = compress(compressor, settings, info);
        ASSERT_TRUE(outcome.result.has_value()) << outcome.result.error().description().toStdString();
        EXPECT_EQ(test::ffprobeValue(output(), QStringLiteral("stream=codec_name")), QStringLiteral("h264"));
        EXPECT_EQ(test::ffprobeValue(output(), QStringLiteral("stream=codec_type"), QStringLiteral("a")), QString());
        EXPECT_LT(QFileInfo(output()).size(), info.fileSize);
    }
}

TEST_F(FFmpegCompressorTest, TargetSizeInTwoPasses)
{
    const QString source = test::media(QStringLiteral("h264_aac.mp4"));
    const VideoInfo info = probed(source);
    const double megabytes = 0.5;
    FFmpegCompressor compressor = realCompressor();
    const Outcome outcome = compress(compressor, targetSize(megabytes), info);
    ASSERT_TRUE(outcome.result.has_value()) << outcome.result.error().description().toStdString();
    EXPECT_EQ(test::ffprobeValue(output(), QStringLiteral("stream=codec_name")), QStringLiteral("h264"));
    EXPECT_EQ(test::ffprobeValue(output(), QStringLiteral("stream=codec_name"), QStringLiteral("a:0")), QStringLiteral("aac"));
    EXPECT_NE(audioDigest(output()), audioDigest(source));
    EXPECT_NEAR(test::ffprobeValue(output(), QStringLiteral("format=duration")).toDouble(), info.duration, 0.2);
    EXPECT_LT(QFileInfo(output()).size(), info.fileSize);
    // Two passes at a bit rate aimed at the target land near it.
    EXPECT_LT(QFileInfo(output()).size(), megabytes * 1'000'000 * 1.3);
    EXPECT_TRUE(test::tempEntries(QStringLiteral("Slimreel-pass-")).isEmpty());
    EXPECT_EQ(outcome.progress.back(), 1.0);
}

TEST_F(FFmpegCompressorTest, PreviewRangeEncodesOnlyThatPart)
{
    const VideoInfo info = probed(test::media(QStringLiteral("h264_aac.mp4")));
    FFmpegCompressor compressor = realCompressor();
    for (const auto &settings : {quality(CompressionPlan::fastest), targetSize(0.3)}) {
        const Outcome outcome = compress(compressor, settings, info, TimeRange{1.0, 3.0});
        ASSERT_TRUE(outcome.result.has_value()) << outcome.result.error().description().toStdString();
        EXPECT_NEAR(test::ffprobeValue(output(), QStringLiteral("format=duration")).toDouble(), 2.0, 0.15);
    }
}

TEST_F(FFmpegCompressorTest, CancellingTheTaskStopsARealEncode)
{
    const VideoInfo info = probed(test::media(QStringLiteral("long.mp4")));
    FFmpegCompressor compressor = realCompressor();
    std::stop_source stop;
    std::vector<double> progress;
    const auto result = test::wait(compressor.compress(
        info, targetSize(1), QUrl::fromLocalFile(output()), std::nullopt,
        [&](double value) {
            progress.push_back(value);
            stop.request_stop();
        },
        stop.get_token()));
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(isCancellation(result.error())) << result.error().description().toStdString();
    EXPECT_LE(progress.back(), 0.495);
    EXPECT_FALSE(QFile::exists(output())); // pass 2, which writes it, never ran
    EXPECT_TRUE(test::tempEntries(QStringLiteral("Slimreel-pass-")).isEmpty());
}

// ---- fake tools: failures, progress, cancellation ----

TEST_F(FFmpegCompressorTest, MissingX264InAnyCapitalisationGivesTheFixedMessage)
{
    fake(QStringLiteral("cat \"$(dirname \"$0\")/stderr.txt\" >&2\nexit 1\n"));
    FFmpegCompressor compressor = fakeCompressor();
    for (const char *text : {"[vost#0:0] Unknown encoder 'libx264'\n", "unknown encoder 'libx264'",
                             "x\ny\nUNKNOWN ENCODER 'LIBX264'\nz\nw\n"}) {
        writeText(m_dir.filePath(QStringLiteral("stderr.txt")), text);
        const Outcome outcome = compress(compressor, targetSize(5), fiveSecondVideo());
        ASSERT_FALSE(outcome.result.has_value());
        EXPECT_EQ(outcome.result.error(), CompressionError::failed(missingX264).toError()) << text;
    }
}

TEST_F(FFmpegCompressorTest, FailureShowsTheLastFourNonEmptyLines)
{
    fake(QStringLiteral("cat \"$(dirname \"$0\")/stderr.txt\" >&2\nexit 3\n"));
    FFmpegCompressor compressor = fakeCompressor();
    const struct {
        QByteArray text;
        QString message;
    } cases[] = {
        {"one\n\ntwo\nthree\n\n\nfour\nfive\n\nsix\n", QStringLiteral("three\nfour\nfive\nsix")},
        {"only\n", QStringLiteral("only")},
        // Without a word from the tool, its exit status is the reason.
        {"", QStringLiteral("FFmpeg 异常退出（退出码 3）")},
        {"\n\n\n", QStringLiteral("FFmpeg 异常退出（退出码 3）")},
        {"a\nb", QStringLiteral("a\nb")},
        // Split at line feeds only; a carriage return stays part of its line.
        {"a\r\nb\r\n", QStringLiteral("a\r\nb\r")},
        {"unknown encoder 'libx265'\n", QStringLiteral("unknown encoder 'libx265'")},
        {"bad \xff byte\n", QStringLiteral("bad \uFFFD byte")},
    };
    for (const auto &c : cases) {
        writeText(m_dir.filePath(QStringLiteral("stderr.txt")), c.text);
        const Outcome outcome = compress(compressor, quality(CompressionPlan::fastest), fiveSecondVideo());
        ASSERT_FALSE(outcome.result.has_value());
        EXPECT_EQ(outcome.result.error(), CompressionError::failed(c.message).toError()) << c.text.toStdString();
        EXPECT_THAT(outcome.progress, testing::Not(testing::Contains(1.0)));
    }
}

TEST_F(FFmpegCompressorTest, ProgressFollowsOutTime)
{
    fake(QStringLiteral("printf 'out_time_ms=N/A\\nprogress=continue\\nout_time_ms=2500000\\nout_time=00:00:02.5\\n"
                        "out_time_ms=-500000\\nout_time_ms=9000000\\nout_time_ms=\\nout_time_ms=12abc\\n"
                        "progress=end\\n'\n"));
    FFmpegCompressor compressor = fakeCompressor();
    const Outcome outcome = compress(compressor, quality(CompressionPlan::recommended), fiveSecondVideo(), TimeRange{10.0, 15.0});
    ASSERT_TRUE(outcome.result.has_value()) << outcome.result.error().description().toStdString();
    EXPECT_THAT(outcome.progress, ElementsAre(DoubleNear(0.5, 1e-12), DoubleNear(-0.1, 1e-12), 0.99, 1.0));
}

TEST_F(FFmpegCompressorTest, ZeroDurationDividesByATenthOfASecond)
{
    fake(QStringLiteral("printf 'out_time_ms=50000\\nout_time_ms=99000\\n'\n"));
    VideoInfo info = fiveSecondVideo();
    info.duration = 0;
    FFmpegCompressor compressor = fakeCompressor();
    const Outcome outcome = compress(compressor, quality(CompressionPlan::fastest), info);
    ASSERT_TRUE(outcome.result.has_value());
    EXPECT_THAT(outcome.progress, ElementsAre(DoubleNear(0.5, 1e-9), DoubleNear(0.99, 1e-9), 1.0));
}

TEST_F(FFmpegCompressorTest, NoCompletionReportedForAFailedRun)
{
    fake(QStringLiteral("echo out_time_ms=9000000\necho broken >&2\nexit 1\n"));
    FFmpegCompressor compressor = fakeCompressor();
    const Outcome outcome = compress(compressor, quality(CompressionPlan::fastest), fiveSecondVideo());
    EXPECT_EQ(outcome.result.error(), CompressionError::failed(QStringLiteral("broken")).toError());
    EXPECT_THAT(outcome.progress, ElementsAre(0.99));
}

TEST_F(FFmpegCompressorTest, TwoPassProgressHalvesAndUsesOneFreshPassFolder)
{
    fake(QStringLiteral("dir=$(dirname \"$0\")\n"
                        "prev=''\nfor a in \"$@\"; do\n"
                        "  if [ \"$prev\" = -pass ]; then echo \"pass $a\" >> \"$dir/log\"; fi\n"
                        "  if [ \"$prev\" = -passlogfile ]; then echo \"log $a\" >> \"$dir/log\";\n"
                        "    [ -d \"$(dirname \"$a\")\" ] && echo 'folder exists' >> \"$dir/log\"; fi\n"
                        "  prev=$a\ndone\n"
                        "printf 'out_time_ms=2500000\\nout_time_ms=9000000\\n'\n"));
    FFmpegCompressor compressor = fakeCompressor();
    const Outcome outcome = compress(compressor, targetSize(5), fiveSecondVideo(), TimeRange{0.0, 5.0});
    ASSERT_TRUE(outcome.result.has_value()) << outcome.result.error().description().toStdString();
    EXPECT_THAT(outcome.progress, ElementsAre(DoubleNear(0.25, 1e-12), DoubleNear(0.495, 1e-12),
                                              DoubleNear(0.75, 1e-12), DoubleNear(0.995, 1e-12), 1.0));

    const QStringList log = readText(m_dir.filePath(QStringLiteral("log"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(log.size(), 6) << log.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(log.at(0), QStringLiteral("pass 1"));
    EXPECT_EQ(log.at(2), QStringLiteral("folder exists"));
    EXPECT_EQ(log.at(3), QStringLiteral("pass 2"));
    EXPECT_EQ(log.at(4), log.at(1)); // both passes share the statistics prefix
    const QString prefix = log.at(1).mid(4);
    EXPECT_EQ(QFileInfo(prefix).fileName(), QStringLiteral("x264"));
    const QFileInfo folder(QFileInfo(prefix).path());
    EXPECT_EQ(QDir(folder.path()).canonicalPath(), QDir(QDir::tempPath()).canonicalPath());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Slimreel-pass-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(folder.fileName())
                    .hasMatch())
        << folder.fileName().toStdString();
    EXPECT_TRUE(test::tempEntries(QStringLiteral("Slimreel-pass-")).isEmpty());
}

TEST_F(FFmpegCompressorTest, PassFolderRemovedAfterFailure)
{
    fake(QStringLiteral("echo \"$*\" >> \"$(dirname \"$0\")/calls\"\necho 'pass failed' >&2\nexit 1\n"));
    FFmpegCompressor compressor = fakeCompressor();
    const Outcome outcome = compress(compressor, targetSize(5), fiveSecondVideo());
    EXPECT_EQ(outcome.result.error(), CompressionError::failed(QStringLiteral("pass failed")).toError());
    // Pass 2 never starts after pass 1 failed.
    EXPECT_EQ(readText(m_dir.filePath(QStringLiteral("calls"))).count(QLatin1Char('\n')), 1);
    EXPECT_TRUE(test::tempEntries(QStringLiteral("Slimreel-pass-")).isEmpty());
}

TEST_F(FFmpegCompressorTest, ExitZeroAfterTheTaskWasCancelledIsSuccess)
{
    // Ends cleanly when asked to stop, as a tool finishing its file would.
    fake(QStringLiteral("trap 'kill $sleeper; exit 0' TERM\n"
                        "echo out_time_ms=1000000\n"
                        "sleep 30 & sleeper=$!\nwait $sleeper\n"));
    FFmpegCompressor compressor = fakeCompressor();
    std::stop_source stop;
    std::vector<double> progress;
    const auto result = test::wait(compressor.compress(
        fiveSecondVideo(), quality(CompressionPlan::fastest), QUrl::fromLocalFile(output()), std::nullopt,
        [&](double value) {
            progress.push_back(value);
            stop.request_stop();
        },
        stop.get_token()));
    EXPECT_TRUE(result.has_value()) << result.error().description().toStdString();
    EXPECT_THAT(progress, ElementsAre(DoubleNear(0.2, 1e-12), 1.0));
}

TEST_F(FFmpegCompressorTest, CancelEndsTheChildAndReportsItsErrorOutput)
{
    fake(slowFake);
    FFmpegCompressor compressor = fakeCompressor();
    std::vector<double> progress;
    auto running = compressor.compress(fiveSecondVideo(), quality(CompressionPlan::fastest),
                                       QUrl::fromLocalFile(output()), std::nullopt,
                                       [&](double value) { progress.push_back(value); }, {});
    ASSERT_TRUE(test::spinUntil([&] { return !progress.empty(); }));
    const qint64 pid = scriptPid();
    ASSERT_TRUE(processAlive(pid));
    test::wait(compressor.cancel());
    const auto result = test::wait(std::move(running));
    // The calling task was not cancelled, so this is a failure with the tool's own words.
    EXPECT_EQ(result.error(), CompressionError::failed(QStringLiteral("first error line\nsecond error line")).toError());
    EXPECT_FALSE(processAlive(pid));
}

TEST_F(FFmpegCompressorTest, CancellingTheTaskEndsTheRunPromptly)
{
    const struct {
        const char *name;
        bool alsoCancel;
    } cases[] = {{"stop and cancel", true}, {"stop alone", false}};
    for (const auto &c : cases) {
        fake(slowFake);
        FFmpegCompressor compressor = fakeCompressor();
        std::stop_source stop;
        std::vector<double> progress;
        auto running = compressor.compress(fiveSecondVideo(), quality(CompressionPlan::recommended),
                                           QUrl::fromLocalFile(output()), std::nullopt,
                                           [&](double value) { progress.push_back(value); }, stop.get_token());
        ASSERT_TRUE(test::spinUntil([&] { return !progress.empty(); }));
        const qint64 pid = scriptPid();
        stop.request_stop();
        if (c.alsoCancel) {
            test::wait(compressor.cancel());
        }
        const auto result = test::wait(std::move(running));
        ASSERT_FALSE(result.has_value()) << c.name;
        EXPECT_TRUE(isCancellation(result.error())) << c.name << ": " << result.error().description().toStdString();
        EXPECT_FALSE(processAlive(pid)) << c.name;
        EXPECT_THAT(progress, testing::Not(testing::Contains(1.0)));
    }
}

TEST_F(FFmpegCompressorTest, CancelDuringTheFirstPassSkipsTheSecond)
{
    fake(QStringLiteral("echo \"$*\" >> \"$(dirname \"$0\")/calls\"\n") + slowFake);
    for (const bool cancelTask : {false, true}) {
        QFile::remove(m_dir.filePath(QStringLiteral("calls")));
        FFmpegCompressor compressor = fakeCompressor();
        std::stop_source stop;
        std::vector<double> progress;
        auto running = compressor.compress(fiveSecondVideo(), targetSize(5), QUrl::fromLocalFile(output()),
                                           std::nullopt, [&](double value) { progress.push_back(value); },
                                           stop.get_token());
        ASSERT_TRUE(test::spinUntil([&] { return !progress.empty(); }));
        EXPECT_EQ(test::tempEntries(QStringLiteral("Slimreel-pass-")).size(), 1);
        if (cancelTask) {
            stop.request_stop();
        }
        test::wait(compressor.cancel());
        const auto result = test::wait(std::move(running));
        ASSERT_FALSE(result.has_value());
        if (cancelTask) {
            EXPECT_TRUE(isCancellation(result.error()));
        } else {
            EXPECT_TRUE(isError(result.error(), CompressionError::Case::failed));
        }
        EXPECT_EQ(readText(m_dir.filePath(QStringLiteral("calls"))).count(QLatin1Char('\n')), 1);
        EXPECT_TRUE(test::tempEntries(QStringLiteral("Slimreel-pass-")).isEmpty());
    }
}

TEST_F(FFmpegCompressorTest, TaskCancelledBetweenPassesStopsBeforeTheSecond)
{
    // Pass 1 finishes cleanly when told to stop; the check between passes must catch it.
    fake(QStringLiteral("echo \"$*\" >> \"$(dirname \"$0\")/calls\"\n"
                        "trap 'kill $sleeper; exit 0' TERM\n"
                        "echo out_time_ms=1000000\n"
                        "sleep 30 & sleeper=$!\nwait $sleeper\n"));
    FFmpegCompressor compressor = fakeCompressor();
    std::stop_source stop;
    const auto result = test::wait(compressor.compress(
        fiveSecondVideo(), targetSize(5), QUrl::fromLocalFile(output()), std::nullopt,
        [&](double) { stop.request_stop(); }, stop.get_token()));
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().isTaskCancellation());
    EXPECT_EQ(readText(m_dir.filePath(QStringLiteral("calls"))).count(QLatin1Char('\n')), 1);
    EXPECT_TRUE(test::tempEntries(QStringLiteral("Slimreel-pass-")).isEmpty());
}

TEST_F(FFmpegCompressorTest, CancelWhileIdleDoesNothing)
{
    fake(QStringLiteral("exit 0\n"));
    FFmpegCompressor compressor = fakeCompressor();
    test::wait(compressor.cancel());
    test::wait(compressor.cancel());
    EXPECT_TRUE(compress(compressor, quality(CompressionPlan::fastest), fiveSecondVideo()).result.has_value());
}

TEST_F(FFmpegCompressorTest, WithoutFFmpegTheDestinationIsLeftAlone)
{
    writeText(output(), "previous output");
    FFmpegCompressor compressor(ToolLocator({m_dir.filePath(QStringLiteral("missing/ffmpeg"))}), m_catalog);
    EXPECT_FALSE(compressor.executableURL().has_value());
    for (const auto &settings : {quality(CompressionPlan::fastest), targetSize(5)}) {
        const Outcome outcome = compress(compressor, settings, fiveSecondVideo());
        EXPECT_EQ(outcome.result.error(), CompressionError::ffmpegUnavailable().toError());
        EXPECT_EQ(readText(output()), QStringLiteral("previous output"));
        EXPECT_TRUE(outcome.progress.empty());
    }
    EXPECT_TRUE(test::tempEntries(QStringLiteral("Slimreel-pass-")).isEmpty());
}

TEST_F(FFmpegCompressorTest, ExecutableIsLookedUpOnEveryCall)
{
    FFmpegCompressor compressor = fakeCompressor();
    EXPECT_FALSE(compressor.executableURL().has_value());
    fake(QStringLiteral("exit 0\n"));
    EXPECT_EQ(compressor.executableURL(), m_dir.filePath(QStringLiteral("ffmpeg")));
    EXPECT_TRUE(compress(compressor, quality(CompressionPlan::fastest), fiveSecondVideo()).result.has_value());
}

TEST_F(FFmpegCompressorTest, ExistingDestinationIsRemovedBeforeTheRun)
{
    // The fake reports whether the output path (its last argument) still exists.
    fake(QStringLiteral("for last; do :; done\n[ -e \"$last\" ] && echo 'destination still there' >&2\n"
                        "echo 'encode failed' >&2\nexit 1\n"));
    FFmpegCompressor compressor = fakeCompressor();
    for (const auto &settings : {quality(CompressionPlan::fastest), quality(CompressionPlan::highQuality)}) {
        writeText(output(), "previous output");
        const Outcome outcome = compress(compressor, settings, fiveSecondVideo());
        EXPECT_EQ(outcome.result.error(), CompressionError::failed(QStringLiteral("encode failed")).toError());
        EXPECT_FALSE(QFile::exists(output()));
    }
}

TEST_F(FFmpegCompressorTest, AToolKilledWithoutAWordStillGivesAReason)
{
    fake(QStringLiteral("kill -9 $$\n"));
    FFmpegCompressor compressor = fakeCompressor();
    const Outcome outcome = compress(compressor, quality(CompressionPlan::fastest), fiveSecondVideo());
    EXPECT_EQ(outcome.result.error(), CompressionError::failed(QStringLiteral("FFmpeg 意外终止")).toError());
}

TEST_F(FFmpegCompressorTest, PartOutputIsLeftForTheCaller)
{
    fake(QStringLiteral("for last; do :; done\necho partial > \"$last\"\necho 'disk full' >&2\nexit 1\n"));
    FFmpegCompressor compressor = fakeCompressor();
    const Outcome outcome = compress(compressor, quality(CompressionPlan::fastest), fiveSecondVideo());
    EXPECT_EQ(outcome.result.error(), CompressionError::failed(QStringLiteral("disk full")).toError());
    EXPECT_EQ(readText(output()), QStringLiteral("partial\n"));
}

TEST_F(FFmpegCompressorTest, LaunchFailurePassesThrough)
{
    // Executable, but its interpreter does not exist: the start itself fails.
    const QString path = m_dir.filePath(QStringLiteral("ffmpeg"));
    writeText(path, "#!/nonexistent/interpreter\n");
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    FFmpegCompressor compressor = fakeCompressor();
    for (const auto &settings : {quality(CompressionPlan::fastest), targetSize(5)}) {
        const Outcome outcome = compress(compressor, settings, fiveSecondVideo());
        ASSERT_FALSE(outcome.result.has_value());
        EXPECT_EQ(outcome.result.error().domain, Error::Domain::platform);
        EXPECT_FALSE(outcome.result.error().description().isEmpty());
    }
    EXPECT_TRUE(test::tempEntries(QStringLiteral("Slimreel-pass-")).isEmpty());
    test::wait(compressor.cancel());
}

TEST_F(FFmpegCompressorTest, PassFolderThatCannotBeCreatedIsReported)
{
    fake(QStringLiteral("exit 0\n"));
    const QString blocked = m_dir.filePath(QStringLiteral("not-a-folder"));
    writeText(blocked, "a file where the temporary folder should be");
    qputenv("TMPDIR", blocked.toUtf8());
    FFmpegCompressor compressor = fakeCompressor();
    const Outcome outcome = compress(compressor, targetSize(5), fiveSecondVideo());
    ASSERT_FALSE(outcome.result.has_value());
    EXPECT_EQ(outcome.result.error().domain, Error::Domain::platform);
    EXPECT_FALSE(outcome.result.error().description().isEmpty());
}
