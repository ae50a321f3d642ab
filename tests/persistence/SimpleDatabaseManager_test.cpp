#include "persistence/ApplicationPageStatements.h"
#include "persistence/DatabaseTestSupport.h"
#include "runtime/MainThread.h"
#include "support/LogCapture.h"
#include "support/SyntheticHistory.h"
#include "support/TempHome.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <thread>

using namespace pellux;
using namespace pellux::test;

namespace {

const QStringList kFullColumns = { "id", "timestamp", "display_index", "file_path", "app_name", "window_title",
    "image_hash", "file_size", "compression_ratio", "is_delta_frame", "reference_hash" };
const QStringList kAllIndexes = { "idx_ocr_recording", "idx_recordings_app_time", "idx_recordings_hash",
    "idx_recordings_reference_hash", "idx_recordings_timestamp" };

int mode(const QString &path)
{
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 0777);
}

QString dbPath(const TempHome &home) { return home.pelluxFolder() + QStringLiteral("/pellux_v2.db"); }

std::optional<QString> ocrText(SimpleDatabaseManager &db, const QUuid &id)
{
    return awaitCompletion<std::optional<QString>>([&](auto done) { db.getOCRText(id, done); });
}

bool exists(SimpleDatabaseManager &db, const QUuid &id)
{
    return awaitCompletion<bool>([&](auto done) { db.verifyRecordingExists(id, done); });
}

std::optional<QString> byHash(SimpleDatabaseManager &db, const QString &hash)
{
    return awaitCompletion<std::optional<QString>>([&](auto done) { db.getScreenshotByHash(hash, done); });
}

bool updateSize(SimpleDatabaseManager &db, const QString &path, qint64 size)
{
    return awaitCompletion<bool>([&](auto done) { db.updateFileSize(path, size, done); });
}

QStringList applicationNames(SimpleDatabaseManager &db)
{
    return awaitCompletion<ApplicationNames>([&](auto done) { db.applicationNames(done); }).names;
}

RecordingPage pageOf(
    SimpleDatabaseManager &db, const QString &app, int limit, std::optional<RecordingPageCursor> after = std::nullopt)
{
    return awaitCompletion<RecordingPage>([&](auto done) { db.recordingsOfApplication(app, limit, after, done); });
}

// Follows `next` from the first page to the last; `pages` counts them.
std::vector<Recording> ofApplication(
    SimpleDatabaseManager &db, const QString &app, int limit = 1000, int *pages = nullptr)
{
    std::vector<Recording> all;
    std::optional<RecordingPageCursor> after;
    for (int page = 1; page <= 100000; ++page) {
        const RecordingPage answer = pageOf(db, app, limit, after);
        EXPECT_LE(answer.recordings.size(), static_cast<size_t>(limit));
        all.insert(all.end(), answer.recordings.begin(), answer.recordings.end());
        if (!answer.next) {
            if (pages)
                *pages = page;
            return all;
        }
        after = answer.next;
    }
    ADD_FAILURE() << "the pages of " << app.toStdString() << " never end";
    return all;
}

// The detail lines of SQLite's plan for a statement.
QStringList queryPlan(const RawDatabase &raw, const char *statement)
{
    QStringList plan;
    sqlite3_stmt *stmt = nullptr;
    const QByteArray sql = QByteArray("EXPLAIN QUERY PLAN ") + statement;
    if (sqlite3_prepare_v2(raw.handle(), sql.constData(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql.constData() << ": " << sqlite3_errmsg(raw.handle());
        return plan;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW)
        plan << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 3)));
    sqlite3_finalize(stmt);
    return plan;
}

Recording withId(const char *id, double seconds, const QString &path, std::optional<QString> app)
{
    Recording r = makeRecording(seconds, path, std::move(app));
    r.id = QUuid::fromString(QLatin1String(id));
    return r;
}

int deleteRows(SimpleDatabaseManager &db, const std::vector<QUuid> &recordingIds)
{
    return awaitCompletion<int>([&](auto done) { db.deleteRecordings(recordingIds, done); });
}

// Writes a file as an older release left it: the given columns of `recordings` and one row.
void writeOldFile(const QString &path, const QString &recordingsColumns, const QString &row)
{
    QDir().mkpath(QFileInfo(path).path());
    RawDatabase raw(path, true);
    raw.exec(QStringLiteral("CREATE TABLE recordings (%1)").arg(recordingsColumns));
    raw.exec(QStringLiteral("CREATE TABLE ocr_text (id INTEGER PRIMARY KEY AUTOINCREMENT, recording_id TEXT NOT NULL, "
                            "text TEXT NOT NULL, timestamp REAL NOT NULL)"));
    raw.exec(row);
    raw.exec(QStringLiteral("INSERT INTO ocr_text (recording_id, text, timestamp) "
                            "VALUES ('11111111-2222-3333-4444-555555555555', 'old terminal text', 1.0)"));
}

} // namespace

