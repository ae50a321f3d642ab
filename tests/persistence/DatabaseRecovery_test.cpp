// A damaged, incomplete or locked database file: what the capturing application repairs, what it
// keeps for later, and what a read-only opener refuses.

#include "persistence/DatabaseTestSupport.h"
#include "support/LogCapture.h"
#include "support/TempHome.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace pellux;
using namespace pellux::test;

namespace {

QString dbPath(const TempHome &home) { return home.pelluxFolder() + QStringLiteral("/pellux_v2.db"); }

void replaceFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// A database with `count` recordings and their text, written by the manager and closed.
QStringList writeHistory(int count)
{
    SimpleDatabaseManager db;
    QStringList stored;
    for (int i = 0; i < count; ++i) {
        const Recording r = makeRecording(1000 + i, QStringLiteral("/p/%1.webp").arg(i));
        EXPECT_TRUE(saveRecording(db, r));
        db.saveOCRText(r.id, QStringLiteral("history %1 ").arg(i).repeated(100), r.timestamp);
        stored << r.idText();
    }
    db.waitUntilIdle();
    return stored;
}

// The damaged contents: a database cut in half, and a file that never was one.
QByteArray damagedBytes(const TempHome &home, bool cutInHalf)
{
    if (!cutInHalf)
        return QByteArray("this is not an SQLite file\n").repeated(200);
    writeHistory(40);
    const QByteArray whole = readAll(dbPath(home));
    EXPECT_GT(whole.size(), 32 * 1024);
    return whole.left(whole.size() / 2);
}

template <typename Condition> bool eventually(Condition condition, std::chrono::seconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

bool exists(SimpleDatabaseManager &db, const QUuid &id)
{
    return awaitCompletion<bool>([&](auto done) { db.verifyRecordingExists(id, done); });
}

qint64 rowsIn(const TempHome &home, const QString &table)
{
    RawDatabase raw(dbPath(home));
    return raw.integer(QStringLiteral("SELECT count(*) FROM %1").arg(table));
}

// Holds an exclusive lock on the file from a second connection for `hold`, on its own thread.
class LockHolder {
public:
    LockHolder(const QString &path, std::chrono::milliseconds hold)
        : m_thread([this, path, hold] {
            RawDatabase raw(path);
            raw.exec("BEGIN EXCLUSIVE");
            m_locked = true;
            std::this_thread::sleep_for(hold);
            raw.exec("COMMIT");
        })
    {
        while (!m_locked)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~LockHolder() { m_thread.join(); }

private:
    std::atomic<bool> m_locked { false };
    std::thread m_thread;
};

// Sets or clears a folder's immutable attribute as chattr does, without a child process (a fork of
// this multi-threaded test is what ThreadSanitizer cannot follow).
bool setImmutable(const QString &folder, bool immutable)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// Makes a folder refuse new files: chmod for a normal user; root ignores modes, so the immutable
// attribute instead.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString &folder)
        : m_folder(folder)
    {
        m_applied
            = ::geteuid() == 0 ? setImmutable(folder, true) : ::chmod(QFile::encodeName(folder).constData(), 0500) == 0;
    }
    ~ReadOnlyFolder() { release(); }
    bool applied() const { return m_applied; }
    void release()
    {
        if (!m_applied)
            return;
        if (::geteuid() == 0)
            setImmutable(m_folder, false);
        else
            ::chmod(QFile::encodeName(m_folder).constData(), 0700);
        m_applied = false;
    }

private:
    QString m_folder;
    bool m_applied = false;
};

} // namespace

class DamagedFile : public ::testing::TestWithParam<bool> { };

TEST_P(DamagedFile, CaptureSetsItAsideByteForByteAndStartsAFreshDatabase)
{
    TempHome home;
    const QByteArray damaged = damagedBytes(home, GetParam());
    replaceFile(dbPath(home), damaged);
    const QByteArray wal = QByteArray("wal bytes ").repeated(10);
    replaceFile(dbPath(home) + "-wal", wal);
    // An earlier set-aside file of the same second is never overwritten.
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s <= 1; ++s) {
        const QString earlier
            = dbPath(home) + ".corrupt-" + now.addSecs(s).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
        replaceFile(earlier, "earlier");
    }

