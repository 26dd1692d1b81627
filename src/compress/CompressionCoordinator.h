#pragma once

#include "compress/VideoCompressing.h"
#include "platform/ToolLocator.h"

#include <QSet>
#include <QString>

#include <memory>

namespace slimreel {

// The single entry for every compression: refuses to overwrite the source,
// picks the back end (ffmpeg when it exists, else the system's own framework),
// remembers it for cancel(), and checks that a full-file output is really smaller.
class CompressionCoordinator final : public VideoCompressing {
public:
    CompressionCoordinator();
    // Tests inject the back ends and where ffmpeg is looked for.
    CompressionCoordinator(std::shared_ptr<VideoCompressing> ffmpeg, std::shared_ptr<VideoCompressing> native,
                           ToolLocator ffmpegLocator);

    QCoro::Task<Result<void>> compress(VideoInfo info, CompressionSettings settings, QUrl destination,
                                       std::optional<TimeRange> range, ProgressCallback progress,
                                       std::stop_token stop) override;
    QCoro::Task<void> cancel() override;

private:
    // Removes what a killed earlier process left in a folder, before the first output goes there.
    void sweepOnce(const QString &outputFolder);

    std::shared_ptr<VideoCompressing> m_ffmpeg;
    std::shared_ptr<VideoCompressing> m_native;
    ToolLocator m_ffmpegLocator;
    std::shared_ptr<VideoCompressing> m_active;
    QSet<QString> m_sweptFolders;
};

} // namespace slimreel
