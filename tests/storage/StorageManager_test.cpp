#include "persistence/DatabaseTestSupport.h"
#include "persistence/RecordingJson.h"
#include "persistence/SimpleDatabaseManager.h"
#include "storage/StorageManager.h"
#include "storage/StorageTestSupport.h"
#include "support/FakeClock.h"
#include "support/FileSizeLimit.h"
#include "support/ListedRecordings.h"

#include <qcorotask.h>

using namespace pellux;
using namespace pellux::test;

namespace {

// Ids in list order, as text gtest prints readably.
std::string order(const std::vector<Recording> &recordings)
{
    QStringList out;
    for (const Recording &r : recordings)
        out << r.idText();
    return out.join(QLatin1Char(' ')).toStdString();
}

class StorageManagerTest : public ::testing::Test {
protected:
    std::optional<Recording> save(StorageManager &store, const QByteArray &data, TimePoint t,
        std::optional<QString> app = QStringLiteral("Kate"), std::optional<QString> hash = QStringLiteral("h1"),
        bool isDelta = false)
    {
        return QCoro::waitFor(
            store.saveScreenshot(data, t, 0, app, QStringLiteral("notes.txt"), hash, isDelta, std::nullopt, 2.5));
    }
    Recording saved(StorageManager &store, int hour, int second, const QString &app = QStringLiteral("Kate"))
    {
        const std::optional<Recording> r = save(store, jpegBytes(), localTime(2024, 3, 5, hour, 0, second), app);
        EXPECT_TRUE(r);
        return r.value_or(Recording {});
    }

    // The list file's entries, newest first as the store presents them.
    std::vector<Recording> metadataOnDisk() const
    {
        std::vector<Recording> list = decodeRecordings(readAll(metadataPath())).value_or(std::vector<Recording> {});
        std::stable_sort(
            list.begin(), list.end(), [](const Recording &a, const Recording &b) { return a.timestamp > b.timestamp; });
        return list;
    }
    QString metadataPath() const { return home.pelluxFolder() + QStringLiteral("/Recordings/metadata.json"); }

    TempHome home;
    FakeClock clock { localTime(2024, 3, 5, 14, 7, 9) };
    RecordingIndexStub index;
};

} // namespace

TEST_F(StorageManagerTest, SavesWritePrivateFilesEntriesAndRowsUnderTheirOwnNames)
{
    const mode_t savedMask = ::umask(0); // private whatever the umask
    StorageManager store(index, clock);
    QSignalSpy listChanged(&store, &StorageManager::recordingsChanged);
    const TimePoint t = localTime(2024, 3, 5, 14, 7, 9);
    const QString app = QStringLiteral("My App/Beta");
    const QByteArray data = jpegBytes(300);
    // Frames of one application in one second keep their own files.
    const std::optional<Recording> first = save(store, data, t, app);
    const std::optional<Recording> second = save(store, jpegBytes(200), t, app);
    const std::optional<Recording> third = save(store, jpegBytes(100), t, app);
    const std::optional<Recording> webp
        = save(store, webpBytes(), localTime(2024, 3, 5, 15, 0, 0), std::nullopt, std::nullopt, true);
    ::umask(savedMask);
    ASSERT_TRUE(first && second && third && webp);

    const QString pellux = home.pelluxFolder();
    const QString hour = pellux + QStringLiteral("/Screenshots/2024/03/05/14");
    EXPECT_EQ(first->localPath(), hour + QStringLiteral("/20240305_140709_My_App_Beta.jpg"));
    EXPECT_EQ(third->localPath(), hour + QStringLiteral("/20240305_140709_My_App_Beta_3.jpg"));
    EXPECT_TRUE(webp->localPath().endsWith(QStringLiteral("/2024/03/05/15/20240305_150000_unknown.webp")));
    EXPECT_EQ(readAll(first->localPath()), data);
    EXPECT_EQ(readAll(third->localPath()).size(), 100);
    EXPECT_EQ(first->appName, app); // the recording keeps the real name
    for (const QString &folder : { pellux, pellux + QStringLiteral("/Recordings"), hour })
        EXPECT_EQ(modeOf(folder), 0700) << folder.toStdString();
    EXPECT_EQ(modeOf(metadataPath()), 0600);
    EXPECT_EQ(modeOf(first->localPath()), 0600);

    ASSERT_EQ(index.saved.size(), 4u);
    EXPECT_EQ(index.saved[0].recording.id, first->id);
    EXPECT_EQ(index.saved[0].fileSize, 300);
    EXPECT_EQ(index.saved[0].compressionRatio, 2.5);
    EXPECT_GE(listChanged.count(), 1);
    EXPECT_GT(store.storageUsed(), 600);
    // Newest first; equal times keep the order they were saved in.
    EXPECT_EQ(order(test::listedRecordings(store)), order({ *webp, *first, *second, *third }));
    EXPECT_EQ(order(metadataOnDisk()), order(test::listedRecordings(store)));
}

