#pragma once

#include "app/BatchQueueModel.h"
#include "compress/VideoCompressing.h"
#include "model/BatchVideoItem.h"
#include "model/CompressionSettings.h"
#include "model/CompressionState.h"
#include "model/OutputSizeEstimate.h"
#include "model/VideoInfo.h"
#include "platform/FileAccess.h"
#include "probe/VideoProbeService.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <QVariantMap>

#include <QCoroTask>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace slimreel {

// The one controller: owns the queue, the selection, the settings, the preview
// sample and the batch run. Every published field is a property with a change
// signal; operations return at once and start coroutine tasks on the main thread.
// Views and the command-line program only call operations and read properties.
class AppViewModel : public QObject {
    Q_OBJECT

    // The selected video (copy of its item's info); `hasVideo` false when none.
    Q_PROPERTY(bool hasVideo READ hasVideo NOTIFY videoChanged)
    Q_PROPERTY(QVariantMap video READ videoMap NOTIFY videoChanged)
    // The queue as a list model (roles documented in BatchQueueModel).
    Q_PROPERTY(BatchQueueModel *batchItems READ batchItemsModel CONSTANT)
    Q_PROPERTY(int itemCount READ itemCount NOTIFY batchItemsChanged)
    Q_PROPERTY(QString selectedItemID READ selectedItemIDText NOTIFY selectedItemIDChanged)

    // Settings, editable through two-way bindings; raw texts "quality"/"targetSize"
    // and "fastest"/"recommended"/"highQuality"/"smallest". Unknown texts are ignored.
    Q_PROPERTY(QString mode READ modeText WRITE setModeText NOTIFY settingsChanged)
    Q_PROPERTY(QString plan READ planText WRITE setPlanText NOTIFY settingsChanged)
    Q_PROPERTY(double targetSizeMB READ targetSizeMB WRITE setTargetSizeMB NOTIFY settingsChanged)

    // "idle", "preparing", "compressing", "completed" or "failed".
    Q_PROPERTY(QString state READ stateText NOTIFY stateChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY stateChanged)
    Q_PROPERTY(QUrl outputFolder READ outputFolder NOTIFY stateChanged)
    Q_PROPERTY(bool hasActiveTask READ hasActiveTask NOTIFY hasActiveTaskChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString currentItemName READ currentItemNameText NOTIFY currentItemNameChanged)
    // "剩余约 3 分钟" for the video being compressed and for the whole run, once
    // the run's speed is known; empty before that and when nothing runs.
    Q_PROPERTY(QString currentRemainingText READ currentRemainingText NOTIFY remainingChanged)
    Q_PROPERTY(QString batchRemainingText READ batchRemainingText NOTIFY remainingChanged)

    Q_PROPERTY(QUrl previewURL READ previewURLValue NOTIFY previewURLChanged)
    Q_PROPERTY(double previewStartTime READ previewStartTime NOTIFY previewStartTimeChanged)
    Q_PROPERTY(bool isGeneratingPreview READ isGeneratingPreview NOTIFY isGeneratingPreviewChanged)
    Q_PROPERTY(QString estimatedSizeText READ estimatedSizeText NOTIFY estimateTextsChanged)
    Q_PROPERTY(QString savingsText READ savingsText NOTIFY estimateTextsChanged)

    // Empty when there is nothing to show; views clear it when the alert is dismissed.
    Q_PROPERTY(QString alertMessage READ alertMessageText WRITE setAlertMessageText NOTIFY alertMessageChanged)

public:
    explicit AppViewModel(QObject *parent = nullptr);
    AppViewModel(std::shared_ptr<VideoProbeService> probe, std::shared_ptr<VideoCompressing> coordinator,
                 std::shared_ptr<FileAccess> fileAccess, QObject *parent = nullptr);
    ~AppViewModel() override;

    // Operations (main thread; return at once; never report failure to the caller).
    Q_INVOKABLE void importVideos(const QList<QUrl> &urls, bool selectFirstImported = false);
    Q_INVOKABLE void selectItem(const QUuid &id);
    Q_INVOKABLE void selectItem(const QString &id) { selectItem(QUuid::fromString(id)); }
    Q_INVOKABLE void replaceSelectedVideo(const QUrl &url);
    Q_INVOKABLE void generatePreview();
    Q_INVOKABLE void settingsDidChange();
    Q_INVOKABLE void compressAll(const QUrl &folder);
    Q_INVOKABLE void cancel();
    Q_INVOKABLE void removeVideo();
    Q_INVOKABLE void removeItem(const QUuid &id);
    Q_INVOKABLE void removeItem(const QString &id) { removeItem(QUuid::fromString(id)); }
    Q_INVOKABLE void clearVideos();
    Q_INVOKABLE void dismissAlert() { setAlertMessage(std::nullopt); }

