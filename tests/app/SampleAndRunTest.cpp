#include "support/Fakes.h"

#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <limits>

using namespace slimreel;
using namespace slimreel::test;

// The preview sample and the batch run of the controller over fakes.
namespace {

class SampleAndRunTest : public ControllerTest {
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
    // Queues v0.mp4, v1.mp4, ... (files of a few bytes) and starts the run.
    void run(int count)
    {
        QList<QUrl> urls;
        for (int i = 0; i < count; ++i) {
            urls << video(QStringLiteral("v%1.mp4").arg(i));
            ASSERT_TRUE(writeFile(urls.last().toLocalFile(), "source"));
        }
        importNow(urls);
        vm->compressAll(outputFolder());
    }
    void waitForCalls(qsizetype count)
    {
        ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() >= count; })) << "calls: " << count;
        ASSERT_EQ(coordinator->calls.size(), count);
    }
    QVariant role(int row, BatchQueueModel::Role r) const
    {
        return vm->batchItemsModel()->data(vm->batchItemsModel()->index(row), r);
    }
    QStringList itemStates() const
    {
        QStringList states;
        for (int i = 0; i < vm->batchItemsModel()->rowCount(); ++i) {
            states << role(i, BatchQueueModel::StateRole).toString();
        }
        return states;
    }
};

// The sample: five seconds from a third into the video, of the selected video with the current settings, into a new
// file in the private scratch folder each time, until the settings change; a failure names its reason.
TEST_F(SampleAndRunTest, SampleIsMadeFromTheSelectedVideoIntoATemporaryFile)
{
    for (const auto &[duration, start, end] : {std::tuple{8.0, 2.8, 7.8}, {7.2, 2.2, 7.2}, {3.0, 0.0, 3.0}}) {
        const TimeRange window = AppViewModel::sampleWindow(duration);
        EXPECT_NEAR(window.start, start, 1e-9) << duration;
        EXPECT_NEAR(window.end, end, 1e-9) << duration;
    }
    vm->setPlanText(QStringLiteral("fastest"));
    startSample();
    ASSERT_EQ(coordinator->calls.size(), 1);
    const auto &call = *coordinator->calls.at(0);
    EXPECT_TRUE(vm->isGeneratingPreview());
    EXPECT_EQ(vm->previewStartTime(), 21);
    EXPECT_EQ(call.range, (TimeRange{21, 26}));
    EXPECT_EQ(call.settings, vm->settings());
    EXPECT_EQ(QFileInfo(call.destination.toLocalFile()).absolutePath(), Files::scratchFolder());
    finishSample();
    EXPECT_EQ(vm->previewURL(), call.destination);
    EXPECT_EQ(probe->statsRequests, (QList<QUrl>{call.destination}));

    // Any change of the settings discards the sample and its estimate, even one that ends where it began; every new
    // sample gets a new name.
    const std::function<void()> changes[] = {
        [&] { vm->setTargetSizeMB(vm->targetSizeMB() + 1); },
        [&] {
            vm->setModeText(QStringLiteral("targetSize"));
            vm->setModeText(QStringLiteral("quality"));
        },
    };
    for (const auto &change : changes) {
        ASSERT_TRUE(vm->previewURL());
        SignalCount texts(vm.get(), &AppViewModel::estimateTextsChanged);
        change();
        EXPECT_FALSE(vm->previewURL());
        EXPECT_GE(texts.count(), 1);
        vm->generatePreview();
        EXPECT_NE(coordinator->calls.back()->destination, call.destination);
        finishSample();
    }

    vm->generatePreview();
    coordinator->fail(coordinator->calls.size() - 1, CompressionError::failed(QStringLiteral("Conversion failed!")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->alertMessageText(), previewFailedPrefix + "Conversion failed!");
    EXPECT_FALSE(vm->previewURL());
}

// A run keeps a finished sample and its estimate, and stops one being made (waiting for it is the random sequences'
// one-encode-at-a-time check).
TEST_F(SampleAndRunTest, RunKeepsAFinishedSampleAndStopsOneBeingMade)
{
    startSample();
    finishSample();
    const auto estimate = vm->previewSizeEstimate();
    vm->compressAll(outputFolder());
    EXPECT_EQ(vm->previewURL(), coordinator->calls.at(0)->destination);
    EXPECT_EQ(vm->previewSizeEstimate(), estimate);
    coordinator->succeed(1);
    ASSERT_TRUE(settle());

    vm->settingsDidChange();
    vm->generatePreview();
    const auto &sample = *coordinator->calls.back();
    vm->compressAll(outputFolder());
    EXPECT_FALSE(vm->isGeneratingPreview());
    EXPECT_TRUE(sample.stop.stop_requested());
}

// Constant quality: more stretches, encoded for the estimate only once the sample can be watched, and deleted at once
// (the random sequences stop them at every moment).
TEST_F(SampleAndRunTest, ConstantQualityEstimateEncodesFurtherStretchesAndKeepsNone)
{
    const PreviewPacketStats packets{200'000, 2, 1'000'000};
    probe->stats = packets;
    vm->setPlanText(QStringLiteral("highQuality"));
    startSample();
    coordinator->succeed(0);
    ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() > 1; }));
    ASSERT_TRUE(vm->previewURL());
    EXPECT_TRUE(vm->isGeneratingPreview());
    EXPECT_FALSE(vm->previewSizeEstimate());
    std::vector<EncodedStretch> stretches{{21, 26, packets}};
    for (const auto &[start, end] : vm->settings().estimateStretches(21, 26, 60)) {
        ASSERT_EQ(coordinator->calls.size(), 1 + static_cast<qsizetype>(stretches.size()));
        const auto &call = *coordinator->calls.back();
        // Encoded on past its end; only its own frames counted.
        EXPECT_EQ(call.range, (TimeRange{start, std::min(end + vm->settings().estimateStretchTail(*vm->video()), 60.0)}));
        EXPECT_EQ(QFileInfo(call.destination.toLocalFile()).absolutePath(), Files::scratchFolder());
        coordinator->succeed(coordinator->calls.size() - 1);
        stretches.push_back({start, end, packets});
        ASSERT_TRUE(spinUntil([&] { return coordinator->calls.size() > std::ssize(stretches) || !vm->hasRunningTasks(); }));
        ASSERT_EQ(probe->statsShownBefore.size(), std::ssize(stretches));
        EXPECT_EQ(probe->statsShownBefore.back(), end - start);
        EXPECT_FALSE(QFile::exists(call.destination.toLocalFile()));
    }
    EXPECT_FALSE(vm->isGeneratingPreview());
    EXPECT_EQ(vm->previewSizeEstimate(), vm->settings().projectedRange(stretches, {}, 60, *vm->video()));
}