TEST_F(StorageManagerTest, ASaveTheFolderOrTheDatabaseRefusesLeavesNothingBehind)
{
    LogCapture log;
    StorageManager store(index, clock);
    // A file where the year folder should be: the hour folder cannot be made (also for root).
    ASSERT_TRUE(writeAll(store.screenshotsDirectory() + QStringLiteral("/2023"), "in the way"));
    EXPECT_FALSE(save(store, jpegBytes(), localTime(2023, 3, 5, 14, 7, 9)));
    EXPECT_TRUE(index.saved.empty());
    EXPECT_FALSE(QFileInfo::exists(metadataPath()));

    index.acceptRows = false;
    EXPECT_FALSE(save(store, jpegBytes(), localTime(2024, 3, 5, 14, 7, 9)));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR StorageManager: Failed to save recording to database")));
    // A frame search could never find is not kept half-way: the capture stores it again.
    EXPECT_TRUE(test::listedRecordings(store).empty());
    EXPECT_TRUE(metadataOnDisk().empty());
    EXPECT_FALSE(
        QFileInfo::exists(store.screenshotsDirectory() + QStringLiteral("/2024/03/05/14/20240305_140709_Kate.jpg")));
}

TEST_F(StorageManagerTest, AFullDiskFailsTheSaveAndLosesNothingStored)
{
    StorageManager store(index, clock);
    // Enough entries for a list file of several kilobytes.
    for (int i = 0; i < 30; ++i)
        saved(store, 14, i);
    const QByteArray listBefore = readAll(metadataPath());
    ASSERT_GT(listBefore.size(), 8000);
    const std::string before = order(test::listedRecordings(store));

    // The image itself does not fit; then the image fits and the list file does not: the save is undone.
    for (const auto &[limit, hour] : { std::pair { 1000, 15 }, std::pair { 4000, 16 } }) {
        {
            FileSizeLimit full(limit);
            EXPECT_FALSE(save(store, jpegBytes(limit == 1000 ? 5000 : 500), localTime(2024, 3, 5, hour, 0, 0)));
        }
        EXPECT_FALSE(QFileInfo::exists(store.screenshotsDirectory()
            + QStringLiteral("/2024/03/05/%1/20240305_%2_Kate.jpg").arg(hour).arg(hour * 10000)));
    }
    EXPECT_EQ(order(test::listedRecordings(store)), before);
    EXPECT_TRUE(readAll(metadataPath()) == listBefore);
    // No row for the first failed save; the second's row is deleted again with its entry.
    ASSERT_EQ(index.saved.size(), 31u);
    EXPECT_EQ(index.deleted, std::vector<QUuid> { index.saved.back().recording.id });

    // With room again, saving works and keeps every earlier entry.
    saved(store, 17, 0);
    EXPECT_EQ(metadataOnDisk().size(), 31u);
}

