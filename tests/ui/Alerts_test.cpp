// Alerts in the windows' own style: wide enough for their message, plain text, the destructive
// button red and never the default, Escape for the escape button; rendered to PNG for a person.
#include "support/AlertAnswers.h"
#include "support/FakeClock.h"
#include "ui/Alert.h"
#include "ui/AppControls.h"

#include <QDateTime>
#include <QDirIterator>
#include <QLabel>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace pellux;
using test::AlertAnswers;

namespace {

// Whether `image` shows Theme.red text (a pixel far more red than green or blue).
bool showsRed(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 140 && c.blue() < 140)
                return true;
        }
    }
    return false;
}

TimePoint local(int day, int hour, int minute)
{
    return fromSecondsSince1970(QDateTime(QDate(2026, 12, day), QTime(hour, minute)).toSecsSinceEpoch());
}

} // namespace

TEST(Alerts, StyledPlainWideAndAnsweredAsTheContractSays)
{
    const AlertButton cancel { QStringLiteral("Cancel"), QMessageBox::RejectRole };
    const struct {
        const char *name;
        QMessageBox::Icon icon;
        QString message, text;
        std::vector<AlertButton> buttons;
        int defaultButton, escapeButton;
        QString answer;
        int chosen;
        QString shownDefault; // a destructive default falls back to the escape button
    } cases[] = {
        { "delete-all", QMessageBox::Warning, "Delete All Screenshots?",
            "This will permanently delete all screenshots and their text. This action cannot be undone.",
            { { "Delete All", QMessageBox::DestructiveRole }, cancel }, 0, 1, "Escape", 1, "Cancel" },
        { "reset-database", QMessageBox::Warning, "Reset Database?",
            "This will delete all screenshots and OCR data. This action cannot be undone.",
            { { "Reset", QMessageBox::DestructiveRole }, cancel }, 1, 1, "Reset", 0, "Cancel" },
        { "keep-running", QMessageBox::Question, "Keep Pellux Running in the Background?",
            "Pellux keeps recording your screen while this window is closed.",
            { { "Keep Running", QMessageBox::AcceptRole }, { "Quit", QMessageBox::DestructiveRole }, cancel }, 0, 2,
            "Quit", 1, "Keep Running" },
        // Application names come from the screen: their markup is shown, never applied.
        { "markup", QMessageBox::Information, "Exclude <b>Fire</b>fox & Co?", "<img src=\"x\"> <i>stays</i> text",
            { { "OK", QMessageBox::AcceptRole } }, 0, 0, "OK", 0, "OK" },
    };
    const QString folder = qEnvironmentVariable("PELLUX_RENDER_DIR", QStringLiteral(PELLUX_BINARY_DIR "/ui-renders"));
    QDir().mkpath(folder);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        AlertAnswers answers({ c.answer });
        answers.inspect = [&](AlertDialog &alert) {
            EXPECT_EQ(alert.windowTitle(), c.message);
            // The window manager's title and the heading both fit: no "Delete A...enshots?".
            EXPECT_GE(alert.width(), QFontMetrics(alert.font()).horizontalAdvance(c.message) + 100);
            const auto *heading = alert.findChild<QLabel *>(QStringLiteral("alertMessage"));
            EXPECT_GE(heading->width(), QFontMetrics(heading->font()).horizontalAdvance(c.message));
            for (const auto *label : alert.findChildren<QLabel *>())
                EXPECT_TRUE(label->text().isEmpty() || label->textFormat() == Qt::PlainText);
            const QImage picture = alert.grab().toImage();
            EXPECT_TRUE(picture.save(QStringLiteral("%1/alert-%2.png").arg(folder, QLatin1String(c.name))));
            for (size_t i = 0; i < c.buttons.size(); ++i) {
                QPushButton *button = alert.buttons().at(int(i));
                const QRect area(button->mapTo(&alert, QPoint(0, 0)), button->size());
                EXPECT_EQ(showsRed(picture.copy(area)), c.buttons[i].role == QMessageBox::DestructiveRole)
                    << button->text().toStdString();
            }
        };
        // No window: the tray asks.
        EXPECT_EQ(runAlert(nullptr, c.icon, c.message, c.text, c.buttons, c.defaultButton, c.escapeButton), c.chosen);
        EXPECT_EQ(answers.messages, QStringList { c.message });
        EXPECT_EQ(answers.informativeTexts, QStringList { c.text });
        EXPECT_EQ(answers.defaults, QStringList { c.shownDefault });
    }
}