    LogCapture log(LogCapture::Verbosity::quiet);
    SimpleDatabaseManager db(SimpleDatabaseManager::OpenMode::capture);
    ASSERT_TRUE(db.isOpen());
    EXPECT_TRUE(db.wasRecreated());
    const QString aside = db.setAsidePath();
    EXPECT_TRUE(aside.startsWith(dbPath(home) + ".corrupt-")) << aside.toStdString();
    EXPECT_TRUE(aside.endsWith("-2")) << aside.toStdString();
    EXPECT_EQ(readAll(aside), damaged);
    EXPECT_EQ(readAll(aside + "-wal"), wal);
    EXPECT_FALSE(QFileInfo::exists(dbPath(home) + "-wal"));
    EXPECT_EQ(log.linesStartingWith("ERROR").size(), 1) << log.text().toStdString();

    const Recording r = makeRecording(100, "/p/new.webp");
    EXPECT_TRUE(saveRecording(db, r));
    db.saveOCRText(r.id, "fresh text", r.timestamp);
    EXPECT_EQ(ids(search(db, "fresh")), QStringList { r.idText() });
}

TEST_P(DamagedFile, ReadOnlyOpenRefusesItAndLeavesItUntouched)
{
    TempHome home;
    const QByteArray damaged = damagedBytes(home, GetParam());
    replaceFile(dbPath(home), damaged);

    LogCapture log(LogCapture::Verbosity::quiet);
    SimpleDatabaseManager db(SimpleDatabaseManager::OpenMode::readOnly);
    EXPECT_FALSE(db.isOpen());
    EXPECT_FALSE(db.wasRecreated());
    EXPECT_EQ(log.linesStartingWith("ERROR openDatabase: Unable to open database: ").size(), 1)
        << log.text().toStdString();
    EXPECT_FALSE(saveRecording(db, makeRecording(100, "/p/x.webp")));
    const auto found = awaitCompletion<SearchAnswer>([&](auto done) { db.findText("history", std::nullopt, done); });
    EXPECT_EQ(found.error, "Database not available");
    db.waitUntilIdle();

    EXPECT_EQ(readAll(dbPath(home)), damaged);
    EXPECT_EQ(QDir(home.pelluxFolder()).entryList(QDir::Files), QStringList { "pellux_v2.db" });
}

INSTANTIATE_TEST_SUITE_P(CutInHalfOrNoDatabase, DamagedFile, ::testing::Bool(),
    [](const auto &info) { return std::string(info.param ? "CutInHalf" : "NoDatabase"); });

class MissingTable : public ::testing::TestWithParam<const char *> { };

TEST_P(MissingTable, IsCreatedAtOpenAndTextIsSavedAndFoundAgain)
{
    TempHome home;
    writeHistory(5);
    {
        RawDatabase raw(dbPath(home));
        raw.exec(QStringLiteral("DROP TABLE %1").arg(QLatin1String(GetParam())));
    }
    LogCapture log(LogCapture::Verbosity::quiet);
    SimpleDatabaseManager db;
    ASSERT_TRUE(db.isOpen());
    const Recording r = makeRecording(5000, "/p/later.webp");
    EXPECT_TRUE(saveRecording(db, r));
    db.saveOCRText(r.id, "written after the repair", r.timestamp);
    db.waitUntilIdle();
    EXPECT_TRUE(log.linesStartingWith("ERROR").isEmpty()) << log.text().toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("The table %1 was missing: creating it").arg(GetParam())));
    for (const bool indexed : { true, false }) {
        db.setTextIndexEnabled(indexed);
        EXPECT_EQ(ids(search(db, "after the repair")), QStringList { r.idText() }) << indexed;
    }
    EXPECT_EQ(awaitCompletion<std::optional<QString>>([&](auto done) { db.getOCRText(r.id, done); }),
        std::optional<QString>("written after the repair"));
}

INSTANTIATE_TEST_SUITE_P(Tables, MissingTable, ::testing::Values("ocr_text", "recordings"));

