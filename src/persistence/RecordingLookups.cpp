// Single look-ups: a recording's text, whether it exists, a file by hash.

#include "persistence/DatabaseInternals.h"
#include "runtime/Characters.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

void SimpleDatabaseManager::getOCRText(const QUuid &recordingId, std::function<void(std::optional<QString>)> completion)
{
    d->serialQueue.async([this, recordingId, completion = std::move(completion)] {
        std::optional<QString> result;
        const auto deliver = [&] { postToMain([completion, result] { completion(result); }); };
        if (!d->db) {
            log::debug(QStringLiteral("DEBUG: Database not available"));
            return deliver();
        }
        const QString id = uuidText(recordingId);
        log::debug(QStringLiteral("DEBUG: Looking for OCR text with recording_id: %1").arg(id));
        if (log::verbose()) {
            // The listing exists only for its log lines; skip the scan when they are not printed.
            Statement list(d->db, "SELECT recording_id FROM ocr_text");
            if (list.prepared()) {
                log::debug(QStringLiteral("DEBUG: OCR texts in database:"));
                qint64 n = 0;
                while (list.step() == SQLITE_ROW) {
                    ++n;
                    if (const std::optional<QString> value = list.text(0))
                        log::debug(QStringLiteral("  [%1] %2").arg(n).arg(*value));
                }
                log::debug(QStringLiteral("DEBUG: Total OCR texts: %1").arg(n));
            }
        }
        Statement select(d->db, "SELECT text FROM ocr_text WHERE recording_id = ? LIMIT 1");
        if (!select.prepared()) {
            log::failure(QStringLiteral("ERROR getOCRText: Failed to prepare statement - %1").arg(d->errorMessage()));
            return deliver();
        }
        select.bind(1, id);
        const int rc = select.step();
        if (rc == SQLITE_DONE) {
            log::debug(QStringLiteral("DEBUG: No row found for recording_id: %1").arg(id));
        } else if (rc != SQLITE_ROW) {
            log::failure(QStringLiteral("ERROR getOCRText: %1").arg(d->errorMessage()));
        } else if (select.isNull(0)) {
            log::debug(QStringLiteral("DEBUG: Column text is NULL"));
        } else if (const std::optional<QString> text = select.text(0)) {
            log::debug(QStringLiteral("DEBUG: Found OCR text in DB with %1 bytes").arg(select.byteCount(0)));
            log::debug(QStringLiteral("DEBUG: Text length: %1 characters").arg(characterCount(*text)));
            log::debug(QStringLiteral("DEBUG: Text preview: %1...").arg(leadingCharacters(*text, 50)));
            log::debug(QStringLiteral("DEBUG: Text isEmpty: %1").arg(boolText(text->isEmpty())));
            result = text;
        } else {
            log::debug(QStringLiteral("DEBUG: Failed to convert text to string"));
        }
        deliver();
    });
}

namespace {

// The stored text with its boxes; the text alone (and one log line) when the boxes are damaged or
// do not agree with it.
RecordingText textWithStoredBoxes(const QString &id, QString text, const std::optional<QByteArray> &blob)
{
    if (!blob)
        return RecordingText { std::move(text), {} };
    const std::optional<std::vector<QRect>> boxes = decodeWordBoxes(*blob);
    if (!boxes) {
        log::failure(
            QStringLiteral("The word boxes of recording %1 cannot be read; its text is used without them").arg(id));
        return RecordingText { std::move(text), {} };
    }
    RecordingText result = withWordBoxes(std::move(text), *boxes);
    if (result.words.empty() && !boxes->empty())
        log::failure(QStringLiteral("The %1 word boxes of recording %2 do not fit its text; it is used without them")
                         .arg(boxes->size())
                         .arg(id));
    return result;
}

} // namespace