// Starting reads only the end of the list: the count is the database's, the figure comes from a
// walk of the disk (files and folders, not hidden ones) and is kept current by saves.
TEST_F(StorageManagerTest, StartingAsksTheDatabaseForTheCountAndWalksTheDiskOnlyWhenAsked)
{
    {
        StorageManager store(index, clock);
        saved(store, 14, 1);
        saved(store, 14, 2);
    }
    const QString root = home.pelluxFolder() + QStringLiteral("/Screenshots");
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/.trash/deep")));
    ASSERT_TRUE(writeAll(root + QStringLiteral("/2024/03/05/14/.hidden"), QByteArray(5000, 'h')));
    ASSERT_TRUE(writeAll(root + QStringLiteral("/.trash/deep/b.jpg"), QByteArray(7000, 'b')));
    StorageManager again(index, clock);
    QSignalSpy counted(&again, &StorageManager::recordingsChanged);
    ASSERT_TRUE(again.recordingCount() == 2 || counted.wait(5000));
    EXPECT_EQ(again.recordingCount(), 2);
    EXPECT_EQ(again.storageUsed(), 0);
    EXPECT_EQ(again.storageUpdateTimer().interval(), 30000);
    EXPECT_TRUE(again.storageUpdateTimer().isActive());

    qint64 expected = 2 * jpegBytes().size() + QFileInfo(metadataPath()).size();
    for (const char *f : { "/2024", "/2024/03", "/2024/03/05", "/2024/03/05/14" })
        expected += QFileInfo(root + QLatin1String(f)).size();
    QCoro::waitFor(again.calculateStorageUsed());
    EXPECT_EQ(again.storageUsed(), expected);
    const qint64 listBefore = QFileInfo(metadataPath()).size();
    save(again, jpegBytes(500), localTime(2024, 3, 5, 14, 7, 11));
    EXPECT_EQ(again.recordingCount(), 3);
    EXPECT_EQ(again.storageUsed(), expected + 500 + QFileInfo(metadataPath()).size() - listBefore);
}

TEST_F(StorageManagerTest, OpeningRemovesListTemporariesACrashLeftButNotOnesBeingWritten)
{
    {
        StorageManager store(index, clock);
        saved(store, 14, 1);
    }
    const struct {
        const char *name;
        TimePoint modified;
        bool kept;
    } files[] = {
        { ".metadata.json.tmp-Ab3xQz", localTime(2024, 3, 5, 12, 0, 0), false }, // left by a crash
        { ".metadata.json.tmp-Zq9rTy", localTime(2024, 3, 5, 14, 7, 0), true }, // a write under way
        { "metadata.json.backup", localTime(2024, 1, 1, 0, 0, 0), true }, // the user's own copy
        { "metadata.json.corrupt-20240101-000000", localTime(2024, 1, 1, 0, 0, 0), true },
    };
    const QString folder = home.pelluxFolder() + QStringLiteral("/Recordings/");
    for (const auto &f : files) {
        QFile file(folder + QLatin1String(f.name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[");
        file.flush();
        ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(f.modified) * 1000)),
            QFileDevice::FileModificationTime));
    }
    StorageManager again(index, clock);
    EXPECT_EQ(test::listedRecordings(again).size(), 1u);
    for (const auto &f : files)
        EXPECT_EQ(QFile::exists(folder + QLatin1String(f.name)), f.kept) << f.name;
}

TEST_F(StorageManagerTest, AnUnreadableListIsKeptAsideAndRebuilt)
{
    std::vector<Recording> abc;
    {
        StorageManager store(index, clock);
        for (int i = 1; i <= 3; ++i)
            abc.push_back(saved(store, 14, i, QString(QChar(u'A' + i - 1))));
    }
    // As if a write had stopped half-way through the newest entry.
    const QByteArray whole = readAll(metadataPath());
    const QByteArray cut = whole.left(whole.lastIndexOf("\"filePath\""));
    ASSERT_TRUE(writeAll(metadataPath(), cut));

    LogCapture log;
    StorageManager store(index, clock);
    const QString aside = metadataPath() + QStringLiteral(".corrupt-20240305_140709");
    EXPECT_EQ(readAll(aside), cut);
    EXPECT_EQ(modeOf(aside), 0600);
    EXPECT_TRUE(log.text().contains(QStringLiteral("2 entries recovered, 1 skipped, 1 added from image files")));

    // A and B come back whole; C from its file, under a new id and without its details.
    const std::vector<Recording> listed = test::listedRecordings(store);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(order({ listed[1], listed[2] }), order({ abc[1], abc[0] }));
    EXPECT_EQ(listed[0].localPath(), abc[2].localPath());
    EXPECT_EQ(listed[0].timestamp, abc[2].timestamp);
    EXPECT_NE(listed[0].id, abc[2].id);
    // The rebuilt list is on disk once the queued write has run.
    QCoro::waitFor(store.calculateStorageUsed());
    EXPECT_EQ(order(metadataOnDisk()), order(listed));
}

