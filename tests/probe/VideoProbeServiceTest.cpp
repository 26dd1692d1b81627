#include "probe/TextNumbers.h"
#include "probe/VideoProbeError.h"
#include "probe/VideoProbeService.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

using namespace slimreel;
using Order = VideoProbeService::Order;

namespace {

// A stand-in ffprobe: prints a prepared output, exits with a chosen status and leaves a mark that it ran.
class FakeFFprobe {
public:
    explicit FakeFFprobe(const QByteArray &output, int exitStatus = 0)
        : m_script(test::writeScript(m_dir, QStringLiteral("ffprobe"),
                                     QStringLiteral(": > \"$0.ran\"\ncat <<'END'\n%1\nEND\nexit %2\n").arg(QString::fromUtf8(output)).arg(exitStatus)))
    {
    }
    ToolLocator locator() const { return ToolLocator({m_script}); }
    VideoProbeService service() const { return VideoProbeService(locator(), Order::ffprobeOnly); }
    bool ran() const { return QFile::exists(m_script + QStringLiteral(".ran")); }
    QUrl missingFile() const { return QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("missing.mp4"))); }

    QTemporaryDir m_dir;
    QString m_script;
};

#define H264 R"({"codec_type":"video","codec_name":"h264","width":1920,"height":1080,"avg_frame_rate":"30000/1001")"
constexpr double ntsc = 30000.0 / 1001.0;
const QString h264 = QStringLiteral("H.264");
const Result<VideoInfo> unreadable = std::unexpected(makeError(VideoProbeError::unreadable));
const Result<VideoInfo> decodingError = std::unexpected(Error::platform({})); // in the decoder's own words

const struct {
    const char *name;
    const char *json;
    Result<VideoInfo> expected; // of a file that is not there: its size is ffprobe's
} mappingCases[] = {
    {"complete file", R"({"streams":[)" H264 R"(,"bit_rate":"3800000","duration":"9.9"},
        {"codec_type":"audio","codec_name":"aac","bit_rate":"128000"}],
        "format":{"duration":"10.0","size":"5000000","bit_rate":"4000000"}})",
     VideoInfo{{}, 10, 1920, 1080, 5000000, 3800000, ntsc, h264, 1, 128000, true}},
    {"no format: the stream's duration, audio at the assumed rate",
     R"({"streams":[)" H264 R"(,"duration":"12.5"},{"codec_type":"audio","codec_name":"AAC"}]})",
     VideoInfo{{}, 12.5, 1920, 1080, 0, 0, ntsc, h264, 1, 128000, true}},
    {"format duration and size N/A", R"({"streams":[)" H264 R"(,"duration":"12.5"}],"format":{"duration":"N/A","size":"N/A"}})",
     VideoInfo{{}, 12.5, 1920, 1080, 0, 0, ntsc, h264, 0, 0, false}},
    {"video rate: the total less an assumed audio rate", R"({"streams":[)" H264 R"(},
        {"codec_type":"audio","codec_name":"aac","bit_rate":"96000"}],"format":{"duration":"5","bit_rate":"1000000"}})",
     VideoInfo{{}, 5, 1920, 1080, 0, 872000, ntsc, h264, 1, 96000, true}},
    {"video rate from a small total is not negative", R"({"streams":[)" H264 R"(},{"codec_type":"audio","codec_name":"aac"}],
        "format":{"duration":"5","bit_rate":"100000"}})",
     VideoInfo{{}, 5, 1920, 1080, 0, 0, ntsc, h264, 1, 128000, true}},
    {"video rate N/A without audio: the whole total",
     R"({"streams":[)" H264 R"(,"bit_rate":"N/A"}],"format":{"duration":"5","bit_rate":"1000000"}})",
     VideoInfo{{}, 5, 1920, 1080, 0, 1000000, ntsc, h264, 0, 0, false}},
    {"aac beside mp3 cannot be copied; subtitles are no audio", R"({"streams":[)" H264 R"(,"bit_rate":"1"},
        {"codec_type":"audio","codec_name":"aac","bit_rate":"1"},{"codec_type":"audio","codec_name":"mp3"},
        {"codec_type":"subtitle","codec_name":"mov_text"}],"format":{"duration":"5"}})",
     VideoInfo{{}, 5, 1920, 1080, 0, 1, ntsc, h264, 2, 128001, false}},
    {"audio without a codec name cannot be copied; 0/0 rate, no size, no codec",
     R"({"streams":[{"codec_type":"video","avg_frame_rate":"0/0","bit_rate":"1"},{"codec_type":"audio"}],
        "format":{"duration":"5"}})",
     VideoInfo{{}, 5, 0, 0, 0, 1, 0, QStringLiteral("未知"), 1, 128000, false}},
    {"zero format duration wins", R"({"streams":[)" H264 R"(,"duration":"12.5"}],"format":{"duration":"0.000000"}})",
     unreadable},
    {"NaN duration", R"({"streams":[)" H264 R"(}],"format":{"duration":"nan"}})", unreadable},
    {"infinite duration", R"({"streams":[)" H264 R"(}],"format":{"duration":"inf"}})", unreadable},
    {"only audio", R"({"streams":[{"codec_type":"audio","codec_name":"aac"}],"format":{"duration":"5"}})",
     std::unexpected(makeError(VideoProbeError::missingVideoTrack))},
    {"a number of the wrong type", R"({"streams":[{"codec_type":"video","width":"wide"}]})", decodingError},
    {"not JSON", "garbage", decodingError},
};

