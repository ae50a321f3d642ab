#pragma once

#include "support/PrivateBus.h"
#include "support/TestFiles.h"

namespace pellux::test {

// A private X session for tests that need a real X server: an Xvfb on a free display (chosen by
// the server itself through -displayfd), with openbox as window manager unless asked otherwise.
// Programs launched through it get DISPLAY set to the session and are ended with it. Like a
// desktop, the session has a D-Bus session bus (DBUS_SESSION_BUS_ADDRESS, set while it lasts):
// without one, every Qt program would fork dbus-launch to start one, and a fork taken while
// another of its threads holds a lock can leave the child, and the program waiting on it, hung.
class XvfbSession {
public:
    struct Options {
        QSize screenSize { 1280, 1024 };
        bool windowManager = true;
    };

    struct XtermOptions {
        QString geometry = QStringLiteral("80x24+0+0"); // columns x rows + x + y
        QString background = QStringLiteral("white");
        QString foreground = QStringLiteral("black");
    };

    XvfbSession();
    explicit XvfbSession(Options options);
    ~XvfbSession();

    XvfbSession(const XvfbSession &) = delete;
    XvfbSession &operator=(const XvfbSession &) = delete;

    // False when Xvfb (or the window manager) could not be started; errorString() says why.
    bool isRunning() const { return m_server != nullptr; }
    const QString &errorString() const { return m_error; }
    // ":N"
    const QString &display() const { return m_display; }
    QSize screenSize() const { return m_options.screenSize; }

    // Starts a program in the session; returns its process id (0 on failure).
    pid_t launch(const QStringList &arguments);
    // Runs a program in the session to its end (for example xdotool); its exit status, -1 on failure.
    int run(const QStringList &arguments, int timeout_ms = 30'000);

    // Starts an xterm titled `title` that shows `text` (DejaVu Sans Mono, 12 points, no scroll bar)
    // and returns its client window once the window manager has mapped it; 0 on failure. `pid`, when
    // given, receives the xterm's process id.
    quint32 launchXterm(const QString &title, const QString &text, const XtermOptions &options, pid_t *pid = nullptr);
    quint32 launchXterm(const QString &title, const QString &text) { return launchXterm(title, text, {}); }

    // The mapped, managed client window with this title (WM_NAME or _NET_WM_NAME), waiting for it.
    quint32 waitForWindow(const QString &title, int timeout_ms = 20'000);
    // Waits until the window no longer exists on the server.
    bool waitForWindowGone(quint32 window, int timeout_ms = 20'000);

    // Kills one launched program (SIGKILL) and reaps it.
    void kill(pid_t pid);
    // Kills the X server at once, as a crash would, and reaps it.
    void killServer();

    // Moves the pointer a little now and then (a high activity level: a short capture interval)
    // until `done()` holds; false when `timeout_ms` passed first.
    bool keepActiveUntil(const std::function<bool()> &done, int timeout_ms = 120'000);

private:
    bool startServer();
    bool startWindowManager();
    // A program started with this session's DISPLAY, its output appended to `logName`; null on failure.
    std::unique_ptr<QProcess> start(const QStringList &arguments, const QString &logName);

    Options m_options;
    PrivateBus m_bus;
    const QByteArray m_previousBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QTemporaryDir m_dir;
    QString m_display;
    QString m_error;
    std::unique_ptr<QProcess> m_server;
    std::vector<std::unique_ptr<QProcess>> m_children;
    int m_xtermCount = 0;
};

} // namespace pellux::test
