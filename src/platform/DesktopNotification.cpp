#include "platform/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace slimreel::DesktopNotification {

void show(const QString &summary, const QString &body)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Application, no notification to replace, the desktop entry's icon, the texts,
    // no actions, the desktop entry for the server to group it by, its usual timeout.
    call << QStringLiteral("Slimreel") << 0U << QStringLiteral("io.slimreel.Slimreel") << summary << body << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("io.slimreel.Slimreel")}} << -1;
    QDBusConnection::sessionBus().send(call); // no answer is awaited
}

} // namespace slimreel::DesktopNotification
