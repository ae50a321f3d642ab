#pragma once

#include "persistence/Recording.h"
#include "persistence/RecordingPage.h"
#include "persistence/Timeline.h"
#include "ui/DateFilters.h"
#include "ui/RecordingListModel.h"
#include "ui/TimelineRows.h"
#include "ui/TimelineUpdates.h"

#include <QObject>
#include <QStringList>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

#include <qcorotask.h>

namespace pellux {

class SimpleDatabaseManager;
class StorageManager;

// What the search window shows: the query, the application and date filters, the results and
// which of the six states fills the area below the search bar. Without a query it shows the
// timeline, every screenshot within the filters newest first, a page at a time; with one, the
// search results. Every edit of the query or a filter runs a search; the results of the last edit
// are the ones shown, whatever order the answers come in. Main thread.
class SearchModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the search window")
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    // The application filter; empty means all applications.
    Q_PROPERTY(QString selectedApp READ selectedApp WRITE setSelectedApp NOTIFY selectedAppChanged)
    Q_PROPERTY(bool isSearching READ isSearching NOTIFY isSearchingChanged)
    Q_PROPERTY(ContentState contentState READ contentState NOTIFY contentStateChanged)
    // Why the latest search or browse could not be answered ("Search failed: <reason>"); empty
    // unless the state is Failed.
    Q_PROPERTY(QString failure READ failure NOTIFY failureChanged)
    Q_PROPERTY(QStringList uniqueApps READ uniqueApps NOTIFY uniqueAppsChanged)
    // Why the application names could not be read; empty when they were.
    Q_PROPERTY(QString applicationsFailure READ applicationsFailure NOTIFY uniqueAppsChanged)
    Q_PROPERTY(int recordingCount READ recordingCount NOTIFY recordingCountChanged)
    Q_PROPERTY(pellux::RecordingListModel *results READ results CONSTANT)
    // The selected card, -1 for none. It follows its recording when the results change.
    Q_PROPERTY(int selectedIndex READ selectedIndex WRITE setSelectedIndex NOTIFY selectedIndexChanged)
    // True while the query is empty: the results are the timeline, in day rows.
    Q_PROPERTY(bool timelineMode READ timelineMode NOTIFY searchTextChanged)
    Q_PROPERTY(pellux::TimelineRows *timelineRows READ timelineRows CONSTANT)
    // The date filter's chip name ("today", "yesterday", "last7", "last30", "range"), empty for none.
    Q_PROPERTY(QString dateFilter READ dateFilterName NOTIFY dateRangeChanged)
    // The days it covers ("Today", "1 Dec – 7 Dec 2026"); empty for none.
    Q_PROPERTY(QString rangeLabel READ rangeLabel NOTIFY dateRangeChanged)
    // How many screenshots the filters and the query hold ("132 screenshots", "100+ screenshots");
    // empty until known.
    Q_PROPERTY(QString countText READ countText NOTIFY countTextChanged)

public:
    static constexpr int minimumQueryLength = 3;

    enum class ContentState { BlankSlate, Searching, MinimumCharacters, NoResults, Results, Failed };
    Q_ENUM(ContentState)

    SearchModel(SimpleDatabaseManager &database, StorageManager &storage, const Clock &clock = Clock::system(),
        QObject *parent = nullptr);
    ~SearchModel() override;

    // The state the area below the search bar shows.
    // Without a query the blank slate is only for an empty history: no filter and nothing found.
    static ContentState contentStateFor(const QString &query, bool appSelected, bool isSearching, bool hasResults,
        bool failed, bool dateFiltered = false);
    static constexpr int kTimelinePageSize = 120;
    // The card selected after a navigation key (Qt::Key_Left/Right/Up/Down/Home/End) in a grid of
    // `columns` columns and `count` cards; -1 (nothing selected) hands the keys back to the search
    // field. Other keys leave the selection unchanged.
    static int selectionAfterKey(int current, int key, int columns, int count);

    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    QString selectedApp() const { return m_selectedApp; }
    void setSelectedApp(const QString &app);
    bool isSearching() const { return m_isSearching; }
    ContentState contentState() const;
    QString failure() const { return m_failure; }
    QStringList uniqueApps() const { return m_uniqueApps; }
    QString applicationsFailure() const { return m_applicationsFailure; }
    int recordingCount() const;
    RecordingListModel *results() { return &m_results; }
    int selectedIndex() const { return m_selectedIndex; }
    void setSelectedIndex(int index);

    // A chip was clicked: selects its application, or returns to all applications when it is the
    // one already selected.
    Q_INVOKABLE void toggleApp(const QString &app);
    // The "+N" badge of the card at `row` was clicked: shows or hides the cards like it.
    Q_INVOKABLE void toggleSimilar(int row);
    // Applies a navigation key to the selection; true when the key was used.
    Q_INVOKABLE bool navigate(int key, int columns);

