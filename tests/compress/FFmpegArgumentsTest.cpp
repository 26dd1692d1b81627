#include "compress/FFmpegCompressor.h"

#include <gtest/gtest.h>

#include <limits>

using namespace slimreel;

namespace {

const QString source = QStringLiteral("/Videos/in put.mov");
const QString output = QStringLiteral("/Out/out.mp4");

std::vector<std::string> strings(const QStringList &list)
{
    std::vector<std::string> out;
    for (const QString &s : list) {
        out.push_back(s.toStdString());
    }
    return out;
}

VideoInfo video(std::int64_t width, std::int64_t height, double videoBitrate, double frameRate, bool copyableAudio,
                std::int64_t audioTracks = 1, double duration = 60)
{
    VideoInfo info;
    info.url = QUrl::fromLocalFile(source);
    info.duration = duration;
    info.width = width;
    info.height = height;
    info.videoBitrate = videoBitrate;
    info.frameRate = frameRate;
    info.audioTrackCount = audioTracks;
    info.audioBitrate = audioTracks > 0 ? 128'000 : 0;
    info.canCopyAudioToMP4 = copyableAudio;
    return info;
}

CompressionSettings quality(CompressionPlan plan)
{
    return {CompressionMode::quality, plan, 25};
}

CompressionSettings targetSize(double megabytes, CompressionPlan plan = CompressionPlan::recommended)
{
    return {CompressionMode::targetSize, plan, megabytes};
}

QStringList single(const VideoInfo &info, const CompressionSettings &settings,
                   std::optional<TimeRange> range = std::nullopt, const EncoderProfile &profile = EncoderProfile::macOS(),
                   const QString &destination = output)
{
    return FFmpegCompressor::makeArguments(info, settings, QUrl::fromLocalFile(destination), range, profile);
}

QStringList pass(const VideoInfo &info, const CompressionSettings &settings, bool first,
                 std::optional<TimeRange> range = std::nullopt)
{
    return FFmpegCompressor::makeTwoPassArguments(info, settings, QUrl::fromLocalFile(output), range,
                                                  QUrl::fromLocalFile(QStringLiteral("/tmp/pass/x264")), first);
}

// The value following `flag`, or "(absent)".
std::string after(const QStringList &arguments, const QString &flag)
{
    const qsizetype at = arguments.indexOf(flag);
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toStdString() : "(absent)";
}

} // namespace

TEST(FFmpegArguments, SinglePassWorkedExample)
{
    const VideoInfo info = video(3840, 2160, 6'000'000, 29.97, true);
    const auto arguments = single(info, quality(CompressionPlan::recommended), TimeRange{30.0, 35.0});
    const std::vector<std::string> expected{
        "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-ss", "30.0", "-i", "/Videos/in put.mov", "-t", "5.0",
        "-map", "0:v:0", "-map", "0:a?", "-c:v", "hevc_videotoolbox", "-g", "300", "-tag:v", "hvc1", "-prio_speed",
        "true", "-b:v", "3120000", "-maxrate", "3900000", "-bufsize", "6240000", "-fps_mode", "passthrough", "-vf",
        "scale=-2:'min(ih,1080)'", "-c:a", "copy", "-movflags", "+faststart", "-progress", "pipe:1", "-nostats",
        "/Out/out.mp4"};
    EXPECT_EQ(strings(arguments), expected);
}

