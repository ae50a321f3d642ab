// The store together with the real database file: what is saved can be found, and what is
// deleted can no longer be found.
#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "storage/StorageTestSupport.h"
#include "support/AwaitCompletion.h"
#include "support/FakeClock.h"
#include "support/TempHome.h"

#include <QSignalSpy>

#include <qcorotask.h>

#include <gtest/gtest.h>

using namespace pellux;
using namespace pellux::test;

namespace {

std::vector<Recording> search(SimpleDatabaseManager &db, const QString &query)
{
    return awaitCompletion<std::vector<Recording>>(
        [&](std::function<void(std::vector<Recording>)> done) { db.searchText(query, std::nullopt, done); });
}

bool rowExists(SimpleDatabaseManager &db, const QUuid &id)
{
    return awaitCompletion<bool>([&](std::function<void(bool)> done) { db.verifyRecordingExists(id, done); });
}

} // namespace

TEST(StorageWithDatabase, DeletedScreenshotsAreNoLongerFound)
{
    TempHome home;
    FakeClock clock(localTime(2024, 3, 5, 14, 7, 9));
    SimpleDatabaseManager db;
    ASSERT_TRUE(db.isOpen());
    DatabaseRecordingIndex index(db);
    StorageManager store(index, clock);

    std::vector<Recording> saved;
    for (int i = 0; i < 4; ++i) {
        const std::optional<Recording> r = QCoro::waitFor(
            store.saveScreenshot(jpegBytes(100 + i), localTime(2024, 3, 5, 14, 7, i), 0, QStringLiteral("Kate"),
                QStringLiteral("report.odt"), QStringLiteral("hash%1").arg(i), false, std::nullopt, 3.0));
        ASSERT_TRUE(r);
        EXPECT_TRUE(rowExists(db, r->id));
        db.saveOCRText(r->id, QStringLiteral("quarterly figures %1").arg(i), r->timestamp);
        saved.push_back(*r);
    }
    db.waitUntilIdle();
    ASSERT_EQ(search(db, QStringLiteral("quarterly")).size(), 4u);

    QSignalSpy deleted(&store, &StorageManager::recordingsDeleted);
    store.deleteRecording(saved[0]);
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_FALSE(rowExists(db, saved[0].id));
    EXPECT_TRUE(search(db, QStringLiteral("figures 0")).empty());
    EXPECT_EQ(search(db, QStringLiteral("quarterly")).size(), 3u);

    clock.set(localTime(2024, 3, 5, 14, 7, 2) + std::chrono::hours(24 * 2));
    store.deleteOldRecordings(2); // saved[1] is two days and one second old
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_FALSE(rowExists(db, saved[1].id));
    EXPECT_TRUE(rowExists(db, saved[2].id));

    QCoro::waitFor(store.deleteAllRecordings());
    EXPECT_TRUE(search(db, QStringLiteral("quarterly")).empty());
    EXPECT_FALSE(rowExists(db, saved[3].id));
}
