#include "persistence/SimpleDatabaseManager.h"

#include "persistence/ApplicationPageStatements.h"
#include "persistence/SearchRow.h"
#include "persistence/SqliteStatement.h"
#include "persistence/TextSearchIndex.h"
#include "runtime/Characters.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SharedInstance.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

#include <sqlite3.h>

namespace pellux {

namespace {

using sql::Statement;

const QString kDatabaseName = QStringLiteral("pellux_v2.db");

QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

QString dateTimeText(double secondsSince1970)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(secondsSince1970 * 1000.0), Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        + QStringLiteral(" +0000");
}

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

// A recording id in the stored form: 36 characters, hexadecimal digits in groups 8-4-4-4-12.
std::optional<QUuid> uuidFromIdText(const QString &text)
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

constexpr int kSearchLimit = 100;

// Turns search rows into partial recordings, skipping rows without a usable id or path. The
// per-row lines name the operation ("searchText", ...); they are only formatted when printed,
// since an application's recordings can be tens of thousands of rows.
std::vector<Recording> recordingsFromSearchRows(std::vector<SearchRow> rows, const char *operation)
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

// One row as the delta chain needs it.
struct ChainRow {
    qint64 rowid = 0;
    double timestamp = 0;
    DeltaChainLink link;
    std::optional<QString> appName;
    std::optional<QString> referenceHash;
};

constexpr const char *kChainColumns
    = "rowid, timestamp, file_path, is_delta_frame, compression_ratio, app_name, reference_hash FROM recordings ";

ChainRow chainRow(const Statement &row)
{
    ChainRow r;
    r.rowid = row.int64(0);
    r.timestamp = row.real(1);
    r.link.filePath = row.text(2).value_or(QString());
    r.link.isDeltaFrame = row.int64(3) != 0;
    if (!row.isNull(4))
        r.link.compressionRatio = row.real(4);
    r.appName = row.text(5);
    r.referenceHash = row.text(6);
    return r;
}

void chainFailure(const QString &why) { log::failure(QStringLiteral("ERROR getDeltaChain: ") + why); }

// The chain of one row (see getDeltaChain), appended to `chain`. `visited` guards against rows
// that (through damage) name each other.
bool appendChain(sqlite3 *db, const ChainRow &row, std::vector<DeltaChainLink> &chain, QSet<qint64> &visited)
{
    if (visited.contains(row.rowid) || int(visited.size()) >= SimpleDatabaseManager::kMaxDeltaChainLength) {
        chainFailure(QStringLiteral("the references of %1 form a loop or a chain too long").arg(row.link.filePath));
        return false;
    }
    visited.insert(row.rowid);
    if (!row.link.isDeltaFrame) {
        chain.push_back(row.link);
        return true;
    }
    if (!row.referenceHash || row.referenceHash->isEmpty()) {
        chainFailure(QStringLiteral("the delta %1 names no reference frame").arg(row.link.filePath));
        return false;
    }
    std::optional<ChainRow> reference;
    {
        // The newest frame with that hash captured no later than the delta, never the delta itself.
        Statement select(db,
            QStringLiteral("SELECT %1 WHERE image_hash = ?1 AND rowid != ?2 AND timestamp <= ?3 "
                           "ORDER BY timestamp DESC, rowid DESC LIMIT 1")
                .arg(QLatin1String(kChainColumns)));
        if (!select.prepared()) {
            chainFailure(sql::errorMessage(db));
            return false;
        }
        select.bind(1, *row.referenceHash);
        select.bind(2, row.rowid);
        select.bind(3, row.timestamp);
        const int rc = select.step();
        if (rc == SQLITE_ROW)
            reference = chainRow(select);
        else if (rc != SQLITE_DONE) {
            chainFailure(sql::errorMessage(db));
            return false;
        }
    }
    if (!reference) {
        chainFailure(QStringLiteral("the reference frame %1 of %2 is gone").arg(*row.referenceHash, row.link.filePath));
        return false;
    }
    if (!appendChain(db, *reference, chain, visited))
        return false;
    if (reference->link.isDeltaFrame) {
        // A frame stored as a delta is only ever the match of a block-based delta, which applies to
        // it directly.
        chain.push_back(row.link);
        return true;
    }
    // The window's deltas between its reference frame and this one, each applying to the one before.
    Statement between(db,
        QStringLiteral("SELECT %1 WHERE reference_hash = ?1 AND is_delta_frame = 1 AND app_name IS ?2 "
                       "AND (timestamp > ?3 OR (timestamp = ?3 AND rowid > ?4)) "
                       "AND (timestamp < ?5 OR (timestamp = ?5 AND rowid < ?6)) ORDER BY timestamp, rowid")
            .arg(QLatin1String(kChainColumns)));
    if (!between.prepared()) {
        chainFailure(sql::errorMessage(db));
        return false;
    }
    between.bind(1, *row.referenceHash);
    between.bind(2, row.appName);
    between.bind(3, reference->timestamp);
    between.bind(4, reference->rowid);
    between.bind(5, row.timestamp);
    between.bind(6, row.rowid);
    int rc;
    while ((rc = between.step()) == SQLITE_ROW) {
        if (int(chain.size()) >= SimpleDatabaseManager::kMaxDeltaChainLength) {
            chainFailure(QStringLiteral("the chain of %1 is too long").arg(row.link.filePath));
            return false;
        }
        chain.push_back(chainRow(between).link);
    }
    if (rc != SQLITE_DONE) {
        chainFailure(sql::errorMessage(db));
        return false;
    }
    chain.push_back(row.link);
    return true;
}

std::optional<std::vector<DeltaChainLink>> deltaChain(sqlite3 *db, const QString &filePath)
{
    std::optional<ChainRow> row;
    {
        Statement select(db,
            QStringLiteral("SELECT %1 WHERE file_path = ?1 ORDER BY timestamp DESC, rowid DESC LIMIT 1")
                .arg(QLatin1String(kChainColumns)));
        if (!select.prepared()) {
            chainFailure(sql::errorMessage(db));
            return std::nullopt;
        }
        select.bind(1, filePath);
        const int rc = select.step();
        if (rc == SQLITE_ROW)
            row = chainRow(select);
        else if (rc != SQLITE_DONE) {
            chainFailure(sql::errorMessage(db));
            return std::nullopt;
        }
    }
    if (!row) {
        chainFailure(QStringLiteral("no recording is stored at %1").arg(filePath));
        return std::nullopt;
    }
    std::vector<DeltaChainLink> chain;
    QSet<qint64> visited;
    if (!appendChain(db, *row, chain, visited))
        return std::nullopt;
    return chain;
}

// Wakes the database queue once after a delay, for retries; the earliest time asked for wins.
class RetryTimer {
public:
    explicit RetryTimer(std::function<void()> fire)
        : m_fire(std::move(fire))
    {
    }
    ~RetryTimer() { stop(); }
    RetryTimer(const RetryTimer &) = delete;
    RetryTimer &operator=(const RetryTimer &) = delete;

