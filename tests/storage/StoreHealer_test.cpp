// Healing the store after a crash: the recordings list, the database rows and the files brought back
// into agreement from whichever still holds the facts, and frames whose text recognition never
// finished recognised from their stored files. Real database and files in a private home; text is
// read by a fake recogniser, except where rebuilt delta frames must read as what they showed.
#include "persistence/RecordingJson.h"
#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "storage/StorageTestSupport.h"
#include "storage/StoreHealer.h"
#include "support/AwaitCompletion.h"
#include "support/CapturePipeline.h"
#include "support/FakeTextRecognizer.h"
#include "support/ListedRecordings.h"
#include "support/SampleHistory.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <qcorotask.h>

#include <gtest/gtest.h>

#include <memory>
#include <sqlite3.h>

using namespace pellux;
using namespace pellux::test;

namespace {

// A second connection to the database file, for setting up damage and reading results back.
class DirectDatabase {
public:
    explicit DirectDatabase(const QString &path)
    {
        sqlite3 *handle = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &handle, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
            m_db.reset(handle);
        else
            sqlite3_close(handle);
        if (m_db)
            sqlite3_busy_timeout(m_db.get(), 5000);
    }
    bool exec(const QString &sql)
    {
        return sqlite3_exec(m_db.get(), sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    QString text(const QString &sql)
    {
        sqlite3_stmt *stmt = nullptr;
        QString out;
        if (sqlite3_prepare_v2(m_db.get(), sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK
            && sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0))
            out = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        return out;
    }
    qint64 count(const QString &sql) { return text(sql).toLongLong(); }

private:
    struct Close {
        void operator()(sqlite3 *db) const { sqlite3_close(db); }
    };
    std::unique_ptr<sqlite3, Close> m_db;
};

QByteArray jpegOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 95);
    return bytes;
}

// A store on the real database in a private home; reopen() is the next start of the program.
struct Store {
    Store() { reopen(); }
    void reopen()
    {
        storage.reset();
        storage = std::make_unique<StorageManager>(index, clock);
    }
    Recording save(const QImage &frame, int second, const QString &app, const QString &title)
    {
        const std::optional<Recording> r
            = QCoro::waitFor(storage->saveScreenshot(jpegOf(frame), localTime(2024, 3, 5, 14, 7, second), 0, app, title,
                QStringLiteral("hash-%1").arg(second), false, std::nullopt, 4.0));
        EXPECT_TRUE(r);
        return r.value_or(Recording {});
    }
    HealingReport heal(const std::function<void(StoreHealer &)> &setUp = {})
    {
        StoreHealer healer(*storage, db, ocr, clock);
        if (setUp)
            setUp(healer);
        return QCoro::waitFor(healer.heal());
    }
    qint64 count(const QString &table, const Recording &r)
    {
        return direct.count(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE recording_id = '%2'").arg(table, r.idText()));
    }
    // The list's entry for the recording's file carries the recording's identity and fields.
    void expectListedAs(const Recording &r) const
    {
        const std::optional<Recording> entry = listed(r.localPath());
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->id, r.id);
        EXPECT_EQ(entry->appName, r.appName);
        EXPECT_EQ(entry->windowTitle, r.windowTitle);
        EXPECT_EQ(entry->imageHash, r.imageHash);
    }
    std::optional<Recording> listed(const QString &path) const
    {
        for (const Recording &r : test::listedRecordings(*storage)) {
            if (r.localPath() == path)
                return r;
        }
        return std::nullopt;
    }
    std::vector<Recording> search(const QString &query)
    {
        return awaitCompletion<std::vector<Recording>>(
            [&](std::function<void(std::vector<Recording>)> done) { db.searchText(query, std::nullopt, done); });
    }

    TempHome home;
    FakeClock clock { localTime(2024, 3, 5, 15, 0, 0) };
    SimpleDatabaseManager db;
    DatabaseRecordingIndex index { db };
    FakeTextRecognizer *recognizer = new FakeTextRecognizer;
    OCRProcessor ocr { std::unique_ptr<TextRecognizer>(recognizer) };
    std::unique_ptr<StorageManager> storage;
    DirectDatabase direct { SimpleDatabaseManager::defaultDatabasePath() };
};

} // namespace

