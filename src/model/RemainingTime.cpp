#include "model/RemainingTime.h"

#include <algorithm>
#include <cmath>

namespace slimreel::RemainingTime {

namespace {
constexpr double settlingSeconds = 5;
constexpr double settlingShare = 0.01;
} // namespace

Estimate estimate(double elapsedSeconds, double batchDone, double batchTotal, double currentDone, double currentTotal)
{
    const bool known = std::isfinite(elapsedSeconds) && std::isfinite(batchDone) && std::isfinite(batchTotal)
                       && std::isfinite(currentDone) && std::isfinite(currentTotal) && batchTotal > 0;
    if (!known || elapsedSeconds < settlingSeconds || batchDone < settlingShare * batchTotal) {
        return {};
    }
    const double speed = batchDone / elapsedSeconds; // video seconds per second
    const auto left = [speed](double done, double total) { return std::max(0.0, total - done) / speed; };
    return {left(currentDone, currentTotal), left(batchDone, batchTotal)};
}

QString text(double seconds)
{
    if (!std::isfinite(seconds)) {
        return {};
    }
    // Past a hundred hours the number says nothing more.
    const double minutes = std::ceil(std::clamp(seconds, 0.0, 100.0 * 3600) / 60);
    if (minutes <= 1) {
        return seconds < 60 ? QStringLiteral("剩余不到 1 分钟") : QStringLiteral("剩余约 1 分钟");
    }
    if (minutes < 60) {
        return QStringLiteral("剩余约 %1 分钟").arg(minutes);
    }
    const auto hours = static_cast<long long>(minutes / 60);
    const auto rest = static_cast<long long>(minutes) % 60;
    return rest == 0 ? QStringLiteral("剩余约 %1 小时").arg(hours) : QStringLiteral("剩余约 %1 小时 %2 分钟").arg(hours).arg(rest);
}

} // namespace slimreel::RemainingTime