    void schedule(std::chrono::milliseconds delay)
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        const auto at = std::chrono::steady_clock::now() + delay;
        if (!m_deadline || at < *m_deadline)
            m_deadline = at;
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_wake.notify_one();
    }

    void stop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            if (!m_deadline) {
                m_wake.wait(lock);
            } else if (std::chrono::steady_clock::now() < *m_deadline) {
                m_wake.wait_until(lock, *m_deadline);
            } else {
                m_deadline.reset();
                lock.unlock();
                m_fire();
                lock.lock();
            }
        }
    }

    const std::function<void()> m_fire;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_stopping = false;
    std::thread m_thread;
};

// How long a statement waits for another connection's lock before it fails with SQLITE_BUSY. The
// capturing application retries on its own, so it gives up sooner than a tool that reads once.
constexpr int kCaptureBusyTimeout_ms = 2000;
constexpr int kReadOnlyBusyTimeout_ms = 5000;
constexpr std::chrono::milliseconds kFirstRetryDelay { 250 };
constexpr std::chrono::milliseconds kLongestRetryDelay { 30000 };
// Rows kept in memory while writes fail; about a day of captures at a busy pace.
constexpr size_t kMaxPendingWrites = 20000;
// Not an SQLite code: the text of a recording that has no row.
constexpr int kMissingRecording = -1;

std::chrono::milliseconds longer(std::chrono::milliseconds delay) { return std::min(delay * 2, kLongestRetryDelay); }

// One row insert, run again as it is until it succeeds or fails for good.
struct PendingWrite {
    QString recordingId;
    bool isRecordingRow = false;
    // SQLITE_DONE when written; otherwise the code, with the message in `error`.
    std::function<int(sqlite3 *, QString *error)> attempt;
};

enum class OpenResult { opened, damaged, unavailable, failed };

OpenResult classify(int rc)
{
    if (sql::isDamage(rc))
        return OpenResult::damaged;
    return sql::isTransient(rc) ? OpenResult::unavailable : OpenResult::failed;
}

} // namespace

struct SimpleDatabaseManager::Impl {
    explicit Impl(OpenMode openMode)
        : mode(openMode)
    {
    }

    enum class WriteResult { written, kept, failed };

    const OpenMode mode;
    sqlite3 *db = nullptr;
    // Database queue only: rows whose write failed for a while, oldest first.
    std::deque<PendingWrite> pendingWrites;
    std::chrono::steady_clock::time_point nextWriteRetry;
    std::chrono::milliseconds writeRetryDelay = kFirstRetryDelay;
    std::chrono::milliseconds openRetryDelay = kFirstRetryDelay;
    int openAttempts = 0;
    bool reopening = false;
    bool closing = false;
    std::atomic<size_t> pendingCount { 0 };
    std::atomic<bool> recreated { false };
    mutable std::mutex asideMutex;
    QString asidePath;
    SerialQueue serialQueue { QStringLiteral("com.pellux.db.serial") };
    const QString databaseName = kDatabaseName;
    const QString instanceId = QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toUpper();
    std::atomic<bool> open { false };
    std::atomic<bool> textIndexEnabled { true };
    bool textIndexReady = false;
    RetryTimer retryTimer { [this] { serialQueue.async([this] { retry(); }); } };

    QString getDatabasePath();
    bool openDatabase();
    OpenResult connect(const QString &path, QString *error);
    std::optional<QString> setAside(const QString &path);
    void createTables();
    void migrate();
    void closeDatabase();
    QString errorMessage() const { return sql::errorMessage(db); }

    WriteResult write(const char *operation, PendingWrite pending);
    WriteResult keep(const char *operation, PendingWrite pending, const QString &why);
    void flushPendingWrites(bool force = false);
    void retry();
    bool isKept(const QString &recordingId) const;

    std::optional<std::vector<Recording>> searchText(const QString &query, const std::optional<QString> &appName);
    // `answered` turns false when the statement cannot be prepared or fails while reading.
    std::vector<SearchRow> plainSearchRows(
        const QString &pattern, const std::optional<QString> &appName, bool *answered);
    std::optional<QStringList> applicationNames();
    struct RowPage {
        std::vector<SearchRow> rows;
        std::optional<RecordingPageCursor> next;
    };
    std::optional<RowPage> applicationPage(
        const QString &appName, int limit, const std::optional<RecordingPageCursor> &after);
};

QString SimpleDatabaseManager::defaultDatabasePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Pellux/")
        + kDatabaseName;
}

QString SimpleDatabaseManager::Impl::getDatabasePath()
{
    const QString folder
        = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Pellux");
    // A tool that only reads must not leave an empty folder behind.
    QString error;
    if (mode == OpenMode::createIfMissing && !makePrivatePath(folder, &error))
        log::failure(QStringLiteral("ERROR getDatabasePath: Cannot create the folder: %1").arg(error));
    const QString path = folder + QLatin1Char('/') + databaseName;
    log::debug(QStringLiteral("DEBUG getDatabasePath: Using database at: %1").arg(path));
    return path;
}