TEST(StoreHealer, AnEntryAndFileWithoutARowGetTheRowBackWithTheirText)
{
    Store store;
    const Recording r = store.save(CapturePipeline::textFrame(QStringLiteral("harbour schedule")), 1,
        QStringLiteral("Kate"), QStringLiteral("ferries.txt"));
    // The row write was lost to a crash after the file and the list entry were written.
    ASSERT_TRUE(store.direct.exec(QStringLiteral("DELETE FROM recordings WHERE id = '%1'").arg(r.idText())));
    store.reopen();

    const HealingReport report = store.heal();
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.rowsWritten, 1);
    EXPECT_EQ(report.framesRecognized, 1);
    const QString where = QStringLiteral(" FROM recordings WHERE id = '%1'").arg(r.idText());
    EXPECT_EQ(store.direct.text(QStringLiteral("SELECT app_name") + where), QStringLiteral("Kate"));
    EXPECT_EQ(store.direct.text(QStringLiteral("SELECT window_title") + where), QStringLiteral("ferries.txt"));
    EXPECT_EQ(store.direct.text(QStringLiteral("SELECT image_hash") + where), QStringLiteral("hash-1"));
    EXPECT_EQ(store.direct.count(QStringLiteral("SELECT file_size") + where), QFileInfo(r.localPath()).size());
    EXPECT_EQ(store.direct.count(QStringLiteral("SELECT is_delta_frame") + where), 0);
    const std::vector<Recording> found = store.search(
        store.direct.text(QStringLiteral("SELECT text FROM ocr_text WHERE recording_id = '%1'").arg(r.idText())));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, r.id);
}

TEST(StoreHealer, ARowAndFileWithoutAnEntryGetTheEntryBackWithTheRowsIdentity)
{
    Store store;
    const Recording kept = store.save(
        CapturePipeline::textFrame(QStringLiteral("kept")), 1, QStringLiteral("Kate"), QStringLiteral("a.txt"));
    const Recording lost = store.save(
        CapturePipeline::textFrame(QStringLiteral("lost")), 2, QStringLiteral("Konsole"), QStringLiteral("shell"));
    // A list written before the second save reached it.
    std::vector<Recording> older;
    for (const Recording &r : test::listedRecordings(*store.storage)) {
        if (r.id != lost.id)
            older.push_back(r);
    }
    ASSERT_TRUE(writeAll(store.storage->metadataFilePath(), encodeRecordings(older)));
    store.reopen();
    ASSERT_EQ(test::listedRecordings(*store.storage).size(), 1u);

    const HealingReport report = store.heal();
    EXPECT_EQ(report.entriesRecreated, 1);
    EXPECT_EQ(report.rowsWritten, 0);
    ASSERT_EQ(test::listedRecordings(*store.storage).size(), 2u);
    store.expectListedAs(lost);
    EXPECT_EQ(test::listedRecordings(*store.storage).front().id, lost.id); // newest first

    // The list file holds it too: the next start lists it without healing.
    store.reopen();
    EXPECT_TRUE(store.listed(lost.localPath()));
    EXPECT_TRUE(store.listed(kept.localPath()));
}

TEST(StoreHealer, AnEntryRebuiltFromItsFileAfterTheListWasDamagedTakesBackItsRowsIdentity)
{
    Store store;
    const Recording first = store.save(
        CapturePipeline::textFrame(QStringLiteral("first")), 1, QStringLiteral("Kate"), QStringLiteral("one.txt"));
    const Recording damaged = store.save(
        CapturePipeline::textFrame(QStringLiteral("second")), 2, QStringLiteral("Konsole"), QStringLiteral("two"));
    // One bad field in one entry: the whole entry cannot be read back.
    QJsonArray list = QJsonDocument::fromJson(readAll(store.storage->metadataFilePath())).array();
    for (qsizetype i = 0; i < list.size(); ++i) {
        QJsonObject entry = list[i].toObject();
        if (entry.value(QStringLiteral("id")).toString() == damaged.idText()) {
            entry.insert(QStringLiteral("type"), QStringLiteral("hologram"));
            list[i] = entry;
        }
    }
    ASSERT_TRUE(writeAll(store.storage->metadataFilePath(), QJsonDocument(list).toJson(QJsonDocument::Compact)));
    store.reopen();
    ASSERT_FALSE(store.listed(damaged.localPath())); // the damaged entry cannot be read

    const HealingReport report = store.heal();
    EXPECT_EQ(report.rowsWritten, 0);
    EXPECT_EQ(report.entriesRecreated, 1);
    store.expectListedAs(damaged);
    EXPECT_EQ(test::listedRecordings(*store.storage).size(), 2u);
    EXPECT_EQ(store.direct.count(QStringLiteral("SELECT COUNT(*) FROM recordings")), 2);
    EXPECT_TRUE(store.listed(first.localPath()));
    // The damaged list is kept as it was, and the list written anew without what it could not read.
    const QDir recordings(QFileInfo(store.storage->metadataFilePath()).path());
    EXPECT_EQ(recordings.entryList({ QStringLiteral("metadata.json.corrupt-*") }).size(), 1);
    EXPECT_EQ(
        decodeRecordings(readAll(store.storage->metadataFilePath())).value_or(std::vector<Recording> {}).size(), 2u);
}

