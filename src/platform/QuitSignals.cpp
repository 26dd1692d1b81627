#include "platform/QuitSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace slimreel {

namespace {

constexpr std::array handled{SIGINT, SIGTERM, SIGHUP};

// The self-pipe: the handler only writes one byte; the event loop reads it.
int signalPipe[2] = {-1, -1};
std::array<struct sigaction, handled.size()> previous{};

void onSignal(int signal)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent)
{
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::drain);
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < handled.size(); ++i) {
        sigaction(handled[i], &action, &previous[i]);
    }
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier) {
        return;
    }
    for (std::size_t i = 0; i < handled.size(); ++i) {
        sigaction(handled[i], &previous[i], nullptr);
    }
    delete m_notifier;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void QuitSignals::drain()
{
    char bytes[16];
    ssize_t count = 0;
    int last = 0;
    while ((count = ::read(signalPipe[0], bytes, sizeof bytes)) > 0) {
        last = bytes[count - 1];
    }
    if (last != 0) {
        Q_EMIT received(last);
    }
}

} // namespace slimreel
