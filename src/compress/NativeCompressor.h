#pragma once

#include "compress/VideoCompressing.h"
#include "platform/ExportSession.h"

#include <memory>

namespace slimreel {

// The running export, shared by the compressor, its progress poller and
// cancel(); whoever lets go last ends it.
class ExportSessionBox {
public:
    explicit ExportSessionBox(ExportSession *session)
        : m_session(session)
    {
    }
    // Later, not now: the last holder may be a coroutine resumed by the session's own signal.
    ~ExportSessionBox() { m_session->deleteLater(); }
    ExportSessionBox(const ExportSessionBox &) = delete;
    ExportSessionBox &operator=(const ExportSessionBox &) = delete;

    ExportSession &session() const { return *m_session; }

private:
    ExportSession *const m_session;
};

// The back end that compresses with the system's own export service instead
// of ffmpeg: a preset per setting, no bit rate of its own.
class NativeCompressor final : public VideoCompressing {
public:
    QCoro::Task<Result<void>> compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                       std::optional<TimeRange> range, ProgressCallback progress,
                                       std::stop_token stop) override;
    QCoro::Task<void> cancel() override;

    static ExportSession::Preset exportPreset(const CompressionSettings &settings);

    // The export now running; empty when idle.
    std::shared_ptr<ExportSessionBox> exportBox() const { return m_exportBox; }

private:
    std::shared_ptr<ExportSessionBox> m_exportBox;
};

} // namespace slimreel
