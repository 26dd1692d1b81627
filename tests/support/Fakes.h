#pragma once

#include "app/AppViewModel.h"
#include "compress/CompressionError.h"
#include "compress/VideoCompressing.h"
#include "platform/FileAccess.h"
#include "probe/VideoProbeError.h"
#include "probe/VideoProbeService.h"
#include "support/TestSupport.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <optional>

// Readable failure messages for Qt strings and URLs.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QUrl &url, std::ostream *os) { *os << url.toString().toStdString(); }

namespace slimreel::test {

inline const CompressionSettings fastest{CompressionMode::quality, CompressionPlan::fastest, 25};
inline const CompressionSettings recommended{CompressionMode::quality, CompressionPlan::recommended, 25};
inline const CompressionSettings highQuality{CompressionMode::quality, CompressionPlan::highQuality, 25};
inline const CompressionSettings smallest{CompressionMode::quality, CompressionPlan::smallest, 25};
inline CompressionSettings targetSize(double megabytes, CompressionPlan plan = CompressionPlan::recommended)
{
    return {CompressionMode::targetSize, plan, megabytes};
}

// Something a fake call waits for until the test opens it. `opened` fires once, so an awaiter is resumed once.
class Gate : public QObject {
    Q_OBJECT
public:
    void open()
    {
        if (!std::exchange(m_open, true)) {
            Q_EMIT opened();
        }
    }
    bool isOpen() const { return m_open; }
    QCoro::Task<> wait();
Q_SIGNALS:
    void opened();

private:
    bool m_open = false;
};

// Probe answers looked up by path; "stepped" calls wait for the test.
class FakeProbe : public VideoProbeService {
public:
    void add(const VideoInfo &info) { m_answers.insert(key(info.url), info); }
    void addFailure(const QString &path, VideoProbeError error)
    {
        m_answers.insert(key(QUrl::fromLocalFile(path)), std::unexpected(makeError(error)));
    }

    QCoro::Task<Result<VideoInfo>> inspect(QUrl url, std::stop_token stop) const override;
    QCoro::Task<Result<PreviewPacketStats>> packetStats(QUrl url, std::stop_token stop,
                                                        std::optional<double> shownBefore) const override;
    QCoro::Task<Result<std::vector<std::int64_t>>> videoBytesPerSecond(QUrl, std::stop_token) const override;

    bool stepInspect = false;
    // Like ffprobe, a stepped call then ends at once when its caller gives up.
    bool endOnStop = false;
    bool stepStats = false;
    Result<PreviewPacketStats> stats = PreviewPacketStats{};
    Result<std::vector<std::int64_t>> seconds = std::unexpected(Error::platform(QStringLiteral("no packets")));
    mutable QList<QUrl> inspected;
    mutable QList<std::shared_ptr<Gate>> inspectGates;
    mutable QList<QUrl> statsRequests;
    mutable QList<std::optional<double>> statsShownBefore;
    mutable QList<std::shared_ptr<Gate>> statsGates;

private:
    static QString key(const QUrl &url);
    QCoro::Task<bool> stepped(bool step, QList<std::shared_ptr<Gate>> &gates, std::stop_token stop) const;
    QHash<QString, Result<VideoInfo>> m_answers;
};

// One compress call as the fake received it; the test decides how it ends.
struct CompressCall {
    VideoInfo info;
    CompressionSettings settings;
    QUrl destination;
    std::optional<TimeRange> range;
    ProgressCallback progress;
    std::stop_token stop;
    Gate gate;
    Result<void> result;
    bool returned = false;
};

class FakeCoordinator : public VideoCompressing {
public:
    QCoro::Task<Result<void>> compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                       std::optional<TimeRange> range, ProgressCallback progress,
                                       std::stop_token stop) override;
    QCoro::Task<void> cancel() override;

    // Ends a waiting call: success writes `bytes` bytes at the destination, as an encode would
    // (a sample call copies `sampleSource` instead when it is set, so players get a real video).
    void succeed(qsizetype call, qint64 bytes = 1000);
    void fail(qsizetype call, Error error, qint64 partialBytes = 0);
    int concurrentPeak() const { return m_peak; }

