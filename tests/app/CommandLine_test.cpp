// The command line run as the built program against a private HOME: which libraries each command
// loads, `pellux search` (lines, JSON, dates, damaged stores), `pellux text`, and the DATE forms.
#include "app/CommandLine.h"
#include "app/commands/DateArgument.h"
#include "ocr/OCRProcessor.h"
#include "ocr/RecognizedText.h"
#include "ocr/RenderedText.h"
#include "persistence/DatabaseTestSupport.h"
#include "persistence/RecordingJson.h"
#include "persistence/TextMatches.h"
#include "support/ImageEncoder.h"
#include "support/LocalTimeZone.h"

using namespace pellux;
using namespace pellux::commands;
using namespace pellux::test;

namespace {

// The dynamic loader lists every library it loads (LD_DEBUG=files); the OpenMP runtime prints the
// settings it read as it loaded (OMP_DISPLAY_ENV).
CommandRun runListingLoads(const QStringList &args, const std::optional<QString> &threadLimit = std::nullopt,
    const QString &program = PELLUX_BINARY)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("OMP_THREAD_LIMIT");
    if (threadLimit)
        env.insert("OMP_THREAD_LIMIT", *threadLimit);
    env.insert("LD_DEBUG", "files");
    env.insert("OMP_DISPLAY_ENV", "TRUE");
    return runCommand(args, env, 60'000, program);
}

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

using TextCommand = DatabaseTest;

QJsonObject boxJson(const QRect &b)
{
    return QJsonObject { { "x", b.x() }, { "y", b.y() }, { "width", b.width() }, { "height", b.height() } };
}

} // namespace

TEST(CommandLine, OnlyTheApplicationsCommandsLoadItsLibraryAndRestartForOneOpenMPThread)
{
    TempHome home;
    const struct {
        QStringList args;
        std::optional<QString> threadLimit; // OMP_THREAD_LIMIT as the user set it
        int exitCode;
        bool loadsApplication;
    } cases[] = {
        // No database yet: a search fails and creates none. After "--" a query may start with a dash.
        { { "search", "budget" }, std::nullopt, kExitFailure, false },
        { { "--verbose", "search", "--json", "budget" }, std::nullopt, kExitFailure, false },
        { { "search", "--", "-v" }, std::nullopt, kExitFailure, false },
        { { "search" }, std::nullopt, kExitFailure, false },
        { { "search", "--since", "someday" }, std::nullopt, kExitUsage, false },
        { { "--help" }, std::nullopt, kExitSuccess, false },
        { { "--version" }, std::nullopt, kExitSuccess, false },
        { { "bogus" }, std::nullopt, kExitUsage, false },
        { { "--background", "capture" }, std::nullopt, kExitUsage, false },
        { { "ocr" }, std::nullopt, kExitUsage, true },
        { { "--verbose", "capture", "--for" }, std::nullopt, kExitUsage, true },
        { { "capture", "--for", "0" }, std::nullopt, kExitUsage, true },
        { { "capture", "--for", "soon" }, std::nullopt, kExitUsage, true },
        { { "capture", "--once", "--for", "5" }, std::nullopt, kExitUsage, true },
        { { "capture", "--forever" }, std::nullopt, kExitUsage, true },
        { { "ocr" }, QStringLiteral("3"), kExitUsage, true },
    };
    for (const auto &c : cases) {
        const std::string name = c.args.join(' ').toStdString() + (c.threadLimit ? " (limit set)" : "");
        const CommandRun run = runListingLoads(c.args, c.threadLimit);
        EXPECT_EQ(run.exitCode, c.exitCode) << name << ": " << run.err.toStdString();
        EXPECT_EQ(run.err.contains("no Pellux database"), c.exitCode == kExitFailure) << name;
        EXPECT_TRUE(c.exitCode != kExitFailure || run.out.isEmpty()) << name;
        ASSERT_TRUE(run.err.contains("file=libQt6Core")) << name << ": LD_DEBUG lists nothing";
        for (const char *library : { "libpellux-app.so [0];", "file=libQt6Gui", "file=libtesseract" })
            EXPECT_EQ(run.err.contains(library), c.loadsApplication) << name << ": " << library;
        // The OpenMP runtime comes with Qt Core, before main(): the program restarts once with
        // OMP_THREAD_LIMIT=1 before it opens the library, and only then.
        const bool restarts = c.loadsApplication && !c.threadLimit;
        EXPECT_EQ(run.err.count("  OMP_THREAD_LIMIT = "), restarts ? 2 : 1) << name;
        if (c.loadsApplication) {
            const qsizetype last = run.err.lastIndexOf("  OMP_THREAD_LIMIT = ");
            EXPECT_TRUE(run.err.mid(last).startsWith("  OMP_THREAD_LIMIT = '" + c.threadLimit.value_or("1") + "'"))
                << name;
        }
    }
    EXPECT_FALSE(QFileInfo::exists(home.pelluxFolder()));
}