TEST(StoreHealer, FilesNamedByNeitherAndRowsWithoutFilesAreReportedAndKept)
{
    Store store;
    const Recording gone = store.save(
        CapturePipeline::textFrame(QStringLiteral("gone")), 1, QStringLiteral("Kate"), QStringLiteral("gone.txt"));
    const Recording stray = store.save(
        CapturePipeline::textFrame(QStringLiteral("stray")), 2, QStringLiteral("Kate"), QStringLiteral("stray.txt"));
    ASSERT_TRUE(QFile::remove(gone.localPath()));
    // The file of a save killed before its entry and row were written.
    ASSERT_TRUE(store.direct.exec(QStringLiteral("DELETE FROM recordings WHERE id = '%1'").arg(stray.idText())));
    ASSERT_TRUE(writeAll(store.storage->metadataFilePath(), QByteArray("[]")));
    store.reopen();

    const HealingReport report = store.heal();
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.unnamedFiles, 1);
    EXPECT_EQ(report.unnamedFileExamples, QStringList { stray.localPath() });
    EXPECT_TRUE(QFileInfo::exists(stray.localPath()));
    EXPECT_EQ(report.rowsWithoutFile, 1);
    EXPECT_EQ(report.rowsWithoutFileExamples, QStringList { gone.localPath() });
    EXPECT_EQ(
        store.direct.count(QStringLiteral("SELECT COUNT(*) FROM recordings WHERE id = '%1'").arg(gone.idText())), 1);
    EXPECT_TRUE(test::listedRecordings(*store.storage).empty());
}

TEST(StoreHealer, FramesWhoseRecognitionNeverFinishedGetTheirTextDeltaFramesIncluded)
{
    CapturePipeline pipeline;
    pipeline.makeService();
    captureSampleHistory(pipeline);
    pipeline.settle();
    const QString dbPath = SimpleDatabaseManager::defaultDatabasePath();
    DirectDatabase direct(dbPath);
    const qint64 deltas = direct.count(QStringLiteral("SELECT COUNT(*) FROM recordings WHERE is_delta_frame = 1"));
    ASSERT_GT(deltas, 0);
    const qint64 rows = direct.count(QStringLiteral("SELECT COUNT(*) FROM recordings"));
    const QString textBefore = direct.text(
        QStringLiteral("SELECT group_concat(o.text, '|') FROM recordings r JOIN ocr_text o ON o.recording_id = r.id "
                       "WHERE r.is_delta_frame = 1"));
    ASSERT_TRUE(textBefore.contains(QStringLiteral("budget")));
    // Killed before any text reached the database.
    ASSERT_TRUE(direct.exec(QStringLiteral("DELETE FROM ocr_text")));

    pipeline.clock.advance(60);
    StoreHealer healer(*pipeline.storage, *pipeline.database, *pipeline.ocr, pipeline.clock);
    const HealingReport report = QCoro::waitFor(healer.heal());
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.framesRecognized, rows);
    EXPECT_EQ(report.framesUnreadable, 0);
    EXPECT_EQ(direct.count(QStringLiteral("SELECT COUNT(DISTINCT recording_id) FROM ocr_text")), rows);
    const qint64 deltasFound = direct.count(
        QStringLiteral("SELECT COUNT(DISTINCT r.id) FROM recordings r JOIN ocr_text o ON o.recording_id = r.id "
                       "WHERE r.is_delta_frame = 1 AND o.text LIKE '%budget%'"));
    EXPECT_EQ(deltasFound, deltas);
}

