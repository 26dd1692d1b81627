#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace slimreel::Mp4Times {

// The recording date an MP4 or QuickTime file carries in its movie header, in
// seconds since 1904 as the format counts; none when the file has none (or is
// not such a file).
std::optional<std::uint64_t> creationTime(const QString &path);

// Writes `seconds` (0: none) as the creation and modification time of the
// movie, of every track and of every track's media; false when the file has
// no movie header to write into.
bool setCreationTime(const QString &path, std::uint64_t seconds);

} // namespace slimreel::Mp4Times
