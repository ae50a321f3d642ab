// The text index must never change what a search returns: every case here runs the same query
// through the index and through the plain statement and expects the same recordings in the same
// order.

#include "persistence/DatabaseTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

using namespace pellux;
using namespace pellux::test;

namespace {

const QStringList kWords = { "alpha", "Beta", "GAMMA", "delta", "Straße", "STRASSE", "Äpfel", "äpfel", "100%", "a_b",
    "x_y%z", "naïve", "NAÏVE", "日本語テキスト", "emoji😀text", "quote\"d", "ab", "AB", "make", "MAKE", "install",
    "Ünïcödé", "ÜNÏCÖDÉ", "ǅemal", "back\\slash", "tab\tbed", "o'clock" };

const QStringList kApps = { "Terminal", "terminal", "Firefox", "FIREFOX", "Ärger App", "ärger app", "" };

const QStringList kQueries = { "alpha", "ALPHA", "common", "COMMON", "omm", "co", "c", "", "%", "_", "__", "%%%", "a_b",
    "A_B", "100%", "0%", "%pha", "al%ha", "al_ha", "alp_a", "straße", "STRASSE", "strasse", "äpfel", "Äpfel", "ÄPFEL",
    "pfel", "naïve", "NAÏVE", "naÏve", "日本語", "本語テ", "😀te", "ji😀", "quote\"d", "\"", "\"d", "nothing-here",
    "ha Be", "a Beta", "MAKE install", "make", "ünïcödé", "ÜNÏCÖDÉ", "ǆemal", "ǅemal", "back\\slash", "h\\s", "tab\tb",
    "o'clock", "'cl", "x_y%z", "y%z", "common %", "% common" };

// Writes recordings and text in one transaction through a plain connection.
class Generator {
public:
    explicit Generator(RawDatabase &raw, unsigned seed)
        : m_raw(raw)
        , m_random(seed)
    {
    }

    // `count` recordings whose capture times are all different but inserted in a shuffled order,
    // some less than a millisecond apart and several within one second.
    QStringList addRecordings(int count, double firstTime)
    {
        std::vector<int> order(static_cast<size_t>(count));
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), m_random);
        QStringList ids;
        m_raw.exec("BEGIN");
        for (int i : order) {
            const double time = firstTime + (i / 3) * 1.5 + (i % 3) * 0.0002;
            const QString id = uuidText(QUuid::createUuid());
            ids << id;
            const QString app = kApps[pick(kApps.size())];
            insertRecording(id, time, app.isEmpty() ? std::nullopt : std::optional(app));
            const int texts = 1 + pick(4);
            for (int t = 0; t < texts; ++t)
                insertText(id, sentence());
        }
        m_raw.exec("COMMIT");
        return ids;
    }

    // One capture cycle of `windows` windows, all stamped with the cycle's time (hundreds of texts
    // in one second), their text rows arriving in the reverse order.
    void addCycle(int windows, double time)
    {
        QStringList ids;
        m_raw.exec("BEGIN");
        for (int window = 0; window < windows; ++window) {
            ids << uuidText(QUuid::createUuid());
            insertRecording(ids.last(), time, kApps[window % 2]);
        }
        for (int window = windows - 1; window >= 0; --window)
            insertText(ids[window], sentence());
        m_raw.exec("COMMIT");
    }

    void insertRecording(const QString &id, double time, const std::optional<QString> &app)
    {
        m_raw.run("INSERT OR REPLACE INTO recordings (id, timestamp, display_index, file_path, app_name, window_title) "
                  "VALUES (?, ?, 0, ?, ?, 'w')",
            { id, time, "/p/" + id + ".webp", app ? QVariant(*app) : QVariant() });
    }

    void insertText(const QString &recordingId, const QString &text)
    {
        m_raw.run("INSERT INTO ocr_text (recording_id, text, timestamp) VALUES (?, ?, 0)", { recordingId, text });
    }

    QString sentence()
    {
        QStringList words;
        const int n = 2 + pick(6);
        for (int i = 0; i < n; ++i)
            words << kWords[pick(kWords.size())];
        // Most texts share one word, so that searches for it hit far more than 100 recordings.
        if (pick(10) < 7)
            words.insert(pick(words.size() + 1), pick(2) ? "common" : "Common");
        return words.join(' ');
    }

    int pick(qsizetype n) { return static_cast<int>(std::uniform_int_distribution<qsizetype>(0, n - 1)(m_random)); }

