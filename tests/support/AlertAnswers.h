#pragma once

#include "support/TestFiles.h"
#include "ui/AlertDialog.h"
#include <QPushButton>
#include <QTest>

namespace pellux::test {

// Answers the modal alerts as they appear, one button title after the other ("Escape" presses
// that key), and keeps their texts.
class AlertAnswers : public QObject {
public:
    explicit AlertAnswers(QStringList answers)
        : m_answers(std::move(answers))
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<AlertDialog *>(QApplication::activeModalWidget());
            if (!box || m_answers.isEmpty())
                return;
            messages << box->message();
            informativeTexts << box->informativeText();
            defaults << box->buttons().at(box->defaultButton())->text();
            if (inspect)
                inspect(*box);
            const QString answer = m_answers.takeFirst();
            if (answer == QLatin1String("Escape")) {
                QTest::keyClick(box, Qt::Key_Escape);
                return;
            }
            for (QPushButton *button : box->buttons()) {
                if (button->text() == answer) {
                    button->click();
                    return;
                }
            }
            ADD_FAILURE() << "no button " << answer.toStdString();
            box->reject();
        });
        m_poll.start(10);
    }

    QStringList messages, informativeTexts;
    QStringList defaults; // each alert's default button, the one Return presses
    std::function<void(AlertDialog &)> inspect; // sees each alert before it is answered

private:
    QStringList m_answers;
    QTimer m_poll;
};

} // namespace pellux::test
