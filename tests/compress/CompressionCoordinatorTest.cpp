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
    const Result<void> unavailable = std::unexpected(CompressionError::ffmpegUnavailable().toError());
    const Result<void> notSmaller = std::unexpected(CompressionError::outputNotSmaller().toError());
    const Result<void> noOutput = std::unexpected(CompressionError::failed(test::noValidOutputText).toError());
    const struct {
        const char *name;
        bool withFFmpeg; // else the framework's back end
        CompressionSettings settings;
        std::optional<TimeRange> range;
        qint64 sourceSize;
        Result<void> answer; // the back end's, after writing this many bytes
        qint64 bytes;
        Result<void> expected;
        bool outputKept;
    } cases[] = {
        {"smaller output", true, {Mode::quality, Plan::fastest}, {}, 100, {}, 99, {}, true},
        {"no ffmpeg: fastest on the framework", false, {Mode::quality, Plan::fastest}, {}, 100, {}, 99, {}, true},
        {"no ffmpeg: recommended too", false, {Mode::quality, Plan::recommended}, {}, 100, {}, 99, {}, true},
        {"no ffmpeg: smallest too (AV1 of GStreamer)", false, {Mode::quality, Plan::smallest}, {}, 100, {}, 99, {}, true},
        {"no ffmpeg: high quality needs it", false, {Mode::quality, Plan::highQuality}, {}, 100, {}, 99, unavailable, false},
        {"no ffmpeg: target size needs it", false, {Mode::targetSize, Plan::fastest}, {}, 100, {}, 99, unavailable, false},
        {"same size", true, {}, {}, 100, {}, 100, notSmaller, false},
        {"larger", false, {}, {}, 100, {}, 150, notSmaller, false},
        {"unknown source size is never beaten", true, {}, {}, 0, {}, 10, notSmaller, false},
        {"empty output", true, {}, {}, 100, {}, 0, noOutput, false},
        {"a sample is never size-checked", true, {}, TimeRange{2, 7}, 100, {}, 1000, {}, true},
        {"an empty sample", true, {}, TimeRange{2, 7}, 100, {}, 0, noOutput, false},
        {"a failed encode's part output is removed", false, {}, {}, 100, boom, 10, boom, false},
        {"a failed sample is left to its owner", true, {}, TimeRange{0, 5}, 100, boom, 10, boom, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.withFFmpeg);
        // A private source of another day: the output takes its mode and its file time.
        const QString sourcePath = f.source().url.toLocalFile();
        ASSERT_TRUE(test::writeFile(sourcePath, {}));
        ::chmod(QFile::encodeName(sourcePath).constData(), 0600);
        const timespec old[2] = {{978'307'200, 0}, {978'307'200, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(sourcePath).constData(), old, 0);
        auto pending = f.coordinator.compress(f.source(c.sourceSize), c.settings, QUrl::fromLocalFile(f.output), c.range, {}, {});
        const auto &called = c.expected == unavailable ? nullptr : c.withFFmpeg ? f.ffmpeg : f.native;
        ASSERT_EQ(f.ffmpeg->calls.size() + f.native->calls.size(), called ? 1 : 0);
        if (called) {
            const QString written = called->calls.at(0)->destination.toLocalFile();
            // Until it is whole, a full output has a hidden name of its own beside the final one.
            EXPECT_EQ(written == f.output, c.range.has_value());
            EXPECT_EQ(QFileInfo(written).absolutePath(), f.dir.path());
            EXPECT_EQ(QFileInfo(written).permissions() & 0x0FFF, 0x0600);
            c.answer ? called->succeed(0, c.bytes) : called->fail(0, c.answer.error(), c.bytes);
        }
        EXPECT_EQ(test::wait(std::move(pending)), c.expected);
        EXPECT_EQ(QFile::exists(f.output), c.outputKept);
        EXPECT_EQ(QDir(f.dir.path()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden), QStringList());
        if (c.outputKept && !c.range) {
            EXPECT_EQ(QFileInfo(f.output).lastModified().toSecsSinceEpoch(), 978'307'200);
            EXPECT_EQ(QFileInfo(f.output).permissions() & 0x0FFF, 0x0600);
        }
    }

    // Someone else's file under the final name is never replaced.
    Fixture f;
    auto pending = f.coordinator.compress(f.source(), {}, QUrl::fromLocalFile(f.output), std::nullopt, {}, {});
    ASSERT_EQ(f.ffmpeg->calls.size(), 1);
    ASSERT_TRUE(test::writeFile(f.output, "theirs"));
    f.ffmpeg->succeed(0, 10);
    EXPECT_FALSE(test::wait(std::move(pending)));
    EXPECT_EQ(test::readFile(f.output), "theirs");
    const auto videos = [&f] { return QDir(f.dir.path()).entryList({QStringLiteral("*.mp4")}, QDir::Files | QDir::Hidden); };
    EXPECT_EQ(videos(), QStringList{QStringLiteral("out.mp4")});
    QFile::remove(f.output);

    // The same file spelled with a "." and a ".." component.
    const QUrl sameFile = QUrl::fromLocalFile(f.dir.path() + QStringLiteral("/./sub/../in.mp4"));
    EXPECT_EQ(test::wait(f.coordinator.compress(f.source(), {}, sameFile, std::nullopt, {}, {})),
              std::unexpected(CompressionError::sourceWouldBeOverwritten().toError()));
    EXPECT_EQ(f.ffmpeg->calls.size(), 1);

    test::wait(f.coordinator.cancel()); // idle: nothing to reach
    pending = f.coordinator.compress(f.source(), {}, QUrl::fromLocalFile(f.output), std::nullopt, {}, {});
    ASSERT_EQ(f.ffmpeg->calls.size(), 2);
    QFile(f.ffmpeg->calls.at(1)->destination.toLocalFile()).open(QIODevice::Append); // what the back end wrote so far
    test::wait(f.coordinator.cancel());
    EXPECT_EQ(test::wait(std::move(pending)), std::unexpected(CompressionError::cancelled().toError()));
    EXPECT_EQ(videos(), QStringList());
    test::wait(f.coordinator.cancel()); // the back end has returned: idle again
    EXPECT_EQ(f.ffmpeg->cancelCount, 1);
}
