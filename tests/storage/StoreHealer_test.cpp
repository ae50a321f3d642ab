// Healing the store after a crash: the recordings list, the database rows and the files brought back
// into agreement from whichever still holds the facts, and frames whose text recognition never
// finished recognised from their stored files. Real database and files in a private home; text is
// read by a fake recogniser, except where rebuilt delta frames must read as what they showed.
#include "persistence/DatabaseTestSupport.h"
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

using namespace pellux;
using namespace pellux::test;

namespace {

// A second connection to the database file, for setting up damage and reading results back.
struct DirectDatabase : RawDatabase {
    using RawDatabase::RawDatabase;
    QString text(const QString &sql) const { return strings(sql).value(0); }
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
        return direct.integer(
            QStringLiteral("SELECT COUNT(*) FROM %1 WHERE recording_id = '%2'").arg(table, r.idText()));
    }
    // The list's entry for the recording's file carries the recording's identity and fields.
    void expectListedAs(const Recording &r) const
    {
        const std::optional<Recording> entry = listed(r.localPath());
        ASSERT_TRUE(entry);
        EXPECT_TRUE(std::tie(entry->id, entry->appName, entry->windowTitle, entry->imageHash)
            == std::tie(r.id, r.appName, r.windowTitle, r.imageHash));
    }
    std::optional<Recording> listed(const QString &path) const
    {
        for (const Recording &r : test::listedRecordings(*storage)) {
            if (r.localPath() == path)
                return r;
        }
        return std::nullopt;
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
    store.direct.exec(QStringLiteral("DELETE FROM recordings WHERE id = '%1'").arg(r.idText()));
    store.reopen();

    const HealingReport report = store.heal();
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.rowsWritten, 1);
    EXPECT_EQ(report.framesRecognized, 1);
    EXPECT_EQ(store.direct.text(QStringLiteral("SELECT app_name || '|' || window_title || '|' || image_hash || '|' || "
                                               "file_size || '|' || is_delta_frame FROM recordings WHERE id = '%1'")
                                    .arg(r.idText())),
        QStringLiteral("Kate|ferries.txt|hash-1|%1|0").arg(QFileInfo(r.localPath()).size()));
    const std::vector<Recording> found = search(store.db,
        store.direct.text(QStringLiteral("SELECT text FROM ocr_text WHERE recording_id = '%1'").arg(r.idText())));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, r.id);
}

// A list written before the second save reached it, or one whose entry for it cannot be read (one
// bad field spoils the whole entry): the entry is made again from the row and file, with the row's
// identity, and the list file holds it for the next start.
TEST(StoreHealer, AnEntryMissingFromTheListIsMadeAgainWithTheRowsIdentity)
{
    for (const bool damaged : { false, true }) {
        SCOPED_TRACE(damaged ? "entry damaged" : "list written before the save");
        Store store;
        const Recording kept = store.save(
            CapturePipeline::textFrame(QStringLiteral("kept")), 1, QStringLiteral("Kate"), QStringLiteral("a.txt"));
        const Recording lost = store.save(
            CapturePipeline::textFrame(QStringLiteral("lost")), 2, QStringLiteral("Konsole"), QStringLiteral("shell"));
        const QString listPath = store.storage->metadataFilePath();
        QJsonArray list = QJsonDocument::fromJson(readAll(listPath)).array();
        for (qsizetype i = 0; i < list.size(); ++i) {
            QJsonObject entry = list[i].toObject();
            if (entry.value(QStringLiteral("id")).toString() != lost.idText())
                continue;
            entry.insert(QStringLiteral("type"), QStringLiteral("hologram"));
            if (damaged)
                list[i] = entry;
            else
                list.removeAt(i--);
        }
        ASSERT_TRUE(writeAll(listPath, QJsonDocument(list).toJson(QJsonDocument::Compact)));
        store.reopen();
        ASSERT_FALSE(store.listed(lost.localPath()));

        const HealingReport report = store.heal();
        EXPECT_EQ(std::make_pair(report.entriesRecreated, report.rowsWritten), std::make_pair(1, 0));
        store.expectListedAs(lost);
        EXPECT_EQ(test::listedRecordings(*store.storage).front().id, lost.id); // newest first
        EXPECT_EQ(store.direct.integer(QStringLiteral("SELECT COUNT(*) FROM recordings")), 2);
        // A damaged list is kept as it was.
        const QDir recordings(QFileInfo(listPath).path());
        EXPECT_EQ(recordings.entryList({ QStringLiteral("metadata.json.corrupt-*") }).size(), damaged ? 1 : 0);
        store.reopen();
        EXPECT_TRUE(store.listed(lost.localPath()) && store.listed(kept.localPath()));
    }
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
    store.direct.exec(QStringLiteral("DELETE FROM recordings WHERE id = '%1'").arg(stray.idText()));
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
        store.direct.integer(QStringLiteral("SELECT COUNT(*) FROM recordings WHERE id = '%1'").arg(gone.idText())), 1);
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
    const qint64 deltas = direct.integer(QStringLiteral("SELECT COUNT(*) FROM recordings WHERE is_delta_frame = 1"));
    ASSERT_GT(deltas, 0);
    const qint64 rows = direct.integer(QStringLiteral("SELECT COUNT(*) FROM recordings"));
    const QString textBefore = direct.text(
        QStringLiteral("SELECT group_concat(o.text, '|') FROM recordings r JOIN ocr_text o ON o.recording_id = r.id "
                       "WHERE r.is_delta_frame = 1"));
    ASSERT_TRUE(textBefore.contains(QStringLiteral("budget")));
    // Killed before any text reached the database.
    direct.exec(QStringLiteral("DELETE FROM ocr_text"));

    pipeline.clock.advance(60);
    StoreHealer healer(*pipeline.storage, *pipeline.database, *pipeline.ocr, pipeline.clock);
    const HealingReport report = QCoro::waitFor(healer.heal());
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.framesRecognized, rows);
    EXPECT_EQ(report.framesUnreadable, 0);
    EXPECT_EQ(direct.integer(QStringLiteral("SELECT COUNT(DISTINCT recording_id) FROM ocr_text")), rows);
    const qint64 deltasFound = direct.integer(
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
        = search(db, DirectDatabase(path).text(QStringLiteral("SELECT text FROM ocr_text")));
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
