// The window's memory, measured from inside: the same views over the same
// controller as the program, driven the way a user drives them. Prints the
// resident size after start, with the queue filled (dropped at once, with the
// window's responsiveness meanwhile), and after each preview sample (the
// comparison players load every new sample).

#include "BenchSupport.h"

#include "app/AppViewModel.h"
#include "cli/ControllerSession.h"
#include "ui/MainWindow.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QFileInfo>
#include <QImage>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <QCoroTimer>

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <utility>

Q_IMPORT_QML_PLUGIN(SlimreelPlugin)

using namespace slimreel;

namespace {

struct Options {
    QStringList queue;   // files for the queue
    QString sample;      // the video sampled over and over
    int previews = 10;   // none: the queue alone
    std::chrono::milliseconds settle{2000};
    QString screenshot;  // where to save the window after the last sample, if anywhere
};

void report(const QString &stage, int count, QJsonObject more = {})
{
    more.insert(QStringLiteral("stage"), stage);
    more.insert(QStringLiteral("count"), count);
    more.insert(QStringLiteral("rss_kb"), static_cast<qint64>(bench::residentKilobytes()));
    more.insert(QStringLiteral("anon_kb"), static_cast<qint64>(bench::anonymousKilobytes()));
    more.insert(QStringLiteral("peak_kb"), static_cast<qint64>(bench::peakResidentKilobytes()));
    bench::printLine(more);
}

// The queue dropped at once, as the window gets a drop: how long the first file
// waited for the frame that showed it (into an empty window, that frame brings
// the whole workspace); after it and until the import ends, the longest a new
// file waited until a frame showed it, the longest a frame's own work took
// (sync and render submission; the buffer swap, where Xvfb's software path
// rasterizes and copies, comes after it) and the longest gap between two turns
// of the event loop; that gap again over the second after the import, when the
// first video is selected and its player opens the file; and how long a file
// takes at the start and at the end of the import.
QCoro::Task<QJsonObject> importAsDrop(QQuickWindow *window, cli::ControllerSession *session, const QStringList &files)
{
    AppViewModel &controller = session->controller();
    QList<QUrl> urls;
    for (const QString &file : files) {
        urls << QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
    }
    QElapsedTimer clock;
    qint64 lastFrame = -1, longestFrame = 0, lastTurn = 0, longestTurn = 0, frames = 0;
    qint64 unshownSince = -1, firstUnshown = -1, longestUnshown = 0;
    QList<qint64> arrivals;
    // Set and read on the render thread only.
    auto workStart = std::make_shared<std::atomic<qint64>>(0);
    auto longestWork = std::make_shared<std::atomic<qint64>>(0);
    const auto syncing = QObject::connect(window, &QQuickWindow::beforeSynchronizing, window,
                                          [&clock, workStart] { *workStart = clock.nsecsElapsed(); }, Qt::DirectConnection);
    const auto rendered = QObject::connect(window, &QQuickWindow::afterRendering, window, [&clock, workStart, longestWork] {
        *longestWork = std::max(longestWork->load(), clock.nsecsElapsed() - workStart->load());
    }, Qt::DirectConnection);
    const auto frameSeen = QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestFrame = lastFrame < 0 ? 0 : std::max(longestFrame, now - lastFrame);
        lastFrame = now;
        if (unshownSince >= 0) {
            const qint64 waited = now - std::exchange(unshownSince, -1);
            if (firstUnshown < 0) {
                firstUnshown = waited;
                lastTurn = now; // the event loop is timed from here on
                *longestWork = 0;
            } else {
                longestUnshown = std::max(longestUnshown, waited);
            }
        }
        ++frames;
    });
    const auto arrived = QObject::connect(&controller, &AppViewModel::batchItemsChanged, &controller, [&] {
        while (arrivals.size() < controller.itemCount()) {
            arrivals << clock.nsecsElapsed();
        }
        if (unshownSince < 0) {
            unshownSince = clock.nsecsElapsed();
        }
    });
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (firstUnshown >= 0) {
            longestTurn = std::max(longestTurn, now - lastTurn);
        }
        lastTurn = now;
    });
    clock.start();
    ticker.start();
    controller.importVideos(urls);
    co_await session->waitUntilIdle();
    const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const qint64 turnWhileImporting = longestTurn, unshownWhileImporting = longestUnshown,
                 workWhileImporting = longestWork->load(), framesWhileImporting = frames;
    // Then the first video is selected and its player opens the file.
    longestTurn = 0;
    co_await QCoro::sleepFor(std::chrono::seconds(1));
    ticker.stop();
    QObject::disconnect(frameSeen);
    QObject::disconnect(syncing);
    QObject::disconnect(rendered);
    QObject::disconnect(arrived);
    // Milliseconds per file over the first and the last tenth of the files.
    const qsizetype n = arrivals.size(), tenth = std::max<qsizetype>(1, n / 10);
    const auto perFile = [&](qsizetype from, qsizetype to) {
        return n == 0 ? 0.0 : static_cast<double>(arrivals.at(to) - (from < 0 ? 0 : arrivals.at(from))) / 1e6
                                  / static_cast<double>(to - from);
    };
    co_return QJsonObject{{QStringLiteral("import_wall_s"), wall},
                          {QStringLiteral("longest_frame_ms"), static_cast<double>(longestFrame) / 1e6},
                          {QStringLiteral("first_unshown_ms"), static_cast<double>(firstUnshown) / 1e6},
                          {QStringLiteral("longest_unshown_ms"), static_cast<double>(unshownWhileImporting) / 1e6},
                          {QStringLiteral("longest_frame_work_ms"), static_cast<double>(workWhileImporting) / 1e6},
                          {QStringLiteral("longest_turn_ms"), static_cast<double>(turnWhileImporting) / 1e6},
                          {QStringLiteral("after_import_turn_ms"), static_cast<double>(longestTurn) / 1e6},
                          {QStringLiteral("frames"), framesWhileImporting},
                          {QStringLiteral("first_ms_per_file"), perFile(-1, std::min(tenth, n) - 1)},
                          {QStringLiteral("last_ms_per_file"), perFile(std::max<qsizetype>(0, n - 1 - tenth), n - 1)}};
}