    // Display helpers for the views, so that no view formats on its own.
    Q_INVOKABLE static QString formatDuration(double seconds);
    Q_INVOKABLE static QString formatBytes(qint64 bytes);

    // Typed access for C++ front ends and tests.
    const std::optional<VideoInfo> &video() const { return m_video; }
    const QList<BatchVideoItem> &batchItems() const { return m_batchItems; }
    std::optional<QUuid> selectedItemID() const { return m_selectedItemID; }
    const CompressionSettings &settings() const { return m_settings; }
    void setSettings(const CompressionSettings &settings);
    const CompressionState &state() const { return m_state; }
    double progress() const { return m_progress; }
    const std::optional<QString> &currentItemName() const { return m_currentItemName; }
    const std::optional<QUrl> &previewURL() const { return m_previewURL; }
    double previewStartTime() const { return m_previewStartTime; }
    const std::optional<OutputSizeEstimate> &previewSizeEstimate() const { return m_previewSizeEstimate; }
    bool isGeneratingPreview() const { return m_isGeneratingPreview; }
    const std::optional<QString> &alertMessage() const { return m_alertMessage; }
    void setAlertMessage(std::optional<QString> message);
    bool hasActiveTask() const;
    QString estimatedSizeText() const;
    QString savingsText() const;
    // The bytes behind the two texts: in target-size mode the planned size (both
    // bounds equal), in quality mode the estimate of a sample made with the
    // current settings; none when the texts show no number.
    std::optional<OutputSizeEstimate> expectedOutputSize() const;

    // True while any task the controller started (import, preview, run, the
    // follow-up of cancel(), a back-end cancellation) has not ended yet. When
    // the last one ends, becameIdle() follows from the event loop.
    bool hasRunningTasks() const { return m_runningTasks > 0; }

    // For a front end about to end the program: cancels whatever runs and
    // returns once it has ended, running the event loop meanwhile. An encode
    // cut short removes its partial output, and a sample its file, only after
    // their tool has stopped; a program that ended first would leave them.
    void finishBeforeExit();

    // Where a run writes the output of `info` in `folder`: "<name>-compressed.mp4",
    // then "-compressed-2", "-compressed-3", ... while the name is taken.
    static QUrl uniqueDestination(const VideoInfo &info, const QUrl &folder);
    // The stretch of a video of `duration` seconds that the preview sample covers.
    static TimeRange sampleWindow(double duration);
    // The target size chosen after an import: half the file size, whole megabytes, at least 1.
    static double suggestedTargetSizeMB(std::int64_t fileSize);

    // Property adapters.
    bool hasVideo() const { return m_video.has_value(); }
    QVariantMap videoMap() const;
    BatchQueueModel *batchItemsModel() const { return m_queueModel; }
    int itemCount() const { return static_cast<int>(m_batchItems.size()); }
    QString selectedItemIDText() const;
    QString modeText() const { return rawValue(m_settings.mode); }
    void setModeText(const QString &mode);
    QString planText() const { return rawValue(m_settings.plan); }
    void setPlanText(const QString &plan);
    double targetSizeMB() const { return m_settings.targetSizeMB; }
    void setTargetSizeMB(double megabytes);
    QString stateText() const;
    bool isBusy() const;
    QUrl outputFolder() const { return m_state.folder; }
    QString currentItemNameText() const { return m_currentItemName.value_or(QString()); }
    QString currentRemainingText() const { return m_currentRemaining; }
    QString batchRemainingText() const { return m_batchRemaining; }
    QUrl previewURLValue() const { return m_previewURL.value_or(QUrl()); }
    QString alertMessageText() const { return m_alertMessage.value_or(QString()); }
    void setAlertMessageText(const QString &message);

Q_SIGNALS:
    void videoChanged();
    void batchItemsChanged();
    void selectedItemIDChanged();
    void settingsChanged();
    void stateChanged();
    void hasActiveTaskChanged();
    void progressChanged();
    void currentItemNameChanged();
    void remainingChanged();
    void previewURLChanged();
    void previewStartTimeChanged();
    void isGeneratingPreviewChanged();
    void estimateTextsChanged();
    void alertMessageChanged();
    // A queued video is done (no reason) or failed (its reason): for a screen reader to announce.
    void itemFinished(const QString &fileName, const QString &failureReason);
    // The controller has nothing running any more (no import, preview, run or
    // cancellation follow-up); front ends that wait for the end listen to this.
    void becameIdle();

private:
    struct TaskHandle;
    using TaskBody = std::function<QCoro::Task<>(std::stop_token)>;

