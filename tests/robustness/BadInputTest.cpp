#include "robustness/RealToolsTest.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <sys/stat.h>

#include <ostream>

using namespace slimreel;
using namespace slimreel::test;

namespace {

// Overwrites the media data of an MP4 with noise: the headers still describe
// an H.264 video, but no frame of it can be decoded.
QByteArray withUndecodablePictures(QByteArray mp4)
{
    qsizetype at = 0;
    while (at + 8 <= mp4.size()) {
        const auto size = static_cast<qsizetype>(qFromBigEndian<quint32>(mp4.constData() + at));
        const QByteArray type = mp4.mid(at + 4, 4);
        if (size < 8) {
            break;
        }
        if (type == "mdat") {
            quint32 noise = 2463534242U;
            for (qsizetype i = at + 8; i < std::min(at + size, mp4.size()); ++i) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                mp4[i] = static_cast<char>(noise & 0xff);
            }
            return mp4;
        }
        at += size;
    }
    ADD_FAILURE() << "no media data found";
    return mp4;
}

class BadInputTest : public RealToolsTest {
protected:
    void SetUp() override { makeController(); }
};

// A file that never enters the queue: how to make it and what the user reads.
struct Rejected {
    const char *test;
    const char *name;
    void (*make)(BadInputTest &, const QString &path);
    const char *message;
    bool needsPermissions = false;
};

void makeEmpty(BadInputTest &, const QString &path)
{
    ASSERT_TRUE(writeFile(path, {}));
}
void makeText(BadInputTest &, const QString &path)
{
    ASSERT_TRUE(writeFile(path, "Shopping list:\n- milk\n- bread\n"));
}
void makeTruncated(BadInputTest &, const QString &path)
{
    const QByteArray whole = readFile(media(QStringLiteral("h264_aac.mp4")));
    // The index of this file comes after its media data, so the first half has none.
    ASSERT_GT(whole.lastIndexOf("moov"), whole.size() / 2);
    ASSERT_TRUE(writeFile(path, whole.left(whole.size() / 2)));
}
void makeAudioOnly(BadInputTest &, const QString &path)
{
    ASSERT_TRUE(copyFile(media(QStringLiteral("audio_only.m4a")), path));
}
void makeFolder(BadInputTest &, const QString &path)
{
    ASSERT_TRUE(QDir().mkdir(path));
    ASSERT_TRUE(copyFile(media(QStringLiteral("h264_aac.mp4")), QDir(path).filePath(QStringLiteral("inside.mp4"))));
}
void makeNothing(BadInputTest &, const QString &) {}
void makePipe(BadInputTest &, const QString &path)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
}
void makeUnreadable(BadInputTest &t, const QString &path)
{
    ASSERT_TRUE(copyFile(media(QStringLiteral("h264_aac.mp4")), path));
    t.guard.add(path);
    ASSERT_TRUE(QFile::setPermissions(path, {}));
    t.locked << path;
}

// Readable test names and failure messages.
void PrintTo(const Rejected &input, std::ostream *out)
{
    *out << input.test;
}

constexpr const char *unreadable = "无法读取这个视频文件";
constexpr const char *noVideoTrack = "文件中没有可用的视频轨道";

class RejectedInputTest : public BadInputTest, public testing::WithParamInterface<Rejected> {};

const Rejected rejectedInputs[] = {
    {"EmptyFile", "empty.mp4", &makeEmpty, unreadable},
    {"TextNamedMp4", "notes.mp4", &makeText, unreadable},
    {"TruncatedMp4", "truncated.mp4", &makeTruncated, unreadable},
    {"AudioOnly", "song.m4a", &makeAudioOnly, noVideoTrack},
    {"Folder", "holiday.mp4", &makeFolder, unreadable},
    {"MissingFile", "gone.mp4", &makeNothing, unreadable},
    {"NamedPipe", "pipe.mp4", &makePipe, unreadable},
    {"UnreadableFile", "locked.mp4", &makeUnreadable, unreadable, true},
};

