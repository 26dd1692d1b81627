#include "compress/NativeCompressor.h"

#include "compress/CompressionError.h"
#include "platform/Files.h"
#include "platform/Mp4Times.h"

#include <QTimer>

#include <array>
#include <chrono>

namespace slimreel {

namespace {

constexpr auto pollInterval = std::chrono::milliseconds(150);

struct PresetChoice {
    CompressionMode mode;
    std::optional<CompressionPlan> plan; // none: any plan
    ExportSession::Preset preset;
};

// Target sizes get the best the service offers: it takes no bit rate.
constexpr std::array<PresetChoice, 5> presetChoices{{
    {CompressionMode::targetSize, std::nullopt, ExportSession::Preset::hevcHighestQuality},
    {CompressionMode::quality, CompressionPlan::fastest, ExportSession::Preset::preset1280x720},
    {CompressionMode::quality, CompressionPlan::recommended, ExportSession::Preset::preset1920x1080},
    {CompressionMode::quality, CompressionPlan::highQuality, ExportSession::Preset::highestQuality},
    // Without GStreamer's AV1 encoder the compatibility check fails: unsupported by native.
    {CompressionMode::quality, CompressionPlan::smallest, ExportSession::Preset::av1HighestQuality},
}};

Result<void> failure(const CompressionError &error)
{
    return std::unexpected(error.toError());
}

} // namespace

ExportSession::Preset NativeCompressor::exportPreset(const CompressionSettings &settings)
{
    for (const auto &choice : presetChoices) {
        if (choice.mode == settings.mode && (!choice.plan || *choice.plan == settings.plan)) {
            return choice.preset;
        }
    }
    return ExportSession::Preset::highestQuality;
}

QCoro::Task<Result<void>> NativeCompressor::compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                                     std::optional<TimeRange> range, ProgressCallback progress,
                                                     std::stop_token stop)
{
    const ExportSession::Preset preset = exportPreset(settings);
    if (!co_await ExportSession::determineCompatibility(info.url, preset)) {
        co_return failure(CompressionError::unsupportedByNative());
    }
    const auto box = std::make_shared<ExportSessionBox>(new ExportSession(info.url, preset));
    // The destination is the coordinator's fresh file; the sink writes over it
    // and keeps its permission bits.
    box->session().setOutputUrl(destination);
    if (range) {
        box->session().setTimeRange(range->start, range->length());
    }
    m_exportBox = box;

    // The poller holds the box and the callback, not the compressor.
    auto poller = std::make_unique<QTimer>();
    poller->setInterval(pollInterval);
    const auto report = [box, progress] {
        if (progress) {
            progress(box->session().progress());
        }
    };
    QObject::connect(poller.get(), &QTimer::timeout, report);
    report();
    poller->start();

    // A cancelled caller has no use for the file: stop the export as cancel() would.
    const std::stop_callback onStop(stop, [box] {
        QMetaObject::invokeMethod(&box->session(), [box] { box->session().cancelExport(); }, Qt::QueuedConnection);
    });

    co_await box->session().exportAsynchronously();

    // Stopped before the last report, so that 1.0 really is the last word.
    poller.reset();
    if (m_exportBox == box) {
        m_exportBox.reset();
    }
    switch (box->session().status()) {
    case ExportSession::Status::completed:
        // The muxer stamps the time of the encode as the recording date; the
        // source's goes in instead (none where it has none, since 0 is none).
        // An MKV source's date is not read here, and GStreamer carries no
        // subtitle or chapter track into the output either.
        Mp4Times::setCreationTime(destination.toLocalFile(), Mp4Times::creationTime(info.url.toLocalFile()).value_or(0));
        if (progress) {
            progress(1.0);
        }
        co_return Result<void>{};
    case ExportSession::Status::cancelled:
        co_return failure(CompressionError::cancelled());
    default:
        break;
    }
    const QString message = box->session().errorMessage();
    co_return failure(CompressionError::failed(message.isEmpty() ? QStringLiteral("原生压缩失败") : message));
}

QCoro::Task<void> NativeCompressor::cancel()
{
    if (m_exportBox) {
        m_exportBox->session().cancelExport();
    }
    co_return;
}

} // namespace slimreel
