#pragma once

#include "probe/VideoProbeService.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

namespace slimreel::test {

// A stand-in ffprobe in a temporary folder: it records its arguments, prints a
// prepared output and exits with a chosen status. The service under test finds
// it through its own candidate list.
class FakeFFprobe {
public:
    explicit FakeFFprobe(const QByteArray &output, int exitStatus = 0)
    {
        QFile file(m_dir.filePath(QStringLiteral("output.json")));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(output);
        }
        m_script = writeScript(m_dir, QStringLiteral("ffprobe"),
                               QStringLiteral("printf '%s\\0' \"$@\" > '%1'\ncat '%2'\nexit %3\n")
                                   .arg(m_dir.filePath(QStringLiteral("arguments")), file.fileName())
                                   .arg(exitStatus));
    }

    ToolLocator locator() const { return ToolLocator({m_script}); }

    VideoProbeService service() const { return VideoProbeService(locator(), VideoProbeService::Order::ffprobeOnly); }

    // What the last run received, one entry per argument; empty if it never ran.
    QStringList arguments() const
    {
        QFile file(m_dir.filePath(QStringLiteral("arguments")));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        QStringList list;
        for (const QByteArray &argument : file.readAll().split('\0')) {
            list << QString::fromUtf8(argument);
        }
        list.removeLast(); // after the final terminator
        return list;
    }

    bool ran() const { return QFile::exists(m_dir.filePath(QStringLiteral("arguments"))); }

    // A file of `size` bytes in the fake's folder, to be inspected.
    QUrl fileOfSize(const QString &name, qint64 size) const
    {
        QFile file(m_dir.filePath(name));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QByteArray(size, 'x'));
        }
        return QUrl::fromLocalFile(file.fileName());
    }

    // A location in the fake's folder where no file exists.
    QUrl missingFile() const { return QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("missing.mp4"))); }

private:
    QTemporaryDir m_dir;
    QString m_script;
};

} // namespace slimreel::test
