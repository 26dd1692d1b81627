#include "platform/ChildProcess.h"

#include <QTimer>

#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace slimreel {

namespace {
std::atomic<ChildProcess::CommandObserver> commandObserver{nullptr};
constexpr int killGraceMs = 3000;
}

void ChildProcess::setCommandObserver(CommandObserver observer)
{
    commandObserver.store(observer);
}

ChildProcess::ChildProcess(QString program, QStringList arguments, QObject *parent)
    : QObject(parent)
    , m_program(std::move(program))
    , m_arguments(std::move(arguments))
{
    m_process.setProgram(m_program);
    m_process.setArguments(m_arguments);
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    // Should this program die without a chance to clean up (killed, crashed),
    // the tool dies with it instead of encoding on alone. The signal follows
    // the thread that starts the child: children are started on the main thread.
    const pid_t us = ::getpid();
    m_process.setChildProcessModifier([us] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != us) {
            ::_exit(127);
        }
    });

    connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
        m_stdout += m_process.readAllStandardOutput();
        announceChange();
    });
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
        m_stderr += m_process.readAllStandardError();
    });
    connect(&m_process, &QProcess::started, this, [this] {
        m_launchDecided = true;
        announceChange();
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            m_launchDecided = true;
            m_launchError = m_process.errorString();
            m_finished = true;
            announceChange();
        }
    });
    connect(&m_process, &QProcess::finished, this, [this] {
        drain();
        m_finished = true;
        announceChange();
    });
}

ChildProcess::~ChildProcess()
{
    // Never leave an orphan behind: a child still running when its owner goes away is killed.
    if (m_process.state() != QProcess::NotRunning) {
        m_process.disconnect(this);
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void ChildProcess::announceChange()
{
    Q_EMIT changed();
    if (m_waiters.empty() || m_wakeUpPosted) {
        return;
    }
    // Waiters resume from the event loop, never inside QProcess's own signal
    // handlers (a resumed coroutine may destroy this object), and one posted
    // call serves any number of changes. A call still posted when this object
    // is destroyed is dropped with it.
    m_wakeUpPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_wakeUpPosted = false;
            const auto waiters = std::exchange(m_waiters, {});
            for (const auto waiter : waiters) {
                waiter.resume();
            }
        },
        Qt::QueuedConnection);
}

void ChildProcess::drain()
{
    m_stdout += m_process.readAllStandardOutput();
    m_stderr += m_process.readAllStandardError();
}

QCoro::Task<Result<ChildProcess::Output>> ChildProcess::run(QString program, QStringList arguments,
                                                          std::stop_token stop)
{
    if (stop.stop_requested()) {
        co_return std::unexpected(Error::taskCancelled());
    }
    ChildProcess child(std::move(program), std::move(arguments));
    if (auto launched = co_await child.launch(); !launched) {
        co_return std::unexpected(launched.error());
    }
    {
        // A tool that hangs must not hold its caller for ever once it has given up.
        const std::stop_callback end(stop, [&child] { child.terminate(); });
        co_await child.waitForExit();
    }
    if (stop.stop_requested()) {
        co_return std::unexpected(Error::taskCancelled());
    }
    co_return Output{child.exitCode(), child.takeStandardOutput(), child.standardError()};
}

QCoro::Task<Result<void>> ChildProcess::launch()
{
    if (const auto observer = commandObserver.load()) {
        observer(m_program, m_arguments);
    }
    m_process.start();
    while (!m_launchDecided) {
        co_await nextChange();
    }
    if (!m_launchError.isEmpty()) {
        co_return std::unexpected(Error::platform(m_launchError));
    }
    co_return Result<void>{};
}

QCoro::Task<std::optional<QString>> ChildProcess::readLine()
{
    for (;;) {
        const qsizetype end = m_stdout.indexOf('\n');
        if (end >= 0) {
            QByteArray line = m_stdout.left(end);
            m_stdout.remove(0, end + 1);
            if (line.endsWith('\r')) {
                line.chop(1);
            }
            co_return QString::fromUtf8(line);
        }
        if (m_finished) {
            if (m_stdout.isEmpty()) {
                co_return std::nullopt;
            }
            QString rest = QString::fromUtf8(m_stdout);
            m_stdout.clear();
            co_return rest;
        }
        co_await nextChange();
    }
}

QCoro::Task<void> ChildProcess::waitForExit()
{
    while (!m_finished) {
        co_await nextChange();
    }
}

bool ChildProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

void ChildProcess::terminate()
{
    if (!isRunning()) {
        return;
    }
    m_process.terminate();
    // A child that ignores the polite request (a hung tool) is killed, so a
    // cancel always ends it.
    QTimer::singleShot(killGraceMs, this, [this] {
        if (isRunning()) {
            m_process.kill();
        }
    });
}

void ChildProcess::kill()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

int ChildProcess::exitCode() const
{
    if (!m_launchError.isEmpty() || m_process.exitStatus() == QProcess::CrashExit) {
        return -1;
    }
    return m_process.exitCode();
}

QByteArray ChildProcess::takeStandardOutput()
{
    QByteArray out = std::move(m_stdout);
    m_stdout.clear();
    return out;
}

} // namespace slimreel
