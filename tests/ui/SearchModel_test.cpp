#include "persistence/DatabaseTestSupport.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "support/SyntheticHistory.h"
#include "support/TempHome.h"
#include "ui/SearchModel.h"

#include <QAbstractItemModelTester>

namespace pellux {
namespace {

using State = SearchModel::ContentState;

// The state table of the results area, row by row.
TEST(SearchModelRules, ContentState)
{
    const struct {
        const char *query;
        bool appSelected, searching, hasResults, failed;
        State shown;
    } cases[] = {
        { "", false, false, false, false, State::BlankSlate },
        { "", false, true, true, true, State::Searching }, // the timeline
        { "", true, true, false, false, State::Searching },
        { "", true, false, false, false, State::NoResults },
        { "", true, false, true, false, State::Results },
        { "", true, false, false, true, State::Failed },
        { "ab", false, true, false, false, State::Searching },
        { "abc", false, false, false, false, State::NoResults },
        { "abc", false, false, true, false, State::Results },
        { "abc", false, false, false, true, State::Failed }, // never "No results found"
        { "abc", false, true, false, true, State::Searching },
        { "   ", false, false, false, false, State::NoResults }, // spaces count by their length
        { "ab", true, false, false, false, State::MinimumCharacters }, // with a chip as without
        { "ab", false, false, false, false, State::MinimumCharacters },
        // Two user-perceived characters, although four code units.
        { "\xF0\x9F\x91\x8D\xF0\x9F\x91\x8D", false, false, false, false, State::MinimumCharacters },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(SearchModel::contentStateFor(
                      QString::fromUtf8(c.query), c.appSelected, c.searching, c.hasResults, c.failed),
            c.shown)
            << "query '" << c.query << "' app " << c.appSelected << " searching " << c.searching << " failed "
            << c.failed;
    }
}

// Arrow keys in a grid of 3 columns and 8 cards (rows 0-2, 3-5, 6-7).
TEST(SearchModelRules, SelectionAfterKey)
{
    const struct {
        int current, key, next;
    } cases[] = {
        { -1, Qt::Key_Down, 0 }, // from the search field into the grid
        { -1, Qt::Key_Right, -1 }, // other keys stay in the field
        { 0, Qt::Key_Left, 0 },
        { 2, Qt::Key_Right, 3 },
        { 7, Qt::Key_Right, 7 },
        { 1, Qt::Key_Down, 4 },
        { 5, Qt::Key_Down, 7 }, // into the shorter last row
        { 7, Qt::Key_Down, 7 },
        { 4, Qt::Key_Up, 1 },
        { 1, Qt::Key_Up, -1 }, // back to the search field
        { 4, Qt::Key_Home, 0 },
        { 4, Qt::Key_End, 7 },
        { 4, Qt::Key_A, 4 },
    };
    for (const auto &c : cases)
        EXPECT_EQ(SearchModel::selectionAfterKey(c.current, c.key, 3, 8), c.next) << c.current << " key " << c.key;
    EXPECT_EQ(SearchModel::selectionAfterKey(-1, Qt::Key_Down, 3, 0), -1);
}

// New results replace the old ones row by row: what stays keeps its row (and its card).
TEST(RecordingListModelUpdate, KeepsTheRowsThatStay)
{
    const struct {
        const char *before, *after;
        int rowsKept;
    } cases[] = {
        { "", "abc", 0 },
        { "abcdef", "bdf", 3 }, // one more letter typed: fewer results
        { "bdf", "abcdef", 3 },
        { "abc", "", 0 },
        { "abcd", "dcba", 1 }, // out of order: only one can stay
        { "ace", "abcde", 3 },
    };
    const auto recordings = [](const char *ids) {
        std::vector<Recording> list;
        for (const char *c = ids; *c; ++c)
            list.push_back(Recording { QUuid(uint(*c), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), {}, 0, {}, {}, {}, {}, {}, {} });
        return list;
    };
    for (const auto &c : cases) {
        RecordingListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        model.setRecordings(recordings(c.before));
        std::vector<QPersistentModelIndex> rows;
        for (int i = 0; i < model.count(); ++i)
            rows.emplace_back(model.index(i));
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.setRecordings(recordings(c.after));
        QString ids;
        for (const Recording &r : model.recordings())
            ids += QChar(char(r.id.data1));
        EXPECT_EQ(ids, QString::fromLatin1(c.after)) << c.before << " -> " << c.after;
        EXPECT_EQ(resets.count(), 0);
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const auto &i) { return i.isValid(); }), c.rowsKept)
            << c.before << " -> " << c.after;
    }
}

