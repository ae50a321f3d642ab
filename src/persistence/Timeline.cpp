#include "persistence/Timeline.h"

#include <QDateTime>
#include <cmath>

namespace pellux {

TimePoint localDayStart(QDate day)
{
    return fromSecondsSince1970(static_cast<double>(day.startOfDay().toMSecsSinceEpoch()) / 1000.0);
}

QDate localDay(TimePoint t)
{
    // Whole milliseconds rounded down, so an instant just before midnight stays on its day.
    const double ms = std::floor(secondsSince1970(t) * 1000.0);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms)).date();
}

TimeRange localDays(QDate first, QDate last) { return { localDayStart(first), localDayStart(last.addDays(1)) }; }

} // namespace pellux
