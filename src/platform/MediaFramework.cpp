#include "platform/MediaFramework.h"

#include "probe/VideoProbeError.h"

namespace slimreel::MediaFramework {

QCoro::Task<Result<VideoInfo>> inspect(QUrl)
{
    co_return std::unexpected(makeError(VideoProbeError::unreadable));
}

} // namespace slimreel::MediaFramework
