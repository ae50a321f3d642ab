#include "persistence/TextSearchIndex.h"

#include "persistence/SqliteStatement.h"
#include "runtime/Log.h"

#include <QSet>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <limits>

#include <sqlite3.h>

namespace pellux::text_search {

namespace {

using sql::Statement;

// Keys: capture second << kSlotBits | slot. Every window of a capture cycle carries the cycle's
// time, so one second holds as many rows as the cycle stored windows: a second has room for about
// a million, more than the rows of any store, where 256 once left a busy cycle's texts unindexed.
// Seconds are clamped to +-2^42 (139,000 years) so that every key fits in 63 bits.
constexpr int kSlotBits = 20;
constexpr qint64 kSlots = qint64(1) << kSlotBits;
constexpr qint64 kLastSecond = qint64(1) << (62 - kSlotBits);
// A store this small is indexed at once, when it is opened.
constexpr qint64 kSmallStore = 2000;
// A build step takes about a tenth of a second, so that a capture's writes and the window's
// searches wait no longer than that while an existing history is indexed: the rows of a step
// follow how long the last one took (a row of a full screen of text takes a millisecond or more).
constexpr std::chrono::milliseconds kStepTime { 100 };
constexpr int kFewestRows = 20;
constexpr int kMostRows = 5000;
// Changes whenever keys, tables or the folding change meaning; indexes of another layout are
// dropped at open and built again in the background.
constexpr int kLayout = 5;
// Enough trigrams to make a candidate set small; more only make the index read more lists.
constexpr int kMaxTrigrams = 16;
constexpr qint64 kLargeBuild = 20000;

const QString kNumericTime = QStringLiteral("typeof(r.timestamp) IN ('integer', 'real')");
const QString kLike = QStringLiteral(" LIKE %1 COLLATE NOCASE ESCAPE '\\'");

// Folding turns characters only into ones a folded query is made of, and those into themselves:
// a text that holds the folded query as it stands holds it folded too, so most matches are found
// without folding their text.
QString textMatches(const QString &parameter)
{
    return QStringLiteral("(o.text%1 OR pellux_fold(o.text)%1)").arg(kLike.arg(parameter));
}

QString titleMatches(const QString &parameter)
{
    return QStringLiteral("(pellux_fold(r.window_title)%1 OR pellux_fold(r.app_name)%1)").arg(kLike.arg(parameter));
}

// One indexed kind of row.
struct Source {
    QString table; // the FTS table; its keys are in <table>_keys
    QString rowsTable; // the source rows alone, as alias %1
    QString rowsWithRecording; // the source rows (o or r) with their recording r
    QString idColumn; // a source row's id column
    QString alias;
    QString content; // a row's folded content, %1 being its alias
    QString joinFromKey; // search: from key k to the row and its recording r
    QString joinCondition;
    QString (*matches)(const QString &parameter); // the exact check of a candidate against a LIKE pattern
    QString matchedText; // the id and the text of the matched text row, or NULLs