TEST(DatabaseOpening, FreshFileIsPrivateHasTheFullSchemaAndMigratesOnlyOnce)
{
    TempHome home;
    // Without --verbose: the success lines print, the per-call "DEBUG" lines do not.
    LogCapture log(LogCapture::Verbosity::quiet);
    {
        SimpleDatabaseManager db;
        ASSERT_TRUE(db.isOpen());
        EXPECT_EQ(db.databasePath(), dbPath(home));
    }
    EXPECT_EQ(mode(home.pelluxFolder()), 0700);
    EXPECT_EQ(mode(dbPath(home)), 0600);
    EXPECT_TRUE(log.linesStartingWith("DEBUG").isEmpty());
    EXPECT_EQ(log.linesStartingWith("Successfully added"),
        QStringList({ "Successfully added is_delta_frame column to recordings table",
            "Successfully added reference_hash column to recordings table" }));
    {
        RawDatabase raw(dbPath(home));
        EXPECT_EQ(raw.columns("recordings"), kFullColumns);
        EXPECT_EQ(raw.columns("ocr_text"), QStringList({ "id", "recording_id", "text", "timestamp" }));
        QStringList indexes = raw.indexes("recordings") + raw.indexes("ocr_text");
        indexes.sort();
        EXPECT_EQ(indexes, kAllIndexes);
        EXPECT_EQ(raw.strings("SELECT \"table\" || '.' || \"from\" || '>' || \"to\" || ' ' || on_delete "
                              "FROM pragma_foreign_key_list('ocr_text')"),
            QStringList({ "recordings.recording_id>id CASCADE" }));
    }
    log.clear();
    SimpleDatabaseManager again;
    EXPECT_TRUE(again.isOpen());
    EXPECT_TRUE(log.linesStartingWith("Successfully added").isEmpty());
    EXPECT_TRUE(log.linesStartingWith("Error").isEmpty());
}

TEST(DatabaseOpening, NineColumnFileGainsTheDeltaColumnsAndKeepsItsRows)
{
    TempHome home;
    writeOldFile(dbPath(home),
        "id TEXT PRIMARY KEY, timestamp REAL NOT NULL, display_index INTEGER NOT NULL, file_path TEXT NOT NULL, "
        "app_name TEXT, window_title TEXT, image_hash TEXT, file_size INTEGER, compression_ratio REAL",
        "INSERT INTO recordings VALUES ('11111111-2222-3333-4444-555555555555', 100.0, 0, '/old/a.webp', "
        "'Terminal', 'bash', 'h1', 10, 2.5)");
    // The application index of an earlier build, which ordered one capture time by id.
    RawDatabase(dbPath(home))
        .exec("CREATE INDEX idx_recordings_app_browse "
              "ON recordings(app_name, timestamp, id, file_path, window_title)");
    LogCapture log;
    SimpleDatabaseManager db;
    ASSERT_TRUE(db.isOpen());
    EXPECT_EQ(log.linesStartingWith("Successfully added"),
        QStringList({ "Successfully added is_delta_frame column to recordings table",
            "Successfully added reference_hash column to recordings table" }));
    EXPECT_EQ(mode(dbPath(home)), 0600);
    db.waitUntilIdle();
    RawDatabase raw(dbPath(home));
    EXPECT_EQ(raw.columns("recordings"), kFullColumns);
    QStringList indexes = raw.indexes("recordings") + raw.indexes("ocr_text");
    indexes.sort();
    EXPECT_EQ(indexes, kAllIndexes);
    EXPECT_EQ(
        raw.strings("SELECT file_path || ' ' || is_delta_frame FROM recordings"), QStringList({ "/old/a.webp 0" }));
    EXPECT_EQ(ids(search(db, "TERMINAL")), QStringList({ "11111111-2222-3333-4444-555555555555" }));
}

TEST(DatabaseOpening, FileWithoutAnyOptionalColumnGainsAllSevenInOrderWithBothHashIndexes)
{
    TempHome home;
    writeOldFile(dbPath(home),
        "id TEXT PRIMARY KEY, timestamp REAL NOT NULL, display_index INTEGER NOT NULL, file_path TEXT NOT NULL",
        "INSERT INTO recordings VALUES ('11111111-2222-3333-4444-555555555555', 100.0, 0, '/old/a.webp')");
    LogCapture log;
    SimpleDatabaseManager db;
    ASSERT_TRUE(db.isOpen());
    QStringList expected;
    for (const char *name : { "app_name", "window_title", "image_hash", "file_size", "compression_ratio",
             "is_delta_frame", "reference_hash" })
        expected << QStringLiteral("Successfully added %1 column to recordings table").arg(name);
    EXPECT_EQ(log.linesStartingWith("Successfully added"), expected);
    RawDatabase raw(dbPath(home));
    EXPECT_EQ(raw.columns("recordings"), kFullColumns);
    EXPECT_TRUE(raw.indexes("recordings").contains("idx_recordings_hash"));
    EXPECT_TRUE(raw.indexes("recordings").contains("idx_recordings_reference_hash"));
    const std::vector<Recording> found = search(db, "old");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_FALSE(found[0].appName.has_value());
}

