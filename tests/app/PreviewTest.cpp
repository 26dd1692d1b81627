#include "support/Fakes.h"

#include "support/TestSupport.h"

#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <limits>

using namespace slimreel;
using namespace slimreel::test;

namespace {

class PreviewTest : public ControllerTest {
protected:
    // Imports one video and makes its sample; the coordinator's call is left waiting.
    void startSample(double duration = 60, qint64 fileSize = 50'000'000)
    {
        importNow({video(QStringLiteral("clip.mov"), duration, fileSize)});
        vm->generatePreview();
        ASSERT_EQ(coordinator->calls.size(), 1);
    }
    void finishSample(qint64 bytes = 5000)
    {
        coordinator->succeed(coordinator->calls.size() - 1, bytes);
        ASSERT_TRUE(settle());
    }
    QString samplePath(qsizetype call = 0) const { return coordinator->calls.at(call)->destination.toLocalFile(); }
};

TEST(SampleWindow, FiveSecondsStartingAThirdIntoTheVideo)
{
    const struct {
        double duration;
        double start;
        double end;
    } cases[] = {
        {60, 21, 26}, {8, 2.8, 7.8}, {3, 0, 3}, {5, 0, 5}, {10, 3.5, 8.5}, {0, 0, 0}, {7.2, 2.2, 7.2}, {3600, 1260, 1265},
    };
    for (const auto &c : cases) {
        const TimeRange window = AppViewModel::sampleWindow(c.duration);
        EXPECT_NEAR(window.start, c.start, 1e-9) << c.duration;
        EXPECT_NEAR(window.end, c.end, 1e-9) << c.duration;
    }
}

TEST_F(PreviewTest, SampleIsMadeFromTheSelectedVideoIntoATemporaryFile)
{
    vm->setPlanText(QStringLiteral("fastest"));
    startSample();
    const auto &call = *coordinator->calls.at(0);
    EXPECT_TRUE(vm->isGeneratingPreview());
    EXPECT_TRUE(vm->hasActiveTask());
    EXPECT_EQ(vm->previewStartTime(), 21);
    ASSERT_TRUE(call.range);
    EXPECT_EQ(*call.range, (TimeRange{21, 26}));
    EXPECT_EQ(call.info, *vm->video());
    EXPECT_EQ(call.settings, vm->settings());
    const QFileInfo sample(call.destination.toLocalFile());
    EXPECT_EQ(sample.absolutePath(), Files::scratchFolder());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Slimreel-preview-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                                  "[0-9A-F]{12}\\.mp4$"))
                    .match(sample.fileName())
                    .hasMatch())
        << sample.fileName().toStdString();

    probe->stats = PreviewPacketStats{200'000, 2, 1'000'000};
    finishSample();
    EXPECT_FALSE(vm->isGeneratingPreview());
    ASSERT_TRUE(vm->previewURL());
    EXPECT_EQ(*vm->previewURL(), call.destination);
    EXPECT_TRUE(QFile::exists(samplePath()));
    EXPECT_EQ(probe->statsRequests, (QList<QUrl>{call.destination}));
    // inter 12,000,000 + 6 key frames of 100,000, audio copied at 128 kbit/s for 60 s.
    ASSERT_TRUE(vm->previewSizeEstimate());
    EXPECT_EQ(*vm->previewSizeEstimate(), (OutputSizeEstimate{10'514'100, 13'695'600}));
    EXPECT_EQ(vm->estimatedSizeText(), QStringLiteral("约 10.5 MB–13.7 MB"));
    EXPECT_EQ(vm->savingsText(), QStringLiteral("根据样片预计节省 72%–78%"));

    // Every sample gets a new name; the old file goes.
    vm->generatePreview();
    ASSERT_EQ(coordinator->calls.size(), 2);
    EXPECT_NE(coordinator->calls.at(1)->destination, call.destination);
    EXPECT_FALSE(QFile::exists(samplePath(0)));
    EXPECT_FALSE(vm->previewURL());
    finishSample();
    vm->clearVideos();
    EXPECT_FALSE(QFile::exists(samplePath(1)));
}

TEST_F(PreviewTest, WithoutPacketStatisticsTheFileSizeIsExtrapolated)
{
    const struct {
        qint64 sampleBytes;
        std::optional<OutputSizeEstimate> estimate;
    } cases[] = {
        {1'000'000, OutputSizeEstimate{9'000'000, 12'000'000}},
        {0, std::nullopt}, // an empty sample gives no estimate
    };
    probe->stats = std::unexpected(Error::platform(QStringLiteral("ffprobe failed")));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sampleBytes);
        vm->clearVideos();
        coordinator->calls.clear();
        startSample(60);
        finishSample(c.sampleBytes);
        EXPECT_TRUE(vm->previewURL());
        EXPECT_EQ(vm->previewSizeEstimate(), c.estimate);
        if (!c.estimate) {
            EXPECT_EQ(vm->estimatedSizeText(), QStringLiteral("生成预览后估算"));
            EXPECT_EQ(vm->savingsText(), QStringLiteral("体积取决于画面内容"));
        }
    }
}

TEST_F(PreviewTest, FailureIsShownAndLeavesNoFile)
{
    startSample();
    coordinator->fail(0, CompressionError::failed(QStringLiteral("Conversion failed!")), 300);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->alertMessageText(), QStringLiteral("预览生成失败：Conversion failed!"));
    EXPECT_FALSE(vm->isGeneratingPreview());
    EXPECT_FALSE(vm->previewURL());
    EXPECT_FALSE(QFile::exists(samplePath()));
}

