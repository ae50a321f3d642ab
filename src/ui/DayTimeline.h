#pragma once

#include "runtime/Clock.h"

#include <QColor>
#include <QDate>
#include <QString>

#include <map>
#include <vector>

// The arithmetic of the timeline bar and the calendar, free of any view: where a capture sits
// along its day, which capture a key or a drag lands on, and which days a month grid shows.
namespace pellux::timeline {

// Where an instant lies along its local day, 0 at its first instant and 1 at the next day's: the
// day's real length, so a day of 23 or 25 hours keeps its captures in time order.
double dayFraction(QDate day, TimePoint t);

// A wall-clock hour's place on the axis; an hour a clock change skips has none.
struct HourMark {
    int hour;
    double fraction;
};
// The hours 0 to 24 of the day that exist, in order.
std::vector<HourMark> hourMarks(QDate day);

// The capture a step lands on, in `times` (ascending); -1 only for an empty day. Steps stop at
// the ends. `current` -1 (none shown yet) steps from before the first capture.
int stepCapture(const std::vector<TimePoint> &times, int current, int steps);
// Page Down (+1): the first capture at least an hour after the current one, else the last; Page
// Up (-1): the last capture at least an hour before it, else the first.
int stepHour(const std::vector<TimePoint> &times, int current, int direction);
// The capture closest in time to a place on the axis (a drag, a click); -1 for an empty day.
int captureNear(const std::vector<TimePoint> &times, QDate day, double fraction);

// The colour an application prefers: one of a fixed palette of colours that read on the light
// track, chosen by the name alone so it is the same every day and every run; grey without a name.
QColor applicationColor(const QString &appName);
// The colours of the applications seen together (one day): each its own colour where it is free,
// else the next free one in the palette, going by name, so the same set always gets the same.
std::map<QString, QColor> applicationColors(std::vector<QString> appNames);

// A month grid: six weeks from the week that holds the month's first day, starting on the locale's
// first day of the week.
inline constexpr int kGridDays = 42;
QDate gridStart(QDate month, Qt::DayOfWeek firstDayOfWeek);

// The day an arrow key moves the calendar's focus to (Left/Right a day, Up/Down a week); other
// keys leave it.
QDate dayAfterKey(QDate focus, int key);

} // namespace pellux::timeline
