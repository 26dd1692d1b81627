#include "app/AppViewModel.h"
#include "app/BatchQueueModel.h"
#include "compress/FFmpegCompressor.h"
#include "platform/FileAccess.h"
#include "probe/VideoProbeService.h"
#include "support/FakeDesktop.h"
#include "support/Fakes.h"
#include "ui/MainWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMediaPlayer>
#include <QMimeData>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>

#include <functional>

namespace slimreel {
namespace {

using ::testing::ElementsAre;

// The real window over a controller whose probe and compressor are fakes the
// test steps. Items are found by objectName or by their text, as a user finds them.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) == nullptr) {
            GTEST_SKIP() << "no display (set DISPLAY or run under xvfb-run)";
        }
        compressor->sampleSource = test::media(QStringLiteral("h264_aac.mp4"));
        controller = std::make_unique<AppViewModel>(probe, compressor, std::make_shared<SystemFileAccess>());
        QString errors;
        window = MainWindow::create(engine, *controller, &errors);
        ASSERT_NE(window, nullptr) << errors.toStdString();
        window->show();
        window->requestActivate(); // for the keys
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void TearDown() override
    {
        if (controller) {
            controller->cancel();
            settle();
        }
    }

    // A generated test video with its real facts, for the players.
    QUrl realVideo(const QString &mediaName)
    {
        const QString path = test::media(mediaName);
        const double duration = test::ffprobeValue(path, QStringLiteral("format=duration")).toDouble();
        probe->add(test::makeInfo(QUrl::fromLocalFile(path), duration, QFileInfo(path).size()));
        return QUrl::fromLocalFile(path);
    }
    // A video only the fake probe knows.
    QUrl knownVideo(const QString &name)
    {
        probe->add(test::makeInfo(QUrl::fromLocalFile(dir.filePath(name)), 62, 95'300'000));
        return QUrl::fromLocalFile(dir.filePath(name));
    }
    void importNow(const QList<QUrl> &urls)
    {
        controller->importVideos(urls, false);
        ASSERT_TRUE(settle());
    }
    // Until the controller is idle and the scene has caught up with it.
    bool settle()
    {
        const bool idle = test::spinUntil([this] { return !controller->hasRunningTasks(); });
        drainEvents();
        return idle;
    }

    // Starts a run into a fresh folder and waits until the first video is being compressed.
    QUrl startRun()
    {
        const QString folder = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(folder);
        const qsizetype before = compressor->calls.size();
        controller->compressAll(QUrl::fromLocalFile(folder));
        EXPECT_TRUE(test::spinUntil([&] { return compressor->calls.size() > before; }));
        return QUrl::fromLocalFile(folder);
    }

