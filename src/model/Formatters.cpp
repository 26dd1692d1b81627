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
    // Decimal units like a file manager: whole kilobytes, one decimal for
    // megabytes, two from gigabytes on, trailing zeros dropped (95 MB, 12.3 MB).
    struct Unit {
        double size;
        const char *name;
        int precision;
    };
    static constexpr Unit units[] = {{1e12, "TB", 2}, {1e9, "GB", 2}, {1e6, "MB", 1}, {1e3, "KB", 0}};
    const double value = static_cast<double>(bytes);
    for (const Unit &unit : units) {
        if (std::abs(value) >= unit.size) {
            QString number = QLocale().toString(value / unit.size, 'f', unit.precision);
            const QChar point = QLocale().decimalPoint().at(0);
            if (number.contains(point)) {
                while (number.endsWith(QLatin1Char('0'))) {
                    number.chop(1);
                }
                if (number.endsWith(point)) {
                    number.chop(1);
                }
            }
            return number + QLatin1Char(' ') + QLatin1String(unit.name);
        }
    }
    return QStringLiteral("%1 bytes").arg(bytes);
}

} // namespace slimreel::Formatters
