#include "compress/FFmpegCompressor.h"
#include "platform/Files.h"
#include "support/Fakes.h"

#include <QDir>
#include <QFile>
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

QStringList pass(const VideoInfo &info, bool first, const SourceStreams &streams = {})
{
    return FFmpegCompressor::makeTwoPassArguments(info, targetSize(25), output, std::nullopt,
                                                  QUrl::fromLocalFile(QStringLiteral("/tmp/pass/x264")), first, streams);
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

// A fake ffmpeg starts with this: it logs its arguments, and the statistics prefix it was given when that prefix's folder exists.
const QString logCall = QStringLiteral("dir=$(dirname \"$0\")\necho \"$*\" >> \"$dir/calls\"\nfor a; do case $a in "
                                       "*/x264) [ -d \"${a%/x264}\" ] && echo \"$a\" >> \"$dir/logs\";; esac; done\n");

// Every test has a temporary folder of its own as the system's, so that pass
// folders of programs running alongside cannot confuse the checks.
class FFmpegCompressorTest : public testing::Test {
protected:
    void fake(const QString &body) { test::writeScript(m_dir, QStringLiteral("ffmpeg"), logCall + body + '\n'); }
    QString file(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QStringList lines(const char *name) const { return QString::fromUtf8(readFile(file(name))).split('\n', Qt::SkipEmptyParts); }
    static QStringList passFolders() { return test::tempEntries(QStringLiteral("Slimreel-pass-")); }

    QCoro::Task<Result<void>> start(const CompressionSettings &settings, std::optional<TimeRange> range = {},
                                    std::stop_token stop = {})
    {
        progress.clear();
        return m_fake.compress(test::makeInfo(QUrl::fromLocalFile(QStringLiteral("/no/in.mov")), 5), settings,
                               QUrl::fromLocalFile(file("out.mp4")), range,
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
    const EncoderProfile software = EncoderProfile::software(), macOS = EncoderProfile::macOS(), nvenc = EncoderProfile::nvenc();
    const EncoderProfile vaapi = EncoderProfile::vaapi();
    EXPECT_EQ(single(video(3840, 2160, true, 29.97), recommended, macOS, TimeRange{30.0, 35.0}),
              (QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-ss", "30.0", "-i", "/Videos/in put.mov",
                           "-map_metadata", "0", "-t", "5.0", "-map", "0:v:0", "-map", "0:a?", "-c:v", "hevc_videotoolbox", "-g", "300",
                           "-tag:v", "hvc1", "-prio_speed", "true", "-b:v", "3120000", "-maxrate", "3900000", "-bufsize",
                           "6240000", "-fps_mode", "passthrough", "-vf", "scale=-2:'min(ih,1080)'", "-c:a", "copy",
                           "-movflags", "+faststart", "-progress", "pipe:1", "-nostats", "/Out/out.mp4"}));

    // 25 MB over 100 s with one audio track: 1,712,000 bit/s; the audio is always encoded.
    const VideoInfo hd = video(1920, 1080, true, 25, 100);
    EXPECT_EQ(pass(hd, false), (QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i", "/Videos/in put.mov",
                                            "-map_metadata", "0", "-map", "0:v:0", "-map", "0:a?", "-c:v", "libx264", "-preset", "medium", "-b:v",
                                            "1712000", "-g", "250", "-pix_fmt", "yuv420p", "-fps_mode", "passthrough", "-pass",
                                            "2", "-passlogfile", "/tmp/pass/x264", "-c:a", "aac", "-b:a", "128k", "-movflags",
                                            "+faststart", "-progress", "pipe:1", "-nostats", "/Out/out.mp4"}));
    // The first pass writes no file.
    const QStringList first = pass(hd, true);
    EXPECT_EQ(first.mid(first.indexOf("-pass")), (QStringList{"-pass", "1", "-passlogfile", "/tmp/pass/x264", "-an", "-f", "null",
                                                              "-progress", "pipe:1", "-nostats", "/dev/null"}));
    // AV1 at constant quality: 32 % of the source's 6 Mbit/s is only its ceiling, and SVT-AV1 is held to it.
    const QStringList av1 = single(video(1920, 1080, true), smallest, software);
    EXPECT_EQ((QStringList{after(av1, "-b:v"), after(av1, "-maxrate"), after(av1, "-bufsize"), after(av1, "-svtav1-params")}),
              (QStringList{absent, "1920000", "1920000", "mbr-overshoot-pct=0"}));

    // Times in plain digits (ffmpeg reads no exponents) that read back as the same number.
    EXPECT_EQ(FFmpegCompressor::timeText(2.0 / 3.0), QStringLiteral("0.6666666666666666"));
    EXPECT_EQ(FFmpegCompressor::timeText(0.00001), QStringLiteral("0.00001"));
    EXPECT_EQ(FFmpegCompressor::timeText(7.25), QStringLiteral("7.25"));

    // The height cap, even sides and the audio rule, by source and plan, on every profile that takes them.
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
    for (const auto &c : cases) {
        VideoInfo info = video(c.width, c.height, c.copyable);
        info.audioBitrate = c.audioRate;
        const int row = static_cast<int>(&c - cases);
        for (const EncoderProfile &profile : {software, macOS, nvenc}) {
            const QStringList arguments = single(info, c.settings, profile);
            EXPECT_EQ(after(arguments, "-vf"), c.filter) << row << " " << profile.family.toStdString();
            EXPECT_EQ(after(arguments, "-c:a"), QLatin1String(c.audio)) << row << " " << profile.family.toStdString();
        }
        if (c.settings.mode == CompressionMode::targetSize) {
            EXPECT_EQ(after(pass(info, true), "-vf"), c.filter) << row;
            EXPECT_EQ(after(pass(info, false), "-vf"), c.filter) << row;
        }
    }
    // VAAPI opens its device before the input and uploads the frames after scaling.
    const QStringList uploaded = single(video(1920, 1080, true), fastest, vaapi, TimeRange{2, 7});
    EXPECT_EQ(uploaded.mid(5, 3), (QStringList{"-vaapi_device", "/dev/dri/renderD128", "-ss"}));
    EXPECT_EQ(after(uploaded, "-vf"), QStringLiteral("scale=-2:'min(ih,720)',format=nv12,hwupload"));
    EXPECT_EQ(single(video(1920, 1080, true), highQuality, vaapi), single(video(1920, 1080, true), highQuality));

    // What ffprobe says of the streams decides the subtitle tracks and the bit depth.
    const SourceStreams tenBit{{}, false, true};
    const SourceStreams read = SourceStreams::fromProbeLines(
        {"index=0|codec_name=hevc|codec_type=video|pix_fmt=yuv420p10le|color_transfer=arib-std-b67",
         "index=1|codec_name=aac|codec_type=audio|pix_fmt=N/A|color_transfer=N/A",
         "index=2|codec_name=subrip|codec_type=subtitle", "index=3|codec_name=hdmv_pgs_subtitle|codec_type=subtitle",
         "index=4|codec_name=ass|codec_type=subtitle", "index=5|codec_name=mjpeg|codec_type=video|pix_fmt=yuvj420p"});
    EXPECT_EQ(read, (SourceStreams{{2, 4}, true, true}));
    EXPECT_FALSE(SourceStreams::fromProbeLines({"index=0|codec_type=video|pix_fmt=yuv420p|color_transfer=arib-std-b67"}).tenBitHDR);
    EXPECT_EQ(SourceStreams::fromProbeLines({"index=0|codec_type=video|pix_fmt=yuv420p10le|color_transfer=bt709"}), tenBit);

    const auto with = [hd = video(1920, 1080, true)](const CompressionSettings &settings, const EncoderProfile &profile,
                                                     const SourceStreams &streams, std::optional<TimeRange> range = {}) {
        return FFmpegCompressor::makeArguments(hd, settings, output, range, profile, streams);
    };
    const QStringList twoPass = pass(hd, false, read);
    for (const QStringList &arguments : {with(recommended, software, read), with(highQuality, software, read), twoPass}) {
        EXPECT_EQ(arguments.mid(arguments.indexOf("0:a?") + 1, 4), (QStringList{"-map", "0:2", "-map", "0:4"}))
            << arguments.join(' ').toStdString();
        EXPECT_EQ(after(arguments, "-c:s"), "mov_text");
    }
    // The sample leaves them out; without text tracks nothing is added.
    const QStringList sample = with(recommended, software, read, TimeRange{2, 7});
    EXPECT_FALSE(sample.contains("0:2") || sample.contains("-c:s")) << sample.join(' ').toStdString();
    EXPECT_EQ(after(with(recommended, software, SourceStreams{{}, true}), "-c:s"), absent);

    // HEVC keeps 10 bits (Main 10) of HDR, in software and hardware; AV1 of any 10-bit source, without HEVC's
    // profile option; H.264 stays 8-bit. One pixel format only: the profile's own is replaced.
    const std::tuple<CompressionSettings, EncoderProfile, SourceStreams, QString, QString> depths[] = {
        {recommended, software, read, "yuv420p10le", "main10"},
        {recommended, nvenc, read, "p010le", "main10"},
        {recommended, software, tenBit, "yuv420p", absent},
        {smallest, software, tenBit, "yuv420p10le", absent},
        {smallest, nvenc, read, "p010le", absent},
        {smallest, software, {}, "yuv420p", absent},
        {fastest, software, read, "yuv420p", absent},
        {fastest, nvenc, read, absent, absent},
        {highQuality, software, read, "yuv420p", absent},
    };
    for (const auto &[settings, profile, streams, format, hevcProfile] : depths) {
        const QStringList arguments = with(settings, profile, streams);
        EXPECT_EQ(after(arguments, "-pix_fmt") + " " + after(arguments, "-profile:v"), format + " " + hevcProfile)
            << arguments.join(' ').toStdString();
        EXPECT_EQ(arguments.count("-pix_fmt"), format == absent ? 0 : 1);
    }
    EXPECT_EQ(after(with(recommended, vaapi, read), "-vf"), "format=p010,hwupload");
    EXPECT_EQ(after(twoPass, "-pix_fmt") + after(twoPass, "-profile:v"), "yuv420p" + absent);
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
    } cases[] = {
        // The fraction of the range done; N/A and other lines are no progress, and 0.99 is the most before the end.
        {"printf 'out_time_ms=N/A\\nprogress=continue\\nout_time_ms=2500000\\nout_time=00:00:02.5\\n"
         "out_time_ms=-500000\\nout_time_ms=9000000\\nout_time_ms=\\nout_time_ms=12abc\\nprogress=end\\n'",
         recommended, TimeRange{10, 15}, {0.5, -0.1, 0.99, 1.0}, {}, 1},
        // A part of no length divides by a tenth of a second.
        {"echo out_time_ms=50000", fastest, TimeRange{3, 3}, {0.5, 1.0}, {}, 1},
        // Each pass is half of the way.
        {"printf 'out_time_ms=2500000\\nout_time_ms=9000000\\n'", targetSize(5), {}, {0.25, 0.495, 0.75, 0.995, 1.0}, {}, 2},
        // A failure shows the tool's last four lines.
        {"echo out_time_ms=9000000\nprintf 'one\\n\\ntwo\\nthree\\n\\n\\nfour\\nfive\\n\\nsix\\n' >&2\nexit 3",
         fastest, {}, {0.99}, failed("three\nfour\nfive\nsix"), 1},
        // SVT-AV1's banner ignores the log level; the tool's own words are the message.
        {"echo 'Svt[info]: SVT [version]' >&2\necho gone >&2\necho 'Svt[info]: x' >&2\nexit 1", smallest, {}, {}, failed("gone"), 1},
        // Without a word from the tool, how it ended is the reason.
        {"printf '\\n\\n' >&2\nexit 3", fastest, {}, {}, failed("FFmpeg 异常退出（退出码 3）"), 1},
        {"kill -9 $$", fastest, {}, {}, failed("FFmpeg 意外终止"), 1},
        {"printf 'x\\nUNKNOWN ENCODER '\"'\"'LIBX264'\"'\"'\\nz\\nw\\nv\\n' >&2\nexit 1", fastest, {}, {},
         failed("当前 FFmpeg 未包含 libx264，无法使用高质量或指定大小模式。"), 1},
        // A failed first pass: no second one.
        {"echo 'pass failed' >&2\nexit 1", targetSize(5), {}, {}, failed("pass failed"), 1},
        {nullptr, targetSize(5), {}, {}, std::unexpected(CompressionError::ffmpegUnavailable().toError()), 0},
    };
    test::wait(m_fake.cancel()); // while idle: nothing is left pending for the next run
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script ? c.script : "no ffmpeg");
        c.script ? fake(QString::fromUtf8(c.script)) : void(QFile::remove(file("ffmpeg")));
        QFile::remove(file("calls")), QFile::remove(file("logs"));
        ASSERT_TRUE(writeFile(file("out.mp4"), "previous output"));
        EXPECT_EQ(test::wait(start(c.settings, c.range)), c.result);
        EXPECT_EQ(progress, c.progress);
        EXPECT_EQ(lines("calls").size(), c.runs);
        EXPECT_TRUE(QFile::exists(file("out.mp4"))) << "the destination is the coordinator's own file: never removed here";
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
        auto running = start(c.settings, std::nullopt, stop.get_token());
        ASSERT_TRUE(test::spinUntil([&] { return !progress.empty(); }));
        const QString pid = QString::fromLatin1(readFile(file("pid")).trimmed());
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
