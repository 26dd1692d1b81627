#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace slimreel::test {

QString media(const QString &name)
{
    const QString path = QDir(QStringLiteral(SLIMREEL_TEST_MEDIA_DIR)).filePath(name);
    if (!QFile::exists(path)) {
        ADD_FAILURE() << "missing test video " << path.toStdString() << " (run the generate_media test)";
    }
    return path;
}

QString writeScript(const QTemporaryDir &dir, const QString &name, const QString &body)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "cannot write " << path.toStdString();
        return path;
    }
    file.write("#!/bin/sh\n");
    file.write(body.toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeout.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

QStringList tempEntries(const QString &prefix)
{
    return QDir(QDir::tempPath()).entryList({prefix + QLatin1Char('*')}, QDir::AllEntries | QDir::NoDotAndDotDot);
}

PrivateTempFolder::PrivateTempFolder()
    : m_previous(qgetenv("TMPDIR"))
{
    qputenv("TMPDIR", m_dir.path().toUtf8());
}

PrivateTempFolder::~PrivateTempFolder()
{
    if (m_previous.isEmpty()) {
        qunsetenv("TMPDIR");
    } else {
        qputenv("TMPDIR", m_previous);
    }
}

QString ffprobeValue(const QString &path, const QString &entry, const QString &streamSelector)
{
    QProcess p;
    QStringList args{QStringLiteral("-v"), QStringLiteral("error")};
    if (entry.startsWith(QLatin1String("stream"))) {
        args << QStringLiteral("-select_streams") << streamSelector;
    }
    args << QStringLiteral("-show_entries") << entry << QStringLiteral("-of")
         << QStringLiteral("default=nw=1:nk=1") << path;
    p.start(QStringLiteral("ffprobe"), args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace slimreel::test
