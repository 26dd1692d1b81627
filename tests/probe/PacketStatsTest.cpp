#include "probe/FakeFFprobe.h"
#include "probe/VideoProbeError.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace slimreel;

namespace {

Result<PreviewPacketStats> statsFor(const QByteArray &json, int exitStatus = 0)
{
    const test::FakeFFprobe fake(json, exitStatus);
    const VideoProbeService service = fake.service();
    return test::wait(service.packetStats(fake.missingFile()));
}

// An independent count of the same sums, from ffprobe's CSV output.
PreviewPacketStats csvStats(const QString &path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                              QStringLiteral("packet=stream_index,size,flags"), QStringLiteral("-of"),
                                              QStringLiteral("csv=p=0"), path});
    ffprobe.waitForFinished(60000);
    PreviewPacketStats stats;
    for (const QByteArray &line : ffprobe.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() < 3 || fields[0] != "0") {
            continue;
        }
        if (fields[2].contains('K')) {
            stats.keyFrameBytes += fields[1].toLongLong();
            stats.keyFrameCount += 1;
        } else {
            stats.interFrameBytes += fields[1].toLongLong();
        }
    }
    return stats;
}

} // namespace

TEST(PacketStats, SumsStreamZeroByKeyFrameFlag)
{
    const struct {
        const char *name;
        const char *json;
        PreviewPacketStats expected;
    } cases[] = {
        {"no packets", R"({"packets":[]})", {0, 0, 0}},
        {"audio packets change nothing",
         R"({"packets":[{"stream_index":1,"size":"5000","flags":"K_"},{"stream_index":1,"size":"7"},
            {"stream_index":2,"size":"9","flags":"__"}]})",
         {0, 0, 0}},
        {"key frame flags anywhere in the text",
         R"({"packets":[{"stream_index":0,"size":"1000","flags":"K__"},{"stream_index":0,"size":"200","flags":"_KD"},
            {"stream_index":0,"size":"30","flags":"___"},{"stream_index":0,"size":"4"},
            {"stream_index":0,"size":"5","flags":null}]})",
         {1200, 2, 39}},
        {"a lowercase k is not a key frame",
         R"({"packets":[{"stream_index":0,"size":"100","flags":"k__"}]})", {0, 0, 100}},
        {"a size that is not an integer counts 0 bytes",
         R"({"packets":[{"stream_index":0,"size":"N/A","flags":"K_"},{"stream_index":0,"size":"12.5"},
            {"stream_index":0,"size":"+10","flags":"K"}]})",
         {10, 2, 0}},
        {"sums saturate instead of overflowing",
         R"({"packets":[{"stream_index":0,"size":"9223372036854775807","flags":"K"},
            {"stream_index":0,"size":"9223372036854775807","flags":"K"}]})",
         {std::numeric_limits<std::int64_t>::max(), 2, 0}},
    };
    for (const auto &c : cases) {
        const auto stats = statsFor(c.json);
        ASSERT_TRUE(stats) << c.name << ": " << stats.error().description().toStdString();
        EXPECT_EQ(*stats, c.expected) << c.name;
    }
}

TEST(PacketStats, RealOutputFixture)
{
    QFile fixture(QStringLiteral(SLIMREEL_TESTS_SOURCE_DIR "/probe/fixtures/short_packets.json"));
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    const auto stats = statsFor(fixture.readAll());
    ASSERT_TRUE(stats) << stats.error().description().toStdString();
    EXPECT_EQ(*stats, (PreviewPacketStats{81097, 1, 278324}));
}

TEST(PacketStats, RunsFFprobeWithExactlyTheseArguments)
{
    const test::FakeFFprobe fake(R"({"packets":[]})");
    const VideoProbeService service = fake.service();
    const QUrl url = fake.fileOfSize(QStringLiteral("sample 1.mp4"), 1);
    ASSERT_TRUE(test::wait(service.packetStats(url)));
    EXPECT_EQ(fake.arguments(),
              (QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_packets"),
                           QStringLiteral("-show_entries"), QStringLiteral("packet=stream_index,size,flags"),
                           QStringLiteral("-of"), QStringLiteral("json"), url.toLocalFile()}));
}

TEST(PacketStats, Failures)
{
    const auto exited = statsFor(R"({"packets":[]})", 1);
    ASSERT_FALSE(exited);
    EXPECT_TRUE(isError(exited.error(), VideoProbeError::unreadable));

    for (const char *json : {"", R"({})", R"({"packets":[{"size":"1"}]})", R"({"packets":[{"stream_index":0}]})"}) {
        const auto stats = statsFor(json);
        ASSERT_FALSE(stats) << json;
        EXPECT_EQ(stats.error().domain, Error::Domain::platform) << json;
    }

    const VideoProbeService nowhere(ToolLocator({QStringLiteral("/nonexistent/ffprobe")}));
    const auto missing = test::wait(nowhere.packetStats(QUrl::fromLocalFile(test::media("h264_aac.mp4"))));
    ASSERT_FALSE(missing);
    EXPECT_TRUE(isError(missing.error(), VideoProbeError::unreadable));
}

TEST(PacketStats, RealSampleMatchesAnIndependentCount)
{
    const VideoProbeService service(ToolLocator::forTool(QStringLiteral("ffprobe")));
    for (const char *name : {"h264_aac.mp4", "long.mp4", "no_audio.mp4"}) {
        const QString path = test::media(QString::fromLatin1(name));
        const auto stats = test::wait(service.packetStats(QUrl::fromLocalFile(path)));
        ASSERT_TRUE(stats) << name << ": " << stats.error().description().toStdString();
        EXPECT_GE(stats->keyFrameCount, 1) << name;
        EXPECT_GT(stats->interFrameBytes, 0) << name;
        EXPECT_EQ(*stats, csvStats(path)) << name;
    }
}
