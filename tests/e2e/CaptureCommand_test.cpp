// `pellux capture` as a user runs it: the built program with a private HOME, against a real X
// server (Xvfb with openbox and xterm windows), then `pellux search` over what it stored; with
// signals, a server that goes away and a missing text model.
#include "capture/DesktopEntryIndex.h"
#include "persistence/AppPreferences.h"
#include "persistence/RecordingJson.h"
#include "support/PelluxRun.h"
#include "support/TempHome.h"
#include "support/TestFiles.h"
#include "support/XvfbSession.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace pellux;
using namespace pellux::test;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 3;

QString metadataPath(const TempHome &home) { return home.pelluxFolder() + QStringLiteral("/Recordings/metadata.json"); }

// The recordings metadata.json lists; none when it is missing or does not decode.
std::vector<Recording> storedRecordings(const TempHome &home)
{
    return decodeRecordings(readAll(metadataPath(home))).value_or(std::vector<Recording> {});
}

// `pellux search query`: its exit code and the titles of the XTerm windows found, each of whose
// files exists.
std::pair<int, QStringList> search(const XvfbSession &session, const QString &query)
{
    PelluxRun run({ QStringLiteral("search"), query }, session.display());
    const int exitCode = run.finish(60'000);
    QStringList titles;
    for (const QString &line : run.out().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        EXPECT_EQ(fields.size(), 4) << line.toStdString();
        EXPECT_EQ(fields.value(1), QStringLiteral("XTerm"));
        EXPECT_TRUE(QFile::exists(fields.value(3))) << line.toStdString();
        titles << fields.value(2);
    }
    return { exitCode, titles };
}

XvfbSession::XtermOptions at(const QString &geometry) { return { geometry }; }

// Sets TESSDATA_PREFIX for the programs started while the object lives.
struct ModelFolder {
    explicit ModelFolder(const QString &path) { qputenv("TESSDATA_PREFIX", path.toLocal8Bit()); }
    ~ModelFolder() { qunsetenv("TESSDATA_PREFIX"); }
};

class CaptureCommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.isRunning()) << session.errorString().toStdString(); }

    TempHome home;
    XvfbSession session;
};

} // namespace

TEST(CaptureCommand, BadArgumentsOrNoReachableXServerFailWithTheirExitCodes)
{
    TempHome home;
    const QList<QStringList> cases { { QStringLiteral("--for") }, { QStringLiteral("--for"), QStringLiteral("0") },
        { QStringLiteral("--for"), QStringLiteral("soon") },
        { QStringLiteral("--once"), QStringLiteral("--for"), QStringLiteral("5") }, { QStringLiteral("--forever") } };
    for (const QStringList &args : cases) {
        PelluxRun run(QStringList { QStringLiteral("capture") } + args, std::nullopt);
        EXPECT_EQ(run.finish(), kExitUsage) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(run.err().startsWith(QStringLiteral("pellux capture: "))) << run.err().toStdString();
    }
    for (const std::optional<QString> &display : { std::optional<QString>(), std::optional(QStringLiteral(":4711")) }) {
        PelluxRun run({ QStringLiteral("capture"), QStringLiteral("--once") }, display);
        EXPECT_EQ(run.finish(), kExitFailure) << run.err().toStdString();
        EXPECT_TRUE(run.err().contains(QStringLiteral("pellux capture: cannot read the screen")));
        EXPECT_TRUE(run.err().contains(QStringLiteral("DISPLAY"))) << run.err().toStdString();
    }
    EXPECT_FALSE(QFile::exists(metadataPath(home)));
}

