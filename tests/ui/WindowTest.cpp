#include "WindowTest.h"

#include "platform/FileAccess.h"
#include "support/TestSupport.h"
#include "ui/MainWindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

namespace slimreel::uitest {

bool haveDisplay = false;

void WindowTest::SetUp()
{
    if (!haveDisplay) {
        GTEST_SKIP() << "no display (set DISPLAY or run under xvfb-run)";
    }
    ASSERT_TRUE(dir.isValid());
    probe = std::make_shared<test::FakeProbe>();
    compressor = std::make_shared<test::FakeCoordinator>();
    compressor->sampleSource = test::media(QStringLiteral("h264_aac.mp4"));
    controller = std::make_unique<AppViewModel>(probe, compressor, std::make_shared<SystemFileAccess>());
    engine = std::make_unique<QQmlEngine>();
    QString errors;
    window = MainWindow::create(*engine, *controller, &errors);
    ASSERT_NE(window, nullptr) << errors.toStdString();
    window->setPosition(40, 40);
    window->show();
    ASSERT_TRUE(test::spinUntil([this] { return window->isExposed(); }));
}

void WindowTest::TearDown()
{
    if (controller) {
        controller->cancel();
        settle();
    }
    window.reset();
    engine.reset();
    controller.reset();
}

QUrl WindowTest::knownVideo(const QString &name, qint64 fileSize, double duration)
{
    VideoInfo info = test::makeInfo(QUrl::fromLocalFile(dir.filePath(name)), duration, fileSize);
    info.videoBitrate = 4'260'000;
    info.frameRate = 29.97;
    info.codec = QStringLiteral("HEVC");
    probe->add(info);
    return info.url;
}

QUrl WindowTest::realVideo(const QString &mediaName)
{
    const QString path = test::media(mediaName);
    VideoInfo info = test::makeInfo(QUrl::fromLocalFile(path),
                                    test::ffprobeValue(path, QStringLiteral("format=duration")).toDouble(),
                                    QFileInfo(path).size());
    info.width = test::ffprobeValue(path, QStringLiteral("stream=width")).toLongLong();
    info.height = test::ffprobeValue(path, QStringLiteral("stream=height")).toLongLong();
    probe->add(info);
    return info.url;
}

void WindowTest::importNow(const QList<QUrl> &urls)
{
    controller->importVideos(urls, false);
    ASSERT_TRUE(settle());
}

bool WindowTest::settle()
{
    return test::spinUntil([this] { return !controller->hasRunningTasks(); });
}

QUrl WindowTest::startRun()
{
    const QString folder = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(folder);
    const qsizetype before = compressor->calls.size();
    controller->compressAll(QUrl::fromLocalFile(folder));
    EXPECT_TRUE(test::spinUntil([&] { return compressor->calls.size() > before; }));
    return QUrl::fromLocalFile(folder);
}

bool WindowTest::dropFiles(const QList<QUrl> &urls, QQuickItem *onto)
{
    if (onto == nullptr) {
        ADD_FAILURE() << "nothing to drop onto";
        return false;
    }
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = onto->mapToScene(QPointF(onto->width() / 2, onto->height() / 2)).toPoint();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &move);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &drop);
    drainEvents();
    return drop.isAccepted();
}

namespace {

void collect(QQuickItem *item, const QString &objectName, QList<QQuickItem *> &found)
{
    if (item->objectName() == objectName) {
        found.append(item);
    }
    for (QQuickItem *child : item->childItems()) {
        collect(child, objectName, found);
    }
}

QQuickItem *findText(QQuickItem *item, const QString &text)
{
    if (item->isVisible() && item->property("text").toString() == text) {
        return item;
    }
    for (QQuickItem *child : item->childItems()) {
        if (QQuickItem *found = findText(child, text)) {
            return found;
        }
    }
    return nullptr;
}

void collectTexts(QQuickItem *item, QStringList &texts)
{
    if (!item->isVisible()) {
        return;
    }
    const QString text = item->property("text").toString();
    if (!text.isEmpty()) {
        texts.append(text);
    }
    for (QQuickItem *child : item->childItems()) {
        collectTexts(child, texts);
    }
}

} // namespace

QStringList WindowTest::visibleTexts() const
{
    QStringList texts;
    collectTexts(window->contentItem(), texts);
    if (QQuickWindow *comparison = comparisonWindow()) {
        collectTexts(comparison->contentItem(), texts);
    }
    return texts;
}

QList<QQuickItem *> WindowTest::items(const QString &objectName) const
{
    QList<QQuickItem *> found;
    collect(window->contentItem(), objectName, found);
    if (QQuickWindow *comparison = comparisonWindow()) {
        collect(comparison->contentItem(), objectName, found);
    }
    return found;
}

QQuickItem *WindowTest::item(const QString &objectName) const
{
    const auto found = items(objectName);
    return found.isEmpty() ? nullptr : found.first();
}

QQuickItem *WindowTest::withText(const QString &text) const
{
    if (QQuickItem *found = findText(window->contentItem(), text)) {
        return found;
    }
    QQuickWindow *comparison = comparisonWindow();
    return comparison != nullptr ? findText(comparison->contentItem(), text) : nullptr;
}

QObject *WindowTest::object(const QString &objectName) const
{
    return window->findChild<QObject *>(objectName);
}

QString WindowTest::text(const QQuickItem *item)
{
    return item != nullptr ? item->property("text").toString() : QString();
}

bool WindowTest::shown(const QQuickItem *item)
{
    return item != nullptr && item->isVisible() && item->opacity() > 0;
}

bool WindowTest::enabled(const QQuickItem *item)
{
    return item != nullptr && item->isEnabled();
}

QString WindowTest::toolTipText(const QQuickItem *item)
{
    // Attached objects are children of the item they are attached to.
    for (const QObject *child : item->children()) {
        if (QByteArray(child->metaObject()->className()).contains("ToolTipAttached")) {
            return child->property("text").toString();
        }
    }
    return {};
}

void WindowTest::click(QQuickItem *item, QQuickWindow *in)
{
    ASSERT_NE(item, nullptr);
    drainEvents();
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(in != nullptr ? in : window.get(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    drainEvents();
}

QQuickWindow *WindowTest::comparisonWindow() const
{
    return qobject_cast<QQuickWindow *>(window->property("comparison").value<QObject *>());
}

void WindowTest::drainEvents()
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 150) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

} // namespace slimreel::uitest
