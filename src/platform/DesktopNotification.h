#pragma once

#include <QString>

namespace slimreel::DesktopNotification {

// A desktop notification through the freedesktop notification service on the
// session bus; nothing happens where no such service runs. Asynchronous.
void show(const QString &summary, const QString &body);

} // namespace slimreel::DesktopNotification