TEST_F(CaptureCommandTest, StoresEachWindowOnceWithItsTextAndSkipsExcludedApplications)
{
    // An excluded application: its bundle identifier is what the backend derives from WM_CLASS.
    AppPreferences preferences = AppPreferences::defaultValue();
    preferences.excludedApps = { DesktopEntryIndex()
                                     .idForWindowClass(QStringLiteral("secretterm"), QStringLiteral("Secretterm"))
                                     .value_or(QStringLiteral("secretterm")) };
    ASSERT_TRUE(preferences.save());
    ASSERT_TRUE(session.launchXterm(QStringLiteral("ledger"), QStringLiteral("quarterly reconciliation spreadsheet\n"),
        at(QStringLiteral("60x8+700+0"))));
    // A window covered completely by another one is still stored with its own contents.
    ASSERT_TRUE(session.launchXterm(QStringLiteral("covered"), QStringLiteral("photosynthesis laboratory notebook\n"),
        at(QStringLiteral("60x8+0+300"))));
    ASSERT_TRUE(session.launchXterm(
        QStringLiteral("cover"), QStringLiteral("meteorological observatory\n"), at(QStringLiteral("70x12+0+250"))));
    ASSERT_TRUE(session.launch({ QStringLiteral("xterm"), QStringLiteral("-name"), QStringLiteral("secretterm"),
        QStringLiteral("-class"), QStringLiteral("Secretterm"), QStringLiteral("-T"), QStringLiteral("secret"),
        QStringLiteral("-geometry"), QStringLiteral("60x8+700+500"), QStringLiteral("-e"), QStringLiteral("sh"),
        QStringLiteral("-c"), QStringLiteral("echo confidential payroll; sleep 600") }));
    pid_t transient = 0;
    ASSERT_TRUE(session.launchXterm(QStringLiteral("transient"), QStringLiteral("ephemeral window\n"),
        at(QStringLiteral("40x5+1000+800")), &transient));
    ASSERT_TRUE(session.waitForWindow(QStringLiteral("secret")));

    PelluxRun capture({ QStringLiteral("capture"), QStringLiteral("--verbose") }, session.display());
    // A second cycle finds the windows unchanged; then one window closes and leaves the caches.
    ASSERT_TRUE(session.keepActiveUntil([&] {
        return capture.readError().contains(QStringLiteral("has not changed, skipping capture"));
    })) << capture.err().toStdString();
    session.kill(transient);
    ASSERT_TRUE(session.keepActiveUntil([&] {
        return capture.readError().contains(QStringLiteral("is gone, dropping its cached frame"))
            && capture.readError().count(QStringLiteral("OCR extracted")) >= 4;
    })) << capture.err().toStdString();
    capture.terminate();
    ASSERT_EQ(capture.finish(120'000), 0) << capture.err().toStdString();

    const std::pair<int, QStringList> none { 1, {} };
    EXPECT_EQ(search(session, QStringLiteral("reconciliation")).second, QStringList { QStringLiteral("ledger") });
    // The covered window's own text, not that of the window over it.
    EXPECT_EQ(search(session, QStringLiteral("photosynthesis")).second, QStringList { QStringLiteral("covered") });
    EXPECT_EQ(search(session, QStringLiteral("meteorological")).second, QStringList { QStringLiteral("cover") });
    // Stored before it closed, and still found.
    EXPECT_EQ(search(session, QStringLiteral("ephemeral")).second, QStringList { QStringLiteral("transient") });
    EXPECT_EQ(search(session, QStringLiteral("confidential")), none);
    QStringList files;
    QDirIterator it(home.pelluxFolder() + QStringLiteral("/Screenshots"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << it.next();
        EXPECT_FALSE(QFile::permissions(files.back()) & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
    EXPECT_EQ(files.size(), 4) << files.join(QLatin1Char(' ')).toStdString();
}

// No usable text model: the frames are stored, their text stays owed and the run fails; the next
// capture (with a model) recognises them, and search finds them.
TEST_F(CaptureCommandTest, WithoutATextModelTheFrameIsOwedItsTextUntilTheNextStartHealsIt)
{
    ASSERT_TRUE(session.launchXterm(QStringLiteral("ledger"), QStringLiteral("quarterly reconciliation\n")));
    {
        QTemporaryDir empty;
        ModelFolder noModel(empty.path());
        PelluxRun once({ QStringLiteral("capture"), QStringLiteral("--once") }, session.display());
        EXPECT_EQ(once.finish(120'000), kExitFailure) << once.err().toStdString();
        EXPECT_TRUE(once.err().contains(QStringLiteral("text recognition failed for 1 stored frames")))
            << once.err().toStdString();
        EXPECT_TRUE(once.err().contains(QStringLiteral("in 0 frames whole"))) << once.err().toStdString();
    }
    ASSERT_EQ(storedRecordings(home).size(), 1u);
    EXPECT_EQ(search(session, QStringLiteral("reconciliation")).first, 1);

    PelluxRun capture({ QStringLiteral("capture") }, session.display());
    ASSERT_TRUE(capture.waitForError(QStringLiteral("Store healing finished"), 120'000)) << capture.err().toStdString();
    EXPECT_TRUE(capture.readError().contains(QStringLiteral("1 frames got their text"))) << capture.err().toStdString();
    capture.terminate();
    EXPECT_EQ(capture.finish(120'000), 0) << capture.err().toStdString();
    EXPECT_TRUE(search(session, QStringLiteral("reconciliation")).second.contains(QStringLiteral("ledger")));
}

TEST_F(CaptureCommandTest, FramesThatCouldNotBeStoredAreReportedAndFailTheRun)
{
    ASSERT_TRUE(session.launchXterm(QStringLiteral("ledger"), QStringLiteral("quarterly reconciliation\n")));
    // A file where the screenshots folder belongs: no frame can be written, whoever runs the test.
    ASSERT_TRUE(QDir().mkpath(home.pelluxFolder()));
    ASSERT_TRUE(writeAll(home.pelluxFolder() + QStringLiteral("/Screenshots"), QByteArray()));
    PelluxRun run({ QStringLiteral("capture"), QStringLiteral("--once") }, session.display());
    EXPECT_EQ(run.finish(), kExitFailure) << run.err().toStdString();
    const QRegularExpression report(QStringLiteral("pellux capture: ([1-9][0-9]*) frames could not be stored"));
    EXPECT_TRUE(report.match(run.err()).hasMatch()) << run.err().toStdString();
    EXPECT_TRUE(storedRecordings(home).empty());
}

TEST_F(CaptureCommandTest, StartsOnceAWindowAppearsAndStopsCleanlyOnSigterm)
{
    AppPreferences preferences = AppPreferences::defaultValue();
    preferences.useDynamicIntervals = false;
    preferences.screenshotInterval = 1.0;
    ASSERT_TRUE(preferences.save());
    PelluxRun run({ QStringLiteral("capture"), QStringLiteral("--without-text") }, session.display());
    ASSERT_TRUE(run.waitForError(QStringLiteral("waiting for one to appear"))) << run.err().toStdString();
    ASSERT_TRUE(session.launchXterm(QStringLiteral("latecomer"), QStringLiteral("opened after the start\n")));
    ASSERT_TRUE(XvfbSession::waitUntil([&] { return !storedRecordings(home).empty(); }, 60'000))
        << run.err().toStdString();
    run.terminate();
    ASSERT_EQ(run.finish(), 0) << run.err().toStdString();
    EXPECT_FALSE(run.err().contains(QStringLiteral("stopped after 0 window captures"))) << run.err().toStdString();
    EXPECT_EQ(storedRecordings(home).front().windowTitle, QStringLiteral("latecomer"));
}

// The server going away, while nothing is captured yet and after a frame was stored: an error of
// its own, and what was stored stays readable and searchable.
TEST_F(CaptureCommandTest, TheXServerGoingAwayEndsWithAClearErrorAndLeavesTheStoreReadable)
{
    for (const bool withWindow : { false, true }) {
        SCOPED_TRACE(withWindow ? "after a frame" : "while waiting");
        XvfbSession server;
        ASSERT_TRUE(server.isRunning());
        if (withWindow) {
            ASSERT_TRUE(server.launchXterm(QStringLiteral("notes"), QStringLiteral("interplanetary archive\n")));
        }
        PelluxRun capture({ QStringLiteral("capture"), QStringLiteral("--verbose") }, server.display());
        ASSERT_TRUE(server.keepActiveUntil([&] {
            return capture.readError().contains(
                withWindow ? QStringLiteral("OCR extracted") : QStringLiteral("waiting for one to appear"));
        })) << capture.err().toStdString();
        server.killServer();
        // No --for: the program has to notice by itself.
        EXPECT_EQ(capture.finish(90'000), kExitFailure) << capture.err().toStdString();
        EXPECT_TRUE(capture.err().contains(QStringLiteral("the display server went away")))
            << capture.err().toStdString();
    }
    EXPECT_EQ(storedRecordings(home).size(), 1u);
    EXPECT_EQ(search(session, QStringLiteral("interplanetary")).second, QStringList { QStringLiteral("notes") });
}