// The model over a real database of 4,000 recordings.
class SearchModelTest : public ::testing::Test {
protected:
    void waitForResults(QSignalSpy &shown, int count)
    {
        while (shown.count() < count)
            ASSERT_TRUE(shown.wait(10000));
    }

    test::TempHome home;
    const std::optional<test::SyntheticHistory> history = test::writeSyntheticHistory({ .recordings = 4000 });
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index { database };
    StorageManager storage { index };
    SearchModel model { database, storage };
};

TEST_F(SearchModelTest, AnApplicationAloneIsBrowsedAPageAtATime)
{
    ASSERT_TRUE(history);
    const QString app = test::syntheticApplications().constFirst();
    const int expected = history->perApplication.at(app);
    ASSERT_GT(expected, StorageManager::kBrowsePageSize);
    RecordingListModel *results = model.results();
    QAbstractItemModelTester tester(results, QAbstractItemModelTester::FailureReportingMode::Fatal);

    QSignalSpy shown(&model, &SearchModel::resultsShown);
    model.toggleApp(app);
    waitForResults(shown, 1);
    EXPECT_EQ(results->count(), StorageManager::kBrowsePageSize);
    EXPECT_EQ(model.contentState(), State::Results);
    while (results->canFetchMore({})) {
        const int before = results->count();
        QSignalSpy inserted(results, &QAbstractItemModel::rowsInserted);
        results->fetchMore({});
        results->fetchMore({}); // a second request while one is under way adds nothing
        ASSERT_TRUE(inserted.wait(10000));
        EXPECT_EQ(inserted.count(), 1);
        EXPECT_GT(results->count(), before);
    }
    ASSERT_EQ(results->count(), expected);
    const auto &recordings = results->recordings();
    for (size_t i = 1; i < recordings.size(); ++i)
        ASSERT_GE(recordings[i - 1].timestamp, recordings[i].timestamp);
    for (const Recording &r : recordings)
        ASSERT_EQ(r.appName, app);

    // A second click returns to all applications: the timeline.
    model.toggleApp(app);
    EXPECT_EQ(std::tuple(model.selectedApp(), model.contentState(), results->canFetchMore({})),
        std::tuple(QString(), State::Searching, false));
}

TEST_F(SearchModelTest, OnlyTheLatestEditsAnswerIsShownAndTheSelectionFollowsItsRecording)
{
    ASSERT_TRUE(history);
    QSignalSpy shown(&model, &SearchModel::resultsShown);
    // Three searches in a row: the answers of the first two arrive but are dropped.
    model.setSearchText(QStringLiteral("zeppelin"));
    model.setSearchText(QStringLiteral("git"));
    model.setSearchText(QStringLiteral("database"));
    EXPECT_EQ(model.contentState(), State::Searching);
    waitForResults(shown, 1);
    database.waitUntilIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown.count(), 1);
    EXPECT_EQ(model.results()->count(), std::min(100, history->withWord.at(QStringLiteral("database"))));
    EXPECT_EQ(model.contentState(), State::Results);

    // The selected card keeps its recording when the results change around it.
    model.setSelectedIndex(2);
    const QUuid selected = model.results()->recordings()[2].id;
    model.setSelectedApp(model.results()->recordings()[2].appName.value_or(QString()));
    waitForResults(shown, 2);
    ASSERT_GE(model.selectedIndex(), 0);
    EXPECT_EQ(model.results()->recordings()[size_t(model.selectedIndex())].id, selected);

    // Shortened to two characters while a search is under way: the hint, not "No results found".
    model.setSelectedApp({});
    model.setSearchText(QStringLiteral("gi"));
    EXPECT_EQ(std::tuple(model.isSearching(), model.contentState(), model.selectedIndex()),
        std::tuple(false, State::MinimumCharacters, -1));
    // The third character searches.
    model.setSearchText(QStringLiteral("git"));
    EXPECT_TRUE(model.isSearching());
    waitForResults(shown, 3);
    EXPECT_EQ(model.contentState(), State::Results);
}

