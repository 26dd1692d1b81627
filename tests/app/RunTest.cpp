#include "support/Fakes.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace slimreel;
using namespace slimreel::test;

namespace {

class RunTest : public ControllerTest {
protected:
    // Imports `count` videos named v0.mp4, v1.mp4, ... and returns their URLs.
    QList<QUrl> queue(int count)
    {
        QList<QUrl> urls;
        for (int i = 0; i < count; ++i) {
            urls << video(QStringLiteral("v%1.mp4").arg(i));
        }
        importNow(urls);
        return urls;
    }
    // Waits until the fake has received `count` compress calls.
    void waitForCalls(qsizetype count)
    {
        ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() >= count; })) << "calls: " << count;
        ASSERT_EQ(coordinator->calls.size(), count);
    }
    QString out(const QString &name) const { return QDir(outputFolderPath()).filePath(name); }
    QStringList outputFiles() const { return QDir(outputFolderPath()).entryList(QDir::Files, QDir::Name); }
};

TEST(UniqueDestination, CompressedNameWithACounterWhenTaken)
{
    QTemporaryDir dir;
    const struct {
        const char *source;
        QStringList taken;     // files already in the folder
        QStringList takenDirs; // folders already in the folder
        const char *expected;
    } cases[] = {
        {"clip.mov", {}, {}, "clip-compressed.mp4"},
        {"clip.mov", {"clip-compressed.mp4"}, {}, "clip-compressed-2.mp4"},
        {"clip.mov", {"clip-compressed.mp4", "clip-compressed-2.mp4"}, {}, "clip-compressed-3.mp4"},
        {"clip.mov", {"clip-compressed-2.mp4"}, {}, "clip-compressed.mp4"},
        {"clip.mov", {}, {"clip-compressed.mp4"}, "clip-compressed-2.mp4"},
        {"clip.mp4", {"clip.mp4"}, {}, "clip-compressed.mp4"},
        {"archive.tar.gz", {}, {}, "archive.tar-compressed.mp4"},
        {"noext", {}, {}, "noext-compressed.mp4"},
        {"名字 with space.mkv", {}, {}, "名字 with space-compressed.mp4"},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        QDir folder(dir.filePath(QString::number(n++)));
        ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
        for (const QString &name : c.taken) {
            QFile f(folder.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        for (const QString &name : c.takenDirs) {
            ASSERT_TRUE(folder.mkdir(name));
        }
        const VideoInfo info = makeInfo(QUrl::fromLocalFile(QStringLiteral("/videos/") + QString::fromUtf8(c.source)), 1, 1);
        const QUrl result = AppViewModel::uniqueDestination(info, QUrl::fromLocalFile(folder.path()));
        EXPECT_EQ(result, QUrl::fromLocalFile(folder.filePath(QString::fromUtf8(c.expected))));
    }
}

TEST_F(RunTest, CompressesEveryVideoInTurnWithTheSettingsOfTheStart)
{
    const auto urls = queue(3);
    vm->setPlanText(QStringLiteral("highQuality"));
    const CompressionSettings atStart = vm->settings();
    stateHistory.clear();
    vm->compressAll(outputFolder());
    EXPECT_EQ(vm->stateText(), "compressing");
    EXPECT_EQ(vm->progress(), 0);
    waitForCalls(1);
    const auto &first = *coordinator->calls.at(0);
    EXPECT_EQ(first.info.url, urls.at(0));
    EXPECT_EQ(first.destination, QUrl::fromLocalFile(out(QStringLiteral("v0-compressed.mp4"))));
    EXPECT_FALSE(first.range);
    EXPECT_EQ(first.settings, atStart);
    EXPECT_EQ(itemState(0), "compressing");
    EXPECT_EQ(itemState(1), "pending");
    EXPECT_EQ(vm->currentItemNameText(), "v0.mp4");
    EXPECT_EQ(access->started.last(), outputFolder()) << "the folder is opened for the run";

    // Settings changed during the run touch neither the run nor the items.
    vm->setPlanText(QStringLiteral("fastest"));
    EXPECT_EQ(itemState(0), "compressing");
    EXPECT_EQ(vm->stateText(), "compressing");

    coordinator->succeed(0);
    waitForCalls(2);
    EXPECT_EQ(itemState(0), "completed");
    EXPECT_EQ(vm->batchItems().at(0).progress, 1);
    EXPECT_EQ(vm->batchItems().at(0).outputURL, first.destination);
    EXPECT_EQ(coordinator->calls.at(1)->settings, atStart);
    EXPECT_EQ(vm->currentItemNameText(), "v1.mp4");

    coordinator->fail(1, CompressionError::outputNotSmaller());
    waitForCalls(3);
    EXPECT_EQ(vm->batchItems().at(1).state,
              BatchItemState::failed(QStringLiteral(
                  "压缩结果没有变小，已移除无效输出。建议选择“小文件”、降低目标体积，或改用 FFmpeg 引擎。")));
    EXPECT_EQ(vm->batchItems().at(1).progress, 0);

    coordinator->succeed(2);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->state(), CompressionState::completed(outputFolder()));
    EXPECT_EQ(vm->outputFolder(), outputFolder());
    EXPECT_EQ(vm->progress(), 1);
    EXPECT_FALSE(vm->currentItemName());
    EXPECT_EQ(vm->alertMessageText(), QStringLiteral("批量压缩完成，其中 1 个视频失败。可在队列中查看原因。"));
    EXPECT_EQ(stateHistory, (QStringList{"compressing", "completed"}));
    EXPECT_EQ(outputFiles(), (QStringList{"v0-compressed.mp4", "v2-compressed.mp4"}));
    EXPECT_EQ(coordinator->concurrentPeak(), 1);
    EXPECT_TRUE(access->stopped.contains(outputFolder()));
}

TEST_F(RunTest, OverallProgressDuringTheSecondOfFour)
{
    queue(4);
    vm->compressAll(outputFolder());
    waitForCalls(1);
    coordinator->succeed(0);
    waitForCalls(2);
    EXPECT_EQ(vm->progress(), 0) << "set only by progress reports";
    const struct {
        double reported;
        double overall;
    } steps[] = {{0, 0.25}, {0.2, 0.3}, {0.5, 0.375}, {0.99, 0.4975}, {1, 0.5}};
    SignalCount rows(vm->batchItemsModel(), &QAbstractItemModel::dataChanged);
    SignalCount resets(vm->batchItemsModel(), &QAbstractItemModel::modelReset);
    for (const auto &s : steps) {
        coordinator->calls.at(1)->progress(s.reported);
        EXPECT_DOUBLE_EQ(vm->progress(), s.overall);
        EXPECT_EQ(vm->batchItems().at(1).progress, s.reported);
    }
    EXPECT_EQ(rows.count(), 4) << "one row change per new fraction (the first equals the start)";
    EXPECT_EQ(resets.count(), 0);
    coordinator->succeed(1);
    waitForCalls(3);
    coordinator->calls.at(2)->progress(0.5);
    EXPECT_DOUBLE_EQ(vm->progress(), 0.625);
}

TEST_F(RunTest, SameNamesFromDifferentFoldersGetNumberedNames)
{
    QDir(m_dir.path()).mkpath(QStringLiteral("a"));
    QDir(m_dir.path()).mkpath(QStringLiteral("b"));
    const struct {
        const char *name;
        bool firstSucceeds;
        const char *secondName;
    } cases[] = {
        {"first written", true, "clip-compressed-2.mp4"},
        {"first failed without output", false, "clip-compressed.mp4"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(outputFolderPath()).removeRecursively();
        QDir(m_dir.path()).mkpath(QStringLiteral("out"));
        vm->clearVideos();
        coordinator->calls.clear();
        importNow({video(QStringLiteral("a/clip.mp4")), video(QStringLiteral("b/clip.mp4"))});
        ASSERT_EQ(vm->batchItems().size(), 2);
        vm->compressAll(outputFolder());
        waitForCalls(1);
        EXPECT_EQ(coordinator->calls.at(0)->destination.fileName(), "clip-compressed.mp4");
        if (c.firstSucceeds) {
            coordinator->succeed(0);
        } else {
            coordinator->fail(0, CompressionError::failed(QStringLiteral("x")));
        }
        waitForCalls(2);
        EXPECT_EQ(coordinator->calls.at(1)->destination.fileName(), QString::fromUtf8(c.secondName));
        coordinator->succeed(1);
        ASSERT_TRUE(settle());
    }
}

TEST_F(RunTest, CancelStopsTheRunAndKeepsFinishedResults)
{
    queue(3);
    vm->compressAll(outputFolder());
    waitForCalls(1);
    coordinator->succeed(0);
    waitForCalls(2);
    coordinator->calls.at(1)->progress(0.4);
    const ProgressCallback lateProgress = coordinator->calls.at(1)->progress;
    stateHistory.clear();

    vm->cancel();
    EXPECT_TRUE(coordinator->calls.at(1)->stop.stop_requested());
    EXPECT_EQ(coordinator->cancelCount, 1);
    EXPECT_EQ(itemState(0), "completed");
    EXPECT_EQ(itemState(1), "pending");
    EXPECT_EQ(vm->batchItems().at(1).progress, 0);
    EXPECT_EQ(vm->progress(), 0);
    EXPECT_FALSE(vm->currentItemName());
    ASSERT_TRUE(settle());

    EXPECT_EQ(stateHistory, (QStringList{"preparing", "idle"}));
    EXPECT_EQ(itemState(2), "pending");
    EXPECT_EQ(coordinator->calls.size(), 2) << "no item after the cancelled one";
    EXPECT_FALSE(vm->alertMessage());
    EXPECT_EQ(access->stopped, (QList<QUrl>{outputFolder()}));

    lateProgress(0.9);
    EXPECT_EQ(vm->progress(), 0);
    EXPECT_EQ(vm->batchItems().at(1).progress, 0);
}

// A stopped run that ends late must leave the run started after it alone.
TEST_F(RunTest, NewRunRightAfterCancelKeepsCompressing)
{
    coordinator->cancelEndsCalls = false;
    queue(2);
    vm->compressAll(outputFolder());
    waitForCalls(1);
    const ProgressCallback oldProgress = coordinator->calls.at(0)->progress;
    vm->cancel();
    vm->compressAll(outputFolder());
    EXPECT_EQ(vm->stateText(), "compressing");
    drainEvents();
    EXPECT_EQ(coordinator->calls.size(), 1) << "the new run waits for the old encode to stop";

    coordinator->fail(0, CompressionError::cancelled());
    waitForCalls(2);
    EXPECT_EQ(vm->stateText(), "compressing") << "the old follow-up must not set idle";
    EXPECT_EQ(itemState(0), "compressing");

    // Reports of the old run are dropped.
    oldProgress(0.8);
    EXPECT_EQ(vm->progress(), 0);
    EXPECT_EQ(vm->batchItems().at(0).progress, 0);

    coordinator->succeed(1);
    waitForCalls(3);
    coordinator->succeed(2);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_FALSE(vm->alertMessage());
    EXPECT_EQ(coordinator->concurrentPeak(), 1);
}

TEST_F(RunTest, RemovingItemsDuringARun)
{
    enum class Remove { unselectedNotReached, unselectedRunning, selectedRunning, onlyItem };
    const struct {
        const char *name;
        Remove what;
        int items;
        QStringList statesAfter; // of the items left, in order
        const char *stateAfter;
        int calls;
    } cases[] = {
        // The run ends when it reaches the removed item; the ones after it stay pending.
        {"unselected, not yet reached", Remove::unselectedNotReached, 3, {"completed", "pending"}, "completed", 1},
        // The run neither stops nor pauses.
        {"unselected, being compressed", Remove::unselectedRunning, 3, {"completed", "completed"}, "completed", 3},
        {"selected, being compressed", Remove::selectedRunning, 3, {"pending", "pending"}, "idle", 1},
        {"the only item", Remove::onlyItem, 1, {}, "idle", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        vm->clearVideos();
        ASSERT_TRUE(settle());
        coordinator->calls.clear();
        coordinator->cancelCount = 0;
        queue(c.items);
        vm->compressAll(outputFolder());
        waitForCalls(1);
        switch (c.what) {
        case Remove::unselectedNotReached:
            vm->removeItem(vm->batchItems().at(1).id);
            break;
        case Remove::unselectedRunning:
            coordinator->succeed(0);
            waitForCalls(2);
            vm->removeItem(vm->batchItems().at(1).id);
            break;
        case Remove::selectedRunning:
        case Remove::onlyItem:
            vm->removeVideo();
            break;
        }
        EXPECT_EQ(coordinator->cancelCount > 0, c.what == Remove::selectedRunning || c.what == Remove::onlyItem);
        if (c.what == Remove::unselectedNotReached) {
            coordinator->succeed(0);
        }
        for (qsizetype i = 0; i < coordinator->calls.size(); ++i) {
            if (!coordinator->calls.at(i)->gate.isOpen()) {
                coordinator->succeed(i);
            }
            ASSERT_TRUE(spinUntil([&] { return coordinator->calls.at(i)->returned; }));
        }
        ASSERT_TRUE(settle());
        QStringList states;
        for (qsizetype i = 0; i < vm->batchItems().size(); ++i) {
            states << itemState(i);
        }
        EXPECT_EQ(states, c.statesAfter);
        EXPECT_EQ(vm->stateText(), c.stateAfter);
        EXPECT_EQ(coordinator->calls.size(), c.calls);
        EXPECT_FALSE(vm->alertMessage());
    }
    vm->clearVideos();
    EXPECT_TRUE(access->balanced());
}

TEST_F(RunTest, NewSettingsAfterARunForgetItsResults)
{
    queue(2);
    vm->compressAll(outputFolder());
    waitForCalls(1);
    coordinator->succeed(0);
    waitForCalls(2);
    coordinator->fail(1, CompressionError::failed(QStringLiteral("x")));
    ASSERT_TRUE(settle());
    ASSERT_EQ(vm->stateText(), "completed");

    vm->setTargetSizeMB(5);
    EXPECT_EQ(vm->stateText(), "idle");
    for (const auto &item : vm->batchItems()) {
        EXPECT_EQ(item.state, BatchItemState::pending());
        EXPECT_EQ(item.progress, 0);
        EXPECT_FALSE(item.outputURL);
    }
    EXPECT_TRUE(QFile::exists(out(QStringLiteral("v0-compressed.mp4")))) << "written outputs stay on disk";
}

} // namespace