    QString keys() const { return table + QStringLiteral("_keys"); }
    QString id() const { return alias + QLatin1Char('.') + idColumn; }
    QString contentOf(const QString &row) const { return content.arg(row); }
};

const Source kTexts { QStringLiteral("ocr_text_search"), QStringLiteral("ocr_text o"),
    QStringLiteral("ocr_text o JOIN recordings r ON r.id = o.recording_id"), QStringLiteral("id"), QStringLiteral("o"),
    QStringLiteral("pellux_fold(%1.text)"), QStringLiteral("CROSS JOIN ocr_text o CROSS JOIN recordings r"),
    QStringLiteral("o.id = k.source_id AND r.id = o.recording_id"), textMatches, QStringLiteral("o.id, o.text") };

const Source kTitles { QStringLiteral("title_search"), QStringLiteral("recordings r"), QStringLiteral("recordings r"),
    QStringLiteral("rowid"), QStringLiteral("r"),
    QStringLiteral("pellux_fold(coalesce(%1.app_name, '') || char(10) || coalesce(%1.window_title, ''))"),
    QStringLiteral("CROSS JOIN recordings r"), QStringLiteral("r.rowid = k.source_id"), titleMatches,
    QStringLiteral("NULL, NULL") };

const Source *const kSources[] = { &kTexts, &kTitles };

// SQL for the first key of the second that holds capture time `t` (a numeric expression).
// floor() is spelt out because SQLite builds without the math functions lack it.
QString firstKeyOf(const QString &t)
{
    const QString s = QStringLiteral("min(max((%1) * 1.0, -%2.0), %2.0)").arg(t).arg(kLastSecond);
    return QStringLiteral("((CAST(%1 AS INTEGER) - (%1 < CAST(%1 AS INTEGER))) * %2)").arg(s).arg(kSlots);
}

// The first key of a second, computed as firstKeyOf does, for binding. One past the last second
// is allowed: it is the bound just after every key.
qint64 firstKeyOfSecond(double second)
{
    const double clamped = std::clamp(second, -static_cast<double>(kLastSecond), static_cast<double>(kLastSecond + 1));
    return static_cast<qint64>(clamped) * kSlots;
}

// Statements that give keys to the source rows selected by `filter` that belong to a recording
// with a numeric capture time. Each second hands out its slots in order; rows that find no free
// slot are left out and mark the indexes incomplete, so searches fall back to the plain statement.
QString indexRows(const Source &source, const QString &filter)
{
    const QString last = QString::number(kSlots - 1);
    return QStringLiteral(
        "INSERT INTO %4 (key, source_id) "
        "SELECT key, source_id FROM ("
        " SELECT b.lo + coalesce((SELECT max(k.key) FROM %4 k WHERE k.key BETWEEN b.lo AND b.lo + %3) - b.lo + 1, 0)"
        "   + row_number() OVER (PARTITION BY b.lo ORDER BY b.source_id) - 1 AS key, b.lo AS lo,"
        "   b.source_id AS source_id"
        " FROM (SELECT %5 AS source_id, %2 AS lo FROM %6 WHERE (%1) AND %7) b)"
        " WHERE key <= lo + %3;"
        "UPDATE ocr_text_search_state SET complete = 0 WHERE EXISTS ("
        " SELECT 1 FROM %6 WHERE (%1) AND %7 AND NOT EXISTS (SELECT 1 FROM %4 k WHERE k.source_id = %5));")
        .arg(filter, firstKeyOf(QStringLiteral("r.timestamp")), last, source.keys(), source.id(),
            source.rowsWithRecording, kNumericTime);
}

QString insertEntries(const Source &source, const QString &filter)
{
    return QStringLiteral("INSERT INTO %1 (rowid, text) SELECT k.key, %2 FROM %3 JOIN %4 k ON k.source_id = %5"
                          " WHERE %6;")
        .arg(source.table, source.contentOf(source.alias), source.rowsTable, source.keys(), source.id(), filter);
}

QString index(const Source &source, const QString &filter)
{
    return indexRows(source, filter) + insertEntries(source, filter);
}

// Removes the entries of the source rows `filter` selects (the rows themselves stay). A
// contentless index forgets a row only when told its original content.
QString unindex(const Source &source, const QString &filter)
{
    return QStringLiteral("INSERT INTO %1 (%1, rowid, text) SELECT 'delete', k.key, %2 FROM %3 JOIN %4 k"
                          " ON k.source_id = %5 WHERE %6;"
                          "DELETE FROM %4 WHERE source_id IN (SELECT %5 FROM %3 WHERE %6);")
        .arg(source.table, source.contentOf(source.alias), source.rowsTable, source.keys(), source.id(), filter);
}

// Removes the entry of a row that is going away or changing, from the trigger's OLD values.
QString unindexOld(const Source &source)
{
    return QStringLiteral("INSERT INTO %1 (%1, rowid, text) SELECT 'delete', key, %2 FROM %3 WHERE source_id = OLD.%4;"
                          "DELETE FROM %3 WHERE source_id = OLD.%4;")
        .arg(source.table, source.contentOf(QStringLiteral("OLD")), source.keys(), source.idColumn);
}

struct Trigger {
    const char *name;
    const char *event;
    QString body;
};

std::vector<Trigger> triggers()
{
    const QString newText = QStringLiteral("o.id = NEW.id");
    const auto textsOf = [](const char *recording) { return QStringLiteral("o.recording_id = %1").arg(recording); };
    const QString newRecording = QStringLiteral("r.rowid = NEW.rowid");
    return {
        { "ocr_text_search_after_insert", "AFTER INSERT ON ocr_text", index(kTexts, newText) },
        { "ocr_text_search_after_delete", "AFTER DELETE ON ocr_text", unindexOld(kTexts) },
        { "ocr_text_search_after_update", "AFTER UPDATE ON ocr_text", unindexOld(kTexts) + index(kTexts, newText) },
        // INSERT OR REPLACE drops the replaced recording without its delete triggers.
        { "recordings_search_after_insert", "AFTER INSERT ON recordings",
            unindex(kTexts, textsOf("NEW.id")) + index(kTexts, textsOf("NEW.id")) },
        { "recordings_search_after_update", "AFTER UPDATE OF id, timestamp ON recordings",
            unindex(kTexts, textsOf("OLD.id")) + unindex(kTexts, textsOf("NEW.id"))
                + index(kTexts, textsOf("NEW.id")) },
        { "recordings_search_after_delete", "AFTER DELETE ON recordings", unindex(kTexts, textsOf("OLD.id")) },
        { "title_search_before_insert", "BEFORE INSERT ON recordings",
            unindex(kTitles, QStringLiteral("r.id = NEW.id")) },
        { "title_search_after_insert", "AFTER INSERT ON recordings", index(kTitles, newRecording) },
        { "title_search_after_update", "AFTER UPDATE OF id, timestamp, app_name, window_title ON recordings",
            unindexOld(kTitles) + index(kTitles, newRecording) },
        { "title_search_after_delete", "AFTER DELETE ON recordings", unindexOld(kTitles) },
    };
}

// Names of every trigger an index of this or an earlier layout may have left.
QStringList triggerNames()
{
    QStringList names;
    for (const Trigger &trigger : triggers())
        names << QString::fromLatin1(trigger.name);
    return names;
}

QString schema()
{
    QString sql;
    for (const Source *source : kSources) {
        sql += QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS %1 USING fts5("
                              " text, content='', detail=none, tokenize='trigram case_sensitive 0');"
                              "CREATE TABLE IF NOT EXISTS %2 (key INTEGER PRIMARY KEY,"
                              " source_id INTEGER NOT NULL UNIQUE);")
                   .arg(source->table, source->keys());
    }
    sql += QStringLiteral("CREATE TABLE IF NOT EXISTS ocr_text_search_state (id INTEGER PRIMARY KEY CHECK (id = 1),"
                          " complete INTEGER NOT NULL, layout INTEGER NOT NULL);"
                          "INSERT OR IGNORE INTO ocr_text_search_state (id, complete, layout) VALUES (1, 0, %1);")
               .arg(kLayout);
    for (const Trigger &trigger : triggers()) {
        sql += QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1 %2 BEGIN %3 END;")
                   .arg(QLatin1String(trigger.name), QLatin1String(trigger.event), trigger.body);
    }
    return sql;
}

bool execAll(sqlite3 *db, const QString &statements)
{
    return sqlite3_exec(db, statements.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

qint64 singleInteger(sqlite3 *db, const QString &sql, qint64 fallback)
{
    Statement select(db, sql.toUtf8().constData());
    if (select.prepared() && select.step() == SQLITE_ROW && !select.isNull(0))
        return select.int64(0);
    return fallback;
}

bool tableExists(sqlite3 *db, const QString &name)
{
    return singleInteger(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = '%1'").arg(name), 0) == 1;
}

// True when the state row says the indexes of this layout cover every row.
bool stateComplete(sqlite3 *db)
{
    Statement select(db, "SELECT complete FROM ocr_text_search_state WHERE id = 1 AND layout = ?");
    if (!select.prepared())
        return false;
    select.bind(1, kLayout);
    return select.step() == SQLITE_ROW && select.int64(0) == 1;
}

bool dropIndexes(sqlite3 *db)
{
    QString drop;
    for (const QString &trigger : triggerNames())
        drop += QStringLiteral("DROP TRIGGER IF EXISTS %1;").arg(trigger);
    for (const Source *source : kSources)
        drop += QStringLiteral("DROP TABLE IF EXISTS %1; DROP TABLE IF EXISTS %2;").arg(source->table, source->keys());
    drop += QStringLiteral("DROP TABLE IF EXISTS ocr_text_search_state;");
    return execAll(db, drop);
}

bool triggersPresent(sqlite3 *db)
{
    const QStringList names = triggerNames();
    return singleInteger(db,
               QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name IN ('%1')")
                   .arg(names.join(QStringLiteral("', '"))),
               -1)
        == names.size();
}

// While its triggers are all there an index follows every change, so the cheap signs suffice:
// as many keys as source rows, and the first and the last row keyed. A few milliseconds for
// 200,000 rows, where the full comparison below reads the whole file.
bool plainlyInStep(sqlite3 *db, const Source &source)
{
    const auto same = [db](const QString &rows, const QString &keys) {
        const qint64 a = singleInteger(db, rows, -1);
        return a >= 0 && a == singleInteger(db, keys, -2);
    };
    const QString table = source.rowsTable;
    const QString id = source.id();
    const QString keys = source.keys();
    return same(QStringLiteral("SELECT count(*) FROM %1").arg(table),
               QStringLiteral("SELECT count(*) FROM %1").arg(keys))
        && same(QStringLiteral("SELECT coalesce(max(%1), 0) FROM %2").arg(id, table),
            QStringLiteral("SELECT coalesce(max(source_id), 0) FROM %1").arg(keys))
        && same(QStringLiteral("SELECT coalesce(min(%1), 0) FROM %2").arg(id, table),
            QStringLiteral("SELECT coalesce(min(source_id), 0) FROM %1").arg(keys));
}

// Each source row of a recording with a numeric capture time has exactly one key, and every key
// names a source row.
bool fullyInStep(sqlite3 *db, const Source &source)
{
    const qint64 keys = singleInteger(db, QStringLiteral("SELECT count(*) FROM %1").arg(source.keys()), -1);
    const qint64 named = singleInteger(db,
        QStringLiteral("SELECT count(*) FROM %1 k JOIN %2 ON %3 = k.source_id")
            .arg(source.keys(), source.rowsTable, source.id()),
        -2);
    const qint64 rows = singleInteger(
        db, QStringLiteral("SELECT count(*) FROM %1 WHERE %2").arg(source.rowsWithRecording, kNumericTime), -3);
    return keys == named && keys == rows;
}

// False when indexes that claim to be complete disagree with the rows: a table dropped and
// created again (its ids start over), rows changed while the triggers were missing, a table of an
// index lost.
bool inStep(sqlite3 *db)
{
    if (!tableExists(db, QStringLiteral("ocr_text_search_state")))
        return true; // nothing built yet
    if (singleInteger(db, QStringLiteral("SELECT complete FROM ocr_text_search_state WHERE id = 1"), 0) != 1)
        return true; // built again anyway
    for (const Source *source : kSources) {
        if (!tableExists(db, source->table) || !tableExists(db, source->keys()))
            return false;
    }
    const bool triggers = triggersPresent(db);
    for (const Source *source : kSources) {
        if (!(triggers && plainlyInStep(db, *source)) && !fullyInStep(db, *source))
            return false;
    }
    return true;
}

// True when the indexes, their triggers and a complete build are all there (read-only check, so
// a second process opening the file takes no write lock).
bool alreadyComplete(sqlite3 *db) { return triggersPresent(db) && stateComplete(db); }

bool logFailure(sqlite3 *db)
{
    log::failure(QStringLiteral("ERROR buildTextSearchIndex: %1").arg(sql::errorMessage(db)));
    sql::exec(db, "ROLLBACK");
    return false;
}

QString quoted(const QString &trigram)
{
    QString text = trigram;
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

bool ready(sqlite3 *db) { return alreadyComplete(db) && inStep(db); }

bool buildStep(sqlite3 *db, BuildProgress *progress)
{
    if (progress->done)
        return true;
    const auto started = std::chrono::steady_clock::now();
    if (!sql::exec(db, "BEGIN IMMEDIATE"))
        return logFailure(db);
    const Source &source = progress->textsDone ? kTitles : kTexts;
    qint64 &last = progress->textsDone ? progress->lastRecording : progress->lastText;
    const QString pick
        = QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS search_build_batch (source_id INTEGER PRIMARY KEY);"
                         "DELETE FROM temp.search_build_batch;"
                         "INSERT INTO temp.search_build_batch SELECT %1 FROM %2 WHERE %1 > %3 AND %4"
                         " AND NOT EXISTS (SELECT 1 FROM %5 k WHERE k.source_id = %1) ORDER BY %1 LIMIT %6;")
              .arg(source.id(), source.rowsWithRecording)
              .arg(last)
              .arg(kNumericTime, source.keys())
              .arg(progress->batchRows);
    if (!execAll(db, pick))
        return logFailure(db);
    const qint64 picked = singleInteger(db, QStringLiteral("SELECT count(*) FROM temp.search_build_batch"), -1);
    if (picked < 0)
        return logFailure(db);
    if (picked > 0) {
        const QString batch = QStringLiteral("%1 IN (SELECT source_id FROM temp.search_build_batch)").arg(source.id());
        if (!execAll(db, index(source, batch)))
            return logFailure(db);
        last = singleInteger(db, QStringLiteral("SELECT max(source_id) FROM temp.search_build_batch"), last);
        progress->indexed += picked;
    } else if (!progress->textsDone) {
        progress->textsDone = true;
    } else {
        // Complete when the triggers are there and every row found a key; otherwise searches keep
        // reading every row.
        bool complete = triggersPresent(db);
        for (const Source *each : kSources)
            complete = complete && fullyInStep(db, *each);
        if (complete && !sql::exec(db, "UPDATE ocr_text_search_state SET complete = 1"))
            return logFailure(db);
        progress->done = true;
        progress->complete = complete;
        if (!complete)
            log::info(QStringLiteral("The search index is incomplete: searches read every text"));
    }
    if (!sql::exec(db, "COMMIT"))
        return logFailure(db);
    const auto took = std::chrono::steady_clock::now() - started;
    if (took > 2 * kStepTime)
        progress->batchRows = std::max(kFewestRows, progress->batchRows / 2);
    else if (took < kStepTime / 2 && picked == progress->batchRows)
        progress->batchRows = std::min(kMostRows, progress->batchRows * 2);
    if (picked > 0 && progress->indexed / kLargeBuild != (progress->indexed - picked) / kLargeBuild)
        log::info(QStringLiteral("Building the search index: %1 rows indexed").arg(progress->indexed));
    else if (progress->done && progress->indexed >= kLargeBuild)
        log::info(QStringLiteral("Built the search index over %1 rows").arg(progress->indexed));
    return true;
}

Preparation prepare(sqlite3 *db)
{
    const bool agrees = inStep(db);
    if (agrees && alreadyComplete(db))
        return Preparation::ready;
    // Built from scratch, in the background: a build that an exit interrupted left the indexes
    // incomplete, and they start over at the next open.
    if (!sql::exec(db, "BEGIN IMMEDIATE")) {
        logFailure(db);
        return Preparation::unavailable;
    }
    if (!agrees)
        log::info(QStringLiteral("The search index disagrees with the stored text: rebuilding it"));
    if (!dropIndexes(db) || !execAll(db, schema()) || !sql::exec(db, "COMMIT")) {
        logFailure(db);
        return Preparation::unavailable;
    }
    // A new or small store is indexed at once: a batch or two, shorter than a capture's writes.
    const qint64 rows = singleInteger(db,
        QStringLiteral("SELECT (SELECT count(*) FROM ocr_text)"
                       " + (SELECT count(*) FROM recordings)"),
        -1);
    if (rows < 0 || rows > kSmallStore)
        return Preparation::building;
    BuildProgress progress;
    while (!progress.done) {
        if (!buildStep(db, &progress))
            return Preparation::unavailable;
    }
    return progress.complete ? Preparation::ready : Preparation::unavailable;
}

bool clear(sqlite3 *db)
{
    for (const Source *source : kSources) {
        if (!tableExists(db, source->table))
            continue;
        if (!execAll(db,
                QStringLiteral("INSERT INTO %1 (%1) VALUES ('delete-all'); DELETE FROM %2;")
                    .arg(source->table, source->keys())))
            return false;
    }
    return true;
}

QString likePattern(const QString &foldedQuery)
{
    QString pattern;
    pattern.reserve(foldedQuery.size() + 8);
    pattern += QLatin1Char('%');
    for (const QChar c : foldedQuery) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('\\'))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    pattern += QLatin1Char('%');
    return pattern;
}

// Every row that LIKE matches contains the folded query itself (searches are literal: "%" is
// escaped), with ASCII letters in either case. The index folds case more widely (all of Unicode), which only adds
// candidates that the exact check then drops; it never loses a match. It stores which rows hold a trigram, not where
// (that would double its size), so a candidate holds every chosen trigram somewhere: trigrams three apart and the last
// one, which between them cover each run.
std::optional<QString> candidateExpression(const QString &foldedQuery)
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
    for (const char32_t c : foldedQuery.toUcs4())
        run << c;
    flush();
    if (trigrams.isEmpty())
        return std::nullopt;
    QStringList terms;
    for (const QString &trigram : trigrams)
        terms << quoted(trigram);
    return terms.join(QStringLiteral(" AND "));
}

namespace {

struct Found {
    SearchRow row;
    qint64 rowid;
};

// The matches of one index, newest first: at least `limit` recordings unless there are fewer,
// and every match of the second the last of them belongs to (its rows are in slot order, not time
// order). Absent when a statement fails.
std::optional<std::vector<Found>> walk(sqlite3 *db, const Source &source, const QString &expression,
    const QString &pattern, const std::optional<QString> &appName, const TimeRange &range, int limit)
{
    // A range bounds the index's own keys (whole seconds), so the walk starts and stops inside
    // it; the exact times are then checked on the recordings.
    QString bounds;
    if (range.since)
        bounds += QStringLiteral(" AND %1.rowid >= ?4 AND r.timestamp >= ?6").arg(source.table);
    if (range.until)
        bounds += QStringLiteral(" AND %1.rowid < ?5 AND r.timestamp < ?7").arg(source.table);
    const QString matches = source.matches(QStringLiteral("?2"));
    const QString sql
        = QStringLiteral("SELECT k.key, r.rowid, r.id, r.timestamp, r.file_path, r.app_name, r.window_title, %7"
                         " FROM %1 CROSS JOIN %2 k %3"
                         " WHERE %1 MATCH ?1 AND k.key = %1.rowid AND %4%6 AND %5"
                         " ORDER BY %1.rowid DESC")
              .arg(source.table, source.keys(), source.joinFromKey, source.joinCondition,
                  // With an application, its cheap test goes first: one condition over
                  // both tables, which SQLite evaluates once the recording is at hand.
                  appName ? QStringLiteral("CASE WHEN r.app_name = ?3 COLLATE NOCASE THEN %1 ELSE 0 END").arg(matches)
                          : matches,
                  bounds, source.matchedText);
    Statement select(db, sql.toUtf8().constData());
    if (!select.prepared())
        return std::nullopt;
    select.bind(1, expression);
    select.bind(2, pattern);
    if (appName)
        select.bind(3, *appName);
    if (range.since) {
        select.bind(4, firstKeyOfSecond(std::floor(secondsSince1970(*range.since))));
        select.bind(6, secondsSince1970(*range.since));
    }
    if (range.until) {
        // Every key of the seconds before the end's second, and of that second when the end
        // lies inside it.
        select.bind(5, firstKeyOfSecond(std::ceil(secondsSince1970(*range.until))));
        select.bind(7, secondsSince1970(*range.until));
    }
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
        if (!select.isNull(7)) {
            row.textId = select.int64(7);
            row.text = select.text(8).value_or(QString());
        }
        found.push_back({ std::move(row), select.int64(1) });
        if (!lastSecond && static_cast<int>(found.size()) >= limit)
            lastSecond = second;
    }
    if (status != SQLITE_ROW && status != SQLITE_DONE)
        return std::nullopt;
    return found;
}

} // namespace

QString plainMatchCondition()
{
    // The texts are read once, in the order they are stored, into the set of matching recordings:
    // looking each recording's texts up in capture order would read the file in no order at all.
    return QStringLiteral("(r.id IN (SELECT o.recording_id FROM ocr_text o WHERE %1) OR %2)")
        .arg(textMatches(QStringLiteral("?1")), titleMatches(QStringLiteral("?1")));
}

std::optional<std::vector<SearchRow>> searchRows(sqlite3 *db, const QString &expression, const QString &pattern,
    const std::optional<QString> &appName, const TimeRange &range, int limit)
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

    // Each index's walk holds every match newer than its last second, so the newest `limit` of
    // both together are the newest `limit` of all: sort them the way the plain statement does
    // (capture time, then newest stored first), a recording found by both once.
    std::vector<Found> found;
    for (const Source *source : kSources) {
        std::optional<std::vector<Found>> matches = walk(db, *source, expression, pattern, appName, range, limit);
        if (!matches)
            return std::nullopt;
        std::move(matches->begin(), matches->end(), std::back_inserter(found));
    }
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        return a.row.timestamp != b.row.timestamp ? a.row.timestamp > b.row.timestamp : a.rowid > b.rowid;
    });
    found.erase(
        std::unique(found.begin(), found.end(), [](const Found &a, const Found &b) { return a.rowid == b.rowid; }),
        found.end());
    if (static_cast<int>(found.size()) > limit)
        found.resize(static_cast<size_t>(limit));
    std::vector<SearchRow> rows;
    rows.reserve(found.size());
    for (Found &f : found)
        rows.push_back(std::move(f.row));
    return rows;
}

} // namespace pellux::text_search