// Between two good videos: the bad one is refused with its own line, the two
// good ones are queued in order and both compressed.
TEST_P(RejectedInputTest, IsRefusedAndTheOthersAreCompressed)
{
    const Rejected &input = GetParam();
    if (input.needsPermissions && !enforceFilePermissions()) {
        GTEST_SKIP() << "file permissions cannot be enforced here";
    }
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QString badPath = QDir(sourcesFolder()).filePath(QString::fromUtf8(input.name));
    input.make(*this, badPath);
    if (QFileInfo(badPath).isFile() && !guard.contains(badPath)) {
        guard.add(badPath);
    }
    const QUrl last = source(QStringLiteral("last.mp4"), QStringLiteral("clip.mkv"));

    importNow({first, QUrl::fromLocalFile(badPath), last});
    EXPECT_EQ(vm->alertMessage().value_or(QString()), QString::fromUtf8(input.name) + QStringLiteral("：") + QString::fromUtf8(input.message));
    EXPECT_EQ(queuedNames(), (QStringList{"first.mp4", "last.mp4"}));
    EXPECT_EQ(vm->selectedItemID(), item(first).id);
    EXPECT_EQ(vm->stateText(), "idle");
    expectConsistent();

    vm->dismissAlert();
    const QUrl out = outputFolder();
    runAll(out);
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_FALSE(vm->alertMessage().has_value()) << vm->alertMessage()->toStdString();
    expectCompressed({first, last}, out.toLocalFile());
}

INSTANTIATE_TEST_SUITE_P(Inputs, RejectedInputTest, testing::ValuesIn(rejectedInputs),
                         [](const testing::TestParamInfo<Rejected> &info) { return std::string(info.param.test); });

// Headers that promise an H.264 video over data that is noise: the probe
// accepts it, the sample and the run fail with the tool's own words, and the
// videos around it are still compressed.
TEST_F(BadInputTest, VideoThatCannotBeDecoded)
{
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl broken = sourceWithBytes(QStringLiteral("broken.mp4"),
                                        withUndecodablePictures(readFile(media(QStringLiteral("no_audio.mp4")))));
    const QUrl last = source(QStringLiteral("last.mp4"));
    importNow({first, broken, last});
    ASSERT_EQ(queuedNames(), (QStringList{"first.mp4", "broken.mp4", "last.mp4"}))
        << vm->alertMessage().value_or(QString()).toStdString();

    expectSampleFails(broken, {});
    expectRunFailsOnly(broken, {});
}

// The file disappears after it was queued: its sample and its encode fail
// with a message that says so, the others go on.
TEST_F(BadInputTest, SourceRemovedAfterImport)
{
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl victim = source(QStringLiteral("victim.mp4"));
    const QUrl last = source(QStringLiteral("last.mp4"));
    importNow({first, victim, last});
    ASSERT_EQ(vm->batchItems().size(), 3);
    ASSERT_TRUE(QFile::remove(victim.toLocalFile()));
    guard.forget(victim.toLocalFile());

    expectSampleFails(victim, QStringLiteral("No such file or directory"));
    expectRunFailsOnly(victim, QStringLiteral("No such file or directory"));
}

TEST_F(BadInputTest, SourceMadeUnreadableAfterImport)
{
    if (!enforceFilePermissions()) {
        GTEST_SKIP() << "file permissions cannot be enforced here";
    }
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl victim = source(QStringLiteral("victim.mp4"));
    const QUrl last = source(QStringLiteral("last.mp4"));
    importNow({first, victim, last});
    ASSERT_EQ(vm->batchItems().size(), 3);
    ASSERT_TRUE(QFile::setPermissions(victim.toLocalFile(), {}));
    locked << victim.toLocalFile();
    expectRunFailsOnly(victim, QStringLiteral("Permission denied"));
}

