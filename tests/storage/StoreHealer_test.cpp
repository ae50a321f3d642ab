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
#include "support/CapturePipeline.h"
#include "support/FakeTextRecognizer.h"
#include "support/ImageEncoder.h"
#include "support/ListedRecordings.h"
#include "support/SampleHistory.h"

using namespace pellux;
using namespace pellux::test;

namespace {

QByteArray jpegOf(const QImage &image) { return *test::imageEncoder().compressToJPEG(image, 0.95); }

// A store on the real database in a private home; reopen() is the next start of the program.
struct Store {
    Store() { reopen(); }
    void close()
    {
        storage.reset();
        index.reset();
        db.reset();
    }
    void reopen()
    {
        storage.reset();
        if (!db) {
            db = std::make_unique<SimpleDatabaseManager>();
            index = std::make_unique<DatabaseRecordingIndex>(*db);
        }
        storage = std::make_unique<StorageManager>(*index, clock);
    }
    Recording save(
        const QString &text, int second, const QString &app = QStringLiteral("Kate"), const QImage &frame = QImage())
    {
        const std::optional<Recording> r = QCoro::waitFor(storage->saveScreenshot(
            jpegOf(frame.isNull() ? CapturePipeline::textFrame(text) : frame), localTime(2024, 3, 5, 14, 7, second), 0,
            app, text, QStringLiteral("hash-%1").arg(second), false, std::nullopt, 4.0));
        EXPECT_TRUE(r);
        return r.value_or(Recording {});
    }
    HealingReport heal(const std::function<void(StoreHealer &)> &setUp = {})
    {
        StoreHealer healer(*storage, *db, ocr, clock);
        if (setUp)
            setUp(healer);
        return QCoro::waitFor(healer.heal());
    }
    qint64 count(const char *table, const Recording &r)
    {
        return direct.integer(
            QStringLiteral("SELECT COUNT(*) FROM %1 WHERE recording_id = '%2'").arg(QLatin1String(table), r.idText()));
    }
    std::optional<Recording> listed(const QString &path) const
    {
        for (const Recording &r : test::listedRecordings(*storage))
            if (r.localPath() == path)
                return r;
        return std::nullopt;
    }

    TempHome home;
    FakeClock clock { localTime(2024, 3, 5, 15, 0, 0) };
    std::unique_ptr<SimpleDatabaseManager> db = std::make_unique<SimpleDatabaseManager>();
    std::unique_ptr<DatabaseRecordingIndex> index = std::make_unique<DatabaseRecordingIndex>(*db);
    FakeTextRecognizer *recognizer = new FakeTextRecognizer;
    OCRProcessor ocr { std::unique_ptr<TextRecognizer>(recognizer) };
    std::unique_ptr<StorageManager> storage;
    RawDatabase direct { SimpleDatabaseManager::defaultDatabasePath() };
};

} // namespace

// A row write lost to a crash after the file and the list entry were written, or a damaged database
// set aside byte for byte and made anew: the rows come back from the list and files, with their text.
TEST(StoreHealer, RowsLostOrInADamagedDatabaseComeBackFromTheListAndFilesWithTheirText)
{
    for (const bool damaged : { false, true }) {
        SCOPED_TRACE(damaged ? "damaged database" : "row lost");
        Store store;
        const Recording r = store.save(QStringLiteral("harbour schedule"), 1);
        if (damaged) {
            store.close();
            const QByteArray whole = readAll(SimpleDatabaseManager::defaultDatabasePath());
            ASSERT_TRUE(writeAll(SimpleDatabaseManager::defaultDatabasePath(), whole.left(whole.size() / 2)));
        } else {
            store.direct.exec(QStringLiteral("DELETE FROM recordings WHERE id = '%1'").arg(r.idText()));
        }
        store.reopen();
        ASSERT_EQ(store.db->wasRecreated(), damaged);

        const HealingReport report = store.heal();
        EXPECT_EQ(std::tuple(report.completed, report.rowsWritten, report.framesRecognized), std::tuple(true, 1, 1));
        const RawDatabase direct(SimpleDatabaseManager::defaultDatabasePath()); // the file may be new
        EXPECT_EQ(direct.strings(QStringLiteral("SELECT app_name || '|' || window_title || '|' || image_hash || '|' || "
                                                "file_size || '|' || is_delta_frame || '|' || count(o.id) FROM "
                                                "recordings r JOIN ocr_text o ON o.recording_id = r.id")),
            QStringList { QStringLiteral("Kate|harbour schedule|hash-1|%1|0|1").arg(QFileInfo(r.localPath()).size()) });
    }
}

