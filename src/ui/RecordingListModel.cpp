#include "ui/RecordingListModel.h"

#include "ui/Formatting.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <algorithm>

namespace pellux {

RecordingListModel::RecordingListModel(const Clock &clock, QObject *parent)
    : QAbstractListModel(parent)
    , m_clock(clock)
{
    m_relativeTimeRefresh.setInterval(std::chrono::minutes(1));
    connect(&m_relativeTimeRefresh, &QTimer::timeout, this, [this] {
        if (!m_shown.empty())
            emit dataChanged(index(0), index(count() - 1), { RelativeTimeRole });
    });
    m_relativeTimeRefresh.start();
}

int RecordingListModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : count(); }

QString RecordingListModel::imageSource(const Recording &recording)
{
    return QStringLiteral("image://recording/") + QString::fromLatin1(QUrl::toPercentEncoding(recording.localPath()));
}

QString RecordingListModel::absoluteTime(const QDateTime &when, const QLocale &locale)
{
    // The long time format names the time zone ("Coordinated Universal Time"), which says nothing
    // about a capture on this machine. Worked out once per locale: cards ask for every row built.
    thread_local QString formatLocale;
    thread_local QString timeFormat;
    if (formatLocale != locale.name() || timeFormat.isEmpty()) {
        formatLocale = locale.name();
        timeFormat = locale.timeFormat(QLocale::LongFormat);
        timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
        timeFormat = timeFormat.trimmed();
    }
    return QStringLiteral("%1, %2").arg(
        locale.toString(when.date(), QLocale::LongFormat), locale.toString(when.time(), timeFormat));
}

QVariant RecordingListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Card &card = m_shown[size_t(index.row())];
    const Recording &recording = card.recording;
    const auto dateTime
        = [&] { return QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(recording.timestamp) * 1000.0)); };
    switch (role) {
    case IdRole:
        return recording.idText();
    case ImageSourceRole:
        return imageSource(recording);
    case FilePathRole:
        return recording.localPath();
    case Qt::DisplayRole:
    case AppNameRole:
        return recording.appName.value_or(QStringLiteral("Unknown App"));
    case WindowTitleRole:
        return recording.windowTitle.value_or(QString());
    case RelativeTimeRole:
        return abbreviatedRelativeTime(recording.timestamp, m_clock.now());
    case TimestampRole:
        return dateTime();
    case AbsoluteTimeRole:
        return absoluteTime(dateTime());
    case SnippetRole:
        return card.snippet;
    case SimilarCountRole:
        return card.similar;
    case ExpandedRole:
        return card.expanded;
    default:
        return {};
    }
}

QHash<int, QByteArray> RecordingListModel::roleNames() const
{
    return {
        { IdRole, "recordingId" },
        { ImageSourceRole, "imageSource" },
        { FilePathRole, "filePath" },
        { AppNameRole, "appName" },
        { WindowTitleRole, "windowTitle" },
        { RelativeTimeRole, "relativeTime" },
        { TimestampRole, "timestamp" },
        { AbsoluteTimeRole, "absoluteTime" },
        { SnippetRole, "snippet" },
        { SimilarCountRole, "similarCount" },
        { ExpandedRole, "expanded" },
    };
}

std::vector<Recording> RecordingListModel::recordings() const
{
    std::vector<Recording> shown;
    shown.reserve(m_shown.size());
    for (const Card &card : m_shown)
        shown.push_back(card.recording);
    return shown;
}

std::vector<RecordingListModel::Card> RecordingListModel::visible() const
{
    std::vector<Card> cards;
    bool hiding = false;
    for (const Card &card : m_all) {
        if (card.head == card.recording.id)
            hiding = !card.expanded;
        else if (hiding)
            continue;
        cards.push_back(card);
    }
    return cards;
}