// Projection of the sample's packets (or, without statistics, of its size) and both texts.
TEST_F(SampleAndRunTest, EstimateTexts)
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
    // A rate plan reads where the source spends its bytes: busier past the sample, a higher top than the sample alone.
    std::vector<std::int64_t> busier(60, 3000);
    std::fill_n(busier.begin() + 21, 5, 1000);
    probe->seconds = busier;
    probe->stats = PreviewPacketStats{200'000, 2, 1'000'000};
    vm->clearVideos();
    vm->setModeText(QStringLiteral("quality"));
    importNow({video(QStringLiteral("w.mp4"), 60, 50'000'000)});
    vm->generatePreview();
    finishSample();
    const auto weighted = vm->settings().projectedRange({{21, 26, *probe->stats}}, busier, 60, *vm->video());
    EXPECT_EQ(vm->expectedOutputSize(), weighted);
    EXPECT_GT(weighted.value_or(OutputSizeEstimate{}).upperBound, 20'605'076);
}

// "<name>-compressed.mp4", numbered while the name is taken, by a folder too.
TEST(UniqueDestination, CompressedNameWithACounterWhenTaken)
{
    QTemporaryDir dir;
    const struct {
        const char *source;
        QStringList taken; // names already in the folder; a trailing '/' makes a folder
        const char *expected;
    } cases[] = {
        {"clip.mov", {"clip-compressed.mp4", "clip-compressed-2.mp4"}, "clip-compressed-3.mp4"},
        {"clip.mov", {"clip-compressed-2.mp4"}, "clip-compressed.mp4"},
        {"clip.mov", {"clip-compressed.mp4/"}, "clip-compressed-2.mp4"},
        {"archive.tar.gz", {}, "archive.tar-compressed.mp4"},
        {"noext", {}, "noext-compressed.mp4"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        const QDir folder(dir.filePath(QString::number(&c - cases)));
        ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
        for (const QString &name : c.taken) {
            ASSERT_TRUE(name.endsWith(QLatin1Char('/')) ? folder.mkdir(name) : writeFile(folder.filePath(name), {}));
        }
        const VideoInfo info = makeInfo(QUrl::fromLocalFile(QStringLiteral("/videos/") + QString::fromUtf8(c.source)));
        EXPECT_EQ(AppViewModel::uniqueDestination(info, QUrl::fromLocalFile(folder.path())),
                  QUrl::fromLocalFile(folder.filePath(QString::fromUtf8(c.expected))));
    }
}

// Each video in turn with the settings of the start, announced row by row; a failure does not stop the run; new
// settings forget the results, not the files, and so does clearing, which waits for the run's end. (Progress, the
// summary and the access to the videos are the random sequences' checks.)
TEST_F(SampleAndRunTest, CompressesEveryVideoInTurnWithTheSettingsOfTheStart)
{
    auto *model = vm->batchItemsModel();
    SignalCount inserted(model, &QAbstractItemModel::rowsInserted);
    SignalCount reset(model, &QAbstractItemModel::modelReset);
    vm->setPlanText(QStringLiteral("highQuality"));
    const CompressionSettings atStart = vm->settings();
    run(3);
    EXPECT_EQ(inserted.count(), 3);
    waitForCalls(1);
    const auto &first = *coordinator->calls.at(0);
    EXPECT_EQ(first.destination, QUrl::fromLocalFile(QDir(outputFolderPath()).filePath("v0-compressed.mp4")));
    EXPECT_FALSE(first.range);
    EXPECT_EQ(access->started.last(), outputFolder()) << "the folder is opened for the run";
    vm->clearVideos();
    EXPECT_EQ(vm->batchItems().size(), 3) << "no clearing during a run";

    vm->setPlanText(QStringLiteral("fastest"));
    EXPECT_EQ(vm->stateText(), "compressing") << "a settings change leaves the run alone";
    coordinator->succeed(0);
    waitForCalls(2);
    EXPECT_EQ(coordinator->calls.at(1)->settings, atStart);
    EXPECT_EQ(vm->currentItemNameText(), "v1.mp4");
    coordinator->fail(1, CompressionError::outputNotSmaller());
    waitForCalls(3);
    coordinator->succeed(2);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->state(), CompressionState::completed(outputFolder()));
    EXPECT_EQ(itemStates(), (QStringList{"completed", "failed", "completed"}));
    EXPECT_EQ(role(0, BatchQueueModel::OutputPathRole).toString(), first.destination.toLocalFile());
    EXPECT_EQ(role(1, BatchQueueModel::FailureMessageRole).toString(),
              CompressionError::outputNotSmaller().errorDescription());

    vm->setTargetSizeMB(5);
    EXPECT_EQ(vm->stateText(), "idle");
    EXPECT_EQ(itemStates(), (QStringList{"pending", "pending", "pending"}));
    EXPECT_FALSE(vm->batchItems().at(0).outputURL);
    EXPECT_EQ(QDir(outputFolderPath()).entryList(QDir::Files).size(), 2);

    // Selection moves with two row changes; a removal is one row.
    SignalCount changed(model, &QAbstractItemModel::dataChanged);
    SignalCount removed(model, &QAbstractItemModel::rowsRemoved);
    vm->selectItem(vm->batchItems().at(1).id);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_TRUE(role(1, BatchQueueModel::IsSelectedRole).toBool());
    vm->removeItem(vm->batchItems().at(0).id);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(reset.count(), 0);

    // Clearing is one reset, and leaves every file where it was.
    vm->clearVideos();
    EXPECT_TRUE(vm->batchItems().isEmpty());
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(vm->progress(), 0);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 3);
    EXPECT_EQ(QDir(outputFolderPath()).entryList(QDir::Files).size(), 2);
}

