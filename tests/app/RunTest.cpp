#include "support/Fakes.h"

#include <QDir>
#include <QFile>

using namespace slimreel;
using namespace slimreel::test;

namespace {

class RunTest : public ControllerTest {
protected:
    // Queues v0.mp4, v1.mp4, ... and starts the run.
    void run(int count)
    {
        QList<QUrl> urls;
        for (int i = 0; i < count; ++i) {
            urls << video(QStringLiteral("v%1.mp4").arg(i));
        }
        importNow(urls);
        vm->compressAll(outputFolder());
    }
    void waitForCalls(qsizetype count)
    {
        ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() >= count; })) << "calls: " << count;
        ASSERT_EQ(coordinator->calls.size(), count);
    }
    QVariant role(int row, BatchQueueModel::Role r) const
    {
        return vm->batchItemsModel()->data(vm->batchItemsModel()->index(row), r);
    }
    QStringList itemStates() const
    {
        QStringList states;
        for (int i = 0; i < vm->batchItemsModel()->rowCount(); ++i) {
            states << role(i, BatchQueueModel::StateRole).toString();
        }
        return states;
    }
};

TEST(UniqueDestination, CompressedNameWithACounterWhenTaken)
{
    QTemporaryDir dir;
    const struct {
        const char *source;
        QStringList taken; // names already in the folder; a trailing '/' makes a folder
        const char *expected;
    } cases[] = {
        {"clip.mov", {}, "clip-compressed.mp4"},
        {"clip.mov", {"clip-compressed.mp4", "clip-compressed-2.mp4"}, "clip-compressed-3.mp4"},
        {"clip.mov", {"clip-compressed-2.mp4"}, "clip-compressed.mp4"},
        {"clip.mov", {"clip-compressed.mp4/"}, "clip-compressed-2.mp4"},
        {"archive.tar.gz", {}, "archive.tar-compressed.mp4"},
        {"noext", {}, "noext-compressed.mp4"},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        QDir folder(dir.filePath(QString::number(n++)));
        ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
        for (const QString &name : c.taken) {
            QFile f(folder.filePath(name));
            ASSERT_TRUE(name.endsWith(QLatin1Char('/')) ? folder.mkdir(name) : f.open(QIODevice::WriteOnly));
        }
        const VideoInfo info = makeInfo(QUrl::fromLocalFile(QStringLiteral("/videos/") + QString::fromUtf8(c.source)));
        EXPECT_EQ(AppViewModel::uniqueDestination(info, QUrl::fromLocalFile(folder.path())),
                  QUrl::fromLocalFile(folder.filePath(QString::fromUtf8(c.expected))));
    }
}

TEST_F(RunTest, CompressesEveryVideoInTurnWithTheSettingsOfTheStart)
{
    auto *model = vm->batchItemsModel();
    SignalCount inserted(model, &QAbstractItemModel::rowsInserted);
    SignalCount reset(model, &QAbstractItemModel::modelReset);
    vm->setPlanText(QStringLiteral("highQuality"));
    const CompressionSettings atStart = vm->settings();
    run(3);
    EXPECT_EQ(inserted.count(), 3);
    waitForCalls(1);
    const auto &first = *coordinator->calls.at(0);
    EXPECT_EQ(first.destination, QUrl::fromLocalFile(QDir(outputFolderPath()).filePath("v0-compressed.mp4")));
    EXPECT_FALSE(first.range);
    EXPECT_EQ(itemStates(), (QStringList{"compressing", "pending", "pending"}));
    EXPECT_EQ(access->started.last(), outputFolder()) << "the folder is opened for the run";

    vm->setPlanText(QStringLiteral("fastest"));
    EXPECT_EQ(vm->stateText(), "compressing") << "a settings change leaves the run alone";
    coordinator->succeed(0);
    waitForCalls(2);
    EXPECT_EQ(coordinator->calls.at(1)->settings, atStart);
    EXPECT_EQ(vm->currentItemNameText(), "v1.mp4");
    coordinator->fail(1, CompressionError::outputNotSmaller());
    waitForCalls(3);
    coordinator->succeed(2);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->state(), CompressionState::completed(outputFolder()));
    EXPECT_EQ(itemStates(), (QStringList{"completed", "failed", "completed"}));
    EXPECT_EQ(role(0, BatchQueueModel::FileNameRole).toString(), "v0.mp4");
    EXPECT_EQ(role(0, BatchQueueModel::ProgressRole).toDouble(), 1);
    EXPECT_EQ(role(0, BatchQueueModel::OutputPathRole).toString(), first.destination.toLocalFile());
    EXPECT_EQ(role(1, BatchQueueModel::FailureMessageRole).toString(),
              CompressionError::outputNotSmaller().errorDescription());

    // New settings forget the results, not the files.
    vm->setTargetSizeMB(5);
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_EQ(itemStates(), (QStringList{"pending", "pending", "pending"}));
    EXPECT_FALSE(vm->batchItems().at(0).outputURL);
    EXPECT_EQ(QDir(outputFolderPath()).entryList(QDir::Files).size(), 2);

    // Selection moves with two row changes; a removal is one row.
    SignalCount changed(model, &QAbstractItemModel::dataChanged);
    SignalCount removed(model, &QAbstractItemModel::rowsRemoved);
    vm->selectItem(vm->batchItems().at(1).id);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_FALSE(role(0, BatchQueueModel::IsSelectedRole).toBool());
    EXPECT_TRUE(role(1, BatchQueueModel::IsSelectedRole).toBool());
    vm->removeItem(vm->batchItems().at(0).id);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(role(0, BatchQueueModel::FileNameRole).toString(), "v1.mp4");
    EXPECT_EQ(reset.count(), 0);
}