void RecordingListModel::setRecordings(std::vector<Recording> recordings, const std::vector<SearchHit> &hits)
{
    QSet<QUuid> expanded;
    for (const Card &card : m_all) {
        if (card.expanded)
            expanded.insert(card.recording.id);
    }
    const bool grouped = hits.size() == recordings.size();
    std::vector<Card> all;
    all.reserve(recordings.size());
    std::optional<size_t> head; // the first card of the group the last card belongs to
    for (size_t i = 0; i < recordings.size(); ++i) {
        Card card { std::move(recordings[i]), {}, {}, 0, false, {} };
        if (grouped) {
            card.textKey = hits[i].textKey;
            if (hits[i].snippet)
                card.snippet = search_snippet::markup(*hits[i].snippet);
        }
        if (head && card.textKey && all[*head].textKey == card.textKey
            && all[*head].recording.appName == card.recording.appName
            && all[*head].recording.windowTitle == card.recording.windowTitle) {
            card.head = all[*head].recording.id;
            ++all[*head].similar;
        } else {
            head = all.size();
            card.head = card.recording.id;
            card.expanded = expanded.contains(card.recording.id);
        }
        all.push_back(std::move(card));
    }
    for (Card &card : all) {
        if (card.similar == 0)
            card.expanded = false;
    }
    m_all = std::move(all);
    std::vector<Card> cards = visible();
    // An answer led by another card is another list: views keep a card they still hold in place
    // when cards come in above it, which would leave them scrolled away from the newest.
    if (!m_shown.empty() && (cards.empty() || cards.front().recording.id != m_shown.front().recording.id)) {
        const int before = count();
        beginResetModel();
        m_shown = std::move(cards);
        endResetModel();
        if (count() != before)
            emit countChanged();
        return;
    }
    show(std::move(cards));
}

void RecordingListModel::remove(const QUuid &id)
{
    const auto gone = std::find_if(m_all.begin(), m_all.end(), [&](const Card &c) { return c.recording.id == id; });
    if (gone == m_all.end())
        return;
    if (gone->head == id) {
        const auto next = gone + 1;
        if (next != m_all.end() && next->head == id) {
            next->similar = gone->similar - 1;
            next->expanded = gone->expanded && next->similar > 0;
            const QUuid newHead = next->recording.id;
            for (auto it = next; it != m_all.end() && it->head == id; ++it)
                it->head = newHead;
        }
    } else {
        const auto head
            = std::find_if(m_all.begin(), gone, [&](const Card &c) { return c.recording.id == gone->head; });
        if (head != gone && --head->similar == 0)
            head->expanded = false;
    }
    m_all.erase(gone);
    show(visible());
}

QList<int> RecordingListModel::changedRoles(const Card &a, const Card &b)
{
    QList<int> roles;
    if (a.recording.filePath != b.recording.filePath)
        roles << ImageSourceRole << FilePathRole;
    if (a.recording.appName != b.recording.appName)
        roles << Qt::DisplayRole << AppNameRole;
    if (a.recording.windowTitle != b.recording.windowTitle)
        roles << WindowTitleRole;
    if (a.recording.timestamp != b.recording.timestamp)
        roles << RelativeTimeRole << TimestampRole << AbsoluteTimeRole;
    if (a.snippet != b.snippet)
        roles << SnippetRole;
    if (a.similar != b.similar)
        roles << SimilarCountRole;
    if (a.expanded != b.expanded)
        roles << ExpandedRole;
    return roles;
}

