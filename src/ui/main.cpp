#include "app/AppViewModel.h"
#include "compress/EncoderCatalog.h"
#include "platform/Files.h"
#include "ui/MainWindow.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

#include <gst/gst.h>

#include <cstdio>

Q_IMPORT_QML_PLUGIN(SlimreelPlugin)

using namespace slimreel;

namespace {

// Paths as a file manager passes them ("Open with"), or file URLs.
QList<QUrl> fileArguments(const QStringList &arguments)
{
    QList<QUrl> urls;
    for (const auto &argument : arguments) {
        urls.append(QUrl::fromUserInput(argument, QDir::currentPath(), QUrl::AssumeLocalFile));
    }
    return urls;
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    MainWindow::prepareProcess();

    QGuiApplication::setApplicationName(QStringLiteral("Slimreel"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Slimreel"));
    QGuiApplication::setApplicationVersion(QStringLiteral(SLIMREEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(SLIMREEL_APP_ID));
    QGuiApplication application(argc, argv);
    gst_init(nullptr, nullptr);
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral(SLIMREEL_APP_ID), QIcon(QStringLiteral(":/slimreel/SlimreelLogo.svg"))));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("视频变轻，画质依旧"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Videos to add to the queue."),
                                 QStringLiteral("[FILE...]"));
    parser.process(application);

    // What a killed earlier Slimreel left in the private folder goes first.
    Files::sweepScratchFolder();
    // The hardware-encoder trials run while the user is still choosing files.
    EncoderCatalog::shared().start();

    MainWindow::useDesktopStyle();
    AppViewModel controller;
    QQmlEngine engine;
    QString errors;
    auto window = MainWindow::create(engine, controller, &errors);
    if (!window) {
        std::fprintf(stderr, "slimreel: the window could not be built:\n%s\n", qPrintable(errors));
        return 1;
    }

    if (qEnvironmentVariableIsSet("SLIMREEL_REPORT_STARTUP")) {
        QObject::connect(
            window.get(), &QQuickWindow::frameSwapped, window.get(),
            [&sinceStart] { std::fprintf(stderr, "first frame after %lld ms\n", sinceStart.elapsed()); },
            Qt::SingleShotConnection);
    }

    // Files given at start arrive like a drop on the window.
    const auto urls = fileArguments(parser.positionalArguments());
    if (!urls.isEmpty()) {
        QMetaObject::invokeMethod(window.get(), "acceptDrop", Q_ARG(QVariant, QVariant::fromValue(urls)));
    }
    MainWindow::closeOnQuitSignals(*window);
    // Keys go to the new window at once, also where no window manager hands it the focus.
    window->requestActivate();
    MainWindow::tellTheDesktop(*window, controller);
    const int status = application.exec();
    // Work still running when the window closes is stopped, and cleans up
    // after itself, before the program ends.
    controller.finishBeforeExit();
    return status;
}
