#pragma once

#include "runtime/Clock.h"

#include <QAbstractListModel>
#include <QDate>
#include <QLocale>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <set>

namespace pellux {

class SimpleDatabaseManager;

// The date picker's month grid: six weeks in the locale's order, the days that hold captures
// enabled (asked of the database queue for the weeks shown), today marked, the focused day and,
// in range mode, the range picked so far. Picking a day emits dayPicked; in range mode the second
// pick emits rangePicked with the two days in order. Main thread.
class MonthCalendarModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the search window")
    Q_PROPERTY(Mode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(QDate month READ month NOTIFY monthChanged)
    Q_PROPERTY(QString title READ title NOTIFY monthChanged)
    // Narrow weekday names in the grid's column order.
    Q_PROPERTY(QStringList weekdayNames READ weekdayNames CONSTANT)
    Q_PROPERTY(QDate focusDay READ focusDay WRITE setFocusDay NOTIFY focusDayChanged)
    // The first day of a range being picked; invalid when none is.
    Q_PROPERTY(QDate rangeStart READ rangeStart NOTIFY rangeStartChanged)
    Q_PROPERTY(bool hasRangeStart READ hasRangeStart NOTIFY rangeStartChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)

public:
    enum class Mode { Day, Range };
    Q_ENUM(Mode)
    enum Roles {
        LabelRole = Qt::UserRole + 1,
        DayNumberRole,
        InMonthRole,
        EnabledRole,
        TodayRole,
        FocusRole,
        InRangeRole
    };

    explicit MonthCalendarModel(SimpleDatabaseManager &database, const Clock &clock = Clock::system(),
        QLocale locale = QLocale(), QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);
    QDate month() const { return m_month; }
    QString title() const;
    QStringList weekdayNames() const;
    QDate focusDay() const { return m_focus; }
    void setFocusDay(QDate day);
    QDate rangeStart() const { return m_rangeStart; }
    bool hasRangeStart() const { return m_rangeStart.isValid(); }
    bool loading() const { return m_loading; }
    QDate cellDate(int row) const;
    bool hasCaptures(QDate day) const { return m_captureDays.contains(day); }

    // The date changed (midnight, a resume): the mark of today moves.
    void markToday();
    // Shows the month of `day` (today's when invalid) with the focus on it.
    Q_INVOKABLE void open(QDate day = {});
    Q_INVOKABLE void showMonth(int offset);
    // An arrow key moves the focus, Enter or Return picks the focused day; true when used.
    Q_INVOKABLE bool handleKey(int key);
    // Picks a day with captures; a day without any is refused (false).
    Q_INVOKABLE bool pick(QDate day);
    // pick() for the day of a grid cell (QML's dates are instants, cells are days).
    Q_INVOKABLE bool pickCell(int row) { return pick(cellDate(row)); }

signals:
    void modeChanged();
    void monthChanged();
    void focusDayChanged();
    void rangeStartChanged();
    void loadingChanged();
    // The days with captures of the month shown arrived.
    void daysLoaded();
    void dayPicked(QDate day);
    void rangePicked(QDate first, QDate last);

private:
    void setMonth(QDate month);
    void load();

    SimpleDatabaseManager &m_database;
    const Clock &m_clock;
    QLocale m_locale;
    Mode m_mode = Mode::Day;
    QDate m_month;
    QDate m_focus;
    QDate m_rangeStart;
    std::set<QDate> m_captureDays;
    bool m_loading = false;
    quint64 m_generation = 0;
};

} // namespace pellux
