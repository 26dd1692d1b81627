#include "model/Formatters.h"

#include "model/Numbers.h"

#include <QLocale>

#include <cmath>

namespace slimreel::Formatters {

QString duration(double seconds)
{
    if (!std::isfinite(seconds)) {
        return QStringLiteral("--:--");
    }
    const std::int64_t t = roundToInt64(seconds);
    const std::int64_t c = t > 0 ? t : 0;
    const auto two = [](std::int64_t v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    if (t >= 3600) {
        return QStringLiteral("%1:%2:%3").arg(c / 3600).arg(two((c % 3600) / 60), two(c % 60));
    }
    return QStringLiteral("%1:%2").arg((c % 3600) / 60).arg(two(c % 60));
}

QString byteCount(std::int64_t bytes)
{
    // Whole kilobytes, one decimal for megabytes, two from gigabytes on: the
    // precision a file manager shows, without noise in the last digits.
    const double magnitude = std::abs(static_cast<double>(bytes));
    int precision = 0;
    if (magnitude >= 1e9) {
        precision = 2;
    } else if (magnitude >= 1e6) {
        precision = 1;
    }
    return QLocale().formattedDataSize(bytes, precision, QLocale::DataSizeSIFormat);
}

} // namespace slimreel::Formatters
