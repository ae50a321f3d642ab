// The timeline of the search window: its words for days, ranges and counts, its day rows and
// keys, the date filters (days of 23 and 25 hours included) and paging over a real database.
#include "WindowRender.h"
#include "persistence/DatabaseTestSupport.h"
#include "storage/RecordingIndex.h"
#include "support/LocalTimeZone.h"
#include "support/SyntheticHistory.h"
#include "ui/SearchModel.h"

#include <QAbstractItemModelTester>
#include <QRegularExpression>

namespace pellux {
namespace {

using State = SearchModel::ContentState;
using Row = TimelineRows::Row;

TEST(TimelineRules, WordsForDaysRangesAndCounts)
{
    const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
    const QDate today(2026, 12, 9);
    const struct {
        QDate first, last;
        const char *day, *range;
    } cases[] = {
        { today, today, "Today", "Today" },
        { today.addDays(-1), today.addDays(-1), "Yesterday", "Yesterday" },
        { QDate(2026, 12, 7), QDate(2026, 12, 7), "Monday, 7 December 2026", "7 Dec 2026" },
        { QDate(2026, 12, 1), QDate(2026, 12, 7), "Tuesday, 1 December 2026", "1 Dec \u2013 7 Dec 2026" },
        { QDate(2025, 12, 28), QDate(2026, 1, 3), "Sunday, 28 December 2025", "28 Dec 2025 \u2013 3 Jan 2026" },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(date_filters::dayLabel(c.first, today, uk), QString::fromUtf8(c.day));
        EXPECT_EQ(date_filters::rangeLabel(c.first, c.last, today, uk), QString::fromUtf8(c.range));
    }
    EXPECT_EQ(date_filters::countText(1), "1 screenshot");
    EXPECT_EQ(date_filters::countText(100, true), "100+ screenshots");
    // Without a query the blank slate is for an empty history only.
    EXPECT_EQ(SearchModel::contentStateFor({}, false, false, false, false, true), State::NoResults);
    EXPECT_EQ(SearchModel::contentStateFor({}, false, false, true, false), State::Results);
}

// Days A (3 cards), B (5) and C (1) in 3 columns: rows 0-2 | 3-5, 6-7 | 8.
TEST(TimelineRules, DayRowsAndTheirKeys)
{
    const QDate a(2026, 12, 9), b(2026, 12, 8), c(2026, 11, 30);
    const std::vector<Row> rows = TimelineRows::layout({ a, a, a, b, b, b, b, b, c }, 3);
    const std::vector<std::pair<int, int>> expected { { 0, 3 }, { 3, 3 }, { 6, 2 }, { 8, 1 } };
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(std::make_pair(rows[i].first, rows[i].count), expected[i]) << i;
    const struct {
        int current, key, next;
    } cases[] = {
        { -1, Qt::Key_Down, 0 },
        { -1, Qt::Key_Up, -1 },
        { 1, Qt::Key_Down, 4 },
        { 5, Qt::Key_Down, 7 },
        { 7, Qt::Key_Down, 8 },
        { 8, Qt::Key_Down, 8 },
        { 8, Qt::Key_Up, 6 },
        { 5, Qt::Key_Up, 2 },
        { 0, Qt::Key_Up, -1 },
        { 2, Qt::Key_Right, 3 },
        { 3, Qt::Key_Left, 2 },
        { 4, Qt::Key_End, 8 },
    };
    for (const auto &k : cases)
        EXPECT_EQ(TimelineRows::selectionAfterKey(rows, k.current, k.key), k.next) << k.current << " key " << k.key;
}

// The chips' ranges are whole local days, however long the day.
TEST(TimelineRules, DateChipsCoverWholeLocalDays)
{
    test::LocalTimeZone berlin("Europe/Berlin");
    const struct {
        QDateTime now;
        const char *chip;
        QDate first, last;
        double hours;
    } cases[] = {
        { QDateTime(QDate(2026, 3, 29), QTime(12, 0)), "today", QDate(2026, 3, 29), QDate(2026, 3, 29), 23 },
        { QDateTime(QDate(2026, 10, 26), QTime(0, 30)), "yesterday", QDate(2026, 10, 25), QDate(2026, 10, 25), 25 },
        { QDateTime(QDate(2026, 4, 2), QTime(9, 0)), "last7", QDate(2026, 3, 27), QDate(2026, 4, 2), 7 * 24 - 1 },
        { QDateTime(QDate(2026, 12, 9), QTime(23, 59)), "last30", QDate(2026, 11, 10), QDate(2026, 12, 9), 30 * 24 },
    };
    test::TempHome home;
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index { database };
    StorageManager storage { index };
    for (const auto &c : cases) {
        test::FakeClock clock(fromSecondsSince1970(c.now.toSecsSinceEpoch()));
        SearchModel model(database, storage, clock);
        QSignalSpy asked(&model, &SearchModel::rangePickRequested);
        model.toggleDateFilter(QString::fromLatin1(c.chip));
        const TimeRange range = model.timeRange();
        ASSERT_TRUE(range.since && range.until) << c.chip;
        EXPECT_EQ(*range.since, localDayStart(c.first)) << c.chip;
        EXPECT_EQ(*range.until, localDayStart(c.last.addDays(1))) << c.chip;
        EXPECT_DOUBLE_EQ(secondsSince1970(*range.until) - secondsSince1970(*range.since), c.hours * 3600) << c.chip;
        model.toggleDateFilter(QStringLiteral("range")); // asks for the days, keeps the chip
        EXPECT_EQ(asked.count(), 1);
        EXPECT_EQ(model.dateFilterName(), QString::fromLatin1(c.chip));
        model.toggleDateFilter(QString::fromLatin1(c.chip));
        EXPECT_TRUE(model.timeRange().isOpen());
    }
}

// 2,100 recordings over thirteen days, seven to a capture time, so that one capture time spans
// the end of the first page, and the first application has more than a page; the clock a minute
// after the newest.
class TimelineModelTest : public ::testing::Test {
protected:
    void waitForResults(QSignalSpy &shown, int count)
    {
        while (shown.count() < count)
            ASSERT_TRUE(shown.wait(10000));
    }
    // The rows grown page by page, or by new cards above, are the rows laid out at once.
    void expectRowsAsLaidOut(int columns)
    {
        std::vector<QDate> days;
        for (const Recording &r : model.results()->recordings())
            days.push_back(localDay(r.timestamp));
        const std::vector<Row> laidOut = TimelineRows::layout(days, columns), &rows = model.timelineRows()->rows();
        ASSERT_EQ(rows.size(), laidOut.size());
        for (size_t i = 0; i < laidOut.size(); ++i)
            EXPECT_EQ(std::pair(rows[i].first, rows[i].count), std::pair(laidOut[i].first, laidOut[i].count)) << i;
    }
    // The recordings the synthetic history captured at or after `since`.
    int capturedSince(TimePoint since) const
    {
        int count = 0;
        for (int cycle = 0; cycle < kRecordings / 7; ++cycle)
            count += secondsSince1970(history->oldest) + cycle * kCycleSeconds >= secondsSince1970(since) ? 7 : 0;
        return count;
    }