// For comparison, in the quiet window: ten selection changes a third of a second
// apart, and the longest one of them took to reach the screen.
QCoro::Task<double> selectionToScreen(QQuickWindow *window, AppViewModel *controller)
{
    QElapsedTimer clock;
    qint64 longest = 0;
    for (int i = 0; i < 10 && controller->itemCount() > 1; ++i) {
        bool shown = false;
        const auto swapped = QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] { shown = true; });
        clock.start();
        // The first video is selected after the import: start with the second.
        controller->selectItem(controller->batchItems().at((i + 1) % 2).id);
        while (!shown && clock.elapsed() < 5000) {
            co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        }
        longest = std::max(longest, clock.nsecsElapsed());
        QObject::disconnect(swapped);
        co_await QCoro::sleepFor(std::chrono::milliseconds(330));
    }
    co_return static_cast<double>(longest) / 1e6;
}

QCoro::Task<int> measure(QQuickWindow *window, cli::ControllerSession *session, Options options)
{
    AppViewModel *controller = &session->controller();
    bool drawn = false;
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [&drawn] { drawn = true; }, Qt::SingleShotConnection);
    while (!drawn) {
        co_await QCoro::sleepFor(std::chrono::milliseconds(10));
    }
    // Fonts, icons and the style settle in over the first frames.
    co_await QCoro::sleepFor(options.settle);
    report(QStringLiteral("idle"), 0);

    const QJsonObject import = co_await importAsDrop(window, session, options.queue);
    co_await QCoro::sleepFor(options.settle);
    report(QStringLiteral("queued"), controller->itemCount(), import);
    const double selection = co_await selectionToScreen(window, controller);
    bench::printLine({{QStringLiteral("stage"), QStringLiteral("selection")}, {QStringLiteral("longest_unshown_ms"), selection}});
    if (options.previews == 0) {
        if (!options.screenshot.isEmpty()) {
            window->grabWindow().save(options.screenshot);
        }
        co_return controller->itemCount() == options.queue.size() ? 0 : 1;
    }

    controller->clearVideos();
    co_await session->waitUntilIdle();
    const QStringList sample{options.sample};
    co_await session->importFiles(sample);
    co_await QCoro::sleepFor(options.settle);
    report(QStringLiteral("sample queued"), controller->itemCount());

    int failures = 0;
    for (int run = 1; run <= options.previews; ++run) {
        controller->generatePreview();
        co_await session->waitUntilIdle();
        if (!controller->previewURL()) {
            ++failures;
            session->showAlert();
        }
        // The preview players open the new sample.
        co_await QCoro::sleepFor(options.settle);
        report(QStringLiteral("preview"), run);
    }
    if (!options.screenshot.isEmpty()) {
        window->grabWindow().save(options.screenshot);
    }
    controller->clearVideos();
    co_return failures == 0 ? 0 : 1;
}