#undef H264

} // namespace

TEST(FFprobe, MapsTheOutputWithItsFallbacksAndReadsNumbersInEveryLocale)
{
    for (const auto &c : mappingCases) {
        const FakeFFprobe fake(c.json);
        auto info = test::wait(fake.service().inspectWithFFprobe(fake.missingFile()));
        if (c.expected == decodingError) {
            EXPECT_TRUE(!info && info.error().domain == Error::Domain::platform) << c.name;
            continue;
        }
        if (info && info->url == fake.missingFile()) {
            info->url = QUrl(); // any other URL fails the comparison
        }
        EXPECT_EQ(info, c.expected) << c.name;
    }

    // The file system knows an existing file's size better than ffprobe.
    const FakeFFprobe fake(R"({"streams":[{"codec_type":"video"}],"format":{"duration":"1","size":"999"}})");
    const QString real = test::media(QStringLiteral("h264_aac.mp4"));
    EXPECT_EQ(test::wait(fake.service().inspectWithFFprobe(QUrl::fromLocalFile(real))).value_or(VideoInfo{}).fileSize,
              QFileInfo(real).size());
    // Whatever it printed, a failed run is unreadable.
    const FakeFFprobe failing(R"({"streams":[{"codec_type":"video"}],"format":{"duration":"1"}})", 1);
    EXPECT_EQ(test::wait(failing.service().inspectWithFFprobe(failing.missingFile())), unreadable);
    EXPECT_EQ(test::wait(failing.service().packetStats(failing.missingFile())).error(), unreadable.error());

    // Packet statistics: the bytes of stream 0, by its key-frame flag.
    const FakeFFprobe packets(R"({"packets":[{"stream_index":1,"size":"5000","flags":"K_"},
        {"stream_index":0,"size":"1000","flags":"K__"},{"stream_index":0,"size":"200","flags":"_KD"},
        {"stream_index":0,"size":"30","flags":"k__"},{"stream_index":0,"size":"4"},
        {"stream_index":0,"size":"N/A","flags":"K"}]})");
    EXPECT_EQ(test::wait(packets.service().packetStats(packets.missingFile())), (PreviewPacketStats{1200, 3, 34}));

    // Numbers are read strictly, and in every locale alike.
    const std::pair<const char *, std::optional<double>> decimals[] = {
        {"12.5", 12.5}, {"1e3", 1000}, {"-3", -3}, {"N/A", {}}, {"", {}}, {" 1", {}}, {"1,5", {}}, {"12abc", {}}, {"30000/1001", {}}};
    const auto checkDecimals = [&] {
        for (const auto &[text, value] : decimals) {
            EXPECT_EQ(TextNumbers::decimal(QString::fromLatin1(text)), value) << text;
        }
    };
    checkDecimals();
    EXPECT_EQ(TextNumbers::integer(QStringLiteral("9223372036854775807")), INT64_MAX);
    EXPECT_EQ(TextNumbers::integer(QStringLiteral("9223372036854775808")), std::nullopt);
    EXPECT_EQ(TextNumbers::integer(QStringLiteral("1.0")), std::nullopt);

    // Qt programs take the user's locale: a plain strtod would read "12.5" as 12 in a German one.
    QTemporaryDir locales;
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")
        && QProcess::execute(QStringLiteral("localedef"), {"-i", "de_DE", "-f", "ISO-8859-1", locales.filePath("de_DE")}) == 0) {
        qputenv("LOCPATH", QFile::encodeName(locales.path())); // made with a small character map: it builds in a second
        std::setlocale(LC_NUMERIC, "de_DE");
    }
    if (std::strtod("1,5", nullptr) != 1.5) {
        GTEST_SKIP() << "no German locale available";
    }
    checkDecimals();
    std::setlocale(LC_NUMERIC, "C");
}

