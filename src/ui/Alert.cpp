#include "ui/Alert.h"

#include "ui/AlertDialog.h"

#include <QWindow>

namespace pellux {

int runAlert(QWindow *window, QMessageBox::Icon icon, const QString &message, const QString &informativeText,
    const std::vector<AlertButton> &buttons, int defaultButton, int escapeButton)
{
    AlertDialog dialog(icon, message, informativeText, buttons, defaultButton, escapeButton);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (window) {
        // Alerts are widgets: tie the dialog to the Qt Quick window it belongs to.
        dialog.winId();
        if (QWindow *handle = dialog.windowHandle())
            handle->setTransientParent(window);
    }
    return dialog.run();
}

} // namespace pellux
