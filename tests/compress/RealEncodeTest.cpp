#include "compress/FFmpegCompressor.h"
#include "compress/NativeCompressor.h"
#include "probe/VideoProbeService.h"
#include "support/Fakes.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>

using namespace slimreel;
using namespace slimreel::test;
using Plan = CompressionPlan;

namespace {

// What ffprobe reads of a file, in one run: its format, streams and chapters.
QJsonObject probed(const QString &path)
{
    const QStringList arguments{"-v", "error", "-show_format", "-show_streams", "-show_chapters", "-of", "json", path};
    return QJsonDocument::fromJson(runTool("ffprobe", arguments).out.toUtf8()).object();
}

QList<QJsonObject> streams(const QJsonObject &file, QStringView type)
{
    QList<QJsonObject> found;
    for (const QJsonValue &stream : file[u"streams"].toArray()) {
        if (stream[u"codec_type"].toString() == type) {
            found << stream.toObject();
        }
    }
    return found;
}

// What a library or player reads beyond the picture: date | title | location | audio languages | subtitles
// (codec:language) | chapters | transfer.
QString carried(const QJsonObject &file)
{
    const QJsonObject tags = file[u"format"][u"tags"].toObject();
    QStringList languages, subtitles;
    for (const QJsonObject &stream : streams(file, u"audio")) {
        languages << stream[u"tags"][u"language"].toString();
    }
    for (const QJsonObject &stream : streams(file, u"subtitle")) {
        subtitles << stream[u"codec_name"].toString() + u':' + stream[u"tags"][u"language"].toString();
    }
    return QStringList{tags[u"creation_time"].toString().left(19), tags[u"title"].toString(), tags[u"location"].toString(),
                       languages.join(u','), subtitles.join(u','), QString::number(file[u"chapters"].toArray().size()),
                       streams(file, u"video").value(0)[u"color_transfer"].toString()}
        .join(QStringLiteral(" | "));
}

// A source of 2 s made by ffmpeg from a test picture and `arguments`.
QString makeSource(const QTemporaryDir &dir, const QString &name, const QStringList &arguments)
{
    const QString path = dir.filePath(name);
    const QStringList picture{"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25"};
    const ToolRun run = runTool("ffmpeg", picture + arguments + QStringList{"-t", "2", path});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    return path;
}

} // namespace

