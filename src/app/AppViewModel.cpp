#include "app/AppViewModel.h"

#include "app/BatchQueueModel.h"
#include "compress/CompressionCoordinator.h"
#include "compress/CompressionError.h"
#include "model/Formatters.h"
#include "model/Numbers.h"
#include "model/RemainingTime.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace slimreel {

// One started task: the source that cancels it and the coroutine itself, kept so
// that a later task can wait for its end.
struct AppViewModel::TaskHandle {
    std::stop_source stop;
    QCoro::Task<> task;
};

namespace {

const QString emDash = QStringLiteral("—");

// A new file name in the scratch folder for a sample or an estimate's stretch.
QString scratchVideoPath(const QString &folder, const QString &prefix)
{
    return folder + u'/' + prefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".mp4");
}

// Also right for folders given with a trailing slash, where QUrl::fileName() is empty.
QString lastPathComponent(const QUrl &url)
{
    QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// NaN, infinities and counts beyond 64 bits have no meaningful byte text.
std::optional<std::int64_t> wholeBytes(double bytes)
{
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (!std::isfinite(bytes) || std::abs(bytes) >= limit) {
        return std::nullopt;
    }
    return truncToInt64(bytes);
}

std::optional<std::int64_t> targetSizeBytes(const CompressionSettings &settings, const VideoInfo &video)
{
    const double bitsPerSecond =
        static_cast<double>(settings.targetVideoBitrate(video)) + settings.audioBitrate(video);
    return wholeBytes(bitsPerSecond * video.duration / 8);
}

QString percent(double ratio)
{
    return QString::number(truncToInt64(100 * ratio));
}

QCoro::Task<> cancelCoordinator(std::shared_ptr<VideoCompressing> coordinator)
{
    co_await coordinator->cancel();
}

bool onMainThread()
{
    const auto *app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

} // namespace

AppViewModel::AppViewModel(QObject *parent)
    : AppViewModel(std::make_shared<VideoProbeService>(), std::make_shared<CompressionCoordinator>(),
                   std::make_shared<SystemFileAccess>(), parent)
{
}

AppViewModel::AppViewModel(std::shared_ptr<VideoProbeService> probe, std::shared_ptr<VideoCompressing> coordinator,
                           std::shared_ptr<FileAccess> fileAccess, QObject *parent)
    : QObject(parent)
    , m_probe(std::move(probe))
    , m_coordinator(std::move(coordinator))
    , m_fileAccess(std::move(fileAccess))
{
    m_queueModel = new BatchQueueModel(m_batchItems, m_selectedItemID, this);
    m_lastEstimatedSizeText = estimatedSizeText();
    m_lastSavingsText = savingsText();
    m_lastHasActiveTask = hasActiveTask();
}

AppViewModel::~AppViewModel()
{
    // Tasks still in flight resume after this and find the controller gone: they
    // release what they hold themselves (sample file, file access, partial output).
    m_destroying = true;
    requestStopOfAllTasks();
    if (m_runningTasks > 0) {
        cancelCoordinator(m_coordinator); // holds the coordinator until the back end has stopped
    }
    if (m_previewURL) {
        Files::removeFile(m_previewURL->toLocalFile());
    }
    for (const QUrl &url : std::as_const(m_securityScopedURLs)) {
        m_fileAccess->stop(url);
    }
    m_securityScopedURLs.clear();
    // The list model reads our members; it must not outlive them.
    delete m_queueModel;
    m_queueModel = nullptr;
}

// ---------------------------------------------------------------------------
// Tasks

bool AppViewModel::isAlive(const QPointer<AppViewModel> &self)
{
    return self && !self->m_destroying;
}

std::shared_ptr<AppViewModel::TaskHandle> AppViewModel::startTask(const TaskBody &body)
{
    auto handle = std::make_shared<TaskHandle>();
    // Counted before the body runs: coroutines start at once and may end before returning.
    ++m_runningTasks;
    handle->task = trackEnd(QPointer<AppViewModel>(this), body(handle->stop.get_token()));
    return handle;
}

void AppViewModel::startDetached(const TaskBody &body)
{
    // A dropped QCoro task keeps running to its end and frees itself.
    startTask(body);
}

void AppViewModel::cancelCoordinatorInBackground()
{
    startDetached([coordinator = m_coordinator](std::stop_token) { return cancelCoordinator(coordinator); });
}

QCoro::Task<> AppViewModel::trackEnd(QPointer<AppViewModel> self, QCoro::Task<> inner)
{
    co_await inner;
    if (isAlive(self)) {
        self->taskEnded();
    }
}

QCoro::Task<> AppViewModel::waitForEnd(QList<std::shared_ptr<TaskHandle>> tasks)
{
    for (const auto &task : std::as_const(tasks)) {
        if (task && !task->task.isReady()) {
            co_await task->task;
        }
    }
}

void AppViewModel::requestStopOfAllTasks()
{
    for (const auto *task : {&m_importTask, &m_compressionTask, &m_previewTask}) {
        if (*task) {
            (*task)->stop.request_stop();
        }
    }
}

void AppViewModel::finishBeforeExit()
{
    cancel();
    // A tool that ignores the request to stop is killed after a few seconds;
    // the limit only guards against a task that can never end.
    constexpr int limitMs = 30'000;
    QEventLoop loop;
    connect(this, &AppViewModel::becameIdle, &loop, &QEventLoop::quit);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    if (hasRunningTasks()) {
        loop.exec();
    }
}

void AppViewModel::taskEnded()
{
    if (--m_runningTasks > 0) {
        return;
    }
    // Announced from the event loop, never in the middle of an operation, and only
    // if nothing has been started again meanwhile.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_runningTasks == 0) {
                Q_EMIT becameIdle();
            }
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// Import and selection

void AppViewModel::importVideos(const QList<QUrl> &urls, bool selectFirstImported)
{
    if (isBusy()) {
        return;
    }
    QSet<QString> known = m_queuedPaths;
    QList<QUrl> kept;
    for (const QUrl &url : urls) {
        const QString path = Files::standardized(url).path();
        if (known.contains(path)) {
            continue;
        }
        known.insert(path);
        kept.append(url);
    }
    if (kept.isEmpty()) {
        if (!urls.isEmpty()) {
            setAlertMessage(QStringLiteral("这些视频已经在队列中了"));
        }
        return;
    }
    stopPreviewWork();
    setState(CompressionState::preparing());
    const quint64 generation = ++m_importGeneration;
    m_importTask = startTask([this, kept, selectFirstImported, generation](std::stop_token stop) {
        return importTask(kept, selectFirstImported, generation, stop);
    });
}

QCoro::Task<> AppViewModel::importTask(QList<QUrl> urls, bool selectFirstImported, quint64 generation,
                                       std::stop_token stop)
{
    const QPointer<AppViewModel> self(this);
    const auto probe = m_probe;
    const auto fileAccess = m_fileAccess;
    std::optional<QUuid> firstImported;
    QStringList failures;

    for (const QUrl &url : std::as_const(urls)) {
        if (stop.stop_requested()) {
            break;
        }
        const bool accessStarted = fileAccess->start(url);
        const Result<VideoInfo> probed = co_await probe->inspect(url, stop);
        if (!isAlive(self)) {
            // Nobody is left to release this file later.
            if (accessStarted) {
                fileAccess->stop(url);
            }
            co_return;
        }
        if (probed && isQueued(url)) {
            // A cancelled import finishing late, after a newer one queued the
            // same file: the file is there once already.
            if (accessStarted) {
                fileAccess->stop(url);
            }
        } else if (probed) {
            const QUuid id = QUuid::createUuid();
            appendItem(BatchVideoItem{id, *probed, BatchItemState::pending(), 0, std::nullopt});
            if (!firstImported) {
                firstImported = id;
            }
            if (accessStarted) {
                m_securityScopedURLs.append(url);
            }
        } else {
            if (accessStarted) {
                fileAccess->stop(url);
            }
            // A probe ended because the user cancelled says nothing about the file.
            if (!probed.error().isTaskCancellation()) {
                failures.append(lastPathComponent(url) + QStringLiteral("：") + probed.error().description());
            }
        }
    }

    if (!m_selectedItemID || selectFirstImported) {
        selectAfterImport(firstImported);
    }
    // An overtaken import (cancelled, or followed by a newer one) must not
    // declare the controller idle under the newer work.
    if (generation == m_importGeneration && m_state.is(CompressionState::Case::preparing)) {
        setState(CompressionState::idle());
    }
    if (!failures.isEmpty()) {
        setAlertMessage(failures.mid(0, 3).join(QLatin1Char('\n')));
    }
}

bool AppViewModel::isQueued(const QUrl &url) const
{
    return m_queuedPaths.contains(Files::standardized(url).path());
}

void AppViewModel::selectAfterImport(const std::optional<QUuid> &firstImported)
{
    std::optional<QUuid> candidate = firstImported;
    if (!candidate && !m_batchItems.isEmpty()) {
        candidate = m_batchItems.first().id;
    }
    if (!candidate) {
        return;
    }
    selectItem(*candidate);
    if (m_video) {
        CompressionSettings adjusted = m_settings;
        adjusted.targetSizeMB = suggestedTargetSizeMB(m_video->fileSize);
        setSettings(adjusted);
    }
}

double AppViewModel::suggestedTargetSizeMB(std::int64_t fileSize)
{
    const double halfMegabytes = static_cast<double>(fileSize) / 1'000'000.0 / 2.0;
    return static_cast<double>(std::max<std::int64_t>(1, roundToInt64(halfMegabytes)));
}

void AppViewModel::selectItem(const QUuid &id)
{
    if (m_selectedItemID == id) {
        return;
    }
    const qsizetype row = indexOf(id);
    if (row < 0) {
        return;
    }
    stopPreviewWork();
    setSelectedItemID(id);
    setVideo(m_batchItems.at(row).info);
}

// ---------------------------------------------------------------------------
// Preview sample

TimeRange AppViewModel::sampleWindow(double duration)
{
    const double start = std::max(0.0, std::min(std::max(0.0, duration - 5), 0.35 * duration));
    const double end = std::min(duration, start + std::min(duration, 5.0));
    return {start, end};
}

void AppViewModel::generatePreview()
{
    // One sample at a time, and none beside an import or a run: the coordinator
    // runs one encode at a time.
    if (!m_video || hasActiveTask()) {
        return;
    }
    // The sample is the user's video: it goes where no other account can look.
    const QString folder = Files::scratchFolder();
    if (folder.isEmpty()) {
        setAlertMessage(QStringLiteral("预览生成失败：无法创建私有的临时文件夹"));
        return;
    }
    setIsGeneratingPreview(true);
    discardPreviewFile();
    const TimeRange window = sampleWindow(m_video->duration);
    setPreviewStartTime(window.start);
    const QUrl sample = QUrl::fromLocalFile(scratchVideoPath(folder, QStringLiteral("Slimreel-preview-")));
    const quint64 generation = ++m_previewGeneration;
    const QList<std::shared_ptr<TaskHandle>> earlier{m_previewTask, m_compressionTask};
    m_previewTask = startTask([this, video = *m_video, settings = m_settings, selection = m_selectedItemID, sample,
                               window, generation, earlier](std::stop_token stop) {
        return previewTask(video, settings, selection, sample, window, generation, earlier, stop);
    });
}

QCoro::Task<> AppViewModel::previewTask(VideoInfo video, CompressionSettings settings,
                                        std::optional<QUuid> selection, QUrl sample, TimeRange window,
                                        quint64 generation, QList<std::shared_ptr<TaskHandle>> earlier,
                                        std::stop_token stop)
{
    const QPointer<AppViewModel> self(this);
    const auto coordinator = m_coordinator;
    const auto probe = m_probe;
    const QString samplePath = sample.toLocalFile();

    // An encode that was stopped a moment ago may still be winding down.
    co_await waitForEnd(std::exchange(earlier, {}));

    Result<void> made = std::unexpected(Error::taskCancelled());
    if (!stop.stop_requested()) {
        made = co_await coordinator->compress(video, settings, sample, window, [](double) {}, stop);
    }
    if (!isAlive(self)) {
        Files::removeFile(samplePath);
        co_return;
    }

    if (!made) {
        // A failed encode may have left part of a file; it is ours alone.
        Files::removeFile(samplePath);
        if (!stop.stop_requested() && m_selectedItemID == selection) {
            setAlertMessage(QStringLiteral("预览生成失败：") + made.error().description());
        }
    } else if (stop.stop_requested() || m_selectedItemID != selection) {
        Files::removeFile(samplePath);
    } else {
        setPreviewURL(sample);
        setPreviewSettings(settings);
        const double sampleDuration = std::max(window.end - window.start, 0.1);
        std::optional<OutputSizeEstimate> estimate;
        const Result<PreviewPacketStats> stats = co_await probe->packetStats(sample, stop);
        if (!isAlive(self)) {
            Files::removeFile(samplePath);
            co_return;
        }
        const auto stretches = settings.estimateStretches(window.start, window.end, video.duration);
        if (stats && !stretches.empty()) {
            // The sample can be watched already; its estimate follows once the
            // other stretches have been seen.
            estimate = co_await estimateFromStretches(video, settings, window, *stats, stretches, stop);
            if (!isAlive(self)) {
                Files::removeFile(samplePath);
                co_return;
            }
        } else if (stats) {
            // Where the source spends its bytes tells how the parts the sample does not see differ from it.
            std::vector<std::int64_t> seconds;
            if (sampleDuration < video.duration) {
                if (auto read = co_await probe->videoBytesPerSecond(video.url, stop)) {
                    seconds = std::move(*read);
                }
                if (!isAlive(self)) {
                    Files::removeFile(samplePath);
                    co_return;
                }
            }
            // Stopped during the read (a run started, say): the sample alone still gives its estimate.
            estimate = settings.projectedRange({EncodedStretch{window.start, window.end, *stats}}, seconds,
                                               video.duration, video);
        } else if (const Result<std::int64_t> size = Files::fileSize(samplePath)) {
            // Without packets the file's size stands for them, less what is known in advance.
            const double bytes = static_cast<double>(*size) - settings.audioBitrate(video) * sampleDuration * 0.125
                                 - settings.containerBytes(sampleDuration, video);
            if (CompressionSettings::projectedBytes(truncToInt64(bytes), sampleDuration, video.duration)) {
                estimate = settings.projectedRange(PreviewPacketStats{0, 0, truncToInt64(bytes)}, sampleDuration,
                                                   video.duration, video);
            }
        }
        // The sample may have been discarded while its packets were read.
        if (m_previewURL == sample) {
            setPreviewSizeEstimate(estimate);
        }
    }
    // Only the newest sample speaks for the flag; an overtaken one was already stopped.
    if (generation == m_previewGeneration) {
        setIsGeneratingPreview(false);
    }
}

QCoro::Task<std::optional<OutputSizeEstimate>>
AppViewModel::estimateFromStretches(VideoInfo video, CompressionSettings settings, TimeRange window,
                                    PreviewPacketStats sampleStats, std::vector<std::pair<double, double>> ranges,
                                    std::stop_token stop)
{
    const QPointer<AppViewModel> self(this);
    const auto coordinator = m_coordinator;
    const auto probe = m_probe;
    std::vector<EncodedStretch> stretches{{window.start, window.end, sampleStats}};
    // The source's packets say which parts are busier; without them every part counts alike.
    const auto seconds = co_await probe->videoBytesPerSecond(video.url, stop);
    for (const auto &[start, end] : ranges) {
        if (stop.stop_requested() || !isAlive(self)) {
            co_return std::nullopt;
        }
        const QString folder = Files::scratchFolder();
        if (folder.isEmpty()) {
            co_return std::nullopt;
        }
        const QString path = scratchVideoPath(folder, QStringLiteral("Slimreel-estimate-"));
        // Encoded on past its end, so that its last frames are coded as within the whole video.
        const double until = std::min(end + settings.estimateStretchTail(video), video.duration);
        const Result<void> made =
            co_await coordinator->compress(video, settings, QUrl::fromLocalFile(path), TimeRange{start, until},
                                           [](double) {}, stop);
        Result<PreviewPacketStats> stats = std::unexpected(Error::taskCancelled());
        if (made && !stop.stop_requested()) {
            stats = co_await probe->packetStats(QUrl::fromLocalFile(path), stop, end - start);
        }
        // Made for the estimate alone, it never outlives it.
        Files::removeFile(path);
        if (!stats) {
            co_return std::nullopt;
        }
        stretches.push_back({start, end, *stats});
    }
    if (stop.stop_requested() || !isAlive(self)) {
        co_return std::nullopt;
    }
    co_return settings.projectedRange(std::move(stretches), seconds ? *seconds : std::vector<std::int64_t>{},
                                      video.duration, video);
}

void AppViewModel::discardPreviewFile()
{
    if (m_previewURL) {
        Files::removeFile(m_previewURL->toLocalFile());
    }
    setPreviewURL(std::nullopt);
    setPreviewSizeEstimate(std::nullopt);
    setPreviewSettings(std::nullopt);
}

void AppViewModel::stopPreviewWork()
{
    if (m_previewTask) {
        m_previewTask->stop.request_stop();
    }
    if (m_isGeneratingPreview) {
        cancelCoordinatorInBackground();
    }
    discardPreviewFile();
    setIsGeneratingPreview(false);
}

void AppViewModel::settingsDidChange()
{
    if (!isBusy()) {
        updateAllItems([](BatchVideoItem &item) {
            item.state = BatchItemState::pending();
            item.progress = 0;
            item.outputURL.reset();
        });
        if (m_state.is(CompressionState::Case::completed)) {
            setState(CompressionState::idle());
        }
    }
    if (!m_previewURL && !m_isGeneratingPreview) {
        return;
    }
    stopPreviewWork();
}

std::optional<OutputSizeEstimate> AppViewModel::expectedOutputSize() const
{
    if (!m_video) {
        return std::nullopt;
    }
    if (m_settings.mode == CompressionMode::targetSize) {
        const auto bytes = targetSizeBytes(m_settings, *m_video);
        return bytes ? std::optional(OutputSizeEstimate{*bytes, *bytes}) : std::nullopt;
    }
    if (m_previewSettings == m_settings) {
        return m_previewSizeEstimate;
    }
    return std::nullopt;
}

QString AppViewModel::estimatedSizeText() const
{
    if (!m_video) {
        return emDash;
    }
    const auto expected = expectedOutputSize();
    if (m_settings.mode == CompressionMode::targetSize) {
        return expected ? Formatters::byteCount(expected->upperBound) : emDash;
    }
    if (expected) {
        return QStringLiteral("约 ") + Formatters::byteCount(expected->lowerBound) + QStringLiteral("–")
               + Formatters::byteCount(expected->upperBound);
    }
    return QStringLiteral("生成预览后估算");
}

QString AppViewModel::savingsText() const
{
    if (!m_video || m_video->fileSize <= 0) {
        return emDash;
    }
    const auto source = static_cast<double>(m_video->fileSize);
    const auto expected = expectedOutputSize();
    const auto saved = [&](std::int64_t bytes) { return 1 - static_cast<double>(bytes) / source; };
    if (m_settings.mode == CompressionMode::targetSize) {
        if (!expected) {
            return emDash;
        }
        if (saved(expected->upperBound) <= 0) {
            return QStringLiteral("目标可能大于原片");
        }
        return QStringLiteral("目标节省约 ") + percent(saved(expected->upperBound)) + QStringLiteral("%");
    }
    if (!expected) {
        return QStringLiteral("体积取决于画面内容");
    }
    if (saved(expected->upperBound) <= 0) {
        return QStringLiteral("样片未能缩小");
    }
    return QStringLiteral("根据样片预计节省 ") + percent(saved(expected->upperBound)) + QStringLiteral("%–")
           + percent(saved(expected->lowerBound)) + QStringLiteral("%");
}

// ---------------------------------------------------------------------------
// Batch run

QUrl AppViewModel::uniqueDestination(const VideoInfo &info, const QUrl &folder)
{
    const QString name = lastPathComponent(info.url);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = (dot > 0 ? name.left(dot) : name) + QStringLiteral("-compressed");
    const QDir dir(folder.toLocalFile());
    QString candidate = dir.filePath(stem + QStringLiteral(".mp4"));
    // exists() also finds folders: a folder of that name takes the name too.
    for (int k = 2; QFileInfo::exists(candidate); ++k) {
        candidate = dir.filePath(stem + QLatin1Char('-') + QString::number(k) + QStringLiteral(".mp4"));
    }
    return QUrl::fromLocalFile(candidate);
}

void AppViewModel::compressAll(const QUrl &folder)
{
    if (m_batchItems.isEmpty()) {
        return;
    }
    if (m_previewTask) {
        m_previewTask->stop.request_stop();
    }
    if (m_isGeneratingPreview) {
        cancelCoordinatorInBackground();
    }
    setIsGeneratingPreview(false);
    setProgress(0);
    setState(CompressionState::compressing());
    const QUuid runID = QUuid::createUuid();
    m_compressionRunID = runID;
    QList<QUuid> ids;
    ids.reserve(m_batchItems.size());
    m_runDurations.clear();
    for (const BatchVideoItem &item : std::as_const(m_batchItems)) {
        ids.append(item.id);
        m_runDurations.append(std::isfinite(item.info.duration) ? std::max(0.0, item.info.duration) : 0.0);
    }
    updateAllItems([](BatchVideoItem &item) {
        item.state = BatchItemState::pending();
        item.progress = 0;
        item.outputURL.reset();
    });
    const QList<std::shared_ptr<TaskHandle>> earlier{m_compressionTask, m_previewTask};
    m_compressionTask = startTask([this, runID, folder, settings = m_settings, ids, earlier](std::stop_token stop) {
        return runTask(runID, folder, settings, ids, earlier, stop);
    });
}

QCoro::Task<> AppViewModel::runTask(QUuid runID, QUrl folder, CompressionSettings settings, QList<QUuid> ids,
                                    QList<std::shared_ptr<TaskHandle>> earlier, std::stop_token stop)
{
    const QPointer<AppViewModel> self(this);
    const auto coordinator = m_coordinator;
    const auto fileAccess = m_fileAccess;

    // A cancelled run or sample may still be stopping its encode; never run two at once.
    co_await waitForEnd(std::exchange(earlier, {}));
    if (!isAlive(self)) {
        co_return;
    }
    // The run's speed counts from its first encode, not from the wait for the last one to stop.
    if (m_compressionRunID == runID) {
        m_runClock.start();
    }

    const bool folderAccess = fileAccess->start(folder);
    const auto releaseFolder = [&] {
        if (folderAccess) {
            fileAccess->stop(folder);
        }
    };
    int failures = 0;

    for (qsizetype position = 0; position < ids.size(); ++position) {
        if (stop.stop_requested()) {
            break;
        }
        const QUuid id = ids.at(position);
        const qsizetype row = indexOf(id);
        if (row < 0) {
            break;
        }
        const VideoInfo info = m_batchItems.at(row).info;
        const QUrl destination = uniqueDestination(info, folder);
        updateItem(row, [](BatchVideoItem &item) { item.state = BatchItemState::compressing(); });
        setCurrentItemName(lastPathComponent(info.url));

        const Result<void> result = co_await coordinator->compress(
            info, settings, destination, std::nullopt, runProgress(runID, id, position, ids.size()), stop);
        // Nothing to clean up after a failure: the coordinator wrote under a
        // name of its own and removed it; whatever now has the final name is
        // someone else's.
        if (!isAlive(self)) {
            releaseFolder();
            co_return;
        }
        if (result) {
            if (const qsizetype now = indexOf(id); now >= 0) {
                updateItem(now, [&](BatchVideoItem &item) {
                    item.state = BatchItemState::completed();
                    item.progress = 1;
                    item.outputURL = destination;
                });
            }
            Q_EMIT itemFinished(lastPathComponent(info.url), QString());
            continue;
        }
        if (stop.stop_requested()) {
            break;
        }
        ++failures;
        if (const qsizetype now = indexOf(id); now >= 0) {
            const QString message = result.error().description();
            updateItem(now, [&](BatchVideoItem &item) {
                item.state = BatchItemState::failed(message);
                item.progress = 0;
            });
            Q_EMIT itemFinished(lastPathComponent(info.url), message);
        }
    }

    if (m_compressionRunID != runID) {
        releaseFolder();
        co_return;
    }
    m_compressionRunID.reset();
    setCurrentItemName(std::nullopt);
    if (!stop.stop_requested()) {
        setProgress(1);
        setState(CompressionState::completed(folder));
        if (failures >= 1) {
            setAlertMessage(QStringLiteral("批量压缩完成，其中 ") + QString::number(failures)
                            + QStringLiteral(" 个视频失败。可在队列中查看原因。"));
        }
    } else {
        resetCompressingItems();
        setState(CompressionState::idle());
        setProgress(0);
    }
    releaseFolder();
}

ProgressCallback AppViewModel::runProgress(QUuid runID, QUuid id, qsizetype position, qsizetype count)
{
    // Holds the controller weakly: a report may arrive after it is gone.
    const QPointer<AppViewModel> weak(this);
    auto apply = [weak, runID, id, position, count](double fraction) {
        if (!isAlive(weak) || weak->m_compressionRunID != runID) {
            return;
        }
        AppViewModel *self = weak.data();
        const qsizetype row = self->indexOf(id);
        if (row < 0) {
            return;
        }
        self->updateItem(row, [fraction](BatchVideoItem &item) { item.progress = fraction; });
        const double n = count == 0 ? 1.0 : static_cast<double>(count);
        self->setProgress((static_cast<double>(position) + fraction) / n);
        self->updateRemaining(position, fraction);
    };
    return [apply](double fraction) {
        if (onMainThread()) {
            apply(fraction);
        } else {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [apply, fraction] { apply(fraction); }, Qt::QueuedConnection);
        }
    };
}

