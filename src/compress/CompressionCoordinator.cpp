#include "compress/CompressionCoordinator.h"

#include "compress/CompressionError.h"
#include "compress/FFmpegCompressor.h"
#include "compress/NativeCompressor.h"
#include "platform/Files.h"

namespace slimreel {

CompressionCoordinator::CompressionCoordinator()
    : CompressionCoordinator(std::make_shared<FFmpegCompressor>(), std::make_shared<NativeCompressor>(),
                             ToolLocator::forTool(QStringLiteral("ffmpeg")))
{
}

CompressionCoordinator::CompressionCoordinator(std::shared_ptr<VideoCompressing> ffmpeg,
                                               std::shared_ptr<VideoCompressing> native, ToolLocator ffmpegLocator)
    : m_ffmpeg(std::move(ffmpeg))
    , m_native(std::move(native))
    , m_ffmpegLocator(std::move(ffmpegLocator))
{
}

QCoro::Task<Result<void>> CompressionCoordinator::compress(VideoInfo info, CompressionSettings settings,
                                                           QUrl destination, std::optional<TimeRange> range,
                                                           ProgressCallback progress, std::stop_token stop)
{
    if (Files::standardized(destination) == Files::standardized(info.url)) {
        co_return std::unexpected(CompressionError::sourceWouldBeOverwritten().toError());
    }
    const bool needsFFmpeg = settings.usesContentAdaptiveCRF() || settings.mode == CompressionMode::targetSize;
    const bool haveFFmpeg = m_ffmpegLocator.locate().has_value();
    if (needsFFmpeg && !haveFFmpeg) {
        co_return std::unexpected(CompressionError::ffmpegUnavailable().toError());
    }

    // Keep the back end alive for the whole call even if cancel() swaps `m_active`.
    const std::shared_ptr<VideoCompressing> backEnd = haveFFmpeg ? m_ffmpeg : m_native;
    m_active = backEnd;
    const QString destinationPath = destination.toLocalFile();
    Result<void> result =
        co_await backEnd->compress(info, settings, destination, range, std::move(progress), stop);
    if (m_active == backEnd) {
        m_active.reset();
    }

    if (!result) {
        // A failed or cancelled full-file encode leaves a file without an index
        // that looks like a result. The back end cleared this path before it
        // started, so whatever is there now is ours to remove. The two refusals
        // below come before a back end touches the destination, so they keep it.
        const bool backEndStarted = !isError(result.error(), CompressionError::Case::ffmpegUnavailable)
                                    && !isError(result.error(), CompressionError::Case::unsupportedByNative);
        if (!range && backEndStarted) {
            Files::removeFile(destinationPath);
        }
        co_return result;
    }
    const Result<std::int64_t> size = Files::fileSize(destinationPath);
    if (!size || *size <= 0) {
        // No file or an empty one is no result, for a sample too: a tool that
        // claims success without writing has not succeeded. Like a partial
        // output, an empty one is ours to remove.
        Files::removeFile(destinationPath);
        co_return std::unexpected(CompressionError::failed(QStringLiteral("没有生成有效的输出文件")).toError());
    }
    // A sample may well be larger than its stretch of the source.
    if (range) {
        co_return result;
    }
    if (*size >= info.fileSize) {
        Files::removeFile(destinationPath);
        co_return std::unexpected(CompressionError::outputNotSmaller().toError());
    }
    co_return result;
}

QCoro::Task<void> CompressionCoordinator::cancel()
{
    if (const auto backEnd = m_active) {
        co_await backEnd->cancel();
    }
}

} // namespace slimreel
