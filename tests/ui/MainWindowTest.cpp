#include "WindowTest.h"

#include "support/TestSupport.h"

#include <QTest>

#include <gmock/gmock.h>

namespace slimreel::uitest {
namespace {

using ::testing::Contains;

using MainWindowTest = WindowTest;

TEST_F(MainWindowTest, EmptyStateGivesWayToTheWorkspace)
{
    EXPECT_TRUE(shown(item(QStringLiteral("emptyState"))));
    EXPECT_EQ(item(QStringLiteral("workspace")), nullptr);
    EXPECT_TRUE(enabled(item(QStringLiteral("chooseVideosButton"))));
    EXPECT_FALSE(shown(item(QStringLiteral("addVideosButton"))));
    EXPECT_FALSE(shown(item(QStringLiteral("replaceVideoButton"))));
    screenshot(window.get(), QStringLiteral("empty-state"));

    importNow({knownVideo(QStringLiteral("holiday.mov"))});

    EXPECT_EQ(item(QStringLiteral("emptyState")), nullptr);
    EXPECT_TRUE(shown(item(QStringLiteral("workspace"))));
    EXPECT_TRUE(shown(item(QStringLiteral("addVideosButton"))));
    EXPECT_TRUE(enabled(item(QStringLiteral("addVideosButton"))));
    EXPECT_TRUE(shown(item(QStringLiteral("replaceVideoButton"))));
    EXPECT_TRUE(enabled(item(QStringLiteral("replaceVideoButton"))));
}

TEST_F(MainWindowTest, WorkspaceShowsTheQueueAndTheSelectedVideosFacts)
{
    importNow({knownVideo(QStringLiteral("holiday.mov")), knownVideo(QStringLiteral("birthday.mp4"), 12'300'000, 7.4)});

    EXPECT_EQ(text(item(QStringLiteral("queueCount"))), QStringLiteral("共 2 个视频，使用同一套压缩设置"));
    const auto rows = items(QStringLiteral("queueRow"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(text(item(QStringLiteral("videoFileName"))), QStringLiteral("holiday.mov"));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("1:02 · 95.3 MB")));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("1920 × 1080")));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("4.3 Mbps")));
    EXPECT_FALSE(shown(item(QStringLiteral("expandButton"))));
    EXPECT_TRUE(enabled(item(QStringLiteral("clearQueueButton"))));
    screenshot(window.get(), QStringLiteral("workspace-idle"));

    // Nothing is cut off at the smallest window size.
    window->resize(window->minimumSize());
    drainEvents();
    screenshot(window.get(), QStringLiteral("workspace-minimum-size"));

    // A click on the second row selects it; the video card follows.
    click(rows.at(1));
    EXPECT_EQ(text(item(QStringLiteral("videoFileName"))), QStringLiteral("birthday.mp4"));
    EXPECT_TRUE(rows.at(1)->property("selected").toBool());
    EXPECT_FALSE(rows.at(0)->property("selected").toBool());
}

TEST_F(MainWindowTest, EditingControlsAreDisabledWhileARunIsBusyButRowsStillSelect)
{
    importNow({knownVideo(QStringLiteral("holiday.mov")), knownVideo(QStringLiteral("birthday.mp4"))});
    startRun();
    ASSERT_EQ(controller->stateText(), QStringLiteral("compressing"));

    for (const char *name : {"addVideosButton", "replaceVideoButton", "clearQueueButton", "addToQueueButton",
                             "modePicker", "planList", "generatePreviewButton"}) {
        EXPECT_FALSE(enabled(item(QString::fromLatin1(name)))) << name;
    }
    for (QQuickItem *button : items(QStringLiteral("removeRowButton"))) {
        EXPECT_FALSE(enabled(button));
    }
    // The video card's own remove button stays usable; it asks first.
    EXPECT_TRUE(enabled(item(QStringLiteral("removeVideoButton"))));

    const auto rows = items(QStringLiteral("queueRow"));
    ASSERT_EQ(rows.size(), 2);
    click(rows.at(1));
    EXPECT_EQ(controller->selectedItemIDText(), rows.at(1)->property("itemId").toString());
}

