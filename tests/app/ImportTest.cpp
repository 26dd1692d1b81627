#include "support/Fakes.h"

using namespace slimreel;
using namespace slimreel::test;

namespace {

class ImportTest : public ControllerTest {};

TEST_F(ImportTest, DuplicateRules)
{
    const struct {
        const char *name;
        QStringList first;  // imported beforehand
        QStringList second; // then these
        QStringList queued;
        bool alreadyQueuedAlert;
    } cases[] = {
        {"dot component in the same list", {}, {"b.mp4", "a.mp4", "./a.mp4"}, {"b.mp4", "a.mp4"}, false},
        {"dot-dot component, all already queued", {"a.mp4"}, {"sub/../a.mp4"}, {"a.mp4"}, true},
        {"one new among known ones, silently", {"a.mp4"}, {"a.mp4", "c.mp4"}, {"a.mp4", "c.mp4"}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        vm->clearVideos();
        const auto urls = [&](const QStringList &names) {
            QList<QUrl> list;
            for (const QString &n : names) {
                video(QUrl(n).fileName());
                list << url(n);
            }
            return list;
        };
        importNow(urls(c.first));
        importNow(urls(c.second));
        EXPECT_EQ(queuedNames(), c.queued);
        EXPECT_EQ(vm->video()->url.fileName(), c.queued.first()) << "the first in the queue is selected";
        EXPECT_EQ(vm->alertMessageText(), c.alreadyQueuedAlert ? alreadyQueuedText : QString());
    }
    // A removed video can be queued again (a cleared one too: every case above starts with a clear).
    vm->removeItem(vm->batchItems().at(0).id);
    importNow({url(QStringLiteral("a.mp4"))});
    EXPECT_EQ(queuedNames(), (QStringList{"c.mp4", "a.mp4"}));
}

TEST_F(ImportTest, FailureAlertShowsAtMostThreeLines)
{
    QList<QUrl> urls;
    QStringList lines;
    for (int i = 0; i < 5; ++i) {
        urls << unreadable(QStringLiteral("bad%1.avi").arg(i)) << video(QStringLiteral("good%1.mp4").arg(i));
        lines << importFailure(QStringLiteral("bad%1.avi").arg(i), VideoProbeError::unreadable);
    }
    importNow(urls);
    EXPECT_EQ(vm->alertMessageText(), lines.mid(0, 3).join(QLatin1Char('\n')));
}

TEST_F(ImportTest, TargetSizeFollowsTheFirstReadableFile)
{
    const struct {
        qint64 bytes;
        double megabytes;
    } cases[] = {{95'000'000, 48}, {2'999'999, 1}, {0, 1}};
    for (const auto &c : cases) {
        EXPECT_EQ(AppViewModel::suggestedTargetSizeMB(c.bytes), c.megabytes) << c.bytes;
    }
    vm->setTargetSizeMB(7);
    importNow({unreadable(QStringLiteral("first.avi")), video(QStringLiteral("v.mp4"), 60, 95'000'000),
               video(QStringLiteral("w.mp4"), 60, 10'000'000)});
    EXPECT_EQ(vm->targetSizeMB(), 48);
}

// One file at a time; other edits are refused meanwhile; a cancel keeps the file in flight.
TEST_F(ImportTest, ImportsOneFileAtATimeUntilCancelled)
{
    probe->stepInspect = true;
    const QUrl a = video(QStringLiteral("a.mp4"));
    const QUrl b = video(QStringLiteral("b.mp4"));
    vm->importVideos({a, b, video(QStringLiteral("c.mp4"))});
    ASSERT_TRUE(spinUntil([&] { return probe->inspectGates.size() == 1; }));
    probe->inspectGates.at(0)->open();
    ASSERT_TRUE(spinUntil([&] { return probe->inspectGates.size() == 2; }));
    EXPECT_EQ(queuedNames(), QStringList{"a.mp4"}) << "items appear one by one";

    vm->importVideos({video(QStringLiteral("d.mp4"))});
    vm->replaceSelectedVideo(video(QStringLiteral("e.mp4")));
    vm->clearVideos();
    EXPECT_FALSE(vm->alertMessage());

    vm->cancel();
    probe->inspectGates.at(1)->open();
    ASSERT_TRUE(settle());
    EXPECT_EQ(queuedNames(), (QStringList{"a.mp4", "b.mp4"}));
    EXPECT_EQ(probe->inspected, (QList<QUrl>{a, b}));
}

} // namespace
