#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

namespace {

const QString partialMarker = QStringLiteral(".slimreel-partial-");
const QString lockPrefix = QStringLiteral("Slimreel-instance-");

Error systemError(const QString &what)
{
    return Error::platform(what + QStringLiteral("：") + QString::fromLocal8Bit(std::strerror(errno)));
}

bool isPrivateFolder(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
           && (st.st_mode & 07777) == 0700;
}

// Syncs a file or folder to the disk.
bool syncPath(const QByteArray &path, int flags)
{
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

unsigned currentUmask()
{
    // Read without changing it: other threads may create files meanwhile.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const unsigned mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok) {
                    return mask;
                }
            }
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

} // namespace

QString scratchFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const bool useRuntime = runtime.startsWith('/') && QFileInfo(QFile::decodeName(runtime)).isDir();
    const QString base = useRuntime ? QFile::decodeName(runtime) : QDir::tempPath();
    const QString wanted = QDir(base).filePath(useRuntime ? QStringLiteral("slimreel")
                                                          : QStringLiteral("slimreel-%1").arg(::geteuid()));
    const QByteArray wantedBytes = QFile::encodeName(wanted);
    if (::mkdir(wantedBytes.constData(), 0700) == 0) {
        ::chmod(wantedBytes.constData(), 0700); // whatever the umask took away
    }
    if (isPrivateFolder(wantedBytes)) {
        return wanted;
    }
    // Someone else's folder, a wider one or a link sits under our name: never
    // write there, nor remove it; a folder of our own beside it does.
    static QMutex mutex;
    static QHash<QString, QString> fresh;
    const QMutexLocker lock(&mutex);
    const QString known = fresh.value(base);
    if (!known.isEmpty() && isPrivateFolder(QFile::encodeName(known))) {
        return known;
    }
    QByteArray pattern = QFile::encodeName(QDir(base).filePath(QStringLiteral("slimreel-XXXXXX")));
    if (::mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    fresh.insert(base, QFile::decodeName(pattern));
    return fresh.value(base);
}

Result<QString> createPartial(const QString &finalPath, std::optional<unsigned> mode)
{
    const QFileInfo info(finalPath);
    QString name = info.fileName();
    if (name.endsWith(QLatin1String(".mp4"), Qt::CaseInsensitive)) {
        name.chop(4);
    }
    // Random, so that two programs writing the same name never share a file;
    // ".mp4" last, since ffmpeg picks the container by the name.
    QByteArray pattern = QFile::encodeName(info.dir().filePath(QLatin1Char('.') + name + partialMarker))
                         + "XXXXXX.mp4";
    const int fd = ::mkostemps(pattern.data(), 4, O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected(systemError(QStringLiteral("无法创建输出文件")));
    }
    // The owner may always write it while it is being written (a read-only
    // source must not make its own output unwritable); the exact bits follow
    // at commitOutput().
    const unsigned bits = mode.value_or(0666 & ~currentUmask()) | 0600;
    const bool set = ::fchmod(fd, bits) == 0;
    ::close(fd);
    if (!set) {
        ::unlink(pattern.constData());
        return std::unexpected(systemError(QStringLiteral("无法设置输出文件权限")));
    }
    return QFile::decodeName(pattern);
}

Result<void> createPrivateFile(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    const int fd = ::open(bytes.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return std::unexpected(systemError(QStringLiteral("无法创建样片文件")));
    }
    const bool set = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!set) {
        return std::unexpected(systemError(QStringLiteral("无法创建样片文件")));
    }
    return {};
}

Result<void> commitOutput(const QString &partial, const QString &finalPath, std::optional<unsigned> mode)
{
    const QByteArray from = QFile::encodeName(partial);
    if (mode && ::chmod(from.constData(), *mode) != 0) {
        return std::unexpected(systemError(QStringLiteral("无法设置输出文件权限")));
    }
    const QByteArray to = QFile::encodeName(finalPath);
    // A power cut after the rename must not leave an empty file under the final name.
    if (!syncPath(from, O_RDONLY)) {
        return std::unexpected(systemError(QStringLiteral("无法写入输出文件")));
    }
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS) {
            return std::unexpected(systemError(QStringLiteral("无法保存输出文件")));
        }
        // A file system without the flag: a hard link refuses an existing name too.
        if (::link(from.constData(), to.constData()) != 0) {
            return std::unexpected(systemError(QStringLiteral("无法保存输出文件")));
        }
        ::unlink(from.constData());
    }
    syncPath(QFile::encodeName(QFileInfo(finalPath).absolutePath()), O_RDONLY | O_DIRECTORY);
    return {};
}

bool copyFileTimes(const QString &source, const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(source).constData(), &st) != 0) {
        return false;
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

std::optional<unsigned> outputMode(const QString &sourcePath)
{
    struct stat st {};
    if (::stat(QFile::encodeName(sourcePath).constData(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<unsigned>(st.st_mode & 0777 & ~currentUmask());
}

bool aloneInScratchFolder()
{
    const QString folder = scratchFolder();
    if (folder.isEmpty()) {
        return false;
    }
    // Our own lock: an exclusive lock on a file of our own, held until the
    // process ends (however it ends, the kernel drops the lock with it).
    static QMutex mutex;
    // Removed on a normal exit; after a crash the next start removes it.
    static struct OwnLocks : QHash<QString, QString> {
        ~OwnLocks()
        {
            for (auto it = cbegin(); it != cend(); ++it) {
                ::unlink(QFile::encodeName(QDir(it.key()).filePath(it.value())).constData());
            }
        }
    } ownLocks;
    const QMutexLocker lock(&mutex);
    if (!ownLocks.contains(folder)) {
        // Locked under another name first and then renamed, so that no other
        // process ever sees this lock unheld and removes it as a dead one's.
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString path = QDir(folder).filePath(lockPrefix + id + QStringLiteral(".lock"));
        const QByteArray starting = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".starting-") + id));
        const int fd = ::open(starting.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0
            || ::rename(starting.constData(), QFile::encodeName(path).constData()) != 0) {
            ::unlink(starting.constData());
            return false;
        }
        ownLocks.insert(folder, QFileInfo(path).fileName());
    }
    bool alone = true;
    const QStringList locks = QDir(folder).entryList({lockPrefix + QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden);
    for (const QString &name : locks) {
        if (name == ownLocks.value(folder)) {
            continue;
        }
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlink(path.constData()); // its process has ended
        } else {
            alone = false;
        }
        ::close(fd);
    }
    return alone;
}

void sweepScratchFolder()
{
    if (!aloneInScratchFolder()) {
        return;
    }
    const QDir folder(scratchFolder());
    for (const QFileInfo &entry : folder.entryInfoList(
             {QStringLiteral("Slimreel-preview-*"), QStringLiteral("Slimreel-estimate-*"),
              QStringLiteral("Slimreel-pass-*"), QStringLiteral("Slimreel-faststart-*")},
             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isDir() && !entry.isSymLink()) {
            removeTree(entry.filePath());
        } else {
            removeFile(entry.filePath());
        }
    }
}

void sweepPartialOutputs(const QString &outputFolder)
{
    if (!aloneInScratchFolder()) {
        return;
    }
    const QDir folder(outputFolder);
    for (const QFileInfo &entry : folder.entryInfoList({QStringLiteral(".*") + partialMarker + QStringLiteral("*.mp4")},
                                                       QDir::Files | QDir::Hidden | QDir::System)) {
        if (!entry.isSymLink() && entry.ownerId() == ::geteuid()) {
            removeFile(entry.filePath());
        }
    }
}

} // namespace slimreel::Files
