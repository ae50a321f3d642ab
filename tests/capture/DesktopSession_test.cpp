#include "capture/DesktopSession.h"

#include "support/TestFiles.h"

using namespace pellux;

TEST(DesktopSession, PicksTheBackendOfTheSession)
{
    // Environment: session type, WAYLAND_DISPLAY, DISPLAY, XDG_CURRENT_DESKTOP, SWAYSOCK, forced backend.
    const struct {
        const char *name;
        SessionEnvironment environment;
        QStringList busNames; // names with an owner on the session bus
        DesktopSession expected;
    } cases[] = {
        { "x11 session", { "x11", "", ":0", "XFCE", "", "" }, {}, DesktopSession::x11 },
        { "an X display only", { "", "", ":1", "", "", "" }, {}, DesktopSession::x11 },
        { "nothing", { "tty", "", "", "", "", "" }, {}, DesktopSession::none },
        // XWayland's DISPLAY inside a Wayland session shows only a few windows: Wayland wins.
        { "plasma", { "wayland", "wayland-0", ":0", "KDE", "", "" }, {}, DesktopSession::kde },
        { "ubuntu's GNOME", { "wayland", "wayland-0", ":0", "ubuntu:GNOME", "", "" }, {}, DesktopSession::gnome },
        { "sway by its socket", { "", "wayland-1", "", "", "/run/user/1/sway-ipc.sock", "" }, {},
            DesktopSession::wlroots },
        { "hyprland", { "wayland", "wayland-1", "", "Hyprland", "", "" }, {}, DesktopSession::wlroots },
        // A headless compositor started without a desktop name is recognised by its D-Bus name.
        { "kwin on the bus", { "", "wayland-0", "", "", "", "" }, { "org.kde.KWin" }, DesktopSession::kde },
        { "the shell on the bus", { "", "wayland-0", "", "", "", "" }, { "org.gnome.Shell" }, DesktopSession::gnome },
        { "another wayland desktop", { "wayland", "wayland-0", "", "COSMIC", "", "" }, {}, DesktopSession::portal },
        { "x11 session without a display", { "x11", "", "", "", "", "" }, {}, DesktopSession::none },
        { "forced", { "x11", "", ":0", "XFCE", "", " Portal " }, {}, DesktopSession::portal },
        { "an unknown forced backend is ignored", { "x11", "", ":0", "", "", "mir" }, {}, DesktopSession::x11 },
    };
    for (const auto &c : cases)
        EXPECT_EQ(desktopSessionName(detectDesktopSession(
                      c.environment, [&](const QString &name) { return c.busNames.contains(name); })),
            desktopSessionName(c.expected))
            << c.name;
}
