#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <sqlite3.h>

namespace pellux::sql {

// The connection's last error text (sqlite3_errmsg).
inline QString errorMessage(sqlite3 *db) { return QString::fromUtf8(sqlite3_errmsg(db)); }

// One prepared statement, finalised when the object goes out of scope. Text is bound as UTF-8 with
// SQLite taking its own copy, so the caller's string may go away at once.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
        }
    }
    Statement(sqlite3 *db, const QString &sql)
        : Statement(db, sql.toUtf8().constData())
    {
    }
    // sqlite3_finalize only repeats the error of the last step, which the caller has handled.
    ~Statement() { sqlite3_finalize(m_stmt); }

    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool prepared() const { return m_stmt != nullptr; }
    sqlite3_stmt *get() const { return m_stmt; }

    void bind(int index, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        check(sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT));
    }
    void bind(int index, const std::optional<QString> &text)
    {
        if (text)
            bind(index, *text);
        else
            check(sqlite3_bind_null(m_stmt, index));
    }
    void bind(int index, double value) { check(sqlite3_bind_double(m_stmt, index, value)); }
    void bind(int index, std::optional<double> value)
    {
        if (value)
            bind(index, *value);
        else
            check(sqlite3_bind_null(m_stmt, index));
    }
    void bind(int index, qint64 value) { check(sqlite3_bind_int64(m_stmt, index, value)); }
    void bind(int index, int value) { check(sqlite3_bind_int(m_stmt, index, value)); }
    void bindBlob(int index, const QByteArray &bytes)
    {
        check(sqlite3_bind_blob(m_stmt, index, bytes.constData(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
    }

    // SQLITE_ROW, SQLITE_DONE or an error code. A bind that failed since the last reset is
    // reported here, without running the statement with a missing value.
    int step() { return m_bindStatus != SQLITE_OK ? m_bindStatus : sqlite3_step(m_stmt); }
    // Makes the statement ready to run again with new values. False when it cannot be reused.
    bool reset()
    {
        m_bindStatus = SQLITE_OK;
        return sqlite3_reset(m_stmt) == SQLITE_OK && sqlite3_clear_bindings(m_stmt) == SQLITE_OK;
    }

    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    int columnType(int column) const { return sqlite3_column_type(m_stmt, column); }
    qint64 int64(int column) const { return sqlite3_column_int64(m_stmt, column); }
    double real(int column) const { return sqlite3_column_double(m_stmt, column); }
    int byteCount(int column) const { return sqlite3_column_bytes(m_stmt, column); }
    QByteArray blob(int column) const
    {
        const auto *bytes = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        return bytes ? QByteArray(bytes, sqlite3_column_bytes(m_stmt, column)) : QByteArray();
    }
    // The column as text; absent for NULL (or when SQLite cannot produce the text).
    std::optional<QString> text(int column) const
    {
        const auto *chars = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        if (!chars)
            return std::nullopt;
        return QString::fromUtf8(chars, sqlite3_column_bytes(m_stmt, column));
    }

private:
    void check(int rc)
    {
        if (rc != SQLITE_OK && m_bindStatus == SQLITE_OK)
            m_bindStatus = rc;
    }

    sqlite3_stmt *m_stmt = nullptr;
    int m_bindStatus = SQLITE_OK;
};

// Runs SQL that returns no rows. True on success.
inline bool exec(sqlite3 *db, const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// Holds one read transaction over the statements of its scope. Outside a transaction SQLite
// takes and drops the file's shared lock, and looks for a hot journal, for every statement it
// steps: a search that reads a hundred rows one statement each pays that a hundred times.
class ReadTransaction {
public:
    explicit ReadTransaction(sqlite3 *db)
        : m_db(db)
        , m_open(db && sqlite3_get_autocommit(db) && exec(db, "BEGIN"))
    {
    }
    // An error may have ended the transaction already (SQLite rolls back on some).
    ~ReadTransaction()
    {
        if (m_open && !sqlite3_get_autocommit(m_db))
            exec(m_db, "COMMIT");
    }
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;

private:
    sqlite3 *m_db;
    bool m_open;
};

// Failures that go away by themselves (another process holds the file, the disk is full or
// read-only for a while, the file cannot be reached): the same write may succeed later.
inline bool isTransient(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_READONLY:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_PROTOCOL:
        return true;
    default:
        return false;
    }
}

// The file itself is damaged or is no database.
inline bool isDamage(int rc) { return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB; }

} // namespace pellux::sql
