#pragma once

#include "model/CompressionSettings.h"
#include "model/Error.h"
#include "model/VideoInfo.h"

#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <optional>
#include <stop_token>

namespace slimreel {

// A part of the source in seconds: the preview sample compresses only this.
struct TimeRange {
    double start = 0;
    double end = 0;
    double length() const { return end - start; }
    friend bool operator==(const TimeRange &, const TimeRange &) = default;
};

// Fraction done, 0 to 1. Called on the main thread.
using ProgressCallback = std::function<void(double)>;

// What every back end (and the coordinator in front of them) offers. A requested
// stop of `stop` means the calling task has been cancelled; `cancel()` stops the
// running back end itself. Arguments are taken by value: coroutines outlive the caller's frame.
class VideoCompressing {
public:
    virtual ~VideoCompressing() = default;

    virtual QCoro::Task<Result<void>> compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                               std::optional<TimeRange> range, ProgressCallback progress,
                                               std::stop_token stop) = 0;
    virtual QCoro::Task<void> cancel() = 0;
};

} // namespace slimreel
