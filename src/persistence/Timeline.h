#pragma once

#include "runtime/Clock.h"

#include <QDate>
#include <QString>
#include <QUuid>

#include <optional>
#include <vector>

namespace pellux {

// Capture times from `since` (included) to `until` (left out); an absent end is open. The days of
// the date filters are local days, turned into instants by the caller (see localDayStart).
struct TimeRange {
    std::optional<TimePoint> since;
    std::optional<TimePoint> until;

    bool isOpen() const { return !since && !until; }
    bool contains(TimePoint t) const { return (!since || t >= *since) && (!until || t < *until); }
};

// The first instant of a local day (the first instant that exists, on a day that starts in a
// daylight-saving gap), and the local day an instant falls on.
TimePoint localDayStart(QDate day);
QDate localDay(TimePoint t);
// The range of whole local days from `first` to `last`, both included.
TimeRange localDays(QDate first, QDate last);

// The days of a range that hold at least one capture, ascending, for a calendar that disables the
// others; the reason in `error` when the database could not answer (then `days` is empty).
struct CaptureDays {
    std::vector<QDate> days;
    QString error;
};

// One capture of a day, as the timeline bar places it.
struct DayCapture {
    TimePoint timestamp;
    QUuid id;
    std::optional<QString> appName;
};

// A day's captures, oldest first (one capture time: in the order stored).
struct DayCaptures {
    std::vector<DayCapture> captures;
    QString error;
};

} // namespace pellux
