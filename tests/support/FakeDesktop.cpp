#include "support/FakeDesktop.h"

#include "support/TestSupport.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QFile>
#include <QProcess>

#include <csignal>

#include <unistd.h>

namespace slimreel::test {

int FakePortal::open() const
{
    return static_cast<int>(std::ranges::count(requests, false, [](const auto &r) { return r->closed; }));
}

QDBusObjectPath FakePortal::Inhibit(const QString &, uint flags, const QVariantMap &options)
{
    asked.append({flags, options.value(QStringLiteral("reason")).toString()});
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/test/%1").arg(requests.size());
    requests.push_back(std::make_unique<FakeRequest>());
    FakeRequest *request = requests.back().get();
    QDBusConnection(bus).registerObject(path, request, QDBusConnection::ExportAllSlots);
    const QString asker = message().service();
    auto *watcher = new QDBusServiceWatcher(asker, QDBusConnection(bus), QDBusServiceWatcher::WatchForUnregistration, request);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceUnregistered, request, [request] { request->closed = true; });
    request->closed = !QDBusConnection(bus).interface()->isServiceRegistered(asker);
    return QDBusObjectPath(path);
}

uint FakeNotifications::Notify(const QString &application, uint, const QString &, const QString &summary,
                               const QString &body, const QStringList &, const QVariantMap &, int)
{
    shown << application + u':' + summary + u':' + body;
    return static_cast<uint>(shown.size());
}

PrivateSessionBus::PrivateSessionBus()
{
    // No service is ever activated on it: the real desktop's services must not answer for the fakes.
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    writeFile(config, QStringLiteral(R"(<busconfig><type>session</type><listen>unix:path=%1/bus</listen><fork/>
<pidfile>%1/pid</pidfile><policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>)").arg(m_dir.path()).toUtf8());
    // It forks once it listens.
    if (QProcess::execute(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config}) == 0) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.filePath(QStringLiteral("bus"))));
    } else {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (const qint64 pid = readFile(m_dir.filePath(QStringLiteral("pid"))).trimmed().toLongLong(); pid > 0) {
        ::kill(static_cast<pid_t>(pid), SIGTERM);
        // Not our child: its folder goes once it has ended.
        for (int i = 0; i < 100 && ::kill(static_cast<pid_t>(pid), 0) == 0; ++i) {
            ::usleep(10'000);
        }
    }
}

FakeDesktop::FakeDesktop()
{
    portal.bus = QStringLiteral("fake-desktop");
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, portal.bus);
    m_up = bus.isConnected() && bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))
           && bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal, QDBusConnection::ExportAllSlots)
           && bus.registerService(QStringLiteral("org.freedesktop.Notifications"))
           && bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                 QDBusConnection::ExportAllSlots);
}

FakeDesktop::~FakeDesktop()
{
    QDBusConnection::disconnectFromBus(portal.bus);
}

} // namespace slimreel::test