    // A date chip was clicked: selects its filter, or none when it is the one selected. "range"
    // asks for the days instead (rangePickRequested); setDateRange applies them. "day" asks for
    // the day view (dayViewRequested).
    Q_INVOKABLE void toggleDateFilter(const QString &name);
    Q_INVOKABLE void setDateRange(QDate first, QDate last);
    Q_INVOKABLE void clearDateRange();
    // The day view's "open": the window shows that day's captures, every application's, with
    // no query, and selects the recording once its page is in (paging in as far as it lies);
    // `revealed` then names its row. A query or filter changed meanwhile wins.
    void reveal(const QUuid &recordingId, QDate day);
    // The capture times the date filter lets through, as of the clock's today.
    TimeRange timeRange() const;

    bool timelineMode() const { return m_searchText.isEmpty(); }
    TimelineRows *timelineRows() { return &m_rows; }
    QString dateFilterName() const { return date_filters::name(m_dateFilter); }
    QString rangeLabel() const;
    QString countText() const { return m_countText; }
    // The notices of saves and of the date changing that keep the window current.
    TimelineUpdates &updates() { return m_updates; }

    // Reloads the application names from the store.
    QCoro::Task<> refreshUniqueApps();
    // Runs the search rules for the current query and filter.
    void performSearch();

signals:
    void searchTextChanged();
    void selectedAppChanged();
    void isSearchingChanged();
    void contentStateChanged();
    void failureChanged();
    void uniqueAppsChanged();
    void recordingCountChanged();
    void selectedIndexChanged();
    // The selection went to another card, or its card moved among new results: the view brings it
    // into sight. Not for cards of new captures arriving above it, which leave the view in place.
    void selectionMoved();
    // A search or browse finished and its results are shown.
    void resultsShown();
    void dateRangeChanged();
    void countTextChanged();
    // "Pick a range" was chosen: the days are to be asked for.
    void rangePickRequested();
    // "Day view" was chosen: one day's captures along the timeline bar are to be shown.
    void dayViewRequested();
    // The recording `reveal` asked for is selected at `row`: the viewer is to show it.
    void revealed(int row);

private:
    // One application's recordings, a page at a time: the first page at once, the next ones as
    // the grid reaches the end.
    void browseTimeline(quint64 generation);
    void fetchNextPage(RecordingPageCursor after, quint64 generation);
    void countTimeline(quint64 generation);
    // Screenshots were saved: the timeline gains those newer than its newest card, one small page
    // read from there, above the cards shown. A search keeps its answer.
    void showNewCaptures();
    void prependNewCaptures(RecordingPage page, std::optional<TimePoint> since);
    // The local date changed: the day words are worked out again and a preset's days move on.
    void followToday();
    void setCountText(const QString &text);
    // Selects the recording being revealed once it is among the results, or asks for the next page.
    void continueReveal(quint64 generation);
    std::optional<QString> appFilter() const;
    void setNextPage(std::optional<RecordingPageCursor> next);
    void showResults(
        std::vector<Recording> recordings, const QString &failure = {}, const std::vector<SearchHit> &hits = {});
    // Keeps the selection on its recording, or on the card it was folded into, as the rows change.
    void followSelection();
    void setFailure(const QString &reason);
    void setIsSearching(bool on);
    void updateContentState();

    SimpleDatabaseManager &m_database;
    StorageManager &m_storage;
    const Clock &m_clock;
    RecordingListModel m_results;
    TimelineRows m_rows;
    TimelineUpdates m_updates;
    DateFilter m_dateFilter = DateFilter::None;
    // The days of a picked range.
    QDate m_pickedFirst;
    QDate m_pickedLast;
    QString m_countText;
    // The filtered timeline's count, grown by the new captures shown; absent when the store's
    // count is the one shown, or until the database answers.
    std::optional<qint64> m_timelineCount;
    QString m_searchText;
    QString m_selectedApp;
    QString m_failure;
    QStringList m_uniqueApps;
    QString m_applicationsFailure;
    bool m_isSearching = false;
    ContentState m_contentState = ContentState::BlankSlate;
    int m_selectedIndex = -1;
    QUuid m_selectedId;
    // Counts the searches started; an answer for an older one is dropped.
    quint64 m_generation = 0;
    quint64 m_appsGeneration = 0;
    std::optional<RecordingPageCursor> m_nextPage;
    bool m_fetchingPage = false;
    struct Reveal {
        QUuid id;
        quint64 generation = 0;
    };
    std::optional<Reveal> m_reveal;
};

} // namespace pellux
