#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace slimreel;

namespace {

bool processAlive(qint64 pid)
{
    return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

} // namespace

// The encoder trials begin at start-up; a run that ends before they do must
// not leave one behind as an orphan.
TEST(ShutdownCli, AnEarlyExitLeavesNoEncoderTrialRunning)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bin = dir.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(bin + QStringLiteral("/helpers")));
    const QString cli = bin + QStringLiteral("/slimreel-cli");
    ASSERT_TRUE(QFile::copy(QStringLiteral(SLIMREEL_CLI_PATH), cli));
    QFile::setPermissions(cli, QFile::permissions(QStringLiteral(SLIMREEL_CLI_PATH)));

    // A hardware trial that hangs; every ffmpeg started records its pid.
    const QString pids = dir.filePath(QStringLiteral("pids"));
    const QString fake = bin + QStringLiteral("/helpers/ffmpeg");
    {
        QFile script(fake);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho $$ >> '%1'\nexec sleep 30\n").arg(pids).toUtf8());
    }
    QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcess process;
    process.start(cli, {QStringLiteral("compress"), QStringLiteral("--output"), dir.filePath(QStringLiteral("out")),
                        test::media(QStringLiteral("not_video.mp4"))});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);

    QFile list(pids);
    if (!list.open(QIODevice::ReadOnly)) {
        // Trials run only for hardware whose device node exists; without any
        // there is no trial that could outlive the program.
        GTEST_SKIP() << "no encoder trial on this machine";
    }
    const QList<QByteArray> started = list.readAll().split('\n');
    int checked = 0;
    for (const QByteArray &line : started) {
        if (line.trimmed().isEmpty()) {
            continue;
        }
        ++checked;
        EXPECT_FALSE(processAlive(line.trimmed().toLongLong())) << "trial " << line.toStdString() << " outlived the program";
    }
    EXPECT_GE(checked, 1);
}
