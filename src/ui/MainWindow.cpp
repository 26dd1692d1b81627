#include "ui/MainWindow.h"

#include "app/AppViewModel.h"
#include "platform/QuitSignals.h"
#include "ui/IconProvider.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickWindow>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace slimreel {

void MainWindow::prepareProcess()
{
#ifdef __GLIBC__
    // Each player brings new GStreamer threads and glibc gives each thread a
    // malloc arena of its own; decoded frames freed there stayed with the
    // process, so the window grew by megabytes with every preview sample. One
    // arena keeps it flat; what allocates much (the encoders) runs in child processes.
    mallopt(M_ARENA_MAX, 1);
#endif
    // The players go through the desktop's media framework, like inspection and export.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) {
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    }
}

void MainWindow::closeOnQuitSignals(QQuickWindow &window)
{
    QObject::connect(new QuitSignals(&window), &QuitSignals::received, &window, [&window] {
        window.close();
        QGuiApplication::quit();
    });
}

void MainWindow::useDesktopStyle()
{
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE")) {
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
    }
    // Every text is Simplified Chinese; outside a Chinese locale the font fallback
    // would pick Japanese glyph shapes for the same characters.
    // The family the desktop font really resolves to keeps the Latin text and
    // punctuation; only the characters it lacks come from the Chinese face.
    const QString family = QFontInfo(QGuiApplication::font()).family();
    for (const char *chinese : {"Noto Sans CJK SC", "Source Han Sans SC", "Noto Sans SC", "WenQuanYi Micro Hei"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(chinese))) {
            QFont::insertSubstitution(family, QString::fromLatin1(chinese));
            break;
        }
    }
}

std::unique_ptr<QQuickWindow> MainWindow::create(QQmlEngine &engine, AppViewModel &controller, QString *errors)
{
    if (engine.imageProvider(QStringLiteral("icon")) == nullptr) {
        engine.addImageProvider(QStringLiteral("icon"), new IconProvider);
    }
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));

    QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Slimreel/Main.qml")));
    if (!component.isReady()) {
        if (errors != nullptr) {
            *errors = component.errorString();
        }
        return nullptr;
    }
    QObject *object = component.createWithInitialProperties({{QStringLiteral("app"), QVariant::fromValue<QObject *>(&controller)}});
    auto *window = qobject_cast<QQuickWindow *>(object);
    if (window == nullptr) {
        delete object;
        if (errors != nullptr) {
            *errors = component.errorString();
        }
        return nullptr;
    }
    QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
    return std::unique_ptr<QQuickWindow>(window);
}

} // namespace slimreel
