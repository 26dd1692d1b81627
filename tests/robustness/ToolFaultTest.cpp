#include "robustness/RealToolsTest.h"

#include "compress/CompressionError.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>

using namespace slimreel;
using namespace slimreel::test;

namespace {

QString realTool(const QString &name)
{
    return ToolLocator({QStringLiteral("/usr/bin/") + name, QStringLiteral("/usr/local/bin/") + name})
        .locate()
        .value_or(name);
}

// Fakes of the tools: a fault for the inputs that match a pattern, the real
// tool for every other one. `$in` is the input, `$out` the last argument.
class ToolFaultTest : public RealToolsTest {
protected:
    QString pidFile(const QString &name) const { return path(QStringLiteral("fakes/") + name + QStringLiteral(".pid")); }
    qint64 pidIn(const QString &name) const { return readFile(pidFile(name)).trimmed().toLongLong(); }
    bool started(const QString &name) const { return pidIn(name) > 0; }

    QStringList faultyFFmpeg(const QString &pattern, const QString &fault)
    {
        return fakeTool(QStringLiteral("ffmpeg"), QStringLiteral(R"(in=; prev=; out=
for a in "$@"; do [ "$prev" = "-i" ] && in=$a; prev=$a; out=$a; done
case "$in" in
  %1)
%2
    ;;
esac
exec '%3' "$@"
)")
                                                      .arg(pattern, fault, realTool(QStringLiteral("ffmpeg"))));
    }

    QStringList faultyFFprobe(const QString &pattern, const QString &fault)
    {
        return fakeTool(QStringLiteral("ffprobe"), QStringLiteral(R"(in=
for a in "$@"; do in=$a; done
case "$in" in
  %1)
%2
    ;;
esac
exec '%3' "$@"
)")
                                                       .arg(pattern, fault, realTool(QStringLiteral("ffprobe"))));
    }

    // A tool that hangs and ignores the polite request to end (once: a second
    // call with the same pattern runs the real tool).
    QString hangOnce(const QString &name) const
    {
        return QStringLiteral("    if [ ! -e '%1' ]; then echo $$ > '%1'; trap '' TERM; exec sleep 300; fi")
            .arg(pidFile(name));
    }

};

// The encoder dies of SIGKILL halfway: the video fails with a reason, its
// partial output is removed, and the next video is compressed.
TEST_F(ToolFaultTest, FFmpegKilledMidRun)
{
    // Reading at the input's own pace keeps the encode running long enough to be killed.
    makeController(faultyFFmpeg(QStringLiteral("*victim*"),
                                QStringLiteral("    echo $$ > '%1'; exec '%2' -re \"$@\"")
                                    .arg(pidFile(QStringLiteral("victim")), realTool(QStringLiteral("ffmpeg")))));
    const QUrl victim = source(QStringLiteral("victim.mp4"), QStringLiteral("long.mp4"));
    const QUrl after = source(QStringLiteral("after.mp4"));
    importNow({victim, after});
    const QUrl out = outputFolder();

    vm->compressAll(out);
    ASSERT_TRUE(spinUntil([&] { return started(QStringLiteral("victim")) && item(victim).progress > 0; }));
    ASSERT_EQ(::kill(static_cast<pid_t>(pidIn(QStringLiteral("victim"))), SIGKILL), 0);
    ASSERT_TRUE(settle());

    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_EQ(vm->alertMessage().value_or(QString()), batchSummary(1));
    EXPECT_EQ(item(victim).state.kind, BatchItemState::Case::failed);
    EXPECT_FALSE(item(victim).state.message.trimmed().isEmpty()) << "the user is told nothing";
    expectCompressed({after}, out.toLocalFile());
}

// A tool that says it succeeded but wrote nothing: neither the sample nor
// the run may count that as a result.
TEST_F(ToolFaultTest, FFmpegExitsZeroWithoutWriting)
{
    makeController(faultyFFmpeg(QStringLiteral("*silent*"),
                                QStringLiteral("    printf 'out_time_ms=500000\\nprogress=end\\n'; exit 0")));
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl silent = source(QStringLiteral("silent.mp4"));
    const QUrl last = source(QStringLiteral("last.mp4"));
    importNow({first, silent, last});

    expectSampleFails(silent, noValidOutputText);
    EXPECT_EQ(vm->estimatedSizeText(), QStringLiteral("生成预览后估算"));
    expectRunFailsOnly(silent, noValidOutputText);
    EXPECT_EQ(item(silent).state, BatchItemState::failed(noValidOutputText));
}