TEST(DatabaseOpening, FileThatIsNoDatabaseIsRefusedReadOnlyUntouchedAndEveryOperationFails)
{
    TempHome home;
    QDir().mkpath(home.pelluxFolder());
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(static_cast<char>((i * 37 + 11) % 251));
    {
        QFile file(dbPath(home));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    LogCapture log;
    SimpleDatabaseManager db(SimpleDatabaseManager::OpenMode::readOnly);
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(log.contains("ERROR openDatabase: Unable to open database: file is not a database"));

    const Recording r = makeRecording(100, "/x/a.webp");
    EXPECT_FALSE(saveRecording(db, r, QStringLiteral("h")));
    db.saveOCRText(r.id, "text", r.timestamp);
    EXPECT_TRUE(search(db, "%").empty());
    log.clear();
    EXPECT_FALSE(ocrText(db, r.id).has_value());
    EXPECT_TRUE(log.contains("DEBUG: Database not available"));
    EXPECT_FALSE(exists(db, r.id));
    EXPECT_FALSE(byHash(db, "h").has_value());
    EXPECT_FALSE(updateSize(db, "a.webp", 5));
    EXPECT_EQ(deleteRows(db, { r.id }), 0);
    log.clear();
    EXPECT_TRUE(applicationNames(db).isEmpty());
    const RecordingPage page = pageOf(db, "Terminal", 10);
    EXPECT_TRUE(page.recordings.empty());
    EXPECT_FALSE(page.next);
    EXPECT_TRUE(log.contains("ERROR applicationNames: Database not available"));
    EXPECT_TRUE(log.contains("ERROR recordingsOfApplication: Database not available"));
    db.deleteAllData();
    db.debugPrintAllOCRTexts();
    db.waitUntilIdle();

    EXPECT_EQ(readAll(dbPath(home)), garbage);
    EXPECT_FALSE(QFile::exists(dbPath(home) + "-journal"));
}

TEST(DatabaseOpening, MissingFileInExistingOnlyModeCreatesNothing)
{
    TempHome home;
    LogCapture log;
    SimpleDatabaseManager db(SimpleDatabaseManager::OpenMode::existingOnly);
    EXPECT_FALSE(db.isOpen());
    EXPECT_FALSE(log.linesStartingWith("ERROR openDatabase: Unable to open database: ").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home.pelluxFolder()));
    EXPECT_TRUE(search(db, "abc").empty());
}

TEST(DatabaseRecordings, SavingWritesEveryColumnAndASecondSaveReplacesTheRow)
{
    TempHome home;
    LogCapture log;
    SimpleDatabaseManager db;
    Recording r = makeRecording(1'700'000'000.25, "/p/Term inal_1.webp", std::nullopt, QStringLiteral("tïtle"));
    r.imageHash = QStringLiteral("not-the-argument");
    ASSERT_TRUE(saveRecording(db, r, QStringLiteral("hash1"), 1234, true, QStringLiteral("ref1"), 3.5));
    EXPECT_TRUE(log.contains(
        "DEBUG saveRecordingWithDeltaFrame: Saving recording ID: " + r.idText() + " with hash: hash1, isDelta: true"));
    EXPECT_TRUE(log.contains("DEBUG saveRecordingWithDeltaFrame: Successfully saved recording"));
    {
        RawDatabase raw(dbPath(home));
        EXPECT_EQ(
            raw.strings("SELECT id || '|' || printf('%.2f', timestamp) || '|' || display_index || '|' || file_path "
                        "|| '|' || ifnull(app_name, 'NULL') || '|' || window_title || '|' || image_hash || '|' "
                        "|| file_size || '|' || is_delta_frame || '|' || reference_hash || '|' || "
                        "compression_ratio FROM recordings"),
            QStringList({ r.idText() + "|1700000000.25|0|/p/Term inal_1.webp|NULL|tïtle|hash1|1234|1|ref1|3.5" }));
    }
    log.clear();
    r.filePath = QUrl::fromLocalFile("/p/second.webp");
    ASSERT_TRUE(saveRecording(db, r, std::nullopt, 99, false, std::nullopt, std::nullopt));
    EXPECT_TRUE(log.contains(
        "DEBUG saveRecordingWithDeltaFrame: Saving recording ID: " + r.idText() + " with hash: none, isDelta: false"));
    RawDatabase raw(dbPath(home));
    EXPECT_EQ(raw.strings("SELECT file_path || '|' || ifnull(image_hash, 'NULL') || '|' || file_size || '|' || "
                          "is_delta_frame || '|' || ifnull(compression_ratio, 'NULL') FROM recordings"),
        QStringList({ "/p/second.webp|NULL|99|0|NULL" }));
}

TEST(DatabaseRecordings, ExistenceAndHashLookupsAnswerOnTheirQueues)
{
    TempHome home;
    LogCapture log;
    SimpleDatabaseManager db;
    const Recording r = makeRecording(10, "/p/a.webp");
    ASSERT_TRUE(saveRecording(db, r, QStringLiteral("abc")));
    EXPECT_TRUE(exists(db, r.id));
    EXPECT_FALSE(exists(db, QUuid::createUuid()));
    EXPECT_TRUE(log.text().contains(
        QRegularExpression(R"(DEBUG verifyRecordingExists \[[0-9A-F]{8}\]: Total recordings in DB: 1\n)")));
    EXPECT_TRUE(log.text().contains(QRegularExpression(R"(DEBUG verifyRecordingExists \[[0-9A-F]{8}\]: Recording )"
        + r.idText() + R"( exists: true \(count: 1\)\n)")));

    std::atomic<bool> onMain { false };
    EXPECT_EQ(awaitCompletion<std::optional<QString>>([&](auto done) {
        db.getScreenshotByHash("abc", [&, done](std::optional<QString> path) {
            onMain = isMainThread();
            done(path);
        });
    }),
        std::optional<QString>("/p/a.webp"));
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(byHash(db, "ABC").has_value());

    std::atomic<bool> onQueue { false };
    awaitCompletion<bool>([&](auto done) {
        db.verifyRecordingExists(r.id, [&, done](bool found) {
            onQueue = !isMainThread();
            done(found);
        });
    });
    EXPECT_TRUE(onQueue);
}

TEST(DatabaseText, TextIsStoredOnlyForExistingRecordingsAndReadBack)
{
    TempHome home;
    LogCapture log;
    SimpleDatabaseManager db;
    const Recording r = makeRecording(10, "/p/a.webp");
    ASSERT_TRUE(saveRecording(db, r));

    const QUuid missing = QUuid::createUuid();
    db.saveOCRText(missing, "never stored", r.timestamp);
    db.waitUntilIdle();
    EXPECT_TRUE(log.contains("ERROR saveOCRText: Recording " + uuidText(missing) + " does not exist in database!"));

    const QString text = QString(60, QLatin1Char('x')) + QStringLiteral(" naïve");
    db.saveOCRText(r.id, text, fromSecondsSince1970(11));
    db.waitUntilIdle();
    EXPECT_TRUE(log.contains("DEBUG saveOCRText: Text length: 66 characters"));
    EXPECT_TRUE(log.contains("DEBUG saveOCRText: Text preview: " + QString(50, QLatin1Char('x')) + "..."));
    EXPECT_TRUE(log.contains("DEBUG saveOCRText: Successfully saved OCR text"));

    log.clear();
    EXPECT_EQ(ocrText(db, r.id), std::optional<QString>(text));
    EXPECT_TRUE(log.contains("DEBUG: Found OCR text in DB with 67 bytes"));
    EXPECT_TRUE(log.contains("DEBUG: Text isEmpty: false"));
    EXPECT_FALSE(ocrText(db, missing).has_value());
    EXPECT_TRUE(log.contains("DEBUG: No row found for recording_id: " + uuidText(missing)));

    RawDatabase raw(dbPath(home));
    EXPECT_EQ(raw.integer("SELECT count(*) FROM ocr_text"), 1);
}

TEST(DatabaseSearch, MatchesAsciiCaseApplicationAndCap)
{
    TempHome home;
    SimpleDatabaseManager db;
    const Recording term = makeRecording(100, "/p/t.webp", QStringLiteral("Terminal"));
    const Recording fox = makeRecording(200, "/p/f.webp", QStringLiteral("Firefox"));
    const Recording silent = makeRecording(300, "/p/s.webp", QStringLiteral("Firefox"));
    for (const Recording &r : { term, fox, silent })
        ASSERT_TRUE(saveRecording(db, r));
    db.saveOCRText(term.id, "MAKE install finished", term.timestamp);
    db.saveOCRText(term.id, "make again", term.timestamp);
    db.saveOCRText(fox.id, "Straße ÄPFEL make", fox.timestamp);
    db.waitUntilIdle();

    EXPECT_EQ(ids(search(db, "make")), QStringList({ fox.idText(), term.idText() }));
    EXPECT_EQ(ids(search(db, "make", QStringLiteral("FIREFOX"))), QStringList({ fox.idText() }));
    EXPECT_TRUE(search(db, "make", QStringLiteral("Firefo")).empty());
    // Only ASCII letters fold.
    EXPECT_EQ(ids(search(db, "äpfel")), QStringList());
    EXPECT_EQ(ids(search(db, "ÄPFEL")), QStringList({ fox.idText() }));

    const std::vector<Recording> found = search(db, "install");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].localPath(), "/p/t.webp");
    EXPECT_EQ(secondsSince1970(found[0].timestamp), 100.0);
    EXPECT_EQ(found[0].appName, std::optional<QString>("Terminal"));
    EXPECT_FALSE(found[0].thumbnailPath.has_value());
    EXPECT_FALSE(found[0].imageHash.has_value());
}

