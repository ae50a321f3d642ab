#pragma once

// Answers the modal alerts as they appear, as AlertAnswers does, and first saves each one as
// <name>-<n>.png beside the windows' renders for a person to look at.

#include "support/AlertAnswers.h"

#include <QDir>

namespace pellux::test {

class AlertRender : public QObject {
public:
    AlertRender(QString name, QStringList answers)
        : m_name(std::move(name))
        , m_answers(std::move(answers))
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || m_answers.isEmpty() || !box->isVisible())
                return;
            messages << box->text();
            const QString folder
                = qEnvironmentVariable("PELLUX_RENDER_DIR", QStringLiteral(PELLUX_BINARY_DIR "/ui-renders"));
            QDir().mkpath(folder);
            EXPECT_TRUE(box->grab().save(QStringLiteral("%1/%2-%3.png").arg(folder, m_name).arg(messages.size())));
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
        m_poll.start(20);
    }

    QStringList messages;

private:
    QString m_name;
    QStringList m_answers;
    QTimer m_poll;
};

} // namespace pellux::test
