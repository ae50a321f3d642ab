#include "capture/wayland/kde/KWinWindowScript.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace pellux::kwin {

namespace {

// Kept to the ECMAScript both KWin 5.27's and Plasma 6's engines run; every property is read
// defensively because the two APIs differ and a missing one must not stop the report.
constexpr char scriptTemplate[] = R"JS((function () {
    var report = { version: 1, windows: [] };
    try {
        var plasma6 = typeof workspace.windowList === "function";
        var list = plasma6 ? workspace.windowList() : workspace.clientList();
        var current = workspace.currentDesktop;
        var screen = workspace.virtualScreenGeometry;
        if (screen)
            report.screen = { x: screen.x, y: screen.y, width: screen.width, height: screen.height };
        var flag = function (value) { return value === true; };
        for (var i = 0; i < list.length; i++) {
            var w = list[i], g = w.frameGeometry, c = w.clientGeometry || g;
            var onCurrentDesktop = flag(w.onAllDesktops);
            if (!onCurrentDesktop && plasma6) {
                var desktops = w.desktops || [];
                for (var d = 0; d < desktops.length; d++)
                    if (current && desktops[d] && desktops[d].id === current.id)
                        onCurrentDesktop = true;
            } else if (!onCurrentDesktop) {
                onCurrentDesktop = w.desktop === current;
            }
            report.windows.push({
                internalId: String(w.internalId),
                caption: String(w.caption || ""),
                resourceClass: String(w.resourceClass || ""),
                resourceName: String(w.resourceName || ""),
                desktopFileName: String(w.desktopFileName || ""),
                pid: w.pid || 0,
                x: g.x, y: g.y, width: g.width, height: g.height,
                clientWidth: c.width, clientHeight: c.height,
                stackingOrder: w.stackingOrder || 0,
                minimized: flag(w.minimized),
                hidden: flag(w.hidden),
                onCurrentDesktop: onCurrentDesktop,
                skipTaskbar: flag(w.skipTaskbar),
                normalWindow: flag(w.normalWindow),
                dialog: flag(w.dialog),
                desktopWindow: flag(w.desktopWindow),
                dock: flag(w.dock),
                splash: flag(w.splash),
                tooltip: flag(w.tooltip),
                notification: flag(w.notification),
                criticalNotification: flag(w.criticalNotification),
                onScreenDisplay: flag(w.onScreenDisplay),
                popupWindow: flag(w.popupWindow) || flag(w.appletPopup),
                menu: flag(w.menu) || flag(w.popupMenu) || flag(w.dropdownMenu),
                comboBox: flag(w.comboBox),
                dndIcon: flag(w.dndIcon)
            });
        }
    } catch (e) {
        report = { version: 1, error: String(e) };
    }
    callDBus(@SERVICE@, @PATH@, @INTERFACE@, @METHOD@, JSON.stringify(report));
})();
)JS";

// A JavaScript string literal (JSON's quoting is valid JavaScript).
QByteArray quoted(const QString &text)
{
    QByteArray json = QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact);
    return json.mid(1, json.size() - 2);
}

} // namespace

QByteArray windowListScript(
    const QString &service, const QString &path, const QString &interface, const QString &method)
{
    QByteArray script(scriptTemplate);
    script.replace("@SERVICE@", quoted(service));
    script.replace("@PATH@", quoted(path));
    script.replace("@INTERFACE@", quoted(interface));
    script.replace("@METHOD@", quoted(method));
    return script;
}

} // namespace pellux::kwin
