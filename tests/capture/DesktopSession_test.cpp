#include "capture/DesktopSession.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace pellux {
namespace {

struct SessionCase {
    const char *name;
    SessionEnvironment environment;
    QStringList busNames; // names with an owner on the session bus
    DesktopSession expected;
};

class DesktopSessionTest : public ::testing::TestWithParam<SessionCase> { };

TEST_P(DesktopSessionTest, PicksTheBackendOfTheSession)
{
    const SessionCase &c = GetParam();
    const auto probe = [&](const QString &name) { return c.busNames.contains(name); };
    EXPECT_EQ(desktopSessionName(detectDesktopSession(c.environment, probe)), desktopSessionName(c.expected));
}

// Fields: session type, WAYLAND_DISPLAY, DISPLAY, XDG_CURRENT_DESKTOP, SWAYSOCK, forced backend.
INSTANTIATE_TEST_SUITE_P(Sessions, DesktopSessionTest,
    ::testing::Values(SessionCase { "x11_session", { "x11", "", ":0", "XFCE", "", "" }, {}, DesktopSession::x11 },
        SessionCase { "x_display_only", { "", "", ":1", "", "", "" }, {}, DesktopSession::x11 },
        SessionCase { "nothing", { "tty", "", "", "", "", "" }, {}, DesktopSession::none },
        // XWayland's DISPLAY inside a Wayland session shows only a few windows: Wayland wins.
        SessionCase { "plasma", { "wayland", "wayland-0", ":0", "KDE", "", "" }, {}, DesktopSession::kde },
        SessionCase {
            "ubuntu_gnome", { "wayland", "wayland-0", ":0", "ubuntu:GNOME", "", "" }, {}, DesktopSession::gnome },
        SessionCase { "sway_by_socket", { "", "wayland-1", "", "", "/run/user/1/sway-ipc.sock", "" }, {},
            DesktopSession::wlroots },
        SessionCase { "hyprland", { "wayland", "wayland-1", "", "Hyprland", "", "" }, {}, DesktopSession::wlroots },
        // A headless compositor started without a desktop name is recognised by its D-Bus name.
        SessionCase { "kwin_on_bus", { "", "wayland-0", "", "", "", "" }, { "org.kde.KWin" }, DesktopSession::kde },
        SessionCase {
            "shell_on_bus", { "", "wayland-0", "", "", "", "" }, { "org.gnome.Shell" }, DesktopSession::gnome },
        SessionCase { "unknown_wayland", { "wayland", "wayland-0", "", "COSMIC", "", "" }, {}, DesktopSession::portal },
        SessionCase { "x11_session_without_display", { "x11", "", "", "", "", "" }, {}, DesktopSession::none },
        SessionCase { "forced", { "x11", "", ":0", "XFCE", "", " Portal " }, {}, DesktopSession::portal },
        SessionCase { "forced_unknown_is_ignored", { "x11", "", ":0", "", "", "mir" }, {}, DesktopSession::x11 }),
    [](const ::testing::TestParamInfo<SessionCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace pellux
