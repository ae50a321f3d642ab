#pragma once

#include <QMessageBox>
#include <QString>

#include <vector>

class QWindow;

namespace pellux {

struct AlertButton {
    QString title;
    QMessageBox::ButtonRole role;
};

// Shows a modal alert (an AlertDialog whose window title is the message) above `window` when there
// is one, and answers the position of the button chosen; Escape or closing chooses `escapeButton`.
// The roles mark the destructive button, which is never the default.
int runAlert(QWindow *window, QMessageBox::Icon icon, const QString &message, const QString &informativeText,
    const std::vector<AlertButton> &buttons, int defaultButton, int escapeButton);

} // namespace pellux
