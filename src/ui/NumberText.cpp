#include "ui/NumberText.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace slimreel {

QString NumberText::fixed(double value, int decimals)
{
    std::array<char, 64> buffer{};
    const int written = std::snprintf(buffer.data(), buffer.size(), "%.*f", std::clamp(decimals, 0, 6), value);
    if (written < 0 || written >= static_cast<int>(buffer.size())) {
        // Only absurd magnitudes get here; let Qt write them in full.
        return QString::number(value, 'f', std::clamp(decimals, 0, 6));
    }
    return QString::fromLatin1(buffer.data(), written);
}

} // namespace slimreel
