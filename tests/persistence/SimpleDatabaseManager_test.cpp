#include "persistence/DatabaseTestSupport.h"
#include "runtime/MainThread.h"

using namespace pellux;
using namespace pellux::test;

namespace {

const QStringList kFullColumns = { "id", "timestamp", "display_index", "file_path", "app_name", "window_title",
    "image_hash", "file_size", "compression_ratio", "is_delta_frame", "reference_hash" };
const QStringList kAllIndexes = { "idx_ocr_recording", "idx_recordings_app_time", "idx_recordings_hash",
    "idx_recordings_reference_hash", "idx_recordings_timestamp" };

RecordingPage pageOf(
    SimpleDatabaseManager &db, const QString &app, int limit, std::optional<RecordingPageCursor> after = std::nullopt)
{
    return awaitCompletion<RecordingPage>([&](auto done) { db.recordingsOfApplication(app, limit, after, done); });
}

// Follows `next` from the page after `after` (the first without) to the last; `pages` counts them.
QStringList ofApplication(SimpleDatabaseManager &db, const QString &app, int limit, int *pages = nullptr,
    std::optional<RecordingPageCursor> after = std::nullopt)
{
    QStringList all;
    for (int page = 1; page < 1000; ++page) {
        const RecordingPage answer = pageOf(db, app, limit, after);
        EXPECT_LE(answer.recordings.size(), static_cast<size_t>(limit));
        all += ids(answer.recordings);
        if (!(after = answer.next)) {
            if (pages)
                *pages = page;
            break;
        }
    }
    return all;
}

} // namespace

TEST(DatabaseOpening, CreatesOrMigratesPrivateFilesToTheFullSchemaOnce)
{
    const QStringList older = { "id TEXT PRIMARY KEY", "timestamp REAL NOT NULL", "display_index INTEGER NOT NULL",
        "file_path TEXT NOT NULL", "app_name TEXT", "window_title TEXT", "image_hash TEXT", "file_size INTEGER",
        "compression_ratio REAL" };
    // The columns of an older file (none: no file), and how many of the full list it has.
    const std::pair<QStringList, int> layouts[] = { { {}, 9 }, { older, 9 }, { older.mid(0, 4), 4 } };
    for (const auto &[columns, present] : layouts) {
        SCOPED_TRACE(present);
        TempHome home;
        if (!columns.isEmpty()) {
            RawDatabase old(databaseFile(home), true);
            old.exec("CREATE TABLE recordings (" + columns.join(", ") + ")");
            old.exec("CREATE TABLE ocr_text (id INTEGER PRIMARY KEY AUTOINCREMENT, recording_id TEXT NOT NULL, "
                     "text TEXT NOT NULL, timestamp REAL NOT NULL)");
            old.exec("INSERT INTO recordings (id, timestamp, display_index, file_path) VALUES "
                     "('11111111-2222-3333-4444-555555555555', 100, 0, '/old/a.webp')");
            old.exec("INSERT INTO ocr_text (recording_id, text, timestamp) VALUES "
                     "('11111111-2222-3333-4444-555555555555', 'old text', 1)");
            // The application index of an earlier build gives way.
            old.exec("CREATE INDEX idx_recordings_app_browse ON recordings(id, timestamp)");
        }
        LogCapture log(LogCapture::Verbosity::quiet); // without --verbose no DEBUG lines
        {
            SimpleDatabaseManager db;
            ASSERT_TRUE(db.isOpen());
            EXPECT_EQ(ids(search(db, "OLD TEXT")).size(), columns.isEmpty() ? 0 : 1);
        }
        EXPECT_EQ(log.linesStartingWith("Successfully added").size(), kFullColumns.size() - present);
        EXPECT_TRUE(log.linesStartingWith("DEBUG").isEmpty());
        EXPECT_TRUE(!columns.isEmpty() || modeOf(home.pelluxFolder()) == 0700);
        EXPECT_EQ(modeOf(databaseFile(home)), 0600);
        const RawDatabase raw(databaseFile(home));
        EXPECT_EQ(raw.strings("SELECT name FROM pragma_table_info('recordings')"), kFullColumns);
        EXPECT_EQ(raw.strings("SELECT name FROM sqlite_master WHERE type = 'index' AND name LIKE 'idx%' ORDER BY name"),
            kAllIndexes);
        log.clear();
        SimpleDatabaseManager again;
        EXPECT_TRUE(log.linesStartingWith("Successfully added").isEmpty());
    }
}

