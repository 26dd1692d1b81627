#pragma once

#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

#include <cstdint>

namespace slimreel {

// Asks the desktop not to suspend while work runs: through the desktop portal's
// Inhibit on the session bus, else through logind on the system bus; nothing
// happens where neither answers. Calls are asynchronous, so a slow bus never
// holds up the window; an answer that comes after the work has ended is let go
// at once.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    explicit SleepInhibitor(QString reason, QObject *parent = nullptr);
    ~SleepInhibitor() override;

    void setHeld(bool held);
    // Whether the desktop has granted it (for the tests).
    bool isGranted() const { return !m_request.path().isEmpty() || m_lock.isValid(); }

Q_SIGNALS:
    void grantChanged();

private:
    void askPortal(std::uint64_t attempt);
    void askLogind(std::uint64_t attempt);
    void release();

    QString m_reason;
    bool m_held = false;
    std::uint64_t m_attempt = 0; // answers to an earlier hold are let go
    QDBusObjectPath m_request;    // the portal's handle
    QDBusUnixFileDescriptor m_lock; // logind's: closing it lets the system sleep
};

} // namespace slimreel
