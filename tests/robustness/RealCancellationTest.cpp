#include "robustness/RealToolsTest.h"

using namespace slimreel;
using namespace slimreel::test;

namespace {

// Cancellation at the moments that matter, with the real encoder: while the file `paced` exists it reads the inputs
// whose path holds its text at their own pace, so that every moment can be reached reliably. Whatever was cut short
// leaves nothing behind (the fixture checks folders, the temporary folder and the processes), finished videos keep their
// whole outputs.
class RealCancellationTest : public RealToolsTest {
protected:
    void start()
    {
        makeController(fakeTool("ffmpeg", QStringLiteral(R"sh(*) if [ -e '%1' ]; then
  case "$in" in *"$(cat '%1')"*) exec "$real" -re "$@" ;; esac; fi ;;)sh").arg(paced())));
        importNow({first, second});
    }
    QString paced() const { return path("fakes/paced"); }
    bool encoding(const QUrl &url) const
    {
        return item(url).state.kind == BatchItemState::Case::compressing && item(url).progress > 0;
    }
    // Starts a run into a new folder, pacing the inputs named `only` (all when empty), until `reached`.
    QUrl runUntil(const QString &folder, const std::function<bool()> &reached, const QByteArray &only = {})
    {
        EXPECT_TRUE(writeFile(paced(), only));
        const QUrl out = outputFolder(folder);
        vm->compressAll(out);
        EXPECT_TRUE(spinUntil(reached, std::chrono::seconds(60)));
        return out;
    }
    // Stops everything and expects the controller at rest.
    void cancel()
    {
        vm->cancel();
        ASSERT_TRUE(settle());
        EXPECT_EQ(vm->stateText(), "idle");
        EXPECT_FALSE(vm->isGeneratingPreview());
        EXPECT_FALSE(vm->alertMessage().has_value()) << vm->alertMessage()->toStdString();
        for (const BatchVideoItem &queued : vm->batchItems()) {
            EXPECT_TRUE(queued.state == BatchItemState::pending() || queued.state == BatchItemState::completed())
                << queued.state.message.toStdString();
        }
    }
    // Then compresses the queue again into `out`, to show that nothing is stuck.
    void cancelAndRecover(const QUrl &out)
    {
        cancel();
        QFile::remove(paced());
        expectRun({}, out.fileName());
    }

    QUrl first = source("first.mp4");
    QUrl second = source("second.mp4");
};

TEST_F(RealCancellationTest, AtEveryMomentOfARunOrASample)
{
    start();
    SCOPED_TRACE("before the first encode starts");
    cancelAndRecover(runUntil("before", [] { return true; }));

    SCOPED_TRACE("in the middle of an encode");
    cancelAndRecover(runUntil("middle", [&] { return encoding(first); }));

    SCOPED_TRACE("after one video is done");
    const QUrl afterOne = runUntil("after-one", [&] { return encoding(second); }, "second");
    cancel();
    EXPECT_EQ(item(first).state, BatchItemState::completed());
    EXPECT_EQ(item(second).state, BatchItemState::pending());
    EXPECT_EQ(entries(afterOne.toLocalFile()), QStringList{"first-compressed.mp4"}); // whole, as the fixture checks
    cancelAndRecover(outputFolder("after-one-again"));

    SCOPED_TRACE("while the sample is made");
    ASSERT_TRUE(writeFile(paced(), {}));
    vm->generatePreview();
    ASSERT_TRUE(spinUntil([&] { return !childProcesses().isEmpty(); }));
    cancelAndRecover(outputFolder("sample"));
    EXPECT_FALSE(vm->previewURL().has_value());

    vm->setModeText("targetSize");
    vm->setTargetSizeMB(1);
    for (const double pass : {0.0, 0.5}) {
        SCOPED_TRACE(pass == 0 ? "in the first pass" : "in the second pass");
        const QUrl out = runUntil("two-pass", [&] { return item(first).progress > pass; });
        cancel();
        EXPECT_EQ(entries(out.toLocalFile()), QStringList());
        EXPECT_EQ(item(first).state, BatchItemState::pending());
    }
}

} // namespace
