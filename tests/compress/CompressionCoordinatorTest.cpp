#include "compress/CompressionCoordinator.h"
#include "compress/CompressionError.h"
#include "support/TestSupport.h"

#include <QCoroTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace slimreel;
using namespace std::chrono_literals;

namespace {

// A back end that writes `outputBytes` bytes (or nothing, when negative) and
// returns `result`; it can be held open until cancel() to test cancellation.
class FakeBackEnd final : public VideoCompressing {
public:
    qint64 outputBytes = 10;
    Result<void> result{};
    bool waitForCancel = false;
    int calls = 0;
    int cancels = 0;
    std::optional<TimeRange> lastRange;

    QCoro::Task<Result<void>> compress(VideoInfo, CompressionSettings, QUrl destination, std::optional<TimeRange> range,
                                       ProgressCallback progress, std::stop_token) override
    {
        ++calls;
        lastRange = range;
        if (outputBytes >= 0) {
            QFile file(destination.toLocalFile());
            if (file.open(QIODevice::WriteOnly)) {
                file.write(QByteArray(outputBytes, 'x'));
            }
        }
        if (progress) {
            progress(0.5);
        }
        while (waitForCancel && !cancelled) {
            co_await QCoro::sleepFor(5ms);
        }
        if (cancelled) {
            co_return std::unexpected(CompressionError::cancelled().toError());
        }
        co_return result;
    }
    QCoro::Task<void> cancel() override
    {
        ++cancels;
        cancelled = true;
        co_return;
    }

private:
    bool cancelled = false;
};

struct Fixture {
    QTemporaryDir dir;
    std::shared_ptr<FakeBackEnd> ffmpeg = std::make_shared<FakeBackEnd>();
    std::shared_ptr<FakeBackEnd> native = std::make_shared<FakeBackEnd>();
    QString fakeFFmpeg;

    explicit Fixture(bool withFFmpeg)
    {
        fakeFFmpeg = withFFmpeg ? test::writeScript(dir, QStringLiteral("ffmpeg"), QStringLiteral("exit 0\n"))
                                : dir.filePath(QStringLiteral("no-ffmpeg-here"));
    }
    CompressionCoordinator coordinator() const { return {ffmpeg, native, ToolLocator({fakeFFmpeg})}; }
    VideoInfo source(qint64 size = 100) const
    {
        VideoInfo info;
        info.url = QUrl::fromLocalFile(dir.filePath(QStringLiteral("source.mp4")));
        info.fileSize = size;
        info.duration = 10;
        return info;
    }
    QUrl output() const { return QUrl::fromLocalFile(dir.filePath(QStringLiteral("out.mp4"))); }
};

CompressionSettings settingsFor(CompressionMode mode, CompressionPlan plan)
{
    return {mode, plan, 25};
}

} // namespace

TEST(CompressionCoordinator, RefusesToOverwriteTheSourceBeforeTouchingABackEnd)
{
    Fixture f(true);
    auto coordinator = f.coordinator();
    // The same file spelled with a "." and a ".." component.
    const QUrl sameFile = QUrl::fromLocalFile(f.dir.path() + QStringLiteral("/./sub/../source.mp4"));
    const auto result = test::wait(coordinator.compress(f.source(), {}, sameFile, std::nullopt, {}, {}));
    ASSERT_FALSE(result);
    EXPECT_TRUE(isError(result.error(), CompressionError::Case::sourceWouldBeOverwritten));
    EXPECT_EQ(result.error().description(), QStringLiteral("不能覆盖原视频，请选择另一个输出位置。"));
    EXPECT_EQ(f.ffmpeg->calls + f.native->calls, 0);
}

TEST(CompressionCoordinator, ChoosesTheBackEnd)
{
    const struct {
        bool withFFmpeg;
        CompressionMode mode;
        CompressionPlan plan;
        const char *expected; // "ffmpeg", "native" or "unavailable"
    } cases[] = {
        {true, CompressionMode::quality, CompressionPlan::fastest, "ffmpeg"},
        {true, CompressionMode::quality, CompressionPlan::recommended, "ffmpeg"},
        {true, CompressionMode::quality, CompressionPlan::highQuality, "ffmpeg"},
        {true, CompressionMode::targetSize, CompressionPlan::fastest, "ffmpeg"},
        {false, CompressionMode::quality, CompressionPlan::fastest, "native"},
        {false, CompressionMode::quality, CompressionPlan::recommended, "native"},
        {false, CompressionMode::quality, CompressionPlan::highQuality, "unavailable"},
        {false, CompressionMode::targetSize, CompressionPlan::recommended, "unavailable"},
    };
    for (const auto &c : cases) {
        Fixture f(c.withFFmpeg);
        auto coordinator = f.coordinator();
        const auto result =
            test::wait(coordinator.compress(f.source(), settingsFor(c.mode, c.plan), f.output(), std::nullopt, {}, {}));
        const std::string expected = c.expected;
        SCOPED_TRACE(expected + " " + rawValue(c.mode).toStdString() + "/" + rawValue(c.plan).toStdString());
        if (expected == "unavailable") {
            ASSERT_FALSE(result);
            EXPECT_TRUE(isError(result.error(), CompressionError::Case::ffmpegUnavailable));
            EXPECT_EQ(f.ffmpeg->calls + f.native->calls, 0);
        } else {
            EXPECT_TRUE(result);
            EXPECT_EQ(f.ffmpeg->calls, expected == "ffmpeg" ? 1 : 0);
            EXPECT_EQ(f.native->calls, expected == "native" ? 1 : 0);
        }
    }
}

