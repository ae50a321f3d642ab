#pragma once

#include "capture/DesktopSession.h"

#include <QString>
#include <QStringList>

namespace pellux {

// What the permission alert and the permission guide tell the user to do so that Pellux can read
// the screen, which depends on the desktop: nothing to turn on under X11, KDE Plasma and sway,
// Pellux's extension under GNOME, the desktop's own consent dialog elsewhere.
struct PermissionGuide {
    QString alertText;
    QString openSettingsButton;
    QStringList steps; // four short steps
};

PermissionGuide permissionGuideFor(DesktopSession session);

} // namespace pellux