TEST_F(MainWindowTest, DropsImportEverythingInOrderButAreRefusedWhileBusy)
{
    const QList<QUrl> three{knownVideo(QStringLiteral("a.mp4")), knownVideo(QStringLiteral("b.mp4")),
                            knownVideo(QStringLiteral("c.mp4"))};
    EXPECT_TRUE(dropFiles(three, item(QStringLiteral("emptyState"))));
    ASSERT_TRUE(settle());
    EXPECT_EQ(probe->inspected, three);
    EXPECT_EQ(controller->itemCount(), 3);

    // Drops without any file are refused.
    EXPECT_FALSE(dropFiles({QUrl(QStringLiteral("https://example.com/clip.mp4"))}, item(QStringLiteral("leftColumn"))));

    startRun();
    const QUrl late = knownVideo(QStringLiteral("late.mp4"));
    EXPECT_FALSE(dropFiles({late}, item(QStringLiteral("leftColumn"))));
    EXPECT_EQ(probe->inspected.size(), 3);
    EXPECT_EQ(controller->itemCount(), 3);
    EXPECT_FALSE(rootProperty("isDropTargeted").toBool());

    controller->cancel();
    ASSERT_TRUE(settle());
    EXPECT_TRUE(dropFiles({late}, item(QStringLiteral("leftColumn"))));
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->itemCount(), 4);

    // Files named on the command line take the same way in.
    const QUrl named = knownVideo(QStringLiteral("named.mp4"));
    EXPECT_TRUE(callRoot("acceptDrop", QVariant::fromValue(QList<QUrl>{named})).toBool());
    ASSERT_TRUE(settle());
    EXPECT_EQ(probe->inspected.last(), named);
}

TEST_F(MainWindowTest, AlertShowsTheControllersMessageUntilDismissed)
{
    importNow({QUrl::fromLocalFile(dir.filePath(QStringLiteral("clip.avi")))});
    QObject *alert = object(QStringLiteral("alert"));
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->property("visible").toBool());
    EXPECT_EQ(alert->property("title").toString(), QStringLiteral("Slimreel"));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("clip.avi：无法读取这个视频文件")));
    screenshot(window.get(), QStringLiteral("alert"));

    click(withText(QStringLiteral("好")));
    EXPECT_TRUE(test::spinUntil([&] { return !alert->property("visible").toBool(); }));
    EXPECT_TRUE(controller->alertMessageText().isEmpty());

    // A later message opens a new alert; Return dismisses it too.
    importNow({QUrl::fromLocalFile(dir.filePath(QStringLiteral("other.avi")))});
    EXPECT_TRUE(alert->property("visible").toBool());
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("other.avi：无法读取这个视频文件")));
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(test::spinUntil([&] { return !alert->property("visible").toBool(); }));
    EXPECT_TRUE(controller->alertMessageText().isEmpty());
}

TEST_F(MainWindowTest, RemovingAVideoAsksFirstOnlyWhileWorkIsRunning)
{
    importNow({knownVideo(QStringLiteral("a.mp4")), knownVideo(QStringLiteral("b.mp4"))});
    QObject *confirmation = object(QStringLiteral("removalConfirmation"));
    ASSERT_NE(confirmation, nullptr);

    // Idle: removed at once, the next video takes its place.
    click(item(QStringLiteral("removeVideoButton")));
    EXPECT_FALSE(confirmation->property("visible").toBool());
    EXPECT_EQ(controller->itemCount(), 1);
    EXPECT_EQ(text(item(QStringLiteral("videoFileName"))), QStringLiteral("b.mp4"));

    // A preview being made is active work, though not busy.
    click(item(QStringLiteral("generatePreviewButton")));
    ASSERT_TRUE(controller->hasActiveTask());
    ASSERT_FALSE(window->property("busy").toBool());
    click(item(QStringLiteral("removeVideoButton")));
    EXPECT_TRUE(confirmation->property("visible").toBool());
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("移除当前视频？")));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("当前任务将被取消，原视频和已经导出的文件不会被删除。")));
    screenshot(window.get(), QStringLiteral("removal-confirmation"));

    click(withText(QStringLiteral("继续处理")));
    EXPECT_TRUE(test::spinUntil([&] { return !confirmation->property("visible").toBool(); }));
    EXPECT_EQ(controller->itemCount(), 1);
    EXPECT_TRUE(controller->isGeneratingPreview());

    click(item(QStringLiteral("removeVideoButton")));
    click(withText(QStringLiteral("取消任务并移除")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->itemCount(), 0);
    EXPECT_TRUE(shown(item(QStringLiteral("emptyState"))));
}

} // namespace
} // namespace slimreel::uitest
