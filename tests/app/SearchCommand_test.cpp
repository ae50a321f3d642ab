// `pellux search`, run as the built program against a private HOME.

#include "app/CommandLine.h"
#include "persistence/RecordingJson.h"
#include "persistence/SimpleDatabaseManager.h"
#include "support/AwaitCompletion.h"
#include "support/TempHome.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

using namespace pellux;
using namespace pellux::test;

namespace {

CommandRun runSearch(const QStringList &args) { return runCommand(QStringList { "search" } + args); }

Recording addRecording(SimpleDatabaseManager &db, double time, const QString &app, const QString &title,
    const QString &path, const QString &text)
{
    Recording r;
    r.id = QUuid::createUuid();
    r.timestamp = fromSecondsSince1970(time);
    r.filePath = QUrl::fromLocalFile(path);
    r.appName = app;
    r.windowTitle = title;
    EXPECT_EQ(awaitCompletion<RowWrite>([&](auto done) {
        db.saveRecordingWithDeltaFrame(r, std::nullopt, 1, false, std::nullopt, std::nullopt, done);
    }),
        RowWrite::written);
    db.saveOCRText(r.id, text, r.timestamp);
    db.waitUntilIdle();
    return r;
}

QString localTime(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds * 1000)).toString("yyyy-MM-dd HH:mm:ss");
}

} // namespace

TEST(SearchCommand, PrintsMatchesNewestFirstAsLinesOrJson)
{
    TempHome home;
    Recording older;
    Recording newer;
    {
        SimpleDatabaseManager db;
        older = addRecording(db, 1'760'000'000, "Terminal", "make\tbuild", "/s/old.webp", "MAKE install done");
        newer = addRecording(db, 1'760'000'100, "Firefox", "Docs", "/s/new file.webp", "how to make bread");
        addRecording(db, 1'760'000'200, "Firefox", "Other", "/s/other.webp", "nothing to see");
    }

    CommandRun run = runSearch({ "make" });
    EXPECT_EQ(run.exitCode, kExitSuccess) << run.err.toStdString();
    EXPECT_EQ(run.out,
        localTime(1'760'000'100) + "\tFirefox\tDocs\t/s/new file.webp\n" + localTime(1'760'000'000)
            + "\tTerminal\tmake build\t/s/old.webp\n");

    run = runSearch({ "--app", "terminal", "make" });
    EXPECT_EQ(run.exitCode, kExitSuccess);
    EXPECT_EQ(run.out.count('\n'), 1);
    EXPECT_TRUE(run.out.contains("/s/old.webp"));

    run = runSearch({ "make", "--json", "--verbose" });
    EXPECT_EQ(run.exitCode, kExitSuccess);
    // Log lines go to standard error, so standard output stays valid JSON.
    EXPECT_TRUE(run.err.contains("DEBUG searchText: Searching for 'make'"));
    QString error;
    const std::optional<std::vector<Recording>> decoded = decodeRecordings(run.out.toUtf8(), &error);
    ASSERT_TRUE(decoded.has_value()) << error.toStdString();
    ASSERT_EQ(decoded->size(), 2u);
    EXPECT_EQ((*decoded)[0].id, newer.id);
    EXPECT_EQ((*decoded)[1].id, older.id);
    EXPECT_EQ((*decoded)[0].localPath(), "/s/new file.webp");
    EXPECT_EQ(secondsSince1970((*decoded)[1].timestamp), 1'760'000'000.0);

    // The global option may also come before the command.
    run = runCommand({ "--verbose", "search", "--app", "terminal", "make" });
    EXPECT_EQ(run.exitCode, kExitSuccess);
    EXPECT_TRUE(run.out.contains("/s/old.webp"));
    EXPECT_TRUE(run.err.contains("DEBUG searchText: Searching for 'make'"));

    run = runSearch({ "bread", "--app", "Terminal" });
    EXPECT_EQ(run.exitCode, kExitNoResults);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_FALSE(run.err.isEmpty());
    run = runSearch({ "--json", "no such words" });
    EXPECT_EQ(run.exitCode, kExitNoResults);
    EXPECT_EQ(run.out.trimmed(), "[]");
}

TEST(SearchCommand, MissingDatabaseIsReportedAndNotCreated)
{
    TempHome home;
    const CommandRun run = runSearch({ "anything" });
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_TRUE(run.err.contains("no Pellux database")) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home.pelluxFolder()));
}

TEST(SearchCommand, UnreadableDatabaseIsReportedAndLeftAlone)
{
    TempHome home;
    QDir().mkpath(home.pelluxFolder());
    const QString path = home.pelluxFolder() + "/pellux_v2.db";
    const QByteArray garbage = QByteArray("this is not an SQLite file\n").repeated(200);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    const CommandRun run = runSearch({ "anything" });
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_TRUE(run.err.contains("cannot read the Pellux database")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("ERROR openDatabase: Unable to open database: file is not a database"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), garbage);
}

// A database cut in half is refused with a failure and left exactly as it is; one whose text
// cannot be read part-way through the search fails instead of printing part of the answer.
TEST(SearchCommand, DamagedDatabaseFailsAndIsLeftAlone)
{
    TempHome home;
    const QString path = home.pelluxFolder() + "/pellux_v2.db";
    {
        SimpleDatabaseManager db;
        for (int i = 0; i < 200; ++i)
            addRecording(db, 1000 + i, "Terminal", "t", QStringLiteral("/s/%1.webp").arg(i),
                QStringLiteral("hit ") + QString(900, QLatin1Char('x')));
    }
    QByteArray whole;
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        whole = file.readAll();
    }
    const struct {
        const char *name;
        QByteArray bytes;
        const char *message;
    } cases[] = {
        { "cut in half", whole.left(whole.size() / 2), "cannot read the Pellux database" },
        // The last pages hold the newest texts: the search reads them first.
        { "last pages overwritten", whole.left(whole.size() - 16 * 4096) + QByteArray(16 * 4096, '\xff'),
            "the search failed" },
    };
    for (const auto &c : cases) {
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(c.bytes);
        }
        const CommandRun run = runSearch({ "hit" });
        EXPECT_EQ(run.exitCode, kExitFailure) << c.name << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << c.name << ": " << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << c.name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.bytes) << c.name;
        EXPECT_EQ(QDir(home.pelluxFolder()).entryList(QDir::Files), QStringList { "pellux_v2.db" }) << c.name;
    }
}

TEST(SearchCommand, BadArgumentsAreUsageErrors)
{
    TempHome home;
    for (const QStringList &args : { QStringList {}, QStringList { "--app" }, QStringList { "q", "--app" },
             QStringList { "--frobnicate", "q" }, QStringList { "one", "two" } }) {
        const CommandRun run = runSearch(args);
        EXPECT_EQ(run.exitCode, kExitUsage) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("Usage: pellux search")) << args.join(' ').toStdString();
    }
    // After "--" a query may start with a dash; with no database that is a failure, not a usage error.
    EXPECT_EQ(runSearch({ "--", "-v" }).exitCode, kExitFailure);
}
