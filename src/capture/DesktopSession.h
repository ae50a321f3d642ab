#pragma once

#include <QString>

#include <functional>

namespace pellux {

// The kind of desktop session Pellux captures in; it decides which backend reads the screen.
enum class DesktopSession {
    none, // no display server Pellux can reach
    x11,
    kde, // KWin (Plasma 5.27 and 6)
    gnome, // gnome-shell with Pellux's shell extension
    wlroots, // sway and other wlroots compositors
    portal, // any other Wayland desktop: the ScreenCast portal, one monitor at a time
};

QString desktopSessionName(DesktopSession session);

// What the loader reads from the environment (passed in so the rules can be tested alone).
struct SessionEnvironment {
    QString sessionType; // XDG_SESSION_TYPE
    QString waylandDisplay; // WAYLAND_DISPLAY
    QString display; // DISPLAY
    QString currentDesktop; // XDG_CURRENT_DESKTOP, colon-separated
    QString swaySocket; // SWAYSOCK
    QString forcedBackend; // PELLUX_CAPTURE_BACKEND: x11, kde, gnome, wlroots or portal

    static SessionEnvironment fromProcess();
};

// Whether a D-Bus name has an owner on the session bus.
using BusNameProbe = std::function<bool(const QString &name)>;

// The session's kind: a forced backend wins; an X11 session (or an X display without Wayland) is
// x11; on Wayland the desktop named by XDG_CURRENT_DESKTOP, else the compositor that answers on
// D-Bus or the sway socket, else the portal.
DesktopSession detectDesktopSession(const SessionEnvironment &environment, const BusNameProbe &busNameHasOwner);

} // namespace pellux
