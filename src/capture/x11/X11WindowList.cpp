#include "capture/x11/X11WindowList.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace pellux::x11 {

namespace {

std::optional<QString> processName(qint64 pid)
{
    if (pid <= 0)
        return std::nullopt;
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString name = QString::fromUtf8(comm.readLine(256)).trimmed();
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

// WM_CLASS is two NUL-terminated strings: instance, then class.
std::pair<QString, QString> splitWmClass(const QByteArray &data)
{
    const QList<QByteArray> parts = data.split('\0');
    const QString instance = parts.size() > 0 ? QString::fromLocal8Bit(parts[0]) : QString();
    const QString windowClass = parts.size() > 1 ? QString::fromLocal8Bit(parts[1]) : QString();
    return { instance, windowClass };
}

struct WindowCookies {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t windowType, state, netWmName, wmName, wmClass, pid, clientMachine;
};

xcb_get_property_cookie_t requestProperty(xcb::Connection &c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type)
{
    return xcb_get_property(c.get(), 0, w, property, type, 0, 1 << 14);
}

struct Atoms {
    xcb_atom_t utf8String, netWmName, netWmWindowType, netWmState, netWmStateHidden, netWmPid;
    std::vector<xcb_atom_t> neverCapturedTypes;

    explicit Atoms(xcb::Connection &c)
        : utf8String(c.atom("UTF8_STRING"))
        , netWmName(c.atom("_NET_WM_NAME"))
        , netWmWindowType(c.atom("_NET_WM_WINDOW_TYPE"))
        , netWmState(c.atom("_NET_WM_STATE"))
        , netWmStateHidden(c.atom("_NET_WM_STATE_HIDDEN"))
        , netWmPid(c.atom("_NET_WM_PID"))
    {
        for (const char *name : { "_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_WINDOW_TYPE_DOCK",
                 "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_MENU",
                 "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_SPLASH" })
            neverCapturedTypes.push_back(c.atom(name));
    }
};

std::vector<ClientWindowProperties> readProperties(xcb::Connection &c, const std::vector<xcb_window_t> &windows)
{
    const Atoms atoms(c);
    const xcb_window_t root = c.root();
    std::vector<WindowCookies> cookies;
    cookies.reserve(windows.size());
    // All requests first, then all replies: one round trip for the whole list.
    for (xcb_window_t w : windows) {
        cookies.push_back({ xcb_get_window_attributes(c.get(), w), xcb_get_geometry(c.get(), w),
            xcb_translate_coordinates(c.get(), w, root, 0, 0),
            requestProperty(c, w, atoms.netWmWindowType, XCB_ATOM_ATOM),
            requestProperty(c, w, atoms.netWmState, XCB_ATOM_ATOM),
            requestProperty(c, w, atoms.netWmName, atoms.utf8String),
            requestProperty(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY),
            requestProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING),
            requestProperty(c, w, atoms.netWmPid, XCB_ATOM_CARDINAL),
            requestProperty(c, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_ANY) });
    }

    std::vector<ClientWindowProperties> result;
    for (size_t i = 0; i < windows.size(); ++i) {
        const WindowCookies &k = cookies[i];
        xcb::ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c.get(), k.attributes, nullptr));
        xcb::ReplyPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c.get(), k.geometry, nullptr));
        xcb::ReplyPtr<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(c.get(), k.origin, nullptr));
        const std::optional<xcb::Property> type = xcb::takeProperty(c, k.windowType, XCB_ATOM_ATOM);
        const std::optional<xcb::Property> state = xcb::takeProperty(c, k.state, XCB_ATOM_ATOM);
        const std::optional<xcb::Property> netWmName = xcb::takeProperty(c, k.netWmName, atoms.utf8String);
        const std::optional<xcb::Property> wmName = xcb::takeProperty(c, k.wmName, XCB_ATOM_ANY);
        const std::optional<xcb::Property> wmClass = xcb::takeProperty(c, k.wmClass, XCB_ATOM_STRING);
        const std::optional<xcb::Property> pid = xcb::takeProperty(c, k.pid, XCB_ATOM_CARDINAL);
        const std::optional<xcb::Property> clientMachine = xcb::takeProperty(c, k.clientMachine, XCB_ATOM_ANY);
        // A window that closed while being listed answers with errors; leave it out.
        if (!attributes || !geometry || !origin)
            continue;

        ClientWindowProperties p;
        p.window = windows[i];
        p.frame = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        p.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        const std::vector<uint32_t> stateAtoms = xcb::values32(state);
        p.hidden = std::find(stateAtoms.begin(), stateAtoms.end(), atoms.netWmStateHidden) != stateAtoms.end();
        for (uint32_t t : xcb::values32(type))
            if (std::find(atoms.neverCapturedTypes.begin(), atoms.neverCapturedTypes.end(), t)
                != atoms.neverCapturedTypes.end())
                p.neverCaptured = true;
        if (netWmName)
            p.netWmName = decodeTextProperty(*netWmName, atoms.utf8String);
        if (wmName)
            p.wmName = decodeTextProperty(*wmName, atoms.utf8String);
        if (wmClass)
            std::tie(p.wmClassInstance, p.wmClassClass) = splitWmClass(wmClass->data);
        const std::vector<uint32_t> pidValue = xcb::values32(pid);
        if (!pidValue.empty())
            p.pid = pidValue.front();
        if (clientMachine)
            p.clientMachine = decodeTextProperty(*clientMachine, atoms.utf8String);
        result.push_back(std::move(p));
    }
    return result;
}