void AppViewModel::cancel()
{
    const std::shared_ptr<TaskHandle> run = m_compressionTask;
    m_compressionRunID.reset();
    requestStopOfAllTasks();
    resetCompressingItems();
    setCurrentItemName(std::nullopt);
    setIsGeneratingPreview(false);
    setProgress(0);
    setState(CompressionState::preparing());
    // A cancelled import no longer speaks for the state: when it ends, the
    // controller may be stopping a run that was started after it.
    const quint64 importGeneration = ++m_importGeneration;
    startDetached([this, run, importGeneration](std::stop_token) { return cancelFollowUp(run, importGeneration); });
}

QCoro::Task<> AppViewModel::cancelFollowUp(std::shared_ptr<TaskHandle> run, quint64 importGeneration)
{
    const QPointer<AppViewModel> self(this);
    const auto coordinator = m_coordinator;
    co_await coordinator->cancel();
    QList<std::shared_ptr<TaskHandle>> runs;
    runs.append(run);
    co_await waitForEnd(runs);
    if (!isAlive(self)) {
        co_return;
    }
    // Idle only if nothing newer (a run or an import) has taken over meanwhile.
    if (!m_compressionRunID && importGeneration == m_importGeneration
        && m_state.is(CompressionState::Case::preparing)) {
        setState(CompressionState::idle());
    }
}

