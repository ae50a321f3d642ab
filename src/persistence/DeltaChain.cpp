// The stored files that rebuild a frame stored as a delta.

#include "persistence/DatabaseInternals.h"
#include "runtime/Log.h"

#include <QSet>

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

namespace {

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

} // namespace

void SimpleDatabaseManager::getDeltaChain(
    const QString &filePath, std::function<void(std::optional<std::vector<DeltaChainLink>>)> completion)
{
    d->serialQueue.async([this, filePath, completion = std::move(completion)] {
        completion(d->db ? deltaChain(d->db, filePath) : std::nullopt);
    });
}

} // namespace pellux
