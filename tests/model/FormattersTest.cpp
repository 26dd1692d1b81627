#include "model/Formatters.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

using namespace slimreel;

TEST(Formatters, DurationExamples)
{
    const struct {
        double seconds;
        const char *text;
    } cases[] = {
        {0, "0:00"},         {65.4, "1:05"},
        {59.5, "1:00"},      {3599.4, "59:59"},
        {3599.5, "1:00:00"}, {3725, "1:02:05"},
        {-3, "0:00"},        {36000, "10:00:00"},
        {-2.5, "0:00"},      {2.5, "0:03"},
        {std::numeric_limits<double>::quiet_NaN(), "--:--"},
        {std::numeric_limits<double>::infinity(), "--:--"},
        {-std::numeric_limits<double>::infinity(), "--:--"},
        // Beyond the 64-bit range the rounded value clamps instead of overflowing.
        {1e300, "2562047788015215:30:07"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Formatters::duration(c.seconds).toStdString(), c.text) << c.seconds;
    }
}

TEST(Formatters, ByteCountInDecimalUnits)
{
    const QLocale previous;
    QLocale::setDefault(QLocale::c());
    const struct {
        std::int64_t bytes;
        const char *text;
    } cases[] = {
        {0, "0 bytes"},          {999, "999 bytes"},     {1'000, "1 KB"},
        {597'400, "597 KB"},     {999'499, "999 KB"},    {1'000'000, "1 MB"},
        {12'345'678, "12.3 MB"}, {95'000'000, "95 MB"},  {45'960'000, "46 MB"},
        {1'234'567'890, "1.23 GB"}, {2'500'000'000, "2.5 GB"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Formatters::byteCount(c.bytes).toStdString(), c.text) << c.bytes;
    }
    // The decimal point follows the user's locale.
    QLocale::setDefault(QLocale(QLocale::German));
    EXPECT_EQ(Formatters::byteCount(12'345'678), QStringLiteral("12,3 MB"));
    QLocale::setDefault(previous);
}