TEST(ProbeService, NativeFirstThenFFprobeAndTheNativeErrorWhenBothFail)
{
    // The fake ffprobe calls everything VP9: that tells its answers from the framework's.
    const QByteArray vp9 = R"({"streams":[{"codec_type":"video","codec_name":"vp9"}],"format":{"duration":"7"}})";
    const Result<QString> noVideo = std::unexpected(makeError(VideoProbeError::missingVideoTrack));
    // A file, the order, the fake's exit status, the codec read or the error, and whether the fake ran.
    const std::tuple<const char *, Order, int, Result<QString>, bool> cases[] = {
        {"h264_aac.mp4", Order::nativeThenFFprobe, 0, QStringLiteral("H.264"), false},
        {"not_video.mp4", Order::nativeThenFFprobe, 0, QStringLiteral("VP9"), true},
        {"audio_only.m4a", Order::nativeThenFFprobe, 1, noVideo, true},
        {"h264_aac.mp4", Order::ffprobeOnly, 0, QStringLiteral("VP9"), true},
        {"not_video.mp4", Order::nativeOnly, 0, std::unexpected(unreadable.error()), false},
        // The media folder itself: only a regular file is handed to either, as a named pipe would hold them in open().
        {".", Order::ffprobeOnly, 0, std::unexpected(unreadable.error()), false},
    };
    for (const auto &[file, order, ffprobeExit, codec, ffprobeRuns] : cases) {
        const FakeFFprobe fake(vp9, ffprobeExit);
        const auto info = test::wait(VideoProbeService(fake.locator(), order).inspect(QUrl::fromLocalFile(test::media(file))));
        EXPECT_EQ(info ? Result<QString>(info->codec) : std::unexpected(info.error()), codec) << file << int(order);
        EXPECT_EQ(fake.ran(), ffprobeRuns) << file << int(order);
    }
}

