#include "WindowTest.h"

#include "support/TestSupport.h"

#include <QDesktopServices>
#include <QTest>

#include <gmock/gmock.h>

namespace slimreel::uitest {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using SettingsPanelTest = WindowTest;

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

TEST_F(SettingsPanelTest, PlanRowsCarryOneCheckMarkThatFollowsTheClick)
{
    importNow({knownVideo(QStringLiteral("a.mp4"))});
    const QList<QQuickItem *> rows{item(QStringLiteral("plan_fastest")), item(QStringLiteral("plan_recommended")),
                                   item(QStringLiteral("plan_highQuality"))};
    ASSERT_THAT(rows, Not(Contains(nullptr)));
    // In the list, top to bottom, in that order.
    EXPECT_LT(rows.at(0)->mapToScene({}).y(), rows.at(1)->mapToScene({}).y());
    EXPECT_LT(rows.at(1)->mapToScene({}).y(), rows.at(2)->mapToScene({}).y());

    const auto checked = [&] {
        QStringList plans;
        for (const QQuickItem *row : rows) {
            if (row->property("selected").toBool()) {
                plans.append(row->property("plan").toString());
            }
        }
        return plans;
    };
    EXPECT_THAT(checked(), ElementsAre(QStringLiteral("recommended")));

    click(rows.at(0));
    EXPECT_THAT(checked(), ElementsAre(QStringLiteral("fastest")));
    EXPECT_EQ(controller->planText(), QStringLiteral("fastest"));
    EXPECT_EQ(controller->modeText(), QStringLiteral("quality"));
}

TEST_F(SettingsPanelTest, TargetSizeModeSwapsThePlansForTheSizeField)
{
    importNow({knownVideo(QStringLiteral("a.mp4"), 95'000'000)});
    ASSERT_EQ(controller->targetSizeMB(), 48);

    click(item(QStringLiteral("segment_targetSize")));
    EXPECT_EQ(controller->modeText(), QStringLiteral("targetSize"));
    EXPECT_FALSE(shown(item(QStringLiteral("planList"))));
    QQuickItem *field = item(QStringLiteral("targetSizeField"));
    ASSERT_TRUE(shown(field));
    EXPECT_EQ(text(field), QStringLiteral("48"));

    // Typed and committed with Enter; one fraction digit at most is shown.
    const auto type = [&](const QString &typed) {
        click(field);
        field->setProperty("text", typed);
        QTest::keyClick(window.get(), Qt::Key_Return);
        drainEvents();
    };
    type(QStringLiteral("12.5"));
    EXPECT_EQ(controller->targetSizeMB(), 12.5);
    EXPECT_EQ(text(field), QStringLiteral("12.5"));
    type(QStringLiteral("12.25"));
    EXPECT_EQ(controller->targetSizeMB(), 12.25);
    EXPECT_THAT(text(field), ::testing::AnyOf(QStringLiteral("12.2"), QStringLiteral("12.3")));
    // Text that is no number changes nothing and the field shows the value again.
    type(QStringLiteral("viel"));
    EXPECT_EQ(controller->targetSizeMB(), 12.25);
    EXPECT_THAT(text(field), ::testing::AnyOf(QStringLiteral("12.2"), QStringLiteral("12.3")));
    type(QStringLiteral("30"));
    EXPECT_EQ(controller->targetSizeMB(), 30);
    EXPECT_EQ(text(field), QStringLiteral("30"));
    screenshot(window.get(), QStringLiteral("target-size"));

    click(item(QStringLiteral("segment_quality")));
    EXPECT_TRUE(shown(item(QStringLiteral("planList"))));
    EXPECT_FALSE(shown(field));
}

TEST_F(SettingsPanelTest, BusyBlockShowsWhatIsBeingDoneAndTheTotal)
{
    importNow({knownVideo(QStringLiteral("holiday.mov")), knownVideo(QStringLiteral("birthday.mp4"))});

    // An import in progress is busy before any name is known.
    probe->stepInspect = true;
    controller->importVideos({knownVideo(QStringLiteral("more.mp4"))}, false);
    ASSERT_TRUE(test::spinUntil([&] { return probe->inspectGates.size() == 1; }));
    EXPECT_TRUE(shown(item(QStringLiteral("progressBlock"))));
    EXPECT_FALSE(shown(item(QStringLiteral("startButton"))));
    EXPECT_EQ(text(item(QStringLiteral("statusLine"))), QStringLiteral("正在准备…"));
    EXPECT_EQ(text(item(QStringLiteral("totalLine"))), QStringLiteral("总进度 0%"));
    probe->inspectGates.at(0)->open();
    ASSERT_TRUE(settle());
    probe->stepInspect = false;

    startRun();
    ASSERT_TRUE(test::spinUntil([&] { return !controller->currentItemNameText().isEmpty(); }));
    EXPECT_EQ(text(item(QStringLiteral("statusLine"))), QStringLiteral("正在压缩：holiday.mov"));
    compressor->calls.at(0)->progress(0.426);
    ASSERT_TRUE(test::spinUntil([&] { return controller->progress() > 0; }));
    // Three queued: the first at 42.6 % is 14.2 % of the whole.
    EXPECT_EQ(text(item(QStringLiteral("totalLine"))), QStringLiteral("总进度 14%"));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("42%")));
    screenshot(window.get(), QStringLiteral("busy"));

    compressor->calls.at(0)->progress(0.999);
    ASSERT_TRUE(test::spinUntil([&] { return controller->progress() > 0.3; }));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("99%")));

    click(item(QStringLiteral("cancelButton")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->stateText(), QStringLiteral("idle"));
    EXPECT_TRUE(shown(item(QStringLiteral("startButton"))));
    EXPECT_FALSE(shown(item(QStringLiteral("progressBlock"))));
}

