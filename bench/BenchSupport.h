#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <cstdint>

namespace slimreel::bench {

// Wall time and the CPU time of this process and of the children it has reaped,
// all in seconds.
struct Clock {
    double wall = 0;
    double cpuSelf = 0;
    double cpuChildren = 0;

    static Clock now();
};

// wall_s, cpu_self_s and cpu_children_s between two readings.
QJsonObject elapsed(const Clock &from, const Clock &to);

// Resident and peak resident memory of this process, and the anonymous part
// of the resident memory (heap, stacks, buffers: what the program itself
// allocated), in kilobytes.
std::int64_t residentKilobytes();
std::int64_t peakResidentKilobytes();
std::int64_t anonymousKilobytes();

// Keeps every child command line started from now on, so that the harness can
// run the very same commands directly.
void recordCommands();
QJsonArray takeCommands();
// When each of those commands was started, in seconds after `since`.
QJsonArray takeLaunchTimes(const Clock &since);

// One JSON object per line on standard output.
void printLine(const QJsonObject &object);

} // namespace slimreel::bench