OpenResult SimpleDatabaseManager::Impl::connect(const QString &path, QString *error)
{
    int flags = SQLITE_OPEN_NOMUTEX;
    if (mode == OpenMode::createIfMissing) {
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        // SQLite would create the file with the umask's mode; it holds screen text, so create it
        // private first (an empty file is a new database) and keep an existing one private.
        QString privacyError;
        const WriteOutcome created = writeNewPrivateFile(path, QByteArray(), &privacyError);
        if (created == WriteOutcome::alreadyExists && !makeFilePrivate(path, &privacyError)) {
            // Screen text is not kept in a file others may be able to read.
            *error = QStringLiteral("cannot make it private: %1").arg(privacyError);
            return OpenResult::failed;
        }
        if (created == WriteOutcome::failed)
            log::failure(QStringLiteral("ERROR openDatabase: Unable to create database: %1").arg(privacyError));
    } else {
        flags |= SQLITE_OPEN_READONLY;
    }
    if (mode == OpenMode::createIfMissing && QFileInfo(path).size() > 0) {
        // Look first without the right to write: opening for writing could already change the
        // file or its journal (rolling back, deleting a journal it finds invalid), and a damaged
        // file is set aside exactly as it was found.
        sqlite3 *look = nullptr;
        int rc = sqlite3_open_v2(
            QFile::encodeName(path).constData(), &look, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_busy_timeout(look, kCaptureBusyTimeout_ms);
        if (rc == SQLITE_OK) {
            Statement probe(look, "SELECT count(*) FROM sqlite_master");
            rc = probe.prepared() ? probe.step() : sqlite3_extended_errcode(look);
        }
        const QString message = look ? sql::errorMessage(look) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(look);
        if (sql::isDamage(rc) || (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
            *error = message;
            return sql::isDamage(rc) ? OpenResult::damaged : OpenResult::unavailable;
        }
    }
    sqlite3 *handle = nullptr;
    const int opened = sqlite3_open_v2(QFile::encodeName(path).constData(), &handle, flags, nullptr);
    if (opened != SQLITE_OK) {
        *error = handle ? sql::errorMessage(handle) : QString::fromUtf8(sqlite3_errstr(opened));
        sqlite3_close(handle);
        return classify(opened);
    }
    db = handle;
    // Another Pellux process (the search command beside the running application) may hold the
    // file for a moment; wait for it instead of failing at once.
    const int timeout_ms = mode == OpenMode::createIfMissing ? kCaptureBusyTimeout_ms : kReadOnlyBusyTimeout_ms;
    int rc = sqlite3_busy_timeout(db, timeout_ms);
    // SQLite reads the file lazily: a file that is no database (or is damaged) only shows at the
    // first read. Find out here, before anything could write to it.
    if (rc == SQLITE_OK) {
        Statement probe(db, "SELECT count(*) FROM sqlite_master");
        rc = probe.prepared() ? probe.step() : sqlite3_extended_errcode(db);
        if (rc == SQLITE_ROW)
            rc = SQLITE_OK;
    }
    if (mode == OpenMode::createIfMissing) {
        for (const char *pragma :
            { "PRAGMA journal_mode = DELETE", "PRAGMA synchronous = FULL", "PRAGMA foreign_keys = ON" }) {
            if (rc == SQLITE_OK)
                rc = sqlite3_exec(db, pragma, nullptr, nullptr, nullptr);
        }
    }
    if (rc != SQLITE_OK) {
        *error = errorMessage();
        closeDatabase();
        return classify(rc);
    }
    return OpenResult::opened;
}

std::optional<QString> SimpleDatabaseManager::Impl::setAside(const QString &path)
{
    // The damaged file keeps every byte under a new name; its journal goes with it under the same
    // name plus its suffix, so that opening the set-aside file applies the journal it belongs to.
    // An earlier set-aside file is never overwritten.
    const QStringList siblings = { QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm") };
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    const QString base = path + QStringLiteral(".corrupt-") + stamp;
    const auto taken = [&](const QString &name) {
        if (QFileInfo(name).exists() || QFileInfo(name).isSymLink())
            return true;
        for (const QString &suffix : siblings) {
            if (QFileInfo(name + suffix).exists() || QFileInfo(name + suffix).isSymLink())
                return true;
        }
        return false;
    };
    QString aside = base;
    for (int n = 2; taken(aside); ++n)
        aside = base + QStringLiteral("-%1").arg(n);
    QFile file(path);
    if (!file.rename(aside)) {
        log::failure(QStringLiteral("ERROR openDatabase: %1 is damaged and cannot be set aside (%2); left as it is")
                         .arg(path, file.errorString()));
        return std::nullopt;
    }
    for (const QString &suffix : siblings) {
        QFile sibling(path + suffix);
        if (sibling.exists() && !sibling.rename(aside + suffix))
            log::info(QStringLiteral("Could not set %1 aside: %2").arg(sibling.fileName(), sibling.errorString()));
    }
    return aside;
}

bool SimpleDatabaseManager::Impl::openDatabase()
{
    const QString path = getDatabasePath();
    ++openAttempts;
    QString error;
    OpenResult result = connect(path, &error);
    if (result == OpenResult::damaged && mode == OpenMode::createIfMissing) {
        const std::optional<QString> aside = setAside(path);
        if (!aside)
            return false;
        log::failure(QStringLiteral("ERROR openDatabase: the database %1 is damaged (%2): set it aside as %3 and "
                                    "started a fresh one; the recordings' rows are to be rebuilt")
                         .arg(path, error, *aside));
        {
            const std::lock_guard lock(asideMutex);
            asidePath = *aside;
        }
        recreated = true;
        result = connect(path, &error);
    }
    if (result != OpenResult::opened) {
        if (result == OpenResult::unavailable && mode == OpenMode::createIfMissing && !closing) {
            // Held by another process or not reachable for now: keep trying in the background;
            // rows written meanwhile wait in memory.
            reopening = true;
            log::failure(QStringLiteral("ERROR openDatabase: Unable to open database: %1; trying again in %2 ms")
                             .arg(error)
                             .arg(openRetryDelay.count()));
            retryTimer.schedule(openRetryDelay);
            openRetryDelay = longer(openRetryDelay);
        } else {
            reopening = false;
            log::failure(QStringLiteral("ERROR openDatabase: Unable to open database: %1").arg(error));
        }
        return false;
    }
    if (openAttempts > 1)
        log::info(QStringLiteral("Opened the database at attempt %1").arg(openAttempts));
    reopening = false;
    openAttempts = 0;
    openRetryDelay = kFirstRetryDelay;
    open = true;
    if (mode == OpenMode::createIfMissing)
        serialQueue.sync([this] { createTables(); });
    else
        textIndexReady = text_search::ready(db);
    return true;
}

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
        textIndexReady = text_search::prepare(db);
    });
}

