#include "persistence/DatabaseTestSupport.h"
#include "persistence/RecordingJson.h"
#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "storage/StorageTestSupport.h"
#include "support/FakeClock.h"
#include "support/FileSizeLimit.h"
#include "support/ListedRecordings.h"

using namespace pellux;
using namespace pellux::test;

namespace {

// Ids in list order, as text gtest prints readably.
std::string order(const std::vector<Recording> &recordings)
{
    return ids(recordings).join(QLatin1Char(' ')).toStdString();
}

// The store on the real database in a private home.
class StorageManagerTest : public DatabaseTest {
protected:
    std::optional<Recording> save(StorageManager &store, const QByteArray &data, TimePoint t,
        std::optional<QString> app = QStringLiteral("Kate"), bool isDelta = false)
    {
        return QCoro::waitFor(store.saveScreenshot(
            data, t, 0, app, QStringLiteral("notes.txt"), QStringLiteral("h1"), isDelta, std::nullopt, 2.5));
    }
    Recording saved(StorageManager &store, int hour, int second, const QString &app = QStringLiteral("Kate"))
    {
        const std::optional<Recording> r = save(store, jpegBytes(), localTime(2024, 3, 5, hour, 0, second), app);
        EXPECT_TRUE(r);
        return r.value_or(Recording {});
    }
    // The database refuses every new row (true) or none.
    void refuseRows(bool refuse)
    {
        raw().exec(refuse ? "CREATE TRIGGER refuse BEFORE INSERT ON recordings BEGIN SELECT RAISE(ABORT, 'no'); END"
                          : "DROP TRIGGER refuse");
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

    FakeClock clock { localTime(2024, 3, 5, 14, 7, 9) };
    DatabaseRecordingIndex index { db() };
};

} // namespace

TEST_F(StorageManagerTest, SavesWritePrivateFilesEntriesAndRowsUnderTheirOwnNames)
{
    const mode_t savedMask = ::umask(0); // private whatever the umask
    StorageManager store(index, clock);
    const TimePoint t = localTime(2024, 3, 5, 14, 7, 9);
    const QString app = QStringLiteral("My App/Beta");
    // Frames of one application in one second keep their own files.
    const std::optional<Recording> first = save(store, jpegBytes(300), t, app);
    const std::optional<Recording> second = save(store, jpegBytes(200), t, app);
    const std::optional<Recording> third = save(store, jpegBytes(100), t, app);
    const std::optional<Recording> webp = save(store, webpBytes(), localTime(2024, 3, 5, 15, 0, 0), std::nullopt, true);
    ::umask(savedMask);
    ASSERT_TRUE(first && second && third && webp);

    const QString pellux = home.pelluxFolder();
    const QString hour = pellux + QStringLiteral("/Screenshots/2024/03/05/14");
    EXPECT_EQ(first->localPath(), hour + QStringLiteral("/20240305_140709_My_App_Beta.jpg"));
    EXPECT_EQ(third->localPath(), hour + QStringLiteral("/20240305_140709_My_App_Beta_3.jpg"));
    EXPECT_TRUE(webp->localPath().endsWith(QStringLiteral("/2024/03/05/15/20240305_150000_unknown.webp")));
    EXPECT_EQ(readAll(first->localPath()), jpegBytes(300));
    for (const QString &folder : { pellux, pellux + QStringLiteral("/Recordings"), hour })
        EXPECT_EQ(modeOf(folder), 0700) << folder.toStdString();
    EXPECT_EQ(modeOf(metadataPath()), 0600);
    EXPECT_EQ(modeOf(first->localPath()), 0600);

    EXPECT_EQ(raw().strings(
                  "SELECT id || ' ' || file_size || ' ' || compression_ratio FROM recordings ORDER BY rowid LIMIT 1"),
        QStringList { first->idText() + " 300 2.5" });
    // Newest first; equal times keep the order they were saved in.
    EXPECT_EQ(order(test::listedRecordings(store)), order({ *webp, *first, *second, *third }));
    EXPECT_EQ(order(metadataOnDisk()), order(test::listedRecordings(store)));
}

// A folder that cannot be made, a row the database refuses, an image that does not fit on the disk,
// a list file that takes no entry: the save fails and leaves no file, no entry and no row behind.
TEST_F(StorageManagerTest, AFailedSaveLeavesNothingBehindAndLosesNothingStored)
{
    LogCapture log;
    StorageManager store(index, clock);
    for (int i = 0; i < 30; ++i)
        saved(store, 14, i);
    const QByteArray listBefore = readAll(metadataPath());
    const QByteArray cutShort = listBefore.left(listBefore.lastIndexOf(']')); // as if another writer stopped
    const std::string before = order(test::listedRecordings(store));
    // A file where the year folder should be: the hour folder cannot be made (also for root).
    ASSERT_TRUE(writeAll(store.screenshotsDirectory() + QStringLiteral("/2023"), "in the way"));
    const struct {
        int year, hour;
        bool rowRefused;
        rlim_t diskLimit; // 0: no limit
        bool listCut;
    } cases[] = {
        { 2023, 14, false, 0, false }, { 2024, 15, true, 0, false }, { 2024, 16, false, 1000, false },
        { 2024, 17, false, 0, true }, // the image and row are written, the list refuses: the row is deleted again
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hour);
        if (c.rowRefused)
            refuseRows(true);
        if (c.listCut) {
            ASSERT_TRUE(writeAll(metadataPath(), cutShort));
        }
        {
            std::optional<FileSizeLimit> full;
            if (c.diskLimit)
                full.emplace(c.diskLimit);
            EXPECT_FALSE(save(store, jpegBytes(5000), localTime(c.year, 3, 5, c.hour, 0, 0)));
        }
        const QString y = QString::number(c.year), h = QString::number(c.hour);
        EXPECT_FALSE(QFileInfo::exists(
            store.screenshotsDirectory() + "/" + y + "/03/05/" + h + "/" + y + "0305_" + h + "0000_Kate.jpg"));
        EXPECT_TRUE(readAll(metadataPath()) == (c.listCut ? cutShort : listBefore));
        ASSERT_TRUE(writeAll(metadataPath(), listBefore));
        EXPECT_EQ(order(test::listedRecordings(store)), before);
        EXPECT_EQ(raw().integer("SELECT count(*) FROM recordings"), 30);
        if (c.rowRefused)
            refuseRows(false);
    }
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR StorageManager: Failed to save recording to database")));
    // Saving works again and keeps every earlier entry.
    saved(store, 18, 0);
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

// Opening removes the list's temporaries a crash left, but not one being written. A list that does
// not end as one is set aside byte for byte at start and rebuilt: what can be read keeps its
// identity, the rest comes from the image files under new ids. One that ends well but holds an
// element that is not a recording is set aside when it is next written whole.
TEST_F(StorageManagerTest, OpeningRemovesLeftTemporariesAndADamagedListIsKeptAsideAndRebuilt)
{
    std::vector<Recording> abc;
    {
        StorageManager store(index, clock);
        for (int i = 1; i <= 3; ++i)
            abc.push_back(saved(store, 14, i, QString(QChar(u'A' + i - 1))));
    }
    const struct {
        const char *name;
        TimePoint modified;
        bool kept;
    } files[] = {
        { ".metadata.json.tmp-Ab3xQz", localTime(2024, 3, 5, 12, 0, 0), false }, // left by a crash
        { ".metadata.json.tmp-Zq9rTy", localTime(2024, 3, 5, 14, 7, 0), true }, // a write under way
        { "metadata.json.backup", localTime(2024, 1, 1, 0, 0, 0), true }, // the user's own copy
    };
    const QString folder = home.pelluxFolder() + QStringLiteral("/Recordings/");
    for (const auto &f : files) {
        QFile file(folder + QLatin1String(f.name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("[") == 1 && file.flush());
        ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(f.modified) * 1000)),
            QFileDevice::FileModificationTime));
    }
    {
        StorageManager again(index, clock);
        EXPECT_EQ(test::listedRecordings(again).size(), 3u);
        for (const auto &f : files)
            EXPECT_EQ(QFile::exists(folder + QLatin1String(f.name)), f.kept) << f.name;
    }
    const QByteArray whole = readAll(metadataPath());
    const struct {
        QByteArray bytes;
        int keepIdentity; // how many of the oldest entries keep their ids
    } cases[] = {
        { whole.left(whole.lastIndexOf("\"filePath\"")), 2 }, // a write stopped inside the newest entry
        { "{\"not\": \"a list\"}", 0 },
        { "", 0 },
        { whole.left(whole.lastIndexOf(']')) + ",{\"id\": 3}]", 3 },
    };
    qsizetype aside = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes.left(20).toStdString());
        ASSERT_TRUE(writeAll(metadataPath(), c.bytes));
        clock.advance(1);
        LogCapture log;
        StorageManager store(index, clock);
        QCoro::waitFor(store.deleteRecordings({}));
        EXPECT_EQ(QDir(QFileInfo(metadataPath()).path()).entryList({ "metadata.json.corrupt-*" }).size(), ++aside);
        const std::vector<Recording> listed = metadataOnDisk();
        ASSERT_EQ(listed.size(), 3u);
        EXPECT_EQ(order(test::listedRecordings(store)), order(listed));
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(listed[size_t(2 - i)].localPath(), abc[size_t(i)].localPath());
            EXPECT_EQ(listed[size_t(2 - i)].id == abc[size_t(i)].id, i < c.keepIdentity) << i;
        }
        if (aside == 1) {
            const QString file = metadataPath() + QStringLiteral(".corrupt-20240305_140710");
            EXPECT_EQ(readAll(file), c.bytes);
            EXPECT_EQ(modeOf(file), 0600);
            EXPECT_TRUE(
                log.text().contains(QStringLiteral("2 entries recovered, 1 skipped, 1 added from image files")));
        }
    }
}

