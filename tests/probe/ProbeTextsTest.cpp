#include "probe/VideoProbeService.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace slimreel;

TEST(ProbeTexts, ParseFrameRate)
{
    const struct {
        std::optional<QString> text;
        double fps;
    } cases[] = {
        {std::nullopt, 0},
        {QStringLiteral(""), 0},
        {QStringLiteral("30000/1001"), 30000.0 / 1001.0},
        {QStringLiteral("25/1"), 25},
        {QStringLiteral("0/0"), 0},
        {QStringLiteral("1/0"), 0},
        {QStringLiteral("29.97"), 29.97},
        {QStringLiteral("24000/1001/"), 24000.0 / 1001.0}, // empty pieces are dropped
        {QStringLiteral("//50//2"), 25},
        {QStringLiteral("50/x/2"), 25}, // unreadable pieces are dropped too
        {QStringLiteral("1/2/3"), 0},   // three values: the whole text, which is no number
        {QStringLiteral("60"), 60},
        {QStringLiteral("N/A"), 0},
        {QStringLiteral(" 25/1"), 0},
        {QStringLiteral("2.5e1/1"), 25},
    };
    for (const auto &c : cases) {
        EXPECT_DOUBLE_EQ(VideoProbeService::parseFrameRate(c.text), c.fps) << c.text.value_or(QStringLiteral("<none>")).toStdString();
    }
    EXPECT_NEAR(VideoProbeService::parseFrameRate(QStringLiteral("30000/1001")), 29.97002997, 1e-8);
}

TEST(ProbeTexts, DisplayCodec)
{
    const struct {
        std::optional<QString> codecName;
        const char *display;
    } cases[] = {
        {std::nullopt, "未知"},
        {QStringLiteral("h264"), "H.264"},
        {QStringLiteral("H264"), "H.264"},
        {QStringLiteral("hevc"), "HEVC"},
        {QStringLiteral("av1"), "AV1"},
        {QStringLiteral("Vp9"), "VP9"},
        {QStringLiteral("mpeg4"), "MPEG4"},
        {QStringLiteral("prores"), "PRORES"},
        {QStringLiteral(""), ""},
        {QStringLiteral("h264 "), "H264 "},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(VideoProbeService::displayCodec(c.codecName), QString::fromUtf8(c.display))
            << c.codecName.value_or(QStringLiteral("<none>")).toStdString();
    }
}