void SimpleDatabaseManager::Impl::closeDatabase()
{
    open = false;
    textIndexReady = false;
    if (db) {
        if (sqlite3_close(db) != SQLITE_OK) {
            // A statement still open: let SQLite close the connection once it is finalised.
            log::failure(QStringLiteral("ERROR closeDatabase: %1").arg(errorMessage()));
            sqlite3_close_v2(db);
        }
        db = nullptr;
    }
}

SimpleDatabaseManager::Impl::WriteResult SimpleDatabaseManager::Impl::write(const char *operation, PendingWrite pending)
{
    flushPendingWrites();
    if (!db && !reopening) {
        log::failure(QStringLiteral("ERROR %1: Database not available").arg(QLatin1String(operation)));
        return WriteResult::failed;
    }
    if (!db)
        return keep(operation, std::move(pending), QStringLiteral("the database is not open yet"));
    // Rows that wait go first, so that text never lands before its recording.
    if (!pendingWrites.empty())
        return keep(operation, std::move(pending), QStringLiteral("earlier rows are still waiting"));
    QString error;
    const int rc = pending.attempt(db, &error);
    if (rc == SQLITE_DONE)
        return WriteResult::written;
    if (mode != OpenMode::createIfMissing || !sql::isTransient(rc)) {
        log::failure(QStringLiteral("ERROR %1: %2").arg(QLatin1String(operation), error));
        return WriteResult::failed;
    }
    nextWriteRetry = std::chrono::steady_clock::now() + writeRetryDelay;
    return keep(operation, std::move(pending), error);
}

SimpleDatabaseManager::Impl::WriteResult SimpleDatabaseManager::Impl::keep(
    const char *operation, PendingWrite pending, const QString &why)
{
    if (pendingWrites.size() >= kMaxPendingWrites) {
        log::failure(QStringLiteral("ERROR %1: %2; %3 rows already wait to be written, this one is lost")
                         .arg(QLatin1String(operation), why)
                         .arg(pendingWrites.size()));
        return WriteResult::failed;
    }
    pendingWrites.push_back(std::move(pending));
    pendingCount = pendingWrites.size();
    log::failure(QStringLiteral("ERROR %1: %2; kept in memory to be written later (%3 waiting)")
                     .arg(QLatin1String(operation), why)
                     .arg(pendingWrites.size()));
    if (db)
        retryTimer.schedule(writeRetryDelay);
    return WriteResult::kept;
}

void SimpleDatabaseManager::Impl::flushPendingWrites(bool force)
{
    if (pendingWrites.empty() || !db)
        return;
    // A write that just failed would only wait out the busy timeout again: leave it to the timer.
    if (!force && std::chrono::steady_clock::now() < nextWriteRetry)
        return;
    int written = 0;
    while (!pendingWrites.empty()) {
        QString error;
        const int rc = pendingWrites.front().attempt(db, &error);
        if (rc != SQLITE_DONE && mode == OpenMode::createIfMissing && sql::isTransient(rc)) {
            log::debug(QStringLiteral("DEBUG flushPendingWrites: still failing: %1").arg(error));
            writeRetryDelay = longer(writeRetryDelay);
            nextWriteRetry = std::chrono::steady_clock::now() + writeRetryDelay;
            retryTimer.schedule(writeRetryDelay);
            break;
        }
        if (rc == SQLITE_DONE)
            ++written;
        else
            log::failure(
                QStringLiteral("ERROR flushPendingWrites: a kept row cannot be written and is dropped: %1").arg(error));
        pendingWrites.pop_front();
    }
    pendingCount = pendingWrites.size();
    if (pendingWrites.empty()) {
        writeRetryDelay = kFirstRetryDelay;
        nextWriteRetry = {};
    }
    if (written > 0)
        log::info(QStringLiteral("Wrote %1 rows kept from failed writes (%2 still waiting)")
                      .arg(written)
                      .arg(pendingWrites.size()));
}

void SimpleDatabaseManager::Impl::retry()
{
    if (closing)
        return;
    if (!db && reopening)
        openDatabase();
    flushPendingWrites(true);
}

bool SimpleDatabaseManager::Impl::isKept(const QString &recordingId) const
{
    return std::any_of(pendingWrites.begin(), pendingWrites.end(),
        [&](const PendingWrite &w) { return w.isRecordingRow && w.recordingId == recordingId; });
}

SimpleDatabaseManager &SimpleDatabaseManager::shared()
{
    return SharedInstance<SimpleDatabaseManager>::get("SimpleDatabaseManager");
}

SimpleDatabaseManager::SimpleDatabaseManager(OpenMode mode)
    : d(std::make_unique<Impl>(mode))
{
    d->serialQueue.sync([this] { d->openDatabase(); });
}