// A cancel stops the encode, keeps what is done, starts no further video and raises no alert; the remaining time
// shows once the run's speed is known (after five seconds of the run's own clock), a new video starts without its own,
// and nothing is left when the run is over.
TEST_F(SampleAndRunTest, CancelKeepsFinishedResultsAndRemainingTimeComesAndGoes)
{
    run(3);
    waitForCalls(1);
    const auto texts = [&] { return QStringList{vm->currentRemainingText(), vm->batchRemainingText()}; };
    // 30 of 180 s of video in about 5 s: 150 s to go at 6 s a second.
    ASSERT_TRUE(spinUntil([&] {
        coordinator->calls.at(0)->progress(0.5);
        return !vm->batchRemainingText().isEmpty();
    }, std::chrono::seconds(10)));
    EXPECT_EQ(texts(), (QStringList{"剩余不到 1 分钟", "剩余不到 1 分钟"}));
    coordinator->succeed(0);
    waitForCalls(2);
    EXPECT_EQ(texts(), (QStringList{"", "剩余不到 1 分钟"}));
    vm->cancel();
    EXPECT_EQ(texts(), (QStringList{"", ""}));
    EXPECT_TRUE(coordinator->calls.at(1)->stop.stop_requested());
    ASSERT_TRUE(settle());
    EXPECT_EQ(itemStates(), (QStringList{"completed", "pending", "pending"}));
    EXPECT_EQ(coordinator->calls.size(), 2) << "no video after the cancelled one";
    EXPECT_FALSE(vm->alertMessage());
}

