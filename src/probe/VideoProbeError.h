#pragma once

#include "model/Error.h"

namespace slimreel {

enum class VideoProbeError { missingVideoTrack, unreadable };

inline QString errorDescription(VideoProbeError error)
{
    return error == VideoProbeError::missingVideoTrack ? QStringLiteral("文件中没有可用的视频轨道")
                                                       : QStringLiteral("无法读取这个视频文件");
}

inline Error makeError(VideoProbeError error)
{
    return {Error::Domain::probe, static_cast<int>(error), errorDescription(error)};
}

inline bool isError(const Error &error, VideoProbeError probeError)
{
    return error.domain == Error::Domain::probe && error.code == static_cast<int>(probeError);
}

} // namespace slimreel
