#include "compress/FFmpegCompressor.h"
#include "platform/Files.h"
#include "probe/VideoProbeService.h"
#include "support/Fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace slimreel;
using namespace slimreel::test;

namespace {

const QUrl output = QUrl::fromLocalFile(QStringLiteral("/Out/out.mp4"));
const QString absent = QStringLiteral("(absent)");

VideoInfo video(std::int64_t width, std::int64_t height, bool copyableAudio, double frameRate = 30, double duration = 60)
{
    return {QUrl::fromLocalFile(QStringLiteral("/Videos/in put.mov")), duration, width, height, 0, 6'000'000, frameRate,
            {}, 1, 128'000, copyableAudio};
}

QStringList single(const VideoInfo &info, const CompressionSettings &settings,
                   const EncoderProfile &profile = EncoderProfile::macOS(), std::optional<TimeRange> range = {})
{
    return FFmpegCompressor::makeArguments(info, settings, output, range, profile);
}

QStringList pass(const VideoInfo &info, bool first)
{
    return FFmpegCompressor::makeTwoPassArguments(info, targetSize(25), output, std::nullopt,
                                                  QUrl::fromLocalFile(QStringLiteral("/tmp/pass/x264")), first);
}

QString after(const QStringList &arguments, const char *flag)
{
    const qsizetype at = arguments.indexOf(QLatin1String(flag));
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : absent;
}

Result<void> failed(const char *message)
{
    return std::unexpected(CompressionError::failed(QString::fromUtf8(message)).toError());
}

// A fake ffmpeg starts with this: it logs its arguments, and the statistics
// prefix it was given when that prefix's folder exists.
const QString logCall = QStringLiteral("dir=$(dirname \"$0\")\necho \"$*\" >> \"$dir/calls\"\nfor a; do case $a in "
                                       "*/x264) [ -d \"${a%/x264}\" ] && echo \"$a\" >> \"$dir/logs\";; esac; done\n");

// Every test has a temporary folder of its own as the system's, so that pass
// folders of programs running alongside cannot confuse the checks.
class FFmpegCompressorTest : public testing::Test {
protected:
    void fake(const QString &body) { test::writeScript(m_dir, QStringLiteral("ffmpeg"), logCall + body + '\n'); }
    QString file(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QString text(const char *name) const { QFile f(file(name)); return f.open(QIODevice::ReadOnly) ? f.readAll() : QString(); }
    QStringList lines(const char *name) const { return text(name).split('\n', Qt::SkipEmptyParts); }
    static QStringList passFolders() { return test::tempEntries(QStringLiteral("Slimreel-pass-")); }
    static VideoInfo fiveSeconds() { return test::makeInfo(QUrl::fromLocalFile(QStringLiteral("/no/in.mov")), 5); }

    QCoro::Task<Result<void>> start(FFmpegCompressor &compressor, const CompressionSettings &settings, const VideoInfo &info,
                                    std::optional<TimeRange> range = {}, std::stop_token stop = {})
    {
        progress.clear();
        return compressor.compress(info, settings, QUrl::fromLocalFile(file("out.mp4")), range,
                                   [this](double value) { progress.push_back(std::round(value * 1e6) / 1e6); }, std::move(stop));
    }

    test::PrivateTempFolder m_tmp;
    QTemporaryDir m_dir;
    EncoderCatalog m_macOS{EncoderProfile::macOS()};
    FFmpegCompressor m_fake{ToolLocator({file("ffmpeg")}), m_macOS};
    std::vector<double> progress;
};

} // namespace

TEST(FFmpegArguments, GoldenListsChoicesBySourceAndPlanSubtitlesAndHDR)
{
    EXPECT_EQ(single(video(3840, 2160, true, 29.97), recommended, EncoderProfile::macOS(), TimeRange{30.0, 35.0}),
              (QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-ss", "30.0", "-i", "/Videos/in put.mov",
                           "-map_metadata", "0", "-t", "5.0", "-map", "0:v:0", "-map", "0:a?", "-c:v", "hevc_videotoolbox", "-g", "300",
                           "-tag:v", "hvc1", "-prio_speed", "true", "-b:v", "3120000", "-maxrate", "3900000", "-bufsize",
                           "6240000", "-fps_mode", "passthrough", "-vf", "scale=-2:'min(ih,1080)'", "-c:a", "copy",
                           "-movflags", "+faststart", "-progress", "pipe:1", "-nostats", "/Out/out.mp4"}));

    // AV1 at constant quality under a ceiling of 32 % of the source's 6 Mbit/s; 128 kbit/s audio is copied.
    EXPECT_EQ(single(video(1920, 1080, true, 29.97), smallest, EncoderProfile::software()),
              (QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i", "/Videos/in put.mov", "-map_metadata", "0",
                           "-map", "0:v:0", "-map", "0:a?", "-c:v", "libsvtav1", "-g", "300", "-preset", "10", "-crf", "38",
                           "-pix_fmt", "yuv420p", "-maxrate", "1920000", "-bufsize", "1920000", "-fps_mode", "passthrough",
                           "-c:a", "copy", "-movflags", "+faststart", "-progress", "pipe:1", "-nostats", "/Out/out.mp4"}));