// The random sequences never reach this order: a stopped run whose encode ends
// only after a new run has started must not touch the new one.
TEST_F(SampleAndRunTest, NewRunRightAfterCancelKeepsCompressing)
{
    coordinator->cancelEndsCalls = false;
    run(2);
    waitForCalls(1);
    vm->cancel();
    vm->compressAll(outputFolder());
    drainEvents();
    EXPECT_EQ(coordinator->calls.size(), 1) << "the new run waits for the old encode to stop";
    coordinator->fail(0, CompressionError::cancelled());
    waitForCalls(2);
    EXPECT_EQ(vm->stateText(), "compressing") << "the old follow-up must not set idle";
    EXPECT_EQ(itemStates(), (QStringList{"compressing", "pending"}));
    coordinator->succeed(1);
    waitForCalls(3);
    coordinator->succeed(2);
    ASSERT_TRUE(settle());
    EXPECT_EQ(vm->stateText(), "completed");
    EXPECT_EQ(coordinator->concurrentPeak(), 1);
}

// Removing a video the run has not reached ends the run there; removing the one being compressed goes on with the next;
// removing the selected one cancels the run.
TEST_F(SampleAndRunTest, RemovingItemsDuringARun)
{
    const struct {
        int items;
        bool firstDone; // before the removal
        int removedRow; // row 0 is selected
        QStringList statesAfter;
        const char *stateAfter;
        int calls;
    } cases[] = {
        {3, false, 1, {"completed", "pending"}, "completed", 1},
        {3, true, 1, {"completed", "completed"}, "completed", 3},
        {3, false, 0, {"pending", "pending"}, "idle", 1},
        {1, false, 0, {}, "idle", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        vm->clearVideos();
        coordinator->calls.clear();
        coordinator->cancelCount = 0;
        run(c.items);
        waitForCalls(1);
        if (c.firstDone) {
            coordinator->succeed(0);
            waitForCalls(2);
        }
        vm->removeItem(vm->batchItems().at(c.removedRow).id);
        EXPECT_EQ(coordinator->cancelCount > 0, c.removedRow == 0);
        for (qsizetype i = 0; i < coordinator->calls.size(); ++i) {
            if (!coordinator->calls.at(i)->gate.isOpen()) {
                coordinator->succeed(i);
            }
            ASSERT_TRUE(spinUntil([&] { return coordinator->calls.at(i)->returned; }));
        }
        ASSERT_TRUE(settle());
        EXPECT_EQ(itemStates(), c.statesAfter);
        EXPECT_EQ(vm->stateText(), c.stateAfter);
        EXPECT_EQ(coordinator->calls.size(), c.calls);
        EXPECT_FALSE(vm->alertMessage());
    }
}

} // namespace
