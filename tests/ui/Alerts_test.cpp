// Alerts in the windows' own style: wide enough for their message, plain text, the destructive
// button red and never the default, Escape for the escape button; rendered to PNG for a person.
#include "support/AlertAnswers.h"
#include "ui/Alert.h"

#include <QLabel>

#include <gtest/gtest.h>

using namespace pellux;

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
        test::AlertAnswers answers({ c.answer });
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
