#pragma once

#include "runtime/Clock.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <optional>

namespace pellux {

// What the tray menu offers, reachable from the window too: on desktops without a tray the window
// is the only place to pause, open the preferences or quit. The application fills in the handlers
// and tells it the capture state; the window shows that state and calls the handlers. Main thread.
class AppControls : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the application")
    Q_PROPERTY(bool capturing READ capturing NOTIFY stateChanged)
    Q_PROPERTY(bool canCapture READ canCapture NOTIFY stateChanged)
    Q_PROPERTY(QString stateText READ stateText NOTIFY stateChanged)

public:
    struct Handlers {
        std::function<void()> preferences;
        std::function<void()> debugView;
        std::function<void()> about;
        std::function<void()> quit;
        // Pauses until the given time, or until resumed when there is none.
        std::function<void(std::optional<TimePoint>)> pause;
        std::function<void()> resume;
        std::function<bool()> trayAvailable;
        std::function<void()> privacySettings;
    };

    explicit AppControls(Handlers handlers, const Clock &clock = Clock::system(), QObject *parent = nullptr);

    bool capturing() const { return m_capturing; }
    bool canCapture() const { return m_canCapture; }
    QString stateText() const;
    // Whether the desktop shows Pellux's tray icon (true when nobody said).
    bool trayAvailable() const;

    // `capturing`: frames are being taken; `canCapture`: they could be (permission, no other
    // capturing process); `pausedUntil`: when a pause for a while ends.
    void setState(bool capturing, bool canCapture, std::optional<TimePoint> pausedUntil);
    // The capture interval in effect, which follows the user's activity.
    void setInterval(double seconds);
    // On battery and in use: text recognition waits until the user is away.
    void setRecognitionDeferred(bool deferred);

    // Pause for `minutes`; 0 pauses until resumed, -1 until tomorrow (local midnight).
    Q_INVOKABLE void pauseFor(int minutes);
    Q_INVOKABLE void resume();
    Q_INVOKABLE void togglePause();
    Q_INVOKABLE void showPreferences();
    // The preferences window opened on its Privacy pane.
    Q_INVOKABLE void showPrivacySettings();
    Q_INVOKABLE void showDebugView();
    Q_INVOKABLE void showAbout();
    Q_INVOKABLE void quit();
    // The window is being closed: true when it may simply close. Without a tray nothing would be
    // left on screen while Pellux records, so the user is asked first whether to keep recording.
    Q_INVOKABLE bool confirmClose(QObject *window);

    // When a pause of `minutes` (as pauseFor) started at `now` ends; none for 0.
    static std::optional<TimePoint> pauseEnd(int minutes, TimePoint now);

signals:
    void stateChanged();

private:
    Handlers m_handlers;
    const Clock &m_clock;
    bool m_capturing = false;
    bool m_canCapture = false;
    std::optional<TimePoint> m_pausedUntil;
    double m_interval = 0;
    bool m_recognitionDeferred = false;
};

} // namespace pellux
