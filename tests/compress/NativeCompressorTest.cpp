#include "compress/CompressionError.h"
#include "compress/NativeCompressor.h"
#include "probe/VideoProbeService.h"
#include "support/Fakes.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace slimreel;
using namespace slimreel::test;

TEST(NativeCompressor, FailuresAndCancellation)
{
    const test::PrivateTempFolder privateTmp;
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("out.mp4"));
    const QString veryShort = test::media(QStringLiteral("very_short.mp4"));
    const auto probed = [](const QString &path) { // a made-up one for files that are no video
        return wait(VideoProbeService().inspect(QUrl::fromLocalFile(path))).value_or(makeInfo(QUrl::fromLocalFile(path)));
    };
    // A source, its part, the destination, and the error, in the pipeline's own words where it has no text here.
    const std::tuple<QString, std::optional<TimeRange>, QString, Error> cases[] = {
        {test::media(QStringLiteral("not_video.mp4")), {}, output, CompressionError::unsupportedByNative()},
        {test::media(QStringLiteral("audio_only.m4a")), {}, output, CompressionError::unsupportedByNative()},
        {dir.filePath(QStringLiteral("gone.mp4")), {}, output, CompressionError::unsupportedByNative()},
        {veryShort, TimeRange{1, 1}, output, CompressionError::failed(QStringLiteral("所选片段为空"))},
        // Past the end the muxer would write a well-formed file without a picture.
        {veryShort, TimeRange{10, 15}, output, CompressionError::failed(QStringLiteral("所选片段中没有画面"))},
        {veryShort, {}, dir.filePath(QStringLiteral("missing-folder/out.mp4")), CompressionError::failed({})},
    };
    for (const auto &[source, range, destination, expected] : cases) {
        SCOPED_TRACE(source.toStdString());
        NativeCompressor compressor;
        const auto result = wait(compressor.compress(probed(source), fastest, QUrl::fromLocalFile(destination), range, {}, {}));
        ASSERT_FALSE(result.has_value());
        const Error generic = CompressionError::failed(QStringLiteral("原生压缩失败"));
        EXPECT_TRUE(expected.text.isEmpty() ? isError(result.error(), CompressionError::Case::failed) && result.error() != generic
                                            : result.error() == expected)
            << result.error().description().toStdString();
        EXPECT_TRUE(expected != CompressionError::unsupportedByNative().toError() || !QFile::exists(output));
        EXPECT_EQ(compressor.exportBox(), nullptr);
    }

    // Cancelled, or the task stopped: the export ends, with no scratch file left behind.
    const VideoInfo info = probed(test::media(QStringLiteral("long.mp4")));
    for (const bool byStop : {false, true}) {
        NativeCompressor compressor;
        std::stop_source stop;
        std::optional<Result<void>> result;
        double lastProgress = 0;
        auto done = compressor.compress(info, highQuality, QUrl::fromLocalFile(output), std::nullopt,
                                        [&](double p) { lastProgress = p; }, stop.get_token())
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