SimpleDatabaseManager::~SimpleDatabaseManager()
{
    d->retryTimer.stop();
    d->serialQueue.sync([this] {
        d->closing = true;
        d->flushPendingWrites(true);
        if (!d->pendingWrites.empty())
            log::failure(QStringLiteral("ERROR closeDatabase: %1 kept rows could not be written and are lost")
                             .arg(d->pendingWrites.size()));
        d->closeDatabase();
    });
}

bool SimpleDatabaseManager::isOpen() const { return d->open; }

QString SimpleDatabaseManager::databasePath() const { return defaultDatabasePath(); }

void SimpleDatabaseManager::setTextIndexEnabled(bool enabled) { d->textIndexEnabled = enabled; }

void SimpleDatabaseManager::waitUntilIdle() { d->serialQueue.drain(); }

void SimpleDatabaseManager::saveRecordingWithDeltaFrame(const Recording &recording,
    const std::optional<QString> &imageHash, qint64 fileSize, bool isDeltaFrame,
    const std::optional<QString> &referenceHash, std::optional<double> compressionRatio,
    std::function<void(bool)> completion)
{
    d->serialQueue.async([this, recording, imageHash, fileSize, isDeltaFrame, referenceHash, compressionRatio,
                             completion = std::move(completion)] {
        const auto finish = [&](bool result) {
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
        const Impl::WriteResult outcome = d->write("saveRecordingWithDeltaFrame", std::move(row));
        if (outcome == Impl::WriteResult::written)
            log::debug(QStringLiteral("DEBUG saveRecordingWithDeltaFrame: Successfully saved recording"));
        finish(outcome != Impl::WriteResult::failed);
    });
}

void SimpleDatabaseManager::saveOCRText(
    const QUuid &recordingId, const QString &text, TimePoint timestamp, std::function<void(bool)> completion)
{
    d->serialQueue.async([this, recordingId, text, timestamp, completion = std::move(completion)] {
        const QString id = uuidText(recordingId);
        log::debug(QStringLiteral("DEBUG saveOCRText: Saving text for recording %1").arg(id));
        log::debug(QStringLiteral("DEBUG saveOCRText: Text length: %1 characters").arg(characterCount(text)));
        log::debug(QStringLiteral("DEBUG saveOCRText: Text preview: %1...").arg(leadingCharacters(text, 50)));
        PendingWrite row;
        row.recordingId = id;
        row.attempt = [id, text, timestamp, instanceId = d->instanceId](sqlite3 *db, QString *error) {
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
            Statement insert(db, "INSERT INTO ocr_text (recording_id, text, timestamp) VALUES (?, ?, ?)");
            int rc = sqlite3_extended_errcode(db);
            if (insert.prepared()) {
                insert.bind(1, id);
                insert.bind(2, text);
                insert.bind(3, secondsSince1970(timestamp));
                rc = insert.step();
            }
            if (rc != SQLITE_DONE)
                *error = QStringLiteral("Error saving OCR text: %1 (extended error code %2)")
                             .arg(sql::errorMessage(db))
                             .arg(sqlite3_extended_errcode(db));
            return rc;
        };
        const Impl::WriteResult result = d->write("saveOCRText", std::move(row));
        if (result == Impl::WriteResult::written)
            log::debug(QStringLiteral("DEBUG saveOCRText: Successfully saved OCR text"));
        if (completion)
            completion(result != Impl::WriteResult::failed);
    });
}

void SimpleDatabaseManager::searchText(
    const QString &query, const std::optional<QString> &appName, std::function<void(std::vector<Recording>)> completion)
{
    findText(query, appName, [completion = std::move(completion)](std::optional<std::vector<Recording>> results) {
        completion(results ? std::move(*results) : std::vector<Recording>());
    });
}

void SimpleDatabaseManager::applicationNames(std::function<void(QStringList)> completion)
{
    d->serialQueue.async([this, completion = std::move(completion)] {
        std::optional<QStringList> names;
        if (d->db)
            names = d->applicationNames();
        else
            log::failure(QStringLiteral("ERROR applicationNames: Database not available"));
        postToMain([completion, names = names.value_or(QStringList())] { completion(names); });
    });
}

void SimpleDatabaseManager::recordingsOfApplication(const QString &appName, int limit,
    std::optional<RecordingPageCursor> after, std::function<void(RecordingPage)> completion)
{
    d->serialQueue.async([this, appName, limit, after, completion = std::move(completion)] {
        RecordingPage page;
        if (!d->db) {
            log::failure(QStringLiteral("ERROR recordingsOfApplication: Database not available"));
        } else if (limit < 1) {
            log::failure(QStringLiteral("ERROR recordingsOfApplication: Page size %1 is not positive").arg(limit));
        } else if (std::optional<Impl::RowPage> rows = d->applicationPage(appName, limit, after)) {
            page.recordings = recordingsFromSearchRows(std::move(rows->rows), "recordingsOfApplication");
            page.next = rows->next;
            log::debug(QStringLiteral("DEBUG recordingsOfApplication: Returning %1 recordings of '%2'%3")
                           .arg(page.recordings.size())
                           .arg(appName, page.next ? QString() : QStringLiteral(", the last page")));
        }
        postToMain([completion, page = std::move(page)]() mutable { completion(std::move(page)); });
    });
}

std::optional<QStringList> SimpleDatabaseManager::Impl::applicationNames()
{
    // A handful of names among hundreds of thousands of rows: hop from one name to the next
    // through idx_recordings_app_browse (one index seek per name) instead of reading every row.
    // min() skips NULL, and the index's binary collation gives plain case-sensitive order.
    Statement select(db,
        "WITH RECURSIVE names(name) AS ("
        "SELECT (SELECT min(app_name) FROM recordings) "
        "UNION ALL "
        "SELECT (SELECT min(app_name) FROM recordings WHERE app_name > names.name) FROM names "
        "WHERE names.name IS NOT NULL) "
        "SELECT name FROM names WHERE name IS NOT NULL");
    if (!select.prepared()) {
        log::failure(QStringLiteral("ERROR applicationNames: Failed to prepare statement - %1").arg(errorMessage()));
        return std::nullopt;
    }
    QStringList names;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW)
        names << select.text(0).value_or(QString());
    if (rc != SQLITE_DONE) {
        log::failure(QStringLiteral("ERROR applicationNames: %1").arg(errorMessage()));
        return std::nullopt;
    }
    log::debug(QStringLiteral("DEBUG applicationNames: %1 applications").arg(names.size()));
    return names;
}

