#include "capture/wayland/gnome/ShellWindowList.h"

#include "runtime/JsonFields.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>

namespace pellux::wayland {

namespace {

CaptureResult<std::vector<ShellWindow>> malformed(const QString &reason)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain),
        QStringLiteral("The Pellux shell extension's window list is malformed: %1").arg(reason) };
}

bool readRect(const QJsonObject &o, const char *key, QRect &out, QString *error)
{
    const QJsonValue value = o.value(QLatin1String(key));
    if (!value.isObject())
        return json::fail(error, QStringLiteral("\"%1\" is not an object").arg(QLatin1String(key)));
    const QJsonObject rect = value.toObject();
    double x = 0, y = 0, width = 0, height = 0;
    if (!json::readNumber(rect, "x", x, error) || !json::readNumber(rect, "y", y, error)
        || !json::readNumber(rect, "width", width, error) || !json::readNumber(rect, "height", height, error))
        return false;
    if (width < 0 || height < 0)
        return json::fail(error, QStringLiteral("\"%1\" has a negative size").arg(QLatin1String(key)));
    out = QRect(int(x), int(y), int(width), int(height));
    return true;
}

// The id is a decimal string: a JSON number cannot hold every 64-bit value.
bool readId(const QJsonObject &o, quint64 &out, QString *error)
{
    QString text;
    if (!json::readString(o, "id", text, error))
        return false;
    bool ok = false;
    out = text.toULongLong(&ok);
    if (!ok || out == 0)
        return json::fail(error, QStringLiteral("\"id\" is not a window id: \"%1\"").arg(text));
    return true;
}

// False with the reason when the window is malformed; `listed` is false for a kind of window the
// capture service never lists.
bool readWindow(const QJsonObject &o, ShellWindow &w, bool &listed, QString *error)
{
    QString type;
    double stacking = 0, pid = 0;
    if (!readId(o, w.id, error) || !json::readNumber(o, "stacking", stacking, error)
        || !json::readString(o, "type", type, error) || !json::readString(o, "title", w.title, error)
        || !json::readString(o, "wm_class", w.wmClass, error)
        || !json::readString(o, "gtk_application_id", w.gtkApplicationId, error)
        || !json::readString(o, "sandboxed_app_id", w.sandboxedAppId, error)
        || !json::readString(o, "desktop_entry", w.desktopEntry, error) || !json::readNumber(o, "pid", pid, error)
        || !readRect(o, "frame", w.frame, error) || !readRect(o, "buffer", w.buffer, error)
        || !json::readBool(o, "has_focus", w.hasFocus, error) || !json::readBool(o, "minimized", w.minimized, error)
        || !json::readBool(o, "on_current_workspace", w.onCurrentWorkspace, error))
        return false;
    w.stacking = int(stacking);
    // MetaWindow answers -1 or 0 when the client's process is unknown.
    w.pid = pid > 0 ? qint64(pid) : 0;
    w.dialog = type == QLatin1String("dialog");
    listed = w.dialog || type == QLatin1String("normal");
    return true;
}

QString withoutDesktopSuffix(QString id)
{
    if (id.endsWith(QLatin1String(".desktop")))
        id.chop(8);
    return id;
}

} // namespace

