#include "probe/FakeFFprobe.h"
#include "probe/VideoProbeError.h"
#include "probe/VideoProbeService.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <variant>

using namespace slimreel;

namespace {

// The facts of VideoInfo that the JSON decides; url and file size are checked apart.
struct Facts {
    double duration = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    double videoBitrate = 0;
    double frameRate = 0;
    const char *codec = "";
    std::int64_t audioTrackCount = 0;
    double audioBitrate = 0;
    bool canCopyAudioToMP4 = false;
};

struct MappingCase {
    const char *name;
    const char *json;
    std::variant<Facts, VideoProbeError> expected;
};

// Short names for the streams the cases are made of.
#define H264 R"({"codec_type":"video","codec_name":"h264","width":1920,"height":1080,"avg_frame_rate":"30000/1001")"

const MappingCase mappingCases[] = {
    {"complete file",
     R"({"streams":[)" H264 R"(,"bit_rate":"3800000","duration":"9.9"},
        {"codec_type":"audio","codec_name":"aac","bit_rate":"128000"}],
        "format":{"duration":"10.0","size":"5000000","bit_rate":"4000000"}})",
     Facts{10.0, 1920, 1080, 3800000, 30000.0 / 1001.0, "H.264", 1, 128000, true}},
    {"no format: stream duration, no total rate",
     R"({"streams":[)" H264 R"(,"duration":"12.5"},{"codec_type":"audio","codec_name":"aac"}]})",
     Facts{12.5, 1920, 1080, 0, 30000.0 / 1001.0, "H.264", 1, 128000, true}},
    {"no format: the stream's own video rate",
     R"({"streams":[)" H264 R"(,"duration":"12.5","bit_rate":"2000000"}]})",
     Facts{12.5, 1920, 1080, 2000000, 30000.0 / 1001.0, "H.264", 0, 0, false}},
    {"video stream after an audio stream; capital Video is not video",
     R"({"streams":[{"codec_type":"audio","codec_name":"aac","bit_rate":"64000"},
        {"codec_type":"Video","codec_name":"png","width":10,"height":10},
        {"codec_type":"video","codec_name":"hevc","width":1280,"height":720,"avg_frame_rate":"25/1"}],
        "format":{"duration":"3"}})",
     Facts{3, 1280, 720, 0, 25, "HEVC", 1, 64000, true}},
    {"format duration N/A falls back to the stream's",
     R"({"streams":[)" H264 R"(,"duration":"12.5"}],"format":{"duration":"N/A"}})",
     Facts{12.5, 1920, 1080, 0, 30000.0 / 1001.0, "H.264", 0, 0, false}},
    {"format duration of zero wins over the stream's",
     R"({"streams":[)" H264 R"(,"duration":"12.5"}],"format":{"duration":"0.000000"}})",
     VideoProbeError::unreadable},
    {"no duration anywhere", R"({"streams":[)" H264 R"(}],"format":{}})", VideoProbeError::unreadable},
    {"negative duration", R"({"streams":[)" H264 R"(}],"format":{"duration":"-4"}})", VideoProbeError::unreadable},
    {"NaN duration", R"({"streams":[)" H264 R"(}],"format":{"duration":"nan"}})", VideoProbeError::unreadable},
    {"infinite duration", R"({"streams":[)" H264 R"(}],"format":{"duration":"inf"}})", VideoProbeError::unreadable},
    {"unparsable stream duration", R"({"streams":[)" H264 R"(,"duration":"N/A"}]})", VideoProbeError::unreadable},
    {"video rate from the total less one audio stream",
     R"({"streams":[)" H264 R"(},{"codec_type":"audio","codec_name":"aac","bit_rate":"96000"}],
        "format":{"duration":"5","bit_rate":"1000000"}})",
     Facts{5, 1920, 1080, 872000, 30000.0 / 1001.0, "H.264", 1, 96000, true}},
    {"video rate from a small total is not negative",
     R"({"streams":[)" H264 R"(},{"codec_type":"audio","codec_name":"aac"}],
        "format":{"duration":"5","bit_rate":"100000"}})",
     Facts{5, 1920, 1080, 0, 30000.0 / 1001.0, "H.264", 1, 128000, true}},
    {"video rate is the whole total without audio",
     R"({"streams":[)" H264 R"(,"bit_rate":"N/A"}],"format":{"duration":"5","bit_rate":"1000000"}})",
     Facts{5, 1920, 1080, 1000000, 30000.0 / 1001.0, "H.264", 0, 0, false}},
    {"unreadable total rate counts as 0",
     R"({"streams":[)" H264 R"(}],"format":{"duration":"5","bit_rate":"N/A"}})",
     Facts{5, 1920, 1080, 0, 30000.0 / 1001.0, "H.264", 0, 0, false}},
    {"two audio streams, one without a rate",
     R"({"streams":[)" H264 R"(,"bit_rate":"1"},{"codec_type":"audio","codec_name":"aac","bit_rate":"96000"},
        {"codec_type":"audio","codec_name":"aac"}],"format":{"duration":"5"}})",
     Facts{5, 1920, 1080, 1, 30000.0 / 1001.0, "H.264", 2, 224000, true}},
    {"AAC in capitals is aac",
     R"({"streams":[)" H264 R"(,"bit_rate":"1"},{"codec_type":"audio","codec_name":"AAC","bit_rate":"1"}],
        "format":{"duration":"5"}})",
     Facts{5, 1920, 1080, 1, 30000.0 / 1001.0, "H.264", 1, 1, true}},
    {"aac plus mp3 cannot be copied",
     R"({"streams":[)" H264 R"(,"bit_rate":"1"},{"codec_type":"audio","codec_name":"aac","bit_rate":"1"},
        {"codec_type":"audio","codec_name":"mp3","bit_rate":"1"}],"format":{"duration":"5"}})",
     Facts{5, 1920, 1080, 1, 30000.0 / 1001.0, "H.264", 2, 2, false}},
    {"audio without a codec name cannot be copied",
     R"({"streams":[)" H264 R"(,"bit_rate":"1"},{"codec_type":"audio","bit_rate":"1"}],"format":{"duration":"5"}})",
     Facts{5, 1920, 1080, 1, 30000.0 / 1001.0, "H.264", 1, 1, false}},
    {"frame rate 0/0, no size, no codec name",
     R"({"streams":[{"codec_type":"video","avg_frame_rate":"0/0","bit_rate":"1"}],"format":{"duration":"5"}})",
     Facts{5, 0, 0, 1, 0, "未知", 0, 0, false}},
    {"other codecs are shown uppercased",
     R"({"streams":[{"codec_type":"video","codec_name":"mpeg4","width":480,"avg_frame_rate":"29.97"}],
        "format":{"duration":"2"}})",
     Facts{2, 480, 0, 0, 29.97, "MPEG4", 0, 0, false}},
    {"subtitle and data streams are neither video nor audio",
     R"({"streams":[)" H264 R"(,"bit_rate":"1"},{"codec_type":"subtitle","codec_name":"mov_text"},
        {"codec_type":"data"}],"format":{"duration":"5","bit_rate":"1000000"}})",
     Facts{5, 1920, 1080, 1, 30000.0 / 1001.0, "H.264", 0, 0, false}},
    {"no streams", R"({"streams":[],"format":{"duration":"5"}})", VideoProbeError::missingVideoTrack},
    {"only audio", R"({"streams":[{"codec_type":"audio","codec_name":"aac"}],"format":{"duration":"5"}})",
     VideoProbeError::missingVideoTrack},
    {"streams without a type", R"({"streams":[{"codec_name":"h264"}],"format":{"duration":"5"}})",
     VideoProbeError::missingVideoTrack},
};

