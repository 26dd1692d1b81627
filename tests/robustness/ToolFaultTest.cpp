#include "robustness/RealToolsTest.h"

using namespace slimreel;
using namespace slimreel::test;

namespace {

class ToolFaultTest : public RealToolsTest {
protected:
    // Waits until the hung fake `name` runs, acts, and expects the controller idle again with the fake gone.
    void stopHung(const QString &name, const std::function<void()> &act, const QString &state = "idle")
    {
        ASSERT_TRUE(spinUntil([&] { return pidOf(name) > 0; }));
        act();
        ASSERT_TRUE(settle(std::chrono::seconds(60)));
        EXPECT_EQ(vm->stateText(), state);
        EXPECT_FALSE(vm->isGeneratingPreview());
        EXPECT_FALSE(processAlive(pidOf(name)));
    }
};

// An encoder killed halfway (its partial output stays), one that says it succeeded but wrote nothing, and a full disk:
// the sample and the run fail that video with a reason, its partial output goes, the others are compressed, in one pass
// and in two.
TEST_F(ToolFaultTest, AFaultyEncodeFailsOnlyItsVideo)
{
    makeController(fakeTool("ffmpeg", R"(*killed*) head -c 30000 /dev/urandom > "$out"; kill -9 $$ ;;
*silent*) printf 'out_time_ms=500000\nprogress=end\n'; exit 0 ;;
*full*) head -c 65536 /dev/urandom > "$out"
  echo "[out#0/mp4 @ 0x55d0c0ffee00] Error writing trailer of $out: No space left on device" >&2
  echo "Conversion failed!" >&2; exit 1 ;;)"));
    const QUrl killed = source("killed.mp4");
    const QUrl silent = source("silent.mp4");
    const QUrl full = source("full.mp4");
    importNow({source("first.mp4"), killed, silent, full, source("last.mp4")});
    const Failing failing{{killed, {}}, {silent, noValidOutputText}, {full, "No space left on device"}};
    for (const auto &[url, reason] : failing) {
        vm->selectItem(item(url).id);
        const QString estimate = vm->estimatedSizeText();
        expectSample(url, reason);
        EXPECT_EQ(vm->estimatedSizeText(), estimate) << "a failed sample gives no estimate";
    }
    expectRun(failing, "one-pass");
    vm->setModeText("targetSize");
    vm->setTargetSizeMB(1);
    expectRun(failing, "two-pass");
}

// Encoders that hang and ignore SIGTERM. While the sample is made, choosing another video stops it and that video's
// sample is made; during the run a cancel ends it once the encoder has been made to stop, and a new run works.
TEST_F(ToolFaultTest, AHungEncoderIsStopped)
{
    makeController(fakeTool("ffmpeg", QStringLiteral("*frozen*) %1 ;;\n*stuck*) %2 ;;")
                                          .arg(hangOnce("frozen"), hangOnce("stuck"))));
    const QUrl first = source("first.mp4");
    const QUrl stuck = source("stuck.mp4");
    const QUrl last = source("last.mp4");
    importNow({source("frozen.mp4"), first, stuck, last});
    vm->generatePreview();
    stopHung("frozen", [&] {
        vm->selectItem(item(first).id);
        EXPECT_FALSE(vm->isGeneratingPreview());
    });
    EXPECT_FALSE(vm->previewURL().has_value());
    EXPECT_FALSE(vm->alertMessage().has_value());
    expectSample();

    const QUrl out = outputFolder();
    vm->compressAll(out);
    stopHung("stuck", [&] {
        vm->cancel();
        EXPECT_EQ(vm->stateText(), "preparing");
    });
    EXPECT_EQ(item(stuck).state, BatchItemState::pending());
    EXPECT_EQ(item(stuck).progress, 0);
    EXPECT_EQ(item(last).state, BatchItemState::pending());
    EXPECT_FALSE(vm->alertMessage().has_value());
    EXPECT_EQ(entries(out.toLocalFile()), (QStringList{"first-compressed.mp4", "frozen-compressed.mp4"}));
    expectRun({}, "again");
}

// ffprobe hangs: on a file the framework could not read, cancelling ends the import and the tool, with no failure line
// for that file; while it reads the sample's packets, neither a cancel nor a run that follows waits for ever.
TEST_F(ToolFaultTest, AHungProbeIsStopped)
{
    makeController({}, fakeTool("ffprobe", QStringLiteral("*notes*) %1 ;;\n*Slimreel-preview-*) %2 ;;")
                                               .arg(hangOnce("notes"), hangOnce("sample"))));
    const QUrl first = source("first.mp4");
    const QUrl notes = source("notes.mp4", {}, "not a video\n");
    const QUrl last = source("last.mp4");
    vm->importVideos({first, notes, last});
    stopHung("notes", [&] { vm->cancel(); });
    EXPECT_EQ(queuedNames(), QStringList{"first.mp4"});
    EXPECT_FALSE(vm->alertMessage().has_value()) << vm->alertMessage()->toStdString();
    importNow({notes, last});
    EXPECT_EQ(queuedNames(), (QStringList{"first.mp4", "last.mp4"}));
    EXPECT_EQ(vm->alertMessage().value_or(QString()), importFailure("notes.mp4", VideoProbeError::unreadable));
    vm->dismissAlert();

    vm->generatePreview();
    stopHung("sample", [&] { vm->cancel(); });
    expectSample();

    QFile::remove(pidFile("sample")); // hangs once more
    vm->generatePreview();
    stopHung("sample", [&] { vm->compressAll(outputFolder()); }, "completed");
    expectRun({}, "out", true);
}

// Without ffprobe the framework still reads what it can, the estimate falls back to the sample's size and the run works.
TEST_F(ToolFaultTest, WithoutFFprobe)
{
    makeController({}, {"/nonexistent/slimreel-test/none"});
    const QUrl first = source("first.mp4");
    importNow({first, source("notes.mp4", {}, "not a video\n")});
    EXPECT_EQ(queuedNames(), QStringList{"first.mp4"});
    EXPECT_EQ(vm->alertMessage().value_or(QString()), importFailure("notes.mp4", VideoProbeError::unreadable));
    vm->dismissAlert();
    expectSample();
    expectRun({});
}

} // namespace