TEST_F(SettingsPanelTest, FinishedRunOffersTheOutputFolderUntilTheSettingsChange)
{
    importNow({knownVideo(QStringLiteral("holiday.mov")), knownVideo(QStringLiteral("birthday.mp4")),
               knownVideo(QStringLiteral("party.mkv"))});
    const QUrl folder = startRun();
    compressor->succeed(0);
    ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() == 2; }));
    compressor->fail(1, Error::platform(QStringLiteral("编码器出错")));
    ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() == 3; }));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("完成")));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("失败")));
    compressor->succeed(2);
    ASSERT_TRUE(settle());
    ASSERT_EQ(controller->stateText(), QStringLiteral("completed"));

    // The run's summary alert is up first; it goes away with 好.
    EXPECT_EQ(controller->alertMessageText(), QStringLiteral("批量压缩完成，其中 1 个视频失败。可在队列中查看原因。"));
    click(withText(QStringLiteral("好")));
    EXPECT_TRUE(controller->alertMessageText().isEmpty());

    // The failure's reason is the help text of its status, nowhere else.
    const auto failed = items(QStringLiteral("failedLabel"));
    const auto shownFailure = std::find_if(failed.begin(), failed.end(), [](QQuickItem *label) { return label->isVisible(); });
    ASSERT_NE(shownFailure, failed.end());
    EXPECT_EQ(toolTipText(*shownFailure), QStringLiteral("编码器出错"));
    EXPECT_THAT(visibleTexts(), Not(Contains(QStringLiteral("编码器出错"))));
    hover(*shownFailure);
    EXPECT_TRUE(test::spinUntil([&] { return visibleTexts().contains(QStringLiteral("编码器出错")); }));

    EXPECT_TRUE(shown(item(QStringLiteral("completionBlock"))));
    EXPECT_THAT(visibleTexts(), Contains(QStringLiteral("批量压缩完成")));
    screenshot(window.get(), QStringLiteral("completed"));

    FolderOpener opener;
    click(item(QStringLiteral("openFolderButton")));
    EXPECT_THAT(opener.opened, ElementsAre(folder));

    click(item(QStringLiteral("plan_highQuality")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->stateText(), QStringLiteral("idle"));
    EXPECT_TRUE(shown(item(QStringLiteral("startButton"))));
    EXPECT_FALSE(shown(item(QStringLiteral("completionBlock"))));
}

} // namespace
} // namespace slimreel::uitest

#include "SettingsPanelTest.moc"
