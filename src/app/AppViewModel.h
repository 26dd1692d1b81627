#pragma once

#include "compress/VideoCompressing.h"
#include "model/BatchVideoItem.h"
#include "model/CompressionSettings.h"
#include "model/CompressionState.h"
#include "model/OutputSizeEstimate.h"
#include "model/VideoInfo.h"
#include "platform/FileAccess.h"
#include "probe/VideoProbeService.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <stop_token>

namespace slimreel {

class BatchQueueModel;

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
    // and "fastest"/"recommended"/"highQuality". Unknown texts are ignored.
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
    void previewURLChanged();
    void previewStartTimeChanged();
    void isGeneratingPreviewChanged();
    void estimateTextsChanged();
    void alertMessageChanged();
    // The controller has nothing running any more (no import, preview, run or
    // cancellation follow-up); front ends that wait for the end listen to this.
    void becameIdle();

private:
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
    std::optional<CompressionSettings> m_previewSettings;
    std::optional<QUuid> m_compressionRunID;
};

} // namespace slimreel