// ---------------------------------------------------------------------------
// Queue editing

void AppViewModel::removeVideo()
{
    if (!m_selectedItemID) {
        return;
    }
    const qsizetype row = indexOf(*m_selectedItemID);
    if (row < 0) {
        return;
    }
    if (isBusy()) {
        cancel();
    }
    stopPreviewWork();
    const QUrl url = m_batchItems.at(row).info.url;
    removeItemAt(row);
    releaseSecurityScope(url);
    if (m_batchItems.isEmpty()) {
        setSelectedItemID(std::nullopt);
        setVideo(std::nullopt);
        setState(CompressionState::idle());
        setProgress(0);
    } else {
        const qsizetype next = std::min(row, m_batchItems.size() - 1);
        setSelectedItemID(m_batchItems.at(next).id);
        setVideo(m_batchItems.at(next).info);
    }
    setAlertMessage(std::nullopt);
}

void AppViewModel::removeItem(const QUuid &id)
{
    const qsizetype row = indexOf(id);
    if (row < 0) {
        return;
    }
    if (m_selectedItemID == id) {
        removeVideo();
        return;
    }
    releaseSecurityScope(m_batchItems.at(row).info.url);
    removeItemAt(row);
}

void AppViewModel::clearVideos()
{
    if (isBusy()) {
        return;
    }
    stopPreviewWork();
    for (const QUrl &url : std::as_const(m_securityScopedURLs)) {
        m_fileAccess->stop(url);
    }
    m_securityScopedURLs.clear();
    if (!m_batchItems.isEmpty()) {
        m_queueModel->beginReset();
        m_batchItems.clear();
        m_queuedPaths.clear();
        m_queueModel->endReset();
        Q_EMIT batchItemsChanged();
    }
    setSelectedItemID(std::nullopt);
    setVideo(std::nullopt);
    setCurrentItemName(std::nullopt);
    setProgress(0);
    setState(CompressionState::idle());
    setAlertMessage(std::nullopt);
}