TEST_F(RunTest, CancelStopsTheRunAndKeepsFinishedResults)
{
    run(3);
    waitForCalls(1);
    coordinator->succeed(0);
    waitForCalls(2);
    coordinator->calls.at(1)->progress(0.4);
    stateHistory.clear();
    vm->cancel();
    EXPECT_TRUE(coordinator->calls.at(1)->stop.stop_requested());
    EXPECT_EQ(itemStates(), (QStringList{"completed", "pending", "pending"}));
    EXPECT_EQ(vm->batchItems().at(1).progress, 0);
    EXPECT_EQ(vm->progress(), 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(stateHistory, (QStringList{"preparing", "idle"}));
    EXPECT_EQ(coordinator->calls.size(), 2) << "no item after the cancelled one";
    EXPECT_FALSE(vm->alertMessage());

    coordinator->calls.at(1)->progress(0.9);
    EXPECT_EQ(vm->progress(), 0);
    EXPECT_EQ(vm->batchItems().at(1).progress, 0);
}

// The remaining time appears once the run's speed is known, a new video starts without one, and nothing is left
// when the run is over.
TEST_F(RunTest, RemainingTimeOnceTheRunsSpeedIsKnown)
{
    run(2);
    waitForCalls(1);
    const auto texts = [&] { return QStringList{vm->currentRemainingText(), vm->batchRemainingText()}; };
    coordinator->calls.at(0)->progress(0.1);
    EXPECT_EQ(texts(), (QStringList{"", ""})) << "not in the first seconds";
    spinUntil([] { return false; }, std::chrono::milliseconds(5200)); // the event loop runs meanwhile
    coordinator->calls.at(0)->progress(0.5); // 30 of 120 s of video in 5.2 s: 90 s to go at 5.8 s a second
    EXPECT_EQ(texts(), (QStringList{"剩余不到 1 分钟", "剩余不到 1 分钟"}));
    coordinator->succeed(0);
    waitForCalls(2);
    EXPECT_EQ(texts(), (QStringList{"", "剩余不到 1 分钟"}));
    vm->cancel();
    EXPECT_EQ(texts(), (QStringList{"", ""}));
}

// The random sequences never reach this order: a stopped run whose encode ends
// only after a new run has started must not touch the new one.
TEST_F(RunTest, NewRunRightAfterCancelKeepsCompressing)
{
    coordinator->cancelEndsCalls = false;
    run(2);
    waitForCalls(1);
    vm->cancel();
    vm->compressAll(outputFolder());
    drainEvents();
    EXPECT_EQ(coordinator->calls.size(), 1) << "the new run waits for the old encode to stop";
    coordinator->fail(0, CompressionError::cancelled());
    waitForCalls(2);
    EXPECT_EQ(vm->stateText(), "compressing") << "the old follow-up must not set idle";
    EXPECT_EQ(itemStates(), (QStringList{"compressing", "pending"}));
    coordinator->succeed(1);
    waitForCalls(3);
    coordinator->succeed(2);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_EQ(coordinator->concurrentPeak(), 1);
}

TEST_F(RunTest, RemovingItemsDuringARun)
{
    enum class Remove { unselectedNotReached, unselectedRunning, selectedRunning, onlyItem };
    const struct {
        Remove what;
        int items;
        QStringList statesAfter; // of the items left
        const char *stateAfter;
        int calls;
    } cases[] = {
        // The run ends when it reaches the removed item; the ones after it stay pending.
        {Remove::unselectedNotReached, 3, {"completed", "pending"}, "completed", 1},
        {Remove::unselectedRunning, 3, {"completed", "completed"}, "completed", 3},
        {Remove::selectedRunning, 3, {"pending", "pending"}, "idle", 1},
        {Remove::onlyItem, 1, {}, "idle", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.what));
        vm->clearVideos();
        coordinator->calls.clear();
        coordinator->cancelCount = 0;
        run(c.items);
        waitForCalls(1);
        if (c.what == Remove::unselectedRunning) {
            coordinator->succeed(0);
            waitForCalls(2);
        }
        if (c.what == Remove::selectedRunning || c.what == Remove::onlyItem) {
            vm->removeVideo();
        } else {
            vm->removeItem(vm->batchItems().at(1).id);
        }
        EXPECT_EQ(coordinator->cancelCount > 0, c.what == Remove::selectedRunning || c.what == Remove::onlyItem);
        for (qsizetype i = 0; i < coordinator->calls.size(); ++i) {
            if (!coordinator->calls.at(i)->gate.isOpen()) {
                coordinator->succeed(i);
            }
            ASSERT_TRUE(spinUntil([&] { return coordinator->calls.at(i)->returned; }));
        }
        ASSERT_TRUE(settle());
        EXPECT_EQ(itemStates(), c.statesAfter);
        EXPECT_EQ(vm->stateText(), c.stateAfter);
        EXPECT_EQ(coordinator->calls.size(), c.calls);
        EXPECT_FALSE(vm->alertMessage());
    }
}

} // namespace
