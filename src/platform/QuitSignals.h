#pragma once

#include <QObject>

class QSocketNotifier;

namespace slimreel {

// While it exists, SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a logout or a
// closed terminal) no longer end the process at once: they arrive as
// `received()` on the event loop, so the program can stop its work and clean
// up first. One instance at a time.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

Q_SIGNALS:
    void received(int signal);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace slimreel