    // 25 MB over 100 s with one audio track: 1,712,000 bit/s; the audio is always encoded.
    const VideoInfo hd = video(1920, 1080, true, 25, 100);
    EXPECT_EQ(pass(hd, true), (QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i", "/Videos/in put.mov",
                                           "-map_metadata", "0", "-map", "0:v:0", "-c:v", "libx264", "-preset", "medium", "-b:v", "1712000", "-g",
                                           "250", "-pix_fmt", "yuv420p", "-fps_mode", "passthrough", "-pass", "1", "-passlogfile",
                                           "/tmp/pass/x264", "-an", "-f", "null", "-progress", "pipe:1", "-nostats", "/dev/null"}));
    EXPECT_EQ(pass(hd, false), (QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i", "/Videos/in put.mov",
                                            "-map_metadata", "0", "-map", "0:v:0", "-map", "0:a?", "-c:v", "libx264", "-preset", "medium", "-b:v",
                                            "1712000", "-g", "250", "-pix_fmt", "yuv420p", "-fps_mode", "passthrough", "-pass",
                                            "2", "-passlogfile", "/tmp/pass/x264", "-c:a", "aac", "-b:a", "128k", "-movflags",
                                            "+faststart", "-progress", "pipe:1", "-nostats", "/Out/out.mp4"}));

    // Times in plain digits (ffmpeg reads no exponents) that read back as the same number.
    EXPECT_EQ(FFmpegCompressor::timeText(2.0 / 3.0), QStringLiteral("0.6666666666666666"));
    EXPECT_EQ(FFmpegCompressor::timeText(0.00001), QStringLiteral("0.00001"));
    EXPECT_EQ(FFmpegCompressor::timeText(7.25), QStringLiteral("7.25"));

    // The height cap, even sides, the audio rule and the profiles, by source and plan.
    const QString even = QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2");
    const QString cap720 = QStringLiteral("scale=-2:'min(ih,720)'");
    const struct {
        std::int64_t width, height;
        bool copyable;
        CompressionSettings settings;
        QString filter;
        const char *audio;
        double audioRate = 128'000;
    } cases[] = {
        {1920, 1080, true, fastest, cap720, "copy"},   {1280, 720, true, fastest, absent, "copy"},
        {321, 240, true, fastest, even, "copy"},
        // MP3 and the like cannot go into MP4 as they are.
        {1280, 720, false, recommended, absent, "aac"}, {3840, 2160, true, highQuality, absent, "aac"},
        {321, 241, true, highQuality, even, "aac"},     {320, 241, true, targetSize(25), even, "aac"},
        {3840, 2160, true, targetSize(25), absent, "aac"}, {3840, 2160, true, smallest, absent, "copy"},
        {321, 241, false, smallest, even, "aac"},
        {640, 360, true, smallest, absent, "aac", 160'000}, // copied only when no larger than the AAC it would get
    };
    // Profiles differ in the encoder's name and speed options only.
    const auto without = [](QStringList arguments, const CompressionSettings &settings, const EncoderProfile &profile) {
        if (settings.encoderStrategy() != EncoderStrategy::qualityX264) {
            const VideoEncoder &encoder = profile.encoder(settings.encoderStrategy());
            arguments.removeOne(encoder.name);
            // As one block: a value such as "0" also stands elsewhere in the list.
            for (qsizetype at = 0; !encoder.speedOptions.isEmpty() && at + encoder.speedOptions.size() <= arguments.size(); ++at) {
                if (arguments.mid(at, encoder.speedOptions.size()) == encoder.speedOptions) {
                    arguments.remove(at, encoder.speedOptions.size());
                    break;
                }
            }
        }
        return arguments;
    };
    for (const auto &c : cases) {
        VideoInfo info = video(c.width, c.height, c.copyable);
        info.audioBitrate = c.audioRate;
        const QStringList arguments = single(info, c.settings, EncoderProfile::software());
        const int row = static_cast<int>(&c - cases);
        EXPECT_EQ(after(arguments, "-vf"), c.filter) << row;
        EXPECT_EQ(after(arguments, "-c:a"), QLatin1String(c.audio)) << row;
        for (const EncoderProfile &profile : {EncoderProfile::macOS(), EncoderProfile::nvenc(), EncoderProfile::qsv()}) {
            EXPECT_EQ(without(single(info, c.settings, profile), c.settings, profile),
                      without(arguments, c.settings, EncoderProfile::software())) << row << " " << profile.family.toStdString();
        }
        if (c.settings.mode == CompressionMode::targetSize) {
            EXPECT_EQ(after(pass(info, true), "-vf"), c.filter) << row;
            EXPECT_EQ(after(pass(info, false), "-vf"), c.filter) << row;
        }
    }
    // VAAPI opens its device before the input and uploads the frames after scaling.
    const QStringList vaapi = single(video(1920, 1080, true), fastest, EncoderProfile::vaapi(), TimeRange{2, 7});
    EXPECT_EQ(vaapi.mid(5, 3), (QStringList{"-vaapi_device", "/dev/dri/renderD128", "-ss"}));
    EXPECT_EQ(after(vaapi, "-vf"), QStringLiteral("scale=-2:'min(ih,720)',format=nv12,hwupload"));
    EXPECT_EQ(single(video(1920, 1080, true), highQuality, EncoderProfile::vaapi()), single(video(1920, 1080, true), highQuality));

    // What ffprobe says of the streams decides the subtitle tracks and the bit depth.
    const SourceStreams none;
    const SourceStreams read = SourceStreams::fromProbeLines(
        {"index=0|codec_name=hevc|codec_type=video|pix_fmt=yuv420p10le|color_transfer=arib-std-b67",
         "index=1|codec_name=aac|codec_type=audio|pix_fmt=N/A|color_transfer=N/A",
         "index=2|codec_name=subrip|codec_type=subtitle", "index=3|codec_name=hdmv_pgs_subtitle|codec_type=subtitle",
         "index=4|codec_name=ass|codec_type=subtitle", "index=5|codec_name=mjpeg|codec_type=video|pix_fmt=yuvj420p"});
    EXPECT_EQ(read, (SourceStreams{{2, 4}, true, true}));
    EXPECT_FALSE(SourceStreams::fromProbeLines({"index=0|codec_type=video|pix_fmt=yuv420p|color_transfer=arib-std-b67"}).tenBitHDR);
    EXPECT_EQ(SourceStreams::fromProbeLines({"index=0|codec_type=video|pix_fmt=yuv420p10le|color_transfer=bt709"}), (SourceStreams{{}, false, true}));

    const auto with = [hd = video(1920, 1080, true)](const CompressionSettings &settings, const EncoderProfile &profile, const SourceStreams &streams,
                          std::optional<TimeRange> range = {}) {
        return FFmpegCompressor::makeArguments(hd, settings, output, range, profile, streams);
    };
    const auto twoPass = [&](const SourceStreams &streams) {
        return FFmpegCompressor::makeTwoPassArguments(video(1920, 1080, true), targetSize(25), output, std::nullopt,
                                                      QUrl::fromLocalFile(QStringLiteral("/tmp/pass/x264")), false, streams);
    };
    const QStringList subtitles{"-map", "0:2", "-map", "0:4"};
    for (const QStringList &arguments : {with(recommended, EncoderProfile::software(), read), with(highQuality, EncoderProfile::software(), read), twoPass(read)}) {
        EXPECT_EQ(arguments.mid(arguments.indexOf("0:a?") + 1, 4), subtitles) << arguments.join(' ').toStdString();
        EXPECT_EQ(after(arguments, "-c:s"), "mov_text");
    }
    // The sample leaves them out; without text tracks nothing is added.
    const QStringList sample = with(recommended, EncoderProfile::software(), read, TimeRange{2, 7});
    EXPECT_FALSE(sample.contains("0:2") || sample.contains("-c:s")) << sample.join(' ').toStdString();
    EXPECT_EQ(after(with(recommended, EncoderProfile::software(), SourceStreams{{}, true}), "-c:s"), absent);

    // HEVC keeps 10 bits (Main 10) for HDR, in software and hardware; H.264 stays 8-bit.
    const QStringList x265 = with(recommended, EncoderProfile::software(), read);
    EXPECT_EQ(after(x265, "-profile:v"), "main10");
    EXPECT_EQ(after(x265, "-pix_fmt"), "yuv420p10le");
    EXPECT_EQ(after(with(recommended, EncoderProfile::nvenc(), read), "-pix_fmt"), "p010le");
    EXPECT_EQ(after(with(recommended, EncoderProfile::vaapi(), read), "-vf"), "format=p010,hwupload");
    EXPECT_EQ(x265.count("-pix_fmt"), 1);
    EXPECT_EQ(after(with(recommended, EncoderProfile::software(), none), "-pix_fmt"), "yuv420p");
    // AV1 keeps 10 bits of any 10-bit source, HDR or not, without HEVC's profile option.
    const QStringList svt = with(smallest, EncoderProfile::software(), SourceStreams{{}, false, true});
    EXPECT_EQ(after(svt, "-pix_fmt") + after(svt, "-profile:v"), "yuv420p10le" + absent);
    EXPECT_EQ(after(with(smallest, EncoderProfile::nvenc(), read), "-pix_fmt"), "p010le");
    EXPECT_EQ(after(with(smallest, EncoderProfile::software(), none), "-pix_fmt"), "yuv420p");
    for (const QStringList &h264 : {with(fastest, EncoderProfile::software(), read), with(fastest, EncoderProfile::nvenc(), read),
                                    with(highQuality, EncoderProfile::software(), read), twoPass(read)}) {
        EXPECT_EQ(after(h264, "-profile:v"), absent) << h264.join(' ').toStdString();
        EXPECT_NE(after(h264, "-pix_fmt"), "yuv420p10le");
    }
}

