#include "support/TestSupport.h"

#include "platform/Files.h"

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

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeScript(const QTemporaryDir &dir, const QString &name, const QString &body)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(writeFile(path, "#!/bin/sh\n" + body.toUtf8())) << path.toStdString();
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
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
    return QDir(Files::scratchFolder()).entryList({prefix + QLatin1Char('*')}, QDir::AllEntries | QDir::NoDotAndDotDot);
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

ToolRun runTool(const QString &program, const QStringList &arguments, const QString &workingDirectory,
                std::chrono::milliseconds timeout)
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory); // none: this program's
    process.start(program, arguments);
    if (!process.waitForFinished(static_cast<int>(timeout.count()))) {
        ADD_FAILURE() << program.toStdString() << " did not end: " << arguments.join(u' ').toStdString();
        process.kill();
        process.waitForFinished();
    }
    return {process.exitCode(), process.exitStatus() != QProcess::NormalExit,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

QString ffprobeValue(const QString &path, const QString &entry, const QString &streamSelector)
{
    QStringList args{QStringLiteral("-v"), QStringLiteral("error")};
    if (entry.startsWith(QLatin1String("stream"))) {
        args << QStringLiteral("-select_streams") << streamSelector;
    }
    args << QStringLiteral("-show_entries") << entry << QStringLiteral("-of")
         << QStringLiteral("default=nw=1:nk=1") << path;
    return runTool(QStringLiteral("ffprobe"), args).out.trimmed();
}

} // namespace slimreel::test
