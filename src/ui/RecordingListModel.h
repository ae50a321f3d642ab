#pragma once

#include "persistence/Recording.h"
#include "persistence/RecordingPage.h"
#include "runtime/Clock.h"

#include <QAbstractListModel>
#include <QLocale>
#include <QTimer>
#include <QtQml/qqmlregistration.h>
#include <functional>

#include <vector>

namespace pellux {

// The recordings a search produced, one row per card, in the order given (newest first).
// Consecutive results of one window (application and title) showing the same text are one card
// with a "+N" badge until it is expanded: the rows are the cards shown, so the keyboard, Enter
// and the viewer all walk what is on screen.
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
        // "Tuesday, 8 December 2026, 20:37:10" in the locale's long format.
        AbsoluteTimeRole,
        // The matched line as styled text (escaped, the query in <b>); empty for none.
        SnippetRole,
        // On a group's first card, how many cards like it follow; 0 elsewhere.
        SimilarCountRole,
        // Whether those cards are shown.
        ExpandedRole,
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

    // The cards shown.
    int count() const { return static_cast<int>(m_shown.size()); }
    const Recording &recordingAt(int row) const { return m_shown[size_t(row)].recording; }
    std::vector<Recording> recordings() const;
    // `hits` is empty, or one per recording (a text search's): then like results collapse.
    void setRecordings(std::vector<Recording> recordings, const std::vector<SearchHit> &hits = {});
    void appendRecordings(std::vector<Recording> recordings) { insertRecordings(count(), std::move(recordings)); }
    // Newer recordings above the cards shown, each a card of its own.
    void prependRecordings(std::vector<Recording> recordings) { insertRecordings(0, std::move(recordings)); }
    // Takes a deleted recording out; the next of its group, if any, heads the group now.
    void remove(const QUuid &id);
    // The row of the recording with this id among the cards shown, or -1.
    int indexOf(const QUuid &id) const;
    // Shows or hides the cards like the one at `row`; false when it has none.
    bool toggleSimilar(int row);
    // The first card of the group the recording belongs to (itself when alone), or a null id.
    QUuid groupHead(const QUuid &id) const;

    static QString imageSource(const Recording &recording);
    static QString absoluteTime(const QDateTime &when, const QLocale &locale = QLocale());

signals:
    void countChanged();

private:
    struct Card {
        Recording recording;
        QString snippet;
        std::optional<size_t> textKey;
        int similar = 0;
        bool expanded = false;
        QUuid head;
    };

    void show(std::vector<Card> cards);
    // At `row`, 0 or the end: the rows paged or prepended are ungrouped, every result shown.
    void insertRecordings(int row, std::vector<Recording> recordings);
    // The roles whose values differ between two cards of one recording; none when they look the same.
    static QList<int> changedRoles(const Card &a, const Card &b);
    std::vector<Card> visible() const;

    const Clock &m_clock;
    // Every result, and the cards shown of them.
    std::vector<Card> m_all;
    std::vector<Card> m_shown;
    // "5 min. ago" becomes "6 min. ago" while the cards are shown.
    QTimer m_relativeTimeRefresh;
    std::function<void()> m_fetchMore;
};

} // namespace pellux
