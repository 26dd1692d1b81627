#pragma once

#include "support/Gate.h"

#include "compress/VideoCompressing.h"
#include "probe/VideoProbeService.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

namespace slimreel::uitest {

using Gate = test::Gate;

// Knows videos by path; everything else cannot be read. With `holdInspect`
// each inspection waits for the test to open its gate.
class ScriptedProbe : public VideoProbeService {
public:
    void add(const VideoInfo &info) { m_known.insert(info.url.toLocalFile(), info); }

    QCoro::Task<Result<VideoInfo>> inspect(QUrl url, std::stop_token) const override;
    QCoro::Task<Result<PreviewPacketStats>> packetStats(QUrl url, std::stop_token) const override;

    bool holdInspect = false;
    mutable QList<QUrl> inspected;
    mutable QList<std::shared_ptr<Gate>> inspectGates;

private:
    QHash<QString, VideoInfo> m_known;
};

// One compression as the fake received it; the test decides when and how it ends.
struct CompressCall {
    VideoInfo info;
    QUrl destination;
    std::optional<TimeRange> range;
    ProgressCallback progress;
    Gate gate;
    Result<void> result;
};

// Every call waits until the test finishes it (or cancel() ends it). A finished
// sample call copies `sampleSource` to its destination, so the players get a
// real video; a finished full call writes a small file.
class SteppedCompressor : public VideoCompressing {
public:
    QCoro::Task<Result<void>> compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                       std::optional<TimeRange> range, ProgressCallback progress,
                                       std::stop_token stop) override;
    QCoro::Task<void> cancel() override;

    void finish(qsizetype call);
    void fail(qsizetype call, const QString &message);
    qsizetype waiting() const;

    QString sampleSource;
    QList<std::shared_ptr<CompressCall>> calls;
};

} // namespace slimreel::uitest
