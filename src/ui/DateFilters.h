#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

#include <utility>

namespace pellux {

// The date filters of the search window and the words it shows for days, ranges and counts.
// Plain functions of the day it is today, so that they are checked without waiting for a date.
enum class DateFilter { None, Today, Yesterday, Last7Days, Last30Days, Picked };

namespace date_filters {

// The filter a chip names ("today", "yesterday", "last7", "last30", "range"); None for others.
DateFilter fromName(const QString &name);
QString name(DateFilter filter);
// The first and last local day of a preset filter, both included; invalid dates for None and
// Picked, whose days the caller holds.
std::pair<QDate, QDate> presetDays(DateFilter filter, QDate today);
// "Today", "Yesterday", else the day in the locale's long form ("Monday, 7 December 2026").
QString dayLabel(QDate day, QDate today, const QLocale &locale = QLocale());
// "Today", "Yesterday", "7 Dec 2026", "1 Dec – 7 Dec 2026" (the year once when both share it).
QString rangeLabel(QDate first, QDate last, QDate today, const QLocale &locale = QLocale());
// "1 screenshot", "132 screenshots"; "100+ screenshots" when the count stopped at a limit.
QString countText(qint64 count, bool atLeast = false);

} // namespace date_filters
} // namespace pellux
