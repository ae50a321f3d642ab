// The tables and indexes, and the columns an older file lacks.

#include "persistence/DatabaseInternals.h"
#include "persistence/TextSearchIndex.h"
#include "runtime/Log.h"

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

namespace {

struct OptionalColumn {
    const char *name;
    const char *statement;
};

// The columns an older file may lack, in the order they are added.
const OptionalColumn kOptionalColumns[] = {
    { "app_name", "ALTER TABLE recordings ADD COLUMN app_name TEXT" },
    { "window_title", "ALTER TABLE recordings ADD COLUMN window_title TEXT" },
    { "image_hash", "ALTER TABLE recordings ADD COLUMN image_hash TEXT" },
    { "file_size", "ALTER TABLE recordings ADD COLUMN file_size INTEGER" },
    { "compression_ratio", "ALTER TABLE recordings ADD COLUMN compression_ratio REAL" },
    { "is_delta_frame", "ALTER TABLE recordings ADD COLUMN is_delta_frame INTEGER DEFAULT 0" },
    { "reference_hash", "ALTER TABLE recordings ADD COLUMN reference_hash TEXT" },
};

} // namespace

void SimpleDatabaseManager::Impl::createTables()
{
    // A table lost from an older or damaged file is created again (empty) instead of failing
    // every insert that needs it.
    QStringList tables;
    {
        Statement names(
            db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name IN ('recordings', 'ocr_text')");
        int rc = names.prepared() ? SQLITE_ROW : sqlite3_extended_errcode(db);
        while (rc == SQLITE_ROW && (rc = names.step()) == SQLITE_ROW)
            tables << names.text(0).value_or(QString());
        if (rc != SQLITE_DONE)
            log::failure(QStringLiteral("ERROR createTables: %1").arg(errorMessage()));
    }
    if (!tables.isEmpty()) {
        for (const char *name : { "recordings", "ocr_text" }) {
            if (!tables.contains(QLatin1String(name)))
                log::info(QStringLiteral("The table %1 was missing: creating it").arg(QLatin1String(name)));
        }
    }
    if (!sql::exec(db,
            "CREATE TABLE IF NOT EXISTS recordings ("
            "id TEXT PRIMARY KEY, "
            "timestamp REAL NOT NULL, "
            "display_index INTEGER NOT NULL, "
            "file_path TEXT NOT NULL, "
            "app_name TEXT, "
            "window_title TEXT, "
            "image_hash TEXT, "
            "file_size INTEGER, "
            "compression_ratio REAL)"))
        log::failure(QStringLiteral("ERROR createTables: Error creating recordings table: %1").arg(errorMessage()));
    if (!sql::exec(db,
            "CREATE TABLE IF NOT EXISTS ocr_text ("
            "id INTEGER PRIMARY KEY AUTOINCREMENT, "
            "recording_id TEXT NOT NULL, "
            "text TEXT NOT NULL, "
            "timestamp REAL NOT NULL, "
            "FOREIGN KEY (recording_id) REFERENCES recordings(id) ON DELETE CASCADE)"))
        log::failure(QStringLiteral("ERROR createTables: Error creating OCR table: %1").arg(errorMessage()));
    // The boxes of the words of a recording's text (see encodeWordBoxes); recordings stored before
    // boxes were kept have none and get them when they are next opened.
    if (!sql::exec(db,
            "CREATE TABLE IF NOT EXISTS ocr_words ("
            "recording_id TEXT PRIMARY KEY REFERENCES recordings(id) ON DELETE CASCADE, "
            "boxes BLOB NOT NULL)"))
        log::failure(QStringLiteral("ERROR createTables: Error creating the word boxes table: %1").arg(errorMessage()));
    for (const char *index : { "CREATE INDEX IF NOT EXISTS idx_recordings_timestamp ON recordings(timestamp)",
             "CREATE INDEX IF NOT EXISTS idx_ocr_recording ON ocr_text(recording_id)",
             "CREATE INDEX IF NOT EXISTS idx_recordings_hash ON recordings(image_hash)" }) {
        if (!sql::exec(db, index))
            log::failure(QStringLiteral("ERROR createTables: %1").arg(errorMessage()));
    }
    migrate();
}

void SimpleDatabaseManager::Impl::migrate()
{
    bool present[std::size(kOptionalColumns)] = {};
    {
        Statement info(db, "PRAGMA table_info(recordings)");
        int rc = info.prepared() ? SQLITE_ROW : sqlite3_extended_errcode(db);
        while (rc == SQLITE_ROW && (rc = info.step()) == SQLITE_ROW) {
            const std::optional<QString> name = info.text(1);
            for (size_t i = 0; i < std::size(kOptionalColumns); ++i) {
                if (name && *name == QLatin1String(kOptionalColumns[i].name))
                    present[i] = true;
            }
        }
        if (rc != SQLITE_DONE) {
            // Adding columns that may be there already would only fail again; the next open retries.
            log::failure(QStringLiteral("ERROR migrate: %1").arg(errorMessage()));
            return;
        }
    }
    for (size_t i = 0; i < std::size(kOptionalColumns); ++i) {
        if (present[i])
            continue;
        const QString name = QString::fromLatin1(kOptionalColumns[i].name);
        if (sql::exec(db, kOptionalColumns[i].statement))
            log::info(QStringLiteral("Successfully added %1 column to recordings table").arg(name));
        else
            log::failure(QStringLiteral("ERROR migrate: Error adding %1 column: %2").arg(name, errorMessage()));
    }
    for (const char *index : { "CREATE INDEX IF NOT EXISTS idx_recordings_hash ON recordings(image_hash)",
             "CREATE INDEX IF NOT EXISTS idx_recordings_reference_hash ON recordings(reference_hash)" }) {
        if (!sql::exec(db, index))
            log::failure(QStringLiteral("ERROR migrate: %1").arg(errorMessage()));
    }
    // Building the indexes for a large existing file takes a while: queue it, so that the opener
    // does not wait for it. Operations submitted meanwhile run after it, in order, as always.
    serialQueue.async([this] {
        if (!db)
            return;
        // The browse by application and the list of application names. Its keys are in effect
        // (app_name, timestamp, rowid), the browse's exact order, so a page is one stretch of it
        // read backwards with no sort. An index cannot name rowid, so any further column would
        // come before it and order one capture time's recordings by that column instead: the
        // browse looks each row of a page up by rowid. An earlier index holding those columns
        // gives way to this one.
        if (!sql::exec(db, "DROP INDEX IF EXISTS idx_recordings_app_browse")
            || !sql::exec(db, "CREATE INDEX IF NOT EXISTS idx_recordings_app_time ON recordings(app_name, timestamp)"))
            log::failure(QStringLiteral("ERROR migrate: Error creating the application index: %1").arg(errorMessage()));
        textIndexBuild = {};
        const text_search::Preparation index = text_search::prepare(db);
        textIndexReady = index == text_search::Preparation::ready;
        if (index == text_search::Preparation::building)
            continueTextIndexBuild();
    });
}

void SimpleDatabaseManager::Impl::continueTextIndexBuild()
{
    serialQueue.async([this] {
        if (!db || closing)
            return;
        if (!text_search::buildStep(db, &textIndexBuild))
            return; // searches go on reading every row; the next open builds the index again
        if (textIndexBuild.done)
            textIndexReady = textIndexBuild.complete;
        else
            continueTextIndexBuild();
    });
}

} // namespace pellux
