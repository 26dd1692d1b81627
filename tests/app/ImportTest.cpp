#include "support/Fakes.h"

#include "support/TestSupport.h"


using namespace slimreel;
using namespace slimreel::test;

namespace {

class ImportTest : public ControllerTest {};

TEST_F(ImportTest, AddsVideosInOrderAndSelectsTheFirst)
{
    const QUrl a = video(QStringLiteral("a.mp4"));
    const QUrl b = video(QStringLiteral("b.mov"));
    importNow({a, b});

    EXPECT_EQ(queuedNames(), (QStringList{"a.mp4", "b.mov"}));
    EXPECT_EQ(vm->stateText(), "idle");
    ASSERT_TRUE(vm->selectedItemID());
    EXPECT_EQ(*vm->selectedItemID(), vm->batchItems().at(0).id);
    ASSERT_TRUE(vm->video());
    EXPECT_EQ(vm->video()->url, a);
    EXPECT_FALSE(vm->alertMessage());
    EXPECT_EQ(stateHistory, (QStringList{"preparing", "idle"}));
    for (const auto &item : vm->batchItems()) {
        EXPECT_EQ(item.state, BatchItemState::pending());
        EXPECT_EQ(item.progress, 0);
        EXPECT_FALSE(item.outputURL);
    }
}

TEST_F(ImportTest, DuplicateRules)
{
    const struct {
        const char *name;
        QStringList first;  // imported beforehand
        QStringList second; // then these
        QStringList queued; // file names in the queue afterwards
        bool alreadyQueuedAlert;
    } cases[] = {
        {"same file twice in one list", {}, {"a.mp4", "a.mp4"}, {"a.mp4"}, false},
        {"dot component in the same list", {}, {"a.mp4", "./a.mp4"}, {"a.mp4"}, false},
        {"dot-dot component", {"a.mp4"}, {"sub/../a.mp4"}, {"a.mp4"}, true},
        {"all already queued", {"a.mp4", "b.mp4"}, {"b.mp4", "a.mp4"}, {"a.mp4", "b.mp4"}, true},
        {"one new among known ones, silently", {"a.mp4"}, {"a.mp4", "c.mp4"}, {"a.mp4", "c.mp4"}, false},
        {"empty list changes nothing", {"a.mp4"}, {}, {"a.mp4"}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        vm->clearVideos();
        ASSERT_TRUE(settle());
        for (const QString &n : QStringList{"a.mp4", "b.mp4", "c.mp4"}) {
            video(n);
        }
        const auto urls = [&](const QStringList &names) {
            QList<QUrl> list;
            for (const QString &n : names) {
                list << QUrl::fromLocalFile(m_dir.path() + QLatin1Char('/') + n);
            }
            return list;
        };
        importNow(urls(c.first));
        vm->dismissAlert();
        const qsizetype probedBefore = probe->inspected.size();
        const auto historyBefore = stateHistory.size();
        importNow(urls(c.second));
        EXPECT_EQ(queuedNames(), c.queued);
        if (c.alreadyQueuedAlert) {
            EXPECT_EQ(vm->alertMessageText(), QStringLiteral("这些视频已经在队列中了"));
            EXPECT_EQ(probe->inspected.size(), probedBefore) << "known files are not probed again";
            EXPECT_EQ(stateHistory.size(), historyBefore) << "nothing starts";
        } else {
            EXPECT_FALSE(vm->alertMessage());
        }
    }
}

TEST_F(ImportTest, FailureLinesShowAtMostThree)
{
    const struct {
        int bad;
        int good;
        int linesShown;
    } cases[] = {{1, 1, 1}, {3, 2, 3}, {5, 0, 3}, {5, 2, 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.bad << " bad, " << c.good << " good");
        vm->clearVideos();
        QList<QUrl> urls;
        QStringList expectedLines;
        QStringList expectedQueue;
        // Interleave bad and good files so that order matters.
        for (int i = 0; i < std::max(c.bad, c.good); ++i) {
            if (i < c.bad) {
                const QString name = QStringLiteral("bad%1.avi").arg(i);
                urls << unreadable(name);
                expectedLines << name + QStringLiteral("：无法读取这个视频文件");
            }
            if (i < c.good) {
                const QString name = QStringLiteral("good%1.mp4").arg(i);
                urls << video(name);
                expectedQueue << name;
            }
        }
        importNow(urls);
        EXPECT_EQ(queuedNames(), expectedQueue);
        EXPECT_EQ(vm->alertMessageText(), expectedLines.mid(0, c.linesShown).join(QLatin1Char('\n')));
        EXPECT_EQ(vm->stateText(), "idle");
    }
}

TEST_F(ImportTest, TargetSizeFollowsTheFirstImportedFile)
{
    const struct {
        qint64 bytes;
        double megabytes;
    } cases[] = {
        {95'000'000, 48}, {2'999'999, 1}, {3'000'000, 2}, {0, 1}, {1'000'000'000, 500}, {50'999'999, 25},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(AppViewModel::suggestedTargetSizeMB(c.bytes), c.megabytes);
        vm->clearVideos();
        vm->setTargetSizeMB(7);
        importNow({unreadable(QStringLiteral("first.avi")), video(QStringLiteral("v.mp4"), 60, c.bytes),
                   video(QStringLiteral("w.mp4"), 60, 10'000'000)});
        EXPECT_EQ(vm->targetSizeMB(), c.megabytes);
        EXPECT_EQ(vm->video()->url.fileName(), "v.mp4");
    }
}

TEST_F(ImportTest, ImportsOneFileAtATimeAndRefusesAnotherImportMeanwhile)
{
    probe->stepInspect = true;
    const QUrl a = video(QStringLiteral("a.mp4"));
    const QUrl b = video(QStringLiteral("b.mp4"));
    vm->importVideos({a, b});
    ASSERT_TRUE(spinUntil([&] { return probe->inspectGates.size() == 1; }));
    EXPECT_EQ(probe->inspected, (QList<QUrl>{a}));

    // Busy: even new files are ignored, silently.
    vm->importVideos({video(QStringLiteral("c.mp4"))});
    vm->replaceSelectedVideo(video(QStringLiteral("d.mp4")));
    vm->clearVideos();
    EXPECT_EQ(probe->inspected.size(), 1);
    EXPECT_FALSE(vm->alertMessage());

    probe->inspectGates.at(0)->open();
    ASSERT_TRUE(spinUntil([&] { return probe->inspectGates.size() == 2; }));
    EXPECT_EQ(vm->batchItems().size(), 1) << "items appear one by one";
    probe->inspectGates.at(1)->open();
    ASSERT_TRUE(settle());
    EXPECT_EQ(queuedNames(), (QStringList{"a.mp4", "b.mp4"}));
}

TEST_F(ImportTest, CancelledImportKeepsTheFileInFlightAndStopsBeforeTheNext)
{
    probe->stepInspect = true;
    const QUrl a = video(QStringLiteral("a.mp4"));
    const QUrl b = video(QStringLiteral("b.mp4"));
    const QUrl c = video(QStringLiteral("c.mp4"));
    vm->importVideos({a, b, c});
    ASSERT_TRUE(spinUntil([&] { return probe->inspectGates.size() == 1; }));
    vm->cancel();
    EXPECT_TRUE(stateHistory.contains("preparing"));
    probe->inspectGates.at(0)->open();
    ASSERT_TRUE(settle());

    EXPECT_EQ(queuedNames(), (QStringList{"a.mp4"}));
    EXPECT_EQ(probe->inspected, (QList<QUrl>{a}));
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_TRUE(vm->video()) << "the selection step still runs after cancellation";
}

} // namespace
