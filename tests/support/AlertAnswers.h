#pragma once

#include "support/TestFiles.h"
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

namespace pellux::test {

// Answers the modal alerts as they appear, one button title after the other, and keeps their
// texts.
class AlertAnswers : public QObject {
public:
    explicit AlertAnswers(QStringList answers)
        : m_answers(std::move(answers))
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || m_answers.isEmpty())
                return;
            messages << box->text();
            informativeTexts << box->informativeText();
            defaults << (box->defaultButton() ? box->defaultButton()->text() : QString());
            const QString answer = m_answers.takeFirst();
            for (QAbstractButton *button : box->buttons()) {
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

    QStringList messages;
    QStringList informativeTexts;
    QStringList defaults; // each alert's default button, the one Return presses

private:
    QStringList m_answers;
    QTimer m_poll;
};

} // namespace pellux::test
