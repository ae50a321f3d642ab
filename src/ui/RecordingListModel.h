#pragma once

#include "persistence/Recording.h"
#include "runtime/Clock.h"

#include <QAbstractListModel>
#include <QTimer>
#include <QtQml/qqmlregistration.h>
#include <functional>

#include <vector>

namespace pellux {

// The recordings a search produced, one row per card, in the order given (newest first).
class RecordingListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the search model")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Roles {
        IdRole = Qt::UserRole + 1,
        // "image://recording/<percent-encoded path>": the card's and the viewer's image.
        ImageSourceRole,
        FilePathRole,
        // The application's name, or "Unknown App".
        AppNameRole,
        WindowTitleRole,
        // "5 min. ago", computed when the card asks.
        RelativeTimeRole,
        TimestampRole,
    };
    Q_ENUM(Roles)

    explicit RecordingListModel(const Clock &clock = Clock::system(), QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // More rows when the view reaches the end: set by the owner while a longer list is being paged in.
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;
    void setFetchMore(std::function<void()> fetchMore) { m_fetchMore = std::move(fetchMore); }

    int count() const { return static_cast<int>(m_recordings.size()); }
    const std::vector<Recording> &recordings() const { return m_recordings; }
    void setRecordings(std::vector<Recording> recordings);
    void appendRecordings(std::vector<Recording> recordings);
    // The row of the recording with this id, or -1.
    int indexOf(const QUuid &id) const;

    static QString imageSource(const Recording &recording);

signals:
    void countChanged();

private:
    const Clock &m_clock;
    std::vector<Recording> m_recordings;
    // "5 min. ago" becomes "6 min. ago" while the cards are shown.
    QTimer m_relativeTimeRefresh;
    std::function<void()> m_fetchMore;
};

} // namespace pellux