// Every kind of source, every plan of both back ends: a playable MP4 of the expected codec, size and audio, as long as
// the video or its part, smaller than the source, progress up to its end, nothing left in the scratch folder; and what
// else a library or player reads of a video survives.
TEST(RealEncodes, EveryKindOfSourceThroughBothBackEnds)
{
    const PrivateTempFolder privateTmp;
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("chapters.txt"), ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
                                                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n"));
    ASSERT_TRUE(writeFile(dir.filePath("s.srt"), "1\n00:00:00,200 --> 00:00:01,500\nHallo\n"));
    // A film with what a library or player may read beyond the picture, in HDR of 10 bits; a phone's clip with its date.
    const QString film = makeSource(
        dir, "film.mkv",
        {"-f", "lavfi", "-i", "sine", "-i", dir.filePath("chapters.txt"), "-i", dir.filePath("s.srt"), "-map", "0", "-map", "1",
         "-map", "3", "-map_chapters", "2", "-c:v", "libx265", "-x265-params", "log-level=error", "-crf", "5", "-pix_fmt",
         "yuv420p10le", "-color_primaries", "bt2020", "-color_trc", "arib-std-b67", "-colorspace", "bt2020nc", "-c:a", "aac",
         "-c:s", "srt", "-metadata", "creation_time=2021-05-04T10:20:30Z", "-metadata", "title=Holiday", "-metadata",
         "location=+48.8584+002.2945/", "-metadata:s:a:0", "language=eng", "-metadata:s:s:0", "language=fra"});
    const QString phone = makeSource(dir, "phone.mov", {"-qp", "5", "-metadata", "creation_time=2022-07-08T09:10:11Z"});
    enum class Audio { copied, encoded, none };
    const struct {
        bool native;
        QString source;
        CompressionSettings settings;
        std::optional<TimeRange> range;
        const char *codec;
        int width, height; // within a pixel on the framework, whose sides come out even
        Audio audio;
        int audioStreams = 1;
        const char *pixels = "yuv420p";
        QString carried = {}; // when given
    } cases[] = {
        {false, media("tall.mp4"), fastest, {}, "h264", 216, 720, Audio::copied},
        {false, media("h264_mp3.mp4"), fastest, {}, "h264", 640, 360, Audio::encoded},
        {false, media("odd_size.mp4"), highQuality, {}, "h264", 320, 240, Audio::none, 0},
        {false, media("h264_aac.mp4"), smallest, {}, "av1", 640, 360, Audio::copied},
        {false, media("no_audio.mp4"), targetSize(0.4), TimeRange{0.5, 2.5}, "h264", 640, 360, Audio::none, 0},
        {false, film, recommended, {}, "hevc", 320, 240, Audio::copied, 1, "yuv420p10le",
         "2021-05-04T10:20:30 | Holiday | +48.8584+002.2945/ | eng | mov_text:fra | 2 | arib-std-b67"},
        {true, media("hevc_ac3.mp4"), fastest, {}, "h264", 640, 360, Audio::encoded},
        {true, media("tall.mp4"), fastest, {}, "h264", 216, 720, Audio::encoded},
        {true, media("tall.mp4"), recommended, {}, "h264", 324, 1080, Audio::encoded},
        // Turned once in the pixels, so no player may turn it again.
        {true, media("portrait_rotated.mp4"), highQuality, {}, "h264", 360, 640, Audio::encoded},
        {true, media("odd_size.mp4"), smallest, {}, "av1", 321, 241, Audio::none, 0},
        {true, media("two_audio.mp4"), targetSize(1, Plan::fastest), TimeRange{0.5, 2.5}, "hevc", 640, 360, Audio::encoded, 2},
        {true, media("clip.webm"), fastest, {}, "h264", 480, 270, Audio::encoded},
        // GStreamer's muxer writes no place, and a colour description of its own.
        {true, phone, recommended, {}, "h264", 320, 240, Audio::none, 0, "yuv420p",
         "2022-07-08T09:10:11 |  |  |  |  | 0 | smpte170m"},
    };
    const QString out = dir.filePath(QStringLiteral("out.mp4"));
    EncoderCatalog software(EncoderProfile::software());
    FFmpegCompressor ffmpeg(ToolLocator::forTool(QStringLiteral("ffmpeg")), software);
    NativeCompressor native;
    wait(native.cancel()); // while idle: nothing is left pending for the next export
    for (const auto &c : cases) {
        SCOPED_TRACE((c.native ? "native " : "ffmpeg ") + c.source.toStdString() + " " + rawValue(c.settings.plan).toStdString());
        const auto info = wait(VideoProbeService().inspect(QUrl::fromLocalFile(c.source)));
        ASSERT_TRUE(info);
        std::vector<double> progress;
        VideoCompressing &compressor = c.native ? static_cast<VideoCompressing &>(native) : ffmpeg;
        const auto result = wait(compressor.compress(*info, c.settings, QUrl::fromLocalFile(out), c.range,
                                                     [&](double p) { progress.push_back(p); }, {}));
        ASSERT_TRUE(result.has_value()) << result.error().description().toStdString();
        const QJsonObject file = probed(out);
        const QJsonObject video = streams(file, u"video").value(0);
        const std::string codec = c.codec;
        EXPECT_EQ(video[u"codec_name"].toString().toStdString(), codec);
        EXPECT_EQ(video[u"codec_tag_string"].toString(), codec == "hevc" ? "hvc1" : codec == "av1" ? "av01" : "avc1");
        const int width = video[u"width"].toInt(), height = video[u"height"].toInt();
        const int slack = c.native ? 1 : 0;
        EXPECT_TRUE(std::abs(width - c.width) <= slack && std::abs(height - c.height) <= slack && (width | height) % 2 == 0)
            << width << "x" << height << " from a source read as " << info->width << "x" << info->height;
        // What every player can show, upright as it is stored.
        EXPECT_EQ(video[u"pix_fmt"].toString(), c.pixels);
        EXPECT_EQ(video[u"side_data_list"][0][u"rotation"].toInt(), 0);
        QStringList audio;
        for (const QJsonObject &stream : streams(file, u"audio")) {
            audio << stream[u"codec_name"].toString();
        }
        EXPECT_EQ(audio, QStringList(c.audioStreams, QStringLiteral("aac")));
        const auto digest = [](const QString &path) {
            return runTool("ffmpeg", {"-v", "error", "-i", path, "-map", "0:a:0", "-c", "copy", "-f", "md5", "-"}).out;
        };
        // The same packets: copied.
        EXPECT_TRUE(c.audio == Audio::none || (digest(out) == digest(c.source)) == (c.audio == Audio::copied));
        const double length = c.range ? c.range->length() : info->duration;
        EXPECT_NEAR(file[u"format"][u"duration"].toString().toDouble(), length, 0.2);
        // A part starts at 0, as a file of its own; a whole file comes out smaller, two passes near their target.
        EXPECT_LT(std::abs(video[u"start_time"].toString().toDouble()), 0.1);
        const bool twoPass = c.settings.mode == CompressionMode::targetSize && !c.native;
        const double most = twoPass ? c.settings.targetSizeMB * 1e6 * length / info->duration * 1.3 : info->fileSize;
        EXPECT_LT(QFileInfo(out).size(), most);
        // The index before the media data, so that players can start at once.
        const QByteArray bytes = readFile(out);
        EXPECT_TRUE(bytes.indexOf("moov") >= 0 && bytes.indexOf("moov") < bytes.indexOf("mdat"));
        EXPECT_TRUE(!progress.empty() && std::ranges::is_sorted(progress) && progress.front() >= 0 && progress.back() == 1.0);
        EXPECT_EQ(tempEntries(QStringLiteral("Slimreel-")), QStringList());
        EXPECT_TRUE(c.carried.isEmpty() || carried(file) == c.carried) << carried(file).toStdString();
    }
}
