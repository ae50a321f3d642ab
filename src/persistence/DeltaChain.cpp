// The stored files that rebuild a frame stored as a delta.

#include "persistence/DatabaseInternals.h"
#include "runtime/Log.h"

#include <QSet>

#include <algorithm>

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

// Reads one row by a statement whose columns start with kChainColumns, then image_hash.
std::optional<std::pair<ChainRow, std::optional<QString>>> rowWithHash(Statement &select, bool *failed)
{
    const int rc = select.step();
    if (rc == SQLITE_ROW)
        return std::make_pair(chainRow(select), select.text(7));
    *failed = rc != SQLITE_DONE;
    return std::nullopt;
}

bool chainRunsThrough(sqlite3 *db, const QString &filePath, const QString &through)
{
    const std::optional<std::vector<DeltaChainLink>> chain = deltaChain(db, filePath);
    return chain && std::any_of(chain->begin(), chain->end() - 1, [&](const DeltaChainLink &l) {
        return l.filePath == through;
    });
}

using DependentFrame = SimpleDatabaseManager::DependentFrame;

std::optional<std::vector<DependentFrame>> dependents(sqlite3 *db, const QString &filePath)
{
    const QString columns = QLatin1String(kChainColumns).chopped(QLatin1String("FROM recordings ").size())
        + QStringLiteral(", image_hash FROM recordings ");
    bool failed = false;
    std::optional<std::pair<ChainRow, std::optional<QString>>> frame;
    {
        Statement select(db,
            QStringLiteral("SELECT %1 WHERE file_path = ?1 ORDER BY timestamp DESC, rowid DESC LIMIT 1").arg(columns));
        if (!select.prepared())
            return std::nullopt;
        select.bind(1, filePath);
        frame = rowWithHash(select, &failed);
    }
    if (failed)
        return std::nullopt;
    std::vector<DependentFrame> found;
    if (!frame)
        return found;
    const ChainRow &row = frame->first;
    const std::optional<QString> &ownHash = frame->second;

    // The window's next delta: it applies to this frame (a delta of the window, or the full frame
    // that starts it), and the ones after it apply to it. Stored in full with the hash of the
    // window's reference, it becomes the frame they are rebuilt from.
    const std::optional<QString> baseHash = row.link.isDeltaFrame ? row.referenceHash : ownHash;
    if (baseHash && !baseHash->isEmpty()) {
        Statement next(db,
            QStringLiteral("SELECT %1 WHERE reference_hash = ?1 AND is_delta_frame = 1 AND app_name IS ?2 "
                           "AND (timestamp > ?3 OR (timestamp = ?3 AND rowid > ?4)) ORDER BY timestamp, rowid LIMIT 1")
                .arg(columns));
        if (!next.prepared())
            return std::nullopt;
        next.bind(1, *baseHash);
        next.bind(2, row.appName);
        next.bind(3, row.timestamp);
        next.bind(4, row.rowid);
        const auto following = rowWithHash(next, &failed);
        if (failed)
            return std::nullopt;
        if (following && chainRunsThrough(db, following->first.link.filePath, filePath))
            found.push_back({ following->first.link.filePath, *baseHash });
    }

    // Block-based deltas of other applications matched against this frame apply to it directly;
    // each is stored in full as it is, keeping its own hash.
    if (ownHash && !ownHash->isEmpty()) {
        Statement matched(db,
            QStringLiteral("SELECT %1 WHERE reference_hash = ?1 AND is_delta_frame = 1 AND app_name IS NOT ?2 "
                           "AND (timestamp > ?3 OR (timestamp = ?3 AND rowid > ?4)) ORDER BY timestamp, rowid")
                .arg(columns));
        if (!matched.prepared())
            return std::nullopt;
        matched.bind(1, *ownHash);
        matched.bind(2, row.appName);
        matched.bind(3, row.timestamp);
        matched.bind(4, row.rowid);
        while (const auto candidate = rowWithHash(matched, &failed)) {
            if (chainRunsThrough(db, candidate->first.link.filePath, filePath))
                found.push_back({ candidate->first.link.filePath, std::nullopt });
        }
        if (failed)
            return std::nullopt;
    }
    return found;
}

