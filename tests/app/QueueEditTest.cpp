#include "support/Fakes.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

using namespace slimreel;
using namespace slimreel::test;

namespace {

class QueueEditTest : public ControllerTest {
protected:
    QString selectedName() const { return vm->video() ? vm->video()->url.fileName() : QString(); }
    void select(const QString &name) { vm->selectItem(vm->batchItems().at(queuedNames().indexOf(name)).id); }
};

TEST_F(QueueEditTest, RemovingTheSelectedVideoSelectsANeighbour)
{
    const struct {
        QStringList queue;
        const char *selected;
        const char *selectedAfter; // empty: nothing
    } cases[] = {
        {{"a.mp4", "b.mp4", "c.mp4"}, "b.mp4", "c.mp4"},
        {{"a.mp4", "b.mp4", "c.mp4"}, "c.mp4", "b.mp4"},
        {{"a.mp4", "b.mp4", "c.mp4"}, "a.mp4", "b.mp4"},
        {{"a.mp4"}, "a.mp4", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.selected);
        vm->clearVideos();
        QList<QUrl> urls;
        for (const QString &n : c.queue) {
            urls << video(n);
        }
        importNow(urls);
        select(QString::fromUtf8(c.selected));
        vm->setAlertMessage(QStringLiteral("an old message"));
        const int callsBefore = static_cast<int>(coordinator->calls.size());

        vm->removeVideo();
        EXPECT_FALSE(queuedNames().contains(QString::fromUtf8(c.selected)));
        EXPECT_EQ(selectedName(), QString::fromUtf8(c.selectedAfter));
        EXPECT_EQ(vm->selectedItemID().has_value(), vm->video().has_value());
        EXPECT_FALSE(vm->alertMessage());
        EXPECT_EQ(coordinator->calls.size(), callsBefore) << "selecting the neighbour starts no preview";
        if (vm->batchItems().isEmpty()) {
            EXPECT_EQ(vm->stateText(), "idle");
            EXPECT_EQ(vm->progress(), 0);
        }
    }
}

TEST_F(QueueEditTest, ClearVideos)
{
    probe->stepInspect = true;
    vm->importVideos({video(QStringLiteral("a.mp4")), video(QStringLiteral("b.mp4"))});
    ASSERT_TRUE(spinUntil([&] { return probe->inspectGates.size() == 1; }));
    probe->inspectGates.at(0)->open();
    ASSERT_TRUE(spinUntil([&] { return probe->inspectGates.size() == 2; }));
    vm->clearVideos(); // refused during an import
    EXPECT_EQ(queuedNames(), QStringList{"a.mp4"});
    probe->inspectGates.at(1)->open();
    ASSERT_TRUE(settle());
    probe->stepInspect = false;

    vm->compressAll(outputFolder());
    vm->clearVideos(); // refused during a run
    EXPECT_EQ(vm->batchItems().size(), 2);
    coordinator->succeed(0);
    ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() == 2; }));
    coordinator->succeed(1);
    ASSERT_TRUE(settle());
    vm->setAlertMessage(QStringLiteral("old"));

    SignalCount resets(vm->batchItemsModel(), &QAbstractItemModel::modelReset);
    vm->clearVideos();
    EXPECT_TRUE(vm->batchItems().isEmpty());
    EXPECT_EQ(resets.count(), 1);
    EXPECT_FALSE(vm->selectedItemID());
    EXPECT_FALSE(vm->video());
    EXPECT_FALSE(vm->currentItemName());
    EXPECT_FALSE(vm->alertMessage());
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_EQ(vm->progress(), 0);
    EXPECT_TRUE(access->balanced());
    EXPECT_TRUE(QFile::exists(QDir(outputFolderPath()).filePath(QStringLiteral("a-compressed.mp4"))))
        << "outputs stay on disk";
}

