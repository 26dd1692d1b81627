#include "robustness/RealToolsTest.h"

#include <sys/stat.h>

using namespace slimreel;
using namespace slimreel::test;

// The controller over the real tools: bad input, faulty tools and cancellation at every moment.
namespace {

class BadInputTest : public RealToolsTest {
protected:
    void SetUp() override { makeController(); }
    // Lowers the permissions of `paths` where permissions bind; whether they do.
    bool lock(const QStringList &paths, QFileDevice::Permissions permissions)
    {
        for (const QString &lockedPath : paths) {
            if (permissionsEnforced && QFile::setPermissions(lockedPath, permissions)) {
                locked << lockedPath;
            }
        }
        return permissionsEnforced;
    }
};

// Files that never enter the queue: each is refused with its own line, the good videos around them are queued in order
// and compressed.
TEST_F(BadInputTest, RefusedFilesAreNamedAndTheOthersCompressed)
{
    const QString dir = path("sources");
    const QByteArray whole = readFile(media("h264_aac.mp4"));
    // The index of this file comes after its media data, so the first half has none.
    ASSERT_GT(whole.lastIndexOf("moov"), whole.size() / 2);
    ASSERT_TRUE(QDir(dir).mkpath("holiday.mp4") && QFile::copy(media("h264_aac.mp4"), dir + "/holiday.mp4/inside.mp4"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/pipe.mp4").constData(), 0600), 0);
    const QUrl first = source("first.mp4");
    QList<std::pair<QUrl, VideoProbeError>> refused{
        {source("empty.mp4", {}, QByteArray()), VideoProbeError::unreadable},
        {source("truncated.mp4", {}, whole.left(whole.size() / 2)), VideoProbeError::unreadable},
        {source("song.m4a", "audio_only.m4a"), VideoProbeError::missingVideoTrack},
        {QUrl::fromLocalFile(dir + "/holiday.mp4"), VideoProbeError::unreadable},
        {QUrl::fromLocalFile(dir + "/gone.mp4"), VideoProbeError::unreadable},
        {QUrl::fromLocalFile(dir + "/pipe.mp4"), VideoProbeError::unreadable},
    };
    if (const QUrl unreadable = source("locked.mp4"); lock({unreadable.toLocalFile()}, {})) {
        refused.append({unreadable, VideoProbeError::unreadable});
    }
    const QUrl last = source("last.mkv", "clip.mkv");
    // The alert names the first three failures of an import: three at a time.
    for (qsizetype at = 0; at < refused.size(); at += 3) {
        QList<QUrl> urls = at == 0 ? QList<QUrl>{first} : QList<QUrl>{};
        QStringList lines;
        for (const auto &[url, error] : refused.mid(at, 3)) {
            urls << url;
            lines << importFailure(url.fileName(), error);
        }
        importNow(at + 3 >= refused.size() ? urls << last : urls);
        EXPECT_EQ(vm->alertMessage().value_or(QString()), lines.join(u'\n'));
        vm->dismissAlert();
    }
    EXPECT_EQ(queuedNames(), (QStringList{"first.mp4", "last.mkv"}));
    EXPECT_EQ(vm->selectedItemID(), item(first).id);
    expectRun({});
}

// Queued videos that then fail: headers over undecodable data, a file removed or made unreadable after the import, a
// name too long for its output. Each fails its sample (where one is made from it) and its encode with the reason; the
// others go on.
TEST_F(BadInputTest, VideosThatFailAfterTheImport)
{
    const QUrl broken = source("broken.mp4", "undecodable.mp4");
    const QUrl removed = source("removed.mp4");
    const QUrl unreadable = source("unreadable.mp4");
    const QUrl longest = source(QString(251, u'a') + ".mp4");
    importNow({source("first.mp4"), broken, removed, unreadable, longest, source("last.mp4")});
    ASSERT_EQ(vm->batchItems().size(), 6) << vm->alertMessage().value_or(QString()).toStdString();
    ASSERT_TRUE(QFile::remove(removed.toLocalFile()));
    guarded.remove(removed.toLocalFile());
    Failing failing{{broken, {}}, {removed, "No such file or directory"}, {longest, "File name too long"}};
    if (lock({unreadable.toLocalFile()}, {})) {
        failing.append({unreadable, "Permission denied"});
    }
    expectSample(broken, "");
    expectSample(removed, "No such file or directory");
    expectRun(failing);
}

// Names a shell or a command line could misread, in a folder that cannot be written to: sample and run only ever read
// them. A read-only output folder fails every video with the reason and gets nothing; a writable one gets every video
// under its own name, read-only as its source.
TEST_F(BadInputTest, OddNamesInReadOnlyFolders)
{
    QStringList names{"with  two spaces.mp4", "quote's \"double\".mp4", "-leading dash.mp4",
                      "ünïcödé 视频.mp4",     "line\nfeed.mp4",         "-i.mp4"};
    QList<QUrl> urls;
    Failing denied;
    for (const QString &name : names) {
        urls << source(name, "very_short.mp4"); // what it holds does not matter here
        denied.append({urls.last(), "Permission denied"});
        lock({urls.last().toLocalFile()}, QFileDevice::ReadOwner);
    }
    const bool readOnly = lock({path("sources")}, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    importNow(urls);
    ASSERT_EQ(queuedNames(), names) << vm->alertMessage().value_or(QString()).toStdString();
    for (const QUrl &url : {urls.at(2), urls.at(4)}) {
        expectSample(url);
    }
    if (readOnly) {
        lock({outputFolder("locked-out").toLocalFile()}, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        expectRun(denied, "locked-out");
    }
    expectRun({});
    for (const QUrl &url : urls) {
        const QString output = path("out/" + QFileInfo(url.toLocalFile()).completeBaseName() + "-compressed.mp4");
        EXPECT_EQ(item(url).outputURL, QUrl::fromLocalFile(output));
        EXPECT_TRUE(!readOnly || !(QFileInfo(output).permissions() & QFileDevice::WriteOwner)) << "read-only like its source";
    }
    names.sort();
    EXPECT_EQ(entries(path("sources")), names);
}

// The folder goes away while the first video is being written: no video reports success, nothing recreates the folder,
// and the run ends normally.
TEST_F(BadInputTest, OutputFolderRemovedDuringTheRun)
{
    const QString started = path("fakes/started");
    const QString go = path("fakes/go");
    // For the first video: open the output, write part of it, wait, then finish it.
    makeController(fakeTool("ffmpeg", QStringLiteral(R"(*first*) exec 3>"$out"
  head -c 40000 /dev/urandom >&3; : > '%1'
  while [ ! -e '%2' ]; do sleep 0.05; done
  head -c 40000 /dev/urandom >&3; exit 0 ;;)").arg(started, go)));
    const QUrl first = source("first.mp4");
    const QUrl second = source("second.mp4");
    importNow({first, second});
    const QUrl out = outputFolder();
    vm->compressAll(out);
    ASSERT_TRUE(spinUntil([&] { return QFile::exists(started); }));
    ASSERT_TRUE(QDir(out.toLocalFile()).removeRecursively());
    ASSERT_TRUE(writeFile(go, {}));
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_EQ(vm->alertMessage().value_or(QString()), batchSummary(2));
    EXPECT_EQ(item(first).state, BatchItemState::failed(noValidOutputText));
    EXPECT_TRUE(item(second).state.message.contains("No such file or directory"))
        << item(second).state.message.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out.toLocalFile()));
}

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
    makeController(fakeTool("ffmpeg", QStringLiteral("*frozen*) %1 ;;\n*stuck*) %2 ;;").arg(hangOnce("frozen"), hangOnce("stuck"))));
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
    importNow({source("first.mp4"), source("notes.mp4", {}, "not a video\n")});
    EXPECT_EQ(queuedNames(), QStringList{"first.mp4"});
    EXPECT_EQ(vm->alertMessage().value_or(QString()), importFailure("notes.mp4", VideoProbeError::unreadable));
    vm->dismissAlert();
    expectSample();
    expectRun({});
}

// Cancellation at the moments that matter, with the real encoder: while the file `paced` exists it reads the inputs
// whose path holds its text at their own pace, so that every moment can be reached reliably. Whatever was cut short
// leaves nothing behind (the fixture checks folders, the temporary folder and the processes), finished videos keep their
// whole outputs, and each run after a cancel shows that nothing was left stuck.
class RealCancellationTest : public RealToolsTest {
protected:
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
};

TEST_F(RealCancellationTest, AtEveryMomentOfARunOrASample)
{
    makeController(fakeTool("ffmpeg", QStringLiteral(R"sh(*) if [ -e '%1' ]; then
  case "$in" in *"$(cat '%1')"*) exec "$real" -re "$@" ;; esac; fi ;;)sh").arg(paced())));
    const QUrl first = source("first.mp4");
    const QUrl second = source("second.mp4");
    importNow({first, second});
    SCOPED_TRACE("before the first encode starts");
    runUntil("before", [] { return true; });
    cancel();

    SCOPED_TRACE("in the middle of an encode");
    runUntil("middle", [&] { return encoding(first); });
    cancel();

    SCOPED_TRACE("after one video is done");
    const QUrl afterOne = runUntil("after-one", [&] { return encoding(second); }, "second");
    cancel();
    EXPECT_EQ(item(first).state, BatchItemState::completed());
    EXPECT_EQ(item(second).state, BatchItemState::pending());
    EXPECT_EQ(entries(afterOne.toLocalFile()), QStringList{"first-compressed.mp4"}); // whole, as the fixture checks

    SCOPED_TRACE("while the sample is made");
    ASSERT_TRUE(writeFile(paced(), {}));
    vm->generatePreview();
    const auto children = [] { return processes([](char, qint64 parent, const QString &) { return parent == ::getpid(); }); };
    ASSERT_TRUE(spinUntil([&] { return !children().isEmpty(); }));
    cancel();
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
    QFile::remove(paced());
    expectRun({}, "again");
}

} // namespace
