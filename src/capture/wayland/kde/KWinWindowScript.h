#pragma once

#include <QByteArray>
#include <QString>

namespace pellux::kwin {

// The KWin script that lists the windows once: loaded through org.kde.kwin.Scripting, it calls
// `method` of `interface` at `path` of the D-Bus `service` with one JSON string,
//   {"version": 1, "screen": {x, y, width, height}, "windows": [{internalId, caption, resourceClass,
//    resourceName, desktopFileName, pid, x, y, width, height, stackingOrder, minimized, hidden,
//    onCurrentDesktop, skipTaskbar, normalWindow, dialog, desktopWindow, dock, ...}]}
// or {"version": 1, "error": "..."} when the script failed. It speaks the scripting API of Plasma
// 5.27 (workspace.clientList(), numbered desktops) and of Plasma 6 (workspace.windowList(),
// desktop objects).
QByteArray windowListScript(
    const QString &service, const QString &path, const QString &interface, const QString &method);

} // namespace pellux::kwin
