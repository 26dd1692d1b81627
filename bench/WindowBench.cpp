// The window's memory, measured from inside: the same views over the same
// controller as the program, driven the way a user drives them. Prints the
// resident size after start, with the queue filled, and after each preview
// sample (the comparison players load every new sample).

#include "BenchSupport.h"

#include "app/AppViewModel.h"
#include "cli/ControllerSession.h"
#include "ui/MainWindow.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <QCoroTimer>

#include <gst/gst.h>

#include <chrono>
#include <cstdio>

Q_IMPORT_QML_PLUGIN(SlimreelPlugin)

using namespace slimreel;

namespace {

struct Options {
    QStringList queue;   // files for the queue
    QString sample;      // the video sampled over and over
    int previews = 10;
    std::chrono::milliseconds settle{2000};
    QString screenshot;  // where to save the window after the last sample, if anywhere
};

void report(const QString &stage, int count)
{
    bench::printLine({{QStringLiteral("stage"), stage},
                      {QStringLiteral("count"), count},
                      {QStringLiteral("rss_kb"), static_cast<qint64>(bench::residentKilobytes())},
                      {QStringLiteral("anon_kb"), static_cast<qint64>(bench::anonymousKilobytes())},
                      {QStringLiteral("peak_kb"), static_cast<qint64>(bench::peakResidentKilobytes())}});
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

    co_await session->importFiles(options.queue);
    co_await QCoro::sleepFor(options.settle);
    report(QStringLiteral("queued"), controller->itemCount());

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
    if (options.queue.isEmpty() || options.sample.isEmpty() || options.previews < 1 || !chosenPlan) {
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
