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

// Packs four characters into a media subtype code ("avc1" → 0x61766331).
constexpr std::uint32_t fourCharCode(const char (&text)[5])
{
    return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16)
           | (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

} // namespace slimreel::CodecNames