void RecordingListModel::show(std::vector<Card> cards)
{
    // Both lists are newest first, so cards in both keep their order: one walk removes what
    // left and inserts what came, and the cards of the recordings that stay keep their images
    // (typing one more letter mostly narrows the results).
    const int before = count();
    // The incoming cards not yet placed; an old row whose recording is not among them goes.
    QSet<QUuid> remaining;
    remaining.reserve(qsizetype(cards.size()));
    for (const Card &c : cards)
        remaining.insert(c.recording.id);
    // Rows that stay but show something else (a new snippet, another "+N"): only those are
    // told, and only of what changed, so that a card whose snippet alone changed does not
    // format its times again and the cards whose text is the same are not laid out again.
    std::vector<std::pair<int, QList<int>>> changed;
    size_t row = 0;
    size_t next = 0;
    while (row < m_shown.size() || next < cards.size()) {
        if (row < m_shown.size() && next < cards.size() && m_shown[row].recording.id == cards[next].recording.id) {
            remaining.remove(cards[next].recording.id);
            if (QList<int> roles = changedRoles(m_shown[row], cards[next]); !roles.isEmpty())
                changed.emplace_back(int(row), std::move(roles));
            m_shown[row] = std::move(cards[next]);
            ++row;
            ++next;
            continue;
        }
        if (row < m_shown.size() && !remaining.contains(m_shown[row].recording.id)) {
            size_t end = row + 1;
            while (end < m_shown.size() && !remaining.contains(m_shown[end].recording.id))
                ++end;
            beginRemoveRows({}, int(row), int(end) - 1);
            m_shown.erase(m_shown.begin() + qsizetype(row), m_shown.begin() + qsizetype(end));
            endRemoveRows();
            continue;
        }
        // cards[next] is new here: it goes in before the current row, which comes later in the
        // incoming list.
        const Card *stays = row < m_shown.size() ? &m_shown[row] : nullptr;
        size_t end = next + 1;
        while (end < cards.size() && (!stays || cards[end].recording.id != stays->recording.id))
            ++end;
        for (size_t i = next; i < end; ++i)
            remaining.remove(cards[i].recording.id);
        beginInsertRows({}, int(row), int(row + (end - next)) - 1);
        m_shown.insert(m_shown.begin() + qsizetype(row), std::make_move_iterator(cards.begin() + qsizetype(next)),
            std::make_move_iterator(cards.begin() + qsizetype(end)));
        endInsertRows();
        row += end - next;
        next = end;
    }
    // The walk edits only at or after its current row, so the rows recorded stay where they were.
    for (size_t i = 0; i < changed.size();) {
        size_t end = i + 1;
        while (end < changed.size() && changed[end].first == changed[end - 1].first + 1
            && changed[end].second == changed[i].second)
            ++end;
        emit dataChanged(index(changed[i].first), index(changed[end - 1].first), changed[i].second);
        i = end;
    }
    if (count() != before)
        emit countChanged();
}

bool RecordingListModel::toggleSimilar(int row)
{
    if (row < 0 || row >= count() || m_shown[size_t(row)].similar == 0)
        return false;
    const QUuid id = m_shown[size_t(row)].recording.id;
    for (Card &card : m_all) {
        if (card.recording.id == id)
            card.expanded = !card.expanded;
    }
    show(visible());
    return true;
}

QUuid RecordingListModel::groupHead(const QUuid &id) const
{
    for (const Card &card : m_all) {
        if (card.recording.id == id)
            return card.head;
    }
    return {};
}

void RecordingListModel::insertRecordings(int row, std::vector<Recording> recordings)
{
    if (recordings.empty())
        return;
    std::vector<Card> cards;
    cards.reserve(recordings.size());
    for (Recording &recording : recordings) {
        const QUuid id = recording.id;
        cards.push_back({ std::move(recording), {}, {}, 0, false, id });
    }
    beginInsertRows({}, row, row + int(cards.size()) - 1);
    m_all.insert(row == 0 ? m_all.begin() : m_all.end(), cards.begin(), cards.end());
    m_shown.insert(m_shown.begin() + row, std::make_move_iterator(cards.begin()), std::make_move_iterator(cards.end()));
    endInsertRows();
    emit countChanged();
}

bool RecordingListModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && bool(m_fetchMore);
}

void RecordingListModel::fetchMore(const QModelIndex &parent)
{
    if (!parent.isValid() && m_fetchMore)
        m_fetchMore();
}

int RecordingListModel::indexOf(const QUuid &id) const
{
    for (size_t i = 0; i < m_shown.size(); ++i) {
        if (m_shown[i].recording.id == id)
            return int(i);
    }
    return -1;
}

} // namespace pellux