TEST(CommandLine, MissingOrBrokenApplicationLibraryIsReported)
{
    TempHome home;
    QTemporaryDir folder;
    const QString program = folder.filePath("pellux");
    ASSERT_TRUE(QFile::copy(QStringLiteral(PELLUX_BINARY), program));
    const struct {
        const char *name;
        std::optional<QByteArray> library; // the bytes of libpellux-app.so beside the program
        const char *message;
    } cases[] = {
        { "missing", std::nullopt, "the Pellux application library is missing" },
        { "not a library", QByteArray("not an ELF file\n").repeated(64), "cannot load the Pellux application library" },
    };
    for (const auto &c : cases) {
        if (c.library) {
            ASSERT_TRUE(writeAll(folder.filePath("libpellux-app.so"), *c.library));
        }
        for (const QStringList &args : { QStringList { "ocr", "x.png" }, QStringList { "--background" } }) {
            const CommandRun run = runListingLoads(args, std::nullopt, program);
            EXPECT_EQ(run.exitCode, kExitFailure) << c.name << ": " << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(c.message)) << c.name << ": " << run.err.toStdString();
        }
        // The light commands do not need it.
        EXPECT_EQ(runListingLoads({ "--version" }, std::nullopt, program).exitCode, kExitSuccess) << c.name;
    }
}

