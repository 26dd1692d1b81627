#include "compress/CompressionCoordinator.h"
#include "support/Fakes.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

using namespace slimreel;
using Mode = CompressionMode;
using Plan = CompressionPlan;

namespace {

struct Fixture {
    QTemporaryDir dir;
    std::shared_ptr<test::FakeCoordinator> ffmpeg = std::make_shared<test::FakeCoordinator>();
    std::shared_ptr<test::FakeCoordinator> native = std::make_shared<test::FakeCoordinator>();
    CompressionCoordinator coordinator;
    QString output = dir.filePath(QStringLiteral("out.mp4"));

    explicit Fixture(bool withFFmpeg = true)
        : coordinator(ffmpeg, native,
                      ToolLocator({withFFmpeg ? test::writeScript(dir, QStringLiteral("ffmpeg"), QStringLiteral("exit 0\n"))
                                              : dir.filePath(QStringLiteral("none"))}))
    {
    }
    VideoInfo source(qint64 size = 100) const { return test::makeInfo(QUrl::fromLocalFile(dir.filePath(QStringLiteral("in.mp4"))), 10, size); }
};

} // namespace

TEST(CompressionCoordinator, ChoosesTheBackEndChecksItsOutputAndCancelsIt)
{
    const Result<void> boom = std::unexpected(CompressionError::failed(QStringLiteral("boom")).toError());
    const Result<void> refused = std::unexpected(CompressionError::unsupportedByNative().toError());
    const Result<void> unavailable = std::unexpected(CompressionError::ffmpegUnavailable().toError());
    const Result<void> notSmaller = std::unexpected(CompressionError::outputNotSmaller().toError());
    const Result<void> noOutput = std::unexpected(CompressionError::failed(test::noValidOutputText).toError());
    const struct {
        const char *name;
        bool withFFmpeg;
        CompressionSettings settings;
        std::optional<TimeRange> range;
        qint64 sourceSize;
        Result<void> answer; // the back end's, after writing this many bytes
        qint64 bytes;
        const char *backEnd; // "ffmpeg", "native" or "" (none called)
        Result<void> expected;
        bool outputKept;
    } cases[] = {
        {"smaller output", true, {Mode::quality, Plan::fastest}, {}, 100, {}, 99, "ffmpeg", {}, true},
        {"no ffmpeg: fastest on the framework", false, {Mode::quality, Plan::fastest}, {}, 100, {}, 99, "native", {}, true},
        {"no ffmpeg: recommended too", false, {Mode::quality, Plan::recommended}, {}, 100, {}, 99, "native", {}, true},
        {"no ffmpeg: smallest too (AV1 of GStreamer)", false, {Mode::quality, Plan::smallest}, {}, 100, {}, 99, "native", {}, true},
        {"no ffmpeg: high quality needs it", false, {Mode::quality, Plan::highQuality}, {}, 100, {}, 99, "", unavailable, false},
        {"no ffmpeg: target size needs it", false, {Mode::targetSize, Plan::fastest}, {}, 100, {}, 99, "", unavailable, false},
        {"same size", true, {}, {}, 100, {}, 100, "ffmpeg", notSmaller, false},
        {"larger", false, {}, {}, 100, {}, 150, "native", notSmaller, false},
        {"unknown source size is never beaten", true, {}, {}, 0, {}, 10, "ffmpeg", notSmaller, false},
        {"empty output", true, {}, {}, 100, {}, 0, "ffmpeg", noOutput, false},
        {"a sample is never size-checked", true, {}, TimeRange{2, 7}, 100, {}, 1000, "ffmpeg", {}, true},
        {"an empty sample", true, {}, TimeRange{2, 7}, 100, {}, 0, "ffmpeg", noOutput, false},
        {"a failed encode's part output is removed", true, {}, {}, 100, boom, 10, "ffmpeg", boom, false},
        {"a failed sample is left to its owner", true, {}, TimeRange{0, 5}, 100, boom, 10, "ffmpeg", boom, true},
        {"a refusal leaves nothing", false, {}, {}, 100, refused, 10, "native", refused, false},
    };
    for (const auto &c : cases) {
        Fixture f(c.withFFmpeg);
        // A private source of another day: the output takes its mode and its file time.
        const QString sourcePath = f.source().url.toLocalFile();
        QFile(sourcePath).open(QIODevice::WriteOnly);
        ::chmod(QFile::encodeName(sourcePath).constData(), 0600);
        const timespec old[2] = {{978'307'200, 0}, {978'307'200, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(sourcePath).constData(), old, 0);
        auto pending = f.coordinator.compress(f.source(c.sourceSize), c.settings, QUrl::fromLocalFile(f.output), c.range, {}, {});
        for (const auto &backEnd : {f.ffmpeg, f.native}) {
            if (backEnd->calls.isEmpty()) {
                continue;
            }
            const QString written = backEnd->calls.at(0)->destination.toLocalFile();
            // Until it is whole, a full output has a hidden name of its own beside the final one.
            EXPECT_EQ(written == f.output, c.range.has_value()) << c.name;
            EXPECT_EQ(QFileInfo(written).absolutePath(), f.dir.path()) << c.name;
            EXPECT_EQ(QFileInfo(written).permissions() & 0x0FFF, 0x0600) << c.name;
            c.answer ? backEnd->succeed(0, c.bytes) : backEnd->fail(0, c.answer.error(), c.bytes);
        }
        EXPECT_EQ(test::wait(std::move(pending)), c.expected) << c.name;
        EXPECT_EQ(f.ffmpeg->calls.size(), std::string(c.backEnd) == "ffmpeg" ? 1 : 0) << c.name;
        EXPECT_EQ(f.native->calls.size(), std::string(c.backEnd) == "native" ? 1 : 0) << c.name;
        EXPECT_EQ(QFile::exists(f.output), c.outputKept) << c.name;
        EXPECT_EQ(QDir(f.dir.path()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden), QStringList()) << c.name;
        if (c.outputKept && !c.range) {
            EXPECT_EQ(QFileInfo(f.output).lastModified().toSecsSinceEpoch(), 978'307'200) << c.name;
            EXPECT_EQ(QFileInfo(f.output).permissions() & 0x0FFF, 0x0600) << c.name;
        }
    }

    // Someone else's file under the final name is never replaced.
    {
        Fixture f;
        auto pending = f.coordinator.compress(f.source(), {}, QUrl::fromLocalFile(f.output), std::nullopt, {}, {});
        ASSERT_EQ(f.ffmpeg->calls.size(), 1);
        QFile theirs(f.output);
        ASSERT_TRUE(theirs.open(QIODevice::WriteOnly));
        theirs.write("theirs");
        theirs.close();
        f.ffmpeg->succeed(0, 10);
        EXPECT_FALSE(test::wait(std::move(pending)));
        EXPECT_EQ(QFileInfo(f.output).size(), 6);
        EXPECT_EQ(QDir(f.dir.path()).entryList({QStringLiteral("*.mp4")}, QDir::Files | QDir::Hidden), QStringList{QStringLiteral("out.mp4")});
    }

    Fixture f;
    // The same file spelled with a "." and a ".." component.
    const QUrl sameFile = QUrl::fromLocalFile(f.dir.path() + QStringLiteral("/./sub/../in.mp4"));
    EXPECT_EQ(test::wait(f.coordinator.compress(f.source(), {}, sameFile, std::nullopt, {}, {})),
              std::unexpected(CompressionError::sourceWouldBeOverwritten().toError()));
    EXPECT_TRUE(f.ffmpeg->calls.isEmpty());

    test::wait(f.coordinator.cancel()); // idle: nothing to reach
    auto pending = f.coordinator.compress(f.source(), {}, QUrl::fromLocalFile(f.output), std::nullopt, {}, {});
    ASSERT_EQ(f.ffmpeg->calls.size(), 1);
    QFile(f.ffmpeg->calls.at(0)->destination.toLocalFile()).open(QIODevice::Append); // what the back end wrote so far
    test::wait(f.coordinator.cancel());
    EXPECT_EQ(test::wait(std::move(pending)), std::unexpected(CompressionError::cancelled().toError()));
    EXPECT_EQ(QDir(f.dir.path()).entryList({QStringLiteral("*.mp4")}, QDir::Files | QDir::Hidden), QStringList());
    test::wait(f.coordinator.cancel()); // the back end has returned: idle again
    EXPECT_EQ(f.ffmpeg->cancelCount, 1);
}