    // Tasks.
    QCoro::Task<> importTask(QList<QUrl> urls, bool selectFirstImported, quint64 generation, std::stop_token stop);
    // Further stretches of the video (a short video's opening for the recommended and smallest
    // plans, a few short ones for constant quality), encoded for the estimate only and deleted at once.
    QCoro::Task<std::optional<OutputSizeEstimate>>
    estimateFromStretches(VideoInfo video, CompressionSettings settings, TimeRange window,
                          PreviewPacketStats sampleStats, std::vector<std::pair<double, double>> ranges,
                          std::stop_token stop);
    QCoro::Task<> previewTask(VideoInfo video, CompressionSettings settings, std::optional<QUuid> selection,
                              QUrl sample, TimeRange window, quint64 generation,
                              QList<std::shared_ptr<TaskHandle>> earlier, std::stop_token stop);
    QCoro::Task<> runTask(QUuid runID, QUrl folder, CompressionSettings settings, QList<QUuid> ids,
                          QList<std::shared_ptr<TaskHandle>> earlier, std::stop_token stop);
    QCoro::Task<> cancelFollowUp(std::shared_ptr<TaskHandle> run, quint64 importGeneration);
    std::shared_ptr<TaskHandle> startTask(const TaskBody &body);
    void startDetached(const TaskBody &body);
    void cancelCoordinatorInBackground();
    void taskEnded();
    static QCoro::Task<> trackEnd(QPointer<AppViewModel> self, QCoro::Task<> inner);
    static QCoro::Task<> waitForEnd(QList<std::shared_ptr<TaskHandle>> tasks);
    void requestStopOfAllTasks();
    static bool isAlive(const QPointer<AppViewModel> &self);
    ProgressCallback runProgress(QUuid runID, QUuid id, qsizetype position, qsizetype count);

    // Shared steps.
    void stopPreviewWork();
    void discardPreviewFile();
    void releaseSecurityScope(const QUrl &url);
    void selectAfterImport(const std::optional<QUuid> &firstImported);
    bool isQueued(const QUrl &url) const;

    // Queue edits, each announced to the list model.
    qsizetype indexOf(const QUuid &id) const;
    void appendItem(BatchVideoItem item);
    void removeItemAt(qsizetype row);
    void updateItem(qsizetype row, const std::function<void(BatchVideoItem &)> &edit);
    void updateAllItems(const std::function<void(BatchVideoItem &)> &edit);
    void resetCompressingItems();

    // Setters that notify only on a real change.
    void setVideo(std::optional<VideoInfo> video);
    void setSelectedItemID(std::optional<QUuid> id);
    void setState(CompressionState state);
    void setProgress(double progress);
    void setCurrentItemName(std::optional<QString> name);
    void setRemaining(QString current, QString batch);
    void updateRemaining(qsizetype position, double fraction);
    void setPreviewURL(std::optional<QUrl> url);
    void setPreviewStartTime(double seconds);
    void setPreviewSizeEstimate(std::optional<OutputSizeEstimate> estimate);
    void setPreviewSettings(std::optional<CompressionSettings> settings);
    void setIsGeneratingPreview(bool generating);
    // Re-announces the derived texts and flag when they changed.
    void refreshDerived();

    std::optional<VideoInfo> m_video;
    QList<BatchVideoItem> m_batchItems;
    std::optional<QUuid> m_selectedItemID;
    CompressionSettings m_settings;
    CompressionState m_state = CompressionState::idle();
    double m_progress = 0;
    std::optional<QString> m_currentItemName;
    std::optional<QUrl> m_previewURL;
    double m_previewStartTime = 0;
    std::optional<OutputSizeEstimate> m_previewSizeEstimate;
    bool m_isGeneratingPreview = false;
    std::optional<QString> m_alertMessage;

    std::shared_ptr<VideoProbeService> m_probe;
    std::shared_ptr<VideoCompressing> m_coordinator;
    std::shared_ptr<FileAccess> m_fileAccess;
    BatchQueueModel *m_queueModel = nullptr;
    QList<QUrl> m_securityScopedURLs;
    // The standardized paths of the queued videos, so that a duplicate check
    // costs the same with a thousand queued as with one.
    QSet<QString> m_queuedPaths;
    std::optional<CompressionSettings> m_previewSettings;
    std::optional<QUuid> m_compressionRunID;
    // The current run's start and its videos' durations, in order, for its remaining time.
    QElapsedTimer m_runClock;
    QList<double> m_runDurations;
    QString m_currentRemaining;
    QString m_batchRemaining;

    std::shared_ptr<TaskHandle> m_importTask;
    std::shared_ptr<TaskHandle> m_compressionTask;
    std::shared_ptr<TaskHandle> m_previewTask;
    quint64 m_importGeneration = 0;
    quint64 m_previewGeneration = 0;
    int m_runningTasks = 0;
    bool m_destroying = false;
    // Last announced derived values, so their signals fire only on change.
    QString m_lastEstimatedSizeText;
    QString m_lastSavingsText;
    bool m_lastHasActiveTask = false;
};

} // namespace slimreel
