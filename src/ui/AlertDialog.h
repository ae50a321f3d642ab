#pragma once

#include "ui/Alert.h"

#include <QDialog>
#include <QList>

class QLabel;
class QPushButton;

namespace pellux {

// A modal alert drawn like Pellux's windows: the Theme's colours and type, rounded buttons, the
// default one filled with the accent colour and a destructive one in red. Its message heads the
// alert and is its window title; the alert is wide enough for both and its text wraps. Every text
// is plain: messages name applications and windows. A widget rather than a QML scene, so that an
// alert costs no engine of its own and runs modal from the tray with no window open. Main thread.
class AlertDialog : public QDialog {
    Q_OBJECT

public:
    AlertDialog(QMessageBox::Icon icon, const QString &message, const QString &informativeText,
        const std::vector<AlertButton> &buttons, int defaultButton, int escapeButton, QWidget *parent = nullptr);

    // Shows the alert and waits: the position of the button chosen; Escape or closing the window
    // chooses the escape button.
    int run();

    QString message() const;
    QString informativeText() const;
    const QList<QPushButton *> &buttons() const { return m_buttons; }
    // The button Return presses; never a destructive one.
    int defaultButton() const { return m_default; }

signals:
    // A button was chosen (shown without run(), the alert then closes).
    void answered(int button);

private:
    QLabel *m_message = nullptr;
    QLabel *m_text = nullptr;
    QList<QPushButton *> m_buttons;
    int m_default = 0;
    int m_escape = 0;
    int m_chosen = -1;
};

} // namespace pellux