    QList<std::shared_ptr<CompressCall>> calls;
    QString sampleSource;
    int cancelCount = 0;
    // Like a real back end: cancel() ends the running call with a cancellation.
    bool cancelEndsCalls = true;

private:
    int m_running = 0;
    int m_peak = 0;
};

// Records every access started and stopped.
class RecordingFileAccess : public FileAccess {
public:
    bool start(const QUrl &url) override
    {
        if (grant) {
            started.append(url);
        }
        return grant;
    }
    void stop(const QUrl &url) override { stopped.append(url); }

    // Every access started has been stopped exactly once, and nothing else was stopped.
    bool balanced() const;

    bool grant = true;
    QList<QUrl> started;
    QList<QUrl> stopped;
};

// Counts the emissions of one signal (QSignalSpy without the test module); the count outlives the connection's use.
class SignalCount {
public:
    template <typename Sender, typename Signal>
    SignalCount(Sender *sender, Signal signal)
    {
        QObject::connect(sender, signal, [count = m_count] { ++*count; });
    }
    int count() const { return *m_count; }

private:
    std::shared_ptr<int> m_count = std::make_shared<int>(0);
};

// The facts of a 1920×1080 H.264 video with copyable AAC audio.
inline VideoInfo makeInfo(const QUrl &url, double duration = 60, qint64 fileSize = 50'000'000)
{
    return {url, duration, 1920, 1080, fileSize, 8'000'000, 30, QStringLiteral("H.264"), 1, 128'000, true};
}

// Texts the user reads that no error type describes.
inline const QString noValidOutputText = QStringLiteral("没有生成有效的输出文件");
inline const QString alreadyQueuedText = QStringLiteral("这些视频已经在队列中了");
inline const QString previewFailedPrefix = QStringLiteral("预览生成失败：");
inline QString batchSummary(qsizetype failures)
{
    return QStringLiteral("批量压缩完成，其中 %1 个视频失败。可在队列中查看原因。").arg(failures);
}
inline QString importFailure(const QString &name, VideoProbeError error)
{
    return name + QStringLiteral("：") + makeError(error).description();
}

// The file names of queue items, in order.
QStringList fileNames(const QList<BatchVideoItem> &items);

// A controller over the three fakes, wired like the window wires it.
class ControllerTest : public ::testing::Test {
protected:
    ControllerTest();
    ~ControllerTest() override;

    QUrl url(const QString &name) const { return QUrl::fromLocalFile(m_dir.filePath(name)); }
    // A file URL in the test's own folder; the probe knows it with these facts, or cannot read it.
    QUrl video(const QString &name, double duration = 60, qint64 fileSize = 50'000'000)
    {
        probe->add(makeInfo(url(name), duration, fileSize));
        return url(name);
    }
    QUrl unreadable(const QString &name)
    {
        probe->addFailure(url(name).toLocalFile(), VideoProbeError::unreadable);
        return url(name);
    }
    // Imports and waits until the controller has settled (has nothing running).
    void importNow(const QList<QUrl> &urls, bool selectFirst = false)
    {
        vm->importVideos(urls, selectFirst);
        ASSERT_TRUE(settle());
    }
    bool settle() { return spinUntil([this] { return !vm->hasRunningTasks(); }); }
    // Runs queued events for a while without waiting for any condition.
    static void drainEvents();
    QString outputFolderPath() const { return m_dir.filePath(QStringLiteral("out")); }
    QUrl outputFolder() const { return QUrl::fromLocalFile(outputFolderPath()); }
    QStringList queuedNames() const { return fileNames(vm->batchItems()); }

    QTemporaryDir m_dir;
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    std::shared_ptr<FakeCoordinator> coordinator = std::make_shared<FakeCoordinator>();
    std::shared_ptr<RecordingFileAccess> access = std::make_shared<RecordingFileAccess>();
    std::unique_ptr<AppViewModel> vm;
};

} // namespace slimreel::test
