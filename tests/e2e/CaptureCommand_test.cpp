// `pellux capture` as a user runs it: the built program with a private HOME, against a real X
// server (Xvfb with openbox and xterm windows), with signals and a server that goes away.
#include "persistence/AppPreferences.h"
#include "persistence/RecordingJson.h"
#include "support/PelluxRun.h"
#include "support/TempHome.h"
#include "support/XvfbSession.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <optional>

using namespace pellux;
using namespace pellux::test;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 3;

// A fixed short interval, so that a started capture stores its first frames quickly.
void useFixedInterval(double seconds)
{
    AppPreferences preferences = AppPreferences::defaultValue();
    preferences.useDynamicIntervals = false;
    preferences.screenshotInterval = seconds;
    ASSERT_TRUE(preferences.save());
}

QString metadataPath(const TempHome &home) { return home.pelluxFolder() + QStringLiteral("/Recordings/metadata.json"); }

// The recordings metadata.json lists; none when it is missing or does not decode.
std::optional<std::vector<Recording>> storedRecordings(const TempHome &home, QString *error = nullptr)
{
    QFile metadata(metadataPath(home));
    if (!metadata.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("metadata.json cannot be opened");
        return std::nullopt;
    }
    return decodeRecordings(metadata.readAll(), error);
}

class CaptureCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!session.isRunning())
            GTEST_SKIP() << "no X session: " << session.errorString().toStdString();
    }

    TempHome home;
    XvfbSession session;
};

} // namespace

TEST(CaptureCommand, WithoutAReachableXServerSaysSoAndFails)
{
    TempHome home;
    for (const std::optional<QString> &display : { std::optional<QString>(), std::optional(QStringLiteral(":4711")) }) {
        PelluxRun run({ QStringLiteral("capture"), QStringLiteral("--once") }, display);
        EXPECT_EQ(run.finish(), kExitFailure) << run.err().toStdString();
        EXPECT_TRUE(run.err().contains(QStringLiteral("pellux capture: cannot read the screen")))
            << run.err().toStdString();
        EXPECT_TRUE(run.err().contains(QStringLiteral("DISPLAY"))) << run.err().toStdString();
    }
    EXPECT_FALSE(QFile::exists(metadataPath(home)));
}

TEST(CaptureCommand, BadArgumentsEndWithTheUsageExitCode)
{
    TempHome home;
    const QList<QStringList> cases {
        { QStringLiteral("--for") },
        { QStringLiteral("--for"), QStringLiteral("0") },
        { QStringLiteral("--for"), QStringLiteral("soon") },
        { QStringLiteral("--once"), QStringLiteral("--for"), QStringLiteral("5") },
        { QStringLiteral("--forever") },
    };
    for (const QStringList &args : cases) {
        // No X server is needed to refuse them.
        PelluxRun run(QStringList { QStringLiteral("capture") } + args, std::nullopt);
        EXPECT_EQ(run.finish(), kExitUsage) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(run.err().startsWith(QStringLiteral("pellux capture: "))) << run.err().toStdString();
    }
}

TEST_F(CaptureCommandTest, OnceStoresEveryOpenWindowWithItsText)
{
    ASSERT_NE(session.launchXterm(QStringLiteral("ledger"), QStringLiteral("quarterly reconciliation\n"),
                  { QStringLiteral("50x6+0+0") }),
        0u);
    ASSERT_NE(session.launchXterm(
                  QStringLiteral("diary"), QStringLiteral("mountain expedition\n"), { QStringLiteral("50x6+600+400") }),
        0u);

    PelluxRun run({ QStringLiteral("capture"), QStringLiteral("--once") }, session.display());
    ASSERT_EQ(run.finish(), 0) << run.err().toStdString();

    QString error;
    const auto recordings = storedRecordings(home, &error);
    ASSERT_TRUE(recordings) << error.toStdString();
    QStringList titles;
    for (const Recording &recording : *recordings) {
        titles << recording.windowTitle.value_or(QString());
        EXPECT_EQ(recording.appName, QStringLiteral("XTerm"));
    }
    titles.sort();
    EXPECT_EQ(titles, (QStringList { QStringLiteral("diary"), QStringLiteral("ledger") }));

    PelluxRun search({ QStringLiteral("search"), QStringLiteral("reconciliation") }, session.display());
    ASSERT_EQ(search.finish(), 0) << search.err().toStdString();
    EXPECT_TRUE(search.out().contains(QStringLiteral("\tledger\t"))) << search.out().toStdString();
}

TEST_F(CaptureCommandTest, FramesThatCouldNotBeStoredAreReportedAndFailTheRun)
{
    ASSERT_NE(session.launchXterm(QStringLiteral("ledger"), QStringLiteral("quarterly reconciliation\n")), 0u);
    // A file where the screenshots folder belongs: no frame can be written, whoever runs the test.
    QDir().mkpath(home.pelluxFolder());
    QFile blocker(home.pelluxFolder() + QStringLiteral("/Screenshots"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    PelluxRun run({ QStringLiteral("capture"), QStringLiteral("--once") }, session.display());
    EXPECT_EQ(run.finish(), kExitFailure) << run.err().toStdString();
    const QRegularExpression report(QStringLiteral("pellux capture: ([1-9][0-9]*) frames could not be stored"));
    EXPECT_TRUE(report.match(run.err()).hasMatch()) << run.err().toStdString();
    const auto recordings = storedRecordings(home);
    EXPECT_TRUE(!recordings || recordings->empty());
}

TEST_F(CaptureCommandTest, StartsOnceAWindowAppearsAndStopsCleanlyOnSigterm)
{
    useFixedInterval(1.0);
    PelluxRun run({ QStringLiteral("capture"), QStringLiteral("--without-text") }, session.display());
    ASSERT_TRUE(run.waitForError(QStringLiteral("waiting for one to appear"))) << run.err().toStdString();

    ASSERT_NE(session.launchXterm(QStringLiteral("latecomer"), QStringLiteral("opened after the start\n")), 0u);
    ASSERT_TRUE(XvfbSession::waitUntil(
        [&] {
            const auto recordings = storedRecordings(home);
            return recordings && !recordings->empty();
        },
        60'000))
        << run.err().toStdString();

    run.terminate();
    ASSERT_EQ(run.finish(), 0) << run.err().toStdString();
    EXPECT_TRUE(run.err().contains(QStringLiteral("pellux capture: stopped after"))) << run.err().toStdString();
    EXPECT_FALSE(run.err().contains(QStringLiteral("stopped after 0 window captures"))) << run.err().toStdString();
    QString error;
    const auto recordings = storedRecordings(home, &error);
    ASSERT_TRUE(recordings) << error.toStdString();
    ASSERT_FALSE(recordings->empty());
    EXPECT_EQ(recordings->front().windowTitle, QStringLiteral("latecomer"));
}

TEST_F(CaptureCommandTest, TheXServerGoingAwayWhileNothingIsCapturedEndsWithAnError)
{
    PelluxRun run({ QStringLiteral("capture"), QStringLiteral("--without-text") }, session.display());
    ASSERT_TRUE(run.waitForError(QStringLiteral("waiting for one to appear"))) << run.err().toStdString();
    session.killServer();
    // No --for: the program has to notice by itself.
    EXPECT_EQ(run.finish(60'000), kExitFailure) << run.err().toStdString();
    EXPECT_TRUE(run.err().contains(QStringLiteral("the display server went away"))) << run.err().toStdString();
}