// The controls the window offers where no tray does: the state it shows, how long a pause lasts,
// and what closing the window does without a tray.
TEST(AppControls, StateAndPauses)
{
    test::FakeClock clock(local(8, 21, 30));
    std::vector<std::optional<TimePoint>> pauses;
    int resumes = 0;
    AppControls controls(
        { {}, {}, {}, {}, [&](std::optional<TimePoint> until) { pauses.push_back(until); }, [&] { ++resumes; }, {} },
        clock);

    controls.pauseFor(30);
    controls.pauseFor(0);
    controls.pauseFor(-1);
    EXPECT_EQ(pauses, (std::vector<std::optional<TimePoint>> { local(8, 22, 0), std::nullopt, local(9, 0, 0) }));

    const struct {
        bool capturing, canCapture;
        std::optional<TimePoint> until;
        double interval;
        QString text;
    } states[] = {
        { true, true, std::nullopt, 0, "Recording" },
        { true, true, std::nullopt, 2.5, "Recording, every 2.5 s" },
        { false, true, std::nullopt, 2, "Paused" },
        { false, true, local(8, 22, 0), 2, "Paused until " + QLocale().toString(QTime(22, 0), QLocale::ShortFormat) },
        { false, true, local(9, 0, 0), 2,
            "Paused until tomorrow, " + QLocale().toString(QTime(0, 0), QLocale::ShortFormat) },
        { false, false, std::nullopt, 2, "Not recording" },
    };
    for (const auto &s : states) {
        controls.setInterval(s.interval);
        controls.setState(s.capturing, s.canCapture, s.until);
        EXPECT_EQ(controls.stateText(), s.text);
    }

    // Ctrl+P: pauses while recording (until resumed), resumes otherwise.
    controls.setState(true, true, std::nullopt);
    controls.togglePause();
    EXPECT_EQ(pauses.back(), std::nullopt);
    EXPECT_EQ(pauses.size(), 4u);
    controls.setState(false, true, std::nullopt);
    controls.togglePause();
    EXPECT_EQ(resumes, 1);
}

// With a tray the window just closes; without one the user is asked, and may quit from there.
TEST(AppControls, ClosingTheWindowWithoutATrayAsks)
{
    bool tray = true;
    int quits = 0;
    AppControls controls({ {}, {}, {}, [&] { ++quits; }, {}, {}, [&] { return tray; } });
    EXPECT_TRUE(controls.confirmClose(nullptr));

    tray = false;
    const std::pair<const char *, bool> answers[]
        = { { "Keep Running", true }, { "Cancel", false }, { "Quit", false } };
    for (const auto &[answer, closes] : answers) {
        AlertAnswers alerts({ QString::fromLatin1(answer) });
        EXPECT_EQ(controls.confirmClose(nullptr), closes) << answer;
        EXPECT_EQ(alerts.messages, QStringList { "Keep Pellux Running in the Background?" });
        EXPECT_EQ(alerts.defaults, QStringList { "Keep Running" });
    }
    EXPECT_EQ(quits, 1);
}

// One word for one thing: what Pellux keeps is called "screenshots" wherever a window says it.
TEST(Wording, TheWindowsCallWhatIsKeptScreenshots)
{
    const QRegularExpression literal(QStringLiteral(R"("(?:[^"\\]|\\.)*")"));
    const QRegularExpression otherWord(
        QStringLiteral(R"(\b(recordings?|captured moments?)\b)"), QRegularExpression::CaseInsensitiveOption);
    // The permission and the act keep their names: "Screen Recording Permission", "Start Recording".
    const QRegularExpression theAct(
        QStringLiteral(R"((screen |start |stop )recording\b)"), QRegularExpression::CaseInsensitiveOption);
    int files = 0;
    QStringList found;
    for (QDirIterator it(
             QStringLiteral(":/Pellux"), { QStringLiteral("*.qml") }, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ++files;
        const QString text = QString::fromUtf8(file.readAll());
        for (const QRegularExpressionMatch &m : literal.globalMatch(text)) {
            QString shown = m.captured();
            shown.remove(theAct);
            if (otherWord.match(shown).hasMatch())
                found << file.fileName() + QStringLiteral(": ") + m.captured();
        }
    }
    EXPECT_GT(files, 40);
    EXPECT_EQ(found, QStringList());
}
