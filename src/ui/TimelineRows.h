#pragma once

#include "runtime/Clock.h"

#include <QAbstractListModel>
#include <QDate>
#include <QtQml/qqmlregistration.h>

#include <vector>

namespace pellux {

class RecordingListModel;

// The timeline's cards laid out in rows of one day each, for a list whose section headers name
// the days: every day starts a new row. The cards stay in the card model (the viewer and the
// selection walk its rows); a row names its first card and how many follow. A page appended at
// the end appends rows, so the list keeps its place while it scrolls; new cards above insert rows
// at the top, so it keeps its place while they arrive. Main thread.
class TimelineRows : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the search model")
    Q_PROPERTY(int columns READ columns WRITE setColumns NOTIFY columnsChanged)

public:
    enum Roles {
        // "Today", "Yesterday" or the day in the locale's long form.
        DayRole = Qt::UserRole + 1,
        // The row of its first card in the card model.
        FirstRole,
        // Its cards as maps of the card model's role names to values.
        CardsRole,
        // Whether it is its day's first row, which carries the day's header.
        StartsDayRole,
    };

    struct Row {
        int first = 0;
        int count = 0;
        QDate day;
    };
    // Cards of these days (newest first) in rows of at most `columns`, a new row for each day.
    static std::vector<Row> layout(const std::vector<QDate> &days, int columns);
    // The card selected after a navigation key in these rows (see SearchModel::selectionAfterKey):
    // Up and Down keep the column, or go to the last card of a shorter row.
    static int selectionAfterKey(const std::vector<Row> &rows, int current, int key);

    TimelineRows(RecordingListModel &cards, const Clock &clock, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    int columns() const { return m_columns; }
    void setColumns(int columns);
    const std::vector<Row> &rows() const { return m_rows; }
    // The row holding the card, or -1.
    Q_INVOKABLE int rowOfCard(int card) const;
    // The local date changed: "Today" and "Yesterday" name other days now.
    void relabelDays();

signals:
    void columnsChanged();

private:
    std::vector<QDate> daysOf(int first, int last) const;
    void relayout();
    void markStale();
    void appendCards(int first, int last);
    void prependCards(int added);

    RecordingListModel &m_cards;
    const Clock &m_clock;
    int m_columns = 1;
    std::vector<Row> m_rows;
    // The card model changed under the rows; they are laid out again when its change ends.
    bool m_stale = false;
};

} // namespace pellux
