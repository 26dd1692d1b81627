#include "platform/DesktopNotification.h"
#include "platform/SleepInhibitor.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QProcess>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <memory>

using namespace slimreel;

namespace {

// One inhibition the stand-in portal granted; Close ends it.
class FakeRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    bool closed = false;
public Q_SLOTS:
    void Close() { closed = true; }
};

// The desktop portal's Inhibit, on a private session bus.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    explicit FakePortal(QDBusConnection bus)
        : m_bus(bus)
    {
    }
    std::vector<std::unique_ptr<FakeRequest>> requests;
    QList<std::pair<uint, QString>> asked; // flags, reason
    int open() const { return static_cast<int>(std::ranges::count(requests, false, [](const auto &r) { return r->closed; })); }
public Q_SLOTS:
    QDBusObjectPath Inhibit(const QString &, uint flags, const QVariantMap &options)
    {
        asked.append({flags, options.value(QStringLiteral("reason")).toString()});
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/test/%1").arg(requests.size());
        requests.push_back(std::make_unique<FakeRequest>());
        m_bus.registerObject(path, requests.back().get(), QDBusConnection::ExportAllSlots);
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection m_bus;
};

// The freedesktop notification service: records what it is asked to show.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList shown; // application: summary: body
public Q_SLOTS:
    uint Notify(const QString &application, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        shown << application + u':' + summary + u':' + body;
        return static_cast<uint>(shown.size());
    }
};

} // namespace

// Sleep held while work runs, let go when it ends, also when it ends before the desktop has answered or when the
// program ends holding it; a notification reaches the desktop's service.
TEST(DesktopServices, SleepHeldThroughThePortalWhileWorkRunsAndAlwaysLetGoAndTheEndOfARunNotified)
{
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted() || !test::spinUntil([&] { return daemon.canReadLine(); }, std::chrono::seconds(10))) {
        GTEST_SKIP() << "no dbus-daemon";
    }
    const QByteArray address = daemon.readLine().trimmed();
    // The program's session bus is this one: it is first used below.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("portal"));
    ASSERT_TRUE(bus.isConnected());
    FakePortal portal(bus);
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal, QDBusConnection::ExportAllSlots));

    {
        SleepInhibitor inhibitor(QStringLiteral("正在压缩视频"));
        inhibitor.setHeld(true);
        ASSERT_TRUE(test::spinUntil([&] { return inhibitor.isGranted(); }));
        EXPECT_EQ(portal.asked, (QList<std::pair<uint, QString>>{{4 | 8, QStringLiteral("正在压缩视频")}})) << "suspend and idle";
        inhibitor.setHeld(true);
        inhibitor.setHeld(false);
        EXPECT_FALSE(inhibitor.isGranted());
        ASSERT_TRUE(test::spinUntil([&] { return portal.open() == 0; }));

        // Ended before the answer: the late grant is let go at once.
        inhibitor.setHeld(true);
        inhibitor.setHeld(false);
        ASSERT_TRUE(test::spinUntil([&] { return portal.requests.size() == 2 && portal.open() == 0; }));
        EXPECT_FALSE(inhibitor.isGranted());

        inhibitor.setHeld(true);
        ASSERT_TRUE(test::spinUntil([&] { return inhibitor.isGranted(); }));
    }
    EXPECT_TRUE(test::spinUntil([&] { return portal.open() == 0; })) << "the program ended holding it";
    EXPECT_EQ(portal.requests.size(), 3);

    // The desktop's notification of a run's end, on the same bus.
    FakeNotifications notifications;
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications, QDBusConnection::ExportAllSlots));
    DesktopNotification::show(QStringLiteral("Slimreel"), QStringLiteral("批量压缩完成"));
    EXPECT_TRUE(test::spinUntil([&] { return !notifications.shown.isEmpty(); }));
    EXPECT_EQ(notifications.shown, QStringList{"Slimreel:Slimreel:批量压缩完成"});
    daemon.kill();
    daemon.waitForFinished();
}

#include "DesktopServicesTest.moc"
