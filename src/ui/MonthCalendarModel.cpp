#include "ui/MonthCalendarModel.h"

#include "persistence/SimpleDatabaseManager.h"
#include "persistence/Timeline.h"
#include "ui/DayTimeline.h"

#include <QPointer>

namespace pellux {

MonthCalendarModel::MonthCalendarModel(
    SimpleDatabaseManager &database, const Clock &clock, QLocale locale, QObject *parent)
    : QAbstractListModel(parent)
    , m_database(database)
    , m_clock(clock)
    , m_locale(std::move(locale))
{
}

int MonthCalendarModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_month.isValid() ? 0 : timeline::kGridDays;
}

QDate MonthCalendarModel::cellDate(int row) const
{
    return timeline::gridStart(m_month, m_locale.firstDayOfWeek()).addDays(row);
}

QVariant MonthCalendarModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const QDate date = cellDate(index.row());
    switch (role) {
    case LabelRole:
        return m_locale.toString(date, QLocale::LongFormat);
    case DayNumberRole:
        return date.day();
    case InMonthRole:
        return date.month() == m_month.month();
    case EnabledRole:
        return hasCaptures(date);
    case TodayRole:
        return date == localDay(m_clock.now());
    case FocusRole:
        return date == m_focus;
    case InRangeRole:
        return m_rangeStart.isValid() && m_focus.isValid() && date >= std::min(m_rangeStart, m_focus)
            && date <= std::max(m_rangeStart, m_focus);
    default:
        return {};
    }
}

QHash<int, QByteArray> MonthCalendarModel::roleNames() const
{
    return { { LabelRole, "label" }, { DayNumberRole, "dayNumber" }, { InMonthRole, "inMonth" },
        { EnabledRole, "hasCaptures" }, { TodayRole, "isToday" }, { FocusRole, "isFocus" },
        { InRangeRole, "inRange" } };
}

void MonthCalendarModel::setMode(Mode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    m_rangeStart = QDate();
    emit rangeStartChanged();
    emit modeChanged();
    if (m_month.isValid())
        emit dataChanged(index(0), index(timeline::kGridDays - 1));
}

QString MonthCalendarModel::title() const
{
    return m_month.isValid() ? m_locale.toString(m_month, QStringLiteral("MMMM yyyy")) : QString();
}

QStringList MonthCalendarModel::weekdayNames() const
{
    QStringList names;
    for (int i = 0; i < 7; ++i)
        names << m_locale.standaloneDayName((m_locale.firstDayOfWeek() - 1 + i) % 7 + 1, QLocale::ShortFormat);
    return names;
}

void MonthCalendarModel::setFocusDay(QDate day)
{
    if (!day.isValid() || day == m_focus)
        return;
    m_focus = day;
    emit focusDayChanged();
    if (QDate(day.year(), day.month(), 1) != m_month)
        setMonth(day);
    else
        emit dataChanged(index(0), index(timeline::kGridDays - 1), { FocusRole, InRangeRole });
}

void MonthCalendarModel::markToday()
{
    if (m_month.isValid())
        emit dataChanged(index(0), index(timeline::kGridDays - 1), { TodayRole });
}

void MonthCalendarModel::open(QDate day)
{
    if (!day.isValid())
        day = localDay(m_clock.now());
    m_rangeStart = QDate();
    emit rangeStartChanged();
    m_focus = day;
    emit focusDayChanged();
    setMonth(day);
}

void MonthCalendarModel::showMonth(int offset)
{
    const QDate first = m_month.addMonths(offset);
    // The focus follows to the same day of the new month, or its last.
    m_focus = QDate(first.year(), first.month(), std::min(m_focus.day(), first.daysInMonth()));
    emit focusDayChanged();
    setMonth(first);
}

void MonthCalendarModel::setMonth(QDate day)
{
    beginResetModel();
    m_month = QDate(day.year(), day.month(), 1);
    endResetModel();
    emit monthChanged();
    load();
}

void MonthCalendarModel::load()
{
    const quint64 generation = ++m_generation;
    m_loading = true;
    emit loadingChanged();
    QPointer<MonthCalendarModel> self(this);
    m_database.captureDays(cellDate(0), cellDate(timeline::kGridDays - 1), [self, generation](CaptureDays answer) {
        if (!self || generation != self->m_generation)
            return;
        self->m_captureDays = std::set<QDate>(answer.days.begin(), answer.days.end());
        self->m_loading = false;
        emit self->loadingChanged();
        emit self->dataChanged(self->index(0), self->index(timeline::kGridDays - 1), { EnabledRole });
        emit self->daysLoaded();
    });
}

bool MonthCalendarModel::handleKey(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        return pick(m_focus);
    const QDate next = timeline::dayAfterKey(m_focus, key);
    if (next == m_focus)
        return false;
    setFocusDay(next);
    return true;
}

bool MonthCalendarModel::pick(QDate day)
{
    if (!hasCaptures(day))
        return false;
    setFocusDay(day);
    if (m_mode == Mode::Day) {
        emit dayPicked(day);
        return true;
    }
    if (!m_rangeStart.isValid()) {
        m_rangeStart = day;
        emit rangeStartChanged();
        emit dataChanged(index(0), index(timeline::kGridDays - 1), { InRangeRole });
        return true;
    }
    const QDate first = std::min(m_rangeStart, day);
    const QDate last = std::max(m_rangeStart, day);
    m_rangeStart = QDate();
    emit rangeStartChanged();
    emit rangePicked(first, last);
    return true;
}

} // namespace pellux
