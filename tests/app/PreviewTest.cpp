#include "support/Fakes.h"

#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <limits>

using namespace slimreel;
using namespace slimreel::test;

namespace {

class PreviewTest : public ControllerTest {
protected:
    // Imports one video and starts its sample; the coordinator's call is left waiting.
    void startSample()
    {
        vm->clearVideos();
        importNow({video(QStringLiteral("clip.mov"))});
        vm->generatePreview();
    }
    void finishSample(qint64 bytes = 5000)
    {
        coordinator->succeed(coordinator->calls.size() - 1, bytes);
        ASSERT_TRUE(settle());
    }
};

TEST(SampleWindow, FiveSecondsStartingAThirdIntoTheVideo)
{
    const struct {
        double duration;
        double start;
        double end;
    } cases[] = {{60, 21, 26}, {8, 2.8, 7.8}, {7.2, 2.2, 7.2}, {3, 0, 3}};
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
    ASSERT_EQ(coordinator->calls.size(), 1);
    const auto &call = *coordinator->calls.at(0);
    EXPECT_TRUE(vm->isGeneratingPreview());
    EXPECT_EQ(vm->previewStartTime(), 21);
    EXPECT_EQ(call.range, (TimeRange{21, 26}));
    EXPECT_EQ(call.info, *vm->video());
    EXPECT_EQ(call.settings, vm->settings());
    const QFileInfo sample(call.destination.toLocalFile());
    EXPECT_EQ(sample.absolutePath(), Files::scratchFolder());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Slimreel-preview-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.mp4$"))
                    .match(sample.fileName()).hasMatch()) << sample.fileName().toStdString();
    finishSample();
    EXPECT_EQ(vm->previewURL(), call.destination);
    EXPECT_TRUE(QFile::exists(call.destination.toLocalFile()));
    EXPECT_EQ(probe->statsRequests, (QList<QUrl>{call.destination}));

    // Every sample gets a new name.
    vm->generatePreview();
    ASSERT_EQ(coordinator->calls.size(), 2);
    EXPECT_NE(coordinator->calls.at(1)->destination, call.destination);

    coordinator->fail(1, CompressionError::failed(QStringLiteral("Conversion failed!")), 300);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->alertMessageText(), previewFailedPrefix + "Conversion failed!");
    EXPECT_FALSE(vm->previewURL());
}

TEST_F(PreviewTest, SettingsChangeDiscardsTheSample)
{
    const std::function<void()> changes[] = {
        [&] { vm->setTargetSizeMB(vm->targetSizeMB() + 1); },
        [&] {
            vm->setModeText(QStringLiteral("targetSize"));
            vm->setModeText(QStringLiteral("quality"));
        },
    };
    for (const auto &change : changes) {
        startSample();
        finishSample();
        ASSERT_TRUE(vm->previewURL());
        SignalCount texts(vm.get(), &AppViewModel::estimateTextsChanged);
        change();
        EXPECT_FALSE(vm->previewURL());
        EXPECT_GE(texts.count(), 1);
    }
}

TEST_F(PreviewTest, RunKeepsAFinishedSampleAndWaitsForOneBeingStopped)
{
    startSample();
    finishSample();
    const auto estimate = vm->previewSizeEstimate();
    vm->compressAll(outputFolder());
    EXPECT_EQ(vm->previewURL(), coordinator->calls.at(0)->destination);
    EXPECT_EQ(vm->previewSizeEstimate(), estimate);
    coordinator->succeed(1);
    ASSERT_TRUE(settle());

    coordinator->cancelEndsCalls = false;
    vm->settingsDidChange();
    vm->generatePreview();
    const qsizetype sampleCall = coordinator->calls.size() - 1;
    vm->compressAll(outputFolder());
    EXPECT_FALSE(vm->isGeneratingPreview());
    EXPECT_TRUE(coordinator->calls.at(sampleCall)->stop.stop_requested());
    drainEvents();
    EXPECT_EQ(coordinator->calls.size(), sampleCall + 1) << "no second encode while the sample is stopping";
    coordinator->fail(sampleCall, CompressionError::cancelled());
    ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() == sampleCall + 2; }));
    coordinator->succeed(sampleCall + 1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "completed");
}

