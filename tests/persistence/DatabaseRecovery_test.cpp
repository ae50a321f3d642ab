// A damaged, incomplete, locked or read-only database file: what the capturing application
// repairs, what it keeps for later and reports as pending, and what a read-only opener refuses.

#include "persistence/DatabaseTestSupport.h"

#include <linux/fs.h>
#include <sys/ioctl.h>

using namespace pellux;
using namespace pellux::test;

namespace {

// Recordings 1000 + i with their (long) text, written by the manager and closed.
void writeHistory(int count)
{
    SimpleDatabaseManager db;
    for (int i = 0; i < count; ++i) {
        const Recording r = makeRecording(1000 + i, QStringLiteral("/p/%1.webp").arg(i));
        EXPECT_TRUE(saveRecording(db, r));
        db.saveOCRText(r.id, QStringLiteral("history %1 ").arg(i).repeated(100), r.timestamp);
    }
    db.waitUntilIdle();
}

// Makes a folder refuse new files for its lifetime, or until released: chmod for a normal user;
// root ignores modes, so the immutable attribute instead, set as chattr does but without a child
// process (a fork of this multi-threaded test is what ThreadSanitizer cannot follow).
struct ReadOnlyFolder {
    explicit ReadOnlyFolder(const QString &folder)
        : path(QFile::encodeName(folder))
        , applied(set(true))
    {
    }
    ~ReadOnlyFolder() { release(); }
    void release() { applied = applied && !set(false); }
    bool set(bool readOnly) const
    {
        if (::geteuid() != 0)
            return ::chmod(path.constData(), readOnly ? 0500 : 0700) == 0;
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = readOnly ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    QByteArray path;
    bool applied;
};

// Parameter: the file is a database cut in half (true) or never was one.
class DamagedFile : public DatabaseTest, public ::testing::WithParamInterface<bool> {
protected:
    QByteArray damage()
    {
        QDir().mkpath(home.pelluxFolder());
        QByteArray bytes = QByteArray("this is not an SQLite file\n").repeated(200);
        if (GetParam()) {
            writeHistory(40);
            bytes = readAll(path());
            EXPECT_GT(bytes.size(), 32 * 1024);
            bytes = bytes.left(bytes.size() / 2);
        }
        EXPECT_TRUE(writeAll(path(), bytes));
        return bytes;
    }
};

} // namespace

TEST_P(DamagedFile, CaptureSetsItAsideByteForByteAndStartsAFreshDatabase)
{
    const QByteArray damaged = damage();
    const QByteArray wal = QByteArray("wal bytes ").repeated(10);
    ASSERT_TRUE(writeAll(path() + "-wal", wal));
    // An earlier set-aside file of the same second is never overwritten.
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s <= 1; ++s)
        ASSERT_TRUE(writeAll(path() + ".corrupt-" + now.addSecs(s).toString("yyyy-MM-dd_HH-mm-ss"), "earlier"));
    LogCapture log(LogCapture::Verbosity::quiet);
    ASSERT_TRUE(db().isOpen());
    EXPECT_TRUE(db().wasRecreated());
    const QString aside = db().setAsidePath();
    EXPECT_TRUE(aside.startsWith(path() + ".corrupt-") && aside.endsWith("-2")) << aside.toStdString();
    EXPECT_EQ(readAll(aside), damaged);
    EXPECT_EQ(readAll(aside + "-wal"), wal);
    EXPECT_FALSE(QFileInfo::exists(path() + "-wal"));
    EXPECT_EQ(log.linesStartingWith("ERROR").size(), 1) << log.text().toStdString();
    const Recording r = store(100, "fresh text");
    EXPECT_EQ(ids(search(db(), "fresh")), QStringList { r.idText() });
}

// A read-only opener refuses the damaged file and every operation fails, leaving it as it was.
TEST_P(DamagedFile, ReadOnlyOpenRefusesItAndEveryOperationFails)
{
    const QByteArray damaged = damage();
    LogCapture log(LogCapture::Verbosity::quiet);
    SimpleDatabaseManager &readOnly = reopen(SimpleDatabaseManager::OpenMode::readOnly);
    EXPECT_EQ(std::pair(readOnly.isOpen(), readOnly.wasRecreated()), std::pair(false, false));
    EXPECT_EQ(log.linesStartingWith("ERROR openDatabase: Unable to open database: ").size(), 1);
    const Recording r = makeRecording(100, "/p/x.webp");
    EXPECT_EQ(writeRecording(readOnly, r), RowWrite::failed);
    EXPECT_EQ(awaitCompletion<SearchAnswer>([&](auto done) { readOnly.findText("history", std::nullopt, done); }).error,
        "Database not available");
    EXPECT_FALSE(exists(readOnly, r.id));
    EXPECT_EQ(deleteRows(readOnly, { r.id }), SimpleDatabaseManager::kDeletionFailed);
    EXPECT_FALSE(
        awaitCompletion<ApplicationNames>([&](auto done) { readOnly.applicationNames(done); }).error.isEmpty());
    EXPECT_TRUE(awaitCompletion<RecordingPage>([&](auto done) {
        readOnly.recordingsOfApplication("Terminal", 10, std::nullopt, done);
    }).recordings.empty());
    EXPECT_FALSE(awaitCompletion<bool>([&](auto done) { readOnly.deleteAllData(done); }));
    EXPECT_FALSE(awaitCompletion<bool>([&](auto done) { readOnly.resetDatabase(done); }));
    readOnly.debugPrintAllOCRTexts();
    readOnly.waitUntilIdle();
    EXPECT_EQ(readAll(path()), damaged);
    EXPECT_EQ(QDir(home.pelluxFolder()).entryList(QDir::Files), QStringList { "pellux_v2.db" });
}