TEST_F(SearchCommand, PrintsMatchesNewestFirstAsLinesOrJson)
{
    const Recording older
        = addRecording(db(), 1'760'000'000, "Terminal", "make\tbuild", "/s/old.webp", "MAKE install done");
    const Recording newer = addRecording(
        db(), 1'760'000'100, "Firefox", "Docs", "/s/new file.webp", "$ ls\nthe <b>make</b> & bread\nmore");
    addRecording(db(), 1'760'000'200, "Firefox", "Other", "/s/other.webp", "nothing to see");
    addRecording(db(), 1'750'000'000, "Editor", "make notes", "/s/title.webp", "nothing to see");
    close();

    CommandRun run = runSearch({ "make" });
    EXPECT_EQ(run.exitCode, kExitSuccess) << run.err.toStdString();
    EXPECT_EQ(run.out,
        localTime(1'760'000'100) + "\tFirefox\tDocs\t/s/new file.webp\n" + localTime(1'760'000'000)
            + "\tTerminal\tmake build\t/s/old.webp\n" + localTime(1'750'000'000)
            + "\tEditor\tmake notes\t/s/title.webp\n");

    // The global option may come before the command or after it.
    run = runCommand({ "--verbose", "search", "make", "--json" });
    EXPECT_EQ(run.exitCode, kExitSuccess);
    EXPECT_TRUE(run.err.contains("DEBUG searchText")); // log lines stay off standard output
    QString error;
    const std::optional<std::vector<Recording>> decoded = decodeRecordings(run.out.toUtf8(), &error);
    ASSERT_TRUE(decoded.has_value()) << error.toStdString();
    ASSERT_EQ(ids(*decoded).mid(0, 2), QStringList({ newer.idText(), older.idText() }));
    EXPECT_EQ((*decoded)[0].localPath(), "/s/new file.webp");
    EXPECT_EQ(secondsSince1970((*decoded)[1].timestamp), 1'760'000'000.0);
    // Each carries its matched line as plain text, nothing added or escaped; null when only the
    // title matched.
    const QJsonArray results = QJsonDocument::fromJson(run.out.toUtf8()).array();
    EXPECT_EQ(results[0]["snippet"], QJsonValue("the <b>make</b> & bread"));
    EXPECT_EQ(results[2]["snippet"], QJsonValue(QJsonValue::Null));

    run = runSearch({ "bread", "--app", "Terminal" });
    EXPECT_EQ(std::tuple(run.exitCode, run.out, run.err.isEmpty()), std::tuple(kExitNoResults, QString(), false));
    run = runSearch({ "--json", "no such words" });
    EXPECT_EQ(std::pair(run.exitCode, run.out.trimmed()), std::pair(kExitNoResults, QStringLiteral("[]")));
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

// Dates bound the search and, without a query, list a range newest first; a bad date, limit, range
// or other argument is a usage error that says what is wrong.
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
        { { "plan", "--until", "2025-03-29" }, "29", kExitSuccess },
        { { "plan", "--limit", "1" }, "30", kExitSuccess },
        { { "--app", "kate", "--verbose" }, "31 29", kExitSuccess },
        { { "--since", "0 days ago" }, "", kExitNoResults },
        { { "plan", "--since", "2025-03-31" }, "", kExitNoResults },
    };
    for (const auto &c : cases) {
        const std::string name = c.args.join(' ').toStdString();
        const CommandRun run = runSearch(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << name << ": " << run.err.toStdString();
        QStringList names;
        for (const QString &line : run.out.split('\n', Qt::SkipEmptyParts))
            names << QFileInfo(line.section('\t', -1)).baseName();
        EXPECT_EQ(names.join(' '), c.paths) << name;
        if (c.exitCode == kExitNoResults) {
            EXPECT_TRUE(run.err.contains("in that time range")) << name << run.err.toStdString();
        }
    }
    const std::pair<QStringList, const char *> refused[] = {
        { { "--until", "3 weeks ago" }, "--until '3 weeks ago' is not a date: use YYYY-MM-DD" },
        { { "--since" }, "--since needs a DATE" },
        { { "--limit", "0" }, "--limit needs a whole number" },
        { { "--since", "2025-03-31", "--until", "2025-03-30" }, "--until is not after --since" },
        { { "--app" }, "" },
        { { "q", "--app" }, "" },
        { { "--frobnicate" }, "" },
        { { "one", "two" }, "" },
    };
    for (const auto &[args, message] : refused) {
        const CommandRun run = runSearch(args);
        EXPECT_EQ(run.exitCode, kExitUsage) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(message) && run.err.contains("Usage: pellux search")) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST_F(TextCommand, PrintsWordsAndSearchPrintsWhereTheQueryIs)
{
    const RenderedText rendered = renderText(
        { QStringLiteral("Deploy checklist for Friday"), QStringLiteral("run checksum_window before the upload") },
        TextPage { .size = QSize(800, 200) });
    const QString file = QDir(home.path()).filePath(QStringLiteral("shot.webp"));
    ASSERT_TRUE(writeAll(file, imageEncoder().convertToLosslessWebP(rendered.image).value()));
    OCRProcessor ocr;
    const Recognition fragments = awaitCompletion<Recognition>(
        [&](auto done) { ocr.processImage(rendered.image, std::nullopt, std::move(done)); });
    ASSERT_TRUE(fragments);
    const RecordingText recognized = recognizedText(fragments.value());
    ASSERT_FALSE(recognized.words.empty());

    // One recording with its boxes, one of the same image stored before boxes were kept.
    const Recording boxed = makeRecording(1'760'000'100, file);
    const Recording older = makeRecording(1'760'000'000, file);
    ASSERT_TRUE(saveRecording(db(), boxed) && saveRecording(db(), older));
    db().saveOCRText(boxed.id, recognized, boxed.timestamp);
    db().saveOCRText(older.id, recognized.text.simplified(), older.timestamp);
    close();

    CommandRun run = runCommand({ "search", "--json", "checksum_window" });
    ASSERT_EQ(run.exitCode, kExitSuccess) << run.err.toStdString();
    const QJsonArray results = QJsonDocument::fromJson(run.out.toUtf8()).array();
    ASSERT_EQ(results.size(), 2) << run.out.toStdString();
    EXPECT_EQ(results[0]["id"].toString(), boxed.idText());
    const std::vector<TextMatch> matches = findMatches(recognized, "checksum_window");
    ASSERT_EQ(matches.size(), 1u);
    ASSERT_EQ(matches[0].boxes.size(), 1u);
    EXPECT_EQ(results[0]["matches"].toArray(), QJsonArray { boxJson(matches[0].boxes[0]) });
    EXPECT_EQ(results[1]["matches"].toArray(), QJsonArray());

    // The older recording is recognised again from its image; the database is only read.
    const QByteArray before = readAll(path());
    QJsonArray words;
    for (const WordBox &w : recognized.words) {
        QJsonObject word = boxJson(w.box);
        word.insert("text", w.text);
        words.append(word);
    }
    for (const Recording &r : { boxed, older }) {
        run = runCommand({ "text", r.idText() });
        ASSERT_EQ(run.exitCode, kExitSuccess) << run.err.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(run.out.toUtf8()).object(),
            (QJsonObject { { "id", r.idText() }, { "text", recognized.text }, { "words", words } }));
    }
    EXPECT_EQ(readAll(path()), before);

    const std::tuple<QString, int, const char *> refused[]
        = { { QUuid::createUuid().toString(), kExitFailure, "no screenshot has the id" },
              { "not-an-id", kExitUsage, "is not a screenshot id" } };
    for (const auto &[id, exitCode, said] : refused) {
        run = runCommand({ "text", id });
        EXPECT_EQ(std::tuple(run.exitCode, run.out, run.err.count('\n')), std::tuple(exitCode, QString(), 1)) << said;
        EXPECT_TRUE(run.err.contains(QLatin1String(said))) << run.err.toStdString();
    }
}

// Each DATE form at either end of a range, in a zone whose 30 March has 23 hours and whose
// 26 October has 25, "today" being 30 March 2025. Expected instants are in UTC.
TEST(DateArgument, ParsesEachFormAtEitherEndAcrossDaylightSavingAndMonthEnds)
{
    LocalTimeZone berlin("Europe/Berlin");
    const QDate today(2025, 3, 30);
    const RangeEnd since = RangeEnd::since, until = RangeEnd::until;
    const struct {
        const char *text;
        RangeEnd end;
        const char *utc; // nullptr: refused
    } cases[] = {
        { "2025-03-30", since, "2025-03-29T23:00:00Z" },
        { "2025-03-30", until, "2025-03-30T22:00:00Z" }, // 23 hours later
        { "2025-10-26", since, "2025-10-25T22:00:00Z" },
        { "2025-10-26", until, "2025-10-26T23:00:00Z" }, // 25 hours later
        { "2025-01-31", until, "2025-01-31T23:00:00Z" },
        { "2025-12-31", until, "2025-12-31T23:00:00Z" },
        { "2024-02-29", since, "2024-02-28T23:00:00Z" },
        { "2025-03-30 01:59", until, "2025-03-30T00:59:00Z" }, // a minute is exact at either end
        { "2025-03-30 03:00", since, "2025-03-30T01:00:00Z" },
        { "2025-06-01T08:15", since, "2025-06-01T06:15:00Z" },
        { "today", since, "2025-03-29T23:00:00Z" },
        { "today", until, "2025-03-30T22:00:00Z" },
        { " Yesterday ", since, "2025-03-28T23:00:00Z" },
        { "1 day ago", until, "2025-03-29T23:00:00Z" },
        { "30 days ago", since, "2025-02-27T23:00:00Z" },
        { "2025-03-30 02:30", since, nullptr }, // skipped by the clocks
        { "2025-02-29", since, nullptr },
        { "2025-13-01", until, nullptr },
        { "2025-03-30 24:00", since, nullptr },
        { "2025-3-30", since, nullptr },
        { "2025-03-30 9:00", since, nullptr },
        { "30.03.2025", since, nullptr },
        { "-1 days ago", since, nullptr },
        { "tomorrow", since, nullptr },
        { "", until, nullptr },
    };
    for (const auto &c : cases) {
        QString error;
        const std::optional<TimePoint> parsed = parseDateArgument(QString::fromLatin1(c.text), c.end, today, &error);
        const std::string name = std::string(c.text) + (c.end == since ? " (since)" : " (until)");
        if (!c.utc) {
            EXPECT_FALSE(parsed) << name;
            EXPECT_TRUE(error.startsWith(QStringLiteral("'%1' is not a date: ").arg(c.text))) << error.toStdString();
            continue;
        }
        ASSERT_TRUE(parsed) << name << ": " << error.toStdString();
        const QDateTime utc
            = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(secondsSince1970(*parsed) * 1000)).toUTC();
        EXPECT_EQ(utc.toString(Qt::ISODate).toStdString(), c.utc) << name;
    }
}