// Constant quality: more stretches, encoded for the estimate only once the sample can be watched.
TEST_F(PreviewTest, ConstantQualityEstimateEncodesFurtherStretchesAndKeepsNone)
{
    const PreviewPacketStats packets{200'000, 2, 1'000'000};
    probe->stats = packets;
    coordinator->cancelEndsCalls = false;
    vm->setPlanText(QStringLiteral("highQuality"));
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped);
        startSample();
        const qsizetype first = coordinator->calls.size();
        coordinator->succeed(first - 1);
        ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() > first; }));
        ASSERT_TRUE(vm->previewURL());
        EXPECT_TRUE(vm->isGeneratingPreview());
        EXPECT_FALSE(vm->previewSizeEstimate());
        std::vector<EncodedStretch> stretches{{21, 26, packets}};
        for (const auto &[start, end] : vm->settings().estimateStretches(21, 26, 60)) {
            ASSERT_EQ(coordinator->calls.size(), first + static_cast<qsizetype>(stretches.size()));
            const auto &call = *coordinator->calls.back();
            EXPECT_EQ(call.range, (TimeRange{start, end}));
            EXPECT_EQ(QFileInfo(call.destination.toLocalFile()).absolutePath(), Files::scratchFolder());
            if (stopped && stretches.size() == 2) {
                vm->setTargetSizeMB(vm->targetSizeMB() + 1);
                EXPECT_TRUE(call.stop.stop_requested());
                coordinator->fail(coordinator->calls.size() - 1, CompressionError::cancelled(), 300);
                ASSERT_TRUE(settle());
                EXPECT_FALSE(QFile::exists(call.destination.toLocalFile()));
                break;
            }
            coordinator->succeed(coordinator->calls.size() - 1);
            stretches.push_back({start, end, packets});
            const auto next = first + static_cast<qsizetype>(stretches.size());
            ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() == next || !vm->hasRunningTasks(); }));
            EXPECT_FALSE(QFile::exists(call.destination.toLocalFile()));
        }
        EXPECT_FALSE(vm->isGeneratingPreview());
        EXPECT_EQ(vm->previewSizeEstimate(),
                  stopped ? std::nullopt : vm->settings().projectedRange(stretches, {}, 60, *vm->video()));
    }
}

// Projection of the sample's packets (or, without statistics, of its size) and both texts.
TEST_F(PreviewTest, EstimateTexts)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    using Bytes = std::optional<OutputSizeEstimate>;
    using Stats = std::optional<PreviewPacketStats>;
    const Stats flat = PreviewPacketStats{0, 0, 9'920'000};
    // A sample that is the whole video: its own bytes ±(1 % + 1.5 KB), plus audio and the MP4 boxes.
    const Bytes sampled = OutputSizeEstimate{9'905'910, 10'107'310};
    const Bytes planned = OutputSizeEstimate{23'000'000, 23'000'000};
    const struct {
        const char *name;
        const char *mode; // nullptr: no video
        double duration;
        qint64 fileSize;
        Stats stats;
        qint64 sampleBytes; // 0: no sample
        const char *estimated;
        const char *savings;
        Bytes bytes;
    } cases[] = {
        {"no video", nullptr, 0, 0, flat, 0, "—", "—", {}},
        {"quality, no sample", "quality", 60, 50'000'000, flat, 0, "生成预览后估算", "体积取决于画面内容", {}},
        {"quality, sample", "quality", 5, 20'000'000, flat, 5000, "约 9.9 MB–10.1 MB", "根据样片预计节省 49%–50%",
         sampled},
        // The sample's 12,600,000 (6 key frames of 100,000) and a third of the way to 31,200,000 requested.
        {"key frames", "quality", 60, 50'000'000, PreviewPacketStats{200'000, 2, 1'000'000}, 5000,
         "约 13.3 MB–20.6 MB", "根据样片预计节省 58%–73%", OutputSizeEstimate{13'302'326, 20'605'076}},
        // The file less its known audio and boxes stands for the packets.
        {"no statistics: the file size", "quality", 60, 50'000'000, {}, 1'000'000, "约 11.7 MB–19.5 MB",
         "根据样片预计节省 60%–76%", OutputSizeEstimate{11'703'977, 19'512'871}},
        {"no statistics, empty sample", "quality", 60, 50'000'000, {}, -1, "生成预览后估算", "体积取决于画面内容", {}},
        {"sample as large as the source", "quality", 5, 10'100'000, flat, 5000, "约 9.9 MB–10.1 MB", "样片未能缩小",
         sampled},
        {"unknown source size", "quality", 5, 0, flat, 5000, "约 9.9 MB–10.1 MB", "—", sampled},
        // 25 MB over 100 s: (1,712,000 + 128,000) bit/s × 100 s / 8 = 23,000,000 bytes.
        {"target size", "targetSize", 100, 50'000'000, flat, 0, "23 MB", "目标节省约 54%", planned},
        {"target size equal to the source", "targetSize", 100, 23'000'000, flat, 0, "23 MB", "目标可能大于原片",
         planned},
        {"target size, endless video", "targetSize", inf, 50'000'000, flat, 0, "—", "—", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        vm->clearVideos();
        vm->setModeText(QStringLiteral("quality"));
        probe->stats = c.stats ? Result<PreviewPacketStats>(*c.stats)
                               : std::unexpected(Error::platform(QStringLiteral("ffprobe failed")));
        if (c.mode) {
            importNow({video(QStringLiteral("v.mp4"), c.duration, c.fileSize)});
            vm->setTargetSizeMB(25);
            if (c.sampleBytes != 0) {
                vm->generatePreview();
                finishSample(std::max<qint64>(0, c.sampleBytes));
            }
            vm->setModeText(QString::fromLatin1(c.mode));
        }
        EXPECT_EQ(vm->estimatedSizeText(), QString::fromUtf8(c.estimated));
        EXPECT_EQ(vm->savingsText(), QString::fromUtf8(c.savings));
        EXPECT_EQ(vm->expectedOutputSize(), c.bytes);
    }
}

} // namespace