TEST_F(FFmpegCompressorTest, ProgressAndFailuresOfFakeRuns)
{
    const struct {
        const char *script; // none: no ffmpeg at all
        CompressionSettings settings;
        std::optional<TimeRange> range;
        std::vector<double> progress;
        Result<void> result;
        int runs; // of the tool
        double duration = 5;
    } cases[] = {
        // The fraction of the range done; N/A and other lines are no progress, and 0.99 is the most before the end.
        {"printf 'out_time_ms=N/A\\nprogress=continue\\nout_time_ms=2500000\\nout_time=00:00:02.5\\n"
         "out_time_ms=-500000\\nout_time_ms=9000000\\nout_time_ms=\\nout_time_ms=12abc\\nprogress=end\\n'",
         recommended, TimeRange{10, 15}, {0.5, -0.1, 0.99, 1.0}, {}, 1},
        // A zero duration divides by a tenth of a second.
        {"echo out_time_ms=50000", fastest, {}, {0.5, 1.0}, {}, 1, 0},
        // Each pass is half of the way.
        {"printf 'out_time_ms=2500000\\nout_time_ms=9000000\\n'", targetSize(5), {}, {0.25, 0.495, 0.75, 0.995, 1.0}, {}, 2},
        // A failure shows the tool's last four lines.
        {"echo out_time_ms=9000000\nprintf 'one\\n\\ntwo\\nthree\\n\\n\\nfour\\nfive\\n\\nsix\\n' >&2\nexit 3",
         fastest, {}, {0.99}, failed("three\nfour\nfive\nsix"), 1},
        {"echo only >&2\nexit 1", highQuality, {}, {}, failed("only"), 1},
        // SVT-AV1's banner ignores the log level; the tool's own words are the message.
        {"echo 'Svt[info]: SVT [version]' >&2\necho gone >&2\necho 'Svt[info]: x' >&2\nexit 1", smallest, {}, {}, failed("gone"), 1},
        // Without a word from the tool, how it ended is the reason.
        {"printf '\\n\\n' >&2\nexit 3", fastest, {}, {}, failed("FFmpeg 异常退出（退出码 3）"), 1},
        {"kill -9 $$", fastest, {}, {}, failed("FFmpeg 意外终止"), 1},
        {"printf 'x\\nUNKNOWN ENCODER '\"'\"'LIBX264'\"'\"'\\nz\\nw\\nv\\n' >&2\nexit 1", fastest, {}, {},
         failed("当前 FFmpeg 未包含 libx264，无法使用高质量或指定大小模式。"), 1},
        // A failed first pass: no second one.
        {"echo 'pass failed' >&2\nexit 1", targetSize(5), {}, {}, failed("pass failed"), 1},
        {nullptr, fastest, {}, {}, std::unexpected(CompressionError::ffmpegUnavailable().toError()), 0},
        {nullptr, targetSize(5), {}, {}, std::unexpected(CompressionError::ffmpegUnavailable().toError()), 0},
    };
    test::wait(m_fake.cancel()); // while idle: nothing is left pending for the next run
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script ? c.script : "no ffmpeg");
        c.script ? fake(QString::fromUtf8(c.script)) : void(QFile::remove(file("ffmpeg")));
        QFile::remove(file("calls")), QFile::remove(file("logs"));
        QFile out(file("out.mp4"));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write("previous output") > 0 && out.flush());
        VideoInfo info = fiveSeconds();
        info.duration = c.duration;
        EXPECT_EQ(test::wait(start(m_fake, c.settings, info, c.range)), c.result);
        EXPECT_EQ(progress, c.progress);
        EXPECT_EQ(lines("calls").size(), c.runs);
        EXPECT_TRUE(out.exists()) << "the destination is the coordinator's own file: never removed here";
        EXPECT_TRUE(passFolders().isEmpty());
        if (c.runs > 0 && c.settings.mode == CompressionMode::targetSize) {
            // Every pass got the same prefix, in a fresh folder in the temporary folder.
            const QStringList logs = lines("logs");
            EXPECT_TRUE(logs.size() == c.runs && logs.first() == logs.last()) << logs.join(' ').toStdString();
            EXPECT_TRUE(logs.value(0).startsWith(QDir(Files::scratchFolder()).filePath(QStringLiteral("Slimreel-pass-"))));
        }
    }
}