TEST_F(DatabaseTest, SavingWritesEveryColumnReplacesByIdAndLooksUp)
{
    Recording r = makeRecording(1'700'000'000.25, "/p/Term inal_1.webp", std::nullopt, QStringLiteral("tïtle"));
    ASSERT_EQ(
        writeRecording(db(), r, QStringLiteral("hash1"), 1234, true, QStringLiteral("ref1"), 3.5), RowWrite::written);
    const QString columns = "SELECT id || '|' || printf('%.2f', timestamp) || '|' || file_path || '|' || "
                            "ifnull(app_name, 'NULL') || '|' || window_title || '|' || ifnull(image_hash, 'NULL') "
                            "|| '|' || file_size || '|' || is_delta_frame || '|' || ifnull(reference_hash, 'NULL') "
                            "|| '|' || ifnull(compression_ratio, 'NULL') FROM recordings";
    EXPECT_EQ(raw().strings(columns),
        QStringList { r.idText() + "|1700000000.25|/p/Term inal_1.webp|NULL|tïtle|hash1|1234|1|ref1|3.5" });
    bool onMain = false;
    const auto byHash = [&](const QString &hash) {
        return awaitCompletion<std::optional<QString>>([&](auto done) {
            db().getScreenshotByHash(hash, [&, done](std::optional<QString> path) {
                onMain = isMainThread();
                done(path);
            });
        });
    };
    EXPECT_EQ(byHash("hash1"), std::optional<QString>("/p/Term inal_1.webp"));
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(byHash("HASH1").has_value());

    r.filePath = QUrl::fromLocalFile("/p/second.webp");
    ASSERT_TRUE(saveRecording(db(), r));
    EXPECT_EQ(raw().strings(columns),
        QStringList { r.idText() + "|1700000000.25|/p/second.webp|NULL|tïtle|NULL|1000|0|NULL|NULL" });

    // Text is stored only for a recording that exists.
    db().saveOCRText(QUuid::createUuid(), "never stored", r.timestamp);
    db().waitUntilIdle();
    EXPECT_EQ(raw().integer("SELECT count(*) FROM ocr_text"), 0);
}

TEST_F(DatabaseTest, LateRecognitionIsStoredOnlyWhenSomethingWasInserted)
{
    using Outcome = SimpleDatabaseManager::RecognitionOutcome;
    using Save = SimpleDatabaseManager::LateRecognitionSave;
    const Recording withText = store(1, "captured text");
    const Recording bare = makeRecording(2, "/p/bare.webp");
    const Recording blank = makeRecording(3, "/p/blank.webp");
    for (const Recording &r : { bare, blank })
        ASSERT_TRUE(saveRecording(db(), r));
    const struct {
        QUuid id;
        Outcome outcome;
        QString text;
        Save saved;
    } cases[] = {
        { bare.id, Outcome::text, "late text", Save::stored },
        { bare.id, Outcome::text, "second text", Save::superseded }, // has text now
        { withText.id, Outcome::text, "doubled", Save::superseded },
        { blank.id, Outcome::noText, {}, Save::stored },
        { blank.id, Outcome::unreadable, {}, Save::superseded }, // an attempt is remembered once
        { QUuid::createUuid(), Outcome::text, "gone", Save::superseded },
        { QUuid::createUuid(), Outcome::noText, {}, Save::superseded },
    };
    for (const auto &c : cases) {
        const Save saved = awaitCompletion<Save>(
            [&](auto done) { db().saveLateRecognition(c.id, c.outcome, c.text, fromSecondsSince1970(1), done); });
        EXPECT_EQ(saved, c.saved) << c.text.toStdString();
    }
    EXPECT_EQ(ids(search(db(), "text")), QStringList({ bare.idText(), withText.idText() }));
    EXPECT_EQ(raw().strings("SELECT outcome FROM text_recognition_attempts"), QStringList { "no text" });
}

// Letter case, applications, order and the cap: the text index test's scan comparison.
TEST_F(DatabaseTest, ARowWithoutAUsableIdTakesItsPlaceAmongTheHundredAndIsLeftOut)
{
    db().waitUntilIdle();
    raw().exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150) "
               "INSERT INTO recordings (id, timestamp, display_index, file_path) "
               "SELECT printf('00000000-0000-0000-0000-%012d', i), 1000 + i, 0, '/p/' || i FROM n");
    raw().exec("INSERT INTO recordings (id, timestamp, display_index, file_path) VALUES ('not-a-uuid', 5000, 0, '/x')");
    raw().exec("INSERT INTO ocr_text (recording_id, text, timestamp) SELECT id, 'hit', 0 FROM recordings "
               "WHERE timestamp >= 1000");
    const std::vector<Recording> hits = search(db(), "hit");
    ASSERT_EQ(hits.size(), 99u);
    EXPECT_EQ(secondsSince1970(hits.front().timestamp), 1150.0);
    EXPECT_EQ(secondsSince1970(hits.back().timestamp), 1052.0);
}

