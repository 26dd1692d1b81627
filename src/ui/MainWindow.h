#pragma once

#include <QString>

#include <memory>

class QQmlEngine;
class QQuickWindow;

namespace slimreel {

class AppViewModel;

// Builds the main window from the QML views over one controller. The program and
// the window tests both come through here, so the tests see what users see.
class MainWindow {
public:
    // Process-wide settings the window relies on; call first in main(), before
    // the application object or any thread exists.
    static void prepareProcess();

    // Fusion with the desktop's palette, unless the user picked a style, and
    // Simplified Chinese glyphs; call before the first engine exists.
    static void useDesktopStyle();

    // The window, owned by the caller; nullptr when the views fail to load, with
    // the QML errors in `errors`. The engine must outlive the window.
    // SIGINT, SIGTERM and SIGHUP (a logout, a shutdown, `kill`) close the
    // window as the user would; the program then stops its work and cleans up
    // before it ends, as after any close.
    static void closeOnQuitSignals(QQuickWindow &window);
    // While the controller works the desktop is asked not to suspend; a run that ends while the user is in another
    // window is announced by a desktop notification with the text the window shows.
    static void tellTheDesktop(QQuickWindow &window, AppViewModel &controller);
    static std::unique_ptr<QQuickWindow> create(QQmlEngine &engine, AppViewModel &controller,
                                                QString *errors = nullptr);
};

} // namespace slimreel
