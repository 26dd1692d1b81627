#include "platform/ChildProcess.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <stop_token>

using namespace slimreel;

TEST(ChildProcess, ArgumentsReachTheChildUnchanged)
{
    QTemporaryDir dir;
    const QString script = test::writeScript(dir, QStringLiteral("echo-args"), QStringLiteral("printf '%s\\0' \"$@\"\n"));
    const QStringList arguments{QStringLiteral("two words"),
                                QStringLiteral("夏天的视频 – größe.mp4"),
                                QStringLiteral(""),
                                QStringLiteral("$HOME `id` ; | > *"),
                                QStringLiteral("'quoted' \"double\""),
                                QStringLiteral("line\nbreak"),
                                QStringLiteral("-v")};
    const auto output = test::wait(ChildProcess::run(script, arguments));
    ASSERT_TRUE(output) << output.error().description().toStdString();
    EXPECT_EQ(output->exitCode, 0);
    QStringList received;
    for (const QByteArray &argument : output->standardOutput.split('\0')) {
        received << QString::fromUtf8(argument);
    }
    received.removeLast();
    EXPECT_EQ(received, arguments);
}

TEST(ChildProcess, LargeStandardErrorWithFailureIsCollectedWhole)
{
    QTemporaryDir dir;
    // 5 MB on standard error and 1 MB on standard output at once: neither pipe may fill up.
    const QString script = test::writeScript(
        dir, QStringLiteral("noisy"),
        QStringLiteral("head -c 5000000 /dev/zero | tr '\\0' e >&2\nhead -c 1000000 /dev/zero | tr '\\0' o\n"
                       "echo last >&2\nexit 3\n"));
    const auto output = test::wait(ChildProcess::run(script, {}));
    ASSERT_TRUE(output) << output.error().description().toStdString();
    EXPECT_EQ(output->exitCode, 3);
    EXPECT_FALSE(output->succeeded());
    EXPECT_EQ(output->standardError.size(), 5000000 + 5);
    EXPECT_EQ(output->standardError.count('e'), 5000000);
    EXPECT_TRUE(output->standardError.endsWith("last\n"));
    EXPECT_EQ(output->standardOutput, QByteArray(1000000, 'o'));
}

TEST(ChildProcess, ExitStatusZeroIsSuccess)
{
    QTemporaryDir dir;
    const QString script = test::writeScript(dir, QStringLiteral("ok"), QStringLiteral("echo fine\n"));
    const auto output = test::wait(ChildProcess::run(script, {}));
    ASSERT_TRUE(output);
    EXPECT_TRUE(output->succeeded());
    EXPECT_EQ(output->standardOutput, "fine\n");
    EXPECT_TRUE(output->standardError.isEmpty());
}

TEST(ChildProcess, ReadsLinesAsTheyArrive)
{
    QTemporaryDir dir;
    const QString gate = dir.filePath(QStringLiteral("gate"));
    // The second line waits for the test to open the gate, so the first one
    // must have been delivered while the child was still running.
    const QString script = test::writeScript(
        dir, QStringLiteral("lines"),
        QStringLiteral("printf 'one\\n'\nwhile [ ! -e \"$1\" ]; do sleep 0.05; done\n"
                       "printf 'two\\r\\n\\nthree'\n"));
    ChildProcess child(script, {gate});
    ASSERT_TRUE(test::wait(child.launch()));

    EXPECT_EQ(test::wait(child.readLine()), QStringLiteral("one"));
    EXPECT_TRUE(child.isRunning());

    QFile(gate).open(QIODevice::WriteOnly);
    EXPECT_EQ(test::wait(child.readLine()), QStringLiteral("two"));
    EXPECT_EQ(test::wait(child.readLine()), QStringLiteral(""));
    EXPECT_EQ(test::wait(child.readLine()), QStringLiteral("three")); // the last line needs no line end
    EXPECT_EQ(test::wait(child.readLine()), std::nullopt);
    test::wait(child.waitForExit());
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_FALSE(child.isRunning());
}

