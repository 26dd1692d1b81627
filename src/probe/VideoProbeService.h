#pragma once

#include "model/Error.h"
#include "model/PreviewPacketStats.h"
#include "model/VideoInfo.h"
#include "platform/ToolLocator.h"

#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <optional>
#include <stop_token>
#include <vector>

namespace slimreel {

// Turns a video file into a VideoInfo: GStreamer first, ffprobe as the fallback.
// Stateless apart from where it looks for ffprobe; every call may run at once.
// Coroutines take their arguments by value: they outlive the caller's frame.
class VideoProbeService {
public:
    enum class Order { nativeThenFFprobe, ffprobeOnly, nativeOnly };

    VideoProbeService();
    explicit VideoProbeService(ToolLocator ffprobe, Order order = Order::nativeThenFFprobe);
    virtual ~VideoProbeService() = default;

    // In the normal order native first, ffprobe second, and the native error
    // when both fail; `Order` can also pin one of the two (the CLI's --backend).
    // A stop requested while ffprobe runs ends it; the call then fails with a
    // task cancellation (the in-process native attempt always finishes).
    virtual QCoro::Task<Result<VideoInfo>> inspect(QUrl url, std::stop_token stop = {}) const;
    // The two ways of inspecting; virtual so that the order can be tested alone.
    virtual QCoro::Task<Result<VideoInfo>> inspectNatively(QUrl url) const;
    virtual QCoro::Task<Result<VideoInfo>> inspectWithFFprobe(QUrl url, std::stop_token stop = {}) const;

    // Key-frame and other-frame byte sums of stream 0 of a (sample) file; with
    // `shownBefore`, only of the frames shown within that many seconds of its first.
    virtual QCoro::Task<Result<PreviewPacketStats>> packetStats(QUrl url, std::stop_token stop = {},
                                                                std::optional<double> shownBefore = {}) const;

    // The video stream's packet bytes in each second of a (source) file, read from
    // its packets without decoding them: where in the video its bytes go.
    virtual QCoro::Task<Result<std::vector<std::int64_t>>> videoBytesPerSecond(QUrl url,
                                                                               std::stop_token stop = {}) const;

    std::optional<QString> ffprobeURL() const { return m_ffprobe.locate(); }

    static double parseFrameRate(const std::optional<QString> &text);
    static QString displayCodec(const std::optional<QString> &codecName);

private:
    ToolLocator m_ffprobe;
    Order m_order = Order::nativeThenFFprobe;
};

} // namespace slimreel
