#include "BenchSupport.h"

#include "platform/ChildProcess.h"

#include <QFile>
#include <QJsonDocument>

#include <chrono>
#include <cstdio>
#include <sys/resource.h>

namespace slimreel::bench {

namespace {

double seconds(const timeval &time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Lines like "VmRSS:     123456 kB" in /proc/self/status.
std::int64_t statusKilobytes(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':')) {
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

QJsonArray recorded;
QJsonArray launchTimes;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void keep(const QString &program, const QStringList &arguments)
{
    launchTimes.append(steadySeconds());
    recorded.append(QJsonArray::fromStringList(QStringList{program} + arguments));
}

} // namespace

Clock Clock::now()
{
    return {steadySeconds(), cpuSeconds(RUSAGE_SELF), cpuSeconds(RUSAGE_CHILDREN)};
}

QJsonObject elapsed(const Clock &from, const Clock &to)
{
    return {{QStringLiteral("wall_s"), to.wall - from.wall},
            {QStringLiteral("cpu_self_s"), to.cpuSelf - from.cpuSelf},
            {QStringLiteral("cpu_children_s"), to.cpuChildren - from.cpuChildren}};
}

std::int64_t residentKilobytes()
{
    return statusKilobytes("VmRSS");
}

std::int64_t peakResidentKilobytes()
{
    return statusKilobytes("VmHWM");
}

std::int64_t anonymousKilobytes()
{
    return statusKilobytes("RssAnon");
}

void recordCommands()
{
    recorded = {};
    launchTimes = {};
    ChildProcess::setCommandObserver(&keep);
}

QJsonArray takeCommands()
{
    return std::exchange(recorded, {});
}

QJsonArray takeLaunchTimes(const Clock &since)
{
    QJsonArray relative;
    for (const QJsonValue &at : std::exchange(launchTimes, {})) {
        relative.append(at.toDouble() - since.wall);
    }
    return relative;
}

void printLine(const QJsonObject &object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace slimreel::bench
