#include "robustness/RealToolsTest.h"

#include <sys/stat.h>

using namespace slimreel;
using namespace slimreel::test;

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
// under its own name.
TEST_F(BadInputTest, OddNamesInReadOnlyFolders)
{
    QStringList names{"with  two spaces.mp4", "quote's \"double\".mp4", "-leading dash.mp4",
                      "ünïcödé 视频.mp4",     "line\nfeed.mp4",         "-i.mp4"};
    QList<QUrl> urls;
    Failing denied;
    for (const QString &name : names) {
        urls << source(name);
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
        const QString stem = QFileInfo(url.toLocalFile()).completeBaseName();
        EXPECT_EQ(item(url).outputURL, QUrl::fromLocalFile(path("out/" + stem + "-compressed.mp4")));
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
  head -c 40000 /dev/urandom >&3; exit 0 ;;)")
                                          .arg(started, go)));
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

} // namespace
