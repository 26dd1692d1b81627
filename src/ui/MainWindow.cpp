#include "ui/MainWindow.h"

#include "app/AppViewModel.h"
#include "platform/DesktopNotification.h"
#include "platform/QuitSignals.h"
#include "platform/SleepInhibitor.h"
#include "ui/IconProvider.h"

#include <QAccessible>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickWindow>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace slimreel {

namespace {

// Qt 6.4's buttons (ours and those of its own dialogs) offer a screen reader a
// press action that does nothing. Qt answers it only through a QML handler on the
// `Accessible` attached object, so each button gets one that clicks it, as a
// click by mouse or key would.
constexpr char forwarderSource[] = R"(import QtQml
Connections {
    required property QtObject button
    function onPressAction() { if (button.enabled && button.visible) button.clicked() }
})";

QPointer<QQmlComponent> forwarder; // of the newest window's engine, and owned by it

// Runs as each object is first seen by the accessibility interface; makes no interface itself.
QAccessibleInterface *forwardPressToClick(const QString &, QObject *object)
{
    if (object == nullptr || !object->inherits("QQuickAbstractButton") || forwarder.isNull()
        || forwarder->engine() != qmlEngine(object) || object->property("slimreelPressForwarded").toBool()) {
        return nullptr;
    }
    // Qt's own attached object, which the controls make as accessibility comes on (one made
    // through the public lookup would be a second one that Qt never asks).
    for (QObject *child : object->children()) {
        if (qstrcmp(child->metaObject()->className(), "QQuickAccessibleAttached") == 0) {
            object->setProperty("slimreelPressForwarded", true);
            QObject *handler = forwarder->createWithInitialProperties(
                {{QStringLiteral("target"), QVariant::fromValue(child)}, {QStringLiteral("button"), QVariant::fromValue(object)}});
            if (handler != nullptr) {
                handler->setParent(object);
            }
            break;
        }
    }
    return nullptr;
}

// Before the views exist, so that no button is seen first.
void forwardScreenReaderPresses(QQmlEngine &engine)
{
    if (forwarder.isNull() || forwarder->engine() != &engine) {
        forwarder = new QQmlComponent(&engine, &engine);
        forwarder->setData(forwarderSource, QUrl());
    }
    static const bool installed = (QAccessible::installFactory(forwardPressToClick), true);
    Q_UNUSED(installed);
}

} // namespace

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

void MainWindow::tellTheDesktop(QQuickWindow &window, AppViewModel &controller)
{
    auto *inhibitor = new SleepInhibitor(QStringLiteral("正在压缩视频"), &window);
    QObject::connect(&controller, &AppViewModel::hasActiveTaskChanged, inhibitor,
                     [inhibitor, &controller] { inhibitor->setHeld(controller.hasActiveTask()); });
    // Queued, so that the summary, set just after the state, is there.
    QObject::connect(
        &controller, &AppViewModel::stateChanged, &window,
        [&window, &controller] {
            if (controller.state().is(CompressionState::Case::completed) && !window.isActive()) {
                DesktopNotification::show(QStringLiteral("Slimreel"),
                                          controller.alertMessage().value_or(QStringLiteral("批量压缩完成")));
            }
        },
        Qt::QueuedConnection);
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
    forwardScreenReaderPresses(engine);

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