// The floor under the window's start: a bare Qt Quick window with one line of
// Chinese text, timed like the program from main() to the first frame.
int emptyWindow(QElapsedTimer sinceStart)
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nWindow { width: 1120; height: 780; visible: true; "
                      "Text { text: \"视频变轻，画质依旧\"; font.pixelSize: 20 } }",
                      QUrl());
    const std::unique_ptr<QObject> window(component.create());
    auto *quickWindow = qobject_cast<QQuickWindow *>(window.get());
    if (!quickWindow) {
        std::fprintf(stderr, "slimreel-window-bench: %s\n", qPrintable(component.errorString()));
        return 1;
    }
    QObject::connect(
        quickWindow, &QQuickWindow::frameSwapped, quickWindow,
        [&sinceStart] {
            bench::printLine({{QStringLiteral("stage"), QStringLiteral("empty window")},
                              {QStringLiteral("first_frame_ms"), sinceStart.elapsed()},
                              {QStringLiteral("rss_kb"), static_cast<qint64>(bench::residentKilobytes())}});
            QCoreApplication::quit();
        },
        Qt::SingleShotConnection);
    return QGuiApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    MainWindow::prepareProcess();
    QGuiApplication application(argc, argv);
    gst_init(nullptr, nullptr);

    QCommandLineParser parser;
    const QCommandLineOption sample(QStringLiteral("sample"), QStringLiteral("video to sample"), QStringLiteral("FILE"));
    const QCommandLineOption previews(QStringLiteral("previews"), QStringLiteral("samples in a row"),
                                      QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption plan(QStringLiteral("plan"), QStringLiteral("plan of the samples"), QStringLiteral("plan"),
                                  QStringLiteral("recommended"));
    const QCommandLineOption settle(QStringLiteral("settle-ms"), QStringLiteral("pause before each reading"),
                                    QStringLiteral("ms"), QStringLiteral("2000"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("save the window after the last sample"),
                                        QStringLiteral("PNG"));
    const QCommandLineOption empty(QStringLiteral("empty-window"),
                                   QStringLiteral("time a bare Qt Quick window to its first frame, and quit"));
    parser.addOptions({sample, previews, plan, settle, screenshot, empty});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("videos for the queue"));
    parser.process(application);
    if (parser.isSet(empty)) {
        return emptyWindow(sinceStart);
    }

    Options options;
    options.queue = parser.positionalArguments();
    options.sample = parser.value(sample);
    options.previews = parser.value(previews).toInt();
    options.settle = std::chrono::milliseconds(parser.value(settle).toInt());
    options.screenshot = parser.value(screenshot);
    const auto chosenPlan = compressionPlanFromRaw(parser.value(plan));
    if (options.queue.isEmpty() || (options.sample.isEmpty() && options.previews > 0) || options.previews < 0 || !chosenPlan) {
        std::fprintf(stderr, "Usage: slimreel-window-bench --sample FILE [--previews N] [--plan PLAN] "
                             "[--settle-ms MS] FILE...\n");
        return 2;
    }

    // The session starts the encoder trials as the program does at launch.
    MainWindow::useDesktopStyle();
    cli::ControllerSession session(false);
    QQmlEngine engine;
    QString errors;
    const auto window = MainWindow::create(engine, session.controller(), &errors);
    if (!window) {
        std::fprintf(stderr, "slimreel-window-bench: no window:\n%s\n", qPrintable(errors));
        return 1;
    }
    session.apply({std::nullopt, chosenPlan, std::nullopt});
    window->show();
    return QCoro::waitFor(measure(window.get(), &session, options));
}