    // Makes the sample of the selected video and opens the comparison.
    void openComparison()
    {
        const qsizetype before = compressor->calls.size();
        click(item("generatePreviewButton"));
        ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() > before; }));
        compressor->succeed(before);
        ASSERT_TRUE(settle());
        click(item("expandButton"));
        ASSERT_NE(comparison(), nullptr);
    }

    // The items of both windows the test looks for, in scene order.
    QList<QQuickItem *> all(const std::function<bool(QQuickItem *)> &wanted) const
    {
        QList<QQuickItem *> found;
        const std::function<void(QQuickItem *)> walk = [&](QQuickItem *item) {
            if (wanted(item)) {
                found.append(item);
            }
            for (QQuickItem *child : item->childItems()) {
                walk(child);
            }
        };
        walk(window->contentItem());
        if (comparison() != nullptr) {
            walk(comparison()->contentItem());
        }
        return found;
    }
    QList<QQuickItem *> items(const char *name) const
    {
        return all([&](QQuickItem *item) { return item->objectName() == QLatin1String(name); });
    }
    QQuickItem *item(const char *name) const { return items(name).value(0); }
    // The visible item showing exactly this text, as a user finds it.
    QQuickItem *withText(const QString &wanted) const
    {
        return all([&](QQuickItem *item) { return item->isVisible() && text(item) == wanted; }).value(0);
    }
    static QString text(const QQuickItem *item) { return item ? item->property("text").toString() : QString(); }
    static bool shown(const QQuickItem *item) { return item && item->isVisible() && item->opacity() > 0; }
    static bool enabled(const QQuickItem *item) { return item && item->isEnabled(); }
    bool visible(const char *dialog) const { return window->findChild<QObject *>(dialog)->property("visible").toBool(); }

    static QMediaPlayer *playerOf(QQuickItem *view) { return qobject_cast<QMediaPlayer *>(view->property("player").value<QObject *>()); }
    static bool playing(const QMediaPlayer *player) { return player && player->playbackState() == QMediaPlayer::PlayingState; }
    static bool loaded(const QMediaPlayer *player)
    {
        return player->mediaStatus() == QMediaPlayer::LoadedMedia || player->mediaStatus() == QMediaPlayer::BufferedMedia;
    }

    // A left click in the middle of the item, through the window like a user's.
    void click(QQuickItem *item, QQuickWindow *in = nullptr)
    {
        ASSERT_NE(item, nullptr);
        drainEvents();
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(in ? in : window.get(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        drainEvents();
    }

    QQuickWindow *comparison() const { return qobject_cast<QQuickWindow *>(window->property("comparison").value<QObject *>()); }

    // Lets the scene settle (layouts, dialogs, animations).
    static void drainEvents() { QTest::qWait(150); }

    QTemporaryDir dir;
    std::shared_ptr<test::FakeProbe> probe = std::make_shared<test::FakeProbe>();
    std::shared_ptr<test::FakeCoordinator> compressor = std::make_shared<test::FakeCoordinator>();
    std::unique_ptr<AppViewModel> controller;
    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window;
};

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

// From the empty state through drops, selection and a busy run to its summary and back to idle.
TEST_F(WindowTest, DropsSelectionABusyRunAndItsSummary)
{
    const auto drop = [&](const QList<QUrl> &urls, const char *onto) {
        QQuickItem *target = item(onto);
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        for (QEvent *event : std::initializer_list<QEvent *>{&enter, &move, &dropped}) {
            QCoreApplication::sendEvent(window.get(), event);
        }
        return dropped.isAccepted();
    };
    EXPECT_EQ(item("workspace"), nullptr);
    const QList<QUrl> two{knownVideo(QStringLiteral("holiday.mov")), knownVideo(QStringLiteral("birthday.mp4"))};
    EXPECT_TRUE(drop(two, "emptyState"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(probe->inspected, two);
    EXPECT_EQ(item("emptyState"), nullptr);
    EXPECT_TRUE(shown(item("workspace")));
    EXPECT_EQ(text(item("videoFileName")), QStringLiteral("holiday.mov"));
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.com/clip.mp4"))}, "leftColumn")) << "no file in it";
    const auto rows = items("queueRow");
    ASSERT_EQ(rows.size(), 2);
    click(rows.at(1));
    EXPECT_EQ(text(item("videoFileName")), QStringLiteral("birthday.mp4"));
    EXPECT_TRUE(rows.at(1)->property("selected").toBool() && !rows.at(0)->property("selected").toBool());
    click(rows.at(0));

    const QUrl folder = startRun();
    for (const char *name : {"addVideosButton", "replaceVideoButton", "clearQueueButton", "addToQueueButton",
                             "modePicker", "planList", "generatePreviewButton", "removeRowButton"}) {
        EXPECT_FALSE(enabled(item(name))) << name;
    }
    EXPECT_TRUE(enabled(item("removeVideoButton"))) << "it asks first";
    EXPECT_FALSE(drop({knownVideo(QStringLiteral("late.mp4"))}, "leftColumn"));
    EXPECT_EQ(controller->itemCount(), 2);
    click(rows.at(1));
    EXPECT_EQ(controller->selectedItemIDText(), rows.at(1)->property("itemId").toString()) << "rows still select";

    // Two queued, the first at 42.6 % is 21 % of the whole.
    EXPECT_FALSE(shown(item("startButton")));
    EXPECT_EQ(text(item("statusLine")), QStringLiteral("正在压缩：holiday.mov"));
    compressor->calls.at(0)->progress(0.426);
    ASSERT_TRUE(test::spinUntil([&] { return controller->progress() > 0; }));
    EXPECT_EQ(text(item("totalLine")), QStringLiteral("总进度 21%"));
    compressor->fail(0, Error::platform(QStringLiteral("编码器出错")));
    ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() == 2; }));
    compressor->succeed(1);
    ASSERT_TRUE(settle());
    ASSERT_EQ(controller->stateText(), QStringLiteral("completed"));
    EXPECT_TRUE(visible("alert")) << "the run's summary";
    click(withText(QStringLiteral("好")));
    EXPECT_TRUE(test::spinUntil([&] { return !visible("alert"); }));
    // The failure's reason is the help text of its status, nowhere else.
    const QQuickItem *failed = all([](QQuickItem *i) { return i->objectName() == "failedLabel" && i->isVisible(); }).value(0);
    ASSERT_NE(failed, nullptr);
    const QObjectList attached = failed->children(); // attached objects are children of their item
    EXPECT_TRUE(std::any_of(attached.begin(), attached.end(), [](const QObject *o) {
        return QByteArray(o->metaObject()->className()).contains("ToolTip") && o->property("text") == "编码器出错";
    }));
    EXPECT_EQ(withText(QStringLiteral("编码器出错")), nullptr);
    FolderOpener opener;
    click(item("openFolderButton"));
    EXPECT_THAT(opener.opened, ElementsAre(folder));
    click(item("plan_highQuality"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->stateText(), QStringLiteral("idle"));
    EXPECT_FALSE(shown(item("completionBlock")));

    startRun();
    click(item("cancelButton"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->stateText(), QStringLiteral("idle"));
    EXPECT_TRUE(shown(item("startButton")));
    EXPECT_FALSE(shown(item("progressBlock")));
}

TEST_F(WindowTest, AlertsRemovalQuestionPlansAndTheTargetSize)
{
    importNow({QUrl::fromLocalFile(dir.filePath(QStringLiteral("clip.avi")))});
    EXPECT_TRUE(visible("alert"));
    EXPECT_NE(withText(test::importFailure("clip.avi", VideoProbeError::unreadable)), nullptr);
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(test::spinUntil([&] { return !visible("alert"); }));

    importNow({knownVideo(QStringLiteral("a.mp4")), knownVideo(QStringLiteral("b.mp4"))});
    // Idle: removed at once by the Delete key, the next video takes its place.
    QTest::keyClick(window.get(), Qt::Key_Delete);
    EXPECT_FALSE(visible("removalConfirmation"));
    EXPECT_EQ(text(item("videoFileName")), QStringLiteral("b.mp4"));

    // The plan rows: one check mark, following the click.
    const auto checked = [&] {
        return all([](QQuickItem *i) { return i->objectName().startsWith("plan_") && i->property("selected").toBool(); });
    };
    EXPECT_THAT(checked(), ElementsAre(item("plan_recommended")));
    click(withText(QStringLiteral("AV1 · 保留分辨率 · 体积最小，较新的设备才能播放"))); // the last row
    EXPECT_THAT(checked(), ElementsAre(item("plan_smallest")));
    EXPECT_NE(withText(QStringLiteral("最小体积")), nullptr);
    EXPECT_GT(item("plan_smallest")->mapToScene({}).y(), item("plan_highQuality")->mapToScene({}).y());
    EXPECT_EQ(controller->planText(), QStringLiteral("smallest"));
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(window.get(), Qt::Key_Up); // the arrow keys move the choice and the focus; the last stops at the first
    }
    EXPECT_THAT(checked(), ElementsAre(item("plan_fastest")));
    EXPECT_TRUE(item("plan_fastest")->hasActiveFocus());
    EXPECT_EQ(controller->planText(), QStringLiteral("fastest"));

    click(item("segment_targetSize"));
    EXPECT_EQ(controller->modeText(), QStringLiteral("targetSize"));
    EXPECT_FALSE(shown(item("planList")));
    QQuickItem *field = item("targetSizeField");
    ASSERT_TRUE(shown(field));
    for (const auto &[typed, value] : {std::pair{"12.5", 12.5}, std::pair{"viel", 12.5}, std::pair{"30", 30.0}}) {
        click(field);
        QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(window.get(), Qt::Key_Delete); // the field's, not the window's
        for (const char *c = typed; *c != 0; ++c) {
            QTest::keyClick(window.get(), *c);
        }
        QTest::keyClick(window.get(), Qt::Key_Return);
        drainEvents();
        EXPECT_EQ(controller->targetSizeMB(), value) << typed;
        EXPECT_EQ(text(field), QString::number(value)) << typed;
    }
    click(item("segment_quality"));
    EXPECT_TRUE(shown(item("planList")));
    EXPECT_FALSE(shown(field));

    // A preview being made is active work, though not busy: removal asks; Escape keeps the work.
    click(item("generatePreviewButton"));
    ASSERT_TRUE(controller->hasActiveTask());
    QTest::keyClick(window.get(), Qt::Key_Delete);
    EXPECT_TRUE(visible("removalConfirmation"));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(test::spinUntil([&] { return !visible("removalConfirmation"); }));
    EXPECT_EQ(controller->itemCount(), 1);
    EXPECT_TRUE(controller->isGeneratingPreview());
    click(item("removeVideoButton"));
    click(withText(QStringLiteral("取消任务并移除")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(controller->itemCount(), 0);
    EXPECT_TRUE(shown(item("emptyState")));
}

TEST_F(WindowTest, PreviewPlayersAndTheComparisonWindow)
{
    // The players get a real sample of the smallest plan: AV1 has to play in them.
    EncoderCatalog software(EncoderProfile::software());
    FFmpegCompressor ffmpeg(ToolLocator::forTool(QStringLiteral("ffmpeg")), software);
    compressor->sampleSource = dir.filePath(QStringLiteral("av1.mp4"));
    const auto source = test::wait(VideoProbeService().inspect(realVideo(QStringLiteral("h264_aac.mp4"))));
    ASSERT_TRUE(source && test::wait(ffmpeg.compress(*source, test::smallest, QUrl::fromLocalFile(compressor->sampleSource),
                                                     TimeRange{0, 4}, {}, {})));
    importNow({realVideo(QStringLiteral("long.mp4")), realVideo(QStringLiteral("h264_aac.mp4"))});
    click(item("generatePreviewButton"));
    ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() == 1; }));
    EXPECT_TRUE(shown(item("previewSpinner")));
    EXPECT_FALSE(enabled(item("generatePreviewButton")));
    compressor->succeed(0);
    ASSERT_TRUE(settle());
    EXPECT_FALSE(shown(item("previewSpinner")));
    EXPECT_FALSE(shown(item("samplePlaceholder")));

    // The sample starts 7 s into the 20 s original: the original is moved there, the sample stays at 0.
    ASSERT_DOUBLE_EQ(controller->previewStartTime(), 7);
    const auto alignedPaused = [&](const char *originalName, const char *sampleName) {
        QMediaPlayer *original = playerOf(item(originalName)), *sample = playerOf(item(sampleName));
        ASSERT_TRUE(original && sample);
        EXPECT_EQ(original->source(), controller->video()->url);
        EXPECT_EQ(sample->source(), controller->previewURLValue());
        ASSERT_TRUE(test::spinUntil([&] { return loaded(original) && loaded(sample) && original->position() >= 6900; }))
            << original->mediaStatus() << " " << sample->mediaStatus() << " at " << original->position();
        EXPECT_NEAR(original->position(), 7000, 100);
        EXPECT_EQ(sample->position(), 0);
        EXPECT_FALSE(playing(original) || playing(sample));
    };
    alignedPaused("originalPlayer", "samplePlayer");

    click(item("expandButton"));
    QQuickWindow *big = comparison();
    ASSERT_TRUE(big && test::spinUntil([&] { return big->isExposed(); }));
    alignedPaused("originalLargePlayer", "compressedLargePlayer");
    QMediaPlayer *original = playerOf(item("originalLargePlayer")), *sample = playerOf(item("compressedLargePlayer"));
    // Both start, the original from the sample's start time, the sample from 0.
    click(item("syncPlayButton"), big);
    ASSERT_TRUE(test::spinUntil([&] { return playing(original) && playing(sample); }));
    EXPECT_GE(original->position(), 6900);
    EXPECT_LT(sample->position(), original->position() - 6000);
    click(item("pauseButton"), big);
    EXPECT_FALSE(playing(original) || playing(sample));

    // One player at a time hides the other and the two buttons, and pauses both.
    click(item("syncPlayButton"), big);
    ASSERT_TRUE(test::spinUntil([&] { return playing(original); }));
    click(item("segment_original"), big);
    EXPECT_FALSE(shown(item("syncPlayButton")));
    EXPECT_FALSE(shown(item("pauseButton")));
    EXPECT_FALSE(shown(item("compressedLargePlayer")));
    EXPECT_FALSE(playing(original) || playing(sample));
    click(item("segment_sideBySide"), big);
    EXPECT_TRUE(shown(item("syncPlayButton")));

    QTest::keyClick(big, Qt::Key_F11);
    EXPECT_TRUE(test::spinUntil([&] { return big->visibility() == QWindow::FullScreen; }));
    QTest::keyClick(big, Qt::Key_Escape);
    EXPECT_TRUE(test::spinUntil([&] { return big->visibility() == QWindow::Windowed; }));

    // Escape, out of full screen, closes the window; that pauses whatever plays in it.
    click(item("syncPlayButton"), big);
    ASSERT_TRUE(test::spinUntil([&] { return playing(sample); }));
    QTest::keyClick(big, Qt::Key_Escape);
    EXPECT_FALSE(big->isVisible());
    drainEvents();
    EXPECT_FALSE(playing(original) || playing(sample));

    // New settings close the comparison first; the inline sample playing meanwhile stops with it.
    click(item("expandButton"));
    ASSERT_NE(comparison(), nullptr);
    QPointer<QMediaPlayer> inlineSample = playerOf(item("samplePlayer"));
    click(items("playPauseButton").value(1));
    ASSERT_TRUE(test::spinUntil([&] { return playing(inlineSample); }));
    click(item("plan_recommended")); // the plan already chosen: no change
    EXPECT_NE(comparison(), nullptr);
    bool closedFirst = false;
    const auto connection = QObject::connect(controller.get(), &AppViewModel::previewURLChanged, controller.get(),
                                             [&] { closedFirst = comparison() == nullptr; });
    click(item("plan_fastest"));
    QObject::disconnect(connection);
    EXPECT_EQ(comparison(), nullptr);
    EXPECT_TRUE(closedFirst) << "the window closed before the controller threw the sample away";
    EXPECT_TRUE(controller->previewURLValue().isEmpty());
    EXPECT_FALSE(playing(inlineSample));

    openComparison();
    const auto rows = items("queueRow");
    click(rows.at(0)); // already selected: nothing changes
    EXPECT_NE(comparison(), nullptr);
    click(rows.at(1));
    EXPECT_EQ(comparison(), nullptr);

    openComparison();
    window->close();
    drainEvents();
    EXPECT_EQ(comparison(), nullptr);
}