// An encoder that hangs and ignores SIGTERM: the user cancels, the controller
// is idle again once the encoder has been made to stop, and a new run works.
TEST_F(ToolFaultTest, FFmpegHangsDuringTheRun)
{
    makeController(faultyFFmpeg(QStringLiteral("*stuck*"), hangOnce(QStringLiteral("stuck"))));
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl stuck = source(QStringLiteral("stuck.mp4"));
    const QUrl last = source(QStringLiteral("last.mp4"));
    importNow({first, stuck, last});
    const QUrl out = outputFolder();

    vm->compressAll(out);
    ASSERT_TRUE(spinUntil([&] { return started(QStringLiteral("stuck")); }));
    vm->cancel();
    EXPECT_EQ(vm->stateText(), "preparing");
    ASSERT_TRUE(settle(std::chrono::seconds(60)));
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_FALSE(processAlive(pidIn(QStringLiteral("stuck"))));
    EXPECT_EQ(item(stuck).state, BatchItemState::pending());
    EXPECT_EQ(item(stuck).progress, 0);
    EXPECT_EQ(item(last).state, BatchItemState::pending());
    EXPECT_FALSE(vm->alertMessage().has_value());
    EXPECT_EQ(entries(out.toLocalFile()), QStringList{"first-compressed.mp4"});

    runAll(out);
    EXPECT_EQ(vm->stateText(), "completed");
    for (const QUrl &url : {first, stuck, last}) {
        EXPECT_EQ(item(url).state, BatchItemState::completed());
    }
}

// The same encoder hanging while it makes the sample: choosing another video
// stops it, and that video's sample is made.
TEST_F(ToolFaultTest, FFmpegHangsDuringThePreview)
{
    makeController(faultyFFmpeg(QStringLiteral("*stuck*"), hangOnce(QStringLiteral("stuck"))));
    const QUrl stuck = source(QStringLiteral("stuck.mp4"));
    const QUrl other = source(QStringLiteral("other.mp4"));
    importNow({stuck, other});

    vm->generatePreview();
    ASSERT_TRUE(spinUntil([&] { return started(QStringLiteral("stuck")); }));
    vm->selectItem(item(other).id);
    EXPECT_FALSE(vm->isGeneratingPreview());
    ASSERT_TRUE(settle(std::chrono::seconds(60)));
    EXPECT_FALSE(processAlive(pidIn(QStringLiteral("stuck"))));
    EXPECT_FALSE(vm->previewURL().has_value());
    EXPECT_FALSE(vm->alertMessage().has_value());

    expectSampleMade();
}

// ffprobe hangs on a file the framework could not read: cancelling ends the
// import and the hung tool, with no failure line for the file it was reading.
TEST_F(ToolFaultTest, FFprobeHangsDuringImport)
{
    makeController({}, faultyFFprobe(QStringLiteral("*notes*"), hangOnce(QStringLiteral("notes"))));
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl notes = sourceWithBytes(QStringLiteral("notes.mp4"), "not a video\n");
    const QUrl last = source(QStringLiteral("last.mp4"));

    vm->importVideos({first, notes, last});
    ASSERT_TRUE(spinUntil([&] { return started(QStringLiteral("notes")); }));
    vm->cancel();
    ASSERT_TRUE(settle(std::chrono::seconds(60)));
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_FALSE(processAlive(pidIn(QStringLiteral("notes"))));
    EXPECT_EQ(queuedNames(), QStringList{"first.mp4"});
    EXPECT_FALSE(vm->alertMessage().has_value()) << vm->alertMessage()->toStdString();

    importNow({notes, last});
    EXPECT_EQ(queuedNames(), (QStringList{"first.mp4", "last.mp4"}));
    EXPECT_EQ(vm->alertMessage().value_or(QString()), QStringLiteral("notes.mp4：") + unreadableText);
}

