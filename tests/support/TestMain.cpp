#include "support/FakeDesktop.h"

#include <QCoreApplication>

#include <gmock/gmock.h>
#include <gst/gst.h>

#include <memory>

#ifdef SLIMREEL_WINDOW_TESTS
#include "ui/MainWindow.h"

#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(SlimreelPlugin)
#endif

// Tests run coroutines on a real Qt event loop, as the program does. The window tests need a display; without one they
// skip instead of failing.
int main(int argc, char **argv)
{
    testing::InitGoogleMock(&argc, argv);
    // Samples and pass folders then go under the temporary folder, which a test can make its own (PrivateTempFolder) to
    // see only what it left.
    qunsetenv("XDG_RUNTIME_DIR");
    const slimreel::test::PrivateSessionBus bus; // before anything can connect to the desktop's
    std::unique_ptr<QCoreApplication> app;
#ifdef SLIMREEL_WINDOW_TESTS
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) {
            qputenv("QT_MEDIA_BACKEND", "gstreamer");
        }
        app = std::make_unique<QGuiApplication>(argc, argv);
        QGuiApplication::setQuitOnLastWindowClosed(false); // tests close windows
        slimreel::MainWindow::useDesktopStyle();
    }
#endif
    if (!app) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    gst_init(nullptr, nullptr);
    return RUN_ALL_TESTS();
}
