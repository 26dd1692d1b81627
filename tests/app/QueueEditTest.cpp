#include "support/Fakes.h"

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
        vm->removeVideo();
        EXPECT_FALSE(queuedNames().contains(QString::fromUtf8(c.selected)));
        EXPECT_EQ(selectedName(), QString::fromUtf8(c.selectedAfter));
        EXPECT_FALSE(vm->alertMessage());
        EXPECT_TRUE(coordinator->calls.isEmpty()) << "selecting the neighbour starts no preview";
    }
}

TEST_F(QueueEditTest, RemovingAnUnselectedItemLeavesTheRestAlone)
{
    importNow({video(QStringLiteral("a.mp4")), video(QStringLiteral("b.mp4"))});
    vm->generatePreview();
    coordinator->succeed(0);
    ASSERT_TRUE(settle());
    const auto preview = vm->previewURL();
    ASSERT_TRUE(preview);
    vm->setAlertMessage(QStringLiteral("kept"));

    vm->removeItem(vm->batchItems().at(1).id);
    EXPECT_EQ(queuedNames(), QStringList{"a.mp4"});
    EXPECT_EQ(vm->previewURL(), preview);
    EXPECT_EQ(vm->alertMessageText(), "kept");

    // The selected one through removeItem goes the removeVideo way.
    vm->removeItem(vm->batchItems().at(0).id);
    EXPECT_TRUE(vm->batchItems().isEmpty());
    EXPECT_FALSE(vm->previewURL());
    EXPECT_FALSE(vm->alertMessage());
}

// Clearing is refused during a run; afterwards it empties the queue, and no file is deleted.
TEST_F(QueueEditTest, ClearVideosKeepsSourcesAndOutputs)
{
    QList<QUrl> urls;
    for (const QString &n : {QStringLiteral("a.mp4"), QStringLiteral("b.mp4"), QStringLiteral("c.mp4")}) {
        urls << video(n);
        QFile f(urls.last().toLocalFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    importNow(urls);
    vm->compressAll(outputFolder());
    vm->clearVideos();
    EXPECT_EQ(vm->batchItems().size(), 3);
    for (qsizetype i = 0; i < 3; ++i) {
        ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() == i + 1; }));
        coordinator->succeed(i);
    }
    ASSERT_TRUE(settle());

    SignalCount resets(vm->batchItemsModel(), &QAbstractItemModel::modelReset);
    vm->removeItem(vm->batchItems().at(2).id);
    vm->removeVideo();
    vm->clearVideos();
    EXPECT_TRUE(vm->batchItems().isEmpty());
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_EQ(vm->progress(), 0);
    for (const QUrl &u : urls) {
        EXPECT_TRUE(QFile::exists(u.toLocalFile()));
    }
    EXPECT_EQ(QDir(outputFolderPath()).entryList(QDir::Files).size(), 3);
}

TEST_F(QueueEditTest, ReplaceSelectedVideo)
{
    const struct {
        const char *replacement;
        bool readable;
        QStringList queueAfter;
        const char *selectedAfter;
        double targetAfter;
        QString alert;
    } cases[] = {
        {"new.mp4", true, {"b.mp4", "new.mp4"}, "new.mp4", 15, {}},
        // Unreadable: the first item takes over.
        {"broken.avi", false, {"b.mp4"}, "b.mp4", 10, importFailure("broken.avi", VideoProbeError::unreadable)},
        {"b.mp4", true, {"b.mp4"}, "b.mp4", 20, alreadyQueuedText},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.replacement);
        vm->clearVideos();
        importNow({video(QStringLiteral("a.mp4"), 60, 40'000'000), video(QStringLiteral("b.mp4"), 60, 20'000'000)});
        vm->setTargetSizeMB(20);
        const QString replacement = QString::fromUtf8(c.replacement);
        vm->replaceSelectedVideo(c.readable ? video(replacement, 60, 30'000'000) : unreadable(replacement));
        ASSERT_TRUE(settle());
        EXPECT_EQ(queuedNames(), c.queueAfter);
        EXPECT_EQ(selectedName(), QString::fromUtf8(c.selectedAfter));
        EXPECT_EQ(vm->targetSizeMB(), c.targetAfter);
        EXPECT_EQ(vm->alertMessageText(), c.alert);
    }

    vm->compressAll(outputFolder());
    vm->replaceSelectedVideo(video(QStringLiteral("other.mp4")));
    EXPECT_EQ(queuedNames(), QStringList{"b.mp4"}) << "not during a run";
}

} // namespace
