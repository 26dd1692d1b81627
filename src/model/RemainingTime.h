#pragma once

#include <QString>

#include <optional>

namespace slimreel::RemainingTime {

// How long the current video and the whole batch still take, from this run's own
// speed: seconds of video done per second since the run started. Nothing in the
// first seconds or before a hundredth of the batch is done, when one slow start
// (the encoder's set-up, a first key frame) would make the speed a guess.
struct Estimate {
    std::optional<double> current;
    std::optional<double> batch;
};
Estimate estimate(double elapsedSeconds, double batchDone, double batchTotal, double currentDone, double currentTotal);

// "剩余不到 1 分钟", "剩余约 3 分钟", "剩余约 1 小时 5 分钟"; minutes rounded up, so
// that the time is never promised shorter than measured.
QString text(double seconds);

} // namespace slimreel::RemainingTime
