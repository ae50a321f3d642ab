#pragma once

#include "persistence/SearchFolding.h"

#include <QString>

#include <optional>
#include <vector>

// The line of a recognised text that shows why a search found it, for the result cards and
// `pellux search`: the line of the first occurrence of the query, or, where the text has no line
// breaks (text stored before they were kept) or the line is long, the words around it.
namespace pellux::search_snippet {

// Characters kept on each side of the occurrence when a line is cut.
constexpr qsizetype kContext = 60;

struct Snippet {
    // Plain text on one line; "…" where it was cut.
    QString text;
    // Where the query occurs in `text`.
    std::vector<search_folding::Occurrence> matches;
};

// The snippet of `text` for `query`, or absent when the query does not occur in it.
std::optional<Snippet> snippetFor(const QString &text, const QString &query);

// The snippet as styled text: the text escaped, so nothing in it is ever read as markup, and
// each occurrence in <b>.
QString markup(const Snippet &snippet);

} // namespace pellux::search_snippet