// What the user types is looked for literally, through the text index and the plain statement.
TEST(DatabaseSearch, PercentUnderscoreAndBackslashMatchThemselves)
{
    TempHome home;
    SimpleDatabaseManager db;
    const QStringList texts = { "sale 50% off", "sale 500 off", "int my_var = 1", "int myXvar = 1", R"(C:\temp\new)",
        "100%_done", "plain words" };
    QStringList stored;
    for (int i = 0; i < texts.size(); ++i) {
        const Recording r = makeRecording(100 + i, QStringLiteral("/p/%1.webp").arg(i));
        ASSERT_TRUE(saveRecording(db, r));
        db.saveOCRText(r.id, texts[i], r.timestamp);
        stored << r.idText();
    }
    db.waitUntilIdle();
    const auto idsOf = [&](std::initializer_list<int> rows) {
        QStringList out;
        for (auto it = std::rbegin(rows); it != std::rend(rows); ++it)
            out << stored[*it];
        return out;
    };
    const struct {
        QString query;
        QStringList expected;
    } cases[] = {
        { "50%", idsOf({ 0 }) },
        { "%", idsOf({ 0, 5 }) },
        { "0% off", idsOf({ 0 }) },
        { "my_var", idsOf({ 2 }) },
        { "_", idsOf({ 2, 5 }) },
        { "y_v", idsOf({ 2 }) },
        { R"(\)", idsOf({ 4 }) },
        { R"(:\te)", idsOf({ 4 }) },
        { R"(\%)", {} },
        { "%_", idsOf({ 5 }) },
        { "100%_done", idsOf({ 5 }) },
        { "sale 5", idsOf({ 0, 1 }) },
        { "%%", {} },
    };
    for (const bool indexed : { true, false }) {
        db.setTextIndexEnabled(indexed);
        for (const auto &c : cases)
            EXPECT_EQ(ids(search(db, c.query)), c.expected)
                << "query '" << c.query.toStdString() << "' indexed " << indexed;
    }
}