TEST_F(StorageManagerTest, DeletingAllEmptiesTheFolderListFileAndFigureButKeepsFramesSavedMeanwhile)
{
    StorageManager store(index, clock);
    const Recording a = saved(store, 14, 1);
    ASSERT_TRUE(save(store, webpBytes(), localTime(2024, 3, 5, 15, 0, 1)));
    // What no list names goes too: a backup, a stray file, a file in a folder of its own, the
    // damaged list set aside. A link is removed, never followed.
    const QString hour = QFileInfo(a.localPath()).path();
    const QString precious = home.path() + QStringLiteral("/Documents/thesis.odt");
    ASSERT_TRUE(writeAll(precious, "years of work"));
    const QString setAside = metadataPath() + QStringLiteral(".corrupt-2024-03-05_14-00-00");
    ASSERT_TRUE(QDir().mkpath(store.screenshotsDirectory() + QStringLiteral("/2023/01")));
    for (const QString &stray : { hour + QStringLiteral("/not-ours.txt"), hour + QStringLiteral("/x.jpg.bak"),
             store.screenshotsDirectory() + QStringLiteral("/2023/01/old.webp"), setAside })
        ASSERT_TRUE(writeAll(stray, "x"));
    ASSERT_TRUE(QFile::link(precious, hour + QStringLiteral("/link.jpg")));

    // A frame saved while the deletion runs keeps its file and entry.
    QCoro::Task<bool> deleting = store.deleteAllRecordings();
    const std::optional<Recording> during = save(store, jpegBytes(), localTime(2024, 3, 5, 16, 0, 1));
    QCoro::waitFor(deleting);
    ASSERT_TRUE(during);
    EXPECT_EQ(order(test::listedRecordings(store)), order({ *during }));
    QStringList left;
    QDirIterator it(store.screenshotsDirectory(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        left << it.next().mid(store.screenshotsDirectory().size());
    left.sort();
    const QString duringFile = during->localPath().mid(store.screenshotsDirectory().size());
    EXPECT_EQ(left, QStringList({ "/2024", "/2024/03", "/2024/03/05", QFileInfo(duringFile).path(), duringFile }));
    EXPECT_TRUE(!QFileInfo::exists(setAside) && QFileInfo::exists(precious));
    EXPECT_EQ(raw().strings("SELECT id FROM recordings"), QStringList { during->idText() });

    QCoro::waitFor(store.deleteAllRecordings());
    EXPECT_EQ(QJsonDocument::fromJson(readAll(metadataPath())), QJsonDocument(QJsonArray()));
    EXPECT_EQ(store.storageUsed(), 0);
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
        if (!accepted)
            refuseRows(true);
        last = saveAs(app);
        if (!accepted)
            refuseRows(false);
        EXPECT_EQ(changed.count(), signalsAfter) << app.value_or("(none)").toStdString();
    }
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

// A screenshot goes with its backup, row and text, and nothing outside the screenshots goes (by
// age, by application and everything: the deletion reports' tests); a deletion the database
// refuses leaves the rows, says so, and is no finished deletion.
TEST_F(StorageManagerTest, DeletingRemovesFilesEntriesRowsAndTextButNothingElse)
{
    StorageManager store(index, clock);
    std::vector<Recording> r;
    for (int second = 1; second <= 3; ++second) {
        r.push_back(saved(store, 14, second));
        db().saveOCRText(r.back().id, QStringLiteral("quarterly figures"), r.back().timestamp);
    }
    const auto found = [&] { return search(db(), QStringLiteral("quarterly")).size(); };
    const QString backup = r[2].localPath() + QStringLiteral(".bak");
    ASSERT_TRUE(writeAll(backup, "older copy"));
    QSignalSpy deleted(&store, &StorageManager::recordingsDeleted);
    store.deleteRecording(r[2]);
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_EQ(deleted.at(0).at(0).toInt(), 1);
    EXPECT_FALSE(QFileInfo::exists(r[2].localPath()) || QFileInfo::exists(backup) || exists(db(), r[2].id));
    EXPECT_EQ(order(test::listedRecordings(store)), order({ r[1], r[0] }));
    EXPECT_EQ(found(), 2u);

    // A hand-edited list that points elsewhere must not remove the user's own files or folders.
    LogCapture log(LogCapture::Verbosity::quiet);
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
    EXPECT_TRUE(log.contains("ERROR StorageManager: Failed to delete 2 recordings from the database"));
    EXPECT_EQ(deleted.count(), 0);
    EXPECT_TRUE(exists(db(), r[1].id));
    raw().exec("DROP TRIGGER refuse");
    EXPECT_TRUE(QCoro::waitFor(store.deleteAllRecordings()));
    EXPECT_EQ(deleted.count(), 1);
    EXPECT_EQ(found(), 0u);

    // A database that cannot list an application's recordings: the report says so, and nothing goes.
    const Recording x = saved(store, 14, 1, QStringLiteral("XTerm"));
    db().waitUntilIdle();
    raw().exec("ALTER TABLE recordings RENAME TO hidden");
    const DeletionReport report = QCoro::waitFor(store.deleteRecordingsOfApplication(QStringLiteral("XTerm")));
    EXPECT_EQ(std::pair(report.ok, report.failure),
        std::pair(false, QStringLiteral("The database could not list the screenshots.")));
    EXPECT_TRUE(QFile::exists(x.localPath()));
    EXPECT_EQ(test::listedRecordings(store).size(), 1u);
    const DeletionReport negative = QCoro::waitFor(store.deleteOldRecordings(-1));
    EXPECT_FALSE(negative.ok || negative.failure.isEmpty());
}

// A row the database keeps in memory while the file is locked is not written yet; the frame and
// its list entry stay, and the row and its text land once the lock goes.
TEST_F(StorageManagerTest, AFrameWhoseRowIsPendingIsKeptAndItsRowWrittenLater)
{
    StorageManager store(index, clock);
    db().waitUntilIdle();
    std::optional<Recording> r;
    {
        LockHolder lock(path(), std::chrono::milliseconds(3500));
        r = save(store, jpegBytes(), localTime(2024, 3, 5, 14, 7, 1));
        ASSERT_TRUE(r);
        EXPECT_EQ(db().pendingWriteCount(), 1u);
        db().saveOCRText(r->id, QStringLiteral("written late"), r->timestamp);
    }
    ASSERT_TRUE(runEventsUntil([&] { return db().pendingWriteCount() == 0; }, 60000));
    EXPECT_EQ(ids(search(db(), QStringLiteral("written late"))), QStringList { r->idText() });
    EXPECT_EQ(QCoro::waitFor(store.recordingsForApp(QStringLiteral("Kate"))).recordings.size(), 1u);
    EXPECT_TRUE(QFileInfo::exists(r->localPath()));
}

// Deleting by age, by application and everything answers what went, counted by the database from
// the rows it deleted. Two days apart in age, sizes powers of two, so each answer names its rows.
struct DeletionCase {
    const char *name;
    std::optional<int> olderThanDays; // with neither: everything
    std::optional<QString> application;
    qint64 count, bytes;
    QStringList left; // "app/age" of what stays
};

class DeletionReports : public StorageManagerTest, public ::testing::WithParamInterface<DeletionCase> { };

TEST_P(DeletionReports, AnswerWhatTheDeletedRowsHeld)
{
    const DeletionCase &c = GetParam();
    StorageManager store(index, clock);
    const std::tuple<const char *, int, int> stored[] = { { "XTerm", 40, 1000 }, { "XTerm", 10, 2000 },
        { "Firefox", 40, 4000 }, { "Firefox", 1, 8000 }, { "xterm", 40, 16000 } }; // names are exact
    const double now = secondsSince1970(clock.now());
    const auto age = [&](const Recording &r) {
        return *r.appName + '/' + QString::number(qRound((now - secondsSince1970(r.timestamp)) / 86400.0));
    };
    std::vector<Recording> saved;
    for (const auto &[app, days, bytes] : stored)
        saved.push_back(
            save(store, jpegBytes(bytes), fromSecondsSince1970(now - days * 86400.0), QString::fromLatin1(app))
                .value());
    // What the alerts announce is what then goes.
    const bool everything = !c.olderThanDays && !c.application;
    if (!everything) {
        EXPECT_EQ(QCoro::waitFor(store.countRecordings(c.olderThanDays, c.application)), c.count);
    }
    const DeletionReport report = QCoro::waitFor(c.application ? store.deleteRecordingsOfApplication(*c.application)
            : everything                                       ? store.deleteAllRecordingsReported()
                                                               : store.deleteOldRecordings(*c.olderThanDays));
    EXPECT_TRUE(report.ok) << report.failure.toStdString();
    EXPECT_EQ(std::pair(report.count, report.bytes), std::pair(c.count, c.bytes));
    for (const Recording &r : saved) {
        const bool kept = c.left.contains(age(r));
        EXPECT_EQ(exists(db(), r.id), kept) << age(r).toStdString();
        EXPECT_EQ(QFile::exists(r.localPath()), kept) << age(r).toStdString();
    }
    QStringList left;
    for (const Recording &r : test::listedRecordings(store))
        left << age(r);
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
