#include "ui/SearchModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

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

// New results replace the old ones row by row: what stays keeps its row (and its card), and a row
// whose snippet alone changed is told of that alone. An answer led by another card replaces the
// list, so views show it from its top.
TEST(RecordingListModelUpdate, KeepsTheRowsThatStay)
{
    const struct {
        const char *before, *after;
        int rowsKept;
        bool reset;
        const char *withSnippet = ""; // the recordings of `after` that come with a snippet
        int told = 0; // the runs of rows told of a new snippet
    } cases[] = {
        { "", "abc", 0, false },
        { "abcdef", "acf", 3, false, "cf", 1 }, // one more letter typed: fewer results
        { "adf", "abcdef", 3, false, "abd", 2 },
        { "abcd", "adcb", 2, false },
        { "abcdef", "bdf", 0, true, "bd" },
        { "abc", "", 0, true },
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
        QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
        std::vector<SearchHit> hits; // a snippet where asked (an empty one shows none), a key of its own
        for (const char *id = c.after; *id; ++id)
            hits.push_back(
                { search_snippet::Snippet { QByteArray(c.withSnippet).contains(*id) ? "line" : "", {} }, size_t(*id) });
        model.setRecordings(recordings(c.after), hits);
        QString ids;
        for (const Recording &r : model.recordings())
            ids += QChar(char(r.id.data1));
        EXPECT_EQ(ids, QString::fromLatin1(c.after)) << c.before << " -> " << c.after;
        EXPECT_EQ(resets.count(), c.reset ? 1 : 0) << c.before << " -> " << c.after;
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const auto &i) { return i.isValid(); }), c.rowsKept)
            << c.before << " -> " << c.after;
        for (const QList<QVariant> &change : changes)
            EXPECT_EQ(change.at(2).value<QList<int>>(), QList<int> { RecordingListModel::SnippetRole });
        EXPECT_EQ(changes.count(), c.told) << c.before << " -> " << c.after;
    }
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