void AppViewModel::replaceSelectedVideo(const QUrl &url)
{
    if (isBusy()) {
        return;
    }
    removeVideo();
    importVideos({url}, true);
}

void AppViewModel::releaseSecurityScope(const QUrl &url)
{
    const QUrl wanted = Files::standardized(url);
    for (qsizetype i = 0; i < m_securityScopedURLs.size(); ++i) {
        if (Files::standardized(m_securityScopedURLs.at(i)) == wanted) {
            m_fileAccess->stop(m_securityScopedURLs.at(i));
            m_securityScopedURLs.removeAt(i);
            return;
        }
    }
}

qsizetype AppViewModel::indexOf(const QUuid &id) const
{
    const auto found = std::ranges::find(m_batchItems, id, &BatchVideoItem::id);
    return found == m_batchItems.end() ? -1 : std::distance(m_batchItems.begin(), found);
}

void AppViewModel::appendItem(BatchVideoItem item)
{
    m_queueModel->beginAppend(1);
    m_queuedPaths.insert(Files::standardized(item.info.url).path());
    m_batchItems.append(std::move(item));
    m_queueModel->endAppend();
    Q_EMIT batchItemsChanged();
}

void AppViewModel::removeItemAt(qsizetype row)
{
    m_queueModel->beginRemove(static_cast<int>(row));
    m_queuedPaths.remove(Files::standardized(m_batchItems.at(row).info.url).path());
    m_batchItems.removeAt(row);
    m_queueModel->endRemove();
    Q_EMIT batchItemsChanged();
}

