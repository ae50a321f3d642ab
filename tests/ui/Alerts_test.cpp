// Alerts in the windows' own style: wide enough for their message, plain text, the destructive
// button red and never the default, Escape for the escape button; rendered to PNG for a person. Then
// what asks through them: the clean-up questions and reports, and the window's controls.
#include "persistence/AppPreferences.h"
#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"
#include "support/AlertAnswers.h"
#include "support/FakeClock.h"
#include "support/SyntheticHistory.h"
#include "ui/Alert.h"
#include "ui/AppControls.h"
#include "ui/DeletionAlerts.h"
#include "ui/WindowActions.h"

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
    for (int i = 0; i < image.width() * image.height(); ++i) {
        const QColor c = image.pixelColor(i % image.width(), i / image.width());
        if (c.red() > 200 && c.green() < 140 && c.blue() < 140)
            return true;
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
        bool recognitionDeferred = false;
    } states[] = {
        { true, true, std::nullopt, 0, "Recording" },
        { true, true, std::nullopt, 5, "Recording, every 5 s; on battery, text is read when you are away", true },
        { false, true, std::nullopt, 5, "Paused", true },
        { true, true, std::nullopt, 2.5, "Recording, every 2.5 s" },
        { false, true, std::nullopt, 2, "Paused" },
        { false, true, local(8, 22, 0), 2, "Paused until " + QLocale().toString(QTime(22, 0), QLocale::ShortFormat) },
        { false, true, local(9, 0, 0), 2,
            "Paused until tomorrow, " + QLocale().toString(QTime(0, 0), QLocale::ShortFormat) },
        { false, false, std::nullopt, 2, "Not recording" },
    };
    for (const auto &s : states) {
        controls.setInterval(s.interval);
        controls.setRecognitionDeferred(s.recognitionDeferred);
        controls.setState(s.capturing, s.canCapture, s.until);
        EXPECT_EQ(controls.stateText(), s.text);
    }

    // Ctrl+P: pauses while recording (until resumed), resumes otherwise.
    controls.setState(true, true, std::nullopt);
    controls.togglePause();
    controls.setState(false, true, std::nullopt);
    controls.togglePause();
    EXPECT_EQ(std::tuple(pauses.size(), pauses.back(), resumes), std::tuple(size_t(4), std::optional<TimePoint>(), 1));
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

namespace {

struct CleanupCase {
    const char *name;
    int retentionDays; // 0: kept forever
    QStringList answers;
    int left; // of six recordings 65, 55, 45, 35, 25 and 15 days old
    QStringList messages; // of the alerts shown, in order; a trailing "Removed N screenshots, " is followed by a size
};

class CleanupAlerts : public ::testing::TestWithParam<CleanupCase> { };

// Clean Up offers the age the preferences keep, confirms what goes (Return keeps it), and says
// what it removed.
TEST_P(CleanupAlerts, DeleteWhatWasChosen)
{
    const CleanupCase &c = GetParam();
    test::TempHome home;
    AppPreferences preferences = AppPreferences::load();
    preferences.retentionDays = c.retentionDays;
    ASSERT_TRUE(preferences.save());
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    ASSERT_TRUE(test::writeSyntheticHistory({ .recordings = 6,
        .firstCaptureSeconds = now - 65 * 86400.0,
        .windowsPerCycle = 1,
        .cycleSeconds = 10 * 86400.0,
        .withMetadata = true,
        .withImageFiles = true }));
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index(database);
    StorageManager storage(index);
    ASSERT_TRUE(test::runEventsUntil([&] { return storage.recordingCount() == 6; }, 5000));
    WindowActions actions(nullptr, storage);

    QSignalSpy finished(&actions, &WindowActions::cleanupFinished);
    AlertAnswers answers(c.answers);
    actions.showCleanupOptions();
    ASSERT_TRUE(!finished.isEmpty() || finished.wait(20000));
    EXPECT_EQ(storage.recordingCount(), c.left);
    ASSERT_EQ(answers.messages.size(), c.messages.size()) << answers.messages.join(" | ").toStdString();
    for (qsizetype i = 0; i < c.messages.size(); ++i) {
        const QString &shown = answers.messages[i], &expected = c.messages[i];
        EXPECT_TRUE(
            expected.startsWith("Removed ") ? shown.startsWith(expected) && shown.endsWith("B") : shown == expected)
            << shown.toStdString() << " is not " << expected.toStdString();
        // Every question that deletes defaults to keeping.
        EXPECT_TRUE(i == 0 || !shown.endsWith('?') || answers.defaults[i] == "Cancel") << shown.toStdString();
    }
    EXPECT_EQ(answers.informativeTexts.value(0).contains("kept forever"), c.retentionDays == 0);
}

INSTANTIATE_TEST_SUITE_P(WindowActions, CleanupAlerts,
    ::testing::Values(CleanupCase { "cancel", 30, { "Cancel" }, 6, { "Clean Up Storage" } },
        CleanupCase { "older_than_30_days", 30, { "Delete Screenshots Older Than 30 Days", "Delete", "OK" }, 2,
            { "Clean Up Storage", "Delete 4 screenshots?", "Removed 4 screenshots, " } },
        CleanupCase { "older_than_30_days_cancelled", 30, { "Delete Screenshots Older Than 30 Days", "Cancel" }, 6,
            { "Clean Up Storage", "Delete 4 screenshots?" } },
        CleanupCase { "older_than_7_days", 7, { "Delete Screenshots Older Than 7 Days", "Delete", "OK" }, 0,
            { "Clean Up Storage", "Delete 6 screenshots?", "Removed 6 screenshots, " } },
        CleanupCase { "none_older_than_a_year", 365, { "Delete Screenshots Older Than 365 Days", "OK" }, 6,
            { "Clean Up Storage", "No Screenshots Older Than 365 Days" } },
        CleanupCase { "kept_forever_delete_all", 0, { "Delete All Screenshots", "Delete All", "OK" }, 0,
            { "Clean Up Storage", "Delete All Screenshots?", "Removed 6 screenshots, " } },
        CleanupCase { "delete_all_then_cancel", 30, { "Delete All Screenshots", "Cancel" }, 6,
            { "Clean Up Storage", "Delete All Screenshots?" } }),
    [](const auto &info) { return std::string(info.param.name); });

// The report counts in the user's locale and sizes as the storage toolbar does; a failure says why.
TEST(DeletionAlerts, ReportsWhatWentOrWhy)
{
    const QLocale before, us(QLocale::English, QLocale::UnitedStates);
    const struct {
        QLocale locale;
        DeletionReport report;
        const char *message, *detail;
    } cases[] = {
        { us, { true, 1204, 2'100'000'000, {} }, "Removed 1,204 screenshots, 2.1 GB", "" },
        { QLocale(QLocale::German), { true, 1204, 2'100'000'000, {} }, "Removed 1.204 screenshots, 2.1 GB", "" },
        { us, { true, 1, 1000, {} }, "Removed 1 screenshot, 1 KB", "" },
        { us, { true, 0, 0, {} }, "No Screenshots Were Removed", "" },
        { us, { false, 2000, 5'000'000, "The disk is full." }, "Screenshots Could Not Be Deleted",
            "The disk is full. 2,000 screenshots (5 MB) were removed before that." },
    };
    for (const auto &c : cases) {
        QLocale::setDefault(c.locale);
        EXPECT_EQ(deletionReportMessage(c.report), c.message);
        EXPECT_EQ(deletionReportDetail(c.report), c.detail);
    }
    QLocale::setDefault(before);
}

} // namespace
