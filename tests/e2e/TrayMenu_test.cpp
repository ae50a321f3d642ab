// The tray icon and its menu as a user meets them: the built program in a private X session with a
// tray (trayer), the icon found among the tray's windows, the menu opened with a right click, read
// off the screen by text recognition and used to pause capture.
#include "support/PelluxRun.h"
#include "support/XvfbSession.h"

using namespace pellux;
using namespace pellux::test;

namespace {

class TrayMenuRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!session.isRunning())
            GTEST_SKIP() << "no X session: " << session.errorString().toStdString();
        ASSERT_TRUE(home.saveFixedInterval());
        ASSERT_NE(session.launchXterm("notes", "tray menu\n"), 0u);
        ASSERT_NE(session.launch({ "trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                      "24", "--SetDockType", "true" }),
            0);
    }

    // Runs a tool in the session and answers its standard output.
    QString output(const QString &program, const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", session.display());
        return runCommand(args, env, 30'000, program).out;
    }

    // The centre of Pellux's icon embedded in the tray, once it is there.
    std::optional<QPoint> trayIcon()
    {
        // A line of the tree: 0x600006 "Pellux": ("pellux" "Pellux")  22x22+0+0  +1257+1
        static const QRegularExpression line(
            R"re("Pellux": \("pellux" "Pellux"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(\d+)\+(\d+))re");
        std::optional<QPoint> found;
        runEventsUntil(
            [&] {
                for (const QRegularExpressionMatch &m : line.globalMatch(output("xwininfo", { "-root", "-tree" }))) {
                    const int w = m.captured(1).toInt(), h = m.captured(2).toInt();
                    // The 1x1 leader window has the same name; the icon has a size.
                    if (w > 4 && h > 4)
                        found = QPoint(m.captured(3).toInt() + w / 2, m.captured(4).toInt() + h / 2);
                }
                return found.has_value();
            },
            60'000);
        return found;
    }

    // The words in the top of the screen now, as Tesseract reads them (enlarged twice, as menu text
    // is small), with their centres in screen coordinates.
    std::map<QString, QPoint> screenWords()
    {
        const QString png = dir.filePath("screen.png");
        const QRect region(0, 0, session.screenSize().width(), 450);
        const QString geometry = QStringLiteral("%1x%2+0+0").arg(region.width()).arg(region.height());
        if (session.run({ "import", "-window", "root", "-crop", geometry, "-resize", "200%", png }) != 0)
            return {};
        std::map<QString, QPoint> words;
        for (const QString &row : output("tesseract", { png, "-", "tsv" }).split('\n')) {
            const QStringList cells = row.split('\t');
            if (cells.size() >= 12 && cells[0] == "5" && !cells[11].trimmed().isEmpty())
                words.emplace(cells[11].trimmed(), // the topmost of a word seen twice
                    QPoint(cells[6].toInt() + cells[8].toInt() / 2, cells[7].toInt() + cells[9].toInt() / 2) / 2);
        }
        return words;
    }

    // Right-clicks the icon until its menu is on the screen (the tray may still be placing the
    // icon), and answers the menu's words.
    std::map<QString, QPoint> openMenu()
    {
        std::map<QString, QPoint> words;
        for (int attempt = 0; attempt < 6 && !words.contains("Pause"); ++attempt) {
            const std::optional<QPoint> icon = trayIcon();
            if (!icon)
                return {};
            click(*icon, 3);
            runEventsUntil([&] { return (words = screenWords()).contains("Pause"); }, 10'000);
        }
        return words;
    }

    void click(QPoint at, int button)
    {
        EXPECT_EQ(session.run({ "xdotool", "mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                      QString::number(button) }),
            0);
    }

    TempHome home;
    XvfbSession session;
    QTemporaryDir dir;
};

} // namespace

// The rows themselves are the application tests' concern: here the menu is really on the screen,
// read off it, and clicking a row does what it says.
TEST_F(TrayMenuRun, TheRightClickMenuShowsTheCaptureStateAndPausesCapture)
{
    // The tray application on the session's display, not on the tests' offscreen platform.
    PelluxRun pellux({ "--background", "--verbose" }, session.display(), PelluxRun::Platform::display);
    ASSERT_TRUE(trayIcon()) << pellux.readError().toStdString();
    ASSERT_TRUE(pellux.waitForError("Started screenshot capture")) << pellux.readError().toStdString();

    std::map<QString, QPoint> words = openMenu();
    for (const char *word : { "Pause", "Timeline", "Preferences...", "Quit" })
        EXPECT_TRUE(words.contains(word)) << word << pellux.readOutput().toStdString();
    EXPECT_FALSE(words.contains("Resume"));
    ASSERT_TRUE(words.contains("Pause"));
    click(words["Pause"], 1);
    ASSERT_TRUE(pellux.waitForError("Stopped screenshot capture", 30'000)) << pellux.readError().toStdString();

    EXPECT_TRUE(openMenu().contains("Resume")) << pellux.readOutput().toStdString();
    pellux.terminate();
    EXPECT_EQ(pellux.finish(60'000), 0) << pellux.readError().toStdString();
}