TEST(ProbeService, GeneratedVideosThroughBothBackEnds)
{
    const struct {
        const char *name;
        double duration;
        const char *nativeCodec, *ffprobeCodec;
        std::int64_t width, height; // as stored
        bool quarterTurn;           // shown turned: only the native side applies it
        std::int64_t audioTracks;
        bool copyable;
        int audioKbps; // -1: not stated by the container
    } cases[] = {
        {"h264_aac.mp4", 4, "H.264", "H.264", 640, 360, false, 1, true, 128},
        {"h264_mp3.mp4", 3, "H.264", "H.264", 640, 360, false, 1, false, 128},
        // The container names no AC-3 rate; the decoder does, so that track must still decode.
        {"hevc_ac3.mp4", 3, "HEVC", "HEVC", 640, 360, false, 1, false, 192},
        {"two_audio.mp4", 3, "H.264", "H.264", 640, 360, false, 2, true, 224},
        {"no_audio.mp4", 3, "H.264", "H.264", 640, 360, false, 0, false, 0},
        {"portrait_rotated.mp4", 2, "H.264", "H.264", 640, 360, true, 1, true, -1},
        {"clip.mkv", 3, "H.264", "H.264", 480, 270, false, 1, true, -1},
        {"clip.webm", 2, "VP9", "VP9", 480, 270, false, 1, false, -1},
        {"clip.avi", 2, "MP4V", "MPEG4", 480, 270, false, 1, false, -1},
        {"odd_size.mp4", 2, "H.264", "H.264", 321, 241, false, 0, false, 0},
    };
    const ToolLocator ffprobe = ToolLocator::forTool(QStringLiteral("ffprobe"));
    for (const auto &c : cases) {
        const QString path = test::media(QString::fromLatin1(c.name));
        const double overallRate = QFileInfo(path).size() * 8 / c.duration;
        for (const Order order : {Order::nativeOnly, Order::ffprobeOnly}) {
            const bool native = order == Order::nativeOnly;
            SCOPED_TRACE(std::string(c.name) + (native ? " native" : " ffprobe"));
            const auto info = test::wait(VideoProbeService(ffprobe, order).inspect(QUrl::fromLocalFile(path)));
            ASSERT_TRUE(info) << info.error().description().toStdString();
            const bool turned = native && c.quarterTurn;
            EXPECT_EQ(info->url, QUrl::fromLocalFile(path));
            EXPECT_EQ(std::pair(info->width, info->height), turned ? std::pair(c.height, c.width) : std::pair(c.width, c.height));
            EXPECT_EQ(info->codec.toStdString(), native ? c.nativeCodec : c.ffprobeCodec);
            EXPECT_EQ(std::pair(info->audioTrackCount, info->canCopyAudioToMP4), std::pair(c.audioTracks, c.copyable));
            EXPECT_DOUBLE_EQ(info->frameRate, 25);
            EXPECT_EQ(info->fileSize, QFileInfo(path).size());
            EXPECT_NEAR(info->duration, c.duration, 0.1);
            // Matroska and WebM state no stream rates: an estimate from the file stands in.
            EXPECT_TRUE(info->videoBitrate > 0.5 * overallRate && info->videoBitrate < 1.1 * overallRate) << info->videoBitrate;
            EXPECT_TRUE(c.audioKbps < 0 || std::abs(info->audioBitrate - c.audioKbps * 1000.0) <= c.audioKbps * 100.0)
                << info->audioBitrate;
        }
    }
    // Packet statistics of a real file: two key frames in 20 s, and far more bytes between them.
    const auto stats = test::wait(VideoProbeService().packetStats(QUrl::fromLocalFile(test::media(QStringLiteral("long.mp4")))));
    ASSERT_TRUE(stats) << stats.error().description().toStdString();
    EXPECT_TRUE(stats->keyFrameCount == 2 && stats->keyFrameBytes > 0 && stats->interFrameBytes > 4 * stats->keyFrameBytes);
    // Only the frames shown in its first 5 s: one key frame, and about a quarter of the rest.
    const auto first = test::wait(
        VideoProbeService().packetStats(QUrl::fromLocalFile(test::media(QStringLiteral("long.mp4"))), {}, 5.0));
    ASSERT_TRUE(first) << first.error().description().toStdString();
    EXPECT_EQ(first->keyFrameCount, 1);
    EXPECT_NEAR(static_cast<double>(first->interFrameBytes) / static_cast<double>(stats->interFrameBytes), 0.25, 0.08);

    // By default the framework reads the file first: only it turns the picture.
    const QUrl portrait = QUrl::fromLocalFile(test::media(QStringLiteral("portrait_rotated.mp4")));
    EXPECT_EQ(test::wait(VideoProbeService().inspect(portrait)).value_or(VideoInfo{}).width, 360);
}