TEST(DatabaseSearch, ReturnsTheHundredNewestAndSkipsRowsWithoutAUsableId)
{
    TempHome home;
    LogCapture log;
    SimpleDatabaseManager db;
    db.waitUntilIdle();
    {
        RawDatabase raw(dbPath(home));
        raw.exec("BEGIN");
        for (int i = 0; i < 150; ++i) {
            const QString id = uuidText(QUuid::createUuid());
            raw.exec(QStringLiteral("INSERT INTO recordings (id, timestamp, display_index, file_path) "
                                    "VALUES ('%1', %2, 0, '/p/%2.webp')")
                         .arg(id)
                         .arg(1000 + i));
            raw.exec(
                QStringLiteral("INSERT INTO ocr_text (recording_id, text, timestamp) VALUES ('%1', 'hit', 0)").arg(id));
        }
        raw.exec(
            "INSERT INTO recordings (id, timestamp, display_index, file_path) VALUES ('not-a-uuid', 5000, 0, '/p/x')");
        raw.exec("INSERT INTO ocr_text (recording_id, text, timestamp) VALUES ('not-a-uuid', 'hit', 0)");
        raw.exec("COMMIT");
    }
    const std::vector<Recording> found = search(db, "hit");
    ASSERT_EQ(found.size(), 99u);
    EXPECT_EQ(secondsSince1970(found.front().timestamp), 1149.0);
    EXPECT_EQ(secondsSince1970(found.back().timestamp), 1051.0);
    EXPECT_TRUE(log.contains("DEBUG searchText: Failed to create UUID from string: not-a-uuid"));
    EXPECT_TRUE(log.contains("DEBUG searchText: Total matches found: 100"));
    EXPECT_TRUE(log.contains("DEBUG searchText: Returning 99 recordings"));
    EXPECT_TRUE(log.contains("DEBUG searchText: Using pattern '%hit%'"));
}

TEST(DatabaseSearch, AReadThatFailsPartWayIsAFailureNotAShortAnswer)
{
    TempHome home;
    {
        SimpleDatabaseManager db;
        db.waitUntilIdle();
        RawDatabase raw(dbPath(home));
        raw.exec("BEGIN");
        // Long texts, a few to a page, so that the text table spans many pages.
        for (int i = 0; i < 300; ++i) {
            const QString id = uuidText(QUuid::createUuid());
            raw.exec(QStringLiteral("INSERT INTO recordings (id, timestamp, display_index, file_path, app_name) "
                                    "VALUES ('%1', %2, 0, '/p/%2.webp', 'Terminal')")
                         .arg(id)
                         .arg(1000 + i));
            raw.exec(QStringLiteral("INSERT INTO ocr_text (recording_id, text, timestamp) "
                                    "VALUES ('%1', 'hit ' || printf('%.900c', 'x'), 0)")
                         .arg(id));
        }
        raw.exec("COMMIT");
        ASSERT_EQ(search(db, "hit").size(), 100u);
    }
    // Damage one page of texts among those of the newest hundred recordings (the table's pages in
    // key order; the last sixth holds the newest fifty).
    qint64 pageSize = 0;
    qint64 page = 0;
    {
        RawDatabase raw(dbPath(home));
        pageSize = raw.integer("PRAGMA page_size");
        const QStringList leaves
            = raw.strings("SELECT pageno FROM dbstat WHERE name = 'ocr_text' AND pagetype = 'leaf' ORDER BY path");
        ASSERT_GT(leaves.size(), 30);
        page = leaves.at(leaves.size() * 4 / 5).toLongLong();
    }
    {
        QFile file(dbPath(home));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek((page - 1) * pageSize));
        ASSERT_EQ(file.write(QByteArray(static_cast<int>(pageSize), '\xff')), pageSize);
    }

    SimpleDatabaseManager db;
    ASSERT_TRUE(db.isOpen());
    for (const bool textIndex : { false, true }) {
        db.setTextIndexEnabled(textIndex);
        LogCapture log;
        EXPECT_TRUE(search(db, "hit").empty()) << textIndex;
        EXPECT_TRUE(search(db, "hit", QStringLiteral("Terminal")).empty()) << textIndex;
        EXPECT_EQ(log.linesStartingWith("ERROR searchText:").size(), 2) << textIndex;
    }
}

TEST(DatabaseApplications, NamesAreDistinctInPlainCaseSensitiveOrderWithoutAbsentOnes)
{
    TempHome home;
    SimpleDatabaseManager db;
    EXPECT_TRUE(applicationNames(db).isEmpty());
    int t = 0;
    for (const std::optional<QString> &app : std::initializer_list<std::optional<QString>> { "code", "Firefox",
             std::nullopt, "Émail", "firefox", "Zed", "Firefox", "code", "Firefox Beta", std::nullopt }) {
        ++t;
        ASSERT_TRUE(saveRecording(db, makeRecording(t, QStringLiteral("/p/%1.webp").arg(t), app)));
    }
    // Code-point order: upper case before lower case, non-ASCII last; a prefix before its extensions.
    EXPECT_EQ(applicationNames(db), QStringList({ "Firefox", "Firefox Beta", "Zed", "code", "firefox", "Émail" }));
}

