// `pellux capture` as a user runs it: the built program with a private HOME, against a real X
// server (Xvfb with openbox and xterm windows), then `pellux search` over what it stored; with
// signals, a server that goes away and a missing text model.
#include "capture/DesktopEntryIndex.h"
#include "persistence/AppPreferences.h"
#include "persistence/RecordingJson.h"
#include "support/PelluxRun.h"

using namespace pellux;
using namespace pellux::test;

namespace {

constexpr int kExitFailure = 3;

// The recordings metadata.json lists; none when it is missing or does not decode.
std::vector<Recording> storedRecordings(const TempHome &home)
{
    const QByteArray list = readAll(home.pelluxFolder() + "/Recordings/metadata.json");
    return decodeRecordings(list).value_or(std::vector<Recording> {});
}

// `pellux search query`: its exit code and the titles of the XTerm windows found, each of whose
// files exists.
std::pair<int, QStringList> search(const XvfbSession &session, const QString &query)
{
    PelluxRun run({ "search", query }, session.display());
    const int exitCode = run.finish(60'000);
    QStringList titles;
    for (const QString &line : run.out().split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split('\t');
        EXPECT_EQ(fields.size(), 4) << line.toStdString();
        EXPECT_EQ(fields.value(1), "XTerm");
        EXPECT_TRUE(QFile::exists(fields.value(3))) << line.toStdString();
        titles << fields.value(2);
    }
    return { exitCode, titles };
}

QStringList titlesFound(const XvfbSession &session, const QString &query) { return search(session, query).second; }

class CaptureCommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.isRunning()) << session.errorString().toStdString(); }

    // An xterm showing `text` at `geometry`, mapped.
    void xterm(const QString &title, const QString &text, const QString &geometry = "80x24+0+0", pid_t *pid = nullptr)
    {
        ASSERT_TRUE(session.launchXterm(title, text + '\n', { geometry }, pid)) << title.toStdString();
    }

    TempHome home;
    XvfbSession session;
};

} // namespace

TEST(CaptureCommand, NoReachableXServerFailsWithItsExitCode)
{
    TempHome home;
    for (const std::optional<QString> &display : { std::optional<QString>(), std::optional<QString>(":4711") }) {
        PelluxRun run({ "capture", "--once" }, display);
        EXPECT_EQ(run.finish(), kExitFailure) << run.err().toStdString();
        EXPECT_TRUE(run.err().contains("pellux capture: cannot read the screen") && run.err().contains("DISPLAY"))
            << run.err().toStdString();
    }
    EXPECT_TRUE(storedRecordings(home).empty());
}

