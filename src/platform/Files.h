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

// The user's own folder for samples and pass folders: under $XDG_RUNTIME_DIR
// when it is set, else in the temporary folder. A folder found there is used
// only if it is this user's, mode 0700 and no symbolic link; otherwise a fresh
// one with a random name is made. Empty when no such folder can be had.
QString scratchFolder();

// A new, empty file under a hidden name of its own beside `finalPath`, where an
// output is written until it is complete and checked. Group and others get no
// more than `mode` from the start (the umask's default when none is given), so
// a private video is never readable by others, not even half-written.
Result<QString> createPartial(const QString &finalPath, std::optional<unsigned> mode);

// An empty file only its owner can read, for a sample of someone's video.
Result<void> createPrivateFile(const QString &path);

// Gives a finished partial output its permission bits `mode` and its final
// name: data and folder synced to the disk first, then renamed without
// replacing whatever may have appeared under the final name meanwhile.
Result<void> commitOutput(const QString &partial, const QString &finalPath, std::optional<unsigned> mode = {});

// Gives `path` the modification (and access) time of `source`, so that the
// output sorts where its source does; false when either cannot be read or set.
bool copyFileTimes(const QString &source, const QString &path);

// The permission bits an output of this source gets: the source's own,
// limited by the umask; none when the source's cannot be read.
std::optional<unsigned> outputMode(const QString &sourcePath);

// True when no other Slimreel process of this user is running. The first call
// makes this process known to later ones through a lock that dies with it.
bool aloneInScratchFolder();

// What a killed earlier process left: samples, estimate stretches and pass folders in the scratch
// folder, and partial outputs in `outputFolder`. Removed only while no other
// Slimreel process runs, since they may be its own.
void sweepScratchFolder();
void sweepPartialOutputs(const QString &outputFolder);

} // namespace slimreel::Files
