// One Pellux per user and one capturing process per Pellux folder, as a user meets them: the
// built program on a private X server, started twice, and `pellux capture` beside it.
#include "runtime/StoreLayout.h"
#include "support/PelluxRun.h"

using namespace pellux;
using namespace pellux::test;

namespace {

constexpr int kExitAlreadyCapturing = 2;
const QString kRefusal = "another Pellux process (pid %1) is already capturing into ";

class SingleInstanceRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(session.isRunning()) << session.errorString().toStdString();
        ASSERT_TRUE(home.saveFixedInterval());
        ASSERT_NE(session.launchXterm("notes", "single instance\n"), 0u);
    }

    // The tray application on the session's display, not on the tests' offscreen platform.
    std::unique_ptr<PelluxRun> startTray(const QStringList &args)
    {
        return std::make_unique<PelluxRun>(args, session.display(), PelluxRun::Platform::display);
    }

    TempHome home;
    XvfbSession session;
};

} // namespace

TEST_F(SingleInstanceRun, ALaterStartShowsTheRunningOnesWindowAndCaptureIsRefused)
{
    // From autostart: the tray only. It listens once it is the running instance.
    std::unique_ptr<PelluxRun> first = startTray({ "--background" });
    const QString socket = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR")) + "/pellux.socket";
    ASSERT_TRUE(runEventsUntil([&] { return QFile::exists(socket); }, 60'000)) << first->readError().toStdString();

    // A second background start finds it (waiting until it listens) and ends at once.
    std::unique_ptr<PelluxRun> again = startTray({ "--background" });
    ASSERT_EQ(again->finish(30'000), 0) << again->err().toStdString() << first->readError().toStdString();

    // The running one captures: `pellux capture` is refused, naming it.
    PelluxRun capture({ "capture", "--once" }, session.display());
    EXPECT_EQ(capture.finish(60'000), kExitAlreadyCapturing) << capture.err().toStdString();
    EXPECT_TRUE(capture.err().startsWith("pellux capture: " + kRefusal.arg(first->pid())))
        << capture.err().toStdString();

    // Started in the background, no window opened.
    EXPECT_EQ(session.waitForWindow("Pellux", 2'000), 0u);

    // A plain second start brings the window up and ends with 0; the first keeps running.
    std::unique_ptr<PelluxRun> second = startTray({});
    EXPECT_EQ(second->finish(30'000), 0) << second->err().toStdString();
    EXPECT_NE(session.waitForWindow("Pellux", 60'000), 0u) << first->readError().toStdString();
    EXPECT_TRUE(first->isRunning()) << first->readError().toStdString();
    EXPECT_FALSE(first->readOutput().contains("not capturing")) << first->readOutput().toStdString();

    // Resetting the database under the running one is refused.
    std::unique_ptr<PelluxRun> reset = startTray({ "--reset-database" });
    EXPECT_EQ(reset->finish(30'000), 2) << reset->err().toStdString();
    EXPECT_TRUE(reset->err().contains("quit it before resetting")) << reset->err().toStdString();
    EXPECT_TRUE(first->isRunning());

    first->terminate();
    EXPECT_EQ(first->finish(60'000), 0) << first->readError().toStdString();
}

TEST_F(SingleInstanceRun, TheTrayStartedBesideACaptureOnlyShowsItsWindow)
{
    PelluxRun capture({ "capture" }, session.display());
    ASSERT_TRUE(capture.waitForError("pellux capture: capturing")) << capture.readError().toStdString();

    std::unique_ptr<PelluxRun> tray = startTray({});
    ASSERT_TRUE(runEventsUntil(
        [&] { return tray->readOutput().contains("Pellux: not capturing: " + kRefusal.arg(capture.pid())); }, 60'000))
        << tray->readOutput().toStdString() << tray->readError().toStdString();
    EXPECT_NE(session.waitForWindow("Pellux", 60'000), 0u) << tray->ending();
    EXPECT_EQ(tray->readOutput().count("not capturing"), 1);

    capture.terminate();
    EXPECT_EQ(capture.finish(60'000), 0) << capture.ending();
    tray->terminate();
    EXPECT_EQ(tray->finish(60'000), 0) << tray->ending();
}

// Resetting at launch (--reset-database, or Alt held) asks in a window first, and Return keeps
// the history: a hand on Alt+Tab while Pellux starts at login must never cost months of it.
TEST_F(SingleInstanceRun, AResetAtLaunchAsksFirstAndOnlyResetsWhenChosen)
{
    PelluxRun capture({ "capture", "--once" }, session.display());
    ASSERT_EQ(capture.finish(120'000), 0) << capture.err().toStdString();
    const auto stored = [&] {
        QDirIterator files(
            StoreLayout(home.pelluxFolder()).screenshotsFolder(), QDir::Files, QDirIterator::Subdirectories);
        return files.hasNext();
    };
    ASSERT_TRUE(stored());

    for (const char *answer : { "Return", "alt+r" }) {
        std::unique_ptr<PelluxRun> tray = startTray({ "--reset-database" });
        const quint32 alert = session.waitForWindow("Reset Database?", 60'000);
        ASSERT_NE(alert, 0u) << tray->readError().toStdString();
        EXPECT_TRUE(stored()) << "nothing goes before the answer";
        session.run({ "xdotool", "windowactivate", "--sync", QString::number(alert), "key", answer });
        ASSERT_TRUE(session.waitForWindowGone(alert)) << answer;
        const bool reset = QByteArray(answer) != "Return";
        if (reset) {
            EXPECT_TRUE(runEventsUntil([&] { return !stored(); }, 30'000)) << tray->readOutput().toStdString();
        } else {
            EXPECT_NE(session.waitForWindow("Pellux", 60'000), 0u) << tray->readError().toStdString();
            EXPECT_TRUE(stored());
        }
        EXPECT_EQ(tray->readOutput().contains("Resetting database..."), reset);
        tray->terminate();
        EXPECT_EQ(tray->finish(60'000), 0) << tray->readError().toStdString();
    }

    // Where no window can be shown, the reset is refused, not done unasked.
    PelluxRun headless({ "--reset-database" }, std::nullopt);
    EXPECT_EQ(headless.finish(30'000), 2) << headless.err().toStdString();
    EXPECT_TRUE(headless.err().contains("no window can be shown")) << headless.err().toStdString();
}