TEST(DatabaseApplications, OneApplicationsRecordingsComeNewestFirstAndTiesLastStoredFirst)
{
    TempHome home;
    SimpleDatabaseManager db;
    // Three windows of one cycle (time 200) stored in an order that is neither the ids' order nor
    // its reverse, around recordings of other names.
    const Recording older = withId("99999999-0000-4000-8000-000000000000", 100, "/p/older.webp", "Firefox");
    const Recording tieFirst = withId("CCCCCCCC-0000-4000-8000-000000000000", 200, "/p/c.webp", "Firefox");
    const Recording tieSecond = withId("AAAAAAAA-0000-4000-8000-000000000000", 200, "/p/a.webp", "Firefox");
    const Recording tieThird = withId("BBBBBBBB-0000-4000-8000-000000000000", 200, "/p/b.webp", "Firefox");
    const Recording newest = withId("11111111-0000-4000-8000-000000000000", 300, "/p/new.webp", "Firefox");
    const Recording otherCase = makeRecording(250, "/p/lower.webp", QStringLiteral("firefox"));
    const Recording other = makeRecording(400, "/p/term.webp", QStringLiteral("Terminal"));
    const Recording unnamed = makeRecording(500, "/p/none.webp", std::nullopt);
    for (const Recording &r : { tieFirst, older, otherCase, tieSecond, other, unnamed, tieThird, newest })
        ASSERT_TRUE(saveRecording(db, r));
    // A row no recording can be made of takes its place in a page and is left out of it; a row
    // whose time is no number has no place in the order and is in no page.
    RawDatabase(dbPath(home))
        .exec("INSERT INTO recordings (id, timestamp, display_index, file_path, app_name) VALUES "
              "('not-a-uuid', 150, 0, '/p/bad.webp', 'Firefox'), "
              "('22222222-0000-4000-8000-000000000000', 'soon', 0, '/p/soon.webp', 'Firefox')");

    const QStringList expected
        = { newest.idText(), tieThird.idText(), tieSecond.idText(), tieFirst.idText(), older.idText() };
    // Page sizes: one row, splitting the tie, ending exactly on the bad row, all rows exactly, more.
    for (const auto &[limit, pages] :
        std::initializer_list<std::pair<int, int>> { { 1, 6 }, { 2, 3 }, { 3, 2 }, { 5, 2 }, { 6, 1 }, { 1000, 1 } }) {
        int counted = 0;
        EXPECT_EQ(ids(ofApplication(db, "Firefox", limit, &counted)), expected) << limit;
        EXPECT_EQ(counted, pages) << limit;
    }
    const RecordingPage first = pageOf(db, "Firefox", 2);
    ASSERT_EQ(first.recordings.size(), 2u);
    ASSERT_TRUE(first.next);
    EXPECT_EQ(first.next->timestamp, 200.0);
    // The form searchText gives.
    const Recording &found = first.recordings[0];
    EXPECT_EQ(found.localPath(), "/p/new.webp");
    EXPECT_EQ(secondsSince1970(found.timestamp), 300.0);
    EXPECT_EQ(found.appName, std::optional<QString>("Firefox"));
    EXPECT_EQ(found.windowTitle, std::optional<QString>("Window"));
    EXPECT_FALSE(found.thumbnailPath.has_value());
    EXPECT_FALSE(found.imageHash.has_value());

    // Replacing a row makes it the last stored of its time.
    ASSERT_TRUE(saveRecording(db, tieFirst));
    EXPECT_EQ(ids(ofApplication(db, "Firefox", 2)),
        QStringList({ newest.idText(), tieFirst.idText(), tieThird.idText(), tieSecond.idText(), older.idText() }));

    for (const QString &app : { QStringLiteral("FIREFOX"), QStringLiteral("Fire"), QStringLiteral("%"), QString() }) {
        const RecordingPage none = pageOf(db, app, 10);
        EXPECT_TRUE(none.recordings.empty()) << app.toStdString();
        EXPECT_FALSE(none.next) << app.toStdString();
    }
    EXPECT_EQ(ids(ofApplication(db, "firefox")), QStringList({ otherCase.idText() }));
}

TEST(DatabaseApplications, PagesSplitingOneCaptureTimeNeitherRepeatNorLoseARecording)
{
    TempHome home;
    SimpleDatabaseManager db;
    // 60 recordings of one application at four capture times, 25 of them at one time, stored in
    // a scrambled order; the expected order is by time, then by the order of storing, reversed.
    struct Stored {
        Recording recording;
        int order;
    };
    std::vector<Stored> stored;
    for (int i = 0; i < 60; ++i) {
        const int scrambled = (i * 37) % 60;
        const double time = scrambled < 25 ? 500 : scrambled < 45 ? 400 : scrambled < 55 ? 300 : 100;
        stored.push_back({ makeRecording(time, QStringLiteral("/p/%1.webp").arg(i), QStringLiteral("Kate")), i });
        ASSERT_TRUE(saveRecording(db, stored.back().recording));
        ASSERT_TRUE(saveRecording(db, makeRecording(time, QStringLiteral("/q/%1.webp").arg(i), "Okular")));
    }
    std::sort(stored.begin(), stored.end(), [](const Stored &a, const Stored &b) {
        return a.recording.timestamp != b.recording.timestamp ? a.recording.timestamp > b.recording.timestamp
                                                              : a.order > b.order;
    });
    QStringList expected;
    for (const Stored &s : stored)
        expected << s.recording.idText();

    for (const auto &[limit, pages] : std::initializer_list<std::pair<int, int>> {
             { 1, 60 }, { 7, 9 }, { 13, 5 }, { 24, 3 }, { 59, 2 }, { 60, 1 }, { 61, 1 } }) {
        int counted = 0;
        const QStringList found = ids(ofApplication(db, "Kate", limit, &counted));
        EXPECT_EQ(found, expected) << limit;
        EXPECT_EQ(counted, pages) << limit;
    }

    // A cursor names a place, not a count: what is saved or deleted before it does not shift the
    // pages after it, and a recording saved later at the cursor's own time sorts before it.
    const RecordingPage first = pageOf(db, "Kate", 13);
    ASSERT_TRUE(first.next);
    EXPECT_EQ(first.next->timestamp, 500.0);
    ASSERT_EQ(deleteRows(db, { first.recordings[0].id, first.recordings[5].id }), 2);
    ASSERT_TRUE(saveRecording(db, makeRecording(600, "/p/newer.webp", QStringLiteral("Kate"))));
    ASSERT_TRUE(saveRecording(db, makeRecording(500, "/p/same-time.webp", QStringLiteral("Kate"))));
    QStringList rest;
    for (std::optional<RecordingPageCursor> after = first.next; after;) {
        const RecordingPage page = pageOf(db, "Kate", 13, after);
        rest += ids(page.recordings);
        after = page.next;
    }
    EXPECT_EQ(rest, expected.mid(13));

    LogCapture log;
    for (const int limit : { 0, -1, std::numeric_limits<int>::min() }) {
        const RecordingPage refused = pageOf(db, "Kate", limit, first.next);
        EXPECT_TRUE(refused.recordings.empty()) << limit;
        EXPECT_FALSE(refused.next) << limit;
        EXPECT_TRUE(
            log.contains(QStringLiteral("ERROR recordingsOfApplication: Page size %1 is not positive").arg(limit)));
    }
}

