// Opening the database file, setting a damaged one aside, reopening in the background, closing.

#include "persistence/SimpleDatabaseManager.h"

#include "persistence/DatabaseInternals.h"
#include "persistence/SearchFolding.h"
#include "persistence/TextSearchIndex.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"
#include "runtime/SharedInstance.h"
#include "runtime/StoreLayout.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

namespace {

OpenResult classify(int rc)
{
    if (sql::isDamage(rc))
        return OpenResult::damaged;
    return sql::isTransient(rc) ? OpenResult::unavailable : OpenResult::failed;
}

} // namespace

QString SimpleDatabaseManager::defaultDatabasePath() { return StoreLayout::standard().databaseFile(); }

QString SimpleDatabaseManager::Impl::getDatabasePath()
{
    const QString folder = StoreLayout::standard().root();
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
    if (!search_folding::registerFunction(db)) {
        *error = sql::errorMessage(db);
        sqlite3_close(db);
        db = nullptr;
        return OpenResult::failed;
    }
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
    // A search over a long history touches about a thousand pages of the index, the texts and the
    // recordings. SQLite's default cache (2 MB) holds fewer, so the next keystroke's search read
    // every page from the file again; 4 MB keeps them.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "PRAGMA cache_size = -4096", nullptr, nullptr, nullptr);
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

void SimpleDatabaseManager::waitUntilIdle() { d->serialQueue.drain(); }

bool SimpleDatabaseManager::wasRecreated() const { return d->recreated; }

QString SimpleDatabaseManager::setAsidePath() const
{
    const std::lock_guard lock(d->asideMutex);
    return d->asidePath;
}

} // namespace pellux
