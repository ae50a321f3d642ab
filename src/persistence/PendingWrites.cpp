// Rows whose write failed for a while wait in memory and are written later, in order.

#include "persistence/DatabaseInternals.h"
#include "runtime/Log.h"

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

RowWrite SimpleDatabaseManager::Impl::write(const char *operation, PendingWrite pending)
{
    flushPendingWrites();
    if (!db && !reopening) {
        log::failure(QStringLiteral("ERROR %1: Database not available").arg(QLatin1String(operation)));
        return RowWrite::failed;
    }
    if (!db)
        return keep(operation, std::move(pending), QStringLiteral("the database is not open yet"));
    // Rows that wait go first, so that text never lands before its recording.
    if (!pendingWrites.empty())
        return keep(operation, std::move(pending), QStringLiteral("earlier rows are still waiting"));
    QString error;
    const int rc = pending.attempt(db, &error);
    if (rc == SQLITE_DONE)
        return RowWrite::written;
    if (mode != OpenMode::createIfMissing || !sql::isTransient(rc)) {
        log::failure(QStringLiteral("ERROR %1: %2").arg(QLatin1String(operation), error));
        return RowWrite::failed;
    }
    nextWriteRetry = std::chrono::steady_clock::now() + writeRetryDelay;
    return keep(operation, std::move(pending), error);
}

RowWrite SimpleDatabaseManager::Impl::keep(const char *operation, PendingWrite pending, const QString &why)
{
    if (pendingWrites.size() >= kMaxPendingWrites) {
        log::failure(QStringLiteral("ERROR %1: %2; %3 rows already wait to be written, this one is lost")
                         .arg(QLatin1String(operation), why)
                         .arg(pendingWrites.size()));
        return RowWrite::failed;
    }
    pendingWrites.push_back(std::move(pending));
    pendingCount = pendingWrites.size();
    log::failure(QStringLiteral("ERROR %1: %2; kept in memory to be written later (%3 waiting)")
                     .arg(QLatin1String(operation), why)
                     .arg(pendingWrites.size()));
    if (db)
        retryTimer.schedule(writeRetryDelay);
    return RowWrite::pending;
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

int SimpleDatabaseManager::Impl::dropPendingWrites(const QSet<QString> &recordingIds)
{
    int dropped = 0;
    for (auto it = pendingWrites.begin(); it != pendingWrites.end();) {
        if (!recordingIds.contains(it->recordingId)) {
            ++it;
            continue;
        }
        dropped += it->isRecordingRow ? 1 : 0;
        it = pendingWrites.erase(it);
    }
    pendingCount = pendingWrites.size();
    return dropped;
}

size_t SimpleDatabaseManager::pendingWriteCount() const { return d->pendingCount; }

} // namespace pellux