TEST_F(PreviewTest, SettingsChangeDiscardsTheSample)
{
    const struct {
        const char *name;
        std::function<void(AppViewModel &)> change;
    } cases[] = {
        {"plan", [](AppViewModel &m) { m.setPlanText(QStringLiteral("highQuality")); }},
        {"target size", [](AppViewModel &m) { m.setTargetSizeMB(m.targetSizeMB() + 1); }},
        {"mode there and back",
         [](AppViewModel &m) {
             m.setModeText(QStringLiteral("targetSize"));
             m.setModeText(QStringLiteral("quality"));
         }},
    };
    probe->stats = PreviewPacketStats{100'000, 1, 500'000};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        vm->clearVideos();
        coordinator->calls.clear();
        startSample();
        finishSample();
        ASSERT_TRUE(vm->previewSizeEstimate());
        SignalCount texts(vm.get(), &AppViewModel::estimateTextsChanged);
        c.change(*vm);
        EXPECT_FALSE(vm->previewURL());
        EXPECT_FALSE(vm->previewSizeEstimate());
        EXPECT_FALSE(QFile::exists(samplePath()));
        EXPECT_EQ(vm->estimatedSizeText(), QStringLiteral("生成预览后估算"));
        EXPECT_EQ(vm->savingsText(), QStringLiteral("体积取决于画面内容"));
        EXPECT_GE(texts.count(), 1);
    }
}

TEST_F(PreviewTest, RunKeepsAFinishedSampleAndStopsOneBeingMade)
{
    probe->stats = PreviewPacketStats{100'000, 1, 500'000};
    startSample();
    finishSample();
    const auto estimate = vm->previewSizeEstimate();
    vm->compressAll(outputFolder());
    EXPECT_EQ(vm->previewURL(), coordinator->calls.at(0)->destination);
    EXPECT_EQ(vm->previewSizeEstimate(), estimate);
    coordinator->succeed(1);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(QFile::exists(samplePath()));

    // A sample still being made is stopped, and the run's encode waits for it to end.
    coordinator->cancelEndsCalls = false;
    vm->settingsDidChange();
    vm->generatePreview();
    const qsizetype previewCall = coordinator->calls.size() - 1;
    const int cancels = coordinator->cancelCount;
    vm->compressAll(outputFolder());
    EXPECT_FALSE(vm->isGeneratingPreview());
    EXPECT_EQ(coordinator->cancelCount, cancels + 1);
    EXPECT_TRUE(coordinator->calls.at(previewCall)->stop.stop_requested());
    drainEvents();
    EXPECT_EQ(coordinator->calls.size(), previewCall + 1) << "no second encode while the sample is stopping";
    coordinator->fail(previewCall, CompressionError::cancelled());
    ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() == previewCall + 2; }));
    coordinator->succeed(previewCall + 1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_EQ(coordinator->concurrentPeak(), 1);
}

// Both texts, table-driven. `sample` makes a sample whose packets project to
// 7,595,200 – 10,100,000 bytes for a 5-second video with copied audio.
TEST_F(PreviewTest, EstimateTexts)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    using Bytes = std::optional<OutputSizeEstimate>;
    const Bytes sampled = OutputSizeEstimate{7'595'200, 10'100'000};
    const Bytes planned = OutputSizeEstimate{23'000'000, 23'000'000};
    const struct {
        const char *name;
        bool hasVideo;
        const char *mode;
        double duration;
        qint64 fileSize;
        bool sample;
        const char *estimated;
        const char *savings;
        Bytes bytes;
    } cases[] = {
        {"no video", false, "quality", 0, 0, false, "—", "—", {}},
        {"quality, no sample", true, "quality", 60, 50'000'000, false, "生成预览后估算", "体积取决于画面内容", {}},
        {"quality, sample", true, "quality", 5, 20'000'000, true, "约 7.6 MB–10.1 MB", "根据样片预计节省 49%–62%",
         sampled},
        {"quality, sample as large as the source", true, "quality", 5, 10'100'000, true, "约 7.6 MB–10.1 MB",
         "样片未能缩小", sampled},
        {"quality, unknown source size", true, "quality", 5, 0, true, "约 7.6 MB–10.1 MB", "—", sampled},
        // 25 MB over 100 s: (1,712,000 + 128,000) bit/s × 100 s / 8 = 23,000,000 bytes.
        {"target size", true, "targetSize", 100, 50'000'000, false, "23 MB", "目标节省约 54%", planned},
        {"target size equal to the source", true, "targetSize", 100, 23'000'000, false, "23 MB", "目标可能大于原片",
         planned},
        {"target size, unknown source size", true, "targetSize", 100, 0, false, "23 MB", "—", planned},
        {"target size, endless video", true, "targetSize", inf, 50'000'000, false, "—", "—", {}},
    };
    probe->stats = PreviewPacketStats{0, 0, 9'920'000};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        vm->clearVideos();
        vm->setModeText(QStringLiteral("quality"));
        if (c.hasVideo) {
            importNow({video(QStringLiteral("v.mp4"), c.duration, c.fileSize)});
            vm->setTargetSizeMB(25);
            if (c.sample) {
                vm->generatePreview();
                finishSample();
            }
        }
        vm->setModeText(QString::fromLatin1(c.mode));
        EXPECT_EQ(vm->estimatedSizeText(), QString::fromUtf8(c.estimated));
        EXPECT_EQ(vm->savingsText(), QString::fromUtf8(c.savings));
        EXPECT_EQ(vm->expectedOutputSize(), c.bytes);
    }
}

} // namespace
