// Writing, changing and deleting recordings and their text.

#include "persistence/DatabaseInternals.h"
#include "persistence/RecordingText.h"
#include "persistence/TextSearchIndex.h"
#include "runtime/Characters.h"
#include "runtime/Log.h"

#include <QFile>
#include <QSet>
#include <QStringList>

#include <sqlite3.h>

#include <algorithm>

namespace pellux {

using namespace database;
using sql::Statement;

void SimpleDatabaseManager::saveRecordingWithDeltaFrame(const Recording &recording,
    const std::optional<QString> &imageHash, qint64 fileSize, bool isDeltaFrame,
    const std::optional<QString> &referenceHash, std::optional<double> compressionRatio,
    std::function<void(RowWrite)> completion)
{
    d->serialQueue.async([this, recording, imageHash, fileSize, isDeltaFrame, referenceHash, compressionRatio,
                             completion = std::move(completion)] {
        const auto finish = [&](RowWrite result) {
            if (completion)
                completion(result);
        };
        log::debug(
            QStringLiteral("DEBUG saveRecordingWithDeltaFrame: Saving recording ID: %1 with hash: %2, isDelta: %3")
                .arg(recording.idText(), imageHash.value_or(QStringLiteral("none")), boolText(isDeltaFrame)));
        PendingWrite row;
        row.recordingId = recording.idText();
        row.isRecordingRow = true;
        row.attempt = [recording, imageHash, fileSize, isDeltaFrame, referenceHash, compressionRatio](
                          sqlite3 *db, QString *error) {
            Statement insert(db,
                "INSERT OR REPLACE INTO recordings (id, timestamp, display_index, file_path, "
                "app_name, window_title, image_hash, file_size, is_delta_frame, reference_hash, "
                "compression_ratio) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            int rc = sqlite3_extended_errcode(db);
            if (insert.prepared()) {
                insert.bind(1, recording.idText());
                insert.bind(2, secondsSince1970(recording.timestamp));
                insert.bind(3, 0);
                insert.bind(4, recording.localPath());
                insert.bind(5, recording.appName);
                insert.bind(6, recording.windowTitle);
                insert.bind(7, imageHash);
                insert.bind(8, fileSize);
                insert.bind(9, isDeltaFrame ? 1 : 0);
                insert.bind(10, referenceHash);
                insert.bind(11, compressionRatio);
                rc = insert.step();
            }
            if (rc != SQLITE_DONE)
                *error = QStringLiteral("Error saving recording with delta frame: %1").arg(sql::errorMessage(db));
            return rc;
        };
        const RowWrite outcome = d->write("saveRecordingWithDeltaFrame", std::move(row));
        if (outcome == RowWrite::written)
            log::debug(QStringLiteral("DEBUG saveRecordingWithDeltaFrame: Successfully saved recording"));
        finish(outcome);
    });
}

namespace {

// The boxes to store with a text: none unless there is one per word.
std::optional<QByteArray> storedBoxes(const QString &id, const RecordingText &text)
{
    if (text.words.empty())
        return std::nullopt;
    const size_t words = wordSpans(text.text).size();
    if (words != text.words.size()) {
        log::failure(QStringLiteral("Word boxes of recording %1 not stored: %2 boxes for %3 words")
                         .arg(id)
                         .arg(text.words.size())
                         .arg(words));
        return std::nullopt;
    }
    return encodeWordBoxes(text.words);
}

// Inserts the text row (and the boxes, when given) of an existing recording; an SQLite code, with
// the message in `error`. The caller holds a transaction or savepoint around it.
int insertText(sqlite3 *db, const QString &id, const QString &text, const std::optional<QByteArray> &boxes,
    TimePoint timestamp, QString *error)
{
    Statement insert(db, "INSERT INTO ocr_text (recording_id, text, timestamp) VALUES (?, ?, ?)");
    int rc = sqlite3_extended_errcode(db);
    if (insert.prepared()) {
        insert.bind(1, id);
        insert.bind(2, text);
        insert.bind(3, secondsSince1970(timestamp));
        rc = insert.step();
    }
    if (rc != SQLITE_DONE) {
        *error = QStringLiteral("Error saving OCR text: %1 (extended error code %2)")
                     .arg(sql::errorMessage(db))
                     .arg(sqlite3_extended_errcode(db));
        return rc;
    }
    if (!boxes)
        return rc;
    Statement words(db, "INSERT OR REPLACE INTO ocr_words (recording_id, boxes) VALUES (?, ?)");
    rc = sqlite3_extended_errcode(db);
    if (words.prepared()) {
        words.bind(1, id);
        words.bindBlob(2, *boxes);
        rc = words.step();
    }
    if (rc != SQLITE_DONE)
        *error = QStringLiteral("Error saving word boxes: %1").arg(sql::errorMessage(db));
    return rc;
}

// Runs `work` inside a savepoint: all of it is written, or none. Works inside and outside a
// transaction.
template <typename Work> int allOrNothing(sqlite3 *db, QString *error, const Work &work)
{
    if (!sql::exec(db, "SAVEPOINT recording_text")) {
        *error = QStringLiteral("Error saving OCR text: %1").arg(sql::errorMessage(db));
        return sqlite3_extended_errcode(db);
    }
    const int rc = work();
    if (rc != SQLITE_DONE) {
        sql::exec(db, "ROLLBACK TO recording_text");
        sql::exec(db, "RELEASE recording_text");
        return rc;
    }
    if (!sql::exec(db, "RELEASE recording_text")) {
        *error = QStringLiteral("Error saving OCR text: %1").arg(sql::errorMessage(db));
        const int failed = sqlite3_extended_errcode(db);
        sql::exec(db, "ROLLBACK TO recording_text");
        sql::exec(db, "RELEASE recording_text");
        return failed;
    }
    return rc;
}

} // namespace

void SimpleDatabaseManager::saveOCRText(
    const QUuid &recordingId, const QString &text, TimePoint timestamp, std::function<void(bool)> completion)
{
    saveOCRText(recordingId, RecordingText { text, {} }, timestamp, std::move(completion));
}

void SimpleDatabaseManager::saveOCRText(
    const QUuid &recordingId, const RecordingText &text, TimePoint timestamp, std::function<void(bool)> completion)
{
    d->serialQueue.async([this, recordingId, text, timestamp, completion = std::move(completion)] {
        const QString id = uuidText(recordingId);
        log::debug(QStringLiteral("DEBUG saveOCRText: Saving text for recording %1").arg(id));
        log::debug(QStringLiteral("DEBUG saveOCRText: Text length: %1 characters").arg(characterCount(text.text)));
        log::debug(QStringLiteral("DEBUG saveOCRText: Text preview: %1...").arg(leadingCharacters(text.text, 50)));
        PendingWrite row;
        row.recordingId = id;
        row.attempt = [id, text = text.text, boxes = storedBoxes(id, text), timestamp, instanceId = d->instanceId](
                          sqlite3 *db, QString *error) {
            {
                Statement count(db, "SELECT COUNT(*) FROM recordings WHERE id = ?");
                int rc = sqlite3_extended_errcode(db);
                if (count.prepared()) {
                    count.bind(1, id);
                    rc = count.step();
                }
                if (rc != SQLITE_ROW) {
                    *error = QStringLiteral("Error checking recording %1: %2").arg(id, sql::errorMessage(db));
                    return rc;
                }
                const qint64 n = count.int64(0);
                log::debug(QStringLiteral("DEBUG saveOCRText [%1]: Recording exists in DB: %2 (count: %3)")
                               .arg(instanceId, boolText(n > 0))
                               .arg(n));
                if (n == 0) {
                    *error = QStringLiteral("Recording %1 does not exist in database!").arg(id);
                    return kMissingRecording;
                }
            }
            if (!boxes)
                return insertText(db, id, text, boxes, timestamp, error);
            return allOrNothing(db, error, [&] { return insertText(db, id, text, boxes, timestamp, error); });
        };
        const RowWrite result = d->write("saveOCRText", std::move(row));
        if (result == RowWrite::written)
            log::debug(QStringLiteral("DEBUG saveOCRText: Successfully saved OCR text"));
        if (completion)
            completion(result != RowWrite::failed);
    });
}

void SimpleDatabaseManager::replaceRecordingText(
    const QUuid &recordingId, const RecordingText &text, TimePoint timestamp, std::function<void(bool)> completion)
{
    d->serialQueue.async([this, recordingId, text, timestamp, completion = std::move(completion)] {
        const auto finish = [&](bool stored) {
            if (completion)
                completion(stored);
        };
        if (!d->db) {
            log::failure(QStringLiteral("ERROR replaceRecordingText: Database not available"));
            return finish(false);
        }
        // A tool that only reads answers the text it recognised without keeping it.
        if (d->mode != OpenMode::createIfMissing) {
            log::debug(QStringLiteral("DEBUG replaceRecordingText: read-only, the new text is not stored"));
            return finish(false);
        }
        d->flushPendingWrites();
        const QString id = uuidText(recordingId);
        const std::optional<QByteArray> boxes = storedBoxes(id, text);
        QString error;
        bool missing = false;
        const int rc = allOrNothing(d->db, &error, [&] {
            Statement exists(d->db, "SELECT 1 FROM recordings WHERE id = ?");
            int step = sqlite3_extended_errcode(d->db);
            if (exists.prepared()) {
                exists.bind(1, id);
                step = exists.step();
            }
            if (step == SQLITE_DONE) {
                missing = true;
                return kMissingRecording;
            }
            if (step != SQLITE_ROW) {
                error = QStringLiteral("Error checking recording %1: %2").arg(id, sql::errorMessage(d->db));
                return step;
            }
            for (const char *statement :
                { "DELETE FROM ocr_text WHERE recording_id = ?", "DELETE FROM ocr_words WHERE recording_id = ?" }) {
                Statement remove(d->db, statement);
                step = sqlite3_extended_errcode(d->db);
                if (remove.prepared()) {
                    remove.bind(1, id);
                    step = remove.step();
                }
                if (step != SQLITE_DONE) {
                    error = QStringLiteral("Error replacing the text of %1: %2").arg(id, sql::errorMessage(d->db));
                    return step;
                }
            }
            return insertText(d->db, id, text.text, boxes, timestamp, &error);
        });
        if (missing)
            log::info(QStringLiteral("Text of %1 not replaced: the recording is gone").arg(id));
        else if (rc != SQLITE_DONE)
            log::failure(QStringLiteral("ERROR replaceRecordingText: %1").arg(error));
        finish(rc == SQLITE_DONE);
    });
}

void SimpleDatabaseManager::updateFileSize(const QString &path, qint64 newSize, std::function<void(bool)> completion)
{
    d->serialQueue.async([this, path, newSize, completion = std::move(completion)] {
        const auto finish = [&](bool result) {
            if (completion)
                completion(result);
        };
        // Matched literally (no wildcards, case as given): a path names the one file at exactly
        // that path, a bare name the files whose last path component it is.
        if (!d->db || path.isEmpty() || path.endsWith(QLatin1Char('/')))
            return finish(false);
        d->flushPendingWrites();
        const bool bareName = !path.contains(QLatin1Char('/'));
        Statement update(d->db,
            bareName ? "UPDATE recordings SET file_size = ?1 "
                       "WHERE file_path = ?2 OR substr(file_path, -length(?3)) = ?3"
                     : "UPDATE recordings SET file_size = ?1 WHERE file_path = ?2");
        if (!update.prepared()) {
            log::failure(QStringLiteral("ERROR updateFileSize: %1").arg(d->errorMessage()));
            return finish(false);
        }
        update.bind(1, newSize);
        update.bind(2, path);
        if (bareName)
            update.bind(3, QLatin1Char('/') + path);
        if (update.step() != SQLITE_DONE) {
            log::failure(QStringLiteral("ERROR updateFileSize: Error updating file size: %1").arg(d->errorMessage()));
            return finish(false);
        }
        const bool changed = sqlite3_changes(d->db) > 0;
        if (changed)
            log::info(QStringLiteral("Updated file size for %1 to %2 bytes").arg(path).arg(newSize));
        finish(changed);
    });
}

void SimpleDatabaseManager::deleteRecordings(
    const std::vector<QUuid> &recordingIds, std::function<void(int)> completion)
{
    deleteRecordingsMeasured(recordingIds, [completion = std::move(completion)](std::optional<DeletedRows> deleted) {
        if (completion)
            completion(deleted ? deleted->count : kDeletionFailed);
    });
}

void SimpleDatabaseManager::deleteRecordingsMeasured(
    const std::vector<QUuid> &recordingIds, std::function<void(std::optional<DeletedRows>)> completion)
{
    d->serialQueue.async([this, recordingIds, completion = std::move(completion)] {
        // A row still waiting in memory would otherwise be written after its deletion.
        QSet<QString> ids;
        for (const QUuid &recordingId : recordingIds)
            ids.insert(uuidText(recordingId));
        const int dropped = d->dropPendingWrites(ids);
        if (!d->db) {
            log::failure(QStringLiteral("ERROR deleteRecordings: Database not available"));
            return completion(std::nullopt);
        }
        d->flushPendingWrites();
        // The size is read from the row before it goes, so the answer never walks the files.
        Statement readSize(d->db, "SELECT coalesce(file_size, 0) FROM recordings WHERE id = ?");
        Statement deleteText(d->db, "DELETE FROM ocr_text WHERE recording_id = ?");
        Statement deleteWords(d->db, "DELETE FROM ocr_words WHERE recording_id = ?");
        Statement deleteRow(d->db, "DELETE FROM recordings WHERE id = ?");
        if (!readSize.prepared() || !deleteText.prepared() || !deleteWords.prepared() || !deleteRow.prepared()
            || !sql::exec(d->db, "BEGIN IMMEDIATE")) {
            log::failure(QStringLiteral("ERROR deleteRecordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        // All or nothing: a failure part-way leaves every row as it was.
        DeletedRows deleted { dropped, 0 };
        bool ok = true;
        for (const QString &id : std::as_const(ids)) {
            readSize.bind(1, id);
            const int sizeStep = readSize.step();
            ok = sizeStep == SQLITE_ROW || sizeStep == SQLITE_DONE;
            if (!ok)
                break;
            const qint64 size = sizeStep == SQLITE_ROW ? readSize.int64(0) : 0;
            deleteText.bind(1, id);
            deleteWords.bind(1, id);
            deleteRow.bind(1, id);
            ok = deleteText.step() == SQLITE_DONE && deleteWords.step() == SQLITE_DONE
                && deleteRow.step() == SQLITE_DONE;
            if (!ok)
                break;
            if (sqlite3_changes(d->db) > 0) {
                ++deleted.count;
                deleted.bytes += std::max<qint64>(0, size);
            }
            ok = readSize.reset() && deleteText.reset() && deleteWords.reset() && deleteRow.reset();
            if (!ok)
                break;
        }
        if (ok)
            ok = sql::exec(d->db, "COMMIT");
        if (!ok) {
            log::failure(QStringLiteral("ERROR deleteRecordings: %1").arg(d->errorMessage()));
            sql::exec(d->db, "ROLLBACK");
            return completion(std::nullopt);
        }
        log::debug(QStringLiteral("DEBUG deleteRecordings: Deleted %1 recordings, %2 bytes")
                       .arg(deleted.count)
                       .arg(deleted.bytes));
        completion(deleted);
    });
}

void SimpleDatabaseManager::countRecordings(std::optional<TimePoint> capturedBefore, std::optional<QString> appName,
    std::function<void(std::optional<qint64>)> completion)
{
    d->serialQueue.async([this, capturedBefore, appName, completion = std::move(completion)] {
        if (!d->db)
            return completion(std::nullopt);
        d->flushPendingWrites();
        QStringList conditions;
        if (appName)
            conditions << QStringLiteral("app_name = ?1");
        if (capturedBefore)
            conditions << QStringLiteral("timestamp < ?2");
        Statement count(d->db,
            QStringLiteral("SELECT count(*) FROM recordings%1")
                .arg(conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(" AND ")));
        if (!count.prepared()) {
            log::failure(QStringLiteral("Error counting recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        if (appName)
            count.bind(1, *appName);
        if (capturedBefore)
            count.bind(2, secondsSince1970(*capturedBefore));
        if (count.step() != SQLITE_ROW) {
            log::failure(QStringLiteral("Error counting recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        completion(count.int64(0));
    });
}

void SimpleDatabaseManager::recordingRowsOfApplication(
    const QString &appName, std::function<void(std::optional<std::vector<Recording>>)> completion)
{
    d->serialQueue.async([this, appName, completion = std::move(completion)] {
        if (d->db)
            d->flushPendingWrites();
        completion(d->recordingsWhere("app_name = ?", { appName }));
    });
}

void SimpleDatabaseManager::resetDatabase(std::function<void(bool)> completion)
{
    d->serialQueue.async([this, completion = std::move(completion)] {
        if (d->mode != OpenMode::createIfMissing) {
            log::failure(QStringLiteral("ERROR resetDatabase: a database opened only for reading is not reset"));
            if (completion)
                completion(false);
            return;
        }
        // The rows waiting to be written belong to the data being thrown away.
        d->pendingWrites.clear();
        d->pendingCount = 0;
        d->closeDatabase();
        const QString path = d->getDatabasePath();
        bool removed = true;
        for (const QString &file :
            { path, path + QStringLiteral("-journal"), path + QStringLiteral("-wal"), path + QStringLiteral("-shm") }) {
            QFile f(file);
            if (f.exists() && !f.remove()) {
                log::failure(QStringLiteral("ERROR resetDatabase: cannot remove %1: %2").arg(file, f.errorString()));
                removed = false;
            }
        }
        // Whatever happened, the store goes on with an open file when it can.
        const bool opened = d->openDatabase();
        if (removed && opened)
            log::info(QStringLiteral("Database reset completed"));
        else if (removed)
            log::failure(QStringLiteral("ERROR resetDatabase: the fresh database cannot be opened"));
        if (completion)
            completion(removed && opened);
    });
}

void SimpleDatabaseManager::deleteAllData(std::function<void(bool)> completion)
{
    d->serialQueue.async([this, completion = std::move(completion)] {
        const auto finish = [&](bool done) {
            if (completion)
                completion(done);
        };
        if (!d->db) {
            log::failure(QStringLiteral("ERROR deleteAllData: Database not available"));
            return finish(false);
        }
        // One transaction: either everything goes or, on a failure, everything stays.
        bool ok = sql::exec(d->db, "BEGIN IMMEDIATE");
        if (ok && !text_search::clear(d->db))
            ok = false;
        if (ok && !sql::exec(d->db, "DELETE FROM ocr_text;"))
            ok = false;
        if (ok && !sql::exec(d->db, "DELETE FROM ocr_words;"))
            ok = false;
        if (ok && !sql::exec(d->db, "DELETE FROM recordings;"))
            ok = false;
        if (ok && !sql::exec(d->db, "COMMIT"))
            ok = false;
        if (!ok) {
            log::failure(QStringLiteral("ERROR deleteAllData: %1").arg(d->errorMessage()));
            sql::exec(d->db, "ROLLBACK");
            return finish(false);
        }
        // The rows waiting to be written belong to the data thrown away.
        d->pendingWrites.clear();
        d->pendingCount = 0;
        log::info(QStringLiteral("All database data deleted successfully"));
        finish(true);
    });
}

} // namespace pellux
