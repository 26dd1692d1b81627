#pragma once

#include <QString>

#include <cstdint>

namespace slimreel::Formatters {

// "m:ss" or "h:mm:ss"; "--:--" for NaN and infinities; negatives show 0:00.
QString duration(double seconds);

// File sizes in decimal units (1 MB = 1,000,000 bytes), like a file manager shows them.
QString byteCount(std::int64_t bytes);

} // namespace slimreel::Formatters
