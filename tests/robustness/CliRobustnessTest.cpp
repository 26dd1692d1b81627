#include "robustness/Hygiene.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace slimreel;
using namespace slimreel::test;

namespace {

const QString realFFmpeg = QStringLiteral("/usr/bin/ffmpeg");

// The command-line program copied into a folder of its own, so that a fake
// ffmpeg can sit in its helpers folder, where it looks first. Its temporary
// folder is private too, and after each test the same checks hold as for the
// controller: sources unchanged, no sample or pass folder, no process left,
// only whole videos in the output folder.
class CliRobustnessTest : public testing::Test {
protected:
    CliRobustnessTest()
    {
        QDir root(m_dir.path());
        root.mkpath(QStringLiteral("bin/helpers"));
        root.mkpath(QStringLiteral("tmp"));
        root.mkpath(QStringLiteral("sources"));
        m_cli = root.filePath(QStringLiteral("bin/slimreel-cli"));
        EXPECT_TRUE(QFile::copy(QStringLiteral(SLIMREEL_CLI_PATH), m_cli));
        QFile::setPermissions(m_cli, QFile::permissions(QStringLiteral(SLIMREEL_CLI_PATH)));
        m_out = root.filePath(QStringLiteral("out"));
    }

    void TearDown() override
    {
        for (const qint64 pid : std::as_const(m_fakePids)) {
            EXPECT_TRUE(spinUntil([pid] { return !processAlive(pid); }, std::chrono::seconds(15)))
                << "a tool started by the program outlived it: " << pid;
            if (processAlive(pid)) {
                ::kill(static_cast<pid_t>(pid), SIGKILL);
            }
        }
        const QList<ChildInfo> children = childrenAfterSettling();
        EXPECT_TRUE(children.isEmpty()) << describe(children).toStdString();
        EXPECT_EQ(QDir(tmp()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList())
            << "left in the program's temporary folder";
        EXPECT_EQ(m_guard.changed(), QStringList()) << "sources changed";
        EXPECT_EQ(incompleteOutputs(m_out), QStringList());
    }

    QString tmp() const { return m_dir.filePath(QStringLiteral("tmp")); }
    QString pidFile(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".pid")); }
    qint64 pidIn(const QString &name) const { return readFile(pidFile(name)).trimmed().toLongLong(); }

    QString source(const QString &name, const QString &media = QStringLiteral("h264_aac.mp4"))
    {
        const QString path = QDir(m_dir.filePath(QStringLiteral("sources"))).filePath(name);
        EXPECT_TRUE(copyFile(test::media(media), path));
        m_guard.add(path);
        return path;
    }
    QString sourceWithBytes(const QString &name, const QByteArray &bytes)
    {
        const QString path = QDir(m_dir.filePath(QStringLiteral("sources"))).filePath(name);
        EXPECT_TRUE(writeFile(path, bytes));
        m_guard.add(path);
        return path;
    }

