#include "compress/CompressionCoordinator.h"

#include "compress/CompressionError.h"
#include "compress/FFmpegCompressor.h"
#include "compress/NativeCompressor.h"
#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>

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

    // A full-file output is written under a hidden name and gets its final
    // name only once it is complete and smaller than its source, so a file
    // under the final name is always a whole video, whatever ends the process.
    // A sample is private and goes to the private scratch folder as it is.
    const QString finalPath = destination.toLocalFile();
    const std::optional<unsigned> mode = Files::outputMode(info.url.toLocalFile());
    QString writtenPath = finalPath;
    if (range) {
        if (const Result<void> created = Files::createPrivateFile(finalPath); !created) {
            co_return std::unexpected(created.error());
        }
    } else {
        sweepOnce(QFileInfo(finalPath).absolutePath());
        const Result<QString> partial = Files::createPartial(finalPath, mode);
        if (!partial) {
            co_return std::unexpected(CompressionError::failed(partial.error().description()).toError());
        }
        writtenPath = *partial;
    }

    // Keep the back end alive for the whole call even if cancel() swaps `m_active`.
    const std::shared_ptr<VideoCompressing> backEnd = haveFFmpeg ? m_ffmpeg : m_native;
    m_active = backEnd;
    Result<void> result = co_await backEnd->compress(info, settings, QUrl::fromLocalFile(writtenPath), range,
                                                     std::move(progress), stop);
    if (m_active == backEnd) {
        m_active.reset();
    }

    if (!result) {
        // A failed or cancelled encode leaves a file without an index; the
        // partial name is ours alone. The controller removes a failed sample.
        if (!range) {
            Files::removeFile(writtenPath);
        }
        co_return result;
    }
    const Result<std::int64_t> size = Files::fileSize(writtenPath);
    if (!size || *size <= 0) {
        // No file or an empty one is no result, for a sample too: a tool that
        // claims success without writing has not succeeded.
        Files::removeFile(writtenPath);
        co_return std::unexpected(CompressionError::failed(QStringLiteral("没有生成有效的输出文件")).toError());
    }
    // A sample may well be larger than its stretch of the source.
    if (range) {
        co_return result;
    }
    if (*size >= info.fileSize) {
        Files::removeFile(writtenPath);
        co_return std::unexpected(CompressionError::outputNotSmaller().toError());
    }
    // The file time too is the video's: a library that sorts by it puts the
    // output where its source is. Set before the sync, so it reaches the disk too.
    Files::copyFileTimes(info.url.toLocalFile(), writtenPath);
    if (const Result<void> committed = Files::commitOutput(writtenPath, finalPath, mode);
        !committed) {
        Files::removeFile(writtenPath);
        co_return std::unexpected(CompressionError::failed(committed.error().description()).toError());
    }
    co_return result;
}

void CompressionCoordinator::sweepOnce(const QString &outputFolder)
{
    if (!m_sweptFolders.contains(outputFolder)) {
        m_sweptFolders.insert(outputFolder);
        Files::sweepPartialOutputs(outputFolder);
    }
}

QCoro::Task<void> CompressionCoordinator::cancel()
{
    if (const auto backEnd = m_active) {
        co_await backEnd->cancel();
    }
}

} // namespace slimreel