void AppViewModel::updateItem(qsizetype row, const std::function<void(BatchVideoItem &)> &edit)
{
    BatchVideoItem &item = m_batchItems[row];
    const BatchItemState state = item.state;
    const double progress = item.progress;
    const std::optional<QUrl> output = item.outputURL;
    edit(item);
    QList<int> roles;
    if (!(item.state == state)) {
        roles << BatchQueueModel::StateRole << BatchQueueModel::FailureMessageRole;
    }
    if (item.progress != progress) {
        roles << BatchQueueModel::ProgressRole;
    }
    if (item.outputURL != output) {
        roles << BatchQueueModel::OutputPathRole;
    }
    if (roles.isEmpty()) {
        return;
    }
    m_queueModel->rowChanged(static_cast<int>(row), roles);
    Q_EMIT batchItemsChanged();
}

void AppViewModel::updateAllItems(const std::function<void(BatchVideoItem &)> &edit)
{
    for (qsizetype row = 0; row < m_batchItems.size(); ++row) {
        updateItem(row, edit);
    }
}

void AppViewModel::resetCompressingItems()
{
    updateAllItems([](BatchVideoItem &item) {
        if (item.state.kind == BatchItemState::Case::compressing) {
            item.state = BatchItemState::pending();
            item.progress = 0;
        }
    });
}

