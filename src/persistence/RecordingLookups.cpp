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
