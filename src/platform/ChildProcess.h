#pragma once

#include "model/Error.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <coroutine>
#include <optional>
#include <stop_token>
#include <vector>

namespace slimreel {

// One child process with both output channels drained as data arrives, so a
// child that writes megabytes to either stream can never block on a full pipe.
// No shell: each argument reaches the child unchanged. Standard input is closed.
class ChildProcess : public QObject {
    Q_OBJECT
public:
    ChildProcess(QString program, QStringList arguments, QObject *parent = nullptr);
    ~ChildProcess() override;

    struct Output {
        int exitCode = -1;       // -1 when the child died of a signal
        QByteArray standardOutput;
        QByteArray standardError;
        bool succeeded() const { return exitCode == 0; }
    };

    // Runs a program to its end and collects everything it wrote. A stop
    // requested meanwhile ends the child and the run with a task cancellation.
    static QCoro::Task<Result<Output>> run(QString program, QStringList arguments, std::stop_token stop = {});

    // Starts the child; fails with the launch error's message.
    QCoro::Task<Result<void>> launch();

    // The next line of standard output without its line end; none at end of file.
    QCoro::Task<std::optional<QString>> readLine();

    // Waits until the child has exited (and both streams are drained).
    QCoro::Task<void> waitForExit();

    bool isRunning() const;
    // Asks the child to end (SIGTERM); returns at once.
    void terminate();
    // Ends the child at once and reaps it; for shutdown, where nothing may outlive us.
    void kill();

    int exitCode() const; // valid after waitForExit(); -1 after a crash or signal
    QByteArray standardError() const { return m_stderr; }
    QByteArray takeStandardOutput();
    QString program() const { return m_program; }
    QStringList arguments() const { return m_arguments; }

    // Observes every command line started, for `--verbose` front ends.
    using CommandObserver = void (*)(const QString &program, const QStringList &arguments);
    static void setCommandObserver(CommandObserver observer);

Q_SIGNALS:
    void changed();

private:
    // Suspends the calling coroutine until the next `changed`. (QCoro 0.8's
    // signal awaiter resumes through a queued call that can outlive it when a
    // signal fires twice before the event loop turns, and then crashes.)
    struct NextChange {
        ChildProcess *process;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiter) { process->m_waiters.push_back(waiter); }
        void await_resume() const noexcept {}
    };
    NextChange nextChange() { return {this}; }
    void announceChange();
    void drain();

    QString m_program;
    QStringList m_arguments;
    QProcess m_process;
    QByteArray m_stdout;
    QByteArray m_stderr;
    bool m_finished = false;
    bool m_launchDecided = false;
    QString m_launchError;
    std::vector<std::coroutine_handle<>> m_waiters;
    bool m_wakeUpPosted = false;
};

} // namespace slimreel
