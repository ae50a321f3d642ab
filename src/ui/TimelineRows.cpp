#include "ui/TimelineRows.h"

#include "persistence/Timeline.h"
#include "ui/DateFilters.h"
#include "ui/RecordingListModel.h"

#include <algorithm>

namespace pellux {

std::vector<TimelineRows::Row> TimelineRows::layout(const std::vector<QDate> &days, int columns)
{
    columns = std::max(1, columns);
    std::vector<Row> rows;
    for (size_t i = 0; i < days.size(); ++i) {
        if (rows.empty() || rows.back().day != days[i] || rows.back().count == columns)
            rows.push_back({ int(i), 0, days[i] });
        ++rows.back().count;
    }
    return rows;
}

int TimelineRows::selectionAfterKey(const std::vector<Row> &rows, int current, int key)
{
    const int count = rows.empty() ? 0 : rows.back().first + rows.back().count;
    if (count == 0)
        return -1;
    if (current < 0 || current >= count)
        return key == Qt::Key_Down ? 0 : current;
    const auto row = std::upper_bound(rows.begin(), rows.end(), current, [](int card, const Row &r) {
        return card < r.first;
    }) - 1;
    const int column = current - row->first;
    const auto inRow = [column](const Row &r) { return r.first + std::min(column, r.count - 1); };
    switch (key) {
    case Qt::Key_Left:
        return std::max(0, current - 1);
    case Qt::Key_Right:
        return std::min(count - 1, current + 1);
    case Qt::Key_Up:
        return row == rows.begin() ? -1 : inRow(*(row - 1));
    case Qt::Key_Down:
        return row + 1 == rows.end() ? current : inRow(*(row + 1));
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return count - 1;
    default:
        return current;
    }
}

TimelineRows::TimelineRows(RecordingListModel &cards, const Clock &clock, QObject *parent)
    : QAbstractListModel(parent)
    , m_cards(cards)
    , m_clock(clock)
{
    // A page appended or new cards above grow the list. Any other change lays it out again, once:
    // new results arrive as many removals and insertions, and the card model ends them with
    // dataChanged.
    connect(&m_cards, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
        const int placed = m_rows.empty() ? 0 : m_rows.back().first + m_rows.back().count;
        if (!m_stale && first == placed)
            appendCards(first, last);
        else if (!m_stale && first == 0)
            prependCards(last + 1);
        else
            markStale();
    });
    connect(&m_cards, &QAbstractItemModel::rowsRemoved, this, &TimelineRows::markStale);
    connect(&m_cards, &QAbstractItemModel::modelReset, this, &TimelineRows::relayout);
    connect(&m_cards, &QAbstractItemModel::dataChanged, this, [this] {
        if (m_stale)
            relayout();
        else if (!m_rows.empty())
            emit dataChanged(index(0), index(rowCount() - 1), { CardsRole });
    });
    connect(&m_cards, &RecordingListModel::countChanged, this, [this] {
        if (m_stale)
            relayout();
    });
}

void TimelineRows::markStale()
{
    if (m_stale)
        return;
    m_stale = true;
    // In case the change ends without a signal that lays the rows out.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_stale)
                relayout();
        },
        Qt::QueuedConnection);
}

int TimelineRows::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

QVariant TimelineRows::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows[size_t(index.row())];
    if (m_stale || row.first + row.count > m_cards.count())
        return {};
    switch (role) {
    case DayRole:
        return date_filters::dayLabel(row.day, localDay(m_clock.now()));
    case FirstRole:
        return row.first;
    case CardsRole: {
        const QHash<int, QByteArray> roles = m_cards.roleNames();
        QVariantList cards;
        for (int card = row.first; card < row.first + row.count; ++card) {
            QVariantMap values;
            const QModelIndex at = m_cards.index(card);
            for (auto role = roles.begin(); role != roles.end(); ++role)
                values.insert(QString::fromLatin1(role.value()), m_cards.data(at, role.key()));
            cards.append(values);
        }
        return cards;
    }
    case StartsDayRole:
        return index.row() == 0 || m_rows[size_t(index.row()) - 1].day != row.day;
    default:
        return {};
    }
}

