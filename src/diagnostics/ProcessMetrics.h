#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pellux {

// Where the processor and memory figures are read; tests point these elsewhere.
struct ProcessMetricsSource {
    QString statPath = QStringLiteral("/proc/stat");
    QString statmPath = QStringLiteral("/proc/self/statm");
};

// The machine-wide processor time counters of the "cpu" line of /proc/stat, in clock ticks.
struct CpuTimes {
    quint64 busy = 0;
    quint64 idle = 0;
};

std::optional<CpuTimes> parseCpuTimes(const QByteArray &procStat);
// Busy share of the time between two samples in percent (0 to 100); with no earlier sample, the
// share since boot. Absent when no time passed between the samples.
std::optional<double> cpuUsagePercent(const std::optional<CpuTimes> &previous, const CpuTimes &current);
// Resident set size in bytes from /proc/self/statm text.
std::optional<double> parseResidentBytes(const QByteArray &statm, long pageSize);

// Reads a whole small file such as those under /proc; absent when it cannot be read.
std::optional<QByteArray> readSmallFile(const QString &path);

} // namespace pellux
