#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace slimreel::test {

// What one run of the built command-line program printed and returned.
struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs `slimreel-cli COMMAND ARGUMENTS...` to its end.
inline CliResult runCli(const QString &command, const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(SLIMREEL_CLI_PATH), QStringList{command} + arguments);
    EXPECT_TRUE(process.waitForFinished(300000)) << arguments.join(u' ').toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace slimreel::test