// ---------------------------------------------------------------------------
// Properties

bool AppViewModel::hasActiveTask() const
{
    return isBusy() || m_isGeneratingPreview;
}

bool AppViewModel::isBusy() const
{
    return m_state.is(CompressionState::Case::preparing) || m_state.is(CompressionState::Case::compressing);
}

QString AppViewModel::stateText() const
{
    switch (m_state.kind) {
    case CompressionState::Case::idle:
        return QStringLiteral("idle");
    case CompressionState::Case::preparing:
        return QStringLiteral("preparing");
    case CompressionState::Case::compressing:
        return QStringLiteral("compressing");
    case CompressionState::Case::completed:
        return QStringLiteral("completed");
    case CompressionState::Case::failed:
        break;
    }
    return QStringLiteral("failed");
}

QVariantMap AppViewModel::videoMap() const
{
    if (!m_video) {
        return {};
    }
    const VideoInfo &v = *m_video;
    return {
        {QStringLiteral("url"), v.url},
        {QStringLiteral("path"), v.url.toLocalFile()},
        {QStringLiteral("fileName"), lastPathComponent(v.url)},
        {QStringLiteral("duration"), v.duration},
        {QStringLiteral("width"), static_cast<qint64>(v.width)},
        {QStringLiteral("height"), static_cast<qint64>(v.height)},
        {QStringLiteral("fileSize"), static_cast<qint64>(v.fileSize)},
        {QStringLiteral("videoBitrate"), v.videoBitrate},
        {QStringLiteral("frameRate"), v.frameRate},
        {QStringLiteral("codec"), v.codec},
        {QStringLiteral("audioTrackCount"), static_cast<qint64>(v.audioTrackCount)},
        {QStringLiteral("audioBitrate"), v.audioBitrate},
        {QStringLiteral("canCopyAudioToMP4"), v.canCopyAudioToMP4},
    };
}

