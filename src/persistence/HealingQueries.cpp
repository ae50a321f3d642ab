// The queries that bring the store back into agreement after a crash.

#include "persistence/DatabaseInternals.h"
#include "persistence/RecordingText.h"
#include "runtime/Log.h"

#include <QSet>

#include <limits>

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

namespace {

// Frames whose late recognition found nothing to store. A table of its own, so that searches
// (which join `ocr_text`) answer exactly what they did before; rows leave with their recording.
bool ensureRecognitionAttemptsTable(sqlite3 *db)
{
    return sql::exec(db,
        "CREATE TABLE IF NOT EXISTS text_recognition_attempts ("
        "recording_id TEXT PRIMARY KEY REFERENCES recordings(id) ON DELETE CASCADE, "
        "outcome TEXT NOT NULL, "
        "timestamp REAL NOT NULL)");
}

constexpr const char *kRowColumns = "rowid, id, timestamp, file_path, app_name, window_title, image_hash";

// Reads the rows of a statement selecting kRowColumns. Rows without a usable id or path are
// skipped (and still advance the walk); absent when stepping fails.
std::optional<SimpleDatabaseManager::RecordingRows> readRecordingRows(sqlite3 *db, sql::Statement &select)
{
    SimpleDatabaseManager::RecordingRows out;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW) {
        out.lastRowid = select.int64(0);
        const std::optional<QString> idText = select.text(1);
        const std::optional<QUuid> id = idText ? uuidFromIdText(*idText) : std::nullopt;
        const std::optional<QString> path = select.text(3);
        if (!id || !path)
            continue;
        Recording r;
        r.id = *id;
        r.timestamp = fromSecondsSince1970(select.real(2));
        r.filePath = QUrl::fromLocalFile(*path);
        r.thumbnailPath = r.filePath;
        r.appName = select.text(4);
        r.windowTitle = select.text(5);
        r.imageHash = select.text(6);
        out.recordings.push_back(std::move(r));
    }
    if (rc != SQLITE_DONE) {
        log::failure(QStringLiteral("Error reading recordings: %1").arg(sql::errorMessage(db)));
        return std::nullopt;
    }
    return out;
}

} // namespace

