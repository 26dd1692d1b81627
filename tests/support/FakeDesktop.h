#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QTemporaryDir>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace slimreel::test {

// One inhibition the stand-in portal granted. Close ends it, and, as with the real portal, so does its asker leaving
// the bus.
class FakeRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    bool closed = false;
public Q_SLOTS:
    void Close() { closed = true; }
};

// The desktop portal's Inhibit.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    std::vector<std::unique_ptr<FakeRequest>> requests;
    QList<std::pair<uint, QString>> asked; // flags, reason
    int open() const;
    QString bus; // the connection the requests are registered on
public Q_SLOTS:
    QDBusObjectPath Inhibit(const QString &window, uint flags, const QVariantMap &options);
};

// The freedesktop notification service: records what it is asked to show.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList shown; // application: summary: body
public Q_SLOTS:
    uint Notify(const QString &application, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int);
};

// A session bus of the test program's own, started by its main(): no test, and no program a test starts, reaches the
// desktop of whoever runs the tests. The daemon leaves the test's process tree, so the leftover checks see only tools.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();

private:
    QTemporaryDir m_dir;
};

// The stand-in portal and notification service on that bus. They answer while the test runs the event loop.
class FakeDesktop {
public:
    FakeDesktop();
    ~FakeDesktop();
    bool isUp() const { return m_up; }

    FakePortal portal;
    FakeNotifications notifications;

private:
    bool m_up = false;
};

} // namespace slimreel::test
