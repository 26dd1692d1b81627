#pragma once

#include "app/AppFakes.h"
#include "app/AppViewModel.h"
#include "compress/EncoderCatalog.h"
#include "robustness/Hygiene.h"
#include "support/TestSupport.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace slimreel::test {

// A controller over the real probe service and coordinator: GStreamer,
// ffprobe and ffmpeg, or fakes of the two tools where the test puts them.
// Every test runs in a temporary folder of its own; afterwards the fixture
// checks that no source changed, no preview sample or pass folder is left,
// no child process is running and every output folder holds only whole videos.
class RealToolsTest : public ::testing::Test {
public:
    RealToolsTest();
    void TearDown() override;

    // Where the controller looks for the tools; the system's when not given.
    void makeController(QStringList ffmpeg = {}, QStringList ffprobe = {});

    // A copy of a test video as `name` in `folder` (the sources folder when
    // empty), or a file of the given bytes; both are guarded.
    QUrl source(const QString &name, const QString &media = QStringLiteral("h264_aac.mp4"),
                const QString &folder = {});
    QUrl sourceWithBytes(const QString &name, const QByteArray &bytes);
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString sourcesFolder() const { return path(QStringLiteral("sources")); }

    // A folder that the run writes into and that the checks inspect.
    QUrl outputFolder(const QString &name = QStringLiteral("out"));

    // A fake tool named `tool` in the fakes folder; its candidate list.
    QStringList fakeTool(const QString &tool, const QString &body);
    static QStringList noTool() { return {QStringLiteral("/nonexistent/slimreel-test/none")}; }

    void importNow(const QList<QUrl> &urls, bool selectFirst = false);
    // Runs the event loop until the controller has nothing running.
    bool settle(std::chrono::seconds timeout = std::chrono::seconds(180));
    // Compresses the whole queue into `folder` and waits for the end.
    void runAll(const QUrl &folder);

    // Row of the item whose source is `url`; -1 when not queued.
    qsizetype rowOf(const QUrl &url) const;
    const BatchVideoItem &item(const QUrl &url) const;
    QStringList queuedNames() const;
    // Names in a folder, sorted.
    static QStringList entries(const QString &folder);

    // Consistency of the controller that holds whatever happened.
    void expectConsistent() const;
    // Makes the sample of the selected video and expects it shown, with an estimate.
    void expectSampleMade();
    // The sample of `url` cannot be made: the alert gives a reason that
    // contains `reason`, and no sample is shown.
    void expectSampleFails(const QUrl &url, const QString &reason);
    // Every one of `good` was compressed into `folder`, which holds nothing else.
    void expectCompressed(const QList<QUrl> &good, const QString &folder);
    // Runs the queue into a new folder: `failing` fails with a reason that
    // contains `reason`, every other video is compressed.
    void expectRunFailsOnly(const QUrl &failing, const QString &reason);

    // Fixture state is public: table-driven tests build their inputs with free functions.
    PrivateTempFolder m_temp;
    QTemporaryDir m_dir;
    SourceGuard guard;
    EncoderCatalog catalog{EncoderProfile::software()};
    std::shared_ptr<RecordingFileAccess> access = std::make_shared<RecordingFileAccess>();
    std::unique_ptr<AppViewModel> vm;
    QStringList outputFolders;
    // Paths whose permissions the test lowered; restored before the checks.
    QStringList locked;
};

// The failure texts the user reads.
inline const QString unreadableText = QStringLiteral("无法读取这个视频文件");
inline const QString noVideoTrackText = QStringLiteral("文件中没有可用的视频轨道");
inline const QString noValidOutputText = QStringLiteral("没有生成有效的输出文件");
inline QString batchSummary(int failures)
{
    return QStringLiteral("批量压缩完成，其中 %1 个视频失败。可在队列中查看原因。").arg(failures);
}

} // namespace slimreel::test
