#pragma once

// What the files that implement SimpleDatabaseManager share: its state, the parts of the
// pending-write queue and the row helpers. Only src/persistence includes this.

#include "persistence/RetryTimer.h"
#include "persistence/SearchRow.h"
#include "persistence/SimpleDatabaseManager.h"
#include "persistence/SqliteStatement.h"
#include "persistence/TextSearchIndex.h"
#include "runtime/SerialQueue.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace pellux {

namespace database {

inline const QString kDatabaseName = QStringLiteral("pellux_v2.db");

inline QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

// A recording id in the stored form: 36 characters, hexadecimal digits in groups 8-4-4-4-12.
std::optional<QUuid> uuidFromIdText(const QString &text);

// Turns search rows into partial recordings, skipping rows without a usable id or path. The
// per-row lines name the operation ("searchText", ...); they are only formatted when printed,
// since an application's recordings can be tens of thousands of rows.
std::vector<Recording> recordingsFromSearchRows(std::vector<SearchRow> rows, const char *operation);

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

inline std::chrono::milliseconds longer(std::chrono::milliseconds delay)
{
    return std::min(delay * 2, kLongestRetryDelay);
}

// One row insert, run again as it is until it succeeds or fails for good.
struct PendingWrite {
    QString recordingId;
    bool isRecordingRow = false;
    // SQLITE_DONE when written; otherwise the code, with the message in `error`.
    std::function<int(sqlite3 *, QString *error)> attempt;
};

enum class OpenResult { opened, damaged, unavailable, failed };

} // namespace database

struct SimpleDatabaseManager::Impl {
    explicit Impl(OpenMode openMode)
        : mode(openMode)
    {
    }

    const OpenMode mode;
    sqlite3 *db = nullptr;
    // Database queue only: rows whose write failed for a while, oldest first.
    std::deque<database::PendingWrite> pendingWrites;
    std::chrono::steady_clock::time_point nextWriteRetry;
    std::chrono::milliseconds writeRetryDelay = database::kFirstRetryDelay;
    std::chrono::milliseconds openRetryDelay = database::kFirstRetryDelay;
    int openAttempts = 0;
    bool reopening = false;
    bool closing = false;
    std::atomic<size_t> pendingCount { 0 };
    std::atomic<bool> recreated { false };
    mutable std::mutex asideMutex;
    QString asidePath;
    SerialQueue serialQueue { QStringLiteral("com.pellux.db.serial") };
    const QString databaseName = database::kDatabaseName;
    const QString instanceId = QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toUpper();
    std::atomic<bool> open { false };
    std::atomic<bool> textIndexEnabled { true };
    bool textIndexReady = false;
    text_search::BuildProgress textIndexBuild;
    database::RetryTimer retryTimer { [this] { serialQueue.async([this] { retry(); }); } };

    QString getDatabasePath();
    bool openDatabase();
    database::OpenResult connect(const QString &path, QString *error);
    std::optional<QString> setAside(const QString &path);
    void createTables();
    // Indexes the next batch of an existing history's rows and queues the batch after it.
    void continueTextIndexBuild();
    void migrate();
    void closeDatabase();
    QString errorMessage() const { return sql::errorMessage(db); }

    RowWrite write(const char *operation, database::PendingWrite pending);
    RowWrite keep(const char *operation, database::PendingWrite pending, const QString &why);
    void flushPendingWrites(bool force = false);
    void retry();
    bool isKept(const QString &recordingId) const;
    // Removes the waiting rows of these recordings (their text included); answers how many
    // recording rows went.
    int dropPendingWrites(const QSet<QString> &recordingIds);
    // The recordings whose row meets `condition` (one "?") for any of the values; absent on failure.
    std::optional<std::vector<Recording>> recordingsWhere(const char *condition, const QStringList &values);

    std::optional<SearchAnswer> searchText(
        const QString &query, const std::optional<QString> &appName, const TimeRange &range, int limit);
    // The snippet and text key of each row, in order; empty when the texts cannot be read.
    std::vector<SearchHit> searchHits(const std::vector<SearchRow> &rows, const QString &query);
    // `answered` turns false when the statement cannot be prepared or fails while reading.
    std::vector<SearchRow> plainSearchRows(const QString &pattern, const std::optional<QString> &appName,
        const TimeRange &range, int limit, bool *answered);
    std::optional<QStringList> applicationNames();
    struct RowPage {
        std::vector<SearchRow> rows;
        std::optional<RecordingPageCursor> next;
    };
    std::optional<RowPage> recordingPage(const std::optional<QString> &appName, const TimeRange &range, int limit,
        const std::optional<RecordingPageCursor> &after);
    std::optional<std::vector<DayCapture>> dayCaptures(QDate day);
    void answerPage(const char *operation, const std::optional<QString> &appName, const TimeRange &range, int limit,
        std::optional<RecordingPageCursor> after, std::function<void(RecordingPage)> completion);
};

} // namespace pellux