TEST(TextIndexRepair, AnIndexThatMissedRowsIsRebuiltAtOpen)
{
    TempHome home;
    writeHistory(20);
    {
        // Rows stored while the index's trigger was gone (an older program, a damaged schema).
        RawDatabase raw(dbPath(home));
        raw.exec("DROP TRIGGER ocr_text_search_after_insert");
        raw.exec("INSERT INTO ocr_text (recording_id, text, timestamp) "
                 "SELECT id, 'zebra crossing', 0 FROM recordings WHERE timestamp = 1005");
    }
    LogCapture log(LogCapture::Verbosity::quiet);
    SimpleDatabaseManager db;
    db.waitUntilIdle();
    EXPECT_TRUE(log.contains("The search index disagrees with the stored text: rebuilding it"));
    RawDatabase raw(dbPath(home));
    EXPECT_EQ(raw.integer("SELECT count(*) FROM ocr_text_search_keys"), 21);
    const std::vector<Recording> found = search(db, "zebra");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(secondsSince1970(found[0].timestamp), 1005.0);
}

TEST(LockedDatabase, AnOpenRefusedByALockIsRetriedAndRowsWrittenMeanwhileAreStored)
{
    TempHome home;
    writeHistory(1);
    LogCapture log(LogCapture::Verbosity::quiet);
    Recording r = makeRecording(2000, "/p/during-lock.webp");
    {
        // Longer than the open's wait for the lock, so that the first open fails.
        LockHolder lock(dbPath(home), std::chrono::milliseconds(3500));
        SimpleDatabaseManager db;
        EXPECT_FALSE(db.isOpen());
        EXPECT_TRUE(saveRecording(db, r));
        db.saveOCRText(r.id, "typed while locked", r.timestamp);
        db.waitUntilIdle();
        EXPECT_EQ(db.pendingWriteCount(), 2u);
        EXPECT_TRUE(exists(db, r.id)) << "a kept row counts as stored";
        ASSERT_TRUE(eventually([&] { return db.isOpen() && db.pendingWriteCount() == 0; }, std::chrono::seconds(30)));
        EXPECT_EQ(ids(search(db, "while locked")), QStringList { r.idText() });
    }
    EXPECT_EQ(rowsIn(home, "recordings"), 2);
    EXPECT_EQ(rowsIn(home, "ocr_text"), 2);
    EXPECT_TRUE(log.contains("Wrote 2 rows kept from failed writes (0 still waiting)")) << log.text().toStdString();
}

TEST(LockedDatabase, AWriteRefusedByALockIsKeptAndWrittenOnceTheLockGoes)
{
    TempHome home;
    SimpleDatabaseManager db;
    ASSERT_TRUE(db.isOpen());
    db.waitUntilIdle();
    const Recording r = makeRecording(100, "/p/a.webp");
    {
        LockHolder lock(dbPath(home), std::chrono::milliseconds(3000));
        EXPECT_TRUE(saveRecording(db, r));
        EXPECT_EQ(db.pendingWriteCount(), 1u);
    }
    ASSERT_TRUE(eventually([&] { return db.pendingWriteCount() == 0; }, std::chrono::seconds(30)));
    EXPECT_EQ(rowsIn(home, "recordings"), 1);
}

TEST(UnwritableDatabase, AWriteIntoAReadOnlyFolderIsWrittenOnceItIsWritableAgain)
{
    TempHome home;
    SimpleDatabaseManager db;
    ASSERT_TRUE(db.isOpen());
    db.waitUntilIdle();
    ReadOnlyFolder readOnly(home.pelluxFolder());
    if (!readOnly.applied())
        GTEST_SKIP() << "cannot make the folder read-only here";
    LogCapture log(LogCapture::Verbosity::quiet);
    const Recording r = makeRecording(100, "/p/a.webp");
    EXPECT_TRUE(saveRecording(db, r));
    db.saveOCRText(r.id, "kept text", r.timestamp);
    db.waitUntilIdle();
    EXPECT_EQ(db.pendingWriteCount(), 2u);
    EXPECT_EQ(log.linesStartingWith("ERROR saveRecordingWithDeltaFrame: ").size(), 1) << log.text().toStdString();
    readOnly.release();
    ASSERT_TRUE(eventually([&] { return db.pendingWriteCount() == 0; }, std::chrono::seconds(30)));
    EXPECT_EQ(ids(search(db, "kept text")), QStringList { r.idText() });
}
