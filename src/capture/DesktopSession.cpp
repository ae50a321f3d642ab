#include "capture/DesktopSession.h"

#include <QStringList>

namespace pellux {

QString desktopSessionName(DesktopSession session)
{
    switch (session) {
    case DesktopSession::none:
        return QStringLiteral("none");
    case DesktopSession::x11:
        return QStringLiteral("x11");
    case DesktopSession::kde:
        return QStringLiteral("kde");
    case DesktopSession::gnome:
        return QStringLiteral("gnome");
    case DesktopSession::wlroots:
        return QStringLiteral("wlroots");
    case DesktopSession::portal:
        return QStringLiteral("portal");
    }
    return QStringLiteral("none");
}

SessionEnvironment SessionEnvironment::fromProcess()
{
    return SessionEnvironment {
        qEnvironmentVariable("XDG_SESSION_TYPE"),
        qEnvironmentVariable("WAYLAND_DISPLAY"),
        qEnvironmentVariable("DISPLAY"),
        qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
        qEnvironmentVariable("SWAYSOCK"),
        qEnvironmentVariable("PELLUX_CAPTURE_BACKEND"),
    };
}

DesktopSession detectDesktopSession(const SessionEnvironment &environment, const BusNameProbe &busNameHasOwner)
{
    const QString forced = environment.forcedBackend.trimmed().toLower();
    for (DesktopSession session : { DesktopSession::x11, DesktopSession::kde, DesktopSession::gnome,
             DesktopSession::wlroots, DesktopSession::portal }) {
        if (!forced.isEmpty() && forced == desktopSessionName(session))
            return session;
    }

    const QString type = environment.sessionType.trimmed().toLower();
    const bool wayland = !environment.waylandDisplay.isEmpty() || type == QLatin1String("wayland");
    const bool hasX = !environment.display.isEmpty();
    if (type == QLatin1String("x11") && hasX)
        return DesktopSession::x11;
    if (!wayland)
        return hasX ? DesktopSession::x11 : DesktopSession::none;

    // Names such as "ubuntu:GNOME", "KDE", "sway", "Hyprland"; compared without case.
    const QStringList desktops = environment.currentDesktop.toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const auto names = [&](std::initializer_list<const char *> candidates) {
        for (const char *candidate : candidates) {
            if (desktops.contains(QLatin1String(candidate)))
                return true;
        }
        return false;
    };
    if (names({ "kde", "plasma" }))
        return DesktopSession::kde;
    if (names({ "gnome", "gnome-classic", "gnome-flashback" }))
        return DesktopSession::gnome;
    if (!environment.swaySocket.isEmpty() || names({ "sway", "wlroots", "river", "wayfire", "labwc", "hyprland" }))
        return DesktopSession::wlroots;
    if (busNameHasOwner && busNameHasOwner(QStringLiteral("org.kde.KWin")))
        return DesktopSession::kde;
    if (busNameHasOwner && busNameHasOwner(QStringLiteral("org.gnome.Shell")))
        return DesktopSession::gnome;
    return DesktopSession::portal;
}

} // namespace pellux
