#include "persistence/SearchSnippet.h"
#include "support/TestFiles.h"

namespace pellux {
namespace {

// "w10 w11 ... w49": words of four characters with their space, numbered.
QString words(char letter, int first, int last)
{
    QStringList list;
    for (int i = first; i <= last; ++i)
        list << QStringLiteral("%1%2").arg(QLatin1Char(letter)).arg(i);
    return list.join(QLatin1Char(' '));
}

// The line a card shows for a text and a query, as the styled text it is given.
TEST(SearchSnippet, TheMatchedLineEscapedWithTheQueryInBold)
{
    const QString longLine = words('w', 10, 49) + QStringLiteral(" needle ") + words('x', 10, 49);
    const QString ellipsis = QString(QChar(0x2026));
    const struct {
        QString text, query;
        std::optional<QString> shown; // absent: no snippet
    } cases[] = {
        // Text with line breaks: the line of the first occurrence, every occurrence in it bold.
        { "make\nthe database is up\nDATABASE again", "database", "the <b>database</b> is up" },
        { "git pull\ngit push", "git", "<b>git</b> pull" },
        { "a git pull; git push", "git", "a <b>git</b> pull; <b>git</b> push" },
        // Folded as search folds: "_" is a space, case and typographic quotes do not matter.
        { "call reconcile_segments now", "reconcile segments", "call <b>reconcile_segments</b> now" },
        { "he said \u201cDataBase\u201d", "\"database\"", "he said <b>\u201cDataBase\u201d</b>" },
        // A query over a line break joins the two lines.
        { "alpha\nbeta gamma\ndelta", "alpha beta", "<b>alpha beta</b> gamma" },
        // Without line breaks (older text) or on a long line: sixty characters each side, cut at words.
        { longLine, "needle", ellipsis + words('w', 35, 49) + " <b>needle</b> " + words('x', 10, 24) + ellipsis },
        { "line one\n" + longLine, "needle",
            ellipsis + words('w', 35, 49) + " <b>needle</b> " + words('x', 10, 24) + ellipsis },
        { QString(longLine).replace(QLatin1String(" needle "), QLatin1String(" needle needle ")), "needle",
            ellipsis + words('w', 35, 49) + " <b>needle</b> <b>needle</b> " + words('x', 10, 22) + ellipsis },
        { words('w', 10, 99) + " needle", "needle", ellipsis + words('w', 85, 99) + " <b>needle</b>" },
        // One long word is cut inside.
        { QString(100, QLatin1Char('a')) + "needle", "needle",
            ellipsis + QString(60, QLatin1Char('a')) + "<b>needle</b>" },
        // The text is data: markup in it or in the query is shown as written.
        { "<b>x</b> & <img src=http://example.com/x.png> database", "database",
            "&lt;b&gt;x&lt;/b&gt; &amp; &lt;img src=http://example.com/x.png&gt; <b>database</b>" },
        { "a <b> tag", "<b>", "a <b>&lt;b&gt;</b> tag" },
        { "tab\there database", "database", "tab here <b>database</b>" },
        { "  indented database  \n", "database", "indented <b>database</b>" },
        // Not in the text: only the title or the application name matched.
        { "nothing here", "database", std::nullopt },
        { "", "database", std::nullopt },
    };
    for (const auto &c : cases) {
        const std::optional<search_snippet::Snippet> snippet = search_snippet::snippetFor(c.text, c.query);
        ASSERT_EQ(snippet.has_value(), c.shown.has_value()) << c.text.toStdString();
        if (snippet) {
            EXPECT_EQ(search_snippet::markup(*snippet), *c.shown) << c.text.toStdString();
        }
    }
}

} // namespace
} // namespace pellux