TEST(DatabaseApplications, PagesReadTheApplicationIndexBackwardsWithoutASort)
{
    TempHome home;
    {
        SimpleDatabaseManager db;
        ASSERT_TRUE(saveRecording(db, makeRecording(1, "/p/a.webp")));
        db.waitUntilIdle();
    }
    RawDatabase raw(dbPath(home));
    // Both pages: one backward stretch of (app_name, timestamp, rowid) and a rowid lookup per row
    // read. No "USE TEMP B-TREE" line: nothing is sorted, so a page costs its own rows only.
    for (const char *statement : { sql::kFirstApplicationPage, sql::kLaterApplicationPage })
        EXPECT_EQ(queryPlan(raw, statement),
            QStringList({ "SEARCH recordings USING INDEX idx_recordings_app_time (app_name=? AND timestamp<?)" }))
            << statement;
}

TEST(DatabaseApplications, ASyntheticHistoryAnswersWhatWasWritten)
{
    TempHome home;
    SyntheticHistoryOptions options;
    options.recordings = 3000;
    const std::optional<SyntheticHistory> history = writeSyntheticHistory(options);
    ASSERT_TRUE(history);
    // The file exists now: a second history is refused rather than mixed in.
    EXPECT_FALSE(writeSyntheticHistory(options));

    SimpleDatabaseManager db;
    QStringList expectedNames;
    for (const auto &[name, count] : history->perApplication)
        expectedNames << name;
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(applicationNames(db), expectedNames);
    EXPECT_GT(history->withoutApplication, 0);

    TimePoint newest {};
    for (const auto &[name, count] : history->perApplication) {
        const std::vector<Recording> found = ofApplication(db, name, 97); // pages end inside cycles
        ASSERT_EQ(static_cast<int>(found.size()), count) << name.toStdString();
        for (size_t i = 1; i < found.size(); ++i)
            ASSERT_GE(found[i - 1].timestamp, found[i].timestamp);
        newest = std::max(newest, found.front().timestamp);
    }
    EXPECT_EQ(newest, history->newest);
    for (const QString &word : syntheticWords()) {
        const auto planted = history->withWord.count(word) ? static_cast<size_t>(history->withWord.at(word)) : 0;
        EXPECT_EQ(search(db, word).size(), std::min<size_t>(planted, 100)) << word.toStdString();
    }
}

TEST(DatabaseFileSize, MatchesTheNameLiterallyAndOnlyAsAWholeLastComponent)
{
    TempHome home;
    SimpleDatabaseManager db;
    const Recording target = makeRecording(1, "/s/2025/01/01/10/20250101_100000_App.webp");
    const Recording longer = makeRecording(2, "/s/2025/01/01/10/X20250101_100000_App.webp");
    const Recording wildcardTwin = makeRecording(3, "/s/2025/01/01/10/20250101X100000_App.webp");
    const Recording upper = makeRecording(4, "/s/2025/01/01/10/20250101_100000_APP.webp");
    const Recording mounted = makeRecording(5, "/mnt/s/2025/01/01/10/20250101_100000_APP.webp");
    for (const Recording &r : { target, longer, wildcardTwin, upper, mounted })
        ASSERT_TRUE(saveRecording(db, r, std::nullopt, 100));

    EXPECT_TRUE(updateSize(db, "20250101_100000_App.webp", 42));
    EXPECT_TRUE(updateSize(db, "/s/2025/01/01/10/20250101_100000_APP.webp", 43));
    EXPECT_TRUE(updateSize(db, "/s/2025/01/01/10/X20250101_100000_App.webp", 44));
    EXPECT_FALSE(updateSize(db, "10/20250101_100000_APP.webp", 1)); // neither a name nor a whole path
    EXPECT_FALSE(updateSize(db, "%", 1));
    EXPECT_FALSE(updateSize(db, "App.webp", 1));
    EXPECT_FALSE(updateSize(db, "", 1));
    EXPECT_FALSE(updateSize(db, "/s/2025/01/01/10/", 1));

    RawDatabase raw(dbPath(home));
    EXPECT_EQ(raw.strings("SELECT file_size FROM recordings ORDER BY timestamp"),
        QStringList({ "42", "44", "100", "43", "100" }));
}

