#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <QCoroTask>

#include <chrono>
#include <functional>

namespace slimreel::test {

// A generated test video by file name (see media/generate.sh).
QString media(const QString &name);

bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path); // empty when unreadable

// Writes an executable shell script into `dir` and returns its path.
QString writeScript(const QTemporaryDir &dir, const QString &name, const QString &body);

// Runs a coroutine to its end on the event loop.
template <typename T>
T wait(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

// Spins the event loop until `done()` or the timeout; returns done().
bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Entries of the scratch folder (samples, pass folders) whose names start with `prefix`.
QStringList tempEntries(const QString &prefix);

// Points the system's temporary folder (TMPDIR) at a fresh folder while it
// lives, so checks for leftovers cannot see files of tests running alongside.
class PrivateTempFolder {
public:
    PrivateTempFolder();
    ~PrivateTempFolder();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
};

// What one run of a program printed and returned.
struct ToolRun {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

// Runs a program to its end (in `workingDirectory` when given).
ToolRun runTool(const QString &program, const QStringList &arguments, const QString &workingDirectory = {},
                std::chrono::milliseconds timeout = std::chrono::minutes(5));

// Runs ffprobe on a file and returns one value of the first video stream or the
// format (e.g. "stream=codec_name" or "format=duration").
QString ffprobeValue(const QString &path, const QString &entry, const QString &streamSelector = QStringLiteral("v:0"));

} // namespace slimreel::test