// The store breaks while the window is open (its recordings table dropped by another connection):
// the next page of a browse and a browse each say so with the database's own reason (a search and
// the application list: the render test), and the chips known so far stay.
TEST_F(SearchModelTest, AFailedBrowseShowsTheReason)
{
    ASSERT_TRUE(history);
    ASSERT_TRUE(test::runEventsUntil([&] { return !model.uniqueApps().isEmpty(); }));
    const QStringList apps = model.uniqueApps();
    const QString app = test::syntheticApplications().constFirst();
    QSignalSpy shown(&model, &SearchModel::resultsShown);
    model.toggleApp(app);
    waitForResults(shown, 1);
    ASSERT_TRUE(model.results()->canFetchMore({}));

    test::RawDatabase(database.databasePath()).exec("DROP TABLE recordings");

    // The first page alone would look like all of the application's recordings.
    model.results()->fetchMore({});
    ASSERT_TRUE(test::runEventsUntil([&] { return model.contentState() == State::Failed; }));
    EXPECT_EQ(model.results()->count(), 0);
    model.toggleApp(app);
    EXPECT_EQ(std::pair(model.contentState(), model.failure()), std::pair(State::Searching, QString()));
    model.toggleApp(app);
    waitForResults(shown, 2);
    EXPECT_EQ(std::pair(model.contentState(), model.failure()),
        std::pair(State::Failed, QStringLiteral("Search failed: no such table: recordings")));

    QSignalSpy appsChanged(&model, &SearchModel::uniqueAppsChanged);
    emit storage.applicationsChanged();
    ASSERT_TRUE(appsChanged.wait(10000));
    EXPECT_EQ(model.uniqueApps(), apps);
}

// The cards of a text search over a real database: the matched line, and the collapsing of
// consecutive results that show the same window and text.
struct Stored {
    const char *name, *app, *title, *text;
};

