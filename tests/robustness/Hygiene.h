#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace slimreel::test {

// What a robustness test checks after it ran real tools: that the program
// left the user's files and the machine as it found them.

// Whether permission bits bind this process and the tools it starts. When the
// tests run as root, the program gives up overriding them as it loads, so
// that read-only folders and unreadable files behave as they do for a user.
bool enforceFilePermissions();

// Contents of the source files, taken once; `changed()` names every file that
// is no longer byte-for-byte what it was (or is gone).
class SourceGuard {
public:
    void add(const QString &path);
    void forget(const QString &path);
    bool contains(const QString &path) const { return m_digests.contains(path); }
    QStringList changed() const;
    qsizetype count() const { return m_digests.size(); }

private:
    QHash<QString, QByteArray> m_digests;
};

// Preview samples and two-pass folders in the temporary folder `folder`.
QStringList scratchLeftovers(const QString &folder);

// One child of this process: its id, state letter and command line.
struct ChildInfo {
    qint64 pid = 0;
    char state = '?';
    QString command;
};

// The processes whose parent is this one (zombies included).
QList<ChildInfo> childProcesses();
// Waits until this process has no child any more; the children left otherwise.
QList<ChildInfo> childrenAfterSettling();
QString describe(const QList<ChildInfo> &children);
bool processAlive(qint64 pid);

// True when the file is a whole video: ffprobe finds a video stream with a
// duration and ffmpeg decodes every frame without an error. `why` says what failed.
bool isCompleteVideo(const QString &path, QString *why = nullptr);
// Entries of `folder` that are not complete videos, with the reason.
QStringList incompleteOutputs(const QString &folder);

// Copies a file (or writes bytes) and makes it writable by the owner only.
bool copyFile(const QString &from, const QString &to);
bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

} // namespace slimreel::test
