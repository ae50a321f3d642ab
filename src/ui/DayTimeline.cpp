#include "ui/DayTimeline.h"

#include "persistence/Timeline.h"

#include <QDateTime>

#include <algorithm>
#include <array>

namespace pellux::timeline {

double dayFraction(QDate day, TimePoint t)
{
    const TimePoint start = localDayStart(day);
    const auto length = localDayStart(day.addDays(1)) - start;
    if (length.count() <= 0)
        return 0;
    return std::clamp(std::chrono::duration<double>(t - start) / std::chrono::duration<double>(length), 0.0, 1.0);
}

std::vector<HourMark> hourMarks(QDate day)
{
    std::vector<HourMark> marks;
    for (int hour = 0; hour <= 24; ++hour) {
        const QDate date = hour == 24 ? day.addDays(1) : day;
        const QDateTime wall(date, QTime(hour % 24, 0));
        // Qt moves a time in a skipped hour past the gap: that hour has no place of its own.
        if (!wall.isValid() || wall.time().hour() != hour % 24 || wall.date() != date)
            continue;
        const TimePoint at = hour == 24 ? localDayStart(date) : fromSecondsSince1970(wall.toMSecsSinceEpoch() / 1000.0);
        marks.push_back({ hour, dayFraction(day, at) });
    }
    return marks;
}

int stepCapture(const std::vector<TimePoint> &times, int current, int steps)
{
    if (times.empty())
        return -1;
    const int last = static_cast<int>(times.size()) - 1;
    if (current < 0)
        return steps > 0 ? std::min(steps - 1, last) : 0;
    return std::clamp(current + steps, 0, last);
}

int stepHour(const std::vector<TimePoint> &times, int current, int direction)
{
    if (times.empty())
        return -1;
    if (current < 0 || current >= static_cast<int>(times.size()))
        return direction > 0 ? 0 : static_cast<int>(times.size()) - 1;
    const TimePoint from = times[static_cast<size_t>(current)];
    if (direction > 0) {
        const auto at = std::lower_bound(times.begin(), times.end(), from + std::chrono::hours(1));
        return at == times.end() ? static_cast<int>(times.size()) - 1 : static_cast<int>(at - times.begin());
    }
    const auto after = std::upper_bound(times.begin(), times.end(), from - std::chrono::hours(1));
    return after == times.begin() ? 0 : static_cast<int>(after - times.begin()) - 1;
}

int captureNear(const std::vector<TimePoint> &times, QDate day, double fraction)
{
    if (times.empty())
        return -1;
    const TimePoint start = localDayStart(day);
    const auto length = std::chrono::duration<double>(localDayStart(day.addDays(1)) - start);
    const TimePoint target
        = start + std::chrono::duration_cast<TimePoint::duration>(length * std::clamp(fraction, 0.0, 1.0));
    const auto after = std::lower_bound(times.begin(), times.end(), target);
    if (after == times.begin())
        return 0;
    if (after == times.end())
        return static_cast<int>(times.size()) - 1;
    const auto before = after - 1;
    return static_cast<int>((target - *before <= *after - target ? before : after) - times.begin());
}

namespace {

// Twelve colours far apart, each dark enough for a tick on the light track.
constexpr std::array<QRgb, 12> kPalette { 0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2,
    0x17becf, 0xbcbd22, 0x283593, 0xad1457, 0x00796b };

} // namespace

QColor applicationColor(const QString &appName)
{
    if (appName.isEmpty())
        return QColor(0x8e8e93);
    // FNV-1a over the UTF-16 units: Qt's own hash is seeded per process.
    quint32 hash = 2166136261u;
    for (const QChar c : appName) {
        hash ^= c.unicode();
        hash *= 16777619u;
    }
    return QColor(kPalette[hash % kPalette.size()]);
}

std::map<QString, QColor> applicationColors(std::vector<QString> appNames)
{
    std::sort(appNames.begin(), appNames.end());
    appNames.erase(std::unique(appNames.begin(), appNames.end()), appNames.end());
    std::map<QString, QColor> colors;
    std::vector<bool> taken(kPalette.size(), false);
    for (const QString &name : appNames) {
        QColor color = applicationColor(name);
        if (!name.isEmpty()) {
            size_t slot = std::find(kPalette.begin(), kPalette.end(), color.rgb() & 0xffffff) - kPalette.begin();
            // The next free colour when another application has this one; shared only beyond twelve.
            for (size_t tries = 0; tries < kPalette.size() && taken[slot]; ++tries)
                slot = (slot + 1) % kPalette.size();
            taken[slot] = true;
            color = QColor(kPalette[slot]);
        }
        colors.emplace(name, color);
    }
    return colors;
}

QDate gridStart(QDate month, Qt::DayOfWeek firstDayOfWeek)
{
    const QDate first(month.year(), month.month(), 1);
    return first.addDays(-((first.dayOfWeek() - firstDayOfWeek + 7) % 7));
}

QDate dayAfterKey(QDate focus, int key)
{
    switch (key) {
    case Qt::Key_Left:
        return focus.addDays(-1);
    case Qt::Key_Right:
        return focus.addDays(1);
    case Qt::Key_Up:
        return focus.addDays(-7);
    case Qt::Key_Down:
        return focus.addDays(7);
    default:
        return focus;
    }
}

} // namespace pellux::timeline