    static constexpr int kRecordings = 2100;
    static constexpr double kCycleSeconds = 3600;
    test::TempHome home;
    const std::optional<test::SyntheticHistory> history = test::writeSyntheticHistory(
        { .recordings = kRecordings, .windowsPerCycle = 7, .cycleSeconds = kCycleSeconds });
    test::FakeClock clock { fromSecondsSince1970(secondsSince1970(history->newest) + 60) };
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index { database };
    StorageManager storage { index };
    SearchModel model { database, storage, clock };
    QSignalSpy shown { &model, &SearchModel::resultsShown };
};

// An application alone is browsed a page at a time, until the store breaks.
TEST_F(TimelineModelTest, AnApplicationAloneIsBrowsedAPageAtATime)
{
    ASSERT_TRUE(history);
    const QString app = test::syntheticApplications().constFirst();
    ASSERT_GT(history->perApplication.at(app), StorageManager::kBrowsePageSize);
    RecordingListModel *results = model.results();
    QAbstractItemModelTester tester(results, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.toggleApp(app);
    waitForResults(shown, 1);
    EXPECT_EQ(
        std::pair(results->count(), model.contentState()), std::pair(StorageManager::kBrowsePageSize, State::Results));
    while (results->canFetchMore({})) {
        const int before = results->count();
        QSignalSpy inserted(results, &QAbstractItemModel::rowsInserted);
        results->fetchMore({});
        results->fetchMore({}); // a second request while one is under way adds nothing
        ASSERT_TRUE(inserted.wait(10000));
        EXPECT_EQ(inserted.count(), 1);
        EXPECT_GT(results->count(), before);
    }
    const auto &recordings = results->recordings();
    ASSERT_EQ(int(recordings.size()), history->perApplication.at(app));
    EXPECT_TRUE(std::is_sorted(
        recordings.rbegin(), recordings.rend(), [](auto &a, auto &b) { return a.timestamp < b.timestamp; }));
    EXPECT_TRUE(
        std::all_of(recordings.begin(), recordings.end(), [&](const Recording &r) { return r.appName == app; }));
    // A second click returns to all applications: the timeline.
    model.toggleApp(app);
    EXPECT_EQ(std::tuple(model.selectedApp(), model.contentState(), results->canFetchMore({})),
        std::tuple(QString(), State::Searching, false));

    // The store breaks while the window is open (its recordings table dropped by another
    // connection): the next page of a browse and a browse each say so with the database's own
    // reason (a search and the application list: the render test), and the chips known so far stay.
    ASSERT_TRUE(test::runEventsUntil([&] { return !model.uniqueApps().isEmpty(); }));
    const QStringList apps = model.uniqueApps();
    model.toggleApp(app);
    ASSERT_TRUE(test::runEventsUntil([&] { return model.contentState() == State::Results; }));
    ASSERT_TRUE(results->canFetchMore({}));
    test::RawDatabase(database.databasePath()).exec("DROP TABLE recordings");
    // The first page alone would look like all of the application's recordings.
    results->fetchMore({});
    ASSERT_TRUE(test::runEventsUntil([&] { return model.contentState() == State::Failed; }));
    EXPECT_EQ(results->count(), 0);
    model.toggleApp(app);
    EXPECT_EQ(std::pair(model.contentState(), model.failure()), std::pair(State::Searching, QString()));
    model.toggleApp(app);
    ASSERT_TRUE(test::runEventsUntil([&] { return model.contentState() == State::Failed; }));
    EXPECT_EQ(model.failure(), QStringLiteral("Search failed: no such table: recordings"));
    QSignalSpy appsChanged(&model, &SearchModel::uniqueAppsChanged);
    emit storage.applicationsChanged();
    ASSERT_TRUE(appsChanged.wait(10000));
    EXPECT_EQ(model.uniqueApps(), apps);
}

TEST_F(TimelineModelTest, OnlyTheLatestEditsAnswerIsShownAndTheSelectionFollowsItsRecording)
{
    ASSERT_TRUE(history);
    // Three searches in a row: the answers of the first two arrive but are dropped.
    for (const char *text : { "zeppelin", "git", "database" })
        model.setSearchText(QString::fromLatin1(text));
    EXPECT_EQ(model.contentState(), State::Searching);
    waitForResults(shown, 1);
    database.waitUntilIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::tuple(shown.count(), model.results()->count(), model.contentState()),
        std::tuple(1, std::min(100, history->withWord.at(QStringLiteral("database"))), State::Results));

    // The selected card keeps its recording when the results change around it.
    model.setSelectedIndex(2);
    const Recording selected = model.results()->recordings()[2];
    model.setSelectedApp(selected.appName.value_or(QString()));
    waitForResults(shown, 2);
    ASSERT_GE(model.selectedIndex(), 0);
    EXPECT_EQ(model.results()->recordings()[size_t(model.selectedIndex())].id, selected.id);

    // Shortened to two characters while a search is under way: the hint, not "No results found".
    model.setSelectedApp({});
    model.setSearchText(QStringLiteral("gi"));
    EXPECT_EQ(std::tuple(model.isSearching(), model.contentState(), model.selectedIndex()),
        std::tuple(false, State::MinimumCharacters, -1));
    model.setSearchText(QStringLiteral("git")); // the third character searches
    EXPECT_TRUE(model.isSearching());
    waitForResults(shown, 3);
    EXPECT_EQ(model.contentState(), State::Results);
}

TEST_F(TimelineModelTest, OpensOnTheTimelinePagesItByDayAndFiltersItByDate)
{
    ASSERT_TRUE(history);
    ASSERT_GT(kRecordings, StorageManager::kBrowsePageSize);
    ASSERT_NE(StorageManager::kBrowsePageSize % 7, 0);
    RecordingListModel *results = model.results();
    TimelineRows *rows = model.timelineRows();
    QAbstractItemModelTester tester(rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
    rows->setColumns(4);
    EXPECT_TRUE(model.timelineMode());
    EXPECT_EQ(model.contentState(), State::Searching);
    waitForResults(shown, 1);
    EXPECT_EQ(model.contentState(), State::Results);
    EXPECT_EQ(results->count(), StorageManager::kBrowsePageSize);
    ASSERT_TRUE(test::runEventsUntil([&] { return model.countText() == date_filters::countText(kRecordings); }));

    // The next page is appended (rows inserted, never a reset), with nothing repeated or lost.
    QSignalSpy resets(rows, &QAbstractItemModel::modelReset);
    while (results->canFetchMore({})) {
        QSignalSpy inserted(results, &QAbstractItemModel::rowsInserted);
        rows->fetchMore({});
        ASSERT_TRUE(inserted.wait(10000));
    }
    EXPECT_EQ(resets.count(), 0);
    const std::vector<Recording> all = results->recordings();
    QSet<QUuid> ids;
    for (const Recording &r : all)
        ids.insert(r.id);
    EXPECT_EQ(ids.size(), kRecordings);
    EXPECT_TRUE(std::is_sorted(all.rbegin(), all.rend(), [](auto &a, auto &b) { return a.timestamp < b.timestamp; }));
    expectRowsAsLaidOut(4);
    const QDate today = localDay(clock.now());

    // A date chip filters the timeline and the search alike; the count follows the filters.
    model.toggleDateFilter(QStringLiteral("today"));
    EXPECT_EQ(model.rangeLabel(), "Today");
    waitForResults(shown, 2);
    const int todays = capturedSince(localDayStart(today));
    ASSERT_GT(todays, 0);
    EXPECT_EQ(results->count(), todays);
    ASSERT_TRUE(test::runEventsUntil([&] { return model.countText() == date_filters::countText(todays); }));
    model.setSearchText(QStringLiteral("git"));
    EXPECT_FALSE(model.timelineMode());
    waitForResults(shown, 3);
    ASSERT_GT(results->count(), 0);
    for (const Recording &r : results->recordings())
        EXPECT_GE(r.timestamp, localDayStart(today));
    const int found = int(results->recordings().size());
    EXPECT_EQ(model.countText(), date_filters::countText(found, found == SimpleDatabaseManager::kSearchLimit));
    model.setSearchText({});
    waitForResults(shown, 4);
    EXPECT_EQ(results->count(), todays);

    // Days without captures are no blank slate; clearing the range shows the whole history again.
    model.setDateRange(QDate(2001, 1, 2), QDate(2001, 1, 1));
    EXPECT_EQ(model.rangeLabel(), "1 Jan \u2013 2 Jan 2001");
    waitForResults(shown, 5);
    EXPECT_EQ(model.contentState(), State::NoResults);
    ASSERT_TRUE(test::runEventsUntil([&] { return model.countText() == "0 screenshots"; }));
    model.clearDateRange();
    EXPECT_EQ(model.rangeLabel(), QString());
    waitForResults(shown, 6);
    EXPECT_EQ(results->count(), StorageManager::kBrowsePageSize);
    EXPECT_EQ(model.countText(), date_filters::countText(kRecordings));
}

// Screenshots saved while the window is open join the timeline above the cards shown when its
// filters take them in, the selection and the rows laid out staying; a search keeps its answer.
// One notice for a burst of saves, or for those saved while the window was hidden.
TEST_F(TimelineModelTest, NewCapturesJoinTheTimelineWithinItsFilters)
{
    ASSERT_TRUE(history);
    const QString app = test::syntheticApplications().constFirst();
    RecordingListModel *results = model.results();
    QAbstractItemModelTester tester(model.timelineRows(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.timelineRows()->setColumns(4);
    QSignalSpy notices(&model.updates(), &TimelineUpdates::capturesSaved);
    const auto settle = [&] {
        database.waitUntilIdle();
        QCoreApplication::processEvents();
    };
    // Every save at one capture time: each answer starts among cards of that time already shown.
    const auto save = [&] {
        const std::optional<Recording> saved = QCoro::waitFor(storage.saveScreenshot(
            "frame", clock.now(), 0, app, QStringLiteral("Window"), std::nullopt, false, std::nullopt, std::nullopt));
        return saved ? saved->id : QUuid();
    };
    const auto ids = [&] {
        std::vector<QUuid> shown;
        for (int row = 0; row < results->count(); ++row)
            shown.push_back(results->recordingAt(row).id);
        return shown;
    };
    const struct {
        const char *name;
        QString chip, date, query;
        bool joins;
    } cases[] = {
        { "the whole timeline", {}, {}, {}, true },
        { "its application's chip", app, {}, {}, true },
        { "another application's chip", test::syntheticApplications().constLast(), {}, {}, false },
        { "today", {}, "today", {}, true },
        { "yesterday", {}, "yesterday", {}, false },
        { "a search matching it", {}, {}, app, false },
    };
    for (const auto &c : cases) {
        model.setSearchText(c.query);
        model.setSelectedApp(c.chip);
        if (c.date.isEmpty())
            model.clearDateRange();
        else if (model.dateFilterName() != c.date)
            model.toggleDateFilter(c.date);
        ASSERT_TRUE(test::runEventsUntil([&] { return !model.isSearching(); })) << c.name;
        settle();
        model.setSelectedIndex(2);
        const QUuid selected = results->recordingAt(2).id;
        const QString count = model.countText();
        std::vector<QUuid> expected = ids();
        // Saved while the window is hidden: one notice once it is shown.
        model.updates().setWindowShown(false);
        for (const QUuid &id : { save(), save() })
            expected.insert(expected.begin(), c.joins ? 1 : 0, id);
        notices.clear();
        QSignalSpy resets(model.timelineRows(), &QAbstractItemModel::modelReset);
        model.updates().setWindowShown(true);
        settle();
        EXPECT_EQ(std::pair(notices.count(), resets.count()), std::pair(qsizetype(1), qsizetype(0))) << c.name;
        EXPECT_EQ(ids(), expected) << c.name;
        EXPECT_EQ(results->recordingAt(model.selectedIndex()).id, selected) << c.name;
        const qint64 counted = QString(count).remove(QRegularExpression("\\D")).toLongLong();
        EXPECT_EQ(model.countText(), c.joins ? date_filters::countText(counted + 2) : count) << c.name;
        expectRowsAsLaidOut(4);
    }

    // While shown, a save and the store's changes right after it are one notice.
    model.setSearchText({});
    ASSERT_TRUE(test::runEventsUntil([&] { return !model.isSearching(); }));
    notices.clear();
    const QUuid last = save();
    emit storage.recordingsChanged();
    ASSERT_TRUE(notices.wait(10'000));
    settle();
    EXPECT_EQ(std::pair(notices.count(), results->recordingAt(0).id), std::pair(qsizetype(1), last));
}

// Past local midnight an active "Today" moves on to the new day, which has no captures yet.
TEST_F(TimelineModelTest, TodayMovesOnAtMidnight)
{
    ASSERT_TRUE(history);
    const TimePoint midnight = localDayStart(localDay(clock.now()).addDays(1));
    clock.set(fromSecondsSince1970(secondsSince1970(midnight) - 0.5));
    SearchModel late { database, storage, clock };
    late.toggleDateFilter(QStringLiteral("today"));
    ASSERT_TRUE(test::runEventsUntil([&] { return late.results()->count() > 0 && !late.isSearching(); }));
    clock.set(fromSecondsSince1970(secondsSince1970(midnight) + 1));
    ASSERT_TRUE(test::runEventsUntil([&] { return late.results()->count() == 0 && !late.isSearching(); }));
    EXPECT_EQ(std::pair(late.timeRange().since, late.rangeLabel()),
        std::pair(std::optional(midnight), QStringLiteral("Today")));
    EXPECT_TRUE(test::runEventsUntil([&] { return late.countText() == date_filters::countText(0); }));
}

} // namespace
} // namespace pellux