TEST(StoreHealer, ADamagedDatabaseIsSetAsideAndItsRowsAndTextAreRebuiltFromTheListAndFiles)
{
    TempHome home;
    FakeClock clock { localTime(2024, 3, 5, 15, 0, 0) };
    OCRProcessor ocr { std::make_unique<FakeTextRecognizer>() };
    Recording saved;
    {
        SimpleDatabaseManager db;
        DatabaseRecordingIndex index { db };
        StorageManager storage(index, clock);
        saved = QCoro::waitFor(
            storage.saveScreenshot(jpegOf(CapturePipeline::textFrame(QStringLiteral("quarterly budget review"))),
                localTime(2024, 3, 5, 14, 7, 1), 0, QStringLiteral("Kate"), QStringLiteral("notes"),
                QStringLiteral("hash-1"), false, std::nullopt, 4.0))
                    .value_or(Recording {});
        ASSERT_FALSE(saved.id.isNull());
    }
    // Half of the file is lost.
    const QString path = SimpleDatabaseManager::defaultDatabasePath();
    const QByteArray whole = readAll(path);
    ASSERT_GT(whole.size(), 8192);
    ASSERT_TRUE(writeAll(path, whole.left(whole.size() / 2)));

    SimpleDatabaseManager db;
    DatabaseRecordingIndex index { db };
    StorageManager storage(index, clock);
    ASSERT_TRUE(db.wasRecreated());
    EXPECT_EQ(readAll(db.setAsidePath()), whole.left(whole.size() / 2)); // kept byte for byte
    StoreHealer healer(storage, db, ocr, clock);
    const HealingReport report = QCoro::waitFor(healer.heal());
    EXPECT_EQ(report.rowsWritten, 1);
    EXPECT_EQ(report.framesRecognized, 1);
    const std::vector<Recording> found
        = awaitCompletion<std::vector<Recording>>([&](std::function<void(std::vector<Recording>)> done) {
              db.searchText(DirectDatabase(path).text(QStringLiteral("SELECT text FROM ocr_text")), std::nullopt, done);
          });
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().id, saved.id);
    EXPECT_EQ(found.front().appName, QStringLiteral("Kate"));
}

// A recogniser that fails (no model yet, an engine error) leaves the frame owed: never "no text",
// tried again after a pause that doubles up to its cap; a stop ends the wait.
TEST(StoreHealer, FramesTheRecogniserFailedOnAreRetriedWithAGrowingPauseAndNeverStoredAsNoText)
{
    using Kind = RecognitionFailure::Kind;
    using std::chrono::milliseconds;
    const struct {
        const char *name;
        Kind kind;
        int failures; // negative: until stopped
        int requestsBeforeFirstPause; // an unavailable recogniser ends the round at once
        std::vector<milliseconds> pauses;
    } cases[] = {
        { "engine error", Kind::image, 4, 3, { milliseconds(1), milliseconds(2), milliseconds(4), milliseconds(4) } },
        { "no model", Kind::unavailable, 2, 1, { milliseconds(1), milliseconds(2) } },
        { "stopped while waiting", Kind::image, -1, 3, { milliseconds(1), milliseconds(2) } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Store store;
        const Recording owed = store.save(CapturePipeline::textFrame(QStringLiteral("owed"), 640, 150), 1,
            QStringLiteral("Kate"), QStringLiteral("a"));
        const Recording other = store.save(
            CapturePipeline::textFrame(QStringLiteral("other")), 2, QStringLiteral("Kate"), QStringLiteral("b"));
        const Recording blank
            = store.save(CapturePipeline::blankFrame(), 3, QStringLiteral("Gimp"), QStringLiteral("c"));
        store.recognizer->failNext({ c.kind, QStringLiteral("engine said no") }, c.failures,
            [](const QImage &image) { return image.height() == 150; });
        std::vector<milliseconds> pauses;
        std::vector<int> requests;
        const HealingReport report = store.heal([&](StoreHealer &healer) {
            healer.setRecognitionRetryPauses(milliseconds(1), milliseconds(4));
            QObject::connect(&healer, &StoreHealer::recognitionRetryScheduled, [&](milliseconds pause) {
                pauses.push_back(pause);
                requests.push_back(store.recognizer->requests());
                // Owed, not remembered as showing no text.
                EXPECT_EQ(store.count(QStringLiteral("text_recognition_attempts"), owed), 0);
                EXPECT_EQ(store.count(QStringLiteral("ocr_text"), owed), 0);
                if (c.failures < 0 && pauses.size() == c.pauses.size())
                    healer.stop();
            });
        });
        EXPECT_EQ(pauses, c.pauses);
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.front(), c.requestsBeforeFirstPause);
        EXPECT_EQ(report.completed, c.failures >= 0);
        EXPECT_EQ(report.framesNotRecognized, c.failures >= 0 ? 0 : 1);
        EXPECT_EQ(store.count(QStringLiteral("ocr_text"), owed), c.failures >= 0 ? 1 : 0);
        EXPECT_EQ(store.count(QStringLiteral("text_recognition_attempts"), owed), 0);
        EXPECT_EQ(store.count(QStringLiteral("ocr_text"), other), 1);
        EXPECT_EQ(store.count(QStringLiteral("text_recognition_attempts"), blank), 1); // a working one found none
        // What was settled is not tried again; only a frame still owed is.
        store.recognizer->recover();
        const int asked = store.recognizer->requests();
        EXPECT_TRUE(store.heal().completed);
        EXPECT_EQ(store.recognizer->requests(), asked + (c.failures < 0 ? 1 : 0));
    }
}
