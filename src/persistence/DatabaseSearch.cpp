// The literal text search, through the trigram index when it can answer.

#include "persistence/DatabaseInternals.h"
#include "persistence/SearchFolding.h"
#include "persistence/TextSearchIndex.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

void SimpleDatabaseManager::setTextIndexEnabled(bool enabled) { d->textIndexEnabled = enabled; }

void SimpleDatabaseManager::searchText(
    const QString &query, const std::optional<QString> &appName, std::function<void(std::vector<Recording>)> completion)
{
    findText(query, appName,
        [completion = std::move(completion)](SearchAnswer answer) { completion(std::move(answer.recordings)); });
}

void SimpleDatabaseManager::findText(
    const QString &query, const std::optional<QString> &appName, std::function<void(SearchAnswer)> completion)
{
    findText(query, appName, {}, kSearchLimit, std::move(completion));
}

void SimpleDatabaseManager::findText(const QString &query, const std::optional<QString> &appName,
    const TimeRange &range, int limit, std::function<void(SearchAnswer)> completion)
{
    // The completion moves on to the main thread with the answer: no copy of it is left to be
    // destroyed on the queue while the main thread reads what it delivered.
    d->serialQueue.async([this, query, appName, range, limit, completion = std::move(completion)]() mutable {
        SearchAnswer answer;
        if (limit < 1) {
            answer.error = QStringLiteral("Result limit %1 is not positive").arg(limit);
            log::failure(QStringLiteral("ERROR searchText: %1").arg(answer.error));
        } else {
            // The failed statement was the connection's last: its message is still there while
            // the transaction lasts.
            const sql::ReadTransaction transaction(d->db);
            if (std::optional<SearchAnswer> results = d->searchText(query, appName, range, limit))
                answer = std::move(*results);
            else
                answer.error = d->db ? d->errorMessage() : QStringLiteral("Database not available");
        }
        postToMain([completion = std::move(completion), answer = std::move(answer)]() mutable {
            completion(std::move(answer));
        });
    });
}

std::vector<SearchRow> SimpleDatabaseManager::Impl::plainSearchRows(
    const QString &pattern, const std::optional<QString> &appName, const TimeRange &range, int limit, bool *answered)
{
    // Every window of a capture cycle carries the cycle's time. Without a second sort key SQLite
    // orders such ties by whatever plan it picks, and the 100-row cap then keeps an arbitrary part
    // of a cycle: ties go newest stored first, the way the rest of the list runs.
    // A range is a stretch of idx_recordings_timestamp, read newest first until the page is full.
    QString conditions;
    if (appName)
        conditions += QStringLiteral("r.app_name = ?2 COLLATE NOCASE AND ");
    if (range.since)
        conditions += QStringLiteral("r.timestamp >= ?3 AND ");
    if (range.until)
        conditions += QStringLiteral("r.timestamp < ?4 AND ");
    const QString sql = QStringLiteral("SELECT r.id, r.timestamp, r.file_path, r.app_name, r.window_title"
                                       " FROM recordings r WHERE %1%2"
                                       " ORDER BY r.timestamp DESC, r.rowid DESC LIMIT %3")
                            .arg(conditions, text_search::plainMatchCondition())
                            .arg(limit);
    std::vector<SearchRow> rows;
    Statement select(db, sql.toUtf8().constData());
    *answered = select.prepared();
    if (!select.prepared()) {
        log::failure(QStringLiteral("ERROR searchText: Failed to prepare statement - %1").arg(errorMessage()));
        return rows;
    }
    log::debug(QStringLiteral("DEBUG searchText: Using pattern '%1'").arg(pattern));
    select.bind(1, pattern);
    if (appName)
        select.bind(2, *appName);
    if (range.since)
        select.bind(3, secondsSince1970(*range.since));
    if (range.until)
        select.bind(4, secondsSince1970(*range.until));
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW)
        rows.push_back(readSearchRow(select));
    if (rc != SQLITE_DONE) {
        // The rows read so far are no answer: the search would look complete and short.
        log::failure(QStringLiteral("ERROR searchText: %1").arg(errorMessage()));
        *answered = false;
        rows.clear();
    }
    return rows;
}

