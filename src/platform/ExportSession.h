#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <QCoroTask>

#include <atomic>
#include <memory>
#include <optional>

namespace slimreel {

namespace MediaFramework {
struct Description;
}

// The system's own export service: decodes a file with GStreamer, scales it to
// the preset, re-encodes picture and sound and writes an MP4 with its index at
// the front. One export per session. Lives on the main thread; the pipeline's
// threads only report back to it, so nothing here blocks the event loop.
class ExportSession final : public QObject {
    Q_OBJECT
public:
    enum class Preset { preset1280x720, preset1920x1080, highestQuality, hevcHighestQuality, av1HighestQuality };
    enum class Status { waiting, exporting, completed, failed, cancelled };

    static QString presetName(Preset preset);

    // Whether `source` can be exported with `preset` into MP4 on this machine:
    // it can be discovered (a video stream, decoders present) and every element
    // the pipeline needs is installed.
    static QCoro::Task<bool> determineCompatibility(QUrl source, Preset preset);

    ExportSession(QUrl source, Preset preset, QObject *parent = nullptr);
    ~ExportSession() override;

    void setOutputUrl(QUrl url);
    // Exports only this part of the source, in seconds.
    void setTimeRange(double start, double duration);

    // Runs the export and returns once it has ended; the status is then final.
    QCoro::Task<void> exportAsynchronously();
    // Stops a waiting or running export; it ends with the cancelled status.
    void cancelExport();

    // Fraction done, 0 to 1; may be read from any thread.
    double progress() const;
    Status status() const { return m_status; }
    // The pipeline's own message for a failed export; empty otherwise.
    QString errorMessage() const { return m_errorMessage; }

Q_SIGNALS:
    void finished();

private:
    struct Pipeline;
    struct Range {
        double start;
        double duration;
    };

    std::optional<QString> start(const MediaFramework::Description &source);
    void drainBus();
    void seekWhenHeld();
    void finish(Status status, QString message = {});
    void tearDown();

    QUrl m_source;
    Preset m_preset;
    QUrl m_output;
    std::optional<Range> m_range;
    std::atomic<double> m_progress{0};
    Status m_status = Status::waiting;
    QString m_errorMessage;
    std::unique_ptr<Pipeline> m_pipeline;
    QTimer m_seekWatchdog;
};

} // namespace slimreel
