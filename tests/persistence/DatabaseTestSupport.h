#pragma once

// Helpers shared by the database tests: a second, plain SQLite connection for looking at the file
// from outside, and blocking forms of the manager's operations.

#include "persistence/SimpleDatabaseManager.h"
#include "support/AwaitCompletion.h"

#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <sqlite3.h>

namespace pellux::test {

class RawDatabase {
public:
    explicit RawDatabase(const QString &path, bool create = false)
    {
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << "cannot open " << path.toStdString() << ": " << sqlite3_errmsg(m_db);
        }
        // The manager may still be writing on its queue.
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~RawDatabase() { sqlite3_close(m_db); }
    RawDatabase(const RawDatabase &) = delete;
    RawDatabase &operator=(const RawDatabase &) = delete;

    sqlite3 *handle() const { return m_db; }

    void exec(const QString &sql)
    {
        char *error = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
            ADD_FAILURE() << sql.toStdString() << ": " << (error ? error : "?");
            sqlite3_free(error);
        }
    }

    // Column 0 of every row, as text ("NULL" for NULL).
    QStringList strings(const QString &sql) const
    {
        QStringList out;
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sql.toStdString() << ": " << sqlite3_errmsg(m_db);
            return out;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
            out << (text ? QString::fromUtf8(text) : QStringLiteral("NULL"));
        }
        sqlite3_finalize(stmt);
        return out;
    }

    qint64 integer(const QString &sql) const
    {
        const QStringList values = strings(sql);
        return values.isEmpty() ? -1 : values.first().toLongLong();
    }

    QStringList columns(const QString &table) const
    {
        return strings(QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(table));
    }

    QStringList indexes(const QString &table) const
    {
        return strings(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = '%1' "
                                      "AND name NOT LIKE 'sqlite_autoindex%' ORDER BY name")
                           .arg(table));
    }

private:
    sqlite3 *m_db = nullptr;
};

inline Recording makeRecording(double secondsSince1970Value, const QString &path,
    std::optional<QString> appName = QStringLiteral("Terminal"),
    std::optional<QString> windowTitle = QStringLiteral("Window"))
{
    Recording r;
    r.id = QUuid::createUuid();
    r.timestamp = fromSecondsSince1970(secondsSince1970Value);
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
inline bool saveRecording(SimpleDatabaseManager &db, const Recording &r, std::optional<QString> hash = std::nullopt,
    qint64 fileSize = 1000, bool isDelta = false, std::optional<QString> referenceHash = std::nullopt,
    std::optional<double> ratio = std::nullopt)
{
    return writeRecording(db, r, hash, fileSize, isDelta, referenceHash, ratio) == RowWrite::written;
}

inline std::vector<Recording> search(
    SimpleDatabaseManager &db, const QString &query, const std::optional<QString> &appName = std::nullopt)
{
    return awaitCompletion<std::vector<Recording>>([&](auto done) { db.searchText(query, appName, done); });
}

inline QStringList ids(const std::vector<Recording> &recordings)
{
    QStringList out;
    for (const Recording &r : recordings)
        out << r.idText();
    return out;
}

} // namespace pellux::test
