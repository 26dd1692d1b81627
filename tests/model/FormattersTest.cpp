#include "model/Formatters.h"

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
