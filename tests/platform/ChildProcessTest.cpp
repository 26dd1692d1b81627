#include "platform/ChildProcess.h"
#include "platform/ToolLocator.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace slimreel;

TEST(ChildProcess, PassesArgumentsUnchangedAndReadsBothStreamsWholeAndLinesAsTheyArrive)
{
    QTemporaryDir dir;
    // Reads standard input first: it must be closed, not left open. Then 5 MB on
    // standard error before 1 MB on standard output: neither pipe may fill up.
    const QString script = test::writeScript(dir, QStringLiteral("noisy"),
                                             QStringLiteral("cat\nprintf '%s\\0' \"$@\"\nhead -c 5000000 /dev/zero | tr '\\0' e >&2\n"
                                                            "head -c 1000000 /dev/zero | tr '\\0' o\nexit 3\n"));
    const QStringList arguments{QStringLiteral("two words"), QStringLiteral("夏天的视频 – größe.mp4"), QString(),
                                QStringLiteral("$HOME `id` ; | > * 'q' \"d\""), QStringLiteral("line\nbreak"), QStringLiteral("-v")};
    const auto output = test::wait(ChildProcess::run(script, arguments));
    ASSERT_TRUE(output) << output.error().description().toStdString();
    EXPECT_EQ(output->exitCode, 3);
    EXPECT_FALSE(output->succeeded());
    EXPECT_EQ(output->standardError, QByteArray(5000000, 'e'));
    EXPECT_EQ(output->standardOutput, arguments.join(QChar(0)).toUtf8() + '\0' + QByteArray(1000000, 'o'));

    const QString absent = dir.filePath(QStringLiteral("no-such-tool"));
    const auto missing = test::wait(ChildProcess::run(absent, {}));
    EXPECT_TRUE(!missing && missing.error().domain == Error::Domain::platform && !missing.error().text.isEmpty());

    const QString gate = dir.filePath(QStringLiteral("gate"));
    // The second line waits for the test to open the gate, so the first one
    // must have been delivered while the child was still running.
    ChildProcess child(test::writeScript(dir, QStringLiteral("lines"),
                                         QStringLiteral("echo one\nwhile [ ! -e \"$1\" ]; do sleep 0.05; done\nprintf 'two\\r\\n\\nthree'\n")),
                       {gate});
    ASSERT_TRUE(test::wait(child.launch()));
    EXPECT_EQ(test::wait(child.readLine()), QStringLiteral("one"));
    EXPECT_TRUE(child.isRunning());
    QFile(gate).open(QIODevice::WriteOnly);
    for (const char *line : {"two", "", "three"}) { // the last line needs no line end
        EXPECT_EQ(test::wait(child.readLine()), QString::fromLatin1(line));
    }
    EXPECT_EQ(test::wait(child.readLine()), std::nullopt);
    test::wait(child.waitForExit());
    EXPECT_EQ(child.exitCode(), 0);

    // The first executable candidate wins: not a missing path, a plain file or a folder.
    const QString plain = dir.filePath(QStringLiteral("plain"));
    ASSERT_TRUE(test::writeFile(plain, {}));
    EXPECT_EQ(ToolLocator({absent, plain, dir.path()}).locate(), std::nullopt);
    EXPECT_EQ(ToolLocator({absent, QString(), plain, dir.path(), script, gate}).locate(), script);
}

// A caller that gives up on a hung tool is not held by it: the tool is asked to end, and killed when it ignores that.
TEST(ChildProcess, AChildThatIgnoresTerminateIsKilled)
{
    QTemporaryDir dir;
    const QString started = dir.filePath(QStringLiteral("started"));
    const QString script = test::writeScript(
        dir, QStringLiteral("stubborn"), QStringLiteral("trap '' TERM\necho x >> '%1'\nwhile :; do sleep 0.1; done\n").arg(started));
    // Both ways at once, so that the grace period is waited out only once.
    using Run = std::optional<Result<ChildProcess::Output>>;
    std::stop_source stop;
    Run run;
    auto running = [](QString program, std::stop_token token, Run *into) -> QCoro::Task<> {
        *into = co_await ChildProcess::run(std::move(program), {}, std::move(token));
    }(script, stop.get_token(), &run);
    ChildProcess child(script, {});
    ASSERT_TRUE(test::wait(child.launch()));
    ASSERT_TRUE(test::spinUntil([&] { return QFile(started).size() == 4; })); // both past their trap
    child.terminate();
    stop.request_stop();
    ASSERT_TRUE(test::spinUntil([&] { return !child.isRunning(); }, std::chrono::seconds(10)));
    EXPECT_NE(child.exitCode(), 0);
    ASSERT_TRUE(test::spinUntil([&] { return run.has_value(); }));
    EXPECT_TRUE(!*run && run->error().isTaskCancellation());

    // Given up before it starts, nothing is started at all.
    const QString never = dir.filePath(QStringLiteral("never"));
    EXPECT_FALSE(test::wait(ChildProcess::run(test::writeScript(dir, QStringLiteral("other"), QStringLiteral(": > '%1'\n").arg(never)),
                                              {}, stop.get_token())));
    EXPECT_FALSE(QFile::exists(never));
}
