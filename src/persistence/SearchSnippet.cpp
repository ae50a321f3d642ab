#include "persistence/SearchSnippet.h"

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
    // Spaces at the cuts say nothing.
    while (from < first.start && isBreak(line.at(from)))
        ++from;
    while (to > end && isBreak(line.at(to - 1)))
        --to;
    Snippet snippet;
    const qsizetype shift = from > 0 ? 1 : 0;
    if (from > 0)
        snippet.text += kEllipsis;
    snippet.text += line.mid(from, to - from);
    if (to < line.size())
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

} // namespace

std::optional<Snippet> snippetFor(const QString &text, const QString &query)
{
    // Line by line first: a long text is folded only as far as its first matching line.
    if (text.contains(QLatin1Char('\n'))) {
        qsizetype start = 0;
        while (start <= text.size()) {
            qsizetype end = text.indexOf(QLatin1Char('\n'), start);
            if (end < 0)
                end = text.size();
            const QString line = text.mid(start, end - start);
            const std::vector<Occurrence> found = search_folding::occurrences(line, query);
            if (!found.empty())
                return around(line, found);
            start = end + 1;
        }
    }
    // Folding turns a line break into a space, so a query can run over one; then the lines it
    // spans are one line here.
    const std::vector<Occurrence> found = search_folding::occurrences(text, query);
    if (found.empty())
        return std::nullopt;
    const qsizetype end = found.front().start + found.front().length;
    const qsizetype lineStart = text.lastIndexOf(QLatin1Char('\n'), found.front().start) + 1;
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
