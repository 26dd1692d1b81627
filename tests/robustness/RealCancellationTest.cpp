#include "robustness/RealToolsTest.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>

using namespace slimreel;
using namespace slimreel::test;

namespace {

// Cancellation at the moments that matter, with the real encoder: until the
// cancel it reads its input at the input's own pace, so that every moment can
// be reached reliably. Whatever was cut short leaves nothing behind (the fixture checks
// the folders, the temporary folder and the processes afterwards), finished
// videos keep their whole outputs, and a new run then compresses everything.
class RealCancellationTest : public RealToolsTest {
protected:
    void SetUp() override
    {
        const QString real = ToolLocator({QStringLiteral("/usr/bin/ffmpeg"), QStringLiteral("/usr/local/bin/ffmpeg")})
                                 .locate()
                                 .value_or(QStringLiteral("ffmpeg"));
        // Paced while the file `paced` exists, for the inputs whose path holds its text.
        paced = path(QStringLiteral("fakes/paced"));
        ASSERT_TRUE(writeFile(paced, {}));
        makeController(fakeTool(QStringLiteral("ffmpeg"), QStringLiteral(R"sh(in=; prev=
for a in "$@"; do [ "$prev" = "-i" ] && in=$a; prev=$a; done
if [ -e '%1' ]; then
  case "$in" in *"$(cat '%1')"*) exec '%2' -re "$@" ;; esac
fi
exec '%2' "$@"
)sh")
                                                              .arg(paced, real)));
        first = source(QStringLiteral("first.mp4"));
        second = source(QStringLiteral("second.mp4"));
        importNow({first, second});
        out = outputFolder();
    }

    // Stops everything and checks the controller at rest, then compresses the
    // queue again to show that nothing is stuck.
    void cancelAndRecover()
    {
        vm->cancel();
        ASSERT_TRUE(settle());
        EXPECT_EQ(vm->stateText(), "idle");
        EXPECT_FALSE(vm->isGeneratingPreview());
        EXPECT_FALSE(vm->alertMessage().has_value()) << vm->alertMessage()->toStdString();
        for (const BatchVideoItem &item : vm->batchItems()) {
            EXPECT_NE(item.state.kind, BatchItemState::Case::compressing);
            EXPECT_NE(item.state.kind, BatchItemState::Case::failed) << item.state.message.toStdString();
        }
        expectConsistent();

        QFile::remove(paced);
        runAll(out);
        EXPECT_EQ(vm->stateText(), "completed");
        for (const BatchVideoItem &item : vm->batchItems()) {
            EXPECT_EQ(item.state, BatchItemState::completed()) << item.state.message.toStdString();
        }
    }

    bool compressing(const QUrl &url) const { return item(url).state.kind == BatchItemState::Case::compressing; }

    QString paced;
    QUrl first;
    QUrl second;
    QUrl out;
};

TEST_F(RealCancellationTest, BeforeTheFirstEncodeStarts)
{
    vm->compressAll(out);
    cancelAndRecover();
}

TEST_F(RealCancellationTest, InTheMiddleOfAnEncode)
{
    vm->compressAll(out);
    ASSERT_TRUE(spinUntil([&] { return item(first).progress > 0; }));
    cancelAndRecover();
}

TEST_F(RealCancellationTest, AfterOneVideoIsDone)
{
    ASSERT_TRUE(writeFile(paced, "second"));
    vm->compressAll(out);
    ASSERT_TRUE(spinUntil([&] { return compressing(second) && item(second).progress > 0; }, std::chrono::seconds(60)));
    const std::optional<QUrl> done = item(first).outputURL;
    ASSERT_TRUE(done.has_value());
    vm->cancel();
    ASSERT_TRUE(settle());
    EXPECT_EQ(item(first).state, BatchItemState::completed());
    EXPECT_TRUE(isCompleteVideo(done->toLocalFile()));
    EXPECT_EQ(item(second).state, BatchItemState::pending());
    EXPECT_EQ(entries(out.toLocalFile()), QStringList{"first-compressed.mp4"});
    cancelAndRecover();
}

TEST_F(RealCancellationTest, InEitherPassOfATargetSizeEncode)
{
    vm->setModeText(QStringLiteral("targetSize"));
    vm->setTargetSizeMB(1);
    for (const double pass : {0.0, 0.5}) {
        SCOPED_TRACE(pass == 0 ? "first pass" : "second pass");
        vm->compressAll(out);
        ASSERT_TRUE(spinUntil([&] { return item(first).progress > pass; }, std::chrono::seconds(60)));
        vm->cancel();
        ASSERT_TRUE(settle());
        EXPECT_EQ(vm->stateText(), "idle");
        EXPECT_EQ(scratchLeftovers(m_temp.path()), QStringList());
        EXPECT_EQ(entries(out.toLocalFile()), QStringList());
        EXPECT_EQ(item(first).state, BatchItemState::pending());
    }
}

TEST_F(RealCancellationTest, WhileTheSampleIsMade)
{
    vm->generatePreview();
    ASSERT_TRUE(spinUntil([&] { return !childProcesses().isEmpty(); }));
    cancelAndRecover();
    EXPECT_FALSE(vm->previewURL().has_value());
}

// Taking the running video out of the queue stops the run; its partial output goes too.
TEST_F(RealCancellationTest, RemovingTheVideoBeingCompressed)
{
    vm->compressAll(out);
    ASSERT_TRUE(spinUntil([&] { return item(first).progress > 0; }));
    vm->selectItem(item(first).id);
    vm->removeVideo();
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_EQ(queuedNames(), QStringList{"second.mp4"});
    EXPECT_EQ(entries(out.toLocalFile()), QStringList());
    EXPECT_TRUE(QFileInfo::exists(first.toLocalFile()));
    cancelAndRecover();
}

// The window closes during a run: the program must not end before the cut
// encode has cleaned up after itself, or its half-written file would stay.
TEST_F(RealCancellationTest, ClosingTheProgramDuringARun)
{
    vm->compressAll(out);
    ASSERT_TRUE(spinUntil([&] { return item(first).progress > 0; }));
    vm->finishBeforeExit();
    // As if the program ended now: nothing more runs after this point.
    EXPECT_FALSE(vm->hasRunningTasks());
    EXPECT_EQ(entries(out.toLocalFile()), QStringList());
    EXPECT_TRUE(childProcesses().isEmpty()) << describe(childProcesses()).toStdString();
    vm.reset();
}

TEST_F(RealCancellationTest, ClosingTheProgramWhileTheSampleIsMade)
{
    vm->generatePreview();
    ASSERT_TRUE(spinUntil([&] { return !childProcesses().isEmpty(); }));
    vm->finishBeforeExit();
    EXPECT_FALSE(vm->hasRunningTasks());
    vm.reset();
    EXPECT_EQ(scratchLeftovers(m_temp.path()), QStringList());
    EXPECT_TRUE(childProcesses().isEmpty()) << describe(childProcesses()).toStdString();
}

} // namespace