TEST(DatabaseDeletion, DeletingRecordingsRemovesTheirTextAndOnlyThem)
{
    TempHome home;
    SimpleDatabaseManager db;
    const Recording a = makeRecording(1, "/p/a.webp");
    const Recording b = makeRecording(2, "/p/b.webp");
    for (const Recording &r : { a, b }) {
        ASSERT_TRUE(saveRecording(db, r));
        db.saveOCRText(r.id, "shared words", r.timestamp);
    }
    EXPECT_EQ(deleteRows(db, { a.id, QUuid::createUuid() }), 1);
    EXPECT_EQ(ids(search(db, "shared")), QStringList({ b.idText() }));
    RawDatabase raw(dbPath(home));
    EXPECT_EQ(raw.integer("SELECT count(*) FROM ocr_text"), 1);
}

TEST(DatabaseDeletion, DeleteAllDataEmptiesBothTablesAndResetRecreatesTheFile)
{
    TempHome home;
    LogCapture log;
    SimpleDatabaseManager db;
    const Recording a = makeRecording(1, "/p/a.webp");
    ASSERT_TRUE(saveRecording(db, a));
    db.saveOCRText(a.id, "words", a.timestamp);
    db.deleteAllData();
    db.waitUntilIdle();
    EXPECT_TRUE(log.contains("All database data deleted successfully"));
    {
        RawDatabase raw(dbPath(home));
        EXPECT_EQ(raw.integer("SELECT count(*) FROM recordings") + raw.integer("SELECT count(*) FROM ocr_text"), 0);
    }

    ASSERT_TRUE(saveRecording(db, a));
    {
        QFile journal(dbPath(home) + "-journal");
        ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
    }
    log.clear();
    db.resetDatabase();
    // Operations queued behind the reset see the new, empty file.
    EXPECT_FALSE(exists(db, a.id));
    EXPECT_TRUE(db.isOpen());
    EXPECT_TRUE(log.contains("Database reset completed"));
    EXPECT_EQ(log.linesStartingWith("Successfully added").size(), 2);
    // The text index is built by a task queued behind the open; let it finish before looking at the file.
    db.waitUntilIdle();
    EXPECT_FALSE(QFile::exists(dbPath(home) + "-journal"));
    EXPECT_EQ(mode(dbPath(home)), 0600);
    RawDatabase raw(dbPath(home));
    EXPECT_EQ(raw.columns("recordings"), kFullColumns);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM recordings"), 0);
}

TEST(DatabaseDiagnostics, DumpListsTextsAndRecordingsNewestFirst)
{
    TempHome home;
    SimpleDatabaseManager db;
    const Recording a = makeRecording(0, "/p/a.webp");
    ASSERT_TRUE(saveRecording(db, a));
    db.saveOCRText(a.id, "", fromSecondsSince1970(86400));
    db.saveOCRText(a.id, "hello", fromSecondsSince1970(86401));
    db.waitUntilIdle();
    LogCapture log;
    log::setVerbose(false); // the dump prints whatever the verbosity
    db.debugPrintAllOCRTexts();
    db.waitUntilIdle();
    const QStringList lines = log.lines();
    const QStringList expected = { "=== OCR Texts in Database ===", "[1] Recording ID: " + a.idText(),
        "Timestamp: 1970-01-02 00:00:01 +0000", "Column type: 3 (3=TEXT, 4=BLOB, 5=NULL)", "Byte count: 5",
        "Text length: 5 characters", "Text isEmpty: false", "Text preview: hello...", "[2] Recording ID: " + a.idText(),
        "Timestamp: 1970-01-02 00:00:00 +0000", "Column type: 3 (3=TEXT, 4=BLOB, 5=NULL)", "Byte count: 0",
        "Text length: 0 characters", "Text isEmpty: true", "Text is empty string", "=== Recordings in Database ===",
        "[1] ID: " + a.idText() + ", Time: 1970-01-01 00:00:00 +0000, Path: /p/a.webp", "=== End Debug Output ===" };
    EXPECT_EQ(lines, expected);
}

TEST(DatabaseConcurrency, CallersOnSeveralThreadsAllLandInOneConsistentFile)
{
    TempHome home;
    SimpleDatabaseManager db;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25;
    std::atomic<int> saved { 0 };
    std::atomic<int> searched { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const Recording r = makeRecording(t * 1000 + i, QStringLiteral("/p/%1_%2.webp").arg(t).arg(i));
                db.saveRecordingWithDeltaFrame(r, QStringLiteral("h%1_%2").arg(t).arg(i), 1, false, std::nullopt,
                    std::nullopt, [&](bool ok) { saved += ok ? 1 : 0; });
                // Submitted after the row, so it runs after it: the text is never refused.
                db.saveOCRText(r.id, QStringLiteral("thread%1 item").arg(t), r.timestamp);
                db.searchText("item", std::nullopt, [&](std::vector<Recording>) { ++searched; });
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    db.waitUntilIdle();
    while (searched < kThreads * kPerThread)
        QCoreApplication::processEvents();
    EXPECT_EQ(saved, kThreads * kPerThread);
    EXPECT_EQ(search(db, "thread2 item").size(), static_cast<size_t>(kPerThread));
    EXPECT_EQ(search(db, "item").size(), 100u);
    RawDatabase raw(dbPath(home));
    EXPECT_EQ(raw.integer("SELECT count(*) FROM ocr_text"), kThreads * kPerThread);
    EXPECT_EQ(raw.strings("PRAGMA integrity_check"), QStringList({ "ok" }));
}