bool hasWmState(xcb::Connection &c, xcb_window_t w, xcb_atom_t wmState)
{
    return xcb::getProperty(c, w, wmState, XCB_ATOM_ANY, 2).has_value();
}

std::vector<xcb_window_t> children(xcb::Connection &c, xcb_window_t w)
{
    xcb::ReplyPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c.get(), xcb_query_tree(c.get(), w), nullptr));
    if (!tree)
        return {};
    const xcb_window_t *first = xcb_query_tree_children(tree.get());
    return { first, first + xcb_query_tree_children_length(tree.get()) };
}

// The window below `w` (or `w` itself) that a window manager marked as a client with WM_STATE.
xcb_window_t findClient(xcb::Connection &c, xcb_window_t w, xcb_atom_t wmState, int depth)
{
    if (hasWmState(c, w, wmState))
        return w;
    if (depth == 0)
        return XCB_WINDOW_NONE;
    for (xcb_window_t child : children(c, w)) {
        const xcb_window_t client = findClient(c, child, wmState, depth - 1);
        if (client != XCB_WINDOW_NONE)
            return client;
    }
    return XCB_WINDOW_NONE;
}

// Window list without EWMH: clients found through WM_STATE; with no window manager at all, the
// mapped ordinary top-level windows.
std::vector<xcb_window_t> clientsFromTree(xcb::Connection &c)
{
    const xcb_atom_t wmState = c.atom("WM_STATE");
    std::vector<xcb_window_t> clients;
    std::vector<xcb_window_t> plainTopLevels;
    for (xcb_window_t top : children(c, c.root())) {
        xcb::ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c.get(), xcb_get_window_attributes(c.get(), top), nullptr));
        if (!attributes || attributes->override_redirect || attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
            continue;
        const xcb_window_t client = findClient(c, top, wmState, 2);
        if (client != XCB_WINDOW_NONE)
            clients.push_back(client);
        else if (attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            plainTopLevels.push_back(top);
    }
    return clients.empty() ? plainTopLevels : clients;
}

} // namespace

QString decodeTextProperty(const xcb::Property &property, xcb_atom_t utf8StringAtom)
{
    QByteArray bytes = property.data;
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    if (property.type == utf8StringAtom)
        return QString::fromUtf8(bytes);
    return QString::fromLatin1(bytes);
}

std::optional<RunningApplication> owningApplicationFor(
    const ClientWindowProperties &p, const DesktopEntryIndex &desktopEntries, const QString &localHostName)
{
    const bool local = !p.clientMachine || p.clientMachine->isEmpty() || *p.clientMachine == localHostName
        || *p.clientMachine == QLatin1String("localhost");
    const qint64 pid = local ? p.pid : 0;
    const std::optional<QString> process = processName(pid);

    RunningApplication app;
    app.processID = pid;
    app.applicationName = !p.wmClassClass.isEmpty() ? p.wmClassClass
        : !p.wmClassInstance.isEmpty()              ? p.wmClassInstance
                                                    : process.value_or(QString());
    if (app.applicationName.isEmpty())
        return std::nullopt;
    if (const std::optional<QString> id = desktopEntries.idForWindowClass(p.wmClassInstance, p.wmClassClass))
        app.bundleIdentifier = *id;
    else if (!p.wmClassInstance.isEmpty())
        app.bundleIdentifier = p.wmClassInstance;
    else if (const std::optional<QString> id = desktopEntries.idForWindowClass(app.applicationName, {}))
        app.bundleIdentifier = *id;
    else
        app.bundleIdentifier = app.applicationName;
    return app;
}

WindowDescription describeWindow(const ClientWindowProperties &p, const QRect &screen,
    const DesktopEntryIndex &desktopEntries, const QString &localHostName)
{
    WindowDescription w;
    w.windowID = p.window;
    w.frame = QRectF(p.frame);
    w.isOnScreen = p.viewable && !p.hidden && screen.intersects(p.frame);
    w.title = p.netWmName ? p.netWmName : p.wmName;
    w.owningApplication = owningApplicationFor(p, desktopEntries, localHostName);
    return w;
}

std::optional<std::vector<ClientWindowProperties>> readClientWindows(xcb::Connection &c)
{
    if (c.hasError() || c.root() == XCB_WINDOW_NONE)
        return std::nullopt;
    std::vector<xcb_window_t> windows;
    const std::optional<xcb::Property> stacking
        = xcb::getProperty(c, c.root(), c.atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (stacking && stacking->format == 32) {
        windows = xcb::values32(stacking);
    } else {
        windows = clientsFromTree(c);
    }
    if (c.hasError())
        return std::nullopt;
    // Both sources list bottom to top; callers want the frontmost window first.
    std::reverse(windows.begin(), windows.end());
    std::vector<ClientWindowProperties> result = readProperties(c, windows);
    if (c.hasError())
        return std::nullopt;
    return result;
}

} // namespace pellux::x11
