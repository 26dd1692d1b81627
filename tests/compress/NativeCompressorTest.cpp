#include "compress/CompressionError.h"
#include "compress/NativeCompressor.h"
#include "probe/VideoProbeService.h"
#include "support/Fakes.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace slimreel;
using namespace slimreel::test;
using Plan = CompressionPlan;

namespace {

VideoInfo probed(const QString &path)
{
    const auto info = test::wait(VideoProbeService().inspect(QUrl::fromLocalFile(path)));
    return info.value_or(test::makeInfo(QUrl::fromLocalFile(path))); // for files that are no video
}

} // namespace

TEST(NativeCompressor, FailuresAndCancellation)
{
    const test::PrivateTempFolder privateTmp;
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("out.mp4"));
    const QString veryShort = test::media(QStringLiteral("very_short.mp4"));
    const struct {
        QString source;
        std::optional<TimeRange> range;
        QString destination;
        Error expected; // without a text: the pipeline's own words
    } cases[] = {
        {test::media(QStringLiteral("not_video.mp4")), {}, output, CompressionError::unsupportedByNative()},
        {test::media(QStringLiteral("audio_only.m4a")), {}, output, CompressionError::unsupportedByNative()},
        {dir.filePath(QStringLiteral("gone.mp4")), {}, output, CompressionError::unsupportedByNative()},
        {veryShort, TimeRange{1, 1}, output, CompressionError::failed(QStringLiteral("所选片段为空"))},
        // Past the end the muxer would write a well-formed file without a picture.
        {veryShort, TimeRange{10, 15}, output, CompressionError::failed(QStringLiteral("所选片段中没有画面"))},
        {veryShort, {}, dir.filePath(QStringLiteral("missing-folder/out.mp4")), CompressionError::failed({})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source.toStdString());
        NativeCompressor compressor;
        const auto result = test::wait(compressor.compress(probed(c.source), fastest,
                                                           QUrl::fromLocalFile(c.destination), c.range, {}, {}));
        ASSERT_FALSE(result.has_value());
        const Error generic = CompressionError::failed(QStringLiteral("原生压缩失败"));
        EXPECT_TRUE(c.expected.text.isEmpty() ? isError(result.error(), CompressionError::Case::failed) && result.error() != generic
                                              : result.error() == c.expected)
            << result.error().description().toStdString();
        EXPECT_TRUE(c.expected != CompressionError::unsupportedByNative().toError() || !QFile::exists(output));
        EXPECT_EQ(compressor.exportBox(), nullptr);
    }

    // Cancelled, or the task stopped: the export ends, with no scratch file left behind.
    const VideoInfo info = probed(test::media(QStringLiteral("long.mp4")));
    for (const bool byStop : {false, true}) {
        NativeCompressor compressor;
        std::stop_source stop;
        std::optional<Result<void>> result;
        double lastProgress = 0;
        auto done = compressor
                        .compress(info, highQuality, QUrl::fromLocalFile(dir.filePath(QStringLiteral("out.mp4"))),
                                  std::nullopt, [&](double p) { lastProgress = p; }, stop.get_token())
                        .then([&](Result<void> r) { result = std::move(r); });
        ASSERT_TRUE(test::spinUntil([&] { return result.has_value() || lastProgress > 0; }));
        ASSERT_FALSE(result.has_value()) << "finished before it could be cancelled";
        byStop ? void(stop.request_stop()) : test::wait(compressor.cancel());
        ASSERT_TRUE(test::spinUntil([&] { return result.has_value(); }));
        EXPECT_EQ(*result, std::unexpected(CompressionError::cancelled().toError())) << byStop;
        EXPECT_EQ(compressor.exportBox(), nullptr);
    }
    EXPECT_TRUE(test::spinUntil([] { return test::tempEntries(QStringLiteral("Slimreel-faststart-")).isEmpty(); }));
}
