#include "probe/CodecNames.h"

#include <array>

namespace slimreel::CodecNames {

namespace {

struct NameRow {
    const char *code;
    const char *displayName;
};

// ffprobe codec names, lowercased.
constexpr std::array<NameRow, 4> ffprobeNames{{
    {"h264", "H.264"},
    {"hevc", "HEVC"},
    {"av1", "AV1"},
    {"vp9", "VP9"},
}};

// Media subtype four-character codes, lowercased.
constexpr std::array<NameRow, 6> subtypeNames{{
    {"avc1", "H.264"},
    {"h264", "H.264"},
    {"hvc1", "HEVC"},
    {"hev1", "HEVC"},
    {"av01", "AV1"},
    {"vp09", "VP9"},
}};

template <std::size_t N>
std::optional<QString> lookUp(const std::array<NameRow, N> &table, const QString &lowercased)
{
    for (const auto &row : table) {
        if (lowercased == QLatin1String(row.code)) {
            return QString::fromUtf8(row.displayName);
        }
    }
    return std::nullopt;
}

const QString unknown = QStringLiteral("未知");

} // namespace

QString displayCodec(const std::optional<QString> &codecName)
{
    if (!codecName) {
        return unknown;
    }
    return lookUp(ffprobeNames, codecName->toLower()).value_or(codecName->toUpper());
}

QString fourCC(std::uint32_t code)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<std::uint8_t>(code >> shift);
        if (byte > 0x7f) {
            return {};
        }
        text += QChar(byte);
    }
    qsizetype first = 0;
    qsizetype last = text.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (first < last && blank(text.at(first))) {
        ++first;
    }
    while (last > first && blank(text.at(last - 1))) {
        --last;
    }
    return text.mid(first, last - first);
}

QString codecName(std::optional<std::uint32_t> mediaSubType)
{
    if (!mediaSubType) {
        return unknown;
    }
    const QString code = fourCC(*mediaSubType);
    if (auto name = lookUp(subtypeNames, code.toLower())) {
        return *name;
    }
    return code.isEmpty() ? unknown : code.toUpper();
}

} // namespace slimreel::CodecNames