TEST_F(QueueEditTest, ReplaceSelectedVideo)
{
    const struct {
        const char *name;
        const char *replacement;
        bool readable;
        QStringList queueAfter;
        const char *selectedAfter;
        double targetAfter;
        const char *alert;
    } cases[] = {
        {"readable replacement goes to the end and is selected", "new.mp4", true, {"b.mp4", "new.mp4"}, "new.mp4", 15,
         ""},
        {"unreadable replacement: the first item takes over", "broken.avi", false, {"b.mp4"}, "b.mp4", 10,
         "broken.avi：无法读取这个视频文件"},
        {"replacement already queued", "b.mp4", true, {"b.mp4"}, "b.mp4", 20, "这些视频已经在队列中了"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        vm->clearVideos();
        importNow({video(QStringLiteral("a.mp4"), 60, 40'000'000), video(QStringLiteral("b.mp4"), 60, 20'000'000)});
        vm->setTargetSizeMB(20);
        const QString replacement = QString::fromUtf8(c.replacement);
        const QUrl url = c.readable ? video(replacement, 60, 30'000'000) : unreadable(replacement);
        vm->replaceSelectedVideo(url);
        ASSERT_TRUE(settle());
        EXPECT_EQ(queuedNames(), c.queueAfter);
        EXPECT_EQ(selectedName(), QString::fromUtf8(c.selectedAfter));
        EXPECT_EQ(vm->targetSizeMB(), c.targetAfter);
        EXPECT_EQ(vm->alertMessageText(), QString::fromUtf8(c.alert));
    }

    // Not while a run is active.
    vm->compressAll(outputFolder());
    vm->replaceSelectedVideo(video(QStringLiteral("other.mp4")));
    EXPECT_EQ(queuedNames(), QStringList{"b.mp4"});
}

// The controller going away with work in flight: nothing crashes, every access
// it started is stopped, no sample file stays behind, and the encode is stopped.
TEST_F(QueueEditTest, DestroyedWithTasksInFlight)
{
    enum class Work { import, sample, sampleStatistics, run, cancelFollowUp, finishedSample };
    const struct {
        const char *name;
        Work work;
    } cases[] = {
        {"import", Work::import},
        {"sample being encoded", Work::sample},
        {"sample being measured", Work::sampleStatistics},
        {"run", Work::run},
        {"cancellation follow-up", Work::cancelFollowUp},
        {"finished sample", Work::finishedSample},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto fakeProbe = std::make_shared<FakeProbe>();
        auto fakeCoordinator = std::make_shared<FakeCoordinator>();
        auto fileAccess = std::make_shared<RecordingFileAccess>();
        fakeCoordinator->cancelEndsCalls = false;
        const QUrl a = url(QStringLiteral("a.mp4"));
        const QUrl b = url(QStringLiteral("b.mp4"));
        fakeProbe->add(makeInfo(a, 60, 50'000'000));
        fakeProbe->add(makeInfo(b, 60, 50'000'000));
        auto controller = std::make_unique<AppViewModel>(fakeProbe, fakeCoordinator, fileAccess);
        controller->importVideos({a});
        ASSERT_TRUE(spinUntil([&] { return !controller->hasRunningTasks(); }));
        ProgressCallback progress;

        switch (c.work) {
        case Work::import:
            fakeProbe->stepInspect = true;
            controller->importVideos({b});
            ASSERT_TRUE(spinUntil([&] { return fakeProbe->inspectGates.size() == 1; }));
            break;
        case Work::sample:
            controller->generatePreview();
            break;
        case Work::sampleStatistics:
        case Work::finishedSample:
            fakeProbe->stepStats = c.work == Work::sampleStatistics;
            controller->generatePreview();
            fakeCoordinator->succeed(0);
            ASSERT_TRUE(spinUntil([&] { return fakeCoordinator->calls.at(0)->returned; }));
            ASSERT_TRUE(spinUntil([&] { return !fakeProbe->statsRequests.isEmpty(); }));
            break;
        case Work::run:
        case Work::cancelFollowUp:
            controller->compressAll(outputFolder());
            if (c.work == Work::cancelFollowUp) {
                controller->cancel();
            }
            progress = fakeCoordinator->calls.at(0)->progress;
            break;
        }
        const qsizetype calls = fakeCoordinator->calls.size();
        controller.reset();

        // The work ends after its controller; its late results go nowhere.
        if (progress) {
            progress(0.5);
        }
        for (const auto &gate : std::as_const(fakeProbe->inspectGates)) {
            gate->open();
        }
        for (const auto &gate : std::as_const(fakeProbe->statsGates)) {
            gate->open();
        }
        for (qsizetype i = 0; i < fakeCoordinator->calls.size(); ++i) {
            if (!fakeCoordinator->calls.at(i)->gate.isOpen()) {
                EXPECT_TRUE(fakeCoordinator->calls.at(i)->stop.stop_requested());
                fakeCoordinator->succeed(i);
            }
        }
        drainEvents();
        EXPECT_EQ(fakeCoordinator->calls.size(), calls) << "nothing new starts";
        EXPECT_TRUE(fileAccess->balanced());
        if (c.work != Work::import && c.work != Work::finishedSample) {
            EXPECT_GE(fakeCoordinator->cancelCount, 1);
        }
        for (const auto &call : std::as_const(fakeCoordinator->calls)) {
            if (call->range) {
                EXPECT_FALSE(QFile::exists(call->destination.toLocalFile())) << "sample file left behind";
            }
        }
    }
}

} // namespace