// A list that does not end as one is set aside at start and rebuilt from the image files; one
// that ends well but holds an element that is not a recording is set aside when it is next
// written whole, keeping what can be read.
TEST_F(StorageManagerTest, GarbageInTheListFileIsKeptAndWhatCanBeReadListed)
{
    Recording first;
    {
        StorageManager store(index, clock);
        first = saved(store, 14, 1);
    }
    const QByteArray whole = readAll(metadataPath());
    const QByteArray entry = whole.mid(whole.indexOf('{'), whole.lastIndexOf('}') - whole.indexOf('{') + 1);
    const std::pair<QByteArray, bool> cases[] = { // the bytes, and whether a start sets them aside
        { "{\"not\": \"a list\"}", true }, { "", true }, { "[" + entry + ",{\"id\": 3}]", false }
    };
    int setAside = 0;
    for (const auto &[bytes, atStart] : cases) {
        SCOPED_TRACE(bytes.toStdString());
        ASSERT_TRUE(writeAll(metadataPath(), bytes));
        clock.advance(1);
        StorageManager store(index, clock);
        if (!atStart)
            QCoro::waitFor(store.deleteRecordings({}));
        const std::vector<Recording> listed = metadataOnDisk();
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].localPath(), first.localPath()); // at start, from its image file
        EXPECT_EQ(QDir(QFileInfo(metadataPath()).path()).entryList({ "metadata.json.corrupt-*" }).size(), ++setAside);
    }
}