std::optional<SimpleDatabaseManager::Impl::RowPage> SimpleDatabaseManager::Impl::applicationPage(
    const QString &appName, int limit, const std::optional<RecordingPageCursor> &after)
{
    // Keyset paging over idx_recordings_app_time, read backwards: a page starts strictly after the
    // (capture time, rowid) pair of the previous page's last row, so rows of one capture time split
    // across pages are neither repeated nor lost, and a page costs the same however deep it lies.
    // The first page's bound, "at most +infinity", also leaves out the rare row whose time is not a
    // number (text sorts after every number), which has no place in a time order. One row beyond
    // the page tells whether another page follows.
    Statement select(db, after ? sql::kLaterApplicationPage : sql::kFirstApplicationPage);
    if (!select.prepared()) {
        log::failure(
            QStringLiteral("ERROR recordingsOfApplication: Failed to prepare statement - %1").arg(errorMessage()));
        return std::nullopt;
    }
    select.bind(1, appName);
    select.bind(2, after ? after->timestamp : std::numeric_limits<double>::infinity());
    if (after)
        select.bind(3, after->rowid);
    select.bind(4, static_cast<qint64>(limit) + 1);
    RowPage page;
    page.rows.reserve(static_cast<size_t>(std::min(limit, 4096)));
    RecordingPageCursor last;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW) {
        if (static_cast<int>(page.rows.size()) == limit) {
            page.next = last;
            continue; // the row beyond the page; stepping on reaches DONE
        }
        page.rows.push_back(readSearchRow(select));
        last = { page.rows.back().timestamp, select.int64(5) };
    }
    if (rc != SQLITE_DONE) {
        log::failure(QStringLiteral("ERROR recordingsOfApplication: %1").arg(errorMessage()));
        return std::nullopt;
    }
    return page;
}

