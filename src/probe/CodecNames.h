#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace slimreel::CodecNames {

// Display name of an ffprobe codec_name ("h264" → "H.264"); "未知" when absent.
QString displayCodec(const std::optional<QString> &codecName);

// The four characters of a media subtype code, most significant byte first,
// with spaces and tabs trimmed; empty when a byte is not ASCII.
QString fourCC(std::uint32_t code);

// Display name from a media subtype ("avc1" → "H.264"); "未知" without one.
QString codecName(std::optional<std::uint32_t> mediaSubType);

} // namespace slimreel::CodecNames
