#include "ui/MainWindow.h"

#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

#include <gmock/gmock.h>
#include <gst/gst.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(SlimreelPlugin)

// The window tests need a display; without one they skip instead of failing.
int main(int argc, char **argv)
{
    testing::InitGoogleMock(&argc, argv);
    qunsetenv("XDG_RUNTIME_DIR"); // as in the other test programs
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    qputenv("QT_MEDIA_BACKEND", qgetenv("QT_MEDIA_BACKEND").isEmpty() ? "gstreamer" : qgetenv("QT_MEDIA_BACKEND"));
    std::unique_ptr<QCoreApplication> app;
    if (display) {
        app = std::make_unique<QGuiApplication>(argc, argv);
        QGuiApplication::setQuitOnLastWindowClosed(false); // tests close windows
        slimreel::MainWindow::useDesktopStyle();
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    gst_init(nullptr, nullptr);
    return RUN_ALL_TESTS();
}
