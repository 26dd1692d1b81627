#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace slimreel::Files {

Result<std::int64_t> fileSize(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return std::unexpected(Error::platform(QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (!S_ISREG(st.st_mode)) {
        return std::unexpected(Error::platform(QStringLiteral("不是普通文件")));
    }
    return static_cast<std::int64_t>(st.st_size);
}

void removeFile(const QString &path)
{
    QFile::remove(path);
}

void removeTree(const QString &path)
{
    QDir(path).removeRecursively();
}

QUrl standardized(const QUrl &url)
{
    if (!url.isLocalFile()) {
        return url.adjusted(QUrl::NormalizePathSegments);
    }
    return QUrl::fromLocalFile(QDir::cleanPath(url.toLocalFile()));
}

} // namespace slimreel::Files
