#include "ui/RecordingListModel.h"

#include "ui/Formatting.h"

#include <QDateTime>
#include <QSet>
#include <QUrl>

namespace pellux {

RecordingListModel::RecordingListModel(const Clock &clock, QObject *parent)
    : QAbstractListModel(parent)
    , m_clock(clock)
{
    m_relativeTimeRefresh.setInterval(std::chrono::minutes(1));
    connect(&m_relativeTimeRefresh, &QTimer::timeout, this, [this] {
        if (!m_recordings.empty())
            emit dataChanged(index(0), index(count() - 1), { RelativeTimeRole });
    });
    m_relativeTimeRefresh.start();
}

int RecordingListModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : count(); }

QString RecordingListModel::imageSource(const Recording &recording)
{
    return QStringLiteral("image://recording/") + QString::fromLatin1(QUrl::toPercentEncoding(recording.localPath()));
}

QVariant RecordingListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Recording &recording = m_recordings[size_t(index.row())];
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
        return QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(recording.timestamp) * 1000.0));
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
    };
}

void RecordingListModel::setRecordings(std::vector<Recording> recordings)
{
    // Both lists are newest first, so recordings in both keep their order: one walk removes what
    // left and inserts what came, and the cards of the recordings that stay keep their images
    // (typing one more letter mostly narrows the results).
    const int before = count();
    // The incoming recordings not yet placed; an old row whose recording is not among them goes.
    QSet<QUuid> remaining;
    remaining.reserve(qsizetype(recordings.size()));
    for (const Recording &r : recordings)
        remaining.insert(r.id);
    size_t row = 0;
    size_t next = 0;
    while (row < m_recordings.size() || next < recordings.size()) {
        if (row < m_recordings.size() && next < recordings.size() && m_recordings[row].id == recordings[next].id) {
            remaining.remove(recordings[next].id);
            m_recordings[row] = std::move(recordings[next]);
            ++row;
            ++next;
            continue;
        }
        if (row < m_recordings.size() && !remaining.contains(m_recordings[row].id)) {
            size_t end = row + 1;
            while (end < m_recordings.size() && !remaining.contains(m_recordings[end].id))
                ++end;
            beginRemoveRows({}, int(row), int(end) - 1);
            m_recordings.erase(m_recordings.begin() + qsizetype(row), m_recordings.begin() + qsizetype(end));
            endRemoveRows();
            continue;
        }
        // recordings[next] is new here: it goes in before the current row, which comes later in
        // the incoming list.
        const Recording *stays = row < m_recordings.size() ? &m_recordings[row] : nullptr;
        size_t end = next + 1;
        while (end < recordings.size() && (!stays || recordings[end].id != stays->id))
            ++end;
        for (size_t i = next; i < end; ++i)
            remaining.remove(recordings[i].id);
        beginInsertRows({}, int(row), int(row + (end - next)) - 1);
        m_recordings.insert(m_recordings.begin() + qsizetype(row),
            std::make_move_iterator(recordings.begin() + qsizetype(next)),
            std::make_move_iterator(recordings.begin() + qsizetype(end)));
        endInsertRows();
        row += end - next;
        next = end;
    }
    if (!m_recordings.empty())
        emit dataChanged(index(0), index(count() - 1));
    if (count() != before)
        emit countChanged();
}

void RecordingListModel::appendRecordings(std::vector<Recording> recordings)
{
    if (recordings.empty())
        return;
    beginInsertRows({}, count(), count() + int(recordings.size()) - 1);
    m_recordings.insert(
        m_recordings.end(), std::make_move_iterator(recordings.begin()), std::make_move_iterator(recordings.end()));
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
    for (size_t i = 0; i < m_recordings.size(); ++i) {
        if (m_recordings[i].id == id)
            return int(i);
    }
    return -1;
}

} // namespace pellux