TEST_F(DatabaseTest, ApplicationNamesAreDistinctInPlainCaseSensitiveOrder)
{
    const auto applicationNames
        = [&] { return awaitCompletion<ApplicationNames>([&](auto done) { db().applicationNames(done); }).names; };
    EXPECT_TRUE(applicationNames().isEmpty());
    for (const std::optional<QString> &app : std::initializer_list<std::optional<QString>> {
             "code", "Firefox", std::nullopt, "Émail", "firefox", "Zed", "Firefox", "Firefox Beta" })
        store(raw().integer("SELECT count(*) FROM recordings"), "words", app);
    EXPECT_EQ(applicationNames(), QStringList({ "Firefox", "Firefox Beta", "Zed", "code", "firefox", "Émail" }));
}

TEST_F(DatabaseTest, ApplicationPagesRunNewestFirstTiesLastStoredFirstAndNeverRepeatOrLose)
{
    // 60 recordings of one application at four capture times, 25 at one time, stored scrambled and
    // between recordings of other names; expected: by time, then by the order of storing, reversed.
    std::vector<std::pair<Recording, int>> stored;
    for (int i = 0; i < 60; ++i) {
        const int scrambled = (i * 37) % 60;
        const double time = scrambled < 25 ? 500 : scrambled < 45 ? 400 : scrambled < 55 ? 300 : 100;
        stored.emplace_back(makeRecording(time, QStringLiteral("/p/%1.webp").arg(i), QStringLiteral("Kate")), i);
        ASSERT_TRUE(saveRecording(db(), stored.back().first));
        ASSERT_TRUE(saveRecording(db(), makeRecording(time, QStringLiteral("/q/%1.webp").arg(i), "kate")));
    }
    std::sort(stored.begin(), stored.end(), [](const auto &a, const auto &b) {
        return a.first.timestamp != b.first.timestamp ? a.first.timestamp > b.first.timestamp : a.second > b.second;
    });
    QStringList expected;
    for (const auto &s : stored)
        expected << s.first.idText();
    // A row no recording can be made of takes its place in a page and is left out of it; a row
    // whose time is no number has no place in the order.
    raw().exec("INSERT INTO recordings (id, timestamp, display_index, file_path, app_name) VALUES "
               "('not-a-uuid', 450, 0, '/p/bad.webp', 'Kate'), "
               "('22222222-0000-4000-8000-000000000000', 'soon', 0, '/p/soon.webp', 'Kate')");
    for (const auto &[limit, pages] : std::initializer_list<std::pair<int, int>> {
             { 1, 61 }, { 7, 9 }, { 13, 5 }, { 24, 3 }, { 60, 2 }, { 61, 1 }, { 1000, 1 } }) {
        int counted = 0;
        EXPECT_EQ(ofApplication(db(), "Kate", limit, &counted), expected) << limit;
        EXPECT_EQ(counted, pages) << limit;
    }
    const RecordingPage first = pageOf(db(), "Kate", 13);
    ASSERT_TRUE(first.next);
    // A cursor names a place, not a count: what is saved or deleted before it does not shift the
    // pages after it, and a recording saved later at the cursor's own time sorts before it.
    ASSERT_EQ(deleteRows(db(), { first.recordings[0].id, first.recordings[5].id }), 2);
    ASSERT_TRUE(saveRecording(db(), makeRecording(600, "/p/newer.webp", QStringLiteral("Kate"))));
    ASSERT_TRUE(saveRecording(db(), makeRecording(500, "/p/same-time.webp", QStringLiteral("Kate"))));
    EXPECT_EQ(ofApplication(db(), "Kate", 13, nullptr, first.next), expected.mid(13));
    // Replacing a row makes it the last stored of its time.
    ASSERT_TRUE(saveRecording(db(), stored.back().first));
    QStringList oldest = expected.mid(55);
    oldest.prepend(oldest.takeLast());
    EXPECT_EQ(ofApplication(db(), "Kate", 1000).mid(55), oldest);

    for (const QString &app : { QStringLiteral("KATE"), QStringLiteral("Ka"), QStringLiteral("%"), QString() })
        EXPECT_TRUE(ofApplication(db(), app, 10).isEmpty()) << app.toStdString();
    for (const int limit : { 0, -1, std::numeric_limits<int>::min() }) {
        const RecordingPage refused = pageOf(db(), "Kate", limit, first.next);
        EXPECT_TRUE(refused.recordings.empty() && !refused.next) << limit;
    }
}

