#include "WindowTest.h"

#include "support/TestSupport.h"

#include <QDesktopServices>
#include <QTest>

#include <gmock/gmock.h>

namespace slimreel::uitest {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

using MainWindowTest = WindowTest;

// Stands in for the file manager: records the folders it is asked to open.
class FolderOpener : public QObject {
    Q_OBJECT
public:
    FolderOpener() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~FolderOpener() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

// From the empty state through drops, selection and a busy run back to idle.
TEST_F(MainWindowTest, DropsFillTheQueueAndARunLocksWhatItMustNot)
{
    EXPECT_TRUE(shown(item(QStringLiteral("emptyState"))));
    EXPECT_EQ(item(QStringLiteral("workspace")), nullptr);
    const QList<QUrl> two{knownVideo(QStringLiteral("holiday.mov")), knownVideo(QStringLiteral("birthday.mp4"))};
    EXPECT_TRUE(dropFiles(two, item(QStringLiteral("emptyState"))));
    ASSERT_TRUE(settle());
    EXPECT_EQ(probe->inspected, two);
    EXPECT_EQ(item(QStringLiteral("emptyState")), nullptr);
    EXPECT_TRUE(shown(item(QStringLiteral("workspace"))));
    EXPECT_EQ(text(item(QStringLiteral("videoFileName"))), QStringLiteral("holiday.mov"));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("1:02 · 95.3 MB")));
    // Drops without any file are refused.
    EXPECT_FALSE(dropFiles({QUrl(QStringLiteral("https://example.com/clip.mp4"))}, item(QStringLiteral("leftColumn"))));
    const auto rows = items(QStringLiteral("queueRow"));
    ASSERT_EQ(rows.size(), 2);
    click(rows.at(1));
    EXPECT_EQ(text(item(QStringLiteral("videoFileName"))), QStringLiteral("birthday.mp4"));
    EXPECT_TRUE(rows.at(1)->property("selected").toBool());
    EXPECT_FALSE(rows.at(0)->property("selected").toBool());
    click(rows.at(0));

    startRun();
    for (const char *name : {"addVideosButton", "replaceVideoButton", "clearQueueButton", "addToQueueButton",
                             "modePicker", "planList", "generatePreviewButton"}) {
        EXPECT_FALSE(enabled(item(QString::fromLatin1(name)))) << name;
    }
    for (QQuickItem *button : items(QStringLiteral("removeRowButton"))) {
        EXPECT_FALSE(enabled(button));
    }
    EXPECT_TRUE(enabled(item(QStringLiteral("removeVideoButton")))) << "it asks first";
    EXPECT_FALSE(dropFiles({knownVideo(QStringLiteral("late.mp4"))}, item(QStringLiteral("leftColumn"))));
    EXPECT_EQ(controller->itemCount(), 2);
    click(rows.at(1));
    EXPECT_EQ(controller->selectedItemIDText(), rows.at(1)->property("itemId").toString()) << "rows still select";

    // The busy block: what is done and the total; two queued, the first at 42.6 % is 21 % of the whole.
    EXPECT_FALSE(shown(item(QStringLiteral("startButton"))));
    EXPECT_EQ(text(item(QStringLiteral("statusLine"))), QStringLiteral("正在压缩：holiday.mov"));
    compressor->calls.at(0)->progress(0.426);
    ASSERT_TRUE(test::spinUntil([&] { return controller->progress() > 0; }));
    EXPECT_EQ(text(item(QStringLiteral("totalLine"))), QStringLiteral("总进度 21%"));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("42%")));
    click(item(QStringLiteral("cancelButton")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->stateText(), QStringLiteral("idle"));
    EXPECT_TRUE(shown(item(QStringLiteral("startButton"))));
    EXPECT_FALSE(shown(item(QStringLiteral("progressBlock"))));
}

TEST_F(MainWindowTest, AlertsAndTheRemovalQuestionOnlyWhileWorkRuns)
{
    importNow({QUrl::fromLocalFile(dir.filePath(QStringLiteral("clip.avi")))});
    QObject *alert = object(QStringLiteral("alert"));
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->property("visible").toBool());
    EXPECT_THAT(visibleTexts(), Contains("clip.avi：" + makeError(VideoProbeError::unreadable).description()));
    click(withText(QStringLiteral("好")));
    EXPECT_TRUE(test::spinUntil([&] { return !alert->property("visible").toBool(); }));
    importNow({QUrl::fromLocalFile(dir.filePath(QStringLiteral("other.avi")))});
    EXPECT_TRUE(alert->property("visible").toBool());
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(test::spinUntil([&] { return !alert->property("visible").toBool(); }));
    EXPECT_TRUE(controller->alertMessageText().isEmpty());

    importNow({knownVideo(QStringLiteral("a.mp4")), knownVideo(QStringLiteral("b.mp4"))});
    QObject *confirmation = object(QStringLiteral("removalConfirmation"));
    ASSERT_NE(confirmation, nullptr);
    // Idle: removed at once, the next video takes its place.
    click(item(QStringLiteral("removeVideoButton")));
    EXPECT_FALSE(confirmation->property("visible").toBool());
    EXPECT_EQ(text(item(QStringLiteral("videoFileName"))), QStringLiteral("b.mp4"));
    // A preview being made is active work, though not busy.
    click(item(QStringLiteral("generatePreviewButton")));
    ASSERT_TRUE(controller->hasActiveTask());
    click(item(QStringLiteral("removeVideoButton")));
    EXPECT_TRUE(confirmation->property("visible").toBool());
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

