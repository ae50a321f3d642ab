#include "persistence/SearchSnippet.h"

#include <algorithm>
#include <string>

namespace pellux::search_snippet {

namespace {

using search_folding::Occurrence;

const QChar kEllipsis(0x2026);

bool isBreak(QChar c) { return c.isSpace(); }

// A cut never falls inside a word (unless the word alone is longer than the context) nor
// between the halves of a surrogate pair.
qsizetype cutStart(const QString &line, qsizetype from, qsizetype limit)
{
    if (from <= 0)
        return 0;
    for (qsizetype at = from; at < limit; ++at) {
        if (isBreak(line.at(at - 1)))
            return at;
    }
    return line.at(from).isLowSurrogate() ? from + 1 : from;
}

qsizetype cutEnd(const QString &line, qsizetype to, qsizetype limit)
{
    if (to >= line.size())
        return line.size();
    for (qsizetype at = to; at > limit; --at) {
        if (isBreak(line.at(at)))
            return at;
    }
    return line.at(to).isLowSurrogate() ? to + 1 : to;
}

// The snippet of `line` around its first occurrence.
Snippet around(const QString &line, const std::vector<Occurrence> &found)
{
    const Occurrence first = found.front();
    const qsizetype end = first.start + first.length;
    qsizetype from = cutStart(line, std::max<qsizetype>(0, first.start - kContext), first.start);
    qsizetype to = cutEnd(line, std::min(line.size(), end + kContext), end);
    const bool cutBefore = from > 0;
    const bool cutAfter = to < line.size();
    // Spaces at the ends say nothing.
    while (from < first.start && isBreak(line.at(from)))
        ++from;
    while (to > end && isBreak(line.at(to - 1)))
        --to;
    Snippet snippet;
    const qsizetype shift = cutBefore ? 1 : 0;
    if (cutBefore)
        snippet.text += kEllipsis;
    snippet.text += line.mid(from, to - from);
    if (cutAfter)
        snippet.text += kEllipsis;
    // One line: an occurrence may run over a line break or a tab, which the card shows as a space.
    for (QChar &c : snippet.text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    for (const Occurrence &o : found) {
        if (o.start >= from && o.start + o.length <= to)
            snippet.matches.push_back({ o.start - from + shift, o.length });
    }
    return snippet;
}

// Lines up to this long are mapped whole; longer ones (a whole screen's text stored before line
// breaks were kept) are narrowed first.
constexpr qsizetype kShortLine = 2 * kContext + 80;
constexpr qsizetype kChunk = 64;

// Mapping offsets through the folding costs far more per character than folding alone, so
// whether a piece of text holds the query is answered by folding it, and only the piece that
// does is mapped.
class Finder {
public:
    explicit Finder(const QString &query)
        : m_needle(lowered(search_folding::fold(query.toUtf8().toStdString())))
        , m_needleText(QString::fromStdString(m_needle))
    {
    }

    bool empty() const { return m_needle.empty() || m_needle == " "; }
    bool holds(QStringView text) const
    {
        // Folding turns characters only into ones the folded query is made of, and those into
        // themselves: a text that holds it as it stands holds it folded too. (Case is compared
        // more widely here than after folding; a line taken for one by that is mapped, finds no
        // occurrence and is passed over.)
        if (text.contains(m_needleText, Qt::CaseInsensitive))
            return true;
        const QByteArray utf8 = text.toUtf8();
        std::string folded = search_folding::fold(std::string_view(utf8.constData(), size_t(utf8.size())));
        return lowered(std::move(folded)).find(m_needle) != std::string::npos;
    }
    qsizetype length() const { return qsizetype(m_needle.size()); }

private:
    static std::string lowered(std::string text)
    {
        for (char &c : text) {
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        }
        return text;
    }

    std::string m_needle;
    QString m_needleText;
};

// Where the query occurs in `line`, in its offsets: all of them in a short line; in a long one
// the first and those within the context around it.
std::vector<Occurrence> occurrencesIn(const QString &line, const QString &query, const Finder &finder)
{
    if (line.size() <= kShortLine)
        return search_folding::occurrences(line, query);
    // Chunks overlap by more than the query, so an occurrence that no chunk holds whole runs over
    // a long stretch of spaces; the whole line is mapped then.
    const qsizetype overlap = finder.length() + 16;
    for (qsizetype at = 0; at < line.size(); at += kChunk) {
        if (!finder.holds(QStringView(line).mid(at, kChunk + overlap)))
            continue;
        const qsizetype from = std::max<qsizetype>(0, at - kContext - overlap);
        const qsizetype to = std::min(line.size(), at + kChunk + overlap + kContext + 2);
        std::vector<Occurrence> found = search_folding::occurrences(line.mid(from, to - from), query);
        for (Occurrence &o : found)
            o.start += from;
        if (!found.empty())
            return found;
    }
    return search_folding::occurrences(line, query);
}

} // namespace

std::optional<Snippet> snippetFor(const QString &text, const QString &query)
{
    const Finder finder(query);
    if (finder.empty())
        return std::nullopt;
    // Line by line: only the first line that holds the query is mapped.
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        const QStringView line = QStringView(text).mid(start, end - start);
        if (finder.holds(line)) {
            const QString shown = line.toString();
            const std::vector<Occurrence> found = occurrencesIn(shown, query, finder);
            if (!found.empty())
                return around(shown, found);
        }
        start = end + 1;
    }
    // Folding turns a line break into a space, so a query can run over one; then the lines it
    // spans are one line here.
    if (!text.contains(QLatin1Char('\n')) || !finder.holds(text))
        return std::nullopt;
    const std::vector<Occurrence> found = search_folding::occurrences(text, query);
    if (found.empty())
        return std::nullopt;
    const qsizetype first = found.front().start;
    const qsizetype end = first + found.front().length;
    const qsizetype lineStart = first > 0 ? text.lastIndexOf(QLatin1Char('\n'), first - 1) + 1 : 0;
    qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), end);
    if (lineEnd < 0)
        lineEnd = text.size();
    std::vector<Occurrence> inLine;
    for (const Occurrence &o : found) {
        if (o.start >= lineStart && o.start + o.length <= lineEnd)
            inLine.push_back({ o.start - lineStart, o.length });
    }
    return around(text.mid(lineStart, lineEnd - lineStart), inLine);
}

QString markup(const Snippet &snippet)
{
    QString out;
    qsizetype at = 0;
    for (const Occurrence &o : snippet.matches) {
        out += snippet.text.mid(at, o.start - at).toHtmlEscaped();
        out += QStringLiteral("<b>") + snippet.text.mid(o.start, o.length).toHtmlEscaped() + QStringLiteral("</b>");
        at = o.start + o.length;
    }
    out += snippet.text.mid(at).toHtmlEscaped();
    return out;
}

} // namespace pellux::search_snippet