QString AppViewModel::selectedItemIDText() const
{
    return m_selectedItemID ? BatchQueueModel::idText(*m_selectedItemID) : QString();
}

QString AppViewModel::formatDuration(double seconds)
{
    return Formatters::duration(seconds);
}

QString AppViewModel::formatBytes(qint64 bytes)
{
    return Formatters::byteCount(bytes);
}

void AppViewModel::setSettings(const CompressionSettings &settings)
{
    if (m_settings == settings) {
        return;
    }
    m_settings = settings;
    Q_EMIT settingsChanged();
    refreshDerived();
}

void AppViewModel::setModeText(const QString &mode)
{
    if (const auto parsed = compressionModeFromRaw(mode)) {
        CompressionSettings changed = m_settings;
        changed.mode = *parsed;
        setSettings(changed);
    }
}

void AppViewModel::setPlanText(const QString &plan)
{
    if (const auto parsed = compressionPlanFromRaw(plan)) {
        CompressionSettings changed = m_settings;
        changed.plan = *parsed;
        setSettings(changed);
    }
}

void AppViewModel::setTargetSizeMB(double megabytes)
{
    // A NaN would never compare equal and would announce a change on every write.
    if (std::isnan(megabytes)) {
        return;
    }
    CompressionSettings changed = m_settings;
    changed.targetSizeMB = megabytes;
    setSettings(changed);
}