// Sources that cannot be written to at all: sample and run only ever read them.
TEST_F(BadInputTest, SourcesInAReadOnlyFolder)
{
    if (!enforceFilePermissions()) {
        GTEST_SKIP() << "file permissions cannot be enforced here";
    }
    const QString folder = path(QStringLiteral("read-only"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QUrl first = source(QStringLiteral("first.mp4"), QStringLiteral("h264_aac.mp4"), folder);
    const QUrl second = source(QStringLiteral("second.mkv"), QStringLiteral("clip.mkv"), folder);
    ASSERT_TRUE(QFile::setPermissions(first.toLocalFile(), QFileDevice::ReadOwner));
    ASSERT_TRUE(QFile::setPermissions(second.toLocalFile(), QFileDevice::ReadOwner));
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    locked << folder << first.toLocalFile() << second.toLocalFile();

    importNow({first, second});
    ASSERT_EQ(vm->batchItems().size(), 2);
    expectSampleMade();

    const QUrl out = outputFolder();
    runAll(out);
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_FALSE(vm->alertMessage().has_value());
    expectCompressed({first, second}, out.toLocalFile());
    EXPECT_EQ(entries(folder), (QStringList{"first.mp4", "second.mkv"}));
}

// Every video fails with the reason, and nothing is written anywhere.
TEST_F(BadInputTest, ReadOnlyOutputFolder)
{
    if (!enforceFilePermissions()) {
        GTEST_SKIP() << "file permissions cannot be enforced here";
    }
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl second = source(QStringLiteral("second.mp4"));
    importNow({first, second});
    const QUrl out = outputFolder(QStringLiteral("locked-out"));
    ASSERT_TRUE(QFile::setPermissions(out.toLocalFile(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    locked << out.toLocalFile();

    runAll(out);
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_EQ(vm->alertMessage().value_or(QString()), batchSummary(2));
    for (const QUrl &url : {first, second}) {
        EXPECT_EQ(item(url).state.kind, BatchItemState::Case::failed);
        EXPECT_TRUE(item(url).state.message.contains(QStringLiteral("Permission denied")))
            << item(url).state.message.toStdString();
    }
    EXPECT_EQ(entries(out.toLocalFile()), QStringList());
}

// The folder goes away while the first video is being written: no video
// reports success, nothing recreates the folder, and the controller ends the
// run normally.
TEST_F(BadInputTest, OutputFolderRemovedDuringTheRun)
{
    const QString started = path(QStringLiteral("fakes/started"));
    const QString go = path(QStringLiteral("fakes/go"));
    const QString real = ToolLocator({QStringLiteral("/usr/bin/ffmpeg"), QStringLiteral("/usr/local/bin/ffmpeg")})
                             .locate()
                             .value_or(QStringLiteral("ffmpeg"));
    // For the first video: open the output, write part of it, wait, then finish it.
    makeController(fakeTool(QStringLiteral("ffmpeg"), QStringLiteral(R"(in=; prev=; out=
for a in "$@"; do [ "$prev" = "-i" ] && in=$a; prev=$a; out=$a; done
case "$in" in
  *first*)
    exec 3>"$out"
    head -c 40000 /dev/urandom >&3
    : > '%1'
    while [ ! -e '%2' ]; do sleep 0.05; done
    head -c 40000 /dev/urandom >&3
    exit 0 ;;
esac
exec '%3' "$@"
)")
                                                                           .arg(started, go, real)));
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl second = source(QStringLiteral("second.mp4"));
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
    EXPECT_EQ(item(second).state.kind, BatchItemState::Case::failed);
    EXPECT_TRUE(item(second).state.message.contains(QStringLiteral("No such file or directory")))
        << item(second).state.message.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out.toLocalFile()));
}

// A name of the longest length a folder allows leaves no room for
// "-compressed": that video fails with the system's reason, the others go on.
TEST_F(BadInputTest, NameTooLongForItsOutput)
{
    const QUrl first = source(QStringLiteral("first.mp4"));
    const QUrl longest = source(QString(251, QLatin1Char('a')) + QStringLiteral(".mp4"));
    importNow({first, longest});
    ASSERT_EQ(vm->batchItems().size(), 2);
    expectRunFailsOnly(longest, QStringLiteral("File name too long"));
}

// Names that a shell or a command line could misread: every one is sampled
// and compressed, and its output carries the same name.
TEST_F(BadInputTest, UnusualNames)
{
    const QStringList names{QStringLiteral("with  two spaces.mp4"), QStringLiteral("quote's \"double\".mp4"),
                            QStringLiteral("-leading dash.mp4"), QStringLiteral("ünïcödé 视频.mp4"),
                            QStringLiteral("line\nfeed.mp4"), QStringLiteral("-i.mp4")};
    QList<QUrl> urls;
    for (const QString &name : names) {
        urls << source(name);
    }
    importNow(urls);
    ASSERT_EQ(queuedNames(), names) << vm->alertMessage().value_or(QString()).toStdString();

    for (const QUrl &url : {urls.at(2), urls.at(4)}) {
        vm->selectItem(item(url).id);
        expectSampleMade();
    }

    const QUrl out = outputFolder();
    runAll(out);
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_FALSE(vm->alertMessage().has_value()) << vm->alertMessage()->toStdString();
    expectCompressed(urls, out.toLocalFile());
    for (const QUrl &url : urls) {
        const QString stem = QFileInfo(url.toLocalFile()).completeBaseName();
        EXPECT_EQ(item(url).outputURL, QUrl::fromLocalFile(QDir(out.toLocalFile()).filePath(stem + "-compressed.mp4")));
    }
}

} // namespace
