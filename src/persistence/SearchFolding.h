#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

// What search compares: the recognised text, window titles and application names and the query
// are all folded the same way, so that what recognition reads differently from what was on
// screen still matches what the user types.
//
// - "_" and every run of white space become one space (recognition reads an underscore as a
//   space in many fonts, and "checksum_window" is typed with one);
// - typographic quotes, dashes, ligatures and the ellipsis become their ASCII forms (recognition
//   reads plain quotes as curly ones);
// - "," becomes "." and ";" becomes ":" (in xterm's default font more than half of the periods
//   were read as commas, and colons and semicolons were taken for each other).
// "%" and "\" stay as they are, and case is left to the comparison.
namespace pellux::search_folding {

// Folds UTF-8 text; bytes that are not UTF-8 are kept as they are.
std::string fold(std::string_view text);
QString fold(const QString &text);

// Where a query occurs in a text, as search compares them: both folded, ASCII letters in either
// case, occurrences not overlapping, left to right. Offsets and lengths are in `text` (UTF-16
// units), so a folded space covers the whole run it came from and a ligature is never split.
// An empty (or all-space) query occurs nowhere.
struct Occurrence {
    qsizetype start = 0;
    qsizetype length = 0;
};
std::vector<Occurrence> occurrences(const QString &text, const QString &query);

// Registers the SQL function pellux_fold(text) on a connection. The text index's triggers call
// it, so every connection that writes recognised text or recordings needs it.
bool registerFunction(sqlite3 *db);

} // namespace pellux::search_folding