TEST(ChildProcess, TerminateEndsARunningChild)
{
    QTemporaryDir dir;
    const QString script = test::writeScript(dir, QStringLiteral("sleeper"),
                                             QStringLiteral("echo started\nexec sleep 600\n"));
    ChildProcess child(script, {});
    ASSERT_TRUE(test::wait(child.launch()));
    EXPECT_EQ(test::wait(child.readLine()), QStringLiteral("started"));
    ASSERT_TRUE(child.isRunning());

    child.terminate();
    EXPECT_EQ(test::wait(child.readLine()), std::nullopt);
    test::wait(child.waitForExit());
    EXPECT_FALSE(child.isRunning());
    EXPECT_NE(child.exitCode(), 0);
}

TEST(ChildProcess, TerminateKillsAChildThatIgnoresIt)
{
    QTemporaryDir dir;
    const QString script = test::writeScript(
        dir, QStringLiteral("stubborn"),
        QStringLiteral("trap '' TERM\necho started\nwhile :; do sleep 0.1; done\n"));
    ChildProcess child(script, {});
    ASSERT_TRUE(test::wait(child.launch()));
    EXPECT_EQ(test::wait(child.readLine()), QStringLiteral("started"));

    child.terminate();
    test::wait(child.waitForExit());
    EXPECT_FALSE(child.isRunning());
    EXPECT_NE(child.exitCode(), 0);
}

TEST(ChildProcess, TerminateOfAFinishedChildDoesNothing)
{
    QTemporaryDir dir;
    const QString script = test::writeScript(dir, QStringLiteral("quick"), QStringLiteral("exit 0\n"));
    ChildProcess child(script, {});
    ASSERT_TRUE(test::wait(child.launch()));
    test::wait(child.waitForExit());
    child.terminate();
    EXPECT_EQ(child.exitCode(), 0);
}

TEST(ChildProcess, MissingProgramIsALaunchError)
{
    QTemporaryDir dir;
    const auto output = test::wait(ChildProcess::run(dir.filePath(QStringLiteral("no-such-tool")), {}));
    ASSERT_FALSE(output);
    EXPECT_EQ(output.error().domain, Error::Domain::platform);
    EXPECT_FALSE(output.error().description().isEmpty());

    ChildProcess child(dir.filePath(QStringLiteral("no-such-tool")), {});
    const auto launched = test::wait(child.launch());
    ASSERT_FALSE(launched);
    EXPECT_EQ(test::wait(child.readLine()), std::nullopt);
    test::wait(child.waitForExit()); // returns at once: there is nothing to wait for
    EXPECT_NE(child.exitCode(), 0);
}

TEST(ChildProcess, StandardInputIsClosed)
{
    QTemporaryDir dir;
    // A tool that reads standard input must see end of file, not hang.
    const QString script = test::writeScript(dir, QStringLiteral("reader"), QStringLiteral("cat\necho done\n"));
    const auto output = test::wait(ChildProcess::run(script, {}));
    ASSERT_TRUE(output);
    EXPECT_EQ(output->standardOutput, "done\n");
}

namespace {
QCoro::Task<> runInto(QString program, std::stop_token stop, std::optional<Result<ChildProcess::Output>> *result)
{
    *result = co_await ChildProcess::run(std::move(program), {}, std::move(stop));
}
} // namespace

// A caller that gives up on a hung tool is not held by it: the tool is ended
// (killed, if it ignores the polite request) and the run reports the cancellation.
TEST(ChildProcess, RunEndsAHungChildWhenItsCallerGivesUp)
{
    QTemporaryDir dir;
    const QString started = dir.filePath(QStringLiteral("started"));
    const QString script = test::writeScript(
        dir, QStringLiteral("hung"), QStringLiteral("trap '' TERM\n: > '%1'\nwhile :; do sleep 0.1; done\n").arg(started));
    std::stop_source stop;
    std::optional<Result<ChildProcess::Output>> result;
    auto task = runInto(script, stop.get_token(), &result);
    ASSERT_TRUE(test::spinUntil([&] { return QFile::exists(started); }));
    stop.request_stop();
    ASSERT_TRUE(test::spinUntil([&] { return result.has_value(); }));
    ASSERT_FALSE(*result);
    EXPECT_TRUE(result->error().isTaskCancellation());

    // Given up before it starts, nothing is started at all.
    result.reset();
    const QString never = dir.filePath(QStringLiteral("never"));
    const QString other = test::writeScript(dir, QStringLiteral("other"), QStringLiteral(": > '%1'\n").arg(never));
    test::wait(runInto(other, stop.get_token(), &result));
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(*result);
    EXPECT_FALSE(QFile::exists(never));
}