TEST_F(FFmpegCompressorTest, CancelAndStopEndTheRunAndItsChild)
{
    // One progress line, then it waits (as sleep, same pid) until ended.
    const QString slow = QStringLiteral("echo $$ > \"$dir/pid\"\necho 'first error line' >&2\necho 'second error line' >&2\n"
                                        "echo out_time_ms=1000000\nexec sleep 30");
    // Ends cleanly when asked to stop, as a tool finishing its file would.
    const QString finishing = QStringLiteral("trap 'kill $sleeper; exit 0' TERM\necho out_time_ms=1000000\n"
                                             "sleep 30 & sleeper=$!\nwait $sleeper");
    const Result<void> cancelled = std::unexpected(Error::taskCancelled()); // stands for either kind
    const struct {
        const char *name;
        QString script;
        CompressionSettings settings;
        bool stopTask, cancel;
        Result<void> result;
    } cases[] = {
        {"cancel alone: a failure in the tool's words", slow, fastest, false, true, failed("first error line\nsecond error line")},
        {"task stopped", slow, recommended, true, false, cancelled},
        {"task stopped in the first pass", slow, targetSize(5), true, true, cancelled},
        {"a clean exit after the stop is success", finishing, fastest, true, false, {}},
        {"but no second pass follows it", finishing, targetSize(5), true, false, cancelled},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake(c.script);
        QFile::remove(file("calls")), QFile::remove(file("pid"));
        std::stop_source stop;
        auto running = start(m_fake, c.settings, fiveSeconds(), std::nullopt, stop.get_token());
        ASSERT_TRUE(test::spinUntil([&] { return !progress.empty(); }));
        const QString pid = text("pid").trimmed();
        EXPECT_EQ(passFolders().size(), c.settings.mode == CompressionMode::targetSize ? 1 : 0);
        c.stopTask && stop.request_stop();
        c.cancel ? test::wait(m_fake.cancel()) : void();
        const auto result = test::wait(std::move(running));
        EXPECT_TRUE(c.result == cancelled ? !result && isCancellation(result.error()) : result == c.result);
        EXPECT_EQ(lines("calls").size(), 1);
        EXPECT_TRUE(pid.isEmpty() || !QFile::exists(QStringLiteral("/proc/") + pid)) << "the child still runs";
        EXPECT_TRUE(passFolders().isEmpty());
        EXPECT_EQ(std::ranges::count(progress, 1.0), c.result ? 1 : 0);
    }
}
