#include "probe/FFprobeRecords.h"

#include <QFile>

#include <gtest/gtest.h>

#include <limits>

using namespace slimreel;

namespace {

Result<FFprobeResponse> decode(const char *json)
{
    return FFprobeResponse::decode(QByteArray(json));
}

Result<FFprobePacketResponse> decodePackets(const char *json)
{
    return FFprobePacketResponse::decode(QByteArray(json));
}

} // namespace

TEST(FFprobeRecords, DecodesEveryListedMember)
{
    const auto response = decode(R"({"streams":[{"codec_name":"h264","codec_type":"video","width":1920,
        "height":1080,"avg_frame_rate":"30000/1001","bit_rate":"5000000","duration":"12.5","extra":[1,2]}],
        "format":{"duration":"12.6","size":"7812500","bit_rate":"5100000","tags":{}}})");
    ASSERT_TRUE(response) << response.error().description().toStdString();
    ASSERT_EQ(response->streams.size(), 1U);
    const FFprobeStream expected{QStringLiteral("h264"), QStringLiteral("video"), 1920, 1080,
                                 QStringLiteral("30000/1001"), QStringLiteral("5000000"), QStringLiteral("12.5")};
    EXPECT_EQ(response->streams[0], expected);
    const FFprobeFormat format{QStringLiteral("12.6"), QStringLiteral("7812500"), QStringLiteral("5100000")};
    EXPECT_EQ(response->format, format);
}

TEST(FFprobeRecords, MissingAndNullOptionalMembersHaveNoValue)
{
    const auto response = decode(R"({"streams":[{}, {"codec_name":null,"codec_type":null,"width":null,
        "height":null,"avg_frame_rate":null,"bit_rate":null,"duration":null}],"format":null})");
    ASSERT_TRUE(response) << response.error().description().toStdString();
    ASSERT_EQ(response->streams.size(), 2U);
    EXPECT_EQ(response->streams[0], FFprobeStream{});
    EXPECT_EQ(response->streams[1], FFprobeStream{});
    EXPECT_FALSE(response->format.has_value());

    const auto noFormat = decode(R"({"streams":[]})");
    ASSERT_TRUE(noFormat);
    EXPECT_TRUE(noFormat->streams.empty());
    EXPECT_FALSE(noFormat->format.has_value());

    const auto emptyFormat = decode(R"({"streams":[],"format":{}})");
    ASSERT_TRUE(emptyFormat);
    EXPECT_EQ(emptyFormat->format, FFprobeFormat{});
}

TEST(FFprobeRecords, IntegralNumbersInEveryJsonSpelling)
{
    const auto response = decode(R"({"streams":[{"width":6.4e2,"height":360.0},
        {"width":9223372036854775807,"height":-9223372036854775808}]})");
    ASSERT_TRUE(response) << response.error().description().toStdString();
    EXPECT_EQ(response->streams[0].width, 640);
    EXPECT_EQ(response->streams[0].height, 360);
    EXPECT_EQ(response->streams[1].width, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(response->streams[1].height, std::numeric_limits<std::int64_t>::min());
}

TEST(FFprobeRecords, WrongTypesFailTheWholeDecoding)
{
    const struct {
        const char *json;
        const char *mentions; // the member the message names
    } cases[] = {
        {R"({"streams":[{"codec_name":264}]})", "streams[0].codec_name"},
        {R"({"streams":[{"codec_type":true}]})", "streams[0].codec_type"},
        {R"({"streams":[{"width":"640"}]})", "streams[0].width"},
        {R"({"streams":[{"height":360.5}]})", "streams[0].height"},
        {R"({"streams":[{"width":9223372036854775808}]})", "streams[0].width"},
        {R"({"streams":[{"width":1e300}]})", "streams[0].width"},
        {R"({"streams":[{}, {"avg_frame_rate":25}]})", "streams[1].avg_frame_rate"},
        {R"({"streams":[{"bit_rate":5000000}]})", "streams[0].bit_rate"},
        {R"({"streams":[{"duration":12.5}]})", "streams[0].duration"},
        {R"({"streams":[],"format":{"duration":12.5}})", "format.duration"},
        {R"({"streams":[],"format":{"size":1000}})", "format.size"},
        {R"({"streams":[],"format":{"bit_rate":["1"]}})", "format.bit_rate"},
        {R"({"streams":[],"format":"mp4"})", "format"},
        {R"({"streams":{}})", "streams"},
        {R"({"streams":[null]})", "streams[0]"},
        {R"({"streams":[42]})", "streams[0]"},
    };
    for (const auto &c : cases) {
        const auto response = decode(c.json);
        ASSERT_FALSE(response) << c.json;
        EXPECT_EQ(response.error().domain, Error::Domain::platform) << c.json;
        EXPECT_TRUE(response.error().description().contains(QLatin1String(c.mentions)))
            << c.json << " -> " << response.error().description().toStdString();
    }
}

