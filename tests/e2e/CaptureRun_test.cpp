// The whole program on a real X server: `pellux capture` over real xterm windows, then
// `pellux search` over what it stored.
#include "capture/DesktopEntryIndex.h"
#include "persistence/AppPreferences.h"
#include "persistence/RecordingJson.h"
#include "support/PelluxRun.h"
#include "support/TempHome.h"
#include "support/XvfbSession.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

using namespace pellux;
using namespace pellux::test;

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

Result search(const XvfbSession &session, const QString &query)
{
    PelluxRun run({ QStringLiteral("search"), query }, session.display());
    const int exitCode = run.finish(60'000);
    return { exitCode, run.out(), run.err() };
}

// Keeps the activity level high (short capture interval) by moving the pointer a little until
// `done()` holds or the time is up; false when the time ran out. The captures take as long as the
// machine needs (much longer under the sanitizers), so tests wait for what they need to see.
bool keepActiveUntil(XvfbSession &session, const std::function<bool()> &done, int timeoutMs = 120'000)
{
    QElapsedTimer clock;
    clock.start();
    bool right = true;
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        session.run({ QStringLiteral("xdotool"), QStringLiteral("mousemove_relative"), QStringLiteral("--"),
            right ? QStringLiteral("7") : QStringLiteral("-7"), QStringLiteral("0") });
        right = !right;
        XvfbSession::waitUntil([] { return false; }, 100);
    }
    return true;
}

// `pellux search query` finds exactly one screenshot, of an xterm titled `title`, whose file exists.
void expectOneXtermFound(const XvfbSession &session, const QString &query, const QString &title)
{
    const Result found = search(session, query);
    ASSERT_EQ(found.exitCode, 0) << query.toStdString() << ": " << found.err.toStdString();
    const QStringList lines = found.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << found.out.toStdString();
    const QStringList fields = lines.front().split(QLatin1Char('\t'));
    ASSERT_EQ(fields.size(), 4) << found.out.toStdString();
    EXPECT_EQ(fields[1], QStringLiteral("XTerm"));
    EXPECT_EQ(fields[2], title);
    EXPECT_TRUE(QFile::exists(fields[3])) << fields[3].toStdString();
}

QStringList storedFiles(const TempHome &home)
{
    QStringList files;
    QDirIterator it(home.pelluxFolder() + QStringLiteral("/Screenshots"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

QStringList xterm(const QString &title, const QString &textFile, const QString &geometry, const QStringList &extra = {})
{
    return QStringList { QStringLiteral("xterm") } + extra
        + QStringList { QStringLiteral("-T"), title, QStringLiteral("-geometry"), geometry, QStringLiteral("-fa"),
              QStringLiteral("DejaVu Sans Mono"), QStringLiteral("-fs"), QStringLiteral("14"), QStringLiteral("-bg"),
              QStringLiteral("white"), QStringLiteral("-fg"), QStringLiteral("black"), QStringLiteral("-e"),
              QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("cat '%1'; sleep 600").arg(textFile) };
}

QString writeText(const TempHome &home, const QString &name, const QString &text)
{
    const QString path = home.path() + QLatin1Char('/') + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
    return path;
}

} // namespace

TEST(CaptureRun, StoresEachWindowOnceWithItsTextAndSkipsExcludedApplications)
{
    TempHome home;
    XvfbSession session;
    ASSERT_TRUE(session.isRunning()) << session.errorString().toStdString();

    // An excluded application: its bundle identifier is what the backend derives from WM_CLASS.
    const QString secretId = DesktopEntryIndex()
                                 .idForWindowClass(QStringLiteral("secretterm"), QStringLiteral("Secretterm"))
                                 .value_or(QStringLiteral("secretterm"));
    AppPreferences preferences = AppPreferences::defaultValue();
    preferences.excludedApps = { secretId };
    ASSERT_TRUE(preferences.save());

    ASSERT_TRUE(session.launch(xterm(QStringLiteral("ledger"),
        writeText(home, "ledger.txt", "quarterly reconciliation spreadsheet\n"), QStringLiteral("60x8+700+0"))));
    // A window covered completely by another one is still stored with its own contents.
    ASSERT_TRUE(session.launch(xterm(QStringLiteral("covered"),
        writeText(home, "covered.txt", "photosynthesis laboratory notebook\n"), QStringLiteral("60x8+0+300"))));
    ASSERT_TRUE(session.waitForWindow(QStringLiteral("covered")));
    ASSERT_TRUE(session.launch(xterm(QStringLiteral("cover"),
        writeText(home, "cover.txt", "meteorological observatory\n"), QStringLiteral("70x12+0+250"))));
    ASSERT_TRUE(session.launch(xterm(QStringLiteral("secret"), writeText(home, "secret.txt", "confidential payroll\n"),
        QStringLiteral("60x8+700+500"),
        { QStringLiteral("-name"), QStringLiteral("secretterm"), QStringLiteral("-class"),
            QStringLiteral("Secretterm") })));
    const pid_t transient = session.launch(xterm(QStringLiteral("transient"),
        writeText(home, "transient.txt", "ephemeral window\n"), QStringLiteral("40x5+1000+800")));
    for (const char *title : { "ledger", "cover", "secret", "transient" })
        ASSERT_TRUE(session.waitForWindow(QLatin1String(title))) << title;

    PelluxRun capture({ QStringLiteral("capture"), QStringLiteral("--verbose") }, session.display());
    // A second cycle finds the windows unchanged; then one window closes and leaves the caches.
    ASSERT_TRUE(keepActiveUntil(session, [&] {
        return capture.readError().contains(QStringLiteral("has not changed, skipping capture"));
    })) << capture.err().toStdString();
    session.kill(transient);
    ASSERT_TRUE(keepActiveUntil(session, [&] {
        return capture.readError().contains(QStringLiteral("is gone, dropping its cached frame"));
    })) << capture.err().toStdString();
    // The text of all four stored frames is in before the stop.
    ASSERT_TRUE(keepActiveUntil(session, [&] {
        return capture.readError().count(QStringLiteral("OCR extracted")) >= 4;
    })) << capture.err().toStdString();
    capture.terminate();
    ASSERT_EQ(capture.finish(120'000), 0) << capture.err().toStdString();

    expectOneXtermFound(session, QStringLiteral("reconciliation"), QStringLiteral("ledger"));
    // The covered window's own text, not that of the window over it.
    expectOneXtermFound(session, QStringLiteral("photosynthesis"), QStringLiteral("covered"));
    expectOneXtermFound(session, QStringLiteral("meteorological"), QStringLiteral("cover"));
    // Stored before it closed, and still found.
    expectOneXtermFound(session, QStringLiteral("ephemeral"), QStringLiteral("transient"));
    EXPECT_EQ(search(session, QStringLiteral("confidential")).exitCode, 1);

    const QStringList files = storedFiles(home);
    EXPECT_TRUE(files.filter(QStringLiteral("Secretterm")).isEmpty()) << files.join(QLatin1Char(' ')).toStdString();
    // ledger, covered, cover and transient, each stored once.
    EXPECT_EQ(files.size(), 4) << files.join(QLatin1Char(' ')).toStdString();
    for (const QString &file : files)
        EXPECT_FALSE(QFile::permissions(file)
            & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther))
            << file.toStdString();
}

TEST(CaptureRun, TheXServerGoingAwayEndsWithAClearErrorAndLeavesTheFilesReadable)
{
    TempHome home;
    XvfbSession session;
    ASSERT_TRUE(session.isRunning()) << session.errorString().toStdString();
    ASSERT_TRUE(session.launch(xterm(QStringLiteral("notes"), writeText(home, "notes.txt", "interplanetary archive\n"),
        QStringLiteral("60x8+0+0"))));
    ASSERT_TRUE(session.waitForWindow(QStringLiteral("notes")));

    PelluxRun capture({ QStringLiteral("capture"), QStringLiteral("--verbose") }, session.display());
    // Once the window's frame and its text are stored, the server dies.
    ASSERT_TRUE(keepActiveUntil(session, [&] { return capture.readError().contains(QStringLiteral("OCR extracted")); }))
        << capture.err().toStdString();
    session.killServer();
    const int exitCode = capture.finish(90'000);
    EXPECT_NE(exitCode, 0);
    EXPECT_NE(exitCode, -1) << "the capture did not end by itself: " << capture.err().toStdString();
    EXPECT_TRUE(capture.err().contains(QStringLiteral("X server"))) << capture.err().toStdString();

    QFile metadata(home.pelluxFolder() + QStringLiteral("/Recordings/metadata.json"));
    ASSERT_TRUE(metadata.open(QIODevice::ReadOnly));
    QString error;
    const auto recordings = decodeRecordings(metadata.readAll(), &error);
    ASSERT_TRUE(recordings) << error.toStdString();
    EXPECT_EQ(recordings->size(), 1u);
    EXPECT_EQ(search(session, QStringLiteral("interplanetary")).exitCode, 0);
}
