#include "app/AppViewModel.h"
#include "app/BatchQueueModel.h"
#include "compress/FFmpegCompressor.h"
#include "platform/FileAccess.h"
#include "platform/Files.h"
#include "probe/VideoProbeService.h"
#include "support/FakeDesktop.h"
#include "support/Fakes.h"
#include "ui/MainWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
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
#include <QtQuickTest/quicktest.h>

#include <gmock/gmock.h>

#include <csignal>
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

    static QMediaPlayer *playerOf(QQuickItem *view)
    {
        return qobject_cast<QMediaPlayer *>(view->property("player").value<QObject *>());
    }
    static bool playing(const QMediaPlayer *player) { return player && player->playbackState() == QMediaPlayer::PlayingState; }
    static bool loaded(const QMediaPlayer *player)
    {
        return player->mediaStatus() == QMediaPlayer::LoadedMedia || player->mediaStatus() == QMediaPlayer::BufferedMedia;
    }

    // A left click in the middle of the item, through the window like a user's, once the layouts have placed it.
    void click(QQuickItem *item, QQuickWindow *in = nullptr)
    {
        ASSERT_NE(item, nullptr);
        QQuickWindow *target = in ? in : window.get();
        ASSERT_TRUE(QQuickTest::qWaitForPolish(target));
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        drainEvents();
    }

    QQuickWindow *comparison() const { return qobject_cast<QQuickWindow *>(window->property("comparison").value<QObject *>()); }

    // What the last step posted (queued calls, deletions) is done.
    static void drainEvents() { QTest::qWait(0); }

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

// Drops, and what a busy run locks; a failure's reason in its tooltip, the summary's alert, the folder opened.
// (Starting, progress and completion are read out in the screen-reader runs.)
TEST_F(WindowTest, DropsABusyRunAndItsFailure)
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
    const QList<QUrl> two{knownVideo(QStringLiteral("holiday.mov")), knownVideo(QStringLiteral("birthday.mp4"))};
    EXPECT_TRUE(drop(two, "emptyState"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(probe->inspected, two);
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.com/clip.mp4"))}, "leftColumn")) << "no file in it";

    const QUrl folder = startRun();
    for (const char *name : {"addVideosButton", "replaceVideoButton", "clearQueueButton", "addToQueueButton",
                             "modePicker", "planList", "generatePreviewButton", "removeRowButton"}) {
        EXPECT_FALSE(enabled(item(name))) << name;
    }
    EXPECT_TRUE(enabled(item("removeVideoButton"))) << "it asks first";
    EXPECT_FALSE(drop({knownVideo(QStringLiteral("late.mp4"))}, "leftColumn"));
    EXPECT_EQ(controller->itemCount(), 2);
    click(items("queueRow").at(1));
    EXPECT_EQ(text(item("videoFileName")), QStringLiteral("birthday.mp4")) << "rows still select";

    compressor->fail(0, Error::platform(QStringLiteral("编码器出错")));
    ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() == 2; }));
    compressor->succeed(1);
    ASSERT_TRUE(settle());
    EXPECT_NE(withText(test::batchSummary(1)), nullptr) << "the run's summary";
    click(withText(QStringLiteral("好"))); // by mouse: on Wayland the window has no keyboard focus
    EXPECT_TRUE(test::spinUntil([&] { return !visible("alert"); }));
    // The failure's reason is the help text of its status, nowhere else.
    const QQuickItem *failed = all([](QQuickItem *i) { return i->objectName() == "failedLabel" && i->isVisible(); }).value(0);
    ASSERT_NE(failed, nullptr);
    // Attached objects are children of their item.
    EXPECT_TRUE(std::ranges::any_of(failed->children(), [](const QObject *o) {
        return QByteArray(o->metaObject()->className()).contains("ToolTip") && o->property("text") == "编码器出错";
    }));
    EXPECT_EQ(withText(QStringLiteral("编码器出错")), nullptr);
    FolderOpener opener;
    click(item("openFolderButton"));
    EXPECT_THAT(opener.opened, ElementsAre(folder));
}

// Removal: at once by the Delete key when idle, asked first while a sample is made (Escape keeps the work); the
// target size takes only numbers.
TEST_F(WindowTest, RemovalAndTheTargetSize)
{
    importNow({knownVideo(QStringLiteral("a.mp4")), knownVideo(QStringLiteral("b.mp4"))});
    QTest::keyClick(window.get(), Qt::Key_Delete);
    EXPECT_FALSE(visible("removalConfirmation"));
    EXPECT_EQ(text(item("videoFileName")), QStringLiteral("b.mp4"));

    click(item("segment_targetSize"));
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
        EXPECT_EQ(controller->targetSizeMB(), value) << typed;
        EXPECT_EQ(text(field), QString::number(value)) << typed;
    }

    click(item("generatePreviewButton"));
    ASSERT_TRUE(controller->isGeneratingPreview());
    QTest::keyClick(window.get(), Qt::Key_Delete);
    EXPECT_TRUE(visible("removalConfirmation"));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(test::spinUntil([&] { return !visible("removalConfirmation"); }));
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
    // The recommended plan's estimate also encodes the short video's opening.
    ASSERT_TRUE(test::spinUntil([&] { return compressor->calls.size() == 2; }));
    compressor->succeed(1);
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
    EXPECT_EQ(comparison(), nullptr);
}