TEST(SearchCards, SnippetsAndCollapsedRepeatsKeepTheKeyboardOnTheCardsShown)
{
    test::TempHome home;
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index { database };
    StorageManager storage { index };
    // Newest first: a, b, c show one window and text; e matches by its title only; f repeats
    // a's text after another card, so it stays apart.
    const Stored stored[] = {
        { "a", "Term", "build", "make\nthe database is up" },
        { "b", "Term", "build", "make\nthe database is up" },
        { "c", "Term", "build", "make\nthe database is up" },
        { "d", "Term", "build", "the Database is down" },
        { "e", "Editor", "database <b>notes</b>", "nothing here" },
        { "f", "Term", "build", "make\nthe database is up" },
        { "g", "Term", "other", "make\nthe database is up" },
    };
    std::map<QUuid, QString> names;
    for (size_t i = 0; i < std::size(stored); ++i) {
        Recording r;
        r.id = QUuid::createUuid();
        r.timestamp = fromSecondsSince1970(1'750'000'000.0 - double(i));
        r.filePath = QUrl::fromLocalFile(home.pelluxFolder() + QStringLiteral("/%1.webp").arg(stored[i].name));
        r.appName = QString::fromUtf8(stored[i].app);
        r.windowTitle = QString::fromUtf8(stored[i].title);
        names[r.id] = QString::fromLatin1(stored[i].name);
        database.saveRecordingWithDeltaFrame(r, QStringLiteral("h%1").arg(i), 1, false, std::nullopt, std::nullopt);
        database.saveOCRText(r.id, QString::fromUtf8(stored[i].text), r.timestamp);
    }
    database.waitUntilIdle();

    SearchModel model { database, storage };
    RecordingListModel &results = *model.results();
    QAbstractItemModelTester tester(&results, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy shown(&model, &SearchModel::resultsShown);
    model.setSearchText(QStringLiteral("database"));
    ASSERT_TRUE(shown.wait(10000));

    const auto cards = [&] {
        QStringList list;
        for (int row = 0; row < results.count(); ++row) {
            const QModelIndex at = results.index(row);
            QString card = names[results.recordingAt(row).id];
            if (const int similar = at.data(RecordingListModel::SimilarCountRole).toInt())
                card += (at.data(RecordingListModel::ExpandedRole).toBool() ? "-" : "+") + QString::number(similar);
            list << card;
        }
        return list.join(QLatin1Char(' '));
    };
    const auto snippet = [&](int row) { return results.index(row).data(RecordingListModel::SnippetRole).toString(); };
    const auto selected = [&] { return names[results.recordingAt(model.selectedIndex()).id]; };

    EXPECT_EQ(cards(), "a+2 d e f g");
    EXPECT_EQ(snippet(0), "the <b>database</b> is up");
    EXPECT_EQ(snippet(1), "the <b>Database</b> is down");
    EXPECT_EQ(snippet(2), ""); // the title, shown on the card already, is what matched
    // Enter in the search field opens the first card shown.
    EXPECT_EQ(names[results.recordingAt(0).id], "a");

    // The keyboard walks the collapsed list; expanding keeps the selection on its recording.
    model.setSelectedIndex(0);
    EXPECT_TRUE(model.navigate(Qt::Key_Right, 4));
    EXPECT_EQ(selected(), "d");
    model.toggleSimilar(0);
    EXPECT_EQ(cards(), "a-2 b c d e f g");
    EXPECT_EQ(selected(), "d");
    EXPECT_EQ(snippet(1), "the <b>database</b> is up");
    EXPECT_TRUE(model.navigate(Qt::Key_Left, 4));
    EXPECT_EQ(selected(), "c");
    // Collapsing hides the selected card: the selection moves to the card it folded into.
    model.toggleSimilar(0);
    EXPECT_EQ(cards(), "a+2 d e f g");
    EXPECT_EQ(model.selectedIndex(), 0);
    model.toggleSimilar(1); // a card without repeats has no badge
    EXPECT_EQ(cards(), "a+2 d e f g");

    // The next letter narrows the same results: an expanded group stays expanded.
    model.toggleSimilar(0);
    model.setSearchText(QStringLiteral("database is"));
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_EQ(cards(), "a-2 b c d f g");
}

// The exact time a card's tooltip and accessible description give, in the locale's long format
// without the time zone's name.
TEST(SearchCards, AbsoluteTimeInTheLocalesLongFormat)
{
    const QDateTime when(QDate(2026, 12, 8), QTime(20, 37, 10));
    const std::pair<const char *, const char *> cases[] = {
        { "en_GB", "Tuesday, 8 December 2026, 20:37:10" },
        { "en_US", "Tuesday, December 8, 2026, 8:37:10 PM" },
        { "de_DE", "Dienstag, 8. Dezember 2026, 20:37:10" },
    };
    for (const auto &[locale, shown] : cases)
        EXPECT_EQ(
            RecordingListModel::absoluteTime(when, QLocale(QString::fromLatin1(locale))), QString::fromUtf8(shown))
            << locale;
}

} // namespace
} // namespace pellux
