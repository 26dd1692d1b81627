#include "WindowTest.h"
#include "ui/MainWindow.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

#include <gmock/gmock.h>
#include <gst/gst.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(SlimreelPlugin)

// The window tests need a display; without one every test skips instead of failing.
int main(int argc, char **argv)
{
    testing::InitGoogleMock(&argc, argv);
    qunsetenv("XDG_RUNTIME_DIR"); // as in the other test programs
    slimreel::uitest::haveDisplay = !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) {
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    }
    std::unique_ptr<QCoreApplication> app;
    if (slimreel::uitest::haveDisplay) {
        app = std::make_unique<QGuiApplication>(argc, argv);
        // Tests close windows; that must not end the program.
        QGuiApplication::setQuitOnLastWindowClosed(false);
        slimreel::MainWindow::useDesktopStyle();
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    gst_init(nullptr, nullptr);
    return RUN_ALL_TESTS();
}
