#pragma once

#include "runtime/Clock.h"

#include <QDate>
#include <QString>

#include <optional>

namespace pellux::commands {

// Which end of a range a date gives: a day given as the start is its first instant, as the end
// the first instant of the next day, so that the end includes its whole day.
enum class RangeEnd { since, until };

// A DATE of the command line in local time: "YYYY-MM-DD", "YYYY-MM-DD HH:MM" (that minute exactly,
// at either end), "today", "yesterday" or "N days ago" (N from 0), the relative forms counted from
// `today`. Absent, with the reason in `error`, for anything else, a day that does not exist or a
// minute that the clocks skip.
std::optional<TimePoint> parseDateArgument(const QString &text, RangeEnd end, QDate today, QString *error);

} // namespace pellux::commands
