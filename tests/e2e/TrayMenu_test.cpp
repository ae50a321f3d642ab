// The tray icon and its menu as a user meets them: the built program in a private X session with a
// tray (trayer), the icon found among the tray's windows, the menu opened with a right click, read
// off the screen by text recognition and used to pause capture.
#include "persistence/AppPreferences.h"
#include "support/PelluxRun.h"
#include "support/TempHome.h"
#include "support/XvfbSession.h"

#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace pellux;
using namespace pellux::test;

namespace {

const QString kMenuShown = QStringLiteral("DEBUG AppDelegate: Status menu shown: ");

// A word recognised on the screen, centred at `center`.
struct Word {
    QString text;
    QPoint center;
};

class TrayMenuRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!session.isRunning())
            GTEST_SKIP() << "no X session: " << session.errorString().toStdString();
        AppPreferences preferences = AppPreferences::defaultValue();
        preferences.useDynamicIntervals = false;
        preferences.screenshotInterval = 2.0;
        ASSERT_TRUE(preferences.save());
        ASSERT_NE(session.launchXterm(QStringLiteral("notes"), QStringLiteral("tray menu\n")), 0u);
        ASSERT_NE(session.launch({ QStringLiteral("trayer"), QStringLiteral("--edge"), QStringLiteral("top"),
                      QStringLiteral("--align"), QStringLiteral("right"), QStringLiteral("--widthtype"),
                      QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24"),
                      QStringLiteral("--SetDockType"), QStringLiteral("true") }),
            0);
    }

    // Runs a tool in the session and answers its standard output.
    QString output(const QString &program, const QStringList &args)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), session.display());
        process.setProcessEnvironment(env);
        process.start(program, args);
        process.waitForFinished(30'000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // The centre of Pellux's icon embedded in the tray, once it is there.
    std::optional<QPoint> trayIcon()
    {
        // A line of the tree: 0x600006 "Pellux": ("pellux" "Pellux")  22x22+0+0  +1257+1
        static const QRegularExpression line(
            QStringLiteral(R"re("Pellux": \("pellux" "Pellux"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(\d+)\+(\d+))re"));
        std::optional<QPoint> found;
        XvfbSession::waitUntil(
            [&] {
                const QString tree
                    = output(QStringLiteral("xwininfo"), { QStringLiteral("-root"), QStringLiteral("-tree") });
                for (const QRegularExpressionMatch &m : line.globalMatch(tree)) {
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

    // The words in a region of the screen now, as Tesseract reads them (enlarged twice, as menu
    // text is small), with their centres in screen coordinates.
    std::vector<Word> screenWords(const QRect &region)
    {
        const QString png = dir.filePath(QStringLiteral("screen.png"));
        const QString geometry
            = QStringLiteral("%1x%2+%3+%4").arg(region.width()).arg(region.height()).arg(region.x()).arg(region.y());
        if (session.run({ QStringLiteral("import"), QStringLiteral("-window"), QStringLiteral("root"),
                QStringLiteral("-crop"), geometry, QStringLiteral("-resize"), QStringLiteral("200%"), png })
            != 0)
            return {};
        const QString tsv = output(QStringLiteral("tesseract"), { png, QStringLiteral("-"), QStringLiteral("tsv") });
        std::vector<Word> words;
        for (const QString &row : tsv.split(QLatin1Char('\n'))) {
            const QStringList cells = row.split(QLatin1Char('\t'));
            if (cells.size() < 12 || cells[0] != QLatin1String("5") || cells[11].trimmed().isEmpty())
                continue;
            const QPoint center(cells[6].toInt() + cells[8].toInt() / 2, cells[7].toInt() + cells[9].toInt() / 2);
            words.push_back({ cells[11].trimmed(), region.topLeft() + center / 2 });
        }
        return words;
    }

    static std::optional<QPoint> find(const std::vector<Word> &words, const QString &text)
    {
        for (const Word &w : words)
            if (w.text == text)
                return w.center;
        return std::nullopt;
    }

    // Right-clicks the icon until a menu shows (the tray may still be placing the icon), and answers
    // the rows of the `n`th menu shown (1-based), from the verbose log.
    std::optional<QString> openMenu(PelluxRun &run, int n)
    {
        std::optional<QString> rows;
        for (int attempt = 0; attempt < 6 && !rows; ++attempt) {
            const std::optional<QPoint> icon = trayIcon();
            if (!icon)
                return std::nullopt;
            rightClick(*icon);
            XvfbSession::waitUntil(
                [&] {
                    const QStringList lines = run.readOutput().split(QLatin1Char('\n')).filter(kMenuShown);
                    if (lines.size() >= n)
                        rows = lines[n - 1].mid(lines[n - 1].indexOf(kMenuShown) + kMenuShown.size());
                    return rows.has_value();
                },
                5'000);
        }
        return rows;
    }

    void rightClick(QPoint at)
    {
        EXPECT_EQ(session.run({ QStringLiteral("xdotool"), QStringLiteral("mousemove"), QString::number(at.x()),
                      QString::number(at.y()), QStringLiteral("click"), QStringLiteral("3") }),
            0);
    }

    TempHome home;
    XvfbSession session;
    QTemporaryDir dir;
};

} // namespace

TEST_F(TrayMenuRun, TheRightClickMenuShowsTheCaptureStateAndPausesCapture)
{
    // The tray application on the session's display, not on the tests' offscreen platform.
    PelluxRun pellux({ QStringLiteral("--background"), QStringLiteral("--verbose") }, session.display(),
        PelluxRun::Platform::display);

    const std::optional<QPoint> icon = trayIcon();
    ASSERT_TRUE(icon) << pellux.readError().toStdString();
    ASSERT_TRUE(pellux.waitForError(QStringLiteral("Started screenshot capture"))) << pellux.readError().toStdString();

    const std::optional<QString> capturing = openMenu(pellux, 1);
    ASSERT_TRUE(capturing) << pellux.readOutput().toStdString();
    EXPECT_EQ(*capturing,
        QStringLiteral("✓ Capturing Screenshots | - | Pause Screenshots | - | Open Timeline | Debug View | - | "
                       "Preferences... | Check for Updates... | About Pellux | Debug | - | Quit"));

    // The menu is really on the screen: its rows are read off it, and one is clicked.
    std::vector<Word> words;
    XvfbSession::waitUntil(
        [&] {
            words = screenWords(QRect(0, 0, session.screenSize().width(), 450));
            return find(words, QStringLiteral("Pause")).has_value();
        },
        20'000);
    for (const char *word : { "Pause", "Timeline", "Preferences...", "Quit" })
        EXPECT_TRUE(find(words, QLatin1String(word))) << word;
    const std::optional<QPoint> pause = find(words, QStringLiteral("Pause"));
    ASSERT_TRUE(pause);
    ASSERT_EQ(session.run({ QStringLiteral("xdotool"), QStringLiteral("mousemove"), QString::number(pause->x()),
                  QString::number(pause->y()), QStringLiteral("click"), QStringLiteral("1") }),
        0);
    ASSERT_TRUE(pellux.waitForError(QStringLiteral("Stopped screenshot capture"), 30'000))
        << pellux.readError().toStdString();

    const std::optional<QString> paused = openMenu(pellux, 2);
    ASSERT_TRUE(paused) << pellux.readOutput().toStdString();
    EXPECT_TRUE(paused->startsWith(QStringLiteral("Screenshots Paused | - | Resume Screenshots | - | Open Timeline")))
        << paused->toStdString();

    pellux.terminate();
    EXPECT_EQ(pellux.finish(60'000), 0) << pellux.readError().toStdString();
}