// On a bus of the test's own: no suspend while a run works, let go on cancel and at the end; a run that ends while
// another window is active is announced with the summary's text, one that ends in sight is not.
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
    startRun(); // ends in sight
    compressor->succeed(compressor->calls.size() - 1);
    ASSERT_TRUE(settle());

    QWindow other;
    other.resize(200, 200);
    other.show();
    other.requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    startRun();
    compressor->fail(compressor->calls.size() - 1, Error::platform(QStringLiteral("编码器出错")));
    ASSERT_TRUE(settle());
    EXPECT_TRUE(test::spinUntil([&] { return !desktop.notifications.shown.isEmpty(); }));
    // The bus keeps the order: a notification of the run that ended in sight would come first.
    EXPECT_EQ(desktop.notifications.shown, QStringList{"Slimreel:Slimreel:" + test::batchSummary(1)});
    EXPECT_TRUE(test::spinUntil([&] { return desktop.portal.open() == 0; })) << "held after the run";
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
    EXPECT_TRUE(test::spinUntil([&] { return inSight(last); }));
    startRun();
    EXPECT_TRUE(test::spinUntil([&] { return inSight(controller->batchItems().first().id); })) << "the one being compressed";
}

// The program's children: the tools it runs.
int childCount()
{
    int count = 0;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(QStringLiteral("/proc/self/task/%1/children").arg(task));
        if (children.open(QIODevice::ReadOnly)) {
            count += static_cast<int>(QString::fromLatin1(children.readAll()).split(u' ', Qt::SkipEmptyParts).size());
        }
    }
    return count;
}

// What the session manager or `kill` sends: the window stops its work as when
// it is closed, the encoder ends, and no sample or partial output stays.
TEST(QuitSignals, EndTheWindowOnlyOnceItsWorkHasStoppedAndCleanedUp)
{
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) == nullptr) {
        GTEST_SKIP() << "no display";
    }
    // Each signal once, during a run or while the preview's sample is made (the handling is one for all three).
    for (const auto &[signal, run] : {std::pair{SIGTERM, false}, std::pair{SIGINT, true}, std::pair{SIGHUP, true}}) {
        SCOPED_TRACE(testing::Message() << "signal " << signal << (run ? " during a run" : " during a preview"));
        const test::PrivateTempFolder temp;
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.mp4"));
        ASSERT_TRUE(QFile::copy(test::media(QStringLiteral("long.mp4")), source));
        const QByteArray before = test::readFile(source);
        const QDir out(dir.filePath(QStringLiteral("out")));
        ASSERT_TRUE(out.mkpath(QStringLiteral(".")));

        AppViewModel controller; // the real tools
        QQmlEngine engine;
        const auto window = MainWindow::create(engine, controller, nullptr);
        ASSERT_NE(window, nullptr);
        MainWindow::closeOnQuitSignals(*window);
        window->show();
        controller.importVideos({QUrl::fromLocalFile(source)}, false);
        ASSERT_TRUE(test::spinUntil([&] { return !controller.hasRunningTasks() && controller.itemCount() == 1; }));

        // Wait until the encoder is writing.
        const auto written = [&] {
            const QFileInfoList files =
                run ? out.entryInfoList(QDir::Files | QDir::Hidden)
                      : QDir(Files::scratchFolder()).entryInfoList({QStringLiteral("Slimreel-preview-*")}, QDir::Files);
            return !files.isEmpty() && files.first().size() > 0;
        };
        run ? controller.compressAll(QUrl::fromLocalFile(out.path())) : controller.generatePreview();
        ASSERT_TRUE(test::spinUntil(written));
        ASSERT_GT(childCount(), 0);

        ::raise(signal);
        ASSERT_TRUE(test::spinUntil([&] { return !window->isVisible(); }));
        controller.finishBeforeExit(); // as main() does once the event loop has ended
        EXPECT_EQ(childCount(), 0);
        EXPECT_EQ(test::tempEntries(QStringLiteral("Slimreel-p")), QStringList());
        EXPECT_EQ(out.entryList(QDir::Files | QDir::Hidden), QStringList());
        EXPECT_EQ(test::readFile(source), before) << "the source is unchanged";
    }
}

} // namespace
} // namespace slimreel

#include "WindowTest.moc"