void AppViewModel::setAlertMessage(std::optional<QString> message)
{
    if (m_alertMessage == message) {
        return;
    }
    m_alertMessage = std::move(message);
    Q_EMIT alertMessageChanged();
}

void AppViewModel::setAlertMessageText(const QString &message)
{
    setAlertMessage(message.isEmpty() ? std::nullopt : std::optional<QString>(message));
}

void AppViewModel::setVideo(std::optional<VideoInfo> video)
{
    if (m_video == video) {
        return;
    }
    m_video = std::move(video);
    Q_EMIT videoChanged();
    refreshDerived();
}

void AppViewModel::setSelectedItemID(std::optional<QUuid> id)
{
    if (m_selectedItemID == id) {
        return;
    }
    const std::optional<QUuid> previous = m_selectedItemID;
    m_selectedItemID = id;
    m_queueModel->selectionChanged(previous);
    Q_EMIT selectedItemIDChanged();
}

void AppViewModel::setState(CompressionState state)
{
    if (m_state == state) {
        return;
    }
    m_state = std::move(state);
    Q_EMIT stateChanged();
    refreshDerived();
}

void AppViewModel::setProgress(double progress)
{
    if (m_progress == progress) {
        return;
    }
    m_progress = progress;
    Q_EMIT progressChanged();
}

void AppViewModel::setCurrentItemName(std::optional<QString> name)
{
    if (m_currentItemName == name) {
        return;
    }
    // A new video's time is not the last one's; when the run ends there is none.
    setRemaining({}, name ? m_batchRemaining : QString());
    m_currentItemName = std::move(name);
    Q_EMIT currentItemNameChanged();
}

void AppViewModel::setRemaining(QString current, QString batch)
{
    if (current == m_currentRemaining && batch == m_batchRemaining) {
        return;
    }
    m_currentRemaining = std::move(current);
    m_batchRemaining = std::move(batch);
    Q_EMIT remainingChanged();
}

void AppViewModel::updateRemaining(qsizetype position, double fraction)
{
    double done = 0;
    double total = 0;
    for (qsizetype i = 0; i < m_runDurations.size(); ++i) {
        total += m_runDurations.at(i);
        done += i < position ? m_runDurations.at(i) : 0;
    }
    const double current = m_runDurations.value(position);
    done += fraction * current;
    const RemainingTime::Estimate left = RemainingTime::estimate(static_cast<double>(m_runClock.elapsed()) / 1000, done,
                                                                 total, fraction * current, current);
    setRemaining(left.current ? RemainingTime::text(*left.current) : QString(),
                 left.batch ? RemainingTime::text(*left.batch) : QString());
}

void AppViewModel::setPreviewURL(std::optional<QUrl> url)
{
    if (m_previewURL == url) {
        return;
    }
    m_previewURL = std::move(url);
    Q_EMIT previewURLChanged();
}

void AppViewModel::setPreviewStartTime(double seconds)
{
    if (m_previewStartTime == seconds) {
        return;
    }
    m_previewStartTime = seconds;
    Q_EMIT previewStartTimeChanged();
}

void AppViewModel::setPreviewSizeEstimate(std::optional<OutputSizeEstimate> estimate)
{
    if (m_previewSizeEstimate == estimate) {
        return;
    }
    m_previewSizeEstimate = estimate;
    refreshDerived();
}

void AppViewModel::setPreviewSettings(std::optional<CompressionSettings> settings)
{
    if (m_previewSettings == settings) {
        return;
    }
    m_previewSettings = settings;
    refreshDerived();
}

void AppViewModel::setIsGeneratingPreview(bool generating)
{
    if (m_isGeneratingPreview == generating) {
        return;
    }
    m_isGeneratingPreview = generating;
    Q_EMIT isGeneratingPreviewChanged();
    refreshDerived();
}

void AppViewModel::refreshDerived()
{
    const QString estimated = estimatedSizeText();
    const QString savings = savingsText();
    if (estimated != m_lastEstimatedSizeText || savings != m_lastSavingsText) {
        m_lastEstimatedSizeText = estimated;
        m_lastSavingsText = savings;
        Q_EMIT estimateTextsChanged();
    }
    const bool active = hasActiveTask();
    if (active != m_lastHasActiveTask) {
        m_lastHasActiveTask = active;
        Q_EMIT hasActiveTaskChanged();
    }
}

} // namespace slimreel