// On a bus of the test's own: no suspend while a run works, let go on cancel; a run that ends while another window is
// active is announced with the summary's text, one that ends in sight is not.
TEST_F(WindowTest, DesktopAskedNotToSleepAndToldOfARunThatEndsUnseen)
{
    test::FakeDesktop desktop;
    ASSERT_TRUE(desktop.isUp());
    MainWindow::tellTheDesktop(*window, *controller);
    importNow({knownVideo(QStringLiteral("a.mp4"))});
    startRun();
    ASSERT_TRUE(test::spinUntil([&] { return desktop.portal.open() == 1; }));
    click(item("cancelButton"));
    EXPECT_TRUE(test::spinUntil([&] { return desktop.portal.open() == 0; })) << "held after a cancel";

    QWindow other;
    other.resize(200, 200);
    other.show();
    other.requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    startRun();
    compressor->fail(compressor->calls.size() - 1, Error::platform(QStringLiteral("编码器出错")));
    ASSERT_TRUE(settle());
    EXPECT_TRUE(test::spinUntil([&] { return !desktop.notifications.shown.isEmpty(); }));
    EXPECT_EQ(desktop.notifications.shown, QStringList{"Slimreel:Slimreel:" + test::batchSummary(1)});
    EXPECT_TRUE(test::spinUntil([&] { return desktop.portal.open() == 0; })) << "held after the run";

    window->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    startRun();
    compressor->succeed(compressor->calls.size() - 1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(desktop.notifications.shown.size(), 1) << "a run that ended in sight was announced";
}

// A thousand queued: the card stops growing at eight rows and scrolls within itself, with rows made only for what is in
// sight; a selection made elsewhere and the row being compressed come into sight; the video card stays where it was.
TEST_F(WindowTest, AThousandQueuedScrollWithinTheCard)
{
    importNow({knownVideo(QStringLiteral("first.mp4"))});
    const double cardTop = item("videoCard")->mapToScene({0, 0}).y();
    QList<QUrl> urls;
    for (int i = 2; i <= 1000; ++i) {
        urls << knownVideo(QStringLiteral("clip-%1.mp4").arg(i, 4, 10, QLatin1Char('0')));
    }
    importNow(urls);
    QQuickItem *list = item("queueList");
    ASSERT_EQ(list->property("count").toInt(), 1000);
    EXPECT_LT(items("queueRow").size(), 30) << "rows are made only for what is in sight";
    EXPECT_NEAR(list->height(), 8 * item("queueRow")->height() + 7 * 6, 1);
    EXPECT_LT(item("videoCard")->mapToScene({0, 0}).y(), cardTop + 9 * item("queueRow")->height());
    EXPECT_TRUE(shown(item("queueScrollBar")));
    const auto inSight = [&](const QUuid &id) {
        const QRectF shownPart = list->mapRectToScene(QRectF(0, 0, list->width(), list->height()));
        return std::ranges::any_of(items("queueRow"), [&](QQuickItem *row) {
            return row->isVisible() && row->property("itemId").toString() == BatchQueueModel::idText(id)
                   && shownPart.contains(row->mapRectToScene(QRectF(0, 0, row->width(), row->height())));
        });
    };
    const QUuid last = controller->batchItems().last().id;
    EXPECT_FALSE(inSight(last));
    controller->selectItem(last);
    drainEvents();
    EXPECT_TRUE(inSight(last));
    window->grabWindow().save(QStringLiteral("queue-1000.png")); // in the test's working folder, to look at
    startRun();
    drainEvents();
    EXPECT_TRUE(inSight(controller->batchItems().first().id)) << "the video being compressed";
}

} // namespace
} // namespace slimreel

#include "WindowTest.moc"
