#include "persistence/TextSearchIndex.h"

#include "persistence/SqliteStatement.h"
#include "runtime/Log.h"

#include <QSet>

#include <algorithm>
#include <limits>

#include <sqlite3.h>

namespace pellux::text_search {

namespace {

using sql::Statement;

// Keys: capture second << kSlotBits | slot. Every window of a capture cycle carries the cycle's
// time, so one second holds as many texts as the cycle stored windows: a second has room for about
// a million, more than the texts of any store, where 256 once left a busy cycle's texts unindexed.
// Seconds are clamped to +-2^42 (139,000 years) so that every key fits in 63 bits.
constexpr int kSlotBits = 20;
constexpr qint64 kSlots = qint64(1) << kSlotBits;
constexpr qint64 kLastSecond = qint64(1) << (62 - kSlotBits);
constexpr int kBuildBatch = 5000;
// Changes whenever keys or tables change meaning; an index of another layout is rebuilt at open,
// on the database queue after the opener has its connection.
constexpr int kLayout = 4;
// Enough trigrams to make a candidate set small; more only make the index read more lists.
constexpr int kMaxTrigrams = 16;
constexpr qint64 kLargeBuild = 20000;

// SQL for the first key of the second that holds capture time `t` (a numeric expression).
// floor() is spelt out because SQLite builds without the math functions lack it.
QString firstKeyOf(const QString &t)
{
    const QString s = QStringLiteral("min(max((%1) * 1.0, -%2.0), %2.0)").arg(t).arg(kLastSecond);
    return QStringLiteral("((CAST(%1 AS INTEGER) - (%1 < CAST(%1 AS INTEGER))) * %2)").arg(s).arg(kSlots);
}

// Statements that give index entries to the text rows selected by `filter` (over `ocr_text o`)
// that belong to a recording. Each second hands out its slots in order; rows that find no free
// slot are left out and mark the index incomplete, so searches fall back to the plain statement.
QString indexRows(const QString &filter)
{
    const QString last = QString::number(kSlots - 1);
    return QStringLiteral(
        "INSERT INTO ocr_text_search_keys (key, ocr_id) "
        "SELECT key, ocr_id FROM ("
        " SELECT b.lo + coalesce((SELECT max(k.key) FROM ocr_text_search_keys k"
        "   WHERE k.key BETWEEN b.lo AND b.lo + %3) - b.lo + 1, 0)"
        "   + row_number() OVER (PARTITION BY b.lo ORDER BY b.ocr_id) - 1 AS key, b.lo AS lo, b.ocr_id AS ocr_id"
        " FROM (SELECT o.id AS ocr_id, %2 AS lo FROM ocr_text o JOIN recordings r ON r.id = o.recording_id"
        "   WHERE (%1) AND typeof(r.timestamp) IN ('integer', 'real')) b)"
        " WHERE key <= lo + %3;"
        "UPDATE ocr_text_search_state SET complete = 0 WHERE EXISTS ("
        " SELECT 1 FROM ocr_text o JOIN recordings r ON r.id = o.recording_id"
        " WHERE (%1) AND typeof(r.timestamp) IN ('integer', 'real')"
        " AND NOT EXISTS (SELECT 1 FROM ocr_text_search_keys k WHERE k.ocr_id = o.id));")
        .arg(filter, firstKeyOf(QStringLiteral("r.timestamp")), last);
}

QString insertEntries(const QString &filter)
{
    return QStringLiteral("INSERT INTO ocr_text_search (rowid, text) SELECT k.key, o.text FROM ocr_text o"
                          " JOIN ocr_text_search_keys k ON k.ocr_id = o.id WHERE %1;")
        .arg(filter);
}

// Removes the entries of every text row of one recording (the rows themselves stay).
QString unindexRecording(const QString &recordingId)
{
    return QStringLiteral("INSERT INTO ocr_text_search (ocr_text_search, rowid, text)"
                          " SELECT 'delete', k.key, o.text FROM ocr_text o JOIN ocr_text_search_keys k"
                          " ON k.ocr_id = o.id WHERE o.recording_id = %1;"
                          "DELETE FROM ocr_text_search_keys WHERE ocr_id IN"
                          " (SELECT id FROM ocr_text WHERE recording_id = %1);")
        .arg(recordingId);
}

// Removes the entry of a text row that is going away. A contentless index forgets a row only when
// told its original text, which the trigger still has in OLD.
const char *kUnindexOldText = "INSERT INTO ocr_text_search (ocr_text_search, rowid, text)"
                              " SELECT 'delete', key, OLD.text FROM ocr_text_search_keys WHERE ocr_id = OLD.id;"
                              "DELETE FROM ocr_text_search_keys WHERE ocr_id = OLD.id;";

QString schema()
{
    const QString newText = QStringLiteral("o.id = NEW.id");
    const QString newRecording = QStringLiteral("o.recording_id = NEW.id");
    return QStringLiteral(
        "CREATE VIRTUAL TABLE IF NOT EXISTS ocr_text_search USING fts5("
        " text, content='', detail=none, tokenize='trigram case_sensitive 0');"
        "CREATE TABLE IF NOT EXISTS ocr_text_search_keys (key INTEGER PRIMARY KEY, ocr_id INTEGER NOT NULL UNIQUE);"
        "CREATE TABLE IF NOT EXISTS ocr_text_search_state (id INTEGER PRIMARY KEY CHECK (id = 1),"
        " complete INTEGER NOT NULL, layout INTEGER NOT NULL);"
        "INSERT OR IGNORE INTO ocr_text_search_state (id, complete, layout) VALUES (1, 0, %8);"
        "CREATE TRIGGER IF NOT EXISTS ocr_text_search_after_insert AFTER INSERT ON ocr_text BEGIN %1%2 END;"
        "CREATE TRIGGER IF NOT EXISTS ocr_text_search_after_delete AFTER DELETE ON ocr_text BEGIN %3 END;"
        "CREATE TRIGGER IF NOT EXISTS ocr_text_search_after_update AFTER UPDATE ON ocr_text BEGIN %3%1%2 END;"
        "CREATE TRIGGER IF NOT EXISTS recordings_search_after_insert AFTER INSERT ON recordings"
        " BEGIN %4%5%6 END;"
        "CREATE TRIGGER IF NOT EXISTS recordings_search_after_update AFTER UPDATE OF id, timestamp ON recordings"
        " BEGIN %7%4%5%6 END;"
        "CREATE TRIGGER IF NOT EXISTS recordings_search_after_delete AFTER DELETE ON recordings BEGIN %7 END;")
        .arg(indexRows(newText), insertEntries(newText), QString::fromLatin1(kUnindexOldText),
            unindexRecording(QStringLiteral("NEW.id")), indexRows(newRecording), insertEntries(newRecording),
            unindexRecording(QStringLiteral("OLD.id")), QString::number(kLayout));
}

const char *kTriggerNames[]
    = { "ocr_text_search_after_insert", "ocr_text_search_after_delete", "ocr_text_search_after_update",
          "recordings_search_after_insert", "recordings_search_after_update", "recordings_search_after_delete" };

bool execAll(sqlite3 *db, const QString &statements)
{
    return sqlite3_exec(db, statements.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

qint64 singleInteger(sqlite3 *db, const char *sql, qint64 fallback)
{
    Statement select(db, sql);
    if (select.prepared() && select.step() == SQLITE_ROW && !select.isNull(0))
        return select.int64(0);
    return fallback;
}

// True when the state row says the index of this layout covers every text row.
bool stateComplete(sqlite3 *db)
{
    Statement select(db, "SELECT complete FROM ocr_text_search_state WHERE id = 1 AND layout = ?");
    if (!select.prepared())
        return false;
    select.bind(1, kLayout);
    return select.step() == SQLITE_ROW && select.int64(0) == 1;
}

bool dropIndex(sqlite3 *db)
{
    QString drop;
    for (const char *trigger : kTriggerNames)
        drop += QStringLiteral("DROP TRIGGER IF EXISTS %1;").arg(QLatin1String(trigger));
    drop += QStringLiteral("DROP TABLE IF EXISTS ocr_text_search; DROP TABLE IF EXISTS ocr_text_search_keys;"
                           "DROP TABLE IF EXISTS ocr_text_search_state;");
    return execAll(db, drop);
}

// Removes an index of another layout (or a damaged one) so that it is built afresh.
bool dropIfOtherLayout(sqlite3 *db)
{
    if (!singleInteger(db, "SELECT count(*) FROM sqlite_master WHERE name = 'ocr_text_search_state'", 0))
        return true;
    if (singleInteger(db, "SELECT layout FROM ocr_text_search_state WHERE id = 1", -1) == kLayout)
        return true;
    return dropIndex(db);
}

bool triggersPresent(sqlite3 *db)
{
    Statement triggers(db, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name IN (?, ?, ?, ?, ?, ?)");
    if (!triggers.prepared())
        return false;
    for (int i = 0; i < 6; ++i)
        triggers.bind(i + 1, QString::fromLatin1(kTriggerNames[i]));
    return triggers.step() == SQLITE_ROW && triggers.int64(0) == 6;
}

// While its triggers are all there the index follows every change, so the cheap signs suffice:
// as many keys as text rows, and the first and the last text row keyed. A few milliseconds for
// 200,000 rows, where the full comparison below reads the whole file.
bool plainlyInStep(sqlite3 *db)
{
    if (!triggersPresent(db))
        return false;
    const auto same = [db](const char *texts, const char *keys) {
        const qint64 a = singleInteger(db, texts, -1);
        return a >= 0 && a == singleInteger(db, keys, -2);
    };
    return same("SELECT count(*) FROM ocr_text", "SELECT count(*) FROM ocr_text_search_keys")
        && same(
            "SELECT coalesce(max(id), 0) FROM ocr_text", "SELECT coalesce(max(ocr_id), 0) FROM ocr_text_search_keys")
        && same(
            "SELECT coalesce(min(id), 0) FROM ocr_text", "SELECT coalesce(min(ocr_id), 0) FROM ocr_text_search_keys");
}

// False when an index that claims to be complete disagrees with the text rows: a text table
// dropped and created again (its ids start over), rows changed while the triggers were missing, a
// table of the index lost. Each text row of a recording with a numeric capture time has exactly
// one key, and every key names a text row.
bool inStep(sqlite3 *db)
{
    if (singleInteger(db, "SELECT count(*) FROM sqlite_master WHERE name = 'ocr_text_search_state'", 0) != 1)
        return true; // nothing built yet
    if (singleInteger(db, "SELECT complete FROM ocr_text_search_state WHERE id = 1", 0) != 1)
        return true; // rebuilt anyway
    if (singleInteger(
            db, "SELECT count(*) FROM sqlite_master WHERE name IN ('ocr_text_search', 'ocr_text_search_keys')", 0)
        != 2)
        return false;
    if (plainlyInStep(db))
        return true;
    const qint64 keys = singleInteger(db, "SELECT count(*) FROM ocr_text_search_keys", -1);
    const qint64 named
        = singleInteger(db, "SELECT count(*) FROM ocr_text_search_keys k JOIN ocr_text o ON o.id = k.ocr_id", -2);
    const qint64 texts = singleInteger(db,
        "SELECT count(*) FROM ocr_text o JOIN recordings r ON r.id = o.recording_id"
        " WHERE typeof(r.timestamp) IN ('integer', 'real')",
        -3);
    return keys == named && keys == texts;
}

// True when the index, its triggers and a complete build are all there (read-only check, so a
// second process opening the file takes no write lock).
bool alreadyComplete(sqlite3 *db) { return triggersPresent(db) && stateComplete(db); }

} // namespace

bool clear(sqlite3 *db)
{
    return sql::exec(db, "INSERT INTO ocr_text_search (ocr_text_search) VALUES ('delete-all')")
        && sql::exec(db, "DELETE FROM ocr_text_search_keys");
}

namespace {

// Gives every stored text row its entry, from scratch.
bool build(sqlite3 *db)
{
    if (!clear(db) || !sql::exec(db, "UPDATE ocr_text_search_state SET complete = 1")
        || !execAll(db, indexRows(QStringLiteral("1"))))
        return false;
    const qint64 total = singleInteger(db, "SELECT count(*) FROM ocr_text_search_keys", 0);
    const bool large = total >= kLargeBuild;
    if (large)
        log::info(QStringLiteral("Building the search index over %1 texts").arg(total));

    Statement batchEnd(db, "SELECT key FROM ocr_text_search_keys WHERE key > ?1 ORDER BY key LIMIT 1 OFFSET ?2");
    Statement insert(db,
        "INSERT INTO ocr_text_search (rowid, text) SELECT k.key, o.text FROM ocr_text_search_keys k"
        " JOIN ocr_text o ON o.id = k.ocr_id WHERE k.key > ?1 AND k.key <= ?2");
    if (!batchEnd.prepared() || !insert.prepared())
        return false;
    qint64 after = std::numeric_limits<qint64>::min();
    for (qint64 done = 0; done < total;) {
        batchEnd.bind(1, after);
        batchEnd.bind(2, qint64(std::min<qint64>(kBuildBatch, total - done) - 1));
        if (batchEnd.step() != SQLITE_ROW)
            return false;
        const qint64 until = batchEnd.int64(0);
        if (!batchEnd.reset())
            return false;
        insert.bind(1, after);
        insert.bind(2, until);
        if (insert.step() != SQLITE_DONE || !insert.reset())
            return false;
        done += std::min<qint64>(kBuildBatch, total - done);
        after = until;
        if (large)
            log::info(QStringLiteral("Building the search index: %1 of %2 texts").arg(done).arg(total));
    }
    // One merged segment answers queries fastest.
    if (large)
        log::info(QStringLiteral("Building the search index: merging"));
    return sql::exec(db, "INSERT INTO ocr_text_search (ocr_text_search) VALUES ('optimize')");
}

QString quoted(const QString &trigram)
{
    QString text = trigram;
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

bool ready(sqlite3 *db) { return alreadyComplete(db) && inStep(db); }

bool prepare(sqlite3 *db)
{
    const bool agrees = inStep(db);
    if (agrees && alreadyComplete(db))
        return true;
    // All or nothing: an interrupted build leaves the index marked incomplete and it is rebuilt on
    // the next open.
    if (!sql::exec(db, "BEGIN IMMEDIATE")) {
        log::failure(QStringLiteral("ERROR buildTextSearchIndex: %1").arg(sql::errorMessage(db)));
        return false;
    }
    if (!agrees)
        log::info(QStringLiteral("The search index disagrees with the stored text: rebuilding it"));
    bool ok = (agrees ? dropIfOtherLayout(db) : dropIndex(db)) && execAll(db, schema());
    if (ok && !stateComplete(db))
        ok = build(db);
    if (ok)
        ok = sql::exec(db, "COMMIT");
    if (!ok) {
        log::failure(QStringLiteral("ERROR buildTextSearchIndex: %1").arg(sql::errorMessage(db)));
        sql::exec(db, "ROLLBACK");
        return false;
    }
    if (!stateComplete(db))
        log::info(QStringLiteral("The search index is incomplete: searches read every text"));
    return true;
}

QString likePattern(const QString &query)
{
    QString pattern;
    pattern.reserve(query.size() + 8);
    pattern += QLatin1Char('%');
    for (const QChar c : query) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('\\'))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    pattern += QLatin1Char('%');
    return pattern;
}

// Every row that LIKE matches contains the query itself (searches are literal: "%" and "_" are
// escaped), with ASCII letters in either case. The index folds case more widely (all of Unicode), which only adds
// candidates that the exact check then drops; it never loses a match. It stores which rows hold a trigram, not where
// (that would double its size), so a candidate holds every chosen trigram somewhere: trigrams three apart and the last
// one, which between them cover each run.
std::optional<QString> candidateExpression(const QString &query)
{
    QStringList trigrams;
    QList<char32_t> run;
    const auto flush = [&] {
        const qsizetype n = run.size();
        for (qsizetype at = 0; n >= 3 && at <= n - 3;) {
            const QString trigram = QString::fromUcs4(run.constData() + at, 3);
            if (!trigrams.contains(trigram) && trigrams.size() < kMaxTrigrams)
                trigrams << trigram;
            if (at == n - 3)
                break;
            at = std::min(at + 3, n - 3);
        }
        run.clear();
    };
    for (const char32_t c : query.toUcs4())
        run << c;
    flush();
    if (trigrams.isEmpty())
        return std::nullopt;
    QStringList terms;
    for (const QString &trigram : trigrams)
        terms << quoted(trigram);
    return terms.join(QStringLiteral(" AND "));
}

std::optional<std::vector<SearchRow>> searchRows(
    sqlite3 *db, const QString &expression, const QString &pattern, const std::optional<QString> &appName, int limit)
{
    if (!stateComplete(db))
        return std::nullopt;
    // Keys follow capture time only for numeric times; the plain statement sorts any other value
    // after (text, blobs) or before (NULL) every number. Both ends of the time index tell.
    const auto typeAt = [db](const char *sql) {
        Statement select(db, sql);
        return select.prepared() && select.step() == SQLITE_ROW ? select.text(0).value_or(QString()) : QString();
    };
    const QString newest = typeAt("SELECT typeof(timestamp) FROM recordings ORDER BY timestamp DESC LIMIT 1");
    const QString oldest = typeAt("SELECT typeof(timestamp) FROM recordings ORDER BY timestamp ASC LIMIT 1");
    const auto numeric = [](const QString &type) {
        return type.isEmpty() || type == QLatin1String("real") || type == QLatin1String("integer");
    };
    if (!numeric(newest) || !numeric(oldest))
        return std::nullopt;

    const QString sql = QStringLiteral(
        "SELECT k.key, r.rowid, r.id, r.timestamp, r.file_path, r.app_name, r.window_title"
        " FROM ocr_text_search CROSS JOIN ocr_text_search_keys k CROSS JOIN ocr_text o CROSS JOIN recordings r"
        " WHERE ocr_text_search MATCH ?1 AND k.key = ocr_text_search.rowid AND o.id = k.ocr_id"
        " AND r.id = o.recording_id AND %1"
        " ORDER BY ocr_text_search.rowid DESC")
                            // With an application, its cheap test goes first: one condition over both
                            // tables, which SQLite evaluates once the recording is at hand.
                            .arg(appName ? QStringLiteral("CASE WHEN r.app_name = ?3 COLLATE NOCASE"
                                                          " THEN o.text LIKE ?2 COLLATE NOCASE ESCAPE '\\' ELSE 0 END")
                                         : QStringLiteral("o.text LIKE ?2 COLLATE NOCASE ESCAPE '\\'"));
    Statement select(db, sql);
    if (!select.prepared())
        return std::nullopt;
    select.bind(1, expression);
    select.bind(2, pattern);
    if (appName)
        select.bind(3, *appName);

    // Walk matches newest first. Once `limit` recordings are in, finish the second the last one
    // belongs to (its rows are in slot order, not time order), then sort what was found the way
    // the plain statement does: capture time, then newest stored first.
    struct Found {
        SearchRow row;
        qint64 rowid;
    };
    std::vector<Found> found;
    QSet<QString> seen;
    std::optional<qint64> lastSecond;
    int status;
    while ((status = select.step()) == SQLITE_ROW) {
        const qint64 second = select.int64(0) >> kSlotBits;
        if (lastSecond && second < *lastSecond)
            break;
        SearchRow row = readSearchRow(select, 2);
        const QString id = row.id.value_or(QString());
        if (seen.contains(id))
            continue;
        seen.insert(id);
        found.push_back({ std::move(row), select.int64(1) });
        if (!lastSecond && static_cast<int>(found.size()) >= limit)
            lastSecond = second;
    }
    if (status != SQLITE_ROW && status != SQLITE_DONE)
        return std::nullopt;
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        return a.row.timestamp != b.row.timestamp ? a.row.timestamp > b.row.timestamp : a.rowid > b.rowid;
    });
    if (static_cast<int>(found.size()) > limit)
        found.resize(static_cast<size_t>(limit));
    std::vector<SearchRow> rows;
    rows.reserve(found.size());
    for (Found &f : found)
        rows.push_back(std::move(f.row));
    return rows;
}

} // namespace pellux::text_search