TEST_F(DatabaseTest, FileSizeMatchesTheNameLiterallyAndOnlyAsAWholeLastComponent)
{
    int t = 0;
    for (const char *path : { "/s/10/20250101_100000_App.webp", "/s/10/X20250101_100000_App.webp",
             "/s/10/20250101X100000_App.webp", "/s/10/20250101_100000_APP.webp", "/mnt/s/10/20250101_100000_APP.webp" })
        ASSERT_TRUE(saveRecording(db(), makeRecording(++t, path)));
    const auto updateSize = [&](const QString &path, qint64 size) {
        return awaitCompletion<bool>([&](auto done) { db().updateFileSize(path, size, done); });
    };
    EXPECT_TRUE(updateSize("20250101_100000_App.webp", 42));
    EXPECT_TRUE(updateSize("/s/10/20250101_100000_APP.webp", 43));
    EXPECT_TRUE(updateSize("/s/10/X20250101_100000_App.webp", 44));
    for (const char *refused : { "10/20250101_100000_APP.webp", "%", "App.webp", "", "/s/10/" })
        EXPECT_FALSE(updateSize(refused, 1)) << refused;
    EXPECT_EQ(raw().strings("SELECT file_size FROM recordings ORDER BY timestamp"),
        QStringList({ "42", "44", "1000", "43", "1000" }));
}

TEST_F(DatabaseTest, DeletionsRemoveTheirTextAndOnlyThemOrFailWithNothingRemoved)
{
    const Recording a = store(1, "shared words");
    const Recording b = store(2, "shared words");
    EXPECT_EQ(deleteRows(db(), { a.id, QUuid::createUuid() }), 1);
    EXPECT_EQ(ids(search(db(), "shared")), QStringList({ b.idText() }));
    EXPECT_EQ(raw().integer("SELECT count(*) FROM ocr_text"), 1);

    raw().exec("CREATE TRIGGER refuse BEFORE DELETE ON recordings BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_EQ(deleteRows(db(), { b.id }), SimpleDatabaseManager::kDeletionFailed);
    EXPECT_FALSE(awaitCompletion<bool>([&](auto done) { db().deleteAllData(done); }));
    EXPECT_EQ(ids(search(db(), "shared")), QStringList({ b.idText() }));

    raw().exec("DROP TRIGGER refuse");
    EXPECT_TRUE(awaitCompletion<bool>([&](auto done) { db().deleteAllData(done); }));
    EXPECT_EQ(raw().integer("SELECT count(*) FROM recordings") + raw().integer("SELECT count(*) FROM ocr_text"), 0);

    ASSERT_TRUE(saveRecording(db(), a));
    ASSERT_TRUE(writeAll(path() + "-journal", {}));
    EXPECT_TRUE(awaitCompletion<bool>([&](auto done) { db().resetDatabase(done); }));
    EXPECT_FALSE(exists(db(), a.id));
    EXPECT_TRUE(db().isOpen());
    db().waitUntilIdle(); // the text index is built behind the open
    EXPECT_FALSE(QFile::exists(path() + "-journal"));
    EXPECT_EQ(modeOf(path()), 0600);
    EXPECT_EQ(raw().strings("SELECT count(*) FROM pragma_table_info('recordings')"), QStringList { "11" });
}

TEST_F(DatabaseTest, CallersOnSeveralThreadsAllLandInOneConsistentFile)
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25;
    std::atomic<int> saved { 0 };
    SimpleDatabaseManager &database = db();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const Recording r = makeRecording(t * 1000 + i, QStringLiteral("/p/%1_%2.webp").arg(t).arg(i));
                database.saveRecordingWithDeltaFrame(r, std::nullopt, 1, false, std::nullopt, std::nullopt,
                    [&](RowWrite row) { saved += row == RowWrite::written ? 1 : 0; });
                // Submitted after the row, so it runs after it: the text is never refused.
                database.saveOCRText(r.id, QStringLiteral("thread%1 item").arg(t), r.timestamp);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    db().waitUntilIdle();
    EXPECT_EQ(saved, kThreads * kPerThread);
    EXPECT_EQ(search(db(), "thread2 item").size(), static_cast<size_t>(kPerThread));
    EXPECT_EQ(raw().integer("SELECT count(*) FROM ocr_text"), kThreads * kPerThread);
    EXPECT_EQ(raw().strings("PRAGMA integrity_check"), QStringList({ "ok" }));
}