#undef H264

Result<VideoInfo> inspect(const test::FakeFFprobe &fake, QUrl url)
{
    const VideoProbeService service = fake.service();
    return test::wait(service.inspectWithFFprobe(std::move(url)));
}

} // namespace

TEST(FFprobeInspection, MapsEveryMemberWithItsFallbacks)
{
    for (const MappingCase &c : mappingCases) {
        SCOPED_TRACE(c.name);
        const test::FakeFFprobe fake(c.json);
        const QUrl url = fake.missingFile();
        const auto info = inspect(fake, url);
        if (const auto *error = std::get_if<VideoProbeError>(&c.expected)) {
            ASSERT_FALSE(info.has_value());
            EXPECT_TRUE(isError(info.error(), *error)) << info.error().description().toStdString();
            continue;
        }
        ASSERT_TRUE(info.has_value()) << info.error().description().toStdString();
        const Facts &facts = std::get<Facts>(c.expected);
        const VideoInfo expected{url,
                                 facts.duration,
                                 facts.width,
                                 facts.height,
                                 info->fileSize,
                                 facts.videoBitrate,
                                 facts.frameRate,
                                 QString::fromUtf8(facts.codec),
                                 facts.audioTrackCount,
                                 facts.audioBitrate,
                                 facts.canCopyAudioToMP4};
        EXPECT_EQ(*info, expected);
    }
}

TEST(FFprobeInspection, FileSizeComesFromTheFileSystemFirst)
{
    const test::FakeFFprobe fake(R"({"streams":[{"codec_type":"video"}],"format":{"duration":"1","size":"999"}})");
    const auto present = inspect(fake, fake.fileOfSize(QStringLiteral("clip.mp4"), 4321));
    ASSERT_TRUE(present);
    EXPECT_EQ(present->fileSize, 4321);

    const auto missing = inspect(fake, fake.missingFile());
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->fileSize, 999);
}

