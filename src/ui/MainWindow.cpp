#include "ui/MainWindow.h"

#include "app/AppViewModel.h"
#include "ui/IconProvider.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickWindow>

namespace slimreel {

void MainWindow::useDesktopStyle()
{
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE")) {
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
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