    // helpers/ffmpeg: `cases` (shell case arms on the input "$in", the output
    // being "$out"), the real tool for everything else.
    void fakeFFmpeg(const QString &cases)
    {
        const QString path = m_dir.filePath(QStringLiteral("bin/helpers/ffmpeg"));
        ASSERT_TRUE(writeFile(path, QStringLiteral(R"(#!/bin/sh
in=; prev=; out=
for a in "$@"; do [ "$prev" = "-i" ] && in=$a; prev=$a; out=$a; done
case "$in" in
%1
esac
exec '%2' "$@"
)")
                                        .arg(cases, realFFmpeg)
                                        .toUtf8()));
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QString recordPid(const QString &name) const { return QStringLiteral("echo $$ > '%1'").arg(pidFile(name)); }

    void start(QProcess &process, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), tmp());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir.filePath(QStringLiteral("sources")));
        process.start(m_cli, arguments);
        ASSERT_TRUE(process.waitForStarted());
    }
    struct Outcome {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Outcome finish(QProcess &process)
    {
        EXPECT_TRUE(process.waitForFinished(240000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    Outcome run(const QStringList &arguments)
    {
        QProcess process;
        start(process, arguments);
        return finish(process);
    }
    // Waits until the fake named `name` runs; its pid is then checked at the end.
    bool waitForFake(const QString &name)
    {
        const bool started = spinUntil([&] { return pidIn(name) > 0; }, std::chrono::seconds(60));
        if (started) {
            m_fakePids << pidIn(name);
        }
        return started;
    }

    QTemporaryDir m_dir;
    QString m_cli;
    QString m_out;
    SourceGuard m_guard;
    QList<qint64> m_fakePids;
};

// Every bad file of a batch gets its own line with its reason, the good ones
// are compressed under their own odd names, and the exit status says that
// not everything went well.
TEST_F(CliRobustnessTest, BatchOfBadInputsAndOddNames)
{
    const QString good1 = source(QStringLiteral("two  spaces.mp4"));
    const QString good2 = source(QStringLiteral("-dash.mp4"));
    const QString good3 = source(QStringLiteral("ünï 视频 \"q\".mp4"));
    const QString good4 = source(QStringLiteral("line\nfeed.mp4"));
    const QByteArray whole = readFile(media(QStringLiteral("h264_aac.mp4")));
    const QStringList bad{sourceWithBytes(QStringLiteral("empty.mp4"), {}),
                          sourceWithBytes(QStringLiteral("notes.mp4"), "a text\n"),
                          sourceWithBytes(QStringLiteral("truncated.mp4"), whole.left(whole.size() / 2)),
                          source(QStringLiteral("song.m4a"), QStringLiteral("audio_only.m4a")),
                          m_dir.filePath(QStringLiteral("sources/gone.mp4"))};
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("sources/folder.mp4"))));

    const Outcome outcome = run({QStringLiteral("compress"), QStringLiteral("--plan"), QStringLiteral("fastest"),
                                 QStringLiteral("--output"), m_out, QStringLiteral("--"), good1, bad.at(0), good2,
                                 bad.at(1), QStringLiteral("folder.mp4"), bad.at(2), good3, bad.at(3), bad.at(4),
                                 good4});
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err.toStdString();
    const QStringList expectedLines{
        QStringLiteral("empty.mp4：无法读取这个视频文件"),     QStringLiteral("notes.mp4：无法读取这个视频文件"),
        QStringLiteral("folder.mp4：无法读取这个视频文件"),    QStringLiteral("truncated.mp4：无法读取这个视频文件"),
        QStringLiteral("song.m4a：文件中没有可用的视频轨道"), QStringLiteral("gone.mp4：无法读取这个视频文件")};
    for (const QString &line : expectedLines) {
        EXPECT_TRUE(outcome.err.contains(line)) << line.toStdString() << " missing from:\n" << outcome.err.toStdString();
    }
    QStringList outputs = QDir(m_out).entryList(QDir::Files);
    outputs.sort();
    QStringList expected{QStringLiteral("two  spaces-compressed.mp4"), QStringLiteral("-dash-compressed.mp4"),
                         QStringLiteral("ünï 视频 \"q\"-compressed.mp4"), QStringLiteral("line\nfeed-compressed.mp4")};
    expected.sort();
    EXPECT_EQ(outputs, expected);
}

// Ctrl-C while the encoder hangs and ignores SIGTERM: the program still ends
// at once with 130, and takes the encoder with it.
TEST_F(CliRobustnessTest, InterruptWhileTheEncoderHangs)
{
    fakeFFmpeg(QStringLiteral("  *stuck*) %1; trap '' TERM; head -c 30000 /dev/urandom > \"$out\"; exec sleep 300 ;;")
                   .arg(recordPid(QStringLiteral("stuck"))));
    const QString stuck = source(QStringLiteral("stuck.mp4"));
    QProcess process;
    start(process, {QStringLiteral("compress"), QStringLiteral("--output"), m_out, stuck});
    ASSERT_TRUE(waitForFake(QStringLiteral("stuck")));
    ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    const Outcome outcome = finish(process);
    EXPECT_EQ(outcome.exitCode, 130) << outcome.err.toStdString();
    EXPECT_FALSE(processAlive(pidIn(QStringLiteral("stuck"))));
    EXPECT_EQ(QDir(m_out).entryList(QDir::Files), QStringList());
}

