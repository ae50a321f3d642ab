#pragma once

#include "persistence/SearchRow.h"

#include <QString>

#include <optional>
#include <vector>

struct sqlite3;

// A trigram index over the recognised text that answers the substring search without reading
// every text row. `recordings` and `ocr_text` stay the source of truth: the index only proposes
// candidates, newest first, and every candidate is checked with the exact LIKE condition, so the
// answer is the one the plain search statement gives.
//
// Layout, all inside the database file:
// - `ocr_text_search`: a contentless FTS5 table (trigram tokenizer, case-insensitive) holding each
//   text row under an integer key;
// - `ocr_text_search_keys`: key -> ocr_text.id. A key is the capture time of the row's recording in
//   whole seconds times 2^20, plus a slot within that second, so key order is capture order (to the
//   second) and the newest matches come first without sorting them all;
// - `ocr_text_search_state`: whether the index covers every text row;
// - triggers on `ocr_text` and `recordings` that keep all of it in step with every insert,
//   update and delete, whoever makes them.
namespace pellux::text_search {

// Creates the index when it is missing and builds it for the rows already stored (logging
// progress for large files); an index that disagrees with the text rows is built afresh. True
// when the index is ready for searches.
bool prepare(sqlite3 *db);

// The same answer as prepare without writing anything, for connections that only read.
bool ready(sqlite3 *db);

// Empties the index in one step, ahead of deleting every text row (which would otherwise remove
// the entries one by one). Part of the caller's transaction.
bool clear(sqlite3 *db);

// The FTS5 expression that proposes candidates for texts containing `query` literally, or absent
// when the index cannot serve the query (fewer than three characters).
std::optional<QString> candidateExpression(const QString &query);

// The LIKE pattern that finds `query` anywhere in a text, literally: "%", "_" and the escape
// character "\" in it match themselves (every statement using it says ESCAPE '\').
QString likePattern(const QString &query);

// The rows of the plain search statement (at most `limit`, newest first) found through the index.
// Absent when the index cannot answer right now (incomplete, or capture times that are not
// numbers); the caller then runs the plain statement.
std::optional<std::vector<SearchRow>> searchRows(
    sqlite3 *db, const QString &expression, const QString &pattern, const std::optional<QString> &appName, int limit);

} // namespace pellux::text_search