TEST(FFmpegArguments, TwoPassWorkedExample)
{
    // 25 MB over 100 s with one audio track that cannot be copied: 1,712,000 bit/s.
    const VideoInfo info = video(1920, 1080, 8'000'000, 25, false, 1, 100);
    const std::vector<std::string> videoBlock{
        "-c:v", "libx264", "-preset", "medium", "-b:v", "1712000", "-g", "250", "-pix_fmt", "yuv420p", "-fps_mode",
        "passthrough", "-pass"};
    const std::vector<std::string> head{"-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                        "-i",           "/Videos/in put.mov"};

    std::vector<std::string> first = head;
    first.insert(first.end(), {"-map", "0:v:0"});
    first.insert(first.end(), videoBlock.begin(), videoBlock.end());
    first.insert(first.end(), {"1", "-passlogfile", "/tmp/pass/x264", "-an", "-f", "null", "-progress", "pipe:1",
                               "-nostats", "/dev/null"});
    EXPECT_EQ(strings(pass(info, targetSize(25), true)), first);

    std::vector<std::string> second = head;
    second.insert(second.end(), {"-map", "0:v:0", "-map", "0:a?"});
    second.insert(second.end(), videoBlock.begin(), videoBlock.end());
    second.insert(second.end(), {"2", "-passlogfile", "/tmp/pass/x264", "-c:a", "aac", "-b:a", "128k", "-movflags",
                                 "+faststart", "-progress", "pipe:1", "-nostats", "/Out/out.mp4"});
    EXPECT_EQ(strings(pass(info, targetSize(25), false)), second);
}

TEST(FFmpegArguments, SinglePassByModeAndPlan)
{
    // 1080p source at 5 Mbit/s, 30 fps, copyable audio: every row of the single-pass table.
    const VideoInfo info = video(1920, 1080, 5'000'000, 30, true);
    const struct {
        CompressionSettings settings;
        std::vector<std::string> afterHead;
    } cases[] = {
        {quality(CompressionPlan::fastest),
         {"-map", "0:v:0", "-map", "0:a?", "-c:v", "h264_videotoolbox", "-g", "300", "-prio_speed", "true", "-b:v",
          "1600000", "-maxrate", "2000000", "-bufsize", "3200000", "-fps_mode", "passthrough", "-vf",
          "scale=-2:'min(ih,720)'", "-c:a", "copy"}},
        {quality(CompressionPlan::recommended),
         {"-map", "0:v:0", "-map", "0:a?", "-c:v", "hevc_videotoolbox", "-g", "300", "-tag:v", "hvc1", "-prio_speed",
          "true", "-b:v", "2600000", "-maxrate", "3250000", "-bufsize", "5200000", "-fps_mode", "passthrough", "-c:a",
          "copy"}},
        {quality(CompressionPlan::highQuality),
         {"-map", "0:v:0", "-map", "0:a?", "-c:v", "libx264", "-g", "300", "-preset", "medium", "-crf", "23.5",
          "-pix_fmt", "yuv420p", "-fps_mode", "passthrough", "-c:a", "aac", "-b:a", "128k"}},
        {targetSize(25),
         {"-map", "0:v:0", "-map", "0:a?", "-c:v", "libx264", "-g", "300", "-preset", "medium", "-crf", "23.5",
          "-pix_fmt", "yuv420p", "-fps_mode", "passthrough", "-c:a", "aac", "-b:a", "128k"}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> expected{"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i",
                                          "/Videos/in put.mov"};
        expected.insert(expected.end(), c.afterHead.begin(), c.afterHead.end());
        expected.insert(expected.end(), {"-movflags", "+faststart", "-progress", "pipe:1", "-nostats", "/Out/out.mp4"});
        EXPECT_EQ(strings(single(info, c.settings)), expected)
            << rawValue(c.settings.mode).toStdString() << "/" << rawValue(c.settings.plan).toStdString();
    }
}

TEST(FFmpegArguments, NoRangeMeansNoSeekAndNoLength)
{
    const VideoInfo info = video(1280, 720, 4'000'000, 30, true);
    for (const auto &arguments : {single(info, quality(CompressionPlan::fastest)), pass(info, targetSize(10), true),
                                  pass(info, targetSize(10), false)}) {
        EXPECT_FALSE(arguments.contains(QStringLiteral("-ss")));
        EXPECT_FALSE(arguments.contains(QStringLiteral("-t")));
        EXPECT_EQ(arguments.indexOf(QStringLiteral("-i")), arguments.indexOf(QStringLiteral("-y")) + 1);
    }
}

TEST(FFmpegArguments, RangeSeeksBeforeTheInputAndLimitsAfterIt)
{
    const VideoInfo info = video(1280, 720, 4'000'000, 30, true);
    const struct {
        TimeRange range;
        const char *start;
        const char *length;
    } cases[] = {
        {{0.0, 5.0}, "0.0", "5.0"},
        {{12.5, 17.5}, "12.5", "5.0"},
        {{7.25, 9.5}, "7.25", "2.25"},
        {{1.0, 3.0}, "1.0", "2.0"},
    };
    for (const auto &c : cases) {
        for (const auto &arguments : {single(info, quality(CompressionPlan::recommended), c.range),
                                      pass(info, targetSize(10), true, c.range),
                                      pass(info, targetSize(10), false, c.range)}) {
            const std::vector<std::string> expected{"-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                                    "-ss",          c.start,     "-i",    "/Videos/in put.mov",
                                                    "-t",           c.length};
            EXPECT_EQ(strings(arguments.mid(0, 11)), expected) << c.start;
        }
    }
}

TEST(FFmpegArguments, TimeText)
{
    const struct {
        double seconds;
        const char *text;
    } cases[] = {
        {0.0, "0.0"},
        {12.5, "12.5"},
        {7.25, "7.25"},
        {30, "30.0"},
        {0.1, "0.1"},
        {2.0 / 3.0, "0.6666666666666666"},
        {0.1 + 0.2, "0.30000000000000004"},
        // ffmpeg reads no exponents, so tiny and huge values stay in plain digits.
        {0.00001, "0.00001"},
        {1e20, "100000000000000000000.0"},
        {3600 * 5 + 0.04, "18000.04"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(FFmpegCompressor::timeText(c.seconds).toStdString(), c.text) << c.seconds;
    }
}

TEST(FFmpegArguments, HeightCapOnlyForTallerSources)
{
    const struct {
        CompressionSettings settings;
        std::int64_t height;
        const char *filter;
    } cases[] = {
        {quality(CompressionPlan::fastest), 720, "(absent)"},
        {quality(CompressionPlan::fastest), 1080, "scale=-2:'min(ih,720)'"},
        {quality(CompressionPlan::fastest), 721, "scale=-2:'min(ih,720)'"},
        {quality(CompressionPlan::fastest), 0, "(absent)"},
        {quality(CompressionPlan::recommended), 1080, "(absent)"},
        {quality(CompressionPlan::recommended), 2160, "scale=-2:'min(ih,1080)'"},
        {quality(CompressionPlan::recommended), 0, "(absent)"},
        {quality(CompressionPlan::highQuality), 4320, "(absent)"},
        {targetSize(25, CompressionPlan::fastest), 2160, "(absent)"},
    };
    for (const auto &c : cases) {
        const VideoInfo info = video(c.height * 16 / 9, c.height, 8'000'000, 30, true);
        EXPECT_EQ(after(single(info, c.settings), QStringLiteral("-vf")), c.filter)
            << rawValue(c.settings.plan).toStdString() << " " << c.height;
        // Same rule in the two-pass lists; a target size has no cap, so there it never applies.
        EXPECT_EQ(after(pass(info, c.settings, true), QStringLiteral("-vf")), c.filter);
        EXPECT_EQ(after(pass(info, c.settings, false), QStringLiteral("-vf")), c.filter);
    }
}

TEST(FFmpegArguments, AudioCopiedOnlyByTheFastPlansWhenCopyable)
{
    const struct {
        CompressionSettings settings;
        bool copyable;
        std::int64_t tracks;
        std::vector<std::string> audio;
    } cases[] = {
        {quality(CompressionPlan::fastest), true, 1, {"-c:a", "copy", "-movflags"}},
        {quality(CompressionPlan::recommended), true, 1, {"-c:a", "copy", "-movflags"}},
        // MP3 cannot go into MP4 unchanged.
        {quality(CompressionPlan::fastest), false, 1, {"-c:a", "aac", "-b:a", "128k", "-movflags"}},
        {quality(CompressionPlan::recommended), false, 1, {"-c:a", "aac", "-b:a", "128k", "-movflags"}},
        {quality(CompressionPlan::highQuality), true, 1, {"-c:a", "aac", "-b:a", "128k", "-movflags"}},
        {targetSize(25), true, 1, {"-c:a", "aac", "-b:a", "128k", "-movflags"}},
        // Without audio the options stay; "0:a?" maps nothing.
        {quality(CompressionPlan::fastest), false, 0, {"-c:a", "aac", "-b:a", "128k", "-movflags"}},
    };
    for (const auto &c : cases) {
        const VideoInfo info = video(1280, 720, 4'000'000, 30, c.copyable, c.tracks);
        const QStringList arguments = single(info, c.settings);
        const qsizetype at = arguments.indexOf(QStringLiteral("-c:a"));
        ASSERT_GE(at, 0);
        EXPECT_EQ(strings(arguments.mid(at, static_cast<qsizetype>(c.audio.size()))), c.audio)
            << rawValue(c.settings.plan).toStdString() << " copyable=" << c.copyable;
        EXPECT_EQ(after(arguments, QStringLiteral("-map")), "0:v:0");
        EXPECT_EQ(arguments.count(QStringLiteral("0:a?")), 1);
    }
}

TEST(FFmpegArguments, HighQualityHasNoBitRate)
{
    const QStringList arguments = single(video(1280, 720, 4'000'000, 30, true), quality(CompressionPlan::highQuality));
    for (const char *flag : {"-b:v", "-maxrate", "-bufsize", "-prio_speed", "-tag:v"}) {
        EXPECT_FALSE(arguments.contains(QString::fromLatin1(flag))) << flag;
    }
    EXPECT_EQ(after(arguments, QStringLiteral("-crf")), "23.5");
}

TEST(FFmpegArguments, TargetSizeIgnoresThePlan)
{
    const VideoInfo info = video(3840, 2160, 20'000'000, 59.94, true, 2, 42.5);
    for (const auto range : {std::optional<TimeRange>{}, std::optional<TimeRange>{TimeRange{3.0, 8.0}}}) {
        const QStringList reference = single(info, targetSize(40, CompressionPlan::highQuality), range);
        const QStringList first = pass(info, targetSize(40, CompressionPlan::highQuality), true, range);
        const QStringList second = pass(info, targetSize(40, CompressionPlan::highQuality), false, range);
        for (const auto plan : {CompressionPlan::fastest, CompressionPlan::recommended}) {
            EXPECT_EQ(single(info, targetSize(40, plan), range), reference);
            EXPECT_EQ(pass(info, targetSize(40, plan), true, range), first);
            EXPECT_EQ(pass(info, targetSize(40, plan), false, range), second);
        }
    }
}

TEST(FFmpegArguments, TwoPassListsNeverCarryHardwareOptionsOrCopyAudio)
{
    const VideoInfo info = video(1920, 1080, 8'000'000, 30, true);
    for (const bool first : {true, false}) {
        const QStringList arguments = pass(info, targetSize(25), first);
        for (const char *flag : {"-maxrate", "-bufsize", "-prio_speed", "-tag:v", "-crf"}) {
            EXPECT_FALSE(arguments.contains(QString::fromLatin1(flag))) << flag;
        }
        EXPECT_FALSE(arguments.contains(QStringLiteral("copy")));
        EXPECT_EQ(after(arguments, QStringLiteral("-pass")), first ? "1" : "2");
        EXPECT_EQ(after(arguments, QStringLiteral("-passlogfile")), "/tmp/pass/x264");
        EXPECT_EQ(arguments.count(QStringLiteral("-map")), first ? 1 : 2);
    }
}

TEST(FFmpegArguments, PathsPassUnalteredAsOneElement)
{
    const QString destination = QStringLiteral("/home/李雷/My Videos/旅行 2024 #1 %20.mp4");
    const VideoInfo info = video(1280, 720, 4'000'000, 30, true);
    const QStringList arguments =
        single(info, quality(CompressionPlan::fastest), std::nullopt, EncoderProfile::macOS(), destination);
    EXPECT_EQ(arguments.last(), destination);
    EXPECT_EQ(after(arguments, QStringLiteral("-i")), "/Videos/in put.mov");
    EXPECT_EQ(FFmpegCompressor::makeTwoPassArguments(info, targetSize(5), QUrl::fromLocalFile(destination),
                                                     std::nullopt, QUrl::fromLocalFile(QStringLiteral("/t/a b/x264")),
                                                     false)
                  .last(),
              destination);
}

TEST(FFmpegArguments, RateLimitsTruncateAndDouble)
{
    const struct {
        double sourceRate;
        CompressionPlan plan;
        const char *rate;
        const char *maxrate;
        const char *bufsize;
    } cases[] = {
        // 1,093,753.2 × 0.32 = 350,001.02 → 350001; × 1.25 = 437,501.25 → 437501.
        {1'093'753.2, CompressionPlan::fastest, "350001", "437501", "700002"},
        // Below the floor: 350,000 whatever the source.
        {800'000, CompressionPlan::fastest, "350000", "437500", "700000"},
        {6'000'000, CompressionPlan::recommended, "3120000", "3900000", "6240000"},
        {std::numeric_limits<double>::infinity(), CompressionPlan::fastest, "9223372036854775807",
         "9223372036854775807", "9223372036854775807"},
    };
    for (const auto &c : cases) {
        const QStringList arguments = single(video(1280, 720, c.sourceRate, 30, true), quality(c.plan));
        EXPECT_EQ(after(arguments, QStringLiteral("-b:v")), c.rate) << c.sourceRate;
        EXPECT_EQ(after(arguments, QStringLiteral("-maxrate")), c.maxrate) << c.sourceRate;
        EXPECT_EQ(after(arguments, QStringLiteral("-bufsize")), c.bufsize) << c.sourceRate;
    }
}

TEST(FFmpegArguments, KeyFrameIntervalFollowsTheFrameRate)
{
    const struct {
        double frameRate;
        const char *interval;
    } cases[] = {{29.97, "300"}, {23.976, "240"}, {0, "10"}, {25, "250"}, {59.94, "599"}};
    for (const auto &c : cases) {
        const VideoInfo info = video(1280, 720, 4'000'000, c.frameRate, true);
        EXPECT_EQ(after(single(info, quality(CompressionPlan::fastest)), QStringLiteral("-g")), c.interval);
        EXPECT_EQ(after(pass(info, targetSize(5), true), QStringLiteral("-g")), c.interval);
    }
}

TEST(FFmpegArguments, ProfilesDifferOnlyInEncoderNameAndSpeedOptions)
{
    // Puts placeholders where a profile's encoder name and speed options stand.
    const auto neutral = [](QStringList arguments, const VideoEncoder &encoder) {
        const qsizetype name = arguments.indexOf(encoder.name);
        if (name < 0) {
            return QStringList{QStringLiteral("encoder missing")};
        }
        arguments[name] = QStringLiteral("<encoder>");
        const qsizetype count = encoder.speedOptions.size();
        for (qsizetype at = name; at + count <= arguments.size(); ++at) {
            if (arguments.mid(at, count) == encoder.speedOptions) {
                arguments.remove(at, count);
                arguments.insert(at, QStringLiteral("<speed>"));
                return arguments;
            }
        }
        return QStringList{QStringLiteral("speed options missing")};
    };
    const VideoInfo info = video(3840, 2160, 6'000'000, 29.97, true);
    const EncoderProfile macOS = EncoderProfile::macOS();
    for (const auto plan : {CompressionPlan::fastest, CompressionPlan::recommended}) {
        const auto strategy = quality(plan).encoderStrategy();
        const QStringList reference = neutral(single(info, quality(plan), TimeRange{1.0, 6.0}), macOS.encoder(strategy));
        for (const EncoderProfile &profile : {EncoderProfile::software(), EncoderProfile::nvenc(), EncoderProfile::qsv()}) {
            const QStringList arguments = single(info, quality(plan), TimeRange{1.0, 6.0}, profile);
            EXPECT_EQ(neutral(arguments, profile.encoder(strategy)), reference)
                << profile.family.toStdString() << " " << rawValue(plan).toStdString();
        }
    }
    // The x264 paths do not depend on the profile at all.
    for (const auto &settings : {quality(CompressionPlan::highQuality), targetSize(25)}) {
        for (const EncoderProfile &profile : {EncoderProfile::software(), EncoderProfile::vaapi()}) {
            EXPECT_EQ(single(info, settings, std::nullopt, profile), single(info, settings));
        }
    }
}

TEST(FFmpegArguments, SoftwareStandInsKeepEveryOtherElement)
{
    const VideoInfo info = video(1920, 1080, 5'000'000, 30, true);
    const EncoderProfile software = EncoderProfile::software();
    const QStringList fastest = single(info, quality(CompressionPlan::fastest), std::nullopt, software);
    EXPECT_EQ(after(fastest, QStringLiteral("-c:v")), "libx264");
    const QStringList recommended = single(info, quality(CompressionPlan::recommended), std::nullopt, software);
    EXPECT_EQ(after(recommended, QStringLiteral("-c:v")), "libx265");
    EXPECT_EQ(after(recommended, QStringLiteral("-x265-params")), "log-level=error");
    EXPECT_EQ(after(recommended, QStringLiteral("-tag:v")), "hvc1");
    for (const auto &arguments : {fastest, recommended}) {
        EXPECT_NE(after(arguments, QStringLiteral("-preset")), "(absent)");
        EXPECT_EQ(after(arguments, QStringLiteral("-c:a")), "copy");
        EXPECT_NE(after(arguments, QStringLiteral("-b:v")), "(absent)");
        EXPECT_EQ(arguments.count(QStringLiteral("-preset")), 1);
    }
}

TEST(FFmpegArguments, VaapiOpensItsDeviceAndUploadsAfterScaling)
{
    const EncoderProfile vaapi = EncoderProfile::vaapi();
    const struct {
        CompressionSettings settings;
        std::int64_t height;
        const char *filter;
        bool device;
    } cases[] = {
        {quality(CompressionPlan::fastest), 1080, "scale=-2:'min(ih,720)',format=nv12,hwupload", true},
        {quality(CompressionPlan::fastest), 720, "format=nv12,hwupload", true},
        {quality(CompressionPlan::recommended), 720, "format=nv12,hwupload", true},
        // The x264 paths never touch the device.
        {quality(CompressionPlan::highQuality), 1080, "(absent)", false},
        {targetSize(25), 1080, "(absent)", false},
    };
    for (const auto &c : cases) {
        const QStringList arguments = single(video(c.height * 16 / 9, c.height, 5'000'000, 30, true), c.settings,
                                             TimeRange{2.0, 7.0}, vaapi);
        EXPECT_EQ(after(arguments, QStringLiteral("-vf")), c.filter) << c.height;
        if (c.device) {
            // A global option: after the head's fixed flags, before the seek and the input.
            EXPECT_EQ(strings(arguments.mid(5, 3)),
                      (std::vector<std::string>{"-vaapi_device", "/dev/dri/renderD128", "-ss"}));
        } else {
            EXPECT_FALSE(arguments.contains(QStringLiteral("-vaapi_device")));
        }
    }
}

TEST(FFmpegArguments, OddSidesAreEvenedOnlyWhereNoHeightCapApplies)
{
    const QString even = QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2");
    const struct {
        std::int64_t width;
        std::int64_t height;
        CompressionSettings settings;
        const char *filter; // "" when no -vf is expected
    } cases[] = {
        {321, 241, quality(CompressionPlan::highQuality), "scale=trunc(iw/2)*2:trunc(ih/2)*2"},
        {320, 241, targetSize(10), "scale=trunc(iw/2)*2:trunc(ih/2)*2"},
        {321, 240, quality(CompressionPlan::fastest), "scale=trunc(iw/2)*2:trunc(ih/2)*2"},
        {1281, 1081, quality(CompressionPlan::fastest), "scale=-2:'min(ih,720)'"},
        {320, 240, quality(CompressionPlan::highQuality), ""},
    };
    for (const auto &c : cases) {
        const VideoInfo info = video(c.width, c.height, 4'000'000, 30, true);
        const QStringList arguments = single(info, c.settings);
        const qsizetype vf = arguments.indexOf(QStringLiteral("-vf"));
        if (QString::fromUtf8(c.filter).isEmpty()) {
            EXPECT_EQ(vf, -1) << c.width << "x" << c.height;
        } else {
            ASSERT_GE(vf, 0) << c.width << "x" << c.height;
            EXPECT_EQ(arguments.at(vf + 1).toStdString(), c.filter);
        }
        if (c.settings.mode == CompressionMode::targetSize) {
            EXPECT_TRUE(pass(info, c.settings, true).contains(even));
            EXPECT_TRUE(pass(info, c.settings, false).contains(even));
        }
    }
}
