#include "ui/PermissionGuide.h"

namespace pellux {

PermissionGuide permissionGuideFor(DesktopSession session)
{
    switch (session) {
    case DesktopSession::kde:
        return { QStringLiteral("Pellux needs KWin's permission to capture windows. KWin grants it to Pellux "
                                "installed with its desktop entry."),
            QStringLiteral("Open Help"),
            { QStringLiteral("Install Pellux with its desktop entry (cmake --install)"),
                QStringLiteral("Run 'kbuildsycoca6' (Plasma 5: 'kbuildsycoca5') or log in again"),
                QStringLiteral("Start Pellux from its installed location"),
                QStringLiteral("Press Check Permission") } };
    case DesktopSession::gnome:
        return { QStringLiteral("Pellux reads GNOME's windows through its own Shell extension, which is not "
                                "turned on."),
            QStringLiteral("Open Help"),
            { QStringLiteral("Open Extensions (or run 'gnome-extensions enable windows@pellux.app')"),
                QStringLiteral("Turn on 'Pellux Windows'"), QStringLiteral("If it is not listed, log out and in again"),
                QStringLiteral("Press Check Permission") } };
    case DesktopSession::wlroots:
        return { QStringLiteral("Pellux could not read the screen of this compositor. It needs the wlr-screencopy "
                                "protocol and, for window names, sway's IPC socket (SWAYSOCK)."),
            QStringLiteral("Open Help"),
            { QStringLiteral("Nothing needs to be turned on for sway"),
                QStringLiteral("Start Pellux from within the session (SWAYSOCK set)"),
                QStringLiteral("Windows hidden behind others are captured once shown"),
                QStringLiteral("Press Check Permission") } };
    case DesktopSession::portal:
        return { QStringLiteral("Pellux needs your permission to record your screen. Your desktop asks once "
                                "which screens Pellux may record."),
            QStringLiteral("Open Help"),
            { QStringLiteral("Your desktop shows a screen-sharing dialog"),
                QStringLiteral("Choose the screens and allow (tick 'Remember' if offered)"),
                QStringLiteral("Pellux keeps the permission for its next start"),
                QStringLiteral("Press Check Permission") } };
    case DesktopSession::x11:
    case DesktopSession::none:
        break;
    }
    return { QStringLiteral(
                 "Pellux needs permission to record your screen. Grant access in Privacy & Security settings."),
        QStringLiteral("Open System Settings"),
        { QStringLiteral("System Settings should now be open"), QStringLiteral("Find 'Pellux' in the list"),
            QStringLiteral("Toggle the switch to enable"), QStringLiteral("Close System Settings") } };
}

} // namespace pellux