// ffprobe hangs while it reads the sample's packets. Neither a cancel nor a
// run that follows may wait for it for ever.
TEST_F(ToolFaultTest, FFprobeHangsReadingTheSample)
{
    makeController({}, faultyFFprobe(QStringLiteral("*Slimreel-preview-*"), hangOnce(QStringLiteral("sample"))));
    const QUrl first = source(QStringLiteral("first.mp4"));
    importNow({first});

    vm->generatePreview();
    ASSERT_TRUE(spinUntil([&] { return started(QStringLiteral("sample")); }));
    vm->cancel();
    ASSERT_TRUE(settle(std::chrono::seconds(60)));
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_FALSE(vm->isGeneratingPreview());
    EXPECT_FALSE(processAlive(pidIn(QStringLiteral("sample"))));

    expectSampleMade();
}

TEST_F(ToolFaultTest, FFprobeHangsReadingTheSampleWhenTheRunStarts)
{
    makeController({}, faultyFFprobe(QStringLiteral("*Slimreel-preview-*"), hangOnce(QStringLiteral("sample"))));
    const QUrl first = source(QStringLiteral("first.mp4"));
    importNow({first});

    vm->generatePreview();
    ASSERT_TRUE(spinUntil([&] { return started(QStringLiteral("sample")); }));
    const QUrl out = outputFolder();
    vm->compressAll(out);
    ASSERT_TRUE(settle(std::chrono::seconds(60)));
    EXPECT_EQ(vm->stateText(), "completed");
    expectCompressed({first}, out.toLocalFile());
    EXPECT_FALSE(processAlive(pidIn(QStringLiteral("sample"))));
}

// Without ffprobe the framework still reads what it can; the estimate falls
// back to the sample's size; the run works.
TEST_F(ToolFaultTest, NoFFprobeAtAll)
{
    makeController({}, noTool());
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl notes = sourceWithBytes(QStringLiteral("notes.mp4"), "not a video\n");
    importNow({first, notes});
    EXPECT_EQ(queuedNames(), QStringList{"first.mp4"});
    EXPECT_EQ(vm->alertMessage().value_or(QString()), QStringLiteral("notes.mp4：") + unreadableText);
    vm->dismissAlert();

    expectSampleMade();

    const QUrl out = outputFolder();
    runAll(out);
    expectCompressed({first}, out.toLocalFile());
}

// Without ffmpeg, the modes that need it fail every video with the fixed text.
TEST_F(ToolFaultTest, NoFFmpegAtAll)
{
    makeController(noTool());
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl second = source(QStringLiteral("second.mp4"));
    importNow({first, second});
    vm->setModeText(QStringLiteral("targetSize"));

    const QUrl out = outputFolder();
    runAll(out);
    EXPECT_EQ(vm->alertMessage().value_or(QString()), batchSummary(2));
    for (const QUrl &url : {first, second}) {
        EXPECT_EQ(item(url).state, BatchItemState::failed(CompressionError::ffmpegUnavailable().errorDescription()));
    }
    EXPECT_EQ(entries(out.toLocalFile()), QStringList());
}

// The disk fills up: the tool writes part of the file and fails.
const QString diskFull = QStringLiteral(R"(    head -c 65536 /dev/urandom > "$out"
    echo "[out#0/mp4 @ 0x55d0c0ffee00] Error writing trailer of $out: No space left on device" >&2
    echo "Conversion failed!" >&2
    exit 1)");

TEST_F(ToolFaultTest, DiskFull)
{
    makeController(faultyFFmpeg(QStringLiteral("*full*"), diskFull));
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl full = source(QStringLiteral("full.mp4"));
    const QUrl last = source(QStringLiteral("last.mp4"));
    importNow({first, full, last});

    expectSampleFails(full, QStringLiteral("No space left on device"));
    expectRunFailsOnly(full, QStringLiteral("No space left on device"));
}

// In two passes the statistics folder goes too.
TEST_F(ToolFaultTest, DiskFullInATwoPassRun)
{
    makeController(faultyFFmpeg(QStringLiteral("*full*"), diskFull));
    const QUrl full = source(QStringLiteral("full.mp4"));
    const QUrl last = source(QStringLiteral("last.mp4"));
    importNow({full, last});
    vm->setModeText(QStringLiteral("targetSize"));
    vm->setTargetSizeMB(1);

    expectRunFailsOnly(full, QStringLiteral("No space left on device"));
}

} // namespace
