#pragma once

#include "model/Error.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace slimreel {

// What ffprobe prints with -show_streams -show_format -of json, decoded
// strictly: a listed member of the wrong JSON type fails the whole decoding,
// an optional member may be missing or null, unlisted members are ignored.
// Numbers that ffprobe prints as strings stay text here; the mapping converts them.

struct FFprobeStream {
    std::optional<QString> codecName;        // "codec_name"
    std::optional<QString> codecType;        // "codec_type"
    std::optional<std::int64_t> width;       // "width"
    std::optional<std::int64_t> height;      // "height"
    std::optional<QString> averageFrameRate; // "avg_frame_rate", e.g. "30000/1001"
    std::optional<QString> bitRate;          // "bit_rate"
    std::optional<QString> duration;         // "duration"

    friend bool operator==(const FFprobeStream &, const FFprobeStream &) = default;
};

struct FFprobeFormat {
    std::optional<QString> duration; // "duration"
    std::optional<QString> size;     // "size"
    std::optional<QString> bitRate;  // "bit_rate"

    friend bool operator==(const FFprobeFormat &, const FFprobeFormat &) = default;
};

struct FFprobeResponse {
    std::vector<FFprobeStream> streams; // "streams", required
    std::optional<FFprobeFormat> format; // "format"

    // A platform error naming the offending member when the JSON does not fit.
    static Result<FFprobeResponse> decode(const QByteArray &json);
};

// One entry of -show_packets -show_entries packet=stream_index,size,flags.
struct FFprobePacket {
    std::int64_t streamIndex = 0; // "stream_index", required
    QString size;                 // "size", required (ffprobe prints it as text)
    std::optional<QString> flags; // "flags", e.g. "K__" for a key frame
    std::optional<QString> ptsTime; // "pts_time", seconds as text

    friend bool operator==(const FFprobePacket &, const FFprobePacket &) = default;
};

struct FFprobePacketResponse {
    std::vector<FFprobePacket> packets; // "packets", required

    static Result<FFprobePacketResponse> decode(const QByteArray &json);
};

} // namespace slimreel
