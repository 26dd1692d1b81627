#include "support/Fakes.h"

using namespace slimreel;
using namespace slimreel::test;

namespace {

// Imports and edits of the queue.
class QueueTest : public ControllerTest {
protected:
    QString selectedName() const { return vm->video() ? vm->video()->url.fileName() : QString(); }
    QUuid idOf(const QString &name) const { return vm->batchItems().at(queuedNames().indexOf(name)).id; }
    // Imports readable videos of the test's folder by relative path.
    void importNames(const QStringList &names)
    {
        QList<QUrl> urls;
        for (const QString &n : names) {
            video(QUrl(n).fileName());
            urls << url(n);
        }
        importNow(urls);
    }
};

// A file spelt otherwise is the same file (the random sequences import one spelt with "./"); the alert comes only when
// nothing was new; a removed or cleared video can be queued again.
TEST_F(QueueTest, DuplicateRules)
{
    const struct {
        const char *name;
        QStringList first;  // imported beforehand
        QStringList second; // then these
        QStringList queued;
        bool alreadyQueuedAlert;
    } cases[] = {
        {"dot-dot component, all already queued", {"a.mp4"}, {"sub/../a.mp4"}, {"a.mp4"}, true},
        {"one new among known ones, silently", {"a.mp4"}, {"a.mp4", "c.mp4"}, {"a.mp4", "c.mp4"}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        vm->clearVideos();
        importNames(c.first);
        importNames(c.second);
        EXPECT_EQ(queuedNames(), c.queued);
        EXPECT_EQ(vm->video()->url.fileName(), c.queued.first()) << "the first in the queue is selected";
        EXPECT_EQ(vm->alertMessageText(), c.alreadyQueuedAlert ? alreadyQueuedText : QString());
    }
    vm->removeItem(vm->batchItems().at(0).id);
    importNames({QStringLiteral("a.mp4")});
    EXPECT_EQ(queuedNames(), (QStringList{"c.mp4", "a.mp4"}));
}

// The alert names the first three failures; the target size follows the first readable file: half its size, rounded
// to whole megabytes, at least 1.
TEST_F(QueueTest, FailuresAndTheSuggestedTargetSize)
{
    EXPECT_EQ(AppViewModel::suggestedTargetSizeMB(2'999'999), 1);
    EXPECT_EQ(AppViewModel::suggestedTargetSizeMB(0), 1);
    vm->setTargetSizeMB(7);
    QList<QUrl> urls;
    QStringList lines;
    for (int i = 0; i < 5; ++i) {
        urls << unreadable(QStringLiteral("bad%1.avi").arg(i))
             << video(QStringLiteral("good%1.mp4").arg(i), 60, i == 0 ? 95'000'000 : 10'000'000);
        lines << importFailure(QStringLiteral("bad%1.avi").arg(i), VideoProbeError::unreadable);
    }
    importNow(urls);
    EXPECT_EQ(vm->alertMessageText(), lines.mid(0, 3).join(QLatin1Char('\n')));
    EXPECT_EQ(vm->targetSizeMB(), 48);
}

// One file at a time; other edits are refused meanwhile; a cancel keeps the file in flight.
TEST_F(QueueTest, ImportsOneFileAtATimeUntilCancelled)
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

// Removing the selected video selects a neighbour and drops its sample and the alert, without starting a new sample;
// removing another one leaves all three alone.
TEST_F(QueueTest, RemovingAVideo)
{
    const struct {
        QStringList queue;
        const char *selected;
        const char *removed;
        const char *selectedAfter; // empty: nothing
    } cases[] = {
        {{"a.mp4", "b.mp4", "c.mp4"}, "b.mp4", "b.mp4", "c.mp4"},
        {{"a.mp4", "b.mp4", "c.mp4"}, "c.mp4", "c.mp4", "b.mp4"},
        {{"a.mp4"}, "a.mp4", "a.mp4", ""},
        {{"a.mp4", "b.mp4"}, "a.mp4", "b.mp4", "a.mp4"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.removed);
        vm->clearVideos();
        importNames(c.queue);
        vm->selectItem(idOf(QString::fromUtf8(c.selected)));
        vm->generatePreview();
        coordinator->succeed(coordinator->calls.size() - 1);
        ASSERT_TRUE(settle());
        const auto sample = vm->previewURL();
        ASSERT_TRUE(sample);
        vm->setAlertMessage(QStringLiteral("an old message"));
        const bool kept = qstrcmp(c.selected, c.removed) != 0;
        const auto calls = coordinator->calls.size();

        vm->removeItem(idOf(QString::fromUtf8(c.removed)));
        EXPECT_FALSE(queuedNames().contains(QString::fromUtf8(c.removed)));
        EXPECT_EQ(selectedName(), QString::fromUtf8(c.selectedAfter));
        EXPECT_EQ(vm->previewURL(), kept ? sample : std::nullopt);
        EXPECT_EQ(vm->alertMessageText(), kept ? "an old message" : "");
        EXPECT_EQ(coordinator->calls.size(), calls);
    }
}

// The replacement takes the selected video's place at the end of the queue and sets the target size; an unreadable
// one leaves the first item selected, a queued one says so; never during a run.
TEST_F(QueueTest, ReplaceSelectedVideo)
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