TEST(FFprobeRecords, StreamsAreRequired)
{
    for (const char *json : {R"({})", R"({"streams":null})", R"({"format":{"duration":"1"}})"}) {
        const auto response = decode(json);
        ASSERT_FALSE(response) << json;
        EXPECT_TRUE(response.error().description().contains(QLatin1String("streams"))) << json;
    }
}

TEST(FFprobeRecords, OutputThatIsNotAJsonObjectFails)
{
    for (const char *json : {"", "{", "[]", "\"streams\"", "not json", R"({"streams":[]} trailing)"}) {
        const auto response = decode(json);
        ASSERT_FALSE(response) << json;
        EXPECT_EQ(response.error().domain, Error::Domain::platform);
        EXPECT_FALSE(response.error().description().isEmpty());
    }
}

TEST(FFprobeRecords, RealOutputWithUnlistedMembers)
{
    QFile file(QStringLiteral(SLIMREEL_TESTS_SOURCE_DIR "/probe/fixtures/rotated_streams.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto response = FFprobeResponse::decode(file.readAll());
    ASSERT_TRUE(response) << response.error().description().toStdString();
    ASSERT_EQ(response->streams.size(), 2U);
    EXPECT_EQ(response->streams[0].codecType, QStringLiteral("video"));
    EXPECT_EQ(response->streams[0].width, 640);
    EXPECT_EQ(response->streams[1].codecName, QStringLiteral("aac"));
    EXPECT_EQ(response->format->size, QStringLiteral("1106117"));
}

TEST(FFprobePacketRecords, DecodesPackets)
{
    const auto response = decodePackets(R"({"packets":[{"stream_index":0,"size":"1200","flags":"K__"},
        {"stream_index":1,"size":"N/A","flags":null,"pts":5},{"stream_index":0,"size":"300"}]})");
    ASSERT_TRUE(response) << response.error().description().toStdString();
    ASSERT_EQ(response->packets.size(), 3U);
    EXPECT_EQ(response->packets[0], (FFprobePacket{0, QStringLiteral("1200"), QStringLiteral("K__")}));
    EXPECT_EQ(response->packets[1], (FFprobePacket{1, QStringLiteral("N/A"), std::nullopt}));
    EXPECT_EQ(response->packets[2], (FFprobePacket{0, QStringLiteral("300"), std::nullopt}));

    const auto empty = decodePackets(R"({"packets":[]})");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->packets.empty());
}

TEST(FFprobePacketRecords, RequiredMembersAndTypes)
{
    const struct {
        const char *json;
        const char *mentions;
    } cases[] = {
        {R"({})", "packets"},
        {R"({"packets":null})", "packets"},
        {R"({"packets":[{"size":"10"}]})", "packets[0].stream_index"},
        {R"({"packets":[{"stream_index":null,"size":"10"}]})", "packets[0].stream_index"},
        {R"({"packets":[{"stream_index":0}]})", "packets[0].size"},
        {R"({"packets":[{"stream_index":0,"size":null}]})", "packets[0].size"},
        {R"({"packets":[{"stream_index":0,"size":10}]})", "packets[0].size"},
        {R"({"packets":[{"stream_index":"0","size":"10"}]})", "packets[0].stream_index"},
        {R"({"packets":[{"stream_index":0.5,"size":"10"}]})", "packets[0].stream_index"},
        {R"({"packets":[{"stream_index":0,"size":"10"},{"stream_index":0,"size":"1","flags":1}]})",
         "packets[1].flags"},
    };
    for (const auto &c : cases) {
        const auto response = decodePackets(c.json);
        ASSERT_FALSE(response) << c.json;
        EXPECT_TRUE(response.error().description().contains(QLatin1String(c.mentions)))
            << c.json << " -> " << response.error().description().toStdString();
    }
}
