#include "ui/Alert.h"

#include <QPushButton>
#include <QWindow>

#include <algorithm>

namespace pellux {

int runAlert(QWindow *window, QMessageBox::Icon icon, const QString &message, const QString &informativeText,
    const std::vector<AlertButton> &buttons, int defaultButton, int escapeButton)
{
    QMessageBox box(icon, message, message);
    // Messages may name applications and windows: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(informativeText);
    // Wide enough that the message, which is also the window's title, is not clipped.
    box.setStyleSheet(
        QStringLiteral("QLabel#qt_msgbox_label, QLabel#qt_msgbox_informativelabel { min-width: 380px; }"));
    std::vector<QPushButton *> pushButtons;
    for (const AlertButton &button : buttons)
        pushButtons.push_back(box.addButton(button.title, button.role));
    // Return never destroys: a destructive answer is only ever chosen on purpose.
    if (buttons[size_t(defaultButton)].role == QMessageBox::DestructiveRole)
        defaultButton = escapeButton;
    box.setDefaultButton(pushButtons[size_t(defaultButton)]);
    box.setEscapeButton(pushButtons[size_t(escapeButton)]);
    box.setWindowModality(Qt::ApplicationModal);
    if (window) {
        // Alerts are widgets: tie the box to the Qt Quick window it belongs to.
        box.winId();
        if (QWindow *handle = box.windowHandle())
            handle->setTransientParent(window);
    }
    box.exec();
    const auto chosen = std::find(pushButtons.begin(), pushButtons.end(), box.clickedButton());
    return chosen == pushButtons.end() ? escapeButton : int(chosen - pushButtons.begin());
}

} // namespace pellux