TEST_F(CaptureCommandTest, StoresEachWindowOnceWithItsTextAndSkipsExcludedApplications)
{
    // An excluded application: its bundle identifier is what the backend derives from WM_CLASS.
    AppPreferences preferences = AppPreferences::defaultValue();
    preferences.excludedApps
        = { DesktopEntryIndex().idForWindowClass("secretterm", "Secretterm").value_or("secretterm") };
    ASSERT_TRUE(preferences.save());
    xterm("ledger", "quarterly reconciliation spreadsheet", "60x8+700+0");
    // A window covered completely by another one is still stored with its own contents.
    xterm("covered", "photosynthesis laboratory notebook", "60x8+0+300");
    xterm("cover", "meteorological observatory", "70x12+0+250");
    ASSERT_TRUE(session.launch({ "xterm", "-name", "secretterm", "-class", "Secretterm", "-T", "secret", "-geometry",
        "60x8+700+500", "-e", "sh", "-c", "echo confidential payroll; sleep 600" }));
    pid_t transient = 0;
    xterm("transient", "ephemeral window", "40x5+1000+800", &transient);
    ASSERT_TRUE(session.waitForWindow("secret"));

    PelluxRun capture({ "capture", "--verbose" }, session.display());
    // A second cycle finds the windows unchanged; then one window closes and leaves the caches.
    ASSERT_TRUE(session.keepActiveUntil([&] {
        return capture.readError().contains("has not changed, skipping capture");
    })) << capture.err().toStdString();
    session.kill(transient);
    ASSERT_TRUE(session.keepActiveUntil([&] {
        return capture.readError().contains("is gone, dropping its cached frame");
    })) << capture.err().toStdString();
    // Frames still waiting for their text, in memory or on disk, get it before the run ends.
    capture.terminate();
    ASSERT_EQ(capture.finish(120'000), 0) << capture.err().toStdString();

    EXPECT_EQ(titlesFound(session, "reconciliation"), QStringList { "ledger" });
    // The covered window's own text, not that of the window over it.
    EXPECT_EQ(titlesFound(session, "photosynthesis"), QStringList { "covered" });
    EXPECT_EQ(titlesFound(session, "meteorological"), QStringList { "cover" });
    // Stored before it closed, and still found.
    EXPECT_EQ(titlesFound(session, "ephemeral"), QStringList { "transient" });
    EXPECT_EQ(search(session, "confidential"), std::pair(1, QStringList {}));
    QStringList files;
    QDirIterator it(home.pelluxFolder() + "/Screenshots", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << it.next();
        EXPECT_EQ(modeOf(files.back()), 0600) << files.back().toStdString();
    }
    // Four screenshots, and a thumbnail beside those that gain by one (text windows do not).
    const QStringList thumbnails = files.filter(QRegularExpression("\\.thumb$"));
    EXPECT_EQ(files.size() - thumbnails.size(), 4) << files.join(' ').toStdString();
    for (const QString &thumbnail : thumbnails)
        EXPECT_TRUE(files.contains(thumbnail.chopped(6))) << thumbnail.toStdString();
}

// Frames that could not be stored, or whose text could not be recognised (no usable text model),
// are reported and fail the run; a frame owed its text gets it at the next start (with a model),
// and search finds it then.
TEST_F(CaptureCommandTest, FramesNotStoredOrNotRecognisedFailTheRunAndTheNextStartHealsThem)
{
    xterm("ledger", "quarterly reconciliation");
    // A file where the screenshots folder belongs: no frame can be written, whoever runs the test.
    ASSERT_TRUE(QDir().mkpath(home.pelluxFolder()));
    ASSERT_TRUE(writeAll(home.pelluxFolder() + "/Screenshots", QByteArray()));
    PelluxRun unstored({ "capture", "--once" }, session.display());
    EXPECT_EQ(unstored.finish(), kExitFailure) << unstored.err().toStdString();
    EXPECT_TRUE(unstored.err().contains(QRegularExpression("pellux capture: [1-9][0-9]* frames could not be stored")))
        << unstored.err().toStdString();
    EXPECT_TRUE(storedRecordings(home).empty());
    ASSERT_TRUE(QFile::remove(home.pelluxFolder() + "/Screenshots"));

    QTemporaryDir empty;
    qputenv("TESSDATA_PREFIX", QFile::encodeName(empty.path()));
    PelluxRun once({ "capture", "--once" }, session.display());
    const int exitCode = once.finish(120'000);
    qunsetenv("TESSDATA_PREFIX");
    EXPECT_EQ(exitCode, kExitFailure) << once.err().toStdString();
    EXPECT_TRUE(
        once.err().contains("text recognition failed for 1 stored frames") && once.err().contains("in 0 frames whole"))
        << once.err().toStdString();
    ASSERT_EQ(storedRecordings(home).size(), 1u);
    EXPECT_EQ(search(session, "reconciliation").first, 1);

    PelluxRun capture({ "capture" }, session.display());
    ASSERT_TRUE(capture.waitForError("Store healing finished", 120'000)) << capture.err().toStdString();
    EXPECT_TRUE(capture.readError().contains("1 frames got their text")) << capture.err().toStdString();
    capture.terminate();
    EXPECT_EQ(capture.finish(120'000), 0) << capture.err().toStdString();
    EXPECT_TRUE(titlesFound(session, "reconciliation").contains("ledger"));
}

TEST_F(CaptureCommandTest, StartsOnceAWindowAppearsAndStopsCleanlyOnSigterm)
{
    ASSERT_TRUE(home.saveFixedInterval(1.0));
    PelluxRun run({ "capture", "--without-text" }, session.display());
    ASSERT_TRUE(run.waitForError("waiting for one to appear")) << run.err().toStdString();
    xterm("latecomer", "opened after the start");
    ASSERT_TRUE(runEventsUntil([&] { return !storedRecordings(home).empty(); }, 60'000)) << run.err().toStdString();
    run.terminate();
    ASSERT_EQ(run.finish(), 0) << run.err().toStdString();
    EXPECT_FALSE(run.err().contains("stopped after 0 window captures")) << run.err().toStdString();
    EXPECT_EQ(storedRecordings(home).front().windowTitle, "latecomer");
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
            ASSERT_TRUE(server.launchXterm("notes", "interplanetary archive\n"));
        }
        PelluxRun capture({ "capture", "--verbose" }, server.display());
        ASSERT_TRUE(server.keepActiveUntil([&] {
            return capture.readError().contains(withWindow ? "OCR extracted" : "waiting for one to appear");
        })) << capture.err().toStdString();
        server.killServer();
        // No --for: the program has to notice by itself.
        EXPECT_EQ(capture.finish(90'000), kExitFailure) << capture.err().toStdString();
        EXPECT_TRUE(capture.err().contains("the display server went away")) << capture.err().toStdString();
    }
    EXPECT_EQ(storedRecordings(home).size(), 1u);
    EXPECT_EQ(titlesFound(session, "interplanetary"), QStringList { "notes" });
}
