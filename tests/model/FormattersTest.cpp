#include "model/Formatters.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

using namespace slimreel;

TEST(Formatters, DurationsAndByteCounts)
{
    const std::pair<double, const char *> durations[] = {
        {0, "0:00"},          {65.4, "1:05"},      {59.5, "1:00"}, {3599.4, "59:59"}, {3599.5, "1:00:00"},
        {36000, "10:00:00"},  {2.5, "0:03"},       {-2.5, "0:00"}, {std::numeric_limits<double>::quiet_NaN(), "--:--"},
        {std::numeric_limits<double>::infinity(), "--:--"},
        // Beyond the 64-bit range the rounded value clamps instead of overflowing.
        {1e300, "2562047788015215:30:07"}};
    for (const auto &[seconds, text] : durations) {
        EXPECT_EQ(Formatters::duration(seconds).toStdString(), text) << seconds;
    }
    const QLocale previous;
    QLocale::setDefault(QLocale::c());
    const std::pair<std::int64_t, const char *> counts[] = {
        {0, "0 bytes"},   {999, "999 bytes"},      {1'000, "1 KB"},       {999'499, "999 KB"},         {1'000'000, "1 MB"},
        {12'345'678, "12.3 MB"}, {45'960'000, "46 MB"}, {1'234'567'890, "1.23 GB"}, {2'500'000'000, "2.5 GB"}};
    for (const auto &[bytes, text] : counts) {
        EXPECT_EQ(Formatters::byteCount(bytes).toStdString(), text) << bytes;
    }
    // The decimal point follows the user's locale.
    QLocale::setDefault(QLocale(QLocale::German));
    EXPECT_EQ(Formatters::byteCount(12'345'678), QStringLiteral("12,3 MB"));
    QLocale::setDefault(previous);
}
