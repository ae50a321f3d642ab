#pragma once

// The database tests' fixture: a private HOME with the database file, a plain second SQLite
// connection for looking at the file from outside, and blocking forms of the manager's operations.

#include "persistence/SearchFolding.h"
#include "persistence/SimpleDatabaseManager.h"
#include "persistence/SqliteStatement.h"
#include "support/TestFiles.h"

namespace pellux::test {

inline QString databaseFile(const TempHome &home) { return home.pelluxFolder() + QStringLiteral("/pellux_v2.db"); }

class RawDatabase {
public:
    explicit RawDatabase(const QString &path, bool create = false)
    {
        QDir().mkpath(QFileInfo(path).path());
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr) != SQLITE_OK)
            ADD_FAILURE() << "cannot open " << path.toStdString() << ": " << sqlite3_errmsg(m_db);
        sqlite3_busy_timeout(m_db, 5000); // the manager may still be writing on its queue
        search_folding::registerFunction(m_db); // the text index's triggers fold what they index
    }
    ~RawDatabase() { sqlite3_close(m_db); }
    RawDatabase(const RawDatabase &) = delete;
    RawDatabase &operator=(const RawDatabase &) = delete;

    sqlite3 *handle() const { return m_db; }

    void exec(const QString &sql)
    {
        EXPECT_TRUE(sql::exec(m_db, sql.toUtf8().constData())) << sql.toStdString() << ": " << sqlite3_errmsg(m_db);
    }

    // One column of every row, as text ("NULL" for NULL).
    QStringList strings(const QString &sql, int column = 0) const
    {
        sql::Statement select(m_db, sql);
        EXPECT_TRUE(select.prepared()) << sql.toStdString() << ": " << sqlite3_errmsg(m_db);
        QStringList out;
        while (select.prepared() && select.step() == SQLITE_ROW)
            out << select.text(column).value_or(QStringLiteral("NULL"));
        return out;
    }

    qint64 integer(const QString &sql) const
    {
        const QStringList values = strings(sql);
        return values.isEmpty() ? -1 : values.first().toLongLong();
    }

private:
    sqlite3 *m_db = nullptr;
};

// Holds an exclusive lock on the file from a second connection for `hold`, longer than the
// manager waits for a lock, on its own thread.
class LockHolder {
public:
    LockHolder(const QString &path, std::chrono::milliseconds hold)
        : m_thread([this, path, hold] {
            RawDatabase raw(path);
            raw.exec("BEGIN EXCLUSIVE");
            m_locked = true;
            std::this_thread::sleep_for(hold);
            raw.exec("COMMIT");
        })
    {
        while (!m_locked)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~LockHolder() { m_thread.join(); }

private:
    std::atomic<bool> m_locked { false };
    std::thread m_thread;
};

inline Recording makeRecording(double seconds, const QString &path,
    std::optional<QString> appName = QStringLiteral("Terminal"),
    std::optional<QString> windowTitle = QStringLiteral("Window"))
{
    Recording r;
    r.id = QUuid::createUuid();
    r.timestamp = fromSecondsSince1970(seconds);
    r.filePath = QUrl::fromLocalFile(path);
    r.thumbnailPath = r.filePath;
    r.appName = std::move(appName);
    r.windowTitle = std::move(windowTitle);
    return r;
}

inline RowWrite writeRecording(SimpleDatabaseManager &db, const Recording &r,
    std::optional<QString> hash = std::nullopt, qint64 fileSize = 1000, bool isDelta = false,
    std::optional<QString> referenceHash = std::nullopt, std::optional<double> ratio = std::nullopt)
{
    return awaitCompletion<RowWrite>(
        [&](auto done) { db.saveRecordingWithDeltaFrame(r, hash, fileSize, isDelta, referenceHash, ratio, done); });
}

// True when the row was written (not only kept in memory).
inline bool saveRecording(SimpleDatabaseManager &db, const Recording &r, std::optional<QString> hash = std::nullopt)
{
    return writeRecording(db, r, std::move(hash)) == RowWrite::written;
}

inline std::vector<Recording> search(
    SimpleDatabaseManager &db, const QString &query, const std::optional<QString> &appName = std::nullopt)
{
    return awaitCompletion<std::vector<Recording>>([&](auto done) { db.searchText(query, appName, done); });
}

inline int deleteRows(SimpleDatabaseManager &db, const std::vector<QUuid> &recordingIds)
{
    return awaitCompletion<int>([&](auto done) { db.deleteRecordings(recordingIds, done); });
}

inline bool exists(SimpleDatabaseManager &db, const QUuid &id)
{
    return awaitCompletion<bool>([&](auto done) { db.verifyRecordingExists(id, done); });
}

inline QStringList ids(const std::vector<Recording> &recordings)
{
    QStringList out;
    for (const Recording &r : recordings)
        out << r.idText();
    return out;
}

// A private HOME; the capturing application's database in it is opened on first use.
class DatabaseTest : public ::testing::Test {
protected:
    SimpleDatabaseManager &db()
    {
        if (!m_db)
            m_db.emplace();
        return *m_db;
    }
    SimpleDatabaseManager &reopen(SimpleDatabaseManager::OpenMode mode = SimpleDatabaseManager::OpenMode::capture)
    {
        m_db.reset();
        return m_db.emplace(mode);
    }
    void close() { m_db.reset(); }
    QString path() const { return databaseFile(home); }
    RawDatabase raw(bool create = false) const { return RawDatabase(path(), create); }
    // A recording (path /p/<seconds>.webp) with its text, both written.
    Recording store(double seconds, const QString &text, std::optional<QString> app = QStringLiteral("Terminal"))
    {
        const Recording r = makeRecording(seconds, QStringLiteral("/p/%1.webp").arg(seconds), std::move(app));
        EXPECT_TRUE(saveRecording(db(), r));
        db().saveOCRText(r.id, text, r.timestamp);
        return r;
    }

    TempHome home;

private:
    std::optional<SimpleDatabaseManager> m_db;
};

} // namespace pellux::test
