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

// Resident and peak resident memory of this process, in kilobytes.
std::int64_t residentKilobytes();
std::int64_t peakResidentKilobytes();

// Keeps every child command line started from now on, so that the harness can
// run the very same commands directly.
void recordCommands();
QJsonArray takeCommands();

// One JSON object per line on standard output.
void printLine(const QJsonObject &object);

} // namespace slimreel::bench
