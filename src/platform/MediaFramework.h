#pragma once

#include "model/Error.h"
#include "model/VideoInfo.h"

#include <QUrl>

#include <QCoroTask>

namespace slimreel::MediaFramework {

// Inspects a file in process with GStreamer's discoverer, off the main thread.
// Fails with VideoProbeError::unreadable when the file cannot be opened or
// decoded, VideoProbeError::missingVideoTrack when it has no video stream.
QCoro::Task<Result<VideoInfo>> inspect(QUrl url);

} // namespace slimreel::MediaFramework