private:
    RawDatabase &m_raw;
    std::mt19937 m_random;
};

// Runs every query (with and without each application filter) both ways and compares.
void expectSameAnswers(SimpleDatabaseManager &db, const QString &stage)
{
    QStringList apps = kApps;
    apps << "nonexistent";
    int compared = 0;
    int capped = 0;
    for (const QString &query : kQueries) {
        for (int a = -1; a < apps.size(); a += (query.size() % 3) + 1) {
            const std::optional<QString> app = a < 0 ? std::nullopt : std::optional(apps[a]);
            db.setTextIndexEnabled(false);
            const std::vector<Recording> plain = search(db, query, app);
            db.setTextIndexEnabled(true);
            const std::vector<Recording> indexed = search(db, query, app);
            ASSERT_EQ(ids(indexed), ids(plain)) << stage.toStdString() << ": query '" << query.toStdString()
                                                << "' app '" << app.value_or("-").toStdString() << "'";
            for (size_t i = 0; i < plain.size(); ++i) {
                EXPECT_EQ(secondsSince1970(indexed[i].timestamp), secondsSince1970(plain[i].timestamp));
                EXPECT_EQ(indexed[i].appName, plain[i].appName);
                EXPECT_EQ(indexed[i].localPath(), plain[i].localPath());
            }
            ++compared;
            capped += plain.size() == 100 ? 1 : 0;
        }
    }
    EXPECT_GT(compared, 100);
    EXPECT_GT(capped, 10) << "the data should make many searches hit the cap";
}

void createOldFile(const QString &path)
{
    RawDatabase raw(path, true);
    raw.exec("CREATE TABLE recordings (id TEXT PRIMARY KEY, timestamp REAL NOT NULL, display_index INTEGER NOT NULL, "
             "file_path TEXT NOT NULL, app_name TEXT, window_title TEXT, image_hash TEXT, file_size INTEGER, "
             "compression_ratio REAL)");
    raw.exec("CREATE TABLE ocr_text (id INTEGER PRIMARY KEY AUTOINCREMENT, recording_id TEXT NOT NULL, text TEXT NOT "
             "NULL, timestamp REAL NOT NULL, FOREIGN KEY (recording_id) REFERENCES recordings(id) ON DELETE CASCADE)");
}

} // namespace

