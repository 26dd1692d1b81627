#pragma once

#include "model/Error.h"
#include "model/VideoInfo.h"

#include <QUrl>

#include <QCoroTask>

#include <cstdint>
#include <optional>

struct _GstCaps;

namespace slimreel::MediaFramework {

// Inspects a file in process with GStreamer's discoverer, off the main thread.
// Fails with VideoProbeError::unreadable when the file cannot be opened or
// decoded, VideoProbeError::missingVideoTrack when it has no video stream, and
// with the file system's error when the file size cannot be read.
QCoro::Task<Result<VideoInfo>> inspect(QUrl url);

// The MP4 sample-entry code ("avc1", "mp4a", ".mp3", ...) of a stream's caps;
// none for caps that have no such code.
std::optional<std::uint32_t> mediaSubType(const _GstCaps *caps);

// Initialises GStreamer once; safe to call from any thread, any number of times.
void ensureInitialised();

} // namespace slimreel::MediaFramework
