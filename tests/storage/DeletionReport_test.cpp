// Deleting by age, by application and everything answers what went, counted by the database from
// the rows it deleted, over a real database file.
#include "persistence/DatabaseTestSupport.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "storage/StorageTestSupport.h"
#include "support/FakeClock.h"
#include "support/ListedRecordings.h"

namespace pellux::test {
namespace {

struct Stored {
    const char *app;
    int ageDays;
    int bytes;
};
// Two days apart in age, sizes powers of two, so each answer names its rows.
constexpr Stored kStored[] = {
    { "XTerm", 40, 1000 }, { "XTerm", 10, 2000 }, { "Firefox", 40, 4000 }, { "Firefox", 1, 8000 },
    { "xterm", 40, 16000 }, // another application: names are exact
};

struct DeletionCase {
    const char *name;
    std::optional<int> olderThanDays; // with neither: everything
    std::optional<QString> application;
    qint64 count, bytes;
    QStringList left; // "app/age" of what stays
};

class DeletionReports : public ::testing::TestWithParam<DeletionCase> { };

TEST_P(DeletionReports, AnswerWhatTheDeletedRowsHeld)
{
    const DeletionCase &c = GetParam();
    TempHome home;
    FakeClock clock { localTime(2024, 3, 5, 14, 7, 9) };
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index(database);
    StorageManager store(index, clock);
    std::vector<Recording> saved;
    for (const Stored &s : kStored) {
        const TimePoint t = fromSecondsSince1970(secondsSince1970(clock.now()) - s.ageDays * 86400.0);
        const std::optional<Recording> r
            = QCoro::waitFor(store.saveScreenshot(jpegBytes(s.bytes), t, 0, QString::fromLatin1(s.app),
                QStringLiteral("title"), QStringLiteral("h%1").arg(s.bytes), false, std::nullopt, 1.0));
        ASSERT_TRUE(r);
        saved.push_back(*r);
    }

    // What the alerts announce is what then goes.
    const bool everything = !c.olderThanDays && !c.application;
    if (!everything) {
        EXPECT_EQ(QCoro::waitFor(store.countRecordings(c.olderThanDays, c.application)), c.count);
    }
    const DeletionReport report = QCoro::waitFor(c.application ? store.deleteRecordingsOfApplication(*c.application)
            : everything                                       ? store.deleteAllRecordingsReported()
                                                               : store.deleteOldRecordings(*c.olderThanDays));
    EXPECT_TRUE(report.ok) << report.failure.toStdString();
    EXPECT_EQ(report.count, c.count);
    EXPECT_EQ(report.bytes, c.bytes);

    QStringList left;
    for (size_t i = 0; i < saved.size(); ++i) {
        const QString name = QStringLiteral("%1/%2").arg(kStored[i].app).arg(kStored[i].ageDays);
        const bool kept = c.left.contains(name);
        const bool row = awaitCompletion<bool>([&](auto done) { database.verifyRecordingExists(saved[i].id, done); });
        EXPECT_EQ(row, kept) << name.toStdString();
        EXPECT_EQ(QFile::exists(saved[i].localPath()), kept) << name.toStdString();
    }
    for (const Recording &r : listedRecordings(store))
        left << QStringLiteral("%1/%2")
                    .arg(*r.appName)
                    .arg(qRound((secondsSince1970(clock.now()) - secondsSince1970(r.timestamp)) / 86400.0));
    left.sort();
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(store.recordingCount(), c.left.size());
}

INSTANTIATE_TEST_SUITE_P(StorageManager, DeletionReports,
    ::testing::Values(DeletionCase { "older_than_30_days", 30, {}, 3, 21000, { "Firefox/1", "XTerm/10" } },
        DeletionCase {
            "older_than_40_days", 40, {}, 0, 0, { "Firefox/1", "Firefox/40", "XTerm/10", "XTerm/40", "xterm/40" } },
        DeletionCase { "one_application", {}, "XTerm", 2, 3000, { "Firefox/1", "Firefox/40", "xterm/40" } },
        DeletionCase { "unknown_application", {}, "Slack", 0, 0,
            { "Firefox/1", "Firefox/40", "XTerm/10", "XTerm/40", "xterm/40" } },
        DeletionCase { "everything", {}, {}, 5, 31000, {} }),
    [](const auto &info) { return std::string(info.param.name); });

// A database that cannot list an application's recordings: the report says so, and nothing goes.
TEST(DeletionReport, AFailureIsReportedAndRemovesNothing)
{
    TempHome home;
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index(database);
    StorageManager store(index);
    const std::optional<Recording> r = QCoro::waitFor(store.saveScreenshot(
        jpegBytes(), Clock::system().now(), 0, QStringLiteral("XTerm"), {}, {}, false, std::nullopt, 1.0));
    ASSERT_TRUE(r);
    database.waitUntilIdle();
    RawDatabase(database.databasePath()).exec("ALTER TABLE recordings RENAME TO hidden");
    const DeletionReport report = QCoro::waitFor(store.deleteRecordingsOfApplication(QStringLiteral("XTerm")));
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.failure, "The database could not list the screenshots.");
    EXPECT_TRUE(QFile::exists(r->localPath()));
    EXPECT_EQ(listedRecordings(store).size(), 1u);
    const DeletionReport negative = QCoro::waitFor(store.deleteOldRecordings(-1));
    EXPECT_FALSE(negative.ok);
    EXPECT_FALSE(negative.failure.isEmpty());
}

} // namespace
} // namespace pellux::test