CaptureResult<std::vector<ShellWindow>> parseShellWindowList(const QByteArray &json)
{
    QString error;
    const std::optional<QJsonObject> document = json::parseObject(json, &error);
    if (!document)
        return malformed(error);
    double version = 0;
    if (!json::readNumber(*document, "version", version, &error))
        return malformed(error);
    if (int(version) != shellWindowListVersion)
        return malformed(QStringLiteral("version %1, while this Pellux reads version %2 (update the extension "
                                        "and Pellux together)")
                             .arg(version)
                             .arg(shellWindowListVersion));
    const QJsonValue windowsValue = document->value(QLatin1String("windows"));
    if (!windowsValue.isArray())
        return malformed(QStringLiteral("\"windows\" is not an array"));

    std::vector<ShellWindow> windows;
    const QJsonArray array = windowsValue.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isObject())
            return malformed(QStringLiteral("window %1 is not an object").arg(i));
        ShellWindow window;
        bool listed = false;
        if (!readWindow(array.at(i).toObject(), window, listed, &error))
            return malformed(QStringLiteral("window %1: %2").arg(i).arg(error));
        if (!listed)
            continue;
        if (std::any_of(windows.begin(), windows.end(), [&](const ShellWindow &w) { return w.id == window.id; }))
            return malformed(QStringLiteral("window %1 is listed twice").arg(window.id));
        windows.push_back(std::move(window));
    }
    std::stable_sort(windows.begin(), windows.end(),
        [](const ShellWindow &a, const ShellWindow &b) { return a.stacking < b.stacking; });
    return windows;
}

quint32 WindowIdTable::idFor(quint64 shellId)
{
    const auto found = m_toWindow.constFind(shellId);
    if (found != m_toWindow.constEnd())
        return *found;
    // 0 means "no window" to the capture service; skip it (and ids still in use) on wrap-around.
    while (m_next == 0 || m_toShell.contains(m_next))
        ++m_next;
    const quint32 id = m_next++;
    m_toWindow.insert(shellId, id);
    m_toShell.insert(id, shellId);
    return id;
}

std::optional<quint64> WindowIdTable::shellIdFor(quint32 windowID) const
{
    const auto found = m_toShell.constFind(windowID);
    if (found == m_toShell.constEnd())
        return std::nullopt;
    return *found;
}

void WindowIdTable::keepOnly(const std::vector<ShellWindow> &windows)
{
    QHash<quint64, quint32> kept;
    for (const ShellWindow &window : windows) {
        const auto found = m_toWindow.constFind(window.id);
        if (found != m_toWindow.constEnd())
            kept.insert(window.id, *found);
    }
    m_toWindow = std::move(kept);
    m_toShell.clear();
    for (auto it = m_toWindow.constBegin(); it != m_toWindow.constEnd(); ++it)
        m_toShell.insert(it.value(), it.key());
}

std::optional<RunningApplication> owningApplicationFor(const ShellWindow &window, const DesktopEntryIndex &entries)
{
    QString name = window.wmClass;
    QString identifier = withoutDesktopSuffix(window.desktopEntry);
    if (identifier.isEmpty())
        identifier = window.sandboxedAppId;
    if (identifier.isEmpty())
        identifier = window.gtkApplicationId;
    if (identifier.isEmpty() && !window.wmClass.isEmpty())
        identifier = entries.idForWindowClass(window.wmClass, window.wmClass).value_or(window.wmClass);
    if (name.isEmpty())
        name = identifier;
    if (name.isEmpty() && window.pid == 0)
        return std::nullopt;
    return RunningApplication { name, identifier, window.pid };
}

ShareableContent describeShellWindows(const std::vector<ShellWindow> &windows, WindowIdTable &ids,
    const DesktopEntryIndex &entries, bool onScreenWindowsOnly)
{
    ids.keepOnly(windows);
    ShareableContent content;
    for (const ShellWindow &shellWindow : windows) {
        WindowDescription window;
        window.windowID = ids.idFor(shellWindow.id);
        window.frame = QRectF(shellWindow.frame);
        window.isOnScreen = !shellWindow.minimized && shellWindow.onCurrentWorkspace;
        if (onScreenWindowsOnly && !window.isOnScreen)
            continue;
        window.title = shellWindow.title;
        window.owningApplication = owningApplicationFor(shellWindow, entries);
        if (window.owningApplication
            && std::find(content.applications.begin(), content.applications.end(), *window.owningApplication)
                == content.applications.end())
            content.applications.push_back(*window.owningApplication);
        content.windows.push_back(std::move(window));
    }
    return content;
}

} // namespace pellux::wayland