void SimpleDatabaseManager::recordingRows(
    qint64 afterRowid, int limit, std::function<void(std::optional<RecordingRows>)> completion)
{
    d->serialQueue.async([this, afterRowid, limit, completion = std::move(completion)] {
        if (!d->db)
            return completion(std::nullopt);
        Statement select(d->db,
            QStringLiteral("SELECT %1 FROM recordings WHERE rowid > ? ORDER BY rowid LIMIT ?")
                .arg(QLatin1String(kRowColumns)));
        if (!select.prepared()) {
            log::failure(QStringLiteral("Error reading recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        select.bind(1, afterRowid);
        select.bind(2, limit);
        completion(readRecordingRows(d->db, select));
    });
}

void SimpleDatabaseManager::recordingRowsCapturedBefore(
    std::optional<TimePoint> cutoff, std::function<void(std::optional<RecordingRows>)> completion)
{
    d->serialQueue.async([this, cutoff, completion = std::move(completion)] {
        if (!d->db)
            return completion(std::nullopt);
        d->flushPendingWrites();
        Statement select(d->db,
            QStringLiteral("SELECT %1 FROM recordings %2 ORDER BY timestamp, rowid")
                .arg(QLatin1String(kRowColumns), cutoff ? QStringLiteral("WHERE timestamp < ?") : QString()));
        if (!select.prepared()) {
            log::failure(QStringLiteral("Error reading recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        if (cutoff)
            select.bind(1, secondsSince1970(*cutoff));
        completion(readRecordingRows(d->db, select));
    });
}

void SimpleDatabaseManager::recordingCount(std::function<void(std::optional<qint64>)> completion)
{
    d->serialQueue.async([this, completion = std::move(completion)] {
        if (!d->db)
            return completion(std::nullopt);
        d->flushPendingWrites();
        Statement count(d->db, "SELECT count(*) FROM recordings");
        if (!count.prepared() || count.step() != SQLITE_ROW) {
            log::failure(QStringLiteral("Error counting recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        completion(count.int64(0));
    });
}

void SimpleDatabaseManager::existingRecordingIds(
    const std::vector<QUuid> &recordingIds, std::function<void(std::optional<QSet<QUuid>>)> completion)
{
    d->serialQueue.async([this, recordingIds, completion = std::move(completion)] {
        if (!d->db)
            return completion(std::nullopt);
        Statement count(d->db, "SELECT 1 FROM recordings WHERE id = ?");
        if (!count.prepared()) {
            log::failure(QStringLiteral("Error reading recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        QSet<QUuid> existing;
        for (const QUuid &id : recordingIds) {
            count.bind(1, uuidText(id));
            const int rc = count.step();
            if (rc == SQLITE_ROW) {
                existing.insert(id);
            } else if (rc != SQLITE_DONE) {
                log::failure(QStringLiteral("Error reading recordings: %1").arg(d->errorMessage()));
                return completion(std::nullopt);
            }
            count.reset();
        }
        completion(std::move(existing));
    });
}

void SimpleDatabaseManager::recordingsWithFilePaths(
    const QStringList &filePaths, std::function<void(std::optional<std::vector<Recording>>)> completion)
{
    d->serialQueue.async([this, filePaths, completion = std::move(completion)] {
        completion(d->recordingsWhere("file_path = ?", filePaths));
    });
}

void SimpleDatabaseManager::recordingsWithIds(
    const std::vector<QUuid> &recordingIds, std::function<void(std::optional<std::vector<Recording>>)> completion)
{
    QStringList ids;
    for (const QUuid &id : recordingIds)
        ids << uuidText(id);
    d->serialQueue.async(
        [this, ids, completion = std::move(completion)] { completion(d->recordingsWhere("id = ?", ids)); });
}

std::optional<std::vector<Recording>> SimpleDatabaseManager::Impl::recordingsWhere(
    const char *condition, const QStringList &values)
{
    if (!db)
        return std::nullopt;
    Statement select(db,
        QStringLiteral("SELECT %1 FROM recordings WHERE %2").arg(QLatin1String(kRowColumns), QLatin1String(condition)));
    if (!select.prepared()) {
        log::failure(QStringLiteral("Error reading recordings: %1").arg(errorMessage()));
        return std::nullopt;
    }
    std::vector<Recording> found;
    for (const QString &value : values) {
        select.bind(1, value);
        std::optional<RecordingRows> rows = readRecordingRows(db, select);
        if (!rows)
            return std::nullopt;
        for (Recording &r : rows->recordings)
            found.push_back(std::move(r));
        select.reset();
    }
    return found;
}

void SimpleDatabaseManager::saveRecoveredRows(
    std::vector<RecoveredRow> rows, std::function<void(std::optional<int>)> completion)
{
    d->serialQueue.async([this, rows = std::move(rows), completion = std::move(completion)] {
        if (!d->db)
            return completion(std::nullopt);
        Statement insert(d->db,
            "INSERT OR IGNORE INTO recordings (id, timestamp, display_index, file_path, app_name, window_title, "
            "image_hash, file_size, is_delta_frame) VALUES (?, ?, 0, ?, ?, ?, ?, ?, ?)");
        if (!insert.prepared() || !sql::exec(d->db, "BEGIN IMMEDIATE")) {
            log::failure(QStringLiteral("Error saving recovered recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        int written = 0;
        bool ok = true;
        for (const RecoveredRow &row : rows) {
            insert.bind(1, row.recording.idText());
            insert.bind(2, secondsSince1970(row.recording.timestamp));
            insert.bind(3, row.recording.localPath());
            insert.bind(4, row.recording.appName);
            insert.bind(5, row.recording.windowTitle);
            insert.bind(6, row.recording.imageHash);
            insert.bind(7, row.fileSize);
            insert.bind(8, row.isDeltaFrame ? 1 : 0);
            ok = insert.step() == SQLITE_DONE;
            if (!ok)
                break;
            written += sqlite3_changes(d->db);
            insert.reset();
        }
        if (ok)
            ok = sql::exec(d->db, "COMMIT");
        if (!ok) {
            log::failure(QStringLiteral("Error saving recovered recordings: %1").arg(d->errorMessage()));
            sql::exec(d->db, "ROLLBACK");
            return completion(std::nullopt);
        }
        completion(written);
    });
}

void SimpleDatabaseManager::recordingsAwaitingText(std::optional<TimePoint> capturedFrom,
    std::optional<TimePoint> capturedBefore, qint64 afterRowid, int limit,
    std::function<void(std::optional<RecordingRows>)> completion)
{
    d->serialQueue.async([this, capturedFrom, capturedBefore, afterRowid, limit, completion = std::move(completion)] {
        if (!d->db)
            return completion(std::nullopt);
        if (!ensureRecognitionAttemptsTable(d->db)) {
            log::failure(QStringLiteral("Error creating the recognition attempts table: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        qint64 after = afterRowid;
        if (capturedFrom) {
            // The walk goes by rowid; where a range starts late (the last minutes of a long history),
            // it starts at the first row of the range, found through the time index, instead of
            // reading every row before it.
            Statement first(
                d->db, "SELECT min(rowid) FROM recordings INDEXED BY idx_recordings_timestamp WHERE timestamp >= ?");
            if (first.prepared())
                first.bind(1, secondsSince1970(*capturedFrom));
            if (!first.prepared() || first.step() != SQLITE_ROW) {
                log::failure(QStringLiteral("Error reading recordings: %1").arg(d->errorMessage()));
                return completion(std::nullopt);
            }
            if (first.isNull(0))
                return completion(RecordingRows { {}, afterRowid });
            after = std::max(after, first.int64(0) - 1);
        }
        Statement select(d->db,
            QStringLiteral("SELECT %1 FROM recordings r WHERE rowid > ? AND timestamp >= ? AND timestamp < ? "
                           "AND NOT EXISTS (SELECT 1 FROM ocr_text o WHERE o.recording_id = r.id) "
                           "AND NOT EXISTS (SELECT 1 FROM text_recognition_attempts a WHERE a.recording_id = r.id) "
                           "ORDER BY rowid LIMIT ?")
                .arg(QLatin1String(kRowColumns)));
        if (!select.prepared()) {
            log::failure(QStringLiteral("Error reading recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        select.bind(1, after);
        select.bind(2, capturedFrom ? secondsSince1970(*capturedFrom) : -std::numeric_limits<double>::infinity());
        select.bind(3, capturedBefore ? secondsSince1970(*capturedBefore) : std::numeric_limits<double>::infinity());
        select.bind(4, limit);
        completion(readRecordingRows(d->db, select));
    });
}

void SimpleDatabaseManager::saveLateRecognition(const QUuid &recordingId, RecognitionOutcome outcome,
    const QString &text, TimePoint timestamp, std::function<void(LateRecognitionSave)> completion)
{
    saveLateRecognition(recordingId, outcome, RecordingText { text, {} }, timestamp, std::move(completion));
}

void SimpleDatabaseManager::saveLateRecognition(const QUuid &recordingId, RecognitionOutcome outcome,
    const RecordingText &recognized, TimePoint timestamp, std::function<void(LateRecognitionSave)> completion)
{
    d->serialQueue.async([this, recordingId, outcome, recognized, timestamp, completion = std::move(completion)] {
        const auto finish = [&](LateRecognitionSave result) {
            if (completion)
                completion(result);
        };
        if (!d->db)
            return finish(LateRecognitionSave::failed);
        const QString &text = recognized.text;
        const bool withText = outcome == RecognitionOutcome::text && !text.isEmpty();
        if (!withText && !ensureRecognitionAttemptsTable(d->db)) {
            log::failure(QStringLiteral("Error creating the recognition attempts table: %1").arg(d->errorMessage()));
            return finish(LateRecognitionSave::failed);
        }
        const QString id = uuidText(recordingId);
        const bool withBoxes
            = withText && !recognized.words.empty() && wordSpans(text).size() == recognized.words.size();
        // The text and its boxes go in together or not at all.
        if (withBoxes && !sql::exec(d->db, "SAVEPOINT late_recognition")) {
            log::failure(QStringLiteral("Error saving recognised text: %1").arg(d->errorMessage()));
            return finish(LateRecognitionSave::failed);
        }
        const auto fail = [&] {
            log::failure(QStringLiteral("Error saving recognised text: %1").arg(d->errorMessage()));
            if (withBoxes) {
                sql::exec(d->db, "ROLLBACK TO late_recognition");
                sql::exec(d->db, "RELEASE late_recognition");
            }
            finish(LateRecognitionSave::failed);
        };
        // The row must still exist (a deletion may have come first), and text recognised meanwhile
        // by the capture itself is not doubled.
        Statement insert(d->db,
            withText ? "INSERT INTO ocr_text (recording_id, text, timestamp) SELECT ?1, ?2, ?3 "
                       "WHERE EXISTS (SELECT 1 FROM recordings WHERE id = ?1) "
                       "AND NOT EXISTS (SELECT 1 FROM ocr_text WHERE recording_id = ?1)"
                     : "INSERT OR IGNORE INTO text_recognition_attempts (recording_id, outcome, timestamp) "
                       "SELECT ?1, ?2, ?3 WHERE EXISTS (SELECT 1 FROM recordings WHERE id = ?1)");
        if (!insert.prepared())
            return fail();
        insert.bind(1, id);
        insert.bind(2,
            withText                                        ? text
                : outcome == RecognitionOutcome::unreadable ? QStringLiteral("unreadable")
                                                            : QStringLiteral("no text"));
        insert.bind(3, secondsSince1970(timestamp));
        if (insert.step() != SQLITE_DONE)
            return fail();
        const bool inserted = sqlite3_changes(d->db) > 0;
        if (inserted && withBoxes) {
            Statement words(d->db, "INSERT OR REPLACE INTO ocr_words (recording_id, boxes) VALUES (?, ?)");
            if (!words.prepared())
                return fail();
            words.bind(1, id);
            words.bindBlob(2, encodeWordBoxes(recognized.words));
            if (words.step() != SQLITE_DONE)
                return fail();
        }
        if (withBoxes && !sql::exec(d->db, "RELEASE late_recognition"))
            return fail();
        if (!inserted) {
            log::info(
                QStringLiteral("Recognised text of %1 not stored: the recording is gone, or has text already").arg(id));
            return finish(LateRecognitionSave::superseded);
        }
        finish(LateRecognitionSave::stored);
    });
}

} // namespace pellux
