#include "diagnostics/ProcessMetrics.h"

#include <QFile>
#include <QList>

namespace pellux {

std::optional<CpuTimes> parseCpuTimes(const QByteArray &procStat)
{
    // "cpu  user nice system idle iowait irq softirq steal guest guest_nice"; guest time is
    // already part of user time.
    for (const QByteArray &line : procStat.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.value(0) != "cpu")
            continue;
        if (fields.size() < 5)
            return std::nullopt;
        quint64 values[8] = {};
        for (int i = 0; i < 8; ++i) {
            if (i + 1 >= fields.size())
                break;
            bool ok = false;
            values[i] = fields.at(i + 1).toULongLong(&ok);
            if (!ok)
                return std::nullopt;
        }
        const auto [user, nice, system, idle, iowait, irq, softirq, steal] = values;
        return CpuTimes { user + nice + system + irq + softirq + steal, idle + iowait };
    }
    return std::nullopt;
}

std::optional<double> cpuUsagePercent(const std::optional<CpuTimes> &previous, const CpuTimes &current)
{
    CpuTimes delta = current;
    if (previous && current.busy >= previous->busy && current.idle >= previous->idle)
        delta = CpuTimes { current.busy - previous->busy, current.idle - previous->idle };
    const quint64 total = delta.busy + delta.idle;
    if (total == 0)
        return std::nullopt;
    return 100.0 * static_cast<double>(delta.busy) / static_cast<double>(total);
}

std::optional<double> parseResidentBytes(const QByteArray &statm, long pageSize)
{
    const QList<QByteArray> fields = statm.simplified().split(' ');
    if (fields.size() < 2 || pageSize <= 0)
        return std::nullopt;
    bool ok = false;
    const quint64 pages = fields.at(1).toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return static_cast<double>(pages) * static_cast<double>(pageSize);
}

std::optional<QByteArray> readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace pellux