// The kept delta frames whose reference frame is among those a bulk deletion removes (captured
// before `before`, or of exactly `application`). Of a window's deltas only the first needs storing
// in full, taking the window's reference hash: the later ones then build on it. A delta matched
// against another window's frame, or against a frame stored as a delta, keeps its own hash.
std::optional<std::vector<DependentFrame>> dependentsOfRemoval(
    sqlite3 *db, std::optional<TimePoint> before, const std::optional<QString> &application)
{
    const auto removed = [&](const char *row) {
        return before ? QStringLiteral("%1.timestamp < ?1").arg(QLatin1String(row))
                      : QStringLiteral("%1.app_name = ?2").arg(QLatin1String(row));
    };
    // The reference is resolved as the chain resolves it: the newest frame with that hash
    // captured no later than the delta.
    Statement select(db,
        QStringLiteral(
            "SELECT d.file_path, d.reference_hash, d.app_name IS r.app_name AND r.is_delta_frame = 0, d.app_name "
            "FROM (SELECT file_path, reference_hash, app_name, timestamp, rowid, "
            "(SELECT rowid FROM recordings x WHERE x.image_hash = k.reference_hash AND x.rowid != k.rowid "
            "AND x.timestamp <= k.timestamp ORDER BY x.timestamp DESC, x.rowid DESC LIMIT 1) AS reference "
            "FROM recordings k WHERE k.is_delta_frame = 1 AND NOT (%1)) d "
            "JOIN recordings r ON r.rowid = d.reference WHERE %2 ORDER BY d.timestamp, d.rowid")
            .arg(removed("k"), removed("r")));
    if (!select.prepared())
        return std::nullopt;
    if (before)
        select.bind(1, secondsSince1970(*before));
    else
        select.bind(2, application);
    std::vector<DependentFrame> found;
    QSet<QPair<QString, QString>> windows;
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        const QString referenceHash = select.text(1).value_or(QString());
        if (select.int64(2) == 0) {
            found.push_back({ select.text(0).value_or(QString()), std::nullopt });
            continue;
        }
        // One window's deltas name the same reference; the application tells windows apart as the
        // chain does.
        const QPair<QString, QString> window { referenceHash, select.text(3).value_or(QString()) };
        if (!windows.contains(window))
            found.push_back({ select.text(0).value_or(QString()), referenceHash });
        windows.insert(window);
    }
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return found;
}

} // namespace

void SimpleDatabaseManager::framesBuiltOn(
    const QString &filePath, std::function<void(std::optional<std::vector<DependentFrame>>)> completion)
{
    d->serialQueue.async([this, filePath, completion = std::move(completion)] {
        if (!d->db) {
            log::failure(QStringLiteral("ERROR framesBuiltOn: Database not available"));
            return completion(std::nullopt);
        }
        d->flushPendingWrites();
        std::optional<std::vector<DependentFrame>> found = dependents(d->db, filePath);
        if (!found)
            log::failure(QStringLiteral("ERROR framesBuiltOn: %1").arg(d->errorMessage()));
        completion(std::move(found));
    });
}

void SimpleDatabaseManager::framesBuiltOnRemoval(std::optional<TimePoint> capturedBefore,
    std::optional<QString> application, std::function<void(std::optional<std::vector<DependentFrame>>)> completion)
{
    d->serialQueue.async(
        [this, capturedBefore, application = std::move(application), completion = std::move(completion)] {
            if (!d->db) {
                log::failure(QStringLiteral("ERROR framesBuiltOnRemoval: Database not available"));
                return completion(std::nullopt);
            }
            d->flushPendingWrites();
            std::optional<std::vector<DependentFrame>> found = dependentsOfRemoval(d->db, capturedBefore, application);
            if (!found)
                log::failure(QStringLiteral("ERROR framesBuiltOnRemoval: %1").arg(d->errorMessage()));
            completion(std::move(found));
        });
}

void SimpleDatabaseManager::markStoredInFull(const QString &filePath, const std::optional<QString> &imageHash,
    qint64 fileSize, double compressionRatio, std::function<void(bool)> completion)
{
    d->serialQueue.async([this, filePath, imageHash, fileSize, compressionRatio, completion = std::move(completion)] {
        if (!d->db) {
            log::failure(QStringLiteral("ERROR markStoredInFull: Database not available"));
            return completion(false);
        }
        Statement update(d->db,
            "UPDATE recordings SET is_delta_frame = 0, reference_hash = NULL, image_hash = coalesce(?1, image_hash), "
            "file_size = ?2, compression_ratio = ?3 WHERE file_path = ?4");
        if (!update.prepared()) {
            log::failure(QStringLiteral("ERROR markStoredInFull: %1").arg(d->errorMessage()));
            return completion(false);
        }
        update.bind(1, imageHash);
        update.bind(2, fileSize);
        update.bind(3, compressionRatio);
        update.bind(4, filePath);
        if (update.step() != SQLITE_DONE) {
            log::failure(QStringLiteral("ERROR markStoredInFull: %1").arg(d->errorMessage()));
            return completion(false);
        }
        completion(sqlite3_changes(d->db) > 0);
    });
}

void SimpleDatabaseManager::getDeltaChain(
    const QString &filePath, std::function<void(std::optional<std::vector<DeltaChainLink>>)> completion)
{
    d->serialQueue.async([this, filePath, completion = std::move(completion)] {
        completion(d->db ? deltaChain(d->db, filePath) : std::nullopt);
    });
}

} // namespace pellux