void SimpleDatabaseManager::getRecordingText(
    const QUuid &recordingId, std::function<void(std::optional<RecordingText>)> completion)
{
    d->serialQueue.async([this, recordingId, completion = std::move(completion)] {
        std::optional<RecordingText> result;
        const auto deliver = [&] { postToMain([completion, result = std::move(result)] { completion(result); }); };
        if (!d->db) {
            log::failure(QStringLiteral("ERROR getRecordingText: Database not available"));
            return deliver();
        }
        const QString id = uuidText(recordingId);
        // A file last opened by an older Pellux, read without writing to it, has no box table.
        bool haveBoxes = false;
        {
            Statement table(d->db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'ocr_words'");
            const int rc = table.prepared() ? table.step() : sqlite3_extended_errcode(d->db);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
                log::failure(QStringLiteral("ERROR getRecordingText: %1").arg(d->errorMessage()));
                return deliver();
            }
            haveBoxes = rc == SQLITE_ROW;
        }
        Statement select(d->db,
            haveBoxes
                ? "SELECT o.text, w.boxes FROM ocr_text o LEFT JOIN ocr_words w ON w.recording_id = o.recording_id "
                  "WHERE o.recording_id = ? ORDER BY o.id LIMIT 1"
                : "SELECT text, NULL FROM ocr_text WHERE recording_id = ? ORDER BY id LIMIT 1");
        int rc = sqlite3_extended_errcode(d->db);
        if (select.prepared()) {
            select.bind(1, id);
            rc = select.step();
        }
        if (rc == SQLITE_DONE) {
            result = RecordingText {};
        } else if (rc != SQLITE_ROW) {
            log::failure(QStringLiteral("ERROR getRecordingText: %1").arg(d->errorMessage()));
        } else {
            const std::optional<QByteArray> blob = select.isNull(1) ? std::nullopt : std::optional(select.blob(1));
            result = textWithStoredBoxes(id, select.text(0).value_or(QString()), blob);
        }
        deliver();
    });
}

void SimpleDatabaseManager::verifyRecordingExists(const QUuid &recordingId, std::function<void(bool)> completion)
{
    d->serialQueue.async([this, recordingId, completion = std::move(completion)] {
        const QString id = uuidText(recordingId);
        if (d->isKept(id))
            return completion(true);
        if (!d->db)
            return completion(false);
        {
            Statement total(d->db, "SELECT COUNT(*) FROM recordings");
            if (total.prepared() && total.step() == SQLITE_ROW)
                log::debug(QStringLiteral("DEBUG verifyRecordingExists [%1]: Total recordings in DB: %2")
                               .arg(d->instanceId)
                               .arg(total.int64(0)));
        }
        bool exists = false;
        Statement count(d->db, "SELECT COUNT(*) FROM recordings WHERE id = ?");
        int rc = sqlite3_extended_errcode(d->db);
        if (count.prepared()) {
            count.bind(1, id);
            rc = count.step();
        }
        if (rc == SQLITE_ROW) {
            const qint64 n = count.int64(0);
            exists = n > 0;
            log::debug(QStringLiteral("DEBUG verifyRecordingExists [%1]: Recording %2 exists: %3 (count: %4)")
                           .arg(d->instanceId, id, boolText(exists))
                           .arg(n));
        } else {
            log::failure(QStringLiteral("ERROR verifyRecordingExists: %1").arg(d->errorMessage()));
        }
        completion(exists);
    });
}

void SimpleDatabaseManager::getScreenshotByHash(
    const QString &imageHash, std::function<void(std::optional<QString>)> completion)
{
    d->serialQueue.async([this, imageHash, completion = std::move(completion)] {
        std::optional<QString> path;
        if (d->db) {
            Statement select(d->db, "SELECT file_path FROM recordings WHERE image_hash = ? LIMIT 1");
            int rc = sqlite3_extended_errcode(d->db);
            if (select.prepared()) {
                select.bind(1, imageHash);
                rc = select.step();
            }
            if (rc == SQLITE_ROW)
                path = select.text(0);
            else if (rc != SQLITE_DONE)
                log::failure(QStringLiteral("ERROR getScreenshotByHash: %1").arg(d->errorMessage()));
        }
        postToMain([completion, path] { completion(path); });
    });
}

} // namespace pellux