TEST_F(DatabaseTest, IndexedAnswersEqualThePlainStatementAcrossBuildUpdatesAndDeletes)
{
    createOldFile(path());
    QStringList firstIds;
    {
        RawDatabase raw(path());
        Generator generator(raw, 1);
        firstIds = generator.addRecordings(900, 1'700'000'000.0);
        generator.addCycle(300, 1'700'000'500.0);
        // Text of a recording that no longer exists (written without foreign keys).
        generator.insertText(uuidText(QUuid::createUuid()), "common alpha orphan");
        raw.exec(
            "INSERT INTO recordings (id, timestamp, display_index, file_path) VALUES ('not-a-uuid', 1800000000, 0, "
            "'/p/bad')");
        generator.insertText("not-a-uuid", "common alpha");
    }
    SimpleDatabaseManager &db = this->db();
    ASSERT_TRUE(db.isOpen());
    db.waitUntilIdle();
    RawDatabase raw(path());
    EXPECT_EQ(raw.integer("SELECT complete FROM ocr_text_search_state"), 1);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM ocr_text_search_keys"),
        raw.integer("SELECT count(*) FROM ocr_text o JOIN recordings r ON r.id = o.recording_id"));
    expectSameAnswers(db, "after the build");

    // Rows written after the build, by another connection: the triggers keep the index in step.
    Generator generator(raw, 2);
    const QStringList laterIds = generator.addRecordings(400, 1'699'999'000.0);
    generator.addCycle(300, 1'700'000'800.0);
    EXPECT_EQ(raw.integer("SELECT complete FROM ocr_text_search_state"), 1);
    expectSameAnswers(db, "after more rows");

    raw.exec("BEGIN");
    for (int i = 0; i < 150; ++i)
        raw.exec(QStringLiteral("DELETE FROM recordings WHERE id = '%1'").arg(firstIds[i]));
    for (int i = 150; i < 200; ++i)
        raw.exec(QStringLiteral("UPDATE recordings SET timestamp = timestamp - 5000 WHERE id = '%1'").arg(firstIds[i]));
    for (int i = 200; i < 250; ++i)
        raw.exec(QStringLiteral("UPDATE ocr_text SET text = 'common replaced ALPHA' WHERE recording_id = '%1'")
                     .arg(firstIds[i]));
    // Saving an id again replaces the row; on this connection (no foreign keys) its text stays and
    // moves with it to the new time.
    for (int i = 250; i < 260; ++i)
        generator.insertRecording(firstIds[i], 1'900'000'000.0 + i, QStringLiteral("Terminal"));
    raw.exec("COMMIT");
    std::vector<QUuid> gone;
    for (int i = 0; i < 100; ++i)
        gone.push_back(QUuid::fromString(laterIds[i]));
    EXPECT_EQ(awaitCompletion<int>([&](auto done) { db.deleteRecordings(gone, done); }), 100);
    expectSameAnswers(db, "after deletes and updates");
    EXPECT_EQ(raw.integer("SELECT count(*) FROM ocr_text_search_keys"),
        raw.integer("SELECT count(*) FROM ocr_text o JOIN recordings r ON r.id = o.recording_id"));
    raw.exec("INSERT INTO ocr_text_search (ocr_text_search) VALUES ('integrity-check')");

    EXPECT_TRUE(awaitCompletion<bool>([&](auto done) { db.deleteAllData(done); }));
    EXPECT_EQ(raw.integer("SELECT count(*) FROM ocr_text_search_keys"), 0);
    EXPECT_TRUE(search(db, "common").empty());
    const Recording fresh = makeRecording(5, "/p/fresh.webp");
    ASSERT_TRUE(saveRecording(db, fresh));
    db.saveOCRText(fresh.id, "common again", fresh.timestamp);
    EXPECT_EQ(ids(search(db, "COMMON")), QStringList({ fresh.idText() }));
}

// An index of an earlier key layout is built afresh at open; until then searches read every text.
TEST_F(DatabaseTest, AnIndexOfAnEarlierLayoutIsRebuilt)
{
    const Recording r = store(10, "layout words");
    db().waitUntilIdle();
    close();
    raw().exec("UPDATE ocr_text_search_state SET layout = 3");
    raw().exec("UPDATE ocr_text_search_keys SET key = key >> 12");
    EXPECT_EQ(ids(search(reopen(SimpleDatabaseManager::OpenMode::readOnly), "layout")), QStringList { r.idText() });
    reopen().waitUntilIdle();
    EXPECT_EQ(raw().strings("SELECT layout || ' ' || complete FROM ocr_text_search_state"), QStringList { "5 1" });
    EXPECT_EQ(raw().integer("SELECT key >> 20 FROM ocr_text_search_keys"), 10);
    EXPECT_EQ(ids(search(db(), "layout")), QStringList { r.idText() });
}

TEST_F(DatabaseTest, SearchesAreAnsweredByTheIndexWhenItCan)
{
    const Recording r = makeRecording(10, "/p/a.webp");
    ASSERT_TRUE(saveRecording(db(), r));
    {
        // A row the index never hears about shows whether a search consulted it.
        RawDatabase raw(path());
        raw.exec("DROP TRIGGER ocr_text_search_after_insert");
        Generator(raw, 4).insertText(r.idText(), "hidden words");
    }
    EXPECT_TRUE(search(db(), "hidden").empty());
    EXPECT_EQ(ids(search(db(), "hi")), QStringList({ r.idText() })); // too short for the index
    db().setTextIndexEnabled(false);
    EXPECT_EQ(ids(search(db(), "hidden")), QStringList({ r.idText() }));
}

TEST_F(DatabaseTest, CaptureTimesThatAreNoNumbersFallBackToThePlainStatement)
{
    const Recording r = store(10, "common text");
    db().waitUntilIdle();
    {
        RawDatabase raw(path());
        raw.exec("INSERT INTO recordings (id, timestamp, display_index, file_path) VALUES "
                 "('11111111-2222-3333-4444-555555555555', 'yesterday', 0, '/p/text-time')");
        raw.exec("INSERT INTO ocr_text (recording_id, text, timestamp) VALUES "
                 "('11111111-2222-3333-4444-555555555555', 'common', 0)");
    }
    // SQLite sorts text after every number, so the row with the text time comes first.
    EXPECT_EQ(ids(search(db(), "common")), QStringList({ "11111111-2222-3333-4444-555555555555", r.idText() }));
}