TEST_F(StorageManagerTest, DeletingAllEmptiesTheFolderListFileAndFigureButKeepsFramesSavedMeanwhile)
{
    StorageManager store(index, clock);
    QCoro::waitFor(store.deleteAllRecordings());
    EXPECT_EQ(QJsonDocument::fromJson(readAll(metadataPath())), QJsonDocument(QJsonArray()));
    EXPECT_EQ(store.storageUsed(), 0);

    const Recording a = saved(store, 14, 1);
    const Recording b = *save(store, webpBytes(), localTime(2024, 3, 5, 15, 0, 1));
    // What no list names goes too: a backup, a stray file, a file in a folder of its own, the
    // damaged list set aside. A link is removed, never followed.
    const QString hour = QFileInfo(a.localPath()).path();
    const QString precious = home.path() + QStringLiteral("/Documents/thesis.odt");
    ASSERT_TRUE(writeAll(precious, "years of work"));
    ASSERT_TRUE(QDir().mkpath(store.screenshotsDirectory() + QStringLiteral("/2023/01")));
    for (const QString &stray : { hour + QStringLiteral("/not-ours.txt"), hour + QStringLiteral("/x.jpg.bak"),
             store.screenshotsDirectory() + QStringLiteral("/2023/01/old.webp") })
        ASSERT_TRUE(writeAll(stray, "x"));
    ASSERT_TRUE(QFile::link(precious, hour + QStringLiteral("/link.jpg")));
    const QString setAside = metadataPath() + QStringLiteral(".corrupt-2024-03-05_14-00-00");
    ASSERT_TRUE(writeAll(setAside, "[{"));
    ASSERT_GT(store.storageUsed(), 0);

    // A frame saved while the deletion runs keeps its file and entry.
    QCoro::Task<bool> deleting = store.deleteAllRecordings();
    const std::optional<Recording> during = save(store, jpegBytes(), localTime(2024, 3, 5, 16, 0, 1));
    QCoro::waitFor(deleting);
    ASSERT_TRUE(during);
    EXPECT_EQ(test::listedRecordings(store).size(), 1u);
    QStringList left;
    QDirIterator it(store.screenshotsDirectory(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        left << it.next().mid(store.screenshotsDirectory().size());
    left.sort();
    const QString duringFile = during->localPath().mid(store.screenshotsDirectory().size());
    EXPECT_EQ(left,
        QStringList({ QStringLiteral("/2024"), QStringLiteral("/2024/03"), QStringLiteral("/2024/03/05"),
            QFileInfo(duringFile).path(), duringFile }));
    EXPECT_FALSE(QFileInfo::exists(setAside));
    EXPECT_TRUE(QFileInfo::exists(precious));
    EXPECT_EQ(QSet<QUuid>(index.deleted.begin(), index.deleted.end()), (QSet<QUuid> { b.id, a.id }));
}

TEST_F(StorageManagerTest, ApplicationsChangeWhenASaveBringsANewNameAndAfterEveryDeletion)
{
    StorageManager store(index, clock);
    QSignalSpy changed(&store, &StorageManager::applicationsChanged);
    const auto saveAs = [&](std::optional<QString> app) {
        return save(store, jpegBytes(), localTime(2024, 3, 5, 14, 7, 9), std::move(app));
    };
    const std::tuple<std::optional<QString>, bool, int> steps[] = { // name, row accepted, signals after
        { "Kate", true, 1 }, { "Kate", true, 1 }, { std::nullopt, true, 1 },
        { "kate", true, 2 }, // names are case-sensitive
        { "Okular", false, 2 }, // the database refused the row: no new name there
        { "Okular", true, 3 }
    };
    std::optional<Recording> last;
    for (const auto &[app, accepted, signalsAfter] : steps) {
        index.acceptRows = accepted;
        last = saveAs(app);
        EXPECT_EQ(changed.count(), signalsAfter) << app.value_or("(none)").toStdString();
    }
    index.acceptRows = true;

    QSignalSpy deleted(&store, &StorageManager::recordingsDeleted);
    store.deleteRecording(*last);
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_EQ(changed.count(), 4);
    // After a deletion every name is in doubt until the names are asked for again.
    ASSERT_TRUE(saveAs(QStringLiteral("Kate")));
    EXPECT_EQ(changed.count(), 5);
    EXPECT_TRUE(QCoro::waitFor(store.uniqueApps()).names.contains(QStringLiteral("kate")));
    ASSERT_TRUE(saveAs(QStringLiteral("kate")));
    EXPECT_EQ(changed.count(), 5);
    QCoro::waitFor(store.deleteAllRecordings());
    EXPECT_EQ(changed.count(), 6);
}

// The store together with the real database file: what is saved can be found, what is deleted can
// no longer be found, a row the database keeps for later keeps its frame, and a deletion the
// database refuses is reported as failed.
class StorageWithDatabase : public DatabaseTest {
protected:
    std::optional<Recording> save(TimePoint t)
    {
        return QCoro::waitFor(store.saveScreenshot(jpegBytes(), t, 0, QStringLiteral("Kate"),
            QStringLiteral("report.odt"), std::nullopt, false, std::nullopt, 3.0));
    }

    FakeClock clock { localTime(2024, 3, 5, 14, 7, 9) };
    DatabaseRecordingIndex index { db() };
    StorageManager store { index, clock };
};

// Files, entries, rows and their text go, by a strict calendar cutoff, and nothing outside the
// screenshots; a deletion the database refuses leaves the rows, says so, and is no finished deletion.
TEST_F(StorageWithDatabase, DeletingRemovesFilesEntriesRowsAndTextButNothingElse)
{
    const QDateTime now(QDate(2024, 3, 5), QTime(14, 7, 9));
    const auto at = [](const QDateTime &t) { return fromSecondsSince1970(double(t.toSecsSinceEpoch())); };
    clock.set(at(now));
    std::vector<Recording> r; // older than a week, just within it, now, and one to delete alone
    for (const QDateTime &t : { now.addDays(-7).addSecs(-1), now.addDays(-7).addSecs(1), now, now.addSecs(1) }) {
        r.push_back(*save(at(t)));
        db().saveOCRText(r.back().id, QStringLiteral("quarterly figures"), r.back().timestamp);
    }
    const auto found = [&] { return search(db(), QStringLiteral("quarterly")).size(); };
    ASSERT_EQ(found(), 4u);
    const QString backup = r[3].localPath() + QStringLiteral(".bak");
    ASSERT_TRUE(writeAll(backup, "older copy"));

    QSignalSpy deleted(&store, &StorageManager::recordingsDeleted);
    store.deleteRecording(r[3]);
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_EQ(deleted.at(0).at(0).toInt(), 1);
    EXPECT_FALSE(QFileInfo::exists(r[3].localPath()) || QFileInfo::exists(backup) || exists(db(), r[3].id));
    EXPECT_EQ(found(), 3u);
    store.deleteOldRecordings(7);
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_EQ(order(test::listedRecordings(store)), order({ r[2], r[1] }));
    EXPECT_FALSE(QFileInfo::exists(r[0].localPath()) || exists(db(), r[0].id));
    EXPECT_TRUE(QFileInfo::exists(r[1].localPath()) && exists(db(), r[1].id));
    EXPECT_EQ(found(), 2u);

    LogCapture log(LogCapture::Verbosity::quiet);
    store.deleteOldRecordings(-1); // never "everything before next week"
    EXPECT_EQ(test::listedRecordings(store).size(), 2u);
    EXPECT_EQ(log.lines().size(), 1);
    // A hand-edited list that points elsewhere must not remove the user's own files or folders.
    const QString precious = home.path() + QStringLiteral("/Documents/thesis.odt");
    ASSERT_TRUE(writeAll(precious, "years of work"));
    std::vector<Recording> strangers(2);
    strangers[0].filePath = QUrl::fromLocalFile(precious);
    strangers[1].filePath = QUrl::fromLocalFile(store.screenshotsDirectory() + QStringLiteral("/2024"));
    for (Recording &stranger : strangers)
        stranger.id = QUuid::createUuid();
    QCoro::waitFor(store.deleteRecordings(strangers));
    EXPECT_TRUE(QFileInfo::exists(precious) && QFileInfo::exists(r[1].localPath()));
    EXPECT_EQ(log.linesStartingWith(QStringLiteral("ERROR StorageManager: Failed to delete screenshot: ")).size(), 2);

    raw().exec("CREATE TRIGGER refuse BEFORE DELETE ON recordings BEGIN SELECT RAISE(ABORT, 'refused'); END");
    deleted.clear();
    EXPECT_FALSE(QCoro::waitFor(store.deleteAllRecordings()));
    EXPECT_TRUE(log.contains("ERROR StorageManager: Failed to delete 2 recordings from the database"))
        << log.text().toStdString();
    EXPECT_EQ(deleted.count(), 0);
    EXPECT_TRUE(exists(db(), r[2].id));
    raw().exec("DROP TRIGGER refuse");
    EXPECT_TRUE(QCoro::waitFor(store.deleteAllRecordings()));
    EXPECT_EQ(deleted.count(), 1);
    EXPECT_EQ(found(), 0u);
}

// A row the database keeps in memory while the file is locked is not written yet; the frame and
// its list entry stay, and the row and its text land once the lock goes.
TEST_F(StorageWithDatabase, AFrameWhoseRowIsPendingIsKeptAndItsRowWrittenLater)
{
    db().waitUntilIdle();
    std::optional<Recording> r;
    {
        LockHolder lock(path(), std::chrono::milliseconds(3500));
        r = save(localTime(2024, 3, 5, 14, 7, 1));
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
