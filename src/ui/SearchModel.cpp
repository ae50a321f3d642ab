#include "ui/SearchModel.h"

#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Characters.h"
#include "runtime/Log.h"
#include "storage/StorageManager.h"

#include <QPointer>
#include <QSet>

#include <algorithm>

namespace pellux {

SearchModel::SearchModel(SimpleDatabaseManager &database, StorageManager &storage, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_storage(storage)
    , m_clock(clock)
    , m_results(clock)
    , m_rows(m_results, clock)
    , m_updates(storage, clock)
{
    connect(&m_storage, &StorageManager::recordingsChanged, this, &SearchModel::recordingCountChanged);
    connect(&m_storage, &StorageManager::recordingsChanged, this, [this] {
        // The whole history's count is the store's, kept current by saves.
        if (timelineMode() && m_selectedApp.isEmpty() && m_dateFilter == DateFilter::None)
            setCountText(date_filters::countText(m_storage.recordingCount()));
    });
    connect(&m_storage, &StorageManager::applicationsChanged, this, [this] { refreshUniqueApps(); });
    connect(&m_results, &RecordingListModel::countChanged, this, &SearchModel::updateContentState);
    connect(&m_updates, &TimelineUpdates::capturesSaved, this, &SearchModel::showNewCaptures);
    connect(&m_updates, &TimelineUpdates::todayChanged, this, &SearchModel::followToday);
    // The window opens on the timeline: its first page is asked for before the window is built.
    performSearch();
    refreshUniqueApps();
}

SearchModel::~SearchModel() = default;

SearchModel::ContentState SearchModel::contentStateFor(
    const QString &query, bool appSelected, bool isSearching, bool hasResults, bool failed, bool dateFiltered)
{
    // A failed search is not an empty one: "No results found" would be a wrong answer.
    const ContentState results
        = failed ? ContentState::Failed : (hasResults ? ContentState::Results : ContentState::NoResults);
    if (query.isEmpty()) {
        if (isSearching)
            return ContentState::Searching;
        if (!appSelected && !dateFiltered && !failed && !hasResults)
            return ContentState::BlankSlate;
        return results;
    }
    if (isSearching)
        return ContentState::Searching;
    // One rule with or without an application chip: a query too short to search says so.
    if (characterCount(query) >= minimumQueryLength)
        return results;
    return ContentState::MinimumCharacters;
}

int SearchModel::selectionAfterKey(int current, int key, int columns, int count)
{
    if (count <= 0)
        return -1;
    columns = std::max(1, columns);
    if (current < 0 || current >= count) {
        // From the search field only Down enters the grid.
        return key == Qt::Key_Down ? 0 : current;
    }
    switch (key) {
    case Qt::Key_Left:
        return std::max(0, current - 1);
    case Qt::Key_Right:
        return std::min(count - 1, current + 1);
    case Qt::Key_Up:
        // Up from the first row goes back to the search field.
        return current - columns >= 0 ? current - columns : -1;
    case Qt::Key_Down: {
        if (current + columns < count)
            return current + columns;
        // Into the last, shorter row when there is one below.
        const int lastRowStart = (count - 1) / columns * columns;
        return current < lastRowStart ? count - 1 : current;
    }
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return count - 1;
    default:
        return current;
    }
}

SearchModel::ContentState SearchModel::contentState() const { return m_contentState; }

int SearchModel::recordingCount() const { return m_storage.recordingCount(); }

void SearchModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    // The search is asked for first: the database answers while the window follows the text.
    performSearch();
    emit searchTextChanged();
}

void SearchModel::setSelectedApp(const QString &app)
{
    if (app == m_selectedApp)
        return;
    m_selectedApp = app;
    emit selectedAppChanged();
    performSearch();
}

void SearchModel::toggleApp(const QString &app) { setSelectedApp(app == m_selectedApp ? QString() : app); }

void SearchModel::setSelectedIndex(int index)
{
    if (index < -1 || index >= m_results.count())
        index = -1;
    const QUuid id = index >= 0 ? m_results.recordingAt(index).id : QUuid();
    m_selectedId = id;
    if (index == m_selectedIndex)
        return;
    m_selectedIndex = index;
    emit selectedIndexChanged();
    emit selectionMoved();
}

bool SearchModel::navigate(int key, int columns)
{
    int next = 0;
    if (timelineMode()) {
        m_rows.setColumns(columns);
        next = TimelineRows::selectionAfterKey(m_rows.rows(), m_selectedIndex, key);
    } else {
        next = selectionAfterKey(m_selectedIndex, key, columns, m_results.count());
    }
    if (next != m_selectedIndex) {
        setSelectedIndex(next);
        return true;
    }
    // At the edge of the grid the key is still the grid's, not the search field's.
    static constexpr int kNavigationKeys[]
        = { Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End };
    return m_selectedIndex >= 0
        && std::find(std::begin(kNavigationKeys), std::end(kNavigationKeys), key) != std::end(kNavigationKeys);
}

void SearchModel::performSearch()
{
    const quint64 generation = ++m_generation;
    // An earlier search still under way is outdated from here on: its answer will be dropped,
    // so it no longer counts as searching.
    // The pages of the previous results are not this search's.
    setNextPage(std::nullopt);
    if (!m_searchText.isEmpty() && characterCount(m_searchText) < minimumQueryLength) {
        showResults({});
        setCountText({});
        setIsSearching(false);
        return;
    }
    setFailure({});
    setIsSearching(true);
    if (m_searchText.isEmpty()) {
        browseTimeline(generation);
        return;
    }
    QPointer<SearchModel> self(this);
    m_database.findText(m_searchText, appFilter(), timeRange(), SimpleDatabaseManager::kSearchLimit,
        [self, generation](SearchAnswer answer) {
            if (!self || generation != self->m_generation)
                return;
            // A search stops at its limit: more may match than it answered.
            const auto found = qint64(answer.recordings.size());
            self->setCountText(answer.error.isEmpty()
                    ? date_filters::countText(found, found >= SimpleDatabaseManager::kSearchLimit)
                    : QString());
            self->showResults(std::move(answer.recordings), answer.error, answer.hits);
            self->setIsSearching(false);
            emit self->resultsShown();
        });
}

std::optional<QString> SearchModel::appFilter() const
{
    return m_selectedApp.isEmpty() ? std::nullopt : std::optional<QString>(m_selectedApp);
}

void SearchModel::browseTimeline(quint64 generation)
{
    QPointer<SearchModel> self(this);
    m_database.timelinePage(appFilter(), timeRange(), StorageManager::kBrowsePageSize, std::nullopt,
        [self, generation](RecordingPage page) {
            if (!self || generation != self->m_generation)
                return;
            self->showResults(std::move(page.recordings), page.error);
            self->setNextPage(page.next);
            self->setIsSearching(false);
            emit self->resultsShown();
            self->continueReveal(generation);
        });
    // Counted after the page, on the same queue: the cards come first.
    countTimeline(generation);
}

void SearchModel::countTimeline(quint64 generation)
{
    m_timelineCount.reset();
    if (m_selectedApp.isEmpty() && m_dateFilter == DateFilter::None) {
        setCountText(date_filters::countText(m_storage.recordingCount()));
        return;
    }
    setCountText({});
    QPointer<SearchModel> self(this);
    m_database.countTimeline(appFilter(), timeRange(), [self, generation](std::optional<qint64> count) {
        if (!self || generation != self->m_generation || !count)
            return;
        self->m_timelineCount = count;
        self->setCountText(date_filters::countText(*count));
    });
}

void SearchModel::showNewCaptures()
{
    // A browse under way was asked after the save and holds its screenshots; a failed one is not
    // to be taken for the whole timeline by adding to it.
    if (!timelineMode() || m_isSearching || !m_failure.isEmpty())
        return;
    TimeRange range = timeRange();
    if (m_results.count() > 0) {
        const TimePoint newest = m_results.recordingAt(0).timestamp;
        range.since = range.since ? std::max(*range.since, newest) : newest;
    }
    if (range.since && range.until && *range.since >= *range.until)
        return;
    QPointer<SearchModel> self(this);
    m_database.timelinePage(appFilter(), range, StorageManager::kBrowsePageSize, std::nullopt,
        [self, generation = m_generation, since = range.since](RecordingPage page) {
            if (self && generation == self->m_generation && page.error.isEmpty())
                self->prependNewCaptures(std::move(page), since);
        });
}

void SearchModel::prependNewCaptures(RecordingPage page, std::optional<TimePoint> since)
{
    // The answer starts at the newest card's capture time, whose other windows are shown already
    // (or were shown by an answer that came first).
    QSet<QUuid> shown;
    for (int row = 0; since && row < m_results.count() && m_results.recordingAt(row).timestamp >= *since; ++row)
        shown.insert(m_results.recordingAt(row).id);
    std::vector<Recording> fresh;
    for (Recording &recording : page.recordings) {
        if (!shown.contains(recording.id))
            fresh.push_back(std::move(recording));
    }
    if (fresh.empty())
        return;
    const bool wasEmpty = m_results.count() == 0;
    if (page.next && !wasEmpty) {
        // More came than a page (the window was hidden a long while): what lies between them and
        // the cards shown is unread, so the timeline starts again from the top.
        performSearch();
        return;
    }
    const int added = int(fresh.size());
    m_results.prependRecordings(std::move(fresh));
    if (wasEmpty)
        setNextPage(page.next);
    if (m_selectedIndex >= 0) {
        m_selectedIndex += added;
        emit selectedIndexChanged();
    }
    if (m_timelineCount) {
        *m_timelineCount += added;
        setCountText(date_filters::countText(*m_timelineCount));
    }
}

void SearchModel::followToday()
{
    m_rows.relabelDays();
    emit dateRangeChanged();
    if (m_dateFilter != DateFilter::None && m_dateFilter != DateFilter::Picked)
        performSearch();
}

void SearchModel::setNextPage(std::optional<RecordingPageCursor> next)
{
    m_nextPage = next;
    if (!next) {
        m_results.setFetchMore({});
        return;
    }
    m_results.setFetchMore([this] {
        if (m_fetchingPage || !m_nextPage)
            return;
        fetchNextPage(*m_nextPage, m_generation);
    });
}

void SearchModel::fetchNextPage(RecordingPageCursor after, quint64 generation)
{
    m_fetchingPage = true;
    QPointer<SearchModel> self(this);
    m_database.timelinePage(
        appFilter(), timeRange(), StorageManager::kBrowsePageSize, after, [self, generation](RecordingPage page) {
            if (!self)
                return;
            self->m_fetchingPage = false;
            if (generation != self->m_generation)
                return;
            if (!page.error.isEmpty()) {
                // The pages shown so far would look like the whole timeline.
                self->showResults({}, page.error);
                return;
            }
            // The cursor moves on first: appending lets the view ask for the next page at once.
            self->setNextPage(page.next);
            self->m_results.appendRecordings(std::move(page.recordings));
            self->updateContentState();
            self->continueReveal(generation);
        });
}

void SearchModel::reveal(const QUuid &recordingId, QDate day)
{
    if (recordingId.isNull() || !day.isValid()) {
        log::failure(QStringLiteral("ERROR reveal: no recording or no day to show"));
        return;
    }
    if (!m_searchText.isEmpty()) {
        m_searchText.clear();
        emit searchTextChanged();
    }
    if (!m_selectedApp.isEmpty()) {
        m_selectedApp.clear();
        emit selectedAppChanged();
    }
    setDateRange(day, day);
    m_reveal = Reveal { recordingId, m_generation };
}

void SearchModel::continueReveal(quint64 generation)
{
    if (!m_reveal || m_reveal->generation != generation || generation != m_generation)
        return;
    const int row = m_results.indexOf(m_reveal->id);
    if (row >= 0) {
        m_reveal.reset();
        setSelectedIndex(row);
        emit revealed(row);
    } else if (m_nextPage && !m_fetchingPage) {
        fetchNextPage(*m_nextPage, generation);
    } else if (!m_fetchingPage) {
        // Deleted since the day view read it, or a page failed (the failure is shown).
        log::info(QStringLiteral("The screenshot to show is no longer among the day's captures"));
        m_reveal.reset();
    }
}

void SearchModel::toggleDateFilter(const QString &name)
{
    if (name == QLatin1String("day")) {
        emit dayViewRequested();
        return;
    }
    const DateFilter filter = date_filters::fromName(name);
    if (filter == DateFilter::Picked) {
        emit rangePickRequested();
        return;
    }
    m_dateFilter = filter == m_dateFilter ? DateFilter::None : filter;
    emit dateRangeChanged();
    performSearch();
}

void SearchModel::setDateRange(QDate first, QDate last)
{
    if (!first.isValid() || !last.isValid()) {
        log::failure(QStringLiteral("ERROR setDateRange: invalid day"));
        return;
    }
    if (last < first)
        std::swap(first, last);
    m_dateFilter = DateFilter::Picked;
    m_pickedFirst = first;
    m_pickedLast = last;
    emit dateRangeChanged();
    performSearch();
}

void SearchModel::clearDateRange()
{
    if (m_dateFilter == DateFilter::None)
        return;
    m_dateFilter = DateFilter::None;
    emit dateRangeChanged();
    performSearch();
}

TimeRange SearchModel::timeRange() const
{
    if (m_dateFilter == DateFilter::None)
        return {};
    if (m_dateFilter == DateFilter::Picked)
        return localDays(m_pickedFirst, m_pickedLast);
    const auto [first, last] = date_filters::presetDays(m_dateFilter, localDay(m_clock.now()));
    return localDays(first, last);
}

QString SearchModel::rangeLabel() const
{
    const QDate today = localDay(m_clock.now());
    if (m_dateFilter == DateFilter::Picked)
        return date_filters::rangeLabel(m_pickedFirst, m_pickedLast, today);
    const auto [first, last] = date_filters::presetDays(m_dateFilter, today);
    return date_filters::rangeLabel(first, last, today);
}

void SearchModel::setCountText(const QString &text)
{
    if (text == m_countText)
        return;
    m_countText = text;
    emit countTextChanged();
}

QCoro::Task<> SearchModel::refreshUniqueApps()
{
    QPointer<SearchModel> self(this);
    const quint64 generation = ++m_appsGeneration;
    QCoro::Task<ApplicationNames> loading = m_storage.uniqueApps();
    const ApplicationNames answer = co_await loading;
    if (!self || generation != self->m_appsGeneration)
        co_return;
    // On a failure the chips known so far stay, with the reason beside them.
    const QString failure
        = answer.error.isEmpty() ? QString() : QStringLiteral("Could not list the applications: %1").arg(answer.error);
    const QStringList apps = answer.error.isEmpty() ? answer.names : m_uniqueApps;
    if (apps == m_uniqueApps && failure == m_applicationsFailure)
        co_return;
    m_uniqueApps = apps;
    m_applicationsFailure = failure;
    emit uniqueAppsChanged();
}

void SearchModel::showResults(
    std::vector<Recording> recordings, const QString &failure, const std::vector<SearchHit> &hits)
{
    setFailure(failure);
    setNextPage(std::nullopt);
    m_results.setRecordings(std::move(recordings), hits);
    followSelection();
    updateContentState();
}

void SearchModel::followSelection()
{
    // The selected recording, or the card it is now folded into.
    const QUuid selected = m_selectedId;
    int index = selected.isNull() ? -1 : m_results.indexOf(selected);
    if (index < 0 && !selected.isNull())
        index = m_results.indexOf(m_results.groupHead(selected));
    m_selectedId = index >= 0 ? m_results.recordingAt(index).id : QUuid();
    if (index != m_selectedIndex) {
        m_selectedIndex = index;
        emit selectedIndexChanged();
        emit selectionMoved();
    }
}

void SearchModel::toggleSimilar(int row)
{
    if (m_results.toggleSimilar(row))
        followSelection();
}

void SearchModel::setFailure(const QString &reason)
{
    const QString failure = reason.isEmpty() ? QString() : QStringLiteral("Search failed: %1").arg(reason);
    if (failure == m_failure)
        return;
    m_failure = failure;
    emit failureChanged();
}

void SearchModel::setIsSearching(bool on)
{
    if (on == m_isSearching)
        return;
    m_isSearching = on;
    emit isSearchingChanged();
    updateContentState();
}

void SearchModel::updateContentState()
{
    const ContentState state = contentStateFor(m_searchText, !m_selectedApp.isEmpty(), m_isSearching,
        m_results.count() > 0, !m_failure.isEmpty(), m_dateFilter != DateFilter::None);
    if (state == m_contentState)
        return;
    m_contentState = state;
    emit contentStateChanged();
}

} // namespace pellux
