#pragma once

#include "persistence/SearchRow.h"
#include "persistence/Timeline.h"

#include <QString>

#include <optional>
#include <vector>

struct sqlite3;

// Trigram indexes that answer the substring search without reading every text row: one over the
// recognised text, one over the recordings' application names and window titles, both over the
// folded text (`search_folding`). `recordings` and `ocr_text` stay the source of truth: an index
// only proposes candidates, newest first, and every candidate is checked with the exact LIKE
// condition, so the answer is the one the plain search statement gives.
//
// Layout, all inside the database file, for each of `ocr_text_search` and `title_search`:
// - the contentless FTS5 table (trigram tokenizer, case-insensitive) holding each source row under
//   an integer key;
// - `<table>_keys`: key -> source row (ocr_text.id or recordings.rowid). A key is the capture time
//   of the row's recording in whole seconds times 2^20, plus a slot within that second, so key
//   order is capture order (to the second) and the newest matches come first without sorting them
//   all;
// and `ocr_text_search_state`: the layout and whether both indexes cover every row; triggers on
// `ocr_text` and `recordings` keep all of it in step with every insert, update and delete,
// whoever makes them (the connection needs the function pellux_fold).
namespace pellux::text_search {

// Whether the indexes serve searches now, are to be built for the rows already stored
// (`buildStep`, until it says done), or cannot serve them (a failure, or rows without a numeric
// capture time). Searches read every row until they are ready.
enum class Preparation { ready, building, unavailable };

// Creates the indexes when they are missing, or when they disagree with the rows or are of an
// earlier layout; a small store is indexed at once.
Preparation prepare(sqlite3 *db);

// Where a build is: the last source row indexed of each table, and the rows of the next step.
struct BuildProgress {
    qint64 lastText = 0;
    qint64 lastRecording = 0;
    qint64 indexed = 0;
    int batchRows = 200;
    bool textsDone = false;
    bool done = false;
    bool complete = false; // once done: whether the indexes now serve searches
};

// Indexes the next batch of rows in one short transaction, so that the writes and searches
// queued meanwhile run in between; after the last one the indexes are marked complete. False on
// a failure (the indexes stay incomplete and are built afresh at the next open).
bool buildStep(sqlite3 *db, BuildProgress *progress);

// The same answer as prepare's "ready" without writing anything, for connections that only read.
bool ready(sqlite3 *db);

// Empties the indexes in one step, ahead of deleting every row (which would otherwise remove the
// entries one by one). Part of the caller's transaction; true when there is no index to empty.
bool clear(sqlite3 *db);

// The FTS5 expression that proposes candidates for texts containing the folded `query`, or absent
// when the indexes cannot serve the query (fewer than three characters).
std::optional<QString> candidateExpression(const QString &foldedQuery);

// The LIKE pattern that finds the folded `query` anywhere in a folded text, literally: "%" and the
// escape character "\" in it match themselves (every statement using it says ESCAPE '\').
QString likePattern(const QString &foldedQuery);

// The rows of the plain search statement (at most `limit`, newest first, captured within `range`)
// found through the indexes. Absent when they cannot answer right now (incomplete, or capture times that are not
// numbers); the caller then runs the plain statement.
std::optional<std::vector<SearchRow>> searchRows(sqlite3 *db, const QString &expression, const QString &pattern,
    const std::optional<QString> &appName, const TimeRange &range, int limit);

// The condition of the plain statement: a recording (alias r) whose folded title or application
// name, or one of whose folded texts, matches the LIKE pattern ?1.
QString plainMatchCondition();

} // namespace pellux::text_search
