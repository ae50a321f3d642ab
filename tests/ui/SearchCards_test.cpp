// The cards of a text search over a real database: the matched line, and the collapsing of
// consecutive results that show the same window and text.
#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "support/TempHome.h"
#include "ui/SearchModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <map>

namespace pellux {
namespace {

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

} // namespace
} // namespace pellux

namespace pellux {
namespace {

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