TEST(FFprobeInspection, UnreadableFormatSizeOfAMissingFileIsZero)
{
    for (const char *json : {R"({"streams":[{"codec_type":"video","duration":"1"}]})",
                             R"({"streams":[{"codec_type":"video"}],"format":{"duration":"1","size":"N/A"}})",
                             R"({"streams":[{"codec_type":"video"}],"format":{"duration":"1","size":"12.5"}})"}) {
        const test::FakeFFprobe fake(json);
        const auto info = inspect(fake, fake.missingFile());
        ASSERT_TRUE(info) << json;
        EXPECT_EQ(info->fileSize, 0) << json;
    }
}

TEST(FFprobeInspection, RealOutputOfARotatedClipKeepsTheStoredSize)
{
    QFile fixture(QStringLiteral(SLIMREEL_TESTS_SOURCE_DIR "/probe/fixtures/rotated_streams.json"));
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    const test::FakeFFprobe fake(fixture.readAll());
    const QUrl url = fake.missingFile();
    const auto info = inspect(fake, url);
    ASSERT_TRUE(info) << info.error().description().toStdString();
    EXPECT_EQ(*info, (VideoInfo{url, 2.0, 640, 360, 1106117, 4343568, 25, QStringLiteral("H.264"), 1, 69937, true}));
}

TEST(FFprobeInspection, RunsFFprobeWithExactlyTheseArguments)
{
    const test::FakeFFprobe fake(R"({"streams":[{"codec_type":"video"}],"format":{"duration":"1"}})");
    const QUrl url = fake.fileOfSize(QStringLiteral("my clip – 夏天.mp4"), 10);
    ASSERT_TRUE(inspect(fake, url));
    EXPECT_EQ(fake.arguments(), (QStringList{QStringLiteral("-v"), QStringLiteral("error"),
                                             QStringLiteral("-show_streams"), QStringLiteral("-show_format"),
                                             QStringLiteral("-of"), QStringLiteral("json"), url.toLocalFile()}));
}

TEST(FFprobeInspection, NonZeroExitIsUnreadableWhateverItPrinted)
{
    const test::FakeFFprobe fake(R"({"streams":[{"codec_type":"video"}],"format":{"duration":"1"}})", 1);
    const auto info = inspect(fake, fake.missingFile());
    ASSERT_FALSE(info);
    EXPECT_TRUE(isError(info.error(), VideoProbeError::unreadable));
}

TEST(FFprobeInspection, DecodingErrorPassesThrough)
{
    for (const char *json : {"", "{}", "garbage", R"({"streams":[{"codec_type":"video","width":"wide"}]})"}) {
        const test::FakeFFprobe fake(json);
        const auto info = inspect(fake, fake.missingFile());
        ASSERT_FALSE(info) << json;
        EXPECT_EQ(info.error().domain, Error::Domain::platform) << json;
    }
}

TEST(FFprobeInspection, UnusableFFprobe)
{
    const QTemporaryDir dir;
    const auto candidate = [&](const char *name, const QByteArray &content, QFileDevice::Permissions permissions) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        file.setPermissions(permissions);
        return file.fileName();
    };
    const QString plain = candidate("plain", "#!/bin/sh\necho '{}'\n", QFileDevice::ReadOwner);
    // Executable, but its interpreter does not exist: the launch itself fails.
    const QString broken = candidate("broken", "#!/nonexistent/interpreter\n",
                                     QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QUrl video = QUrl::fromLocalFile(test::media(QStringLiteral("h264_aac.mp4")));

    // None executable: unreadable, without starting anything.
    const VideoProbeService none(ToolLocator({plain, dir.filePath(QStringLiteral("none"))}),
                                 VideoProbeService::Order::ffprobeOnly);
    EXPECT_EQ(none.ffprobeURL(), std::nullopt);
    const auto missing = test::wait(none.inspectWithFFprobe(video));
    ASSERT_FALSE(missing);
    EXPECT_TRUE(isError(missing.error(), VideoProbeError::unreadable));

    // A launch failure is the platform's own error.
    const VideoProbeService failing(ToolLocator({plain, broken}), VideoProbeService::Order::ffprobeOnly);
    ASSERT_EQ(failing.ffprobeURL(), broken);
    const auto launch = test::wait(failing.inspectWithFFprobe(video));
    ASSERT_FALSE(launch);
    EXPECT_EQ(launch.error().domain, Error::Domain::platform);
    EXPECT_FALSE(launch.error().description().isEmpty());
}

TEST(FFprobeInspection, OnlyLocalFilesAreInspected)
{
    const test::FakeFFprobe fake(R"({"streams":[{"codec_type":"video"}],"format":{"duration":"1"}})");
    const auto info = inspect(fake, QUrl(QStringLiteral("https://example.com/clip.mp4")));
    ASSERT_FALSE(info);
    EXPECT_TRUE(isError(info.error(), VideoProbeError::unreadable));
    EXPECT_FALSE(fake.ran());
}