INSTANTIATE_TEST_SUITE_P(CutInHalfOrNoDatabase, DamagedFile, ::testing::Bool(),
    [](const auto &info) { return std::string(info.param ? "CutInHalf" : "NoDatabase"); });

class MissingTable : public DatabaseTest, public ::testing::WithParamInterface<const char *> { };

TEST_P(MissingTable, IsCreatedAtOpenAndTextIsSavedAndFoundAgain)
{
    writeHistory(5);
    raw().exec(QStringLiteral("DROP TABLE %1").arg(QLatin1String(GetParam())));
    LogCapture log(LogCapture::Verbosity::quiet);
    const Recording r = store(5000, "written after the repair");
    db().waitUntilIdle();
    EXPECT_TRUE(log.linesStartingWith("ERROR").isEmpty()) << log.text().toStdString();
    for (const bool indexed : { true, false }) {
        db().setTextIndexEnabled(indexed);
        EXPECT_EQ(ids(search(db(), "after the repair")), QStringList { r.idText() }) << indexed;
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, MissingTable, ::testing::Values("ocr_text", "recordings"));

TEST_F(DatabaseTest, AnIndexThatMissedRowsIsRebuiltAtOpen)
{
    writeHistory(20);
    // Rows stored while the index's trigger was gone (an older program, a damaged schema).
    raw().exec("DROP TRIGGER ocr_text_search_after_insert");
    raw().exec("INSERT INTO ocr_text (recording_id, text, timestamp) "
               "SELECT id, 'zebra crossing', 0 FROM recordings WHERE timestamp = 1005");
    db().waitUntilIdle();
    EXPECT_EQ(raw().integer("SELECT count(*) FROM ocr_text_search_keys"), 21);
    const std::vector<Recording> found = search(db(), "zebra");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(secondsSince1970(found[0].timestamp), 1005.0);
}

// Rows written while another process holds the file wait in memory, are reported as pending (not
// written), and are written later in the order they came: a text never before its recording.
TEST_F(DatabaseTest, RowsRefusedByALockArePendingAndWrittenInOrderOnceItGoes)
{
    writeHistory(1);
    LogCapture log(LogCapture::Verbosity::quiet);
    std::vector<Recording> rows;
    {
        // Longer than the open's wait for the lock, so that the first open fails.
        LockHolder lock(path(), std::chrono::milliseconds(3500));
        SimpleDatabaseManager &locked = reopen();
        EXPECT_FALSE(locked.isOpen());
        for (int i = 0; i < 2; ++i) {
            rows.push_back(makeRecording(2000 + i, QStringLiteral("/p/locked%1.webp").arg(i)));
            EXPECT_EQ(writeRecording(locked, rows.back()), RowWrite::pending);
            locked.saveOCRText(rows.back().id, QStringLiteral("typed while locked %1").arg(i), rows.back().timestamp);
        }
        // Deleting a pending recording takes its row and text out of the queue.
        deleteRows(locked, { rows[1].id });
        EXPECT_EQ(locked.pendingWriteCount(), 2u);
        EXPECT_TRUE(exists(locked, rows[0].id)) << "a pending row counts as existing";
    }
    ASSERT_TRUE(runEventsUntil([&] { return db().isOpen() && db().pendingWriteCount() == 0; }, 60000));
    EXPECT_EQ(ids(search(db(), "while locked")), QStringList { rows[0].idText() });
    EXPECT_FALSE(exists(db(), rows[1].id));
    EXPECT_EQ(raw().integer("SELECT count(*) FROM recordings"), 2);

    // A write refused while the connection is open waits the same way, through retries that fail
    // while the lock lasts (longer than two waits for it).
    const Recording later = makeRecording(3000, "/p/later.webp");
    {
        LockHolder lock(path(), std::chrono::milliseconds(5000));
        EXPECT_EQ(writeRecording(db(), later), RowWrite::pending);
        EXPECT_EQ(db().pendingWriteCount(), 1u);
    }
    ASSERT_TRUE(runEventsUntil([&] { return db().pendingWriteCount() == 0; }, 60000));
    EXPECT_EQ(raw().integer("SELECT count(*) FROM recordings"), 3);
}

TEST_F(DatabaseTest, AWriteIntoAReadOnlyFolderIsPendingUntilItIsWritableAgain)
{
    db().waitUntilIdle();
    ReadOnlyFolder readOnly(home.pelluxFolder());
    ASSERT_TRUE(readOnly.applied) << "cannot make the folder read-only here";
    LogCapture log(LogCapture::Verbosity::quiet);
    const Recording r = makeRecording(100, "/p/a.webp");
    EXPECT_EQ(writeRecording(db(), r), RowWrite::pending);
    db().saveOCRText(r.id, "kept text", r.timestamp);
    db().waitUntilIdle();
    EXPECT_EQ(db().pendingWriteCount(), 2u);
    EXPECT_EQ(log.linesStartingWith("ERROR saveRecordingWithDeltaFrame: ").size(), 1) << log.text().toStdString();
    readOnly.release();
    ASSERT_TRUE(runEventsUntil([&] { return db().pendingWriteCount() == 0; }, 60000));
    EXPECT_EQ(ids(search(db(), "kept text")), QStringList { r.idText() });
}
