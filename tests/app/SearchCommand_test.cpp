// `pellux search`, run as the built program against a private HOME.

#include "app/CommandLine.h"
#include "persistence/DatabaseTestSupport.h"
#include "persistence/RecordingJson.h"
#include "support/LocalTimeZone.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace pellux;
using namespace pellux::test;

namespace {

class SearchCommand : public DatabaseTest { };

CommandRun runSearch(const QStringList &args) { return runCommand(QStringList { "search" } + args); }

Recording addRecording(SimpleDatabaseManager &db, double time, const QString &app, const QString &title,
    const QString &path, const QString &text)
{
    const Recording r = makeRecording(time, path, app, title);
    EXPECT_TRUE(saveRecording(db, r));
    db.saveOCRText(r.id, text, r.timestamp);
    db.waitUntilIdle();
    return r;
}

QString localTime(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds * 1000)).toString("yyyy-MM-dd HH:mm:ss");
}

} // namespace

TEST_F(SearchCommand, PrintsMatchesNewestFirstAsLinesOrJson)
{
    const Recording older
        = addRecording(db(), 1'760'000'000, "Terminal", "make\tbuild", "/s/old.webp", "MAKE install done");
    const Recording newer = addRecording(db(), 1'760'000'100, "Firefox", "Docs", "/s/new file.webp", "make bread");
    addRecording(db(), 1'760'000'200, "Firefox", "Other", "/s/other.webp", "nothing to see");
    close();

    CommandRun run = runSearch({ "make" });
    EXPECT_EQ(run.exitCode, kExitSuccess) << run.err.toStdString();
    EXPECT_EQ(run.out,
        localTime(1'760'000'100) + "\tFirefox\tDocs\t/s/new file.webp\n" + localTime(1'760'000'000)
            + "\tTerminal\tmake build\t/s/old.webp\n");
    // The global option may also come before the command.
    for (const QStringList &args : { QStringList { "search", "--app", "terminal", "make" },
             QStringList { "--verbose", "search", "--app", "terminal", "make" } }) {
        run = runCommand(args);
        EXPECT_EQ(run.exitCode, kExitSuccess);
        EXPECT_EQ(run.out.count('\n'), 1);
        EXPECT_TRUE(run.out.contains("/s/old.webp"));
    }
    EXPECT_TRUE(run.err.contains("DEBUG searchText: Searching for 'make'"));

    run = runSearch({ "make", "--json", "--verbose" });
    EXPECT_EQ(run.exitCode, kExitSuccess);
    EXPECT_TRUE(run.err.contains("DEBUG searchText")); // log lines stay off standard output
    QString error;
    const std::optional<std::vector<Recording>> decoded = decodeRecordings(run.out.toUtf8(), &error);
    ASSERT_TRUE(decoded.has_value()) << error.toStdString();
    EXPECT_EQ(ids(*decoded), QStringList({ newer.idText(), older.idText() }));
    EXPECT_EQ((*decoded)[0].localPath(), "/s/new file.webp");
    EXPECT_EQ(secondsSince1970((*decoded)[1].timestamp), 1'760'000'000.0);

    run = runSearch({ "bread", "--app", "Terminal" });
    EXPECT_EQ(run.exitCode, kExitNoResults);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_FALSE(run.err.isEmpty());
    run = runSearch({ "--json", "no such words" });
    EXPECT_EQ(run.exitCode, kExitNoResults);
    EXPECT_EQ(run.out.trimmed(), "[]");
}

// A file that is no database, or is cut in half, is refused and left exactly as it is; one whose
// text cannot be read part-way through the search fails instead of printing part of the answer.
TEST_F(SearchCommand, FailsOnADamagedDatabaseAndLeavesItAlone)
{
    for (int i = 0; i < 200; ++i)
        addRecording(db(), 1000 + i, "Terminal", "t", QStringLiteral("/s/%1.webp").arg(i),
            QStringLiteral("hit ") + QString(900, QLatin1Char('x')));
    close();
    const QByteArray whole = readAll(path());
    const struct {
        const char *name;
        QByteArray bytes;
        const char *message;
    } cases[] = {
        { "no database", QByteArray("this is not an SQLite file\n").repeated(200),
            "ERROR openDatabase: Unable to open database: file is not a database" },
        { "cut in half", whole.left(whole.size() / 2), "cannot read the Pellux database" },
        // The last pages hold the newest texts: the search reads them first.
        { "last pages overwritten", whole.left(whole.size() - 16 * 4096) + QByteArray(16 * 4096, '\xff'),
            "the search failed" },
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(writeAll(path(), c.bytes));
        const CommandRun run = runSearch({ "hit" });
        EXPECT_EQ(run.exitCode, kExitFailure) << c.name << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << c.name << ": " << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << c.name;
        EXPECT_EQ(readAll(path()), c.bytes) << c.name;
        EXPECT_EQ(QDir(home.pelluxFolder()).entryList(QDir::Files), QStringList { "pellux_v2.db" }) << c.name;
    }
}

// Without a database: bad arguments are usage errors, a search fails, and no database is created.
TEST_F(SearchCommand, BadArgumentsAreUsageErrorsAndAMissingDatabaseAFailure)
{
    for (const QStringList &args : { QStringList { "--app" }, QStringList { "q", "--app" },
             QStringList { "--frobnicate" }, QStringList { "one", "two" } }) {
        const CommandRun run = runSearch(args);
        EXPECT_EQ(run.exitCode, kExitUsage) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("Usage: pellux search")) << args.join(' ').toStdString();
    }
    // After "--" a query may start with a dash.
    for (const QStringList &args : { QStringList { "anything" }, QStringList { "--", "-v" }, QStringList {} }) {
        const CommandRun run = runSearch(args);
        EXPECT_EQ(run.exitCode, kExitFailure) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("no Pellux database")) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(home.pelluxFolder()));
}

// Each JSON result carries its matched line as plain text: nothing added, nothing escaped; null
// when only the title matched.
TEST_F(SearchCommand, JsonResultsCarryTheMatchedLine)
{
    addRecording(db(), 1'760'000'000, "Editor", "make notes", "/s/a.webp", "nothing to see");
    addRecording(db(), 1'760'000'100, "Terminal", "sh", "/s/b.webp", "$ ls\nthe <b>MAKE</b> & step\nmore");
    close();
    const CommandRun run = runSearch({ "make", "--json" });
    EXPECT_EQ(run.exitCode, kExitSuccess);
    const QJsonArray results = QJsonDocument::fromJson(run.out.toUtf8()).array();
    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[0].toObject().value("snippet"), QJsonValue("the <b>MAKE</b> & step"));
    EXPECT_EQ(results[1].toObject().value("snippet"), QJsonValue(QJsonValue::Null));
}

// Dates bound the search and, without a query, list a range newest first; a bad date, limit or
// range is a usage error that says what is wrong.
TEST_F(SearchCommand, DatesBoundTheSearchAndWithoutAQueryListTheRange)
{
    LocalTimeZone berlin("Europe/Berlin"); // the program inherits the zone
    const auto local = [](const char *text) {
        return static_cast<double>(QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toMSecsSinceEpoch())
            / 1000.0;
    };
    addRecording(db(), local("2025-03-29T12:00:00"), "Kate", "a", "/s/29.webp", "plan draft");
    addRecording(db(), local("2025-03-30T10:00:00"), "Terminal", "b", "/s/30.webp", "plan build");
    addRecording(db(), local("2025-03-31T09:00:00"), "Kate", "c", "/s/31.webp", "other");
    close();
    const struct {
        QStringList args;
        const char *paths; // the listed files, in order
        int exitCode;
    } cases[] = {
        { { "--since", "2025-03-30" }, "31 30", kExitSuccess },
        { { "--until", "2025-03-30" }, "30 29", kExitSuccess },
        { { "--since", "2025-03-30 10:00", "--until", "2025-03-31 09:00" }, "30", kExitSuccess },
        { { "plan", "--since", "2025-03-30" }, "30", kExitSuccess },
        { { "plan", "--until", "2025-03-29", "--json" }, "29", kExitSuccess },
        { { "plan", "--limit", "1" }, "30", kExitSuccess },
        { { "--limit", "2" }, "31 30", kExitSuccess },
        { { "--app", "kate" }, "31 29", kExitSuccess },
        { { "--app", "Kate", "--json", "--until", "2025-03-29" }, "29", kExitSuccess },
        { { "--since", "0 days ago" }, "", kExitNoResults },
        { { "plan", "--since", "2025-03-31" }, "", kExitNoResults },
    };
    for (const auto &c : cases) {
        const std::string name = c.args.join(' ').toStdString();
        const CommandRun run = runSearch(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << name << ": " << run.err.toStdString();
        QStringList paths;
        if (c.args.contains("--json")) {
            for (const QJsonValue &result : QJsonDocument::fromJson(run.out.toUtf8()).array()) {
                paths << result.toObject().value("filePath").toString();
                EXPECT_EQ(result.toObject().value("matches"), QJsonArray()) << name;
            }
        } else {
            paths = run.out.split('\n', Qt::SkipEmptyParts);
        }
        QStringList names;
        for (const QString &line : paths)
            names << QFileInfo(line.section('\t', -1)).baseName();
        EXPECT_EQ(names.join(' '), c.paths) << name;
        if (c.exitCode == kExitNoResults) {
            EXPECT_TRUE(run.err.contains("in that time range")) << name << run.err.toStdString();
        }
    }
    const std::pair<QStringList, const char *> refused[] = {
        { { "--since", "2025-02-30" }, "--since '2025-02-30' is not a date: there is no such day" },
        { { "--until", "3 weeks ago" }, "--until '3 weeks ago' is not a date: use YYYY-MM-DD" },
        { { "--since", "2025-03-30 02:30" }, "the clocks skip it" },
        { { "--since" }, "--since needs a DATE" },
        { { "--limit", "0" }, "--limit needs a whole number" },
        { { "--limit", "many" }, "--limit needs a whole number" },
        { { "--since", "2025-03-31", "--until", "2025-03-30" }, "--until is not after --since" },
    };
    for (const auto &[args, message] : refused) {
        const CommandRun run = runSearch(args);
        EXPECT_EQ(run.exitCode, kExitUsage) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(message) && run.err.contains("Usage: pellux search")) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
}
