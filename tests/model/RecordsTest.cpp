#include "model/BatchVideoItem.h"
#include "model/CompressionState.h"
#include "model/OutputSizeEstimate.h"
#include "model/PreviewPacketStats.h"
#include "model/VideoInfo.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace slimreel;

namespace {

VideoInfo sample()
{
    return VideoInfo{QUrl::fromLocalFile(QStringLiteral("/videos/a.mp4")),
                     12.5,
                     1920,
                     1080,
                     5000000,
                     3000000,
                     29.97,
                     QStringLiteral("H.264"),
                     1,
                     128000,
                     true};
}

} // namespace

TEST(Records, VideoInfoEqualityComparesEveryField)
{
    EXPECT_EQ(sample(), sample());
    const std::pair<const char *, std::function<void(VideoInfo &)>> changes[] = {
        {"url", [](VideoInfo &v) { v.url = QUrl::fromLocalFile(QStringLiteral("/videos/b.mp4")); }},
        {"duration", [](VideoInfo &v) { v.duration = 12.500001; }},
        {"width", [](VideoInfo &v) { v.width = 1919; }},
        {"height", [](VideoInfo &v) { v.height = 1081; }},
        {"fileSize", [](VideoInfo &v) { v.fileSize = 5000001; }},
        {"videoBitrate", [](VideoInfo &v) { v.videoBitrate = 3000000.5; }},
        {"frameRate", [](VideoInfo &v) { v.frameRate = 30; }},
        {"codec", [](VideoInfo &v) { v.codec = QStringLiteral("h.264"); }},
        {"audioTrackCount", [](VideoInfo &v) { v.audioTrackCount = 2; }},
        {"audioBitrate", [](VideoInfo &v) { v.audioBitrate = 96000; }},
        {"canCopyAudioToMP4", [](VideoInfo &v) { v.canCopyAudioToMP4 = false; }},
    };
    for (const auto &[field, change] : changes) {
        VideoInfo other = sample();
        change(other);
        EXPECT_NE(sample(), other) << field;
    }
}

TEST(Records, NaNDurationsAreUnequal)
{
    VideoInfo a = sample();
    a.duration = std::numeric_limits<double>::quiet_NaN();
    const VideoInfo b = a;
    EXPECT_NE(a, b);
    EXPECT_FALSE(a == a);
}

TEST(Records, CopiesAreIndependent)
{
    VideoInfo original = sample();
    VideoInfo copy = original;
    copy.codec = QStringLiteral("HEVC");
    copy.width = 1;
    EXPECT_EQ(original, sample());

    BatchVideoItem item{QUuid::createUuid(), sample(), BatchItemState::pending(), 0, std::nullopt};
    BatchVideoItem itemCopy = item;
    itemCopy.state = BatchItemState::failed(QStringLiteral("x"));
    itemCopy.outputURL = QUrl::fromLocalFile(QStringLiteral("/out/a-compressed.mp4"));
    EXPECT_EQ(item.state, BatchItemState::pending());
    EXPECT_FALSE(item.outputURL.has_value());
}

TEST(Records, BatchItemStateEquality)
{
    const auto failedA = BatchItemState::failed(QStringLiteral("a"));
    EXPECT_EQ(failedA, BatchItemState::failed(QStringLiteral("a")));
    EXPECT_NE(failedA, BatchItemState::failed(QStringLiteral("b")));
    EXPECT_NE(failedA, BatchItemState::completed());
    EXPECT_NE(BatchItemState::failed(QString()), BatchItemState::pending());
    EXPECT_EQ(BatchItemState::pending(), BatchItemState::pending());
    EXPECT_EQ(BatchItemState::compressing(), BatchItemState::compressing());
    EXPECT_EQ(BatchItemState::completed(), BatchItemState::completed());
    EXPECT_NE(BatchItemState::pending(), BatchItemState::compressing());
    EXPECT_NE(BatchItemState::compressing(), BatchItemState::completed());
    // A new item starts out pending.
    EXPECT_EQ(BatchItemState{}, BatchItemState::pending());
}

TEST(Records, BatchVideoItemEqualityAndIdentity)
{
    const QUuid id = QUuid::createUuid();
    const BatchVideoItem item{id, sample(), BatchItemState::pending(), 0, std::nullopt};
    EXPECT_EQ(item, item);

    BatchVideoItem progressed = item;
    progressed.progress = 0.5;
    EXPECT_NE(item, progressed);
    EXPECT_EQ(item.id, progressed.id); // still the same queue entry

    BatchVideoItem otherId = item;
    otherId.id = QUuid::createUuid();
    EXPECT_NE(item, otherId);

    BatchVideoItem otherInfo = item;
    otherInfo.info.canCopyAudioToMP4 = false;
    EXPECT_NE(item, otherInfo);

    BatchVideoItem otherState = item;
    otherState.state = BatchItemState::compressing();
    EXPECT_NE(item, otherState);

    BatchVideoItem withOutput = item;
    withOutput.outputURL = QUrl::fromLocalFile(QStringLiteral("/out/a-compressed.mp4"));
    EXPECT_NE(item, withOutput);
    BatchVideoItem otherOutput = withOutput;
    otherOutput.outputURL = QUrl::fromLocalFile(QStringLiteral("/out/a-compressed 2.mp4"));
    EXPECT_NE(withOutput, otherOutput);
    BatchVideoItem sameOutput = withOutput;
    EXPECT_EQ(withOutput, sameOutput);
}

TEST(Records, CompressionStateEquality)
{
    const QUrl folderA = QUrl::fromLocalFile(QStringLiteral("/out/a"));
    const QUrl folderB = QUrl::fromLocalFile(QStringLiteral("/out/b"));
    EXPECT_EQ(CompressionState::completed(folderA), CompressionState::completed(folderA));
    EXPECT_NE(CompressionState::completed(folderA), CompressionState::completed(folderB));
    EXPECT_EQ(CompressionState::failed(QStringLiteral("x")), CompressionState::failed(QStringLiteral("x")));
    EXPECT_NE(CompressionState::failed(QStringLiteral("x")), CompressionState::failed(QStringLiteral("y")));
    EXPECT_NE(CompressionState::failed(QString()), CompressionState::idle());

    const CompressionState plain[] = {CompressionState::idle(), CompressionState::preparing(),
                                      CompressionState::compressing(), CompressionState::completed(folderA)};
    for (std::size_t i = 0; i < std::size(plain); ++i) {
        for (std::size_t j = 0; j < std::size(plain); ++j) {
            EXPECT_EQ(plain[i] == plain[j], i == j) << i << " " << j;
        }
    }
    EXPECT_EQ(CompressionState{}, CompressionState::idle());
}

TEST(Records, SmallRecordsCompareMemberWise)
{
    EXPECT_EQ((OutputSizeEstimate{1, 2}), (OutputSizeEstimate{1, 2}));
    EXPECT_NE((OutputSizeEstimate{1, 2}), (OutputSizeEstimate{1, 3}));
    EXPECT_NE((OutputSizeEstimate{0, 2}), (OutputSizeEstimate{1, 2}));
    EXPECT_EQ((PreviewPacketStats{1, 2, 3}), (PreviewPacketStats{1, 2, 3}));
    EXPECT_NE((PreviewPacketStats{1, 2, 3}), (PreviewPacketStats{1, 2, 4}));
    EXPECT_EQ(PreviewPacketStats{}, (PreviewPacketStats{0, 0, 0}));
}
