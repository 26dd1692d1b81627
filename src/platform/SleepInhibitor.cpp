#include "platform/SleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace slimreel {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
// The portal's flags: 4 suspending, 8 the session going idle.
constexpr unsigned suspendAndIdle = 4 | 8;

template <typename Reply, typename Handle>
void whenAnswered(QDBusConnection bus, const QDBusMessage &call, QObject *context, Handle handle)
{
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, handle] {
        watcher->deleteLater();
        handle(QDBusPendingReply<Reply>(*watcher));
    });
}

} // namespace

SleepInhibitor::SleepInhibitor(QString reason, QObject *parent)
    : QObject(parent)
    , m_reason(std::move(reason))
{
}

SleepInhibitor::~SleepInhibitor()
{
    release();
}

void SleepInhibitor::setHeld(bool held)
{
    if (held == m_held) {
        return;
    }
    m_held = held;
    ++m_attempt;
    if (held) {
        askPortal(m_attempt);
    } else {
        release();
    }
}

void SleepInhibitor::askPortal(std::uint64_t attempt)
{
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.freedesktop.portal.Inhibit"),
                                                       QStringLiteral("Inhibit"));
    call << QString() << suspendAndIdle << QVariantMap{{QStringLiteral("reason"), m_reason}};
    whenAnswered<QDBusObjectPath>(QDBusConnection::sessionBus(), call, this,
                                  [this, attempt](const QDBusPendingReply<QDBusObjectPath> &reply) {
        if (reply.isError()) {
            if (attempt == m_attempt) {
                askLogind(attempt);
            }
            return;
        }
        m_request = reply.value();
        if (attempt != m_attempt) {
            release(); // the work ended meanwhile
            return;
        }
        Q_EMIT grantChanged();
    });
}

void SleepInhibitor::askLogind(std::uint64_t attempt)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                                       QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"),
                                                       QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Slimreel") << m_reason << QStringLiteral("block");
    whenAnswered<QDBusUnixFileDescriptor>(QDBusConnection::systemBus(), call, this,
                                          [this, attempt](const QDBusPendingReply<QDBusUnixFileDescriptor> &reply) {
        if (reply.isError()) {
            return;
        }
        m_lock = reply.value();
        if (attempt != m_attempt) {
            release();
            return;
        }
        Q_EMIT grantChanged();
    });
}

void SleepInhibitor::release()
{
    const bool granted = isGranted();
    if (!m_request.path().isEmpty()) {
        QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
            portalService, m_request.path(), QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
        m_request = QDBusObjectPath();
    }
    m_lock = QDBusUnixFileDescriptor(); // closes our copy of logind's descriptor
    if (granted) {
        Q_EMIT grantChanged();
    }
}

} // namespace slimreel
