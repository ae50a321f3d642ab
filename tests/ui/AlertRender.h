#pragma once

// Answers the modal alerts as they appear, as AlertAnswers does, and first saves each one as
// <name>-<n>.png beside the windows' renders for a person to look at.

#include "support/AlertAnswers.h"

#include <QDir>

namespace pellux::test {

class AlertRender : public AlertAnswers {
public:
    AlertRender(QString name, QStringList answers)
        : AlertAnswers(std::move(answers))
    {
        inspect = [this, name = std::move(name)](AlertDialog &box) {
            const QString folder
                = qEnvironmentVariable("PELLUX_RENDER_DIR", QStringLiteral(PELLUX_BINARY_DIR "/ui-renders"));
            QDir().mkpath(folder);
            EXPECT_TRUE(box.grab().save(QStringLiteral("%1/%2-%3.png").arg(folder, name).arg(messages.size())));
        };
    }
};

} // namespace pellux::test
