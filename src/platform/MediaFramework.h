#pragma once

#include "model/Error.h"

#include <QUrl>

#include <QCoroTask>

#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

struct _GstCaps;

namespace slimreel::MediaFramework {

// What the discoverer says of a file: its numbers, and the MP4 sample-entry
// codes of its streams' caps. Naming codecs is left to the caller.
struct Description {
    QUrl url;
    double duration = 0;
    std::int64_t width = 0; // as shown: a quarter-turn orientation swaps the two
    std::int64_t height = 0;
    std::int64_t fileSize = 0;
    double frameRate = 0;
    // The stream's rate tag; estimated from the file size when the container has none.
    double videoBitrate = 0;
    std::optional<std::uint32_t> videoSubType;
    std::int64_t audioTrackCount = 0;
    double audioBitrate = 0; // sum of the audio streams' rate tags
    std::vector<std::optional<std::uint32_t>> audioSubTypes; // one per audio stream
};

// Why a file could not be described, in the framework's terms; callers word it.
struct Failure {
    enum class Kind { unreadable, noVideoStream, fileSystem };
    Kind kind = Kind::unreadable;
    Error fileError; // the file system's own error, for Kind::fileSystem
};

// Inspects a file in process with GStreamer's discoverer, off the main thread.
// Fails as unreadable when the file cannot be opened or decoded, as
// noVideoStream when it has no moving picture, and with the file system's
// error when the file size cannot be read.
QCoro::Task<std::expected<Description, Failure>> inspect(QUrl url);

// The MP4 sample-entry code ("avc1", "mp4a", ".mp3", ...) of a stream's caps;
// none for caps that have no such code.
std::optional<std::uint32_t> mediaSubType(const _GstCaps *caps);

// Packs four characters into a sample-entry code ("avc1" → 0x61766331).
constexpr std::uint32_t fourCharCode(const char (&text)[5])
{
    return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16)
           | (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

// Initialises GStreamer once; safe to call from any thread, any number of times.
void ensureInitialised();

} // namespace slimreel::MediaFramework