QHash<int, QByteArray> TimelineRows::roleNames() const
{
    return { { DayRole, "day" }, { FirstRole, "first" }, { CardsRole, "cards" }, { StartsDayRole, "startsDay" } };
}

bool TimelineRows::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && m_cards.canFetchMore({});
}

void TimelineRows::fetchMore(const QModelIndex &parent)
{
    if (!parent.isValid())
        m_cards.fetchMore({});
}

void TimelineRows::setColumns(int columns)
{
    columns = std::max(1, columns);
    if (columns == m_columns)
        return;
    m_columns = columns;
    relayout();
    emit columnsChanged();
}

int TimelineRows::rowOfCard(int card) const
{
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (card >= m_rows[i].first && card < m_rows[i].first + m_rows[i].count)
            return int(i);
    }
    return -1;
}

void TimelineRows::relabelDays()
{
    if (!m_rows.empty())
        emit dataChanged(index(0), index(rowCount() - 1), { DayRole });
}

std::vector<QDate> TimelineRows::daysOf(int first, int last) const
{
    std::vector<QDate> days;
    days.reserve(size_t(std::max(0, last - first + 1)));
    for (int card = first; card <= last; ++card)
        days.push_back(localDay(m_cards.recordingAt(card).timestamp));
    return days;
}

void TimelineRows::relayout()
{
    m_stale = false;
    beginResetModel();
    m_rows = layout(daysOf(0, m_cards.count() - 1), m_columns);
    endResetModel();
}

void TimelineRows::appendCards(int first, int last)
{
    std::vector<Row> added = layout(daysOf(first, last), m_columns);
    for (Row &row : added)
        row.first += first;
    // The first cards may complete the last row of their day.
    if (!m_rows.empty() && !added.empty() && m_rows.back().day == added.front().day) {
        Row &open = m_rows.back();
        const int taken = std::min(m_columns - open.count, added.front().count);
        if (taken > 0) {
            open.count += taken;
            emit dataChanged(index(rowCount() - 1), index(rowCount() - 1));
            added.front().first += taken;
            added.front().count -= taken;
            if (added.front().count == 0)
                added.erase(added.begin());
            else {
                // Its remaining cards fill the rows after it again.
                std::vector<QDate> rest = daysOf(added.front().first, last);
                const int from = added.front().first;
                added = layout(rest, m_columns);
                for (Row &row : added)
                    row.first += from;
            }
        }
    }
    if (added.empty())
        return;
    beginInsertRows({}, rowCount(), rowCount() + int(added.size()) - 1);
    m_rows.insert(m_rows.end(), added.begin(), added.end());
    endInsertRows();
}

void TimelineRows::prependCards(int added)
{
    // The new cards and the rows of the day they join are laid out again; the rows of the days
    // below keep their cards and only move down by `added`.
    const QDate joined = localDay(m_cards.recordingAt(added - 1).timestamp);
    size_t kept = 0;
    while (kept < m_rows.size() && m_rows[kept].day == joined)
        ++kept;
    const int relaid = added + (kept == 0 ? 0 : m_rows[kept - 1].first + m_rows[kept - 1].count);
    std::vector<Row> rows = layout(daysOf(0, relaid - 1), m_columns);
    const int top = int(rows.size());
    const int inserted = top - int(kept);
    for (size_t i = kept; i < m_rows.size(); ++i)
        rows.push_back({ m_rows[i].first + added, m_rows[i].count, m_rows[i].day });
    if (inserted > 0)
        beginInsertRows({}, 0, inserted - 1);
    m_rows = std::move(rows);
    if (inserted > 0)
        endInsertRows();
    if (kept > 0)
        emit dataChanged(index(inserted), index(top - 1));
    if (top < rowCount())
        emit dataChanged(index(top), index(rowCount() - 1), { FirstRole });
}

} // namespace pellux
