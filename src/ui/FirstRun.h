#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace pellux {

class AppControls;

// The sheet the search window opens with on Pellux's first start: what is recorded, where it is
// kept, how to pause and how to leave applications out. Shown until the user dismisses it, which
// is remembered in the settings file for good. Main thread.
class FirstRun : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the search window")
    Q_PROPERTY(bool pending READ pending NOTIFY pendingChanged)
    Q_PROPERTY(QString storeFolder READ storeFolder CONSTANT)
    Q_PROPERTY(QString pauseText READ pauseText NOTIFY textsChanged)
    Q_PROPERTY(QString dismissText READ dismissText NOTIFY textsChanged)

public:
    // `controls` (may be absent) say whether there is a tray and whether capture runs, and open the
    // Privacy settings.
    explicit FirstRun(AppControls *controls, QObject *parent = nullptr);

    // Whether the sheet is still owed: no settings file yet, or no dismissal in it.
    static bool isPending();
    // Records the dismissal; false (logged) when the settings file cannot be written.
    static bool markDismissed();

    bool pending() const { return m_pending; }
    QString storeFolder() const;
    QString pauseText() const;
    // "Start Recording" while capture could run but does not, else "Got It".
    QString dismissText() const;

    // Dismisses the sheet for good, starting capture when the button said so.
    Q_INVOKABLE void dismiss();
    Q_INVOKABLE void openPrivacySettings();

signals:
    void pendingChanged();
    void textsChanged();

private:
    bool startsRecording() const;

    QPointer<AppControls> m_controls;
    bool m_pending;
};

} // namespace pellux
