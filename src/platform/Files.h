#pragma once

#include "model/Error.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <optional>

namespace slimreel::Files {

// Size of a file in bytes; an error when it cannot be read (missing, not a file).
Result<std::int64_t> fileSize(const QString &path);

// Removes a file if it is there; errors are ignored by design at every caller.
void removeFile(const QString &path);

// Removes a directory and everything in it, ignoring errors.
void removeTree(const QString &path);

// A file URL with "." and ".." resolved; symbolic links are left alone.
QUrl standardized(const QUrl &url);

} // namespace slimreel::Files