std::vector<SearchHit> SimpleDatabaseManager::Impl::searchHits(const std::vector<SearchRow> &rows, const QString &query)
{
    // Only the rows shown (at most 100), by the index on recording_id; on this queue, so the
    // window's thread never folds a text. A recording whose one text the search already read
    // (most have one) is not read again: its rows' ids alone say so, from the index.
    Statement ids(db, "SELECT id FROM ocr_text WHERE recording_id = ?1 ORDER BY id LIMIT 2");
    Statement select(db, "SELECT text FROM ocr_text WHERE recording_id = ?1 ORDER BY id");
    const auto failed = [this] {
        log::failure(QStringLiteral("ERROR searchText: cannot read the texts of the results - %1").arg(errorMessage()));
        return std::vector<SearchHit>();
    };
    // The snippet comes from the first text that holds the query; the key joins them all.
    const auto hitOf = [&query](const QStringList &texts) {
        SearchHit hit;
        QString all;
        for (const QString &text : texts) {
            if (!hit.snippet)
                hit.snippet = search_snippet::snippetFor(text, query);
            all += text;
            all += QChar(0x1f); // texts ["a b"] and ["a", "b"] differ
        }
        hit.textKey = qHash(all);
        return hit;
    };
    std::vector<SearchHit> hits;
    hits.reserve(rows.size());
    for (const SearchRow &row : rows) {
        if (row.textId) {
            if (!ids.prepared() || !ids.reset())
                return failed();
            ids.bind(1, row.id);
            std::vector<qint64> found;
            int rc = SQLITE_ROW;
            while ((rc = ids.step()) == SQLITE_ROW)
                found.push_back(ids.int64(0));
            if (rc != SQLITE_DONE)
                return failed();
            if (found.size() == 1 && found.front() == *row.textId) {
                hits.push_back(hitOf({ row.text }));
                continue;
            }
        }
        if (!select.prepared() || !select.reset())
            return failed();
        select.bind(1, row.id);
        QStringList texts;
        int rc = SQLITE_ROW;
        while ((rc = select.step()) == SQLITE_ROW)
            texts << select.text(0).value_or(QString());
        if (rc != SQLITE_DONE)
            return failed();
        hits.push_back(hitOf(texts));
    }
    return hits;
}

std::optional<SearchAnswer> SimpleDatabaseManager::Impl::searchText(
    const QString &query, const std::optional<QString> &appName, const TimeRange &range, int limit)
{
    if (!db) {
        log::failure(QStringLiteral("ERROR searchText: Database not available"));
        return std::nullopt;
    }
    log::debug(QStringLiteral("DEBUG searchText: Searching for '%1'").arg(query));
    // Folded as the stored text is, then literal: "%" typed by the user matches itself.
    const QString folded = search_folding::fold(query);
    const QString pattern = text_search::likePattern(folded);
    std::optional<std::vector<SearchRow>> indexed;
    if (textIndexEnabled && textIndexReady) {
        if (const std::optional<QString> candidates = text_search::candidateExpression(folded)) {
            indexed = text_search::searchRows(db, *candidates, pattern, appName, range, limit);
            if (indexed)
                log::debug(QStringLiteral("DEBUG searchText: Using pattern '%1'").arg(pattern));
        }
    }
    bool answered = true;
    std::vector<SearchRow> rows
        = indexed ? std::move(*indexed) : plainSearchRows(pattern, appName, range, limit, &answered);
    if (!answered)
        return std::nullopt;
    const size_t matches = rows.size();
    SearchAnswer answer;
    const std::vector<SearchHit> hits = searchHits(rows, query);
    // The rows that become recordings keep their hits, in step.
    for (size_t i = 0; i < hits.size(); ++i) {
        const SearchRow &row = rows[i];
        if (row.id && row.path && uuidFromIdText(*row.id))
            answer.hits.push_back(hits[i]);
    }
    answer.recordings = recordingsFromSearchRows(std::move(rows), "searchText");
    log::debug(QStringLiteral("DEBUG searchText: Total matches found: %1").arg(matches));
    log::debug(QStringLiteral("DEBUG searchText: Returning %1 recordings").arg(answer.recordings.size()));
    return answer;
}

std::optional<QUuid> database::uuidFromIdText(const QString &text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (hyphen ? c != u'-' : !hex)
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

std::vector<Recording> database::recordingsFromSearchRows(std::vector<SearchRow> rows, const char *operation)
{
    const bool verbose = log::verbose();
    const QString op = QString::fromLatin1(operation);
    std::vector<Recording> results;
    results.reserve(rows.size());
    int n = 0;
    for (SearchRow &row : rows) {
        ++n;
        if (!row.id) {
            if (verbose)
                log::debug(QStringLiteral("DEBUG %1: Match #%2 - ID column is NULL").arg(op).arg(n));
            continue;
        }
        if (verbose)
            log::debug(QStringLiteral("DEBUG %1: Match #%2 - ID string: %3").arg(op).arg(n).arg(*row.id));
        const std::optional<QUuid> id = uuidFromIdText(*row.id);
        if (!id) {
            if (verbose)
                log::debug(QStringLiteral("DEBUG %1: Failed to create UUID from string: %2").arg(op, *row.id));
            continue;
        }
        if (!row.path) {
            if (verbose)
                log::debug(QStringLiteral("DEBUG %1: Path column is NULL").arg(op));
            continue;
        }
        if (verbose)
            log::debug(
                QStringLiteral("DEBUG %1: Creating recording - ID: %2, Path: %3").arg(op, uuidText(*id), *row.path));
        Recording recording;
        recording.id = *id;
        recording.timestamp = fromSecondsSince1970(row.timestamp);
        recording.duration = 0;
        recording.filePath = QUrl::fromLocalFile(*row.path);
        recording.appName = std::move(row.appName);
        recording.windowTitle = std::move(row.windowTitle);
        recording.type = RecordingType::screenshot;
        results.push_back(std::move(recording));
    }
    return results;
}

} // namespace pellux