// SIGTERM while the preview sample is made: the sample is removed.
TEST_F(CliRobustnessTest, TerminatedWhileTheSampleIsMade)
{
    fakeFFmpeg(QStringLiteral("  *stuck*) %1; head -c 30000 /dev/urandom > \"$out\"; exec sleep 300 ;;")
                   .arg(recordPid(QStringLiteral("stuck"))));
    const QString stuck = source(QStringLiteral("stuck.mp4"));
    QProcess process;
    start(process, {QStringLiteral("estimate"), stuck});
    ASSERT_TRUE(waitForFake(QStringLiteral("stuck")));
    ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), SIGTERM), 0);
    const Outcome outcome = finish(process);
    EXPECT_EQ(outcome.exitCode, 130) << outcome.err.toStdString();
}

// The program itself is killed outright: its encoder must not go on alone.
TEST_F(CliRobustnessTest, KilledProgramTakesItsEncoderAlong)
{
    fakeFFmpeg(QStringLiteral("  *stuck*) %1; exec sleep 300 ;;").arg(recordPid(QStringLiteral("stuck"))));
    const QString stuck = source(QStringLiteral("stuck.mp4"));
    QProcess process;
    start(process, {QStringLiteral("compress"), QStringLiteral("--output"), m_out, stuck});
    ASSERT_TRUE(waitForFake(QStringLiteral("stuck")));
    process.kill();
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_TRUE(spinUntil([&] { return !processAlive(pidIn(QStringLiteral("stuck"))); }, std::chrono::seconds(10)))
        << "the encoder outlived the program";
}

// An encoder killed with SIGKILL, one that runs out of disk space, and one
// that claims success without writing: each fails with its reason, the good
// video of the batch is compressed, and no partial file stays.
TEST_F(CliRobustnessTest, EncoderFaultsInOneBatch)
{
    fakeFFmpeg(QStringLiteral(R"(  *victim*) head -c 30000 /dev/urandom > "$out"; kill -9 $$ ;;
  *full*) head -c 65536 /dev/urandom > "$out"
    echo "[out#0/mp4 @ 0x55d0c0ffee00] Error writing trailer of $out: No space left on device" >&2
    echo "Conversion failed!" >&2
    exit 1 ;;
  *silent*) exit 0 ;;)"));
    const QString victim = source(QStringLiteral("victim.mp4"));
    const QString full = source(QStringLiteral("full.mp4"));
    const QString silent = source(QStringLiteral("silent.mp4"));
    const QString good = source(QStringLiteral("good.mp4"));
    const Outcome outcome = run({QStringLiteral("compress"), QStringLiteral("--plan"), QStringLiteral("fastest"),
                                 QStringLiteral("--output"), m_out, victim, full, silent, good});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("批量压缩完成，其中 3 个视频失败。可在队列中查看原因。")))
        << outcome.err.toStdString();
    const QStringList lines = outcome.out.split(QLatin1Char('\n'));
    const auto lineFor = [&](const QString &name) {
        for (const QString &line : lines) {
            if (line.startsWith(name + QStringLiteral(": "))) {
                return line;
            }
        }
        return QString();
    };
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^victim.mp4: failed: \\S")).match(lineFor("victim.mp4")).hasMatch())
        << outcome.out.toStdString();
    EXPECT_TRUE(lineFor("full.mp4").contains(QStringLiteral("No space left on device"))) << outcome.out.toStdString();
    EXPECT_EQ(lineFor("silent.mp4"), QStringLiteral("silent.mp4: failed: 没有生成有效的输出文件"));
    EXPECT_TRUE(lineFor("good.mp4").contains(QStringLiteral("good-compressed.mp4"))) << outcome.out.toStdString();
    EXPECT_EQ(QDir(m_out).entryList(QDir::Files), QStringList{"good-compressed.mp4"});
}

// A sample that the encoder claims to have made but did not: no estimate,
// a reason, and a failing exit status.
TEST_F(CliRobustnessTest, EstimateFromASampleThatWasNeverWritten)
{
    fakeFFmpeg(QStringLiteral("  *silent*) exit 0 ;;"));
    const QString silent = source(QStringLiteral("silent.mp4"));
    const Outcome outcome = run({QStringLiteral("estimate"), silent});
    EXPECT_EQ(outcome.exitCode, 1) << outcome.out.toStdString();
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("预览生成失败：没有生成有效的输出文件"))) << outcome.err.toStdString();
}

} // namespace