// A list written before the second save reached it, or one whose entry for it cannot be read (one
// bad field spoils the whole entry): the entry is made again from the row and file, with the row's
// identity, and the list file holds it for the next start.
TEST(StoreHealer, AnEntryMissingFromTheListIsMadeAgainWithTheRowsIdentity)
{
    for (const bool damaged : { false, true }) {
        SCOPED_TRACE(damaged ? "entry damaged" : "list written before the save");
        Store store;
        const Recording kept = store.save(QStringLiteral("kept"), 1);
        const Recording lost = store.save(QStringLiteral("lost"), 2, QStringLiteral("Konsole"));
        const QString listPath = store.storage->metadataFilePath();
        QJsonArray list = QJsonDocument::fromJson(readAll(listPath)).array();
        const qsizetype at = std::find_if(list.begin(), list.end(), [&](const QJsonValue &v) {
            return v[QStringLiteral("id")].toString() == lost.idText();
        }) - list.begin();
        QJsonObject spoiled = list[at].toObject();
        spoiled.insert(QStringLiteral("type"), QStringLiteral("hologram"));
        if (damaged)
            list[at] = spoiled;
        else
            list.removeAt(at);
        ASSERT_TRUE(writeAll(listPath, QJsonDocument(list).toJson(QJsonDocument::Compact)));
        store.reopen();
        ASSERT_FALSE(store.listed(lost.localPath()));

        const HealingReport report = store.heal();
        EXPECT_EQ(std::make_pair(report.entriesRecreated, report.rowsWritten), std::make_pair(1, 0));
        const std::optional<Recording> entry = store.listed(lost.localPath());
        ASSERT_TRUE(entry);
        EXPECT_TRUE(std::tie(entry->id, entry->appName, entry->windowTitle, entry->imageHash)
            == std::tie(lost.id, lost.appName, lost.windowTitle, lost.imageHash));
        EXPECT_EQ(test::listedRecordings(*store.storage).front().id, lost.id); // newest first
        EXPECT_EQ(store.direct.integer(QStringLiteral("SELECT COUNT(*) FROM recordings")), 2);
        // A damaged list is kept as it was.
        EXPECT_EQ(QDir(QFileInfo(listPath).path()).entryList({ QStringLiteral("metadata.json.corrupt-*") }).size(),
            damaged ? 1 : 0);
        store.reopen();
        EXPECT_TRUE(store.listed(lost.localPath()) && store.listed(kept.localPath()));
    }
}

TEST(StoreHealer, FilesNamedByNeitherAndRowsWithoutFilesAreReportedAndKept)
{
    Store store;
    const Recording gone = store.save(QStringLiteral("gone"), 1);
    const Recording stray = store.save(QStringLiteral("stray"), 2);
    ASSERT_TRUE(QFile::remove(gone.localPath()));
    // The file of a save killed before its entry and row were written.
    store.direct.exec(QStringLiteral("DELETE FROM recordings WHERE id = '%1'").arg(stray.idText()));
    ASSERT_TRUE(writeAll(store.storage->metadataFilePath(), QByteArray("[]")));
    store.reopen();

    const HealingReport report = store.heal();
    EXPECT_EQ(std::tuple(report.completed, report.unnamedFiles, report.unnamedFileExamples),
        std::tuple(true, 1, QStringList { stray.localPath() }));
    EXPECT_TRUE(QFileInfo::exists(stray.localPath()));
    EXPECT_EQ(std::pair(report.rowsWithoutFile, report.rowsWithoutFileExamples),
        std::pair(1, QStringList { gone.localPath() }));
    EXPECT_TRUE(exists(*store.db, gone.id));
    EXPECT_TRUE(test::listedRecordings(*store.storage).empty());
}

TEST(StoreHealer, FramesWhoseRecognitionNeverFinishedGetTheirTextDeltaFramesIncluded)
{
    CapturePipeline pipeline;
    pipeline.makeService();
    captureSampleHistory(pipeline);
    pipeline.settle();
    RawDatabase direct(SimpleDatabaseManager::defaultDatabasePath());
    const QString deltaText
        = QStringLiteral("SELECT COUNT(DISTINCT r.id) FROM recordings r JOIN ocr_text o ON o.recording_id = r.id "
                         "WHERE r.is_delta_frame = 1 AND o.text LIKE '%budget%'");
    const qint64 deltas = direct.integer(QStringLiteral("SELECT COUNT(*) FROM recordings WHERE is_delta_frame = 1"));
    ASSERT_GT(deltas, 0);
    ASSERT_EQ(direct.integer(deltaText), deltas);
    const qint64 rows = direct.integer(QStringLiteral("SELECT COUNT(*) FROM recordings"));
    // Killed before any text reached the database.
    direct.exec(QStringLiteral("DELETE FROM ocr_text"));

    pipeline.clock.advance(60);
    StoreHealer healer(*pipeline.storage, *pipeline.database, *pipeline.ocr, pipeline.clock);
    const HealingReport report = QCoro::waitFor(healer.heal());
    EXPECT_EQ(std::tuple(report.completed, qint64(report.framesRecognized), report.framesUnreadable),
        std::tuple(true, rows, 0));
    EXPECT_EQ(direct.integer(QStringLiteral("SELECT COUNT(DISTINCT recording_id) FROM ocr_text")), rows);
    EXPECT_EQ(direct.integer(deltaText), deltas);
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
        const Recording owed = store.save(QStringLiteral("owed"), 1, QStringLiteral("Kate"),
            CapturePipeline::textFrame(QStringLiteral("owed"), 640, 150));
        const Recording other = store.save(QStringLiteral("other"), 2);
        const Recording blank = store.save(QString(), 3, QStringLiteral("Gimp"), CapturePipeline::blankFrame());
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
                EXPECT_EQ(store.count("text_recognition_attempts", owed), 0);
                EXPECT_EQ(store.count("ocr_text", owed), 0);
                if (c.failures < 0 && pauses.size() == c.pauses.size())
                    healer.stop();
            });
        });
        EXPECT_EQ(pauses, c.pauses);
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.front(), c.requestsBeforeFirstPause);
        EXPECT_EQ(report.completed, c.failures >= 0);
        EXPECT_EQ(report.framesNotRecognized, c.failures >= 0 ? 0 : 1);
        EXPECT_EQ(store.count("ocr_text", owed), c.failures >= 0 ? 1 : 0);
        EXPECT_EQ(store.count("text_recognition_attempts", owed), 0);
        EXPECT_EQ(store.count("ocr_text", other), 1);
        EXPECT_EQ(store.count("text_recognition_attempts", blank), 1); // a working one found none
        // What was settled is not tried again; only a frame still owed is.
        store.recognizer->recover();
        const int asked = store.recognizer->requests();
        EXPECT_TRUE(store.heal().completed);
        EXPECT_EQ(store.recognizer->requests(), asked + (c.failures < 0 ? 1 : 0));
    }
}