std::vector<SearchRow> SimpleDatabaseManager::Impl::plainSearchRows(
    const QString &pattern, const std::optional<QString> &appName, bool *answered)
{
    // Every window of a capture cycle carries the cycle's time. Without a second sort key SQLite
    // orders such ties by whatever plan it picks (oldest first without an application, newest
    // first with one), and the 100-row cap then keeps an arbitrary part of a cycle: ties go
    // newest stored first, the way the rest of the list runs.
    const char *sqlWithoutApp = "SELECT DISTINCT r.id, r.timestamp, r.file_path, r.app_name, r.window_title "
                                "FROM recordings r JOIN ocr_text o ON r.id = o.recording_id "
                                "WHERE o.text LIKE ? COLLATE NOCASE ESCAPE '\\' "
                                "ORDER BY r.timestamp DESC, r.rowid DESC LIMIT 100";
    const char *sqlWithApp = "SELECT DISTINCT r.id, r.timestamp, r.file_path, r.app_name, r.window_title "
                             "FROM recordings r JOIN ocr_text o ON r.id = o.recording_id "
                             "WHERE o.text LIKE ? COLLATE NOCASE ESCAPE '\\' AND r.app_name = ? COLLATE NOCASE "
                             "ORDER BY r.timestamp DESC, r.rowid DESC LIMIT 100";
    std::vector<SearchRow> rows;
    Statement select(db, appName ? sqlWithApp : sqlWithoutApp);
    *answered = select.prepared();
    if (!select.prepared()) {
        log::failure(QStringLiteral("ERROR searchText: Failed to prepare statement - %1").arg(errorMessage()));
        return rows;
    }
    log::debug(QStringLiteral("DEBUG searchText: Using pattern '%1'").arg(pattern));
    select.bind(1, pattern);
    if (appName)
        select.bind(2, *appName);
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

std::optional<std::vector<Recording>> SimpleDatabaseManager::Impl::searchText(
    const QString &query, const std::optional<QString> &appName)
{
    if (!db) {
        log::failure(QStringLiteral("ERROR searchText: Database not available"));
        return std::nullopt;
    }
    log::debug(QStringLiteral("DEBUG searchText: Searching for '%1'").arg(query));
    // Literal: "%" and "_" typed by the user match themselves.
    const QString pattern = text_search::likePattern(query);
    std::optional<std::vector<SearchRow>> indexed;
    if (textIndexEnabled && textIndexReady) {
        if (const std::optional<QString> candidates = text_search::candidateExpression(query)) {
            indexed = text_search::searchRows(db, *candidates, pattern, appName, kSearchLimit);
            if (indexed)
                log::debug(QStringLiteral("DEBUG searchText: Using pattern '%1'").arg(pattern));
        }
    }
    bool answered = true;
    std::vector<SearchRow> rows = indexed ? std::move(*indexed) : plainSearchRows(pattern, appName, &answered);
    if (!answered)
        return std::nullopt;
    const size_t matches = rows.size();
    std::vector<Recording> results = recordingsFromSearchRows(std::move(rows), "searchText");
    log::debug(QStringLiteral("DEBUG searchText: Total matches found: %1").arg(matches));
    log::debug(QStringLiteral("DEBUG searchText: Returning %1 recordings").arg(results.size()));
    return results;
}

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

void SimpleDatabaseManager::getDeltaChain(
    const QString &filePath, std::function<void(std::optional<std::vector<DeltaChainLink>>)> completion)
{
    d->serialQueue.async([this, filePath, completion = std::move(completion)] {
        completion(d->db ? deltaChain(d->db, filePath) : std::nullopt);
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
    d->serialQueue.async([this, recordingIds, completion = std::move(completion)] {
        const auto finish = [&](int removed) {
            if (completion)
                completion(removed);
        };
        if (!d->db)
            return finish(0);
        d->flushPendingWrites();
        Statement deleteText(d->db, "DELETE FROM ocr_text WHERE recording_id = ?");
        Statement deleteRow(d->db, "DELETE FROM recordings WHERE id = ?");
        if (!deleteText.prepared() || !deleteRow.prepared() || !sql::exec(d->db, "BEGIN IMMEDIATE")) {
            log::failure(QStringLiteral("ERROR deleteRecordings: %1").arg(d->errorMessage()));
            return finish(0);
        }
        // All or nothing: a failure part-way leaves every row as it was.
        int removed = 0;
        bool ok = true;
        for (const QUuid &recordingId : recordingIds) {
            const QString id = uuidText(recordingId);
            deleteText.bind(1, id);
            deleteRow.bind(1, id);
            ok = deleteText.step() == SQLITE_DONE && deleteRow.step() == SQLITE_DONE;
            if (!ok)
                break;
            removed += sqlite3_changes(d->db);
            ok = deleteText.reset() && deleteRow.reset();
            if (!ok)
                break;
        }
        if (ok)
            ok = sql::exec(d->db, "COMMIT");
        if (!ok) {
            log::failure(QStringLiteral("ERROR deleteRecordings: %1").arg(d->errorMessage()));
            sql::exec(d->db, "ROLLBACK");
            return finish(0);
        }
        log::debug(QStringLiteral("DEBUG deleteRecordings: Deleted %1 recordings").arg(removed));
        finish(removed);
    });
}

void SimpleDatabaseManager::resetDatabase()
{
    d->serialQueue.async([this] {
        // The rows waiting to be written belong to the data being thrown away.
        d->pendingWrites.clear();
        d->pendingCount = 0;
        d->closeDatabase();
        const QString path = d->getDatabasePath();
        QFile::remove(path);
        QFile::remove(path + QStringLiteral("-journal"));
        QFile::remove(path + QStringLiteral("-wal"));
        QFile::remove(path + QStringLiteral("-shm"));
        if (d->openDatabase())
            log::info(QStringLiteral("Database reset completed"));
    });
}

void SimpleDatabaseManager::deleteAllData()
{
    d->serialQueue.async([this] {
        d->pendingWrites.clear();
        d->pendingCount = 0;
        if (!d->db)
            return;
        // One transaction: either everything goes or, on a failure, everything stays.
        bool ok = sql::exec(d->db, "BEGIN IMMEDIATE");
        if (ok && d->textIndexReady && !text_search::clear(d->db)) {
            log::failure(QStringLiteral("ERROR deleteAllData: Error deleting OCR text: %1").arg(d->errorMessage()));
            ok = false;
        }
        if (ok && !sql::exec(d->db, "DELETE FROM ocr_text;")) {
            log::failure(QStringLiteral("ERROR deleteAllData: Error deleting OCR text: %1").arg(d->errorMessage()));
            ok = false;
        }
        if (ok && !sql::exec(d->db, "DELETE FROM recordings;")) {
            log::failure(QStringLiteral("ERROR deleteAllData: Error deleting recordings: %1").arg(d->errorMessage()));
            ok = false;
        }
        if (ok && !sql::exec(d->db, "COMMIT")) {
            log::failure(QStringLiteral("ERROR deleteAllData: Error deleting recordings: %1").arg(d->errorMessage()));
            ok = false;
        }
        if (!ok) {
            sql::exec(d->db, "ROLLBACK");
            return;
        }
        log::info(QStringLiteral("All database data deleted successfully"));
    });
}

void SimpleDatabaseManager::debugPrintAllOCRTexts()
{
    d->serialQueue.async([this] {
        if (!d->db)
            return;
        // The dump is asked for explicitly (debug window), so it prints whatever the verbosity.
        const auto print = [](const QString &line) { log::failure(line); };
        print(QStringLiteral("\n=== OCR Texts in Database ==="));
        {
            Statement texts(
                d->db, "SELECT recording_id, text, timestamp FROM ocr_text ORDER BY timestamp DESC LIMIT 10");
            if (!texts.prepared())
                print(QStringLiteral("Failed to prepare debug query"));
            int n = 0;
            int rc = texts.prepared() ? SQLITE_ROW : SQLITE_DONE;
            while (rc == SQLITE_ROW && (rc = texts.step()) == SQLITE_ROW) {
                ++n;
                print(QStringLiteral("\n[%1] Recording ID: %2").arg(n).arg(texts.text(0).value_or(QString())));
                print(QStringLiteral("Timestamp: %1").arg(dateTimeText(texts.real(2))));
                print(QStringLiteral("Column type: %1 (3=TEXT, 4=BLOB, 5=NULL)").arg(texts.columnType(1)));
                print(QStringLiteral("Byte count: %1").arg(texts.byteCount(1)));
                const std::optional<QString> text = texts.isNull(1) ? std::nullopt : texts.text(1);
                if (!text) {
                    print(QStringLiteral("Text column is NULL"));
                    continue;
                }
                print(QStringLiteral("Text length: %1 characters").arg(characterCount(*text)));
                print(QStringLiteral("Text isEmpty: %1").arg(boolText(text->isEmpty())));
                if (text->isEmpty())
                    print(QStringLiteral("Text is empty string"));
                else
                    print(QStringLiteral("Text preview: %1...").arg(leadingCharacters(*text, 100)));
            }
            if (rc != SQLITE_DONE)
                log::failure(QStringLiteral("ERROR debugPrintAllOCRTexts: %1").arg(d->errorMessage()));
        }
        print(QStringLiteral("\n=== Recordings in Database ==="));
        {
            Statement rows(d->db, "SELECT id, timestamp, file_path FROM recordings ORDER BY timestamp DESC LIMIT 5");
            int n = 0;
            int rc = rows.prepared() ? SQLITE_ROW : sqlite3_extended_errcode(d->db);
            while (rc == SQLITE_ROW && (rc = rows.step()) == SQLITE_ROW) {
                ++n;
                print(QStringLiteral("[%1] ID: %2, Time: %3, Path: %4")
                          .arg(n)
                          .arg(rows.text(0).value_or(QString()), dateTimeText(rows.real(1)),
                              rows.text(2).value_or(QString())));
            }
            if (rc != SQLITE_DONE)
                log::failure(QStringLiteral("ERROR debugPrintAllOCRTexts: %1").arg(d->errorMessage()));
        }
        print(QStringLiteral("=== End Debug Output ==="));
    });
}

void SimpleDatabaseManager::findText(const QString &query, const std::optional<QString> &appName,
    std::function<void(std::optional<std::vector<Recording>>)> completion)
{
    d->serialQueue.async([this, query, appName, completion = std::move(completion)] {
        std::optional<std::vector<Recording>> results = d->searchText(query, appName);
        postToMain([completion, results = std::move(results)]() mutable { completion(std::move(results)); });
    });
}

bool SimpleDatabaseManager::wasRecreated() const { return d->recreated; }

QString SimpleDatabaseManager::setAsidePath() const
{
    const std::lock_guard lock(d->asideMutex);
    return d->asidePath;
}

size_t SimpleDatabaseManager::pendingWriteCount() const { return d->pendingCount; }

} // namespace pellux

namespace pellux {

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
        if (!d->db)
            return completion(std::nullopt);
        Statement select(
            d->db, QStringLiteral("SELECT %1 FROM recordings WHERE file_path = ?").arg(QLatin1String(kRowColumns)));
        if (!select.prepared()) {
            log::failure(QStringLiteral("Error reading recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        std::vector<Recording> found;
        for (const QString &path : filePaths) {
            select.bind(1, path);
            std::optional<RecordingRows> rows = readRecordingRows(d->db, select);
            if (!rows)
                return completion(std::nullopt);
            for (Recording &r : rows->recordings)
                found.push_back(std::move(r));
            select.reset();
        }
        completion(std::move(found));
    });
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

void SimpleDatabaseManager::recordingsAwaitingText(qint64 afterRowid, TimePoint capturedBefore, int limit,
    std::function<void(std::optional<RecordingRows>)> completion)
{
    d->serialQueue.async([this, afterRowid, capturedBefore, limit, completion = std::move(completion)] {
        if (!d->db)
            return completion(std::nullopt);
        if (!ensureRecognitionAttemptsTable(d->db)) {
            log::failure(QStringLiteral("Error creating the recognition attempts table: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        Statement select(d->db,
            QStringLiteral("SELECT %1 FROM recordings r WHERE rowid > ? AND timestamp < ? "
                           "AND NOT EXISTS (SELECT 1 FROM ocr_text o WHERE o.recording_id = r.id) "
                           "AND NOT EXISTS (SELECT 1 FROM text_recognition_attempts a WHERE a.recording_id = r.id) "
                           "ORDER BY rowid LIMIT ?")
                .arg(QLatin1String(kRowColumns)));
        if (!select.prepared()) {
            log::failure(QStringLiteral("Error reading recordings: %1").arg(d->errorMessage()));
            return completion(std::nullopt);
        }
        select.bind(1, afterRowid);
        select.bind(2, secondsSince1970(capturedBefore));
        select.bind(3, limit);
        completion(readRecordingRows(d->db, select));
    });
}

void SimpleDatabaseManager::saveLateRecognition(const QUuid &recordingId, RecognitionOutcome outcome,
    const QString &text, TimePoint timestamp, std::function<void(bool)> completion)
{
    d->serialQueue.async([this, recordingId, outcome, text, timestamp, completion = std::move(completion)] {
        const auto finish = [&](bool result) {
            if (completion)
                completion(result);
        };
        if (!d->db)
            return finish(false);
        const bool withText = outcome == RecognitionOutcome::text && !text.isEmpty();
        if (!withText && !ensureRecognitionAttemptsTable(d->db)) {
            log::failure(QStringLiteral("Error creating the recognition attempts table: %1").arg(d->errorMessage()));
            return finish(false);
        }
        // The row must still exist (a deletion may have come first), and text recognised meanwhile
        // by the capture itself is not doubled.
        Statement insert(d->db,
            withText ? "INSERT INTO ocr_text (recording_id, text, timestamp) SELECT ?1, ?2, ?3 "
                       "WHERE EXISTS (SELECT 1 FROM recordings WHERE id = ?1) "
                       "AND NOT EXISTS (SELECT 1 FROM ocr_text WHERE recording_id = ?1)"
                     : "INSERT OR IGNORE INTO text_recognition_attempts (recording_id, outcome, timestamp) "
                       "SELECT ?1, ?2, ?3 WHERE EXISTS (SELECT 1 FROM recordings WHERE id = ?1)");
        if (!insert.prepared()) {
            log::failure(QStringLiteral("Error saving recognised text: %1").arg(d->errorMessage()));
            return finish(false);
        }
        insert.bind(1, uuidText(recordingId));
        insert.bind(2,
            withText                                        ? text
                : outcome == RecognitionOutcome::unreadable ? QStringLiteral("unreadable")
                                                            : QStringLiteral("no text"));
        insert.bind(3, secondsSince1970(timestamp));
        if (insert.step() != SQLITE_DONE) {
            log::failure(QStringLiteral("Error saving recognised text: %1").arg(d->errorMessage()));
            return finish(false);
        }
        finish(true);
    });
}

} // namespace pellux
