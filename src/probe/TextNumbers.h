#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace slimreel::TextNumbers {

// ffprobe prints durations, sizes and rates as JSON strings; these turn such a
// text into a number, strictly: the whole text must be the number, with no white
// space around it, and the user's locale never changes how it reads.

// One floating-point number in C-locale strtod syntax (sign, digits, fraction,
// exponent, or the hexadecimal, inf and nan forms). "N/A", "" or " 1" give none.
std::optional<double> decimal(QStringView text);
std::optional<double> decimal(const QString &text);
std::optional<double> decimal(const std::optional<QString> &text);

// An optional "+" or "-", then decimal digits only, fitting a signed 64-bit integer.
std::optional<std::int64_t> integer(QStringView text);
std::optional<std::int64_t> integer(const QString &text);
std::optional<std::int64_t> integer(const std::optional<QString> &text);

} // namespace slimreel::TextNumbers
