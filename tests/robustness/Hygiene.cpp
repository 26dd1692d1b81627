#include "robustness/Hygiene.h"

#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

namespace slimreel::test {

namespace {

constexpr int overrideCapabilities[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH};

bool dropOverrideCapabilities()
{
    for (const int cap : overrideCapabilities) {
        // Out of the bounding set, so that the tools started later do not get them back.
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno != EINVAL) {
            return false;
        }
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    for (const int cap : overrideCapabilities) {
        const auto bit = static_cast<__u32>(1U << (cap % 32));
        data[cap / 32].effective &= ~bit;
        data[cap / 32].permitted &= ~bit;
        data[cap / 32].inheritable &= ~bit;
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Whether a folder without write permission really refuses a new file.
// Plain system calls: this runs before the application object exists.
bool permissionsBind()
{
    char dir[] = "/tmp/slimreel-permissions-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        return false;
    }
    const std::string locked = std::string(dir) + "/locked";
    const std::string file = locked + "/x";
    bool refused = false;
    if (::mkdir(locked.c_str(), 0500) == 0) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0600);
        refused = fd < 0;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(file.c_str());
        }
        ::rmdir(locked.c_str());
    }
    ::rmdir(dir);
    return refused;
}

// Capabilities belong to threads: they are given up before the first thread
// exists, so that every thread of the test process (GStreamer's included)
// and every tool it starts is bound by the permission bits.
const bool permissionsEnforced = permissionsBind() || (::geteuid() == 0 && dropOverrideCapabilities() && permissionsBind());

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QByteArray::number(file.size()) + ':' + hash.result().toHex();
}

std::optional<ChildInfo> childInfo(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray line = stat.readAll();
    // The command name is in parentheses and may itself hold spaces or ')'.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0) {
        return std::nullopt;
    }
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 2 || fields.at(1).toLongLong() != ::getpid()) {
        return std::nullopt;
    }
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    QString command;
    if (cmdline.open(QIODevice::ReadOnly)) {
        command = QString::fromLocal8Bit(cmdline.readAll()).replace(QChar(0), QChar(' ')).trimmed();
    }
    return ChildInfo{pid.toLongLong(), fields.at(0).isEmpty() ? '?' : fields.at(0).at(0), command};
}

} // namespace

bool enforceFilePermissions()
{
    return permissionsEnforced;
}

void SourceGuard::add(const QString &path)
{
    m_digests.insert(path, digest(path));
}

void SourceGuard::forget(const QString &path)
{
    m_digests.remove(path);
}

QStringList SourceGuard::changed() const
{
    QStringList changed;
    for (auto it = m_digests.cbegin(); it != m_digests.cend(); ++it) {
        if (!QFileInfo::exists(it.key()) || digest(it.key()) != it.value()) {
            changed << it.key();
        }
    }
    return changed;
}

QStringList scratchLeftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("Slimreel-preview-*"), QStringLiteral("Slimreel-pass-*")},
                                  QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

QList<ChildInfo> childProcesses()
{
    QList<ChildInfo> children;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool number = false;
        pid.toLongLong(&number);
        if (number) {
            if (const auto child = childInfo(pid)) {
                children << *child;
            }
        }
    }
    return children;
}

QList<ChildInfo> childrenAfterSettling()
{
    // A stopped tool may take a moment to be reaped; a hung one is killed
    // after a grace period of a few seconds.
    spinUntil([] { return childProcesses().isEmpty(); }, std::chrono::seconds(15));
    return childProcesses();
}

QString describe(const QList<ChildInfo> &children)
{
    QStringList lines;
    for (const ChildInfo &child : children) {
        lines << QStringLiteral("%1 [%2] %3").arg(child.pid).arg(QLatin1Char(child.state)).arg(child.command);
    }
    return lines.join(QLatin1Char('\n'));
}

bool processAlive(qint64 pid)
{
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0) {
        return false;
    }
    // A zombie has ended; only its parent has not collected it yet.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() || line.at(close + 2) != 'Z';
}

bool isCompleteVideo(const QString &path, QString *why)
{
    const auto fail = [why](const QString &reason) {
        if (why) {
            *why = reason;
        }
        return false;
    };
    if (!QFileInfo(path).isFile()) {
        return fail(QStringLiteral("not a file"));
    }
    const QString duration = ffprobeValue(path, QStringLiteral("format=duration"));
    if (ffprobeValue(path, QStringLiteral("stream=codec_name")).isEmpty() || !(duration.toDouble() > 0)) {
        return fail(QStringLiteral("no video stream with a duration"));
    }
    QProcess decode;
    decode.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin"),
                                            QStringLiteral("-i"), path, QStringLiteral("-f"), QStringLiteral("null"),
                                            QStringLiteral("-")});
    if (!decode.waitForFinished(120000)) {
        decode.kill();
        decode.waitForFinished();
        return fail(QStringLiteral("decoding did not end"));
    }
    const QString errors = QString::fromUtf8(decode.readAllStandardError()).trimmed();
    if (decode.exitStatus() != QProcess::NormalExit || decode.exitCode() != 0 || !errors.isEmpty()) {
        return fail(QStringLiteral("decoding failed: ") + errors);
    }
    return true;
}

QStringList incompleteOutputs(const QString &folder)
{
    QStringList bad;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        QString why;
        if (!isCompleteVideo(dir.filePath(name), &why)) {
            bad << name + QStringLiteral(": ") + why;
        }
    }
    return bad;
}

bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to)) {
        return false;
    }
    return QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace slimreel::test
