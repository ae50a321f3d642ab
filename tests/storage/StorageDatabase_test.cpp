// The store together with the real database file: what is saved can be found, what is deleted can
// no longer be found, a row the database keeps for later keeps its frame, and a deletion the
// database refuses is reported as failed.
#include "persistence/DatabaseTestSupport.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "storage/StorageTestSupport.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"

#include <QSignalSpy>

#include <qcorotask.h>

#include <gtest/gtest.h>

using namespace pellux;
using namespace pellux::test;

namespace {

class StorageWithDatabase : public DatabaseTest {
protected:
    std::optional<Recording> save(int second)
    {
        return QCoro::waitFor(store.saveScreenshot(jpegBytes(100 + second), localTime(2024, 3, 5, 14, 7, second), 0,
            QStringLiteral("Kate"), QStringLiteral("report.odt"), QStringLiteral("hash%1").arg(second), false,
            std::nullopt, 3.0));
    }

    FakeClock clock { localTime(2024, 3, 5, 14, 7, 9) };
    DatabaseRecordingIndex index { db() };
    StorageManager store { index, clock };
};

} // namespace

TEST_F(StorageWithDatabase, DeletedScreenshotsAreNoLongerFound)
{
    std::vector<Recording> saved;
    for (int i = 0; i < 4; ++i) {
        const std::optional<Recording> r = save(i);
        ASSERT_TRUE(r);
        db().saveOCRText(r->id, QStringLiteral("quarterly figures %1").arg(i), r->timestamp);
        saved.push_back(*r);
    }
    ASSERT_EQ(search(db(), QStringLiteral("quarterly")).size(), 4u);

    QSignalSpy deleted(&store, &StorageManager::recordingsDeleted);
    store.deleteRecording(saved[0]);
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_FALSE(exists(db(), saved[0].id));
    EXPECT_EQ(search(db(), QStringLiteral("quarterly")).size(), 3u);

    clock.set(localTime(2024, 3, 5, 14, 7, 2) + std::chrono::hours(24 * 2));
    store.deleteOldRecordings(2); // saved[1] is two days and one second old
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_FALSE(exists(db(), saved[1].id));
    EXPECT_TRUE(exists(db(), saved[2].id));

    // A deletion the database refuses leaves the rows, says so, and is no finished deletion.
    raw().exec("CREATE TRIGGER refuse BEFORE DELETE ON recordings BEGIN SELECT RAISE(ABORT, 'refused'); END");
    deleted.clear();
    LogCapture log(LogCapture::Verbosity::quiet);
    EXPECT_FALSE(QCoro::waitFor(store.deleteAllRecordings()));
    EXPECT_TRUE(log.contains("ERROR StorageManager: Failed to delete 2 recordings from the database"))
        << log.text().toStdString();
    EXPECT_EQ(deleted.count(), 0);
    EXPECT_TRUE(exists(db(), saved[3].id));

    raw().exec("DROP TRIGGER refuse");
    EXPECT_TRUE(QCoro::waitFor(store.deleteAllRecordings()));
    EXPECT_EQ(deleted.count(), 1);
    EXPECT_TRUE(search(db(), QStringLiteral("quarterly")).empty());
    EXPECT_FALSE(exists(db(), saved[3].id));
}

// A row the database keeps in memory while the file is locked is not written yet; the frame and
// its list entry stay, and the row and its text land once the lock goes.
TEST_F(StorageWithDatabase, AFrameWhoseRowIsPendingIsKeptAndItsRowWrittenLater)
{
    db().waitUntilIdle();
    std::optional<Recording> r;
    {
        LockHolder lock(path(), std::chrono::milliseconds(3500));
        r = save(1);
        ASSERT_TRUE(r);
        EXPECT_EQ(db().pendingWriteCount(), 1u);
        EXPECT_TRUE(QFileInfo::exists(r->localPath()));
        db().saveOCRText(r->id, QStringLiteral("written late"), r->timestamp);
    }
    ASSERT_TRUE(runEventsUntil([&] { return db().pendingWriteCount() == 0; }, 60000));
    EXPECT_EQ(ids(search(db(), QStringLiteral("written late"))), QStringList { r->idText() });
    EXPECT_EQ(QCoro::waitFor(store.recordingsForApp(QStringLiteral("Kate"))).recordings.size(), 1u);
    EXPECT_TRUE(QFileInfo::exists(r->localPath()));
}