TEST_F(MainWindowTest, PlanRowsAndTheTargetSizeField)
{
    importNow({knownVideo(QStringLiteral("a.mp4"), 95'000'000)});
    const QList<QQuickItem *> rows{item(QStringLiteral("plan_fastest")), item(QStringLiteral("plan_recommended")),
                                   item(QStringLiteral("plan_highQuality"))};
    const auto checked = [&] {
        QStringList plans;
        for (const QQuickItem *row : rows) {
            if (row != nullptr && row->property("selected").toBool()) {
                plans.append(row->property("plan").toString());
            }
        }
        return plans;
    };
    EXPECT_THAT(checked(), ElementsAre(QStringLiteral("recommended")));
    click(rows.at(0));
    EXPECT_THAT(checked(), ElementsAre(QStringLiteral("fastest")));
    EXPECT_EQ(controller->planText(), QStringLiteral("fastest"));

    click(item(QStringLiteral("segment_targetSize")));
    EXPECT_EQ(controller->modeText(), QStringLiteral("targetSize"));
    EXPECT_FALSE(shown(item(QStringLiteral("planList"))));
    QQuickItem *field = item(QStringLiteral("targetSizeField"));
    ASSERT_TRUE(shown(field));
    EXPECT_EQ(text(field), QStringLiteral("48"));
    // Committed with Enter; one fraction digit at most is shown; no number changes nothing.
    for (const auto &[typed, value, shownText] : {std::tuple{"12.5", 12.5, "12.5"}, std::tuple{"viel", 12.5, "12.5"},
                                                 std::tuple{"30", 30.0, "30"}}) {
        click(field);
        field->setProperty("text", QString::fromUtf8(typed));
        QTest::keyClick(window.get(), Qt::Key_Return);
        drainEvents();
        EXPECT_EQ(controller->targetSizeMB(), value) << typed;
        EXPECT_EQ(text(field), QString::fromUtf8(shownText)) << typed;
    }
    click(item(QStringLiteral("segment_quality")));
    EXPECT_TRUE(shown(item(QStringLiteral("planList"))));
    EXPECT_FALSE(shown(field));
}

TEST_F(MainWindowTest, FinishedRunOffersTheOutputFolderUntilTheSettingsChange)
{
    importNow({knownVideo(QStringLiteral("holiday.mov")), knownVideo(QStringLiteral("birthday.mp4"))});
    const QUrl folder = startRun();
    compressor->fail(0, Error::platform(QStringLiteral("编码器出错")));
    ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() == 2; }));
    compressor->succeed(1);
    ASSERT_TRUE(settle());
    ASSERT_EQ(controller->stateText(), QStringLiteral("completed"));
    click(withText(QStringLiteral("好"))); // the run's summary
    EXPECT_TRUE(controller->alertMessageText().isEmpty());
    // The failure's reason is the help text of its status, nowhere else.
    const auto failed = items(QStringLiteral("failedLabel"));
    const auto shownFailure = std::find_if(failed.begin(), failed.end(), [](QQuickItem *label) { return label->isVisible(); });
    ASSERT_NE(shownFailure, failed.end());
    EXPECT_EQ(toolTipText(*shownFailure), QStringLiteral("编码器出错"));
    EXPECT_FALSE(visibleTexts().contains(QStringLiteral("编码器出错")));
    EXPECT_TRUE(shown(item(QStringLiteral("completionBlock"))));
    FolderOpener opener;
    click(item(QStringLiteral("openFolderButton")));
    EXPECT_THAT(opener.opened, ElementsAre(folder));
    click(item(QStringLiteral("plan_highQuality")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->stateText(), QStringLiteral("idle"));
    EXPECT_FALSE(shown(item(QStringLiteral("completionBlock"))));
}

} // namespace
} // namespace slimreel::uitest

#include "MainWindowTest.moc"