TEST(CompressionCoordinator, ChecksTheSizeOfAFullFileOutput)
{
    const struct {
        qint64 sourceSize;
        qint64 outputBytes; // negative: the back end writes nothing
        const char *expected;
        bool outputKept;
    } cases[] = {
        {100, 99, "ok", true},
        {100, 100, "notSmaller", false},
        {100, 150, "notSmaller", false},
        {0, 10, "notSmaller", false}, // an unknown source size can never be beaten
        {100, 0, "noOutput", false},
        {100, -1, "noOutput", false},
    };
    for (const auto &c : cases) {
        Fixture f(true);
        f.ffmpeg->outputBytes = c.outputBytes;
        auto coordinator = f.coordinator();
        const auto result = test::wait(coordinator.compress(f.source(c.sourceSize), {}, f.output(), std::nullopt, {}, {}));
        const std::string expected = c.expected;
        SCOPED_TRACE(expected + " " + std::to_string(c.outputBytes));
        if (expected == "ok") {
            EXPECT_TRUE(result);
        } else if (expected == "notSmaller") {
            ASSERT_FALSE(result);
            EXPECT_TRUE(isError(result.error(), CompressionError::Case::outputNotSmaller));
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error(), CompressionError::failed(QStringLiteral("没有生成有效的输出文件")).toError());
        }
        EXPECT_EQ(QFile::exists(f.output().toLocalFile()), c.outputKept);
    }
}

TEST(CompressionCoordinator, APreviewSampleIsNeverSizeChecked)
{
    Fixture f(true);
    f.ffmpeg->outputBytes = 1000;
    auto coordinator = f.coordinator();
    const auto result =
        test::wait(coordinator.compress(f.source(100), {}, f.output(), TimeRange{2.0, 7.0}, {}, {}));
    EXPECT_TRUE(result);
    EXPECT_EQ(f.ffmpeg->lastRange, (TimeRange{2.0, 7.0}));
    EXPECT_TRUE(QFile::exists(f.output().toLocalFile()));
}

TEST(CompressionCoordinator, APreviewSampleThatWasNeverWrittenIsAFailure)
{
    for (const qint64 bytes : {qint64{-1}, qint64{0}}) {
        Fixture f(true);
        f.ffmpeg->outputBytes = bytes;
        auto coordinator = f.coordinator();
        const auto result =
            test::wait(coordinator.compress(f.source(100), {}, f.output(), TimeRange{2.0, 7.0}, {}, {}));
        ASSERT_FALSE(result) << bytes;
        EXPECT_EQ(result.error(), CompressionError::failed(QStringLiteral("没有生成有效的输出文件")).toError());
        EXPECT_FALSE(QFile::exists(f.output().toLocalFile()));
    }
}

TEST(CompressionCoordinator, RemovesThePartialOutputOfAFailedFullFileCompression)
{
    Fixture f(true);
    f.ffmpeg->result = std::unexpected(CompressionError::failed(QStringLiteral("boom")).toError());
    auto coordinator = f.coordinator();
    QFile source(f.source().url.toLocalFile());
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write("original");
    source.close();

    const auto result = test::wait(coordinator.compress(f.source(), {}, f.output(), std::nullopt, {}, {}));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description(), QStringLiteral("boom"));
    EXPECT_FALSE(QFile::exists(f.output().toLocalFile()));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    EXPECT_EQ(source.readAll(), QByteArray("original"));
}

TEST(CompressionCoordinator, KeepsAFailedPreviewSampleForItsOwner)
{
    // The preview's owner deletes its sample; the coordinator leaves it alone.
    Fixture f(true);
    f.ffmpeg->result = std::unexpected(CompressionError::failed(QStringLiteral("boom")).toError());
    auto coordinator = f.coordinator();
    const auto result = test::wait(coordinator.compress(f.source(), {}, f.output(), TimeRange{0, 5}, {}, {}));
    EXPECT_FALSE(result);
    EXPECT_TRUE(QFile::exists(f.output().toLocalFile()));
}

TEST(CompressionCoordinator, CancelReachesTheRunningBackEndAndRemovesItsOutput)
{
    Fixture f(true);
    f.ffmpeg->waitForCancel = true;
    auto coordinator = f.coordinator();

    test::wait(coordinator.cancel()); // idle: nothing to reach
    EXPECT_EQ(f.ffmpeg->cancels, 0);

    std::optional<Result<void>> result;
    auto run = [&]() -> QCoro::Task<void> {
        result = co_await coordinator.compress(f.source(), {}, f.output(), std::nullopt, {}, {});
    };
    auto task = run();
    ASSERT_TRUE(test::spinUntil([&] { return f.ffmpeg->calls == 1; }));
    test::wait(coordinator.cancel());
    ASSERT_TRUE(test::spinUntil([&] { return result.has_value(); }));
    EXPECT_EQ(f.ffmpeg->cancels, 1);
    ASSERT_FALSE(*result);
    EXPECT_TRUE(isError(result->error(), CompressionError::Case::cancelled));
    EXPECT_FALSE(QFile::exists(f.output().toLocalFile()));

    test::wait(coordinator.cancel()); // the back end has returned: idle again
    EXPECT_EQ(f.ffmpeg->cancels, 1);
}
