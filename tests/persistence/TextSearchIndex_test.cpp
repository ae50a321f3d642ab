// Searches must answer what a scan of the folded text, titles and application names answers,
// through the text index and through the plain statement alike, however the index came to hold its
// entries.

#include "persistence/DatabaseTestSupport.h"
#include "persistence/SearchFolding.h"

using namespace pellux;
using namespace pellux::test;

namespace {

const QStringList kWords = { "alpha", "Beta", "GAMMA", "delta", "Straße", "STRASSE", "Äpfel", "äpfel", "100%", "a_b",
    "x_y%z", "naïve", "NAÏVE", "日本語テキスト", "emoji😀text", "quote\"d", "ab", "AB", "make", "MAKE", "install",
    "Ünïcödé", "ÜNÏCÖDÉ", "ǅemal", "back\\slash", "tab\tbed", "o'clock", "reconcile_segments", "reconcile  segments",
    "\u2018quoted\u2019", "\u201cdouble\u201d", "\ufb01le", "en\u2013dash", "apparmor,d", "04;38", "a.b" };

const QStringList kApps = { "Terminal", "terminal", "Firefox", "FIREFOX", "Ärger App", "ärger app", "" };
const QStringList kTitles = { "work_shell", "Report, draft \u2014 Editor", "", "Inbox (3)", "alpha notes" };

const QStringList kQueries = { "alpha", "ALPHA", "common", "COMMON", "omm", "co", "c", "", "%", "_", "__", "%%%", "a_b",
    "A_B", "100%", "0%", "%pha", "al%ha", "al_ha", "alp_a", "straße", "STRASSE", "strasse", "äpfel", "Äpfel", "ÄPFEL",
    "pfel", "naïve", "NAÏVE", "naÏve", "日本語", "本語テ", "😀te", "ji😀", "quote\"d", "\"", "\"d", "nothing-here",
    "ha Be", "a Beta", "MAKE install", "make", "ünïcödé", "ÜNÏCÖDÉ", "ǆemal", "ǅemal", "back\\slash", "h\\s", "tab\tb",
    "o'clock", "'cl", "x_y%z", "y%z", "common %", "% common", "reconcile segments", "reconcile_segments", "e_s",
    "'quoted'", "\"double\"", "file", "fi", "en-dash", "apparmor.d", "04:38", "a,b", "work shell", "report. draft - ed",
    "inbox", "ärger", "terMINAL", "_", "  " };

// Sentences of the words above; most share the word "common", so that searches for it hit far
// more than 100 recordings.
QStringList generatedTexts(int count, unsigned seed)
{
    std::mt19937 random(seed);
    const auto pick = [&](qsizetype n) { return int(std::uniform_int_distribution<qsizetype>(0, n - 1)(random)); };
    QStringList texts;
    while (texts.size() < count) {
        QStringList words;
        for (int i = 2 + pick(6); i > 0; --i)
            words << kWords[pick(kWords.size())];
        if (pick(10) < 7)
            words.insert(pick(words.size() + 1), pick(2) ? "common" : "Common");
        texts << words.join(' ');
    }
    return texts;
}

QString asciiLower(QString text)
{
    for (QChar &c : text)
        c = c >= u'A' && c <= u'Z' ? QChar(c.unicode() + 32) : c;
    return text;
}

struct StoredText {
    QString id;
    double time;
    std::optional<QString> app;
    QString title;
    QString text;
};

// Every text of a recording (or none), newest first and the last stored first among equal times.
std::vector<StoredText> readStoredTexts(const RawDatabase &raw)
{
    sql::Statement select(raw.handle(),
        "SELECT r.id, r.timestamp, r.app_name, r.window_title, o.text FROM recordings r "
        "LEFT JOIN ocr_text o ON o.recording_id = r.id ORDER BY r.timestamp DESC, r.rowid DESC");
    std::vector<StoredText> stored;
    while (select.step() == SQLITE_ROW)
        stored.push_back({ *select.text(0), select.real(1), select.text(2), select.text(3).value_or(QString()),
            select.text(4).value_or(QString()) });
    return stored;
}

// A recording in an answer: its id, capture time and application.
QString row(const QString &id, double time, const std::optional<QString> &app)
{
    return QStringLiteral("%1 %2 %3").arg(id).arg(time, 0, 'f', 4).arg(app.value_or("-"));
}

// The first 100 recordings whose folded text, title or application name holds the folded query,
// ASCII letters ignoring case, of the application if one is given (its name alike).
QStringList scan(const std::vector<StoredText> &stored, const QString &query, const std::optional<QString> &app)
{
    const auto folded = [](const QString &text) { return asciiLower(search_folding::fold(text)); };
    const QString wanted = folded(query);
    QStringList found;
    for (const StoredText &s : stored) {
        const bool ofApp = !app || (s.app && asciiLower(*s.app) == asciiLower(*app));
        const bool inText = folded(s.text).contains(wanted);
        // What the viewer and the snippets mark must be what search found.
        if (!wanted.trimmed().isEmpty()) {
            EXPECT_EQ(inText, !search_folding::occurrences(s.text, query).empty())
                << s.text.toStdString() << " / " << query.toStdString();
        }
        const bool holds
            = inText || folded(s.title).contains(wanted) || folded(s.app.value_or(QString())).contains(wanted);
        const QString recording = row(s.id, s.time, s.app);
        if (ofApp && holds && !found.contains(recording) && found.size() < 100)
            found << recording;
    }
    return found;
}

// Runs every query (with a spread of application filters) through the index and the plain
// statement and compares both with the scan.
void expectAnswersOfAScan(
    SimpleDatabaseManager &db, const RawDatabase &raw, const QStringList &queries, const char *stage)
{
    SCOPED_TRACE(stage);
    const std::vector<StoredText> stored = readStoredTexts(raw);
    EXPECT_EQ(raw.integer("SELECT complete FROM ocr_text_search_state"), 1);
    EXPECT_EQ(raw.integer("SELECT count(*) FROM ocr_text_search_keys"),
        raw.integer("SELECT count(*) FROM ocr_text o JOIN recordings r ON r.id = o.recording_id"));
    EXPECT_EQ(raw.integer("SELECT count(*) FROM title_search_keys"), raw.integer("SELECT count(*) FROM recordings"));
    const QStringList apps = kApps + QStringList { "nonexistent", "Termina" };
    for (const QString &query : queries) {
        for (int a = -1; a < apps.size(); a += (query.size() % 3) + 1) {
            const std::optional<QString> app = a < 0 ? std::nullopt : std::optional(apps[a]);
            const QStringList expected = scan(stored, query, app);
            // The snippets and text keys too: the index's walk hands over the text it matched.
            QStringList hitsOf[2];
            for (const bool indexed : { true, false }) {
                db.setTextIndexEnabled(indexed);
                const SearchAnswer answer
                    = awaitCompletion<SearchAnswer>([&](auto done) { db.findText(query, app, done); });
                QStringList answered;
                for (const Recording &r : answer.recordings) {
                    EXPECT_EQ(r.localPath(), "/p/" + r.idText() + ".webp");
                    answered << row(r.idText(), secondsSince1970(r.timestamp), r.appName);
                }
                for (const SearchHit &hit : answer.hits)
                    hitsOf[indexed] << (hit.snippet ? search_snippet::markup(*hit.snippet) : "-")
                            + QString::number(hit.textKey);
                ASSERT_EQ(answered, expected) << "query '" << query.toStdString() << "' app '"
                                              << app.value_or("-").toStdString() << "' indexed " << indexed;
            }
            EXPECT_EQ(hitsOf[true].join('\n').toStdString(), hitsOf[false].join('\n').toStdString())
                << "query '" << query.toStdString() << "'";
        }
    }
}

// Writes recordings with `texts` through a plain connection, every fourth text a second text of
// the recording before. A third of the recordings share one capture time (a capture cycle: hundreds
// of texts in one second, their text rows stored in the reverse order); the others are 1.5 s apart
// in threes less than a millisecond apart, stored in a shuffled order.
QStringList writeTexts(RawDatabase &raw, const QStringList &texts, double firstTime, unsigned seed)
{
    const auto literal
        = [](QString text) { return text.isEmpty() ? QStringLiteral("NULL") : "'" + text.replace('\'', "''") + "'"; };
    QStringList ids;
    for (int i = 0; i < texts.size(); ++i)
        if (i % 4 != 1)
            ids << uuidText(QUuid::createUuid());
    std::vector<int> order(size_t(ids.size()));
    std::iota(order.begin(), order.end(), 0);
    const auto cycle = order.begin() + ids.size() / 3;
    std::shuffle(cycle, order.end(), std::mt19937(seed));
    raw.exec("BEGIN");
    for (const int r : order) {
        const bool inCycle = r < ids.size() / 3;
        const double time = inCycle ? firstTime - 1 : firstTime + (r / 3) * 1.5 + (r % 3) * 0.0002;
        raw.exec(QStringLiteral("INSERT OR REPLACE INTO recordings (id, timestamp, display_index, file_path, app_name, "
                                "window_title) VALUES ('%1', %2, 0, '/p/%1.webp', %3, %4)")
                     .arg(ids[r], QString::number(time, 'g', 17), literal(kApps[r % kApps.size()]),
                         literal(kTitles[r % kTitles.size()])));
    }
    for (qsizetype i = texts.size() - 1, r = ids.size() - 1; i >= 0; --i) {
        raw.exec(QStringLiteral("INSERT INTO ocr_text (recording_id, text, timestamp) VALUES ('%1', %2, 0)")
                     .arg(ids[r], literal(texts[i])));
        r -= i % 4 != 1 ? 1 : 0;
    }
    raw.exec("COMMIT");
    return ids;
}

// Stores the texts and checks that every query answers what a scan of them answers: the first half
// stored in a file of an earlier version before it is opened (the index is built in the background,
// a write queued at open landing before the build ends), the rest afterwards by another connection
// (the triggers keep it in step), then with recordings deleted, moved in time, renamed, saved again
// and given new text.
void expectSearchesMatchAScan(const QStringList &texts, const QStringList &queries)
{
    TempHome home;
    RawDatabase raw(databaseFile(home), true);
    raw.exec("CREATE TABLE recordings (id TEXT PRIMARY KEY, timestamp REAL NOT NULL, display_index INTEGER NOT NULL, "
             "file_path TEXT NOT NULL, app_name TEXT, window_title TEXT, image_hash TEXT, file_size INTEGER, "
             "compression_ratio REAL)");
    raw.exec("CREATE TABLE ocr_text (id INTEGER PRIMARY KEY AUTOINCREMENT, recording_id TEXT NOT NULL, text TEXT NOT "
             "NULL, timestamp REAL NOT NULL, FOREIGN KEY (recording_id) REFERENCES recordings(id) ON DELETE CASCADE)");
    const qsizetype half = texts.size() / 2;
    const QStringList first = writeTexts(raw, texts.mid(0, half), 1'700'000'000.0, 1);
    // Text of a recording that no longer exists (written without foreign keys).
    raw.exec("INSERT INTO ocr_text (recording_id, text, timestamp) VALUES ('" + uuidText(QUuid::createUuid())
        + "', 'common alpha orphan', 0)");
    SimpleDatabaseManager db;
    ASSERT_TRUE(db.isOpen());
    std::optional<qint64> completeAtWrite;
    db.saveRecordingWithDeltaFrame(
        makeRecording(1, "/p/while-building.webp"), std::nullopt, 0, false, std::nullopt, std::nullopt, [&](RowWrite) {
            completeAtWrite = RawDatabase(databaseFile(home)).integer("SELECT complete FROM ocr_text_search_state");
        });
    db.waitUntilIdle();
    EXPECT_EQ(completeAtWrite, 0) << "the write waited for the whole build";
    expectAnswersOfAScan(db, raw, queries, "after the build");

    const QStringList later = writeTexts(raw, texts.mid(half), 1'699'999'000.0, 2);
    expectAnswersOfAScan(db, raw, queries, "after more rows");

    raw.exec("BEGIN");
    const auto each = [&](int from, int to, const char *sql) {
        for (int i = from; i < std::min<int>(to, first.size()); ++i)
            raw.exec(QString::fromLatin1(sql).arg(first[i]));
    };
    each(0, 150, "DELETE FROM recordings WHERE id = '%1'");
    each(150, 200, "UPDATE recordings SET timestamp = timestamp - 5000 WHERE id = '%1'");
    each(200, 250, "UPDATE ocr_text SET text = 'common replaced ALPHA' WHERE recording_id = '%1'");
    // Saving an id again replaces the row; on this connection (no foreign keys) its text stays and
    // moves with it to the new time.
    each(240, 250, "UPDATE recordings SET window_title = 'renamed work_shell' WHERE id = '%1'");
    each(250, 260,
        "INSERT OR REPLACE INTO recordings (id, timestamp, display_index, file_path, app_name) "
        "VALUES ('%1', 1900000000, 0, '/p/%1.webp', 'Terminal')");
    raw.exec("COMMIT");
    std::vector<QUuid> gone;
    for (const QString &id : later.mid(0, 100))
        gone.push_back(QUuid::fromString(id));
    EXPECT_EQ(deleteRows(db, gone), int(gone.size()));
    expectAnswersOfAScan(db, raw, queries, "after deletes and updates");
    raw.exec("INSERT INTO ocr_text_search (ocr_text_search) VALUES ('integrity-check')");

    EXPECT_TRUE(awaitCompletion<bool>([&](auto done) { db.deleteAllData(done); }));
    EXPECT_EQ(raw.integer("SELECT count(*) FROM ocr_text_search_keys"), 0);
    EXPECT_TRUE(search(db, "common").empty());
    const Recording fresh = makeRecording(5, "/p/fresh.webp");
    ASSERT_TRUE(saveRecording(db, fresh));
    db.saveOCRText(fresh.id, "common again", fresh.timestamp);
    EXPECT_EQ(ids(search(db, "COMMON")), QStringList({ fresh.idText() }));
}

} // namespace

// The scan above folds as search does; this pins the folding itself.
TEST(SearchFolding, FoldsWhatRecognitionReadsDifferentlyAndKeepsTheRest)
{
    const struct {
        const char *text;
        const char *folded;
    } cases[] = {
        { "reconcile_segments", "reconcile segments" }, { " a \t_\n b  ", " a b " },
        { "\u2018it\u2019s\u2019 \u201cq\u201d \u201eq\u201f \u2032", "'it's' \"q\" \"q\" '" },
        { "a\u2013b\u2014c\u2212d\u2010e", "a-b-c-d-e" },
        { "\ufb01le \ufb02ow \ufb00 \ufb03 \ufb04 \ufb06", "file flow ff ffi ffl st" },
        { "apparmor,d 04;38 wait\u2026", "apparmor.d 04:38 wait..." }, { "a\u00a0\u2003\u3000b", "a b" },
        { "100% C:\\x Straße \u65e5\u672c \U0001F600", "100% C:\\x Straße \u65e5\u672c \U0001F600" },
        { "\xff\xc3(\xe2\x80", "\xff\xc3(\xe2\x80" }, // not UTF-8: kept byte for byte
    };
    for (const auto &c : cases)
        EXPECT_EQ(search_folding::fold(std::string_view(c.text)), c.folded) << c.text;

    // Where each occurrence lies in the text as stored: "[" and "]" mark them.
    const struct {
        const char *text;
        const char *query;
        const char *marked;
    } found[] = {
        { "checksum window reconcile  segments", "Reconcile_Seg", "checksum window [reconcile  seg]ments" },
        { "\ufb01le \ufb01le", "fi", "[\ufb01]le [\ufb01]le" },
        { "aaaa", "aa", "[aa][aa]" },
        { "\u2018it\u2019s \U0001F600x", "'s \U0001F600", "\u2018it[\u2019s \U0001F600]x" },
        { "apparmor,d", "apparmor.d", "[apparmor,d]" },
        { "nothing", "  ", "nothing" },
        { "a_b", "c", "a_b" },
    };
    for (const auto &c : found) {
        QString marked = QString::fromUtf8(c.text);
        const std::vector<search_folding::Occurrence> at
            = search_folding::occurrences(marked, QString::fromUtf8(c.query));
        for (auto o = at.rbegin(); o != at.rend(); ++o)
            marked.insert(o->start + o->length, u']').insert(o->start, u'[');
        EXPECT_EQ(marked, QString::fromUtf8(c.marked)) << c.text;
    }
}

TEST(TextSearchIndex, SearchesAnswerWhatAScanOfTheStoredTextAnswers)
{
    expectSearchesMatchAScan(generatedTexts(2400, 1), kQueries);
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

// A capture time that is no number has no key: searches take the plain statement, where SQLite
// sorts text after every number. Otherwise the index answers.
TEST_F(DatabaseTest, SearchesAreAnsweredByTheIndexWhenItCan)
{
    const Recording r = store(10, "common text");
    db().waitUntilIdle();
    const QString textTime = "11111111-2222-3333-4444-555555555555";
    raw().exec("INSERT INTO recordings (id, timestamp, display_index, file_path) VALUES ('" + textTime
        + "', 'yesterday', 0, '/p/text-time')");
    raw().exec("INSERT INTO ocr_text (recording_id, text, timestamp) VALUES ('" + textTime + "', 'common', 0)");
    EXPECT_EQ(ids(search(db(), "common")), QStringList({ textTime, r.idText() }));
    ASSERT_EQ(deleteRows(db(), { QUuid::fromString(textTime) }), 1);
    // A row the index never hears about shows whether a search consulted it.
    raw().exec("DROP TRIGGER ocr_text_search_after_insert");
    raw().exec("INSERT INTO ocr_text (recording_id, text, timestamp) VALUES ('" + r.idText() + "', 'hidden words', 0)");
    EXPECT_TRUE(search(db(), "hidden").empty());
    EXPECT_EQ(ids(search(db(), "hi")), QStringList({ r.idText() })); // too short for the index
    db().setTextIndexEnabled(false);
    EXPECT_EQ(ids(search(db(), "hidden")), QStringList({ r.idText() }));
}
