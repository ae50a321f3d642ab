#pragma once

#include "capture/CaptureBackend.h"
#include "capture/DesktopEntryIndex.h"
#include "capture/x11/Xcb.h"

#include <optional>
#include <vector>

namespace pellux::x11 {

// What the X server says about one client window, before it is turned into a description.
struct ClientWindowProperties {
    xcb_window_t window = XCB_WINDOW_NONE;
    QRect frame; // root coordinates
    bool viewable = false;
    bool hidden = false; // _NET_WM_STATE_HIDDEN (minimised, shaded)
    bool neverCaptured = false; // a desktop, panel, menu, tooltip, notification or splash window
    std::optional<QString> netWmName;
    std::optional<QString> wmName;
    QString wmClassInstance;
    QString wmClassClass;
    qint64 pid = 0;
    std::optional<QString> clientMachine;
};

// The owner of a window: named by its WM_CLASS class (else the process name from /proc), identified
// by the matching desktop entry (else the WM_CLASS instance, else the process name). A process id is
// only trusted when the window comes from this machine.
std::optional<RunningApplication> owningApplicationFor(
    const ClientWindowProperties &properties, const DesktopEntryIndex &desktopEntries, const QString &localHostName);

// Turns the raw properties into the description the capture service sees. `screen` is the root
// window's rectangle: a window is on screen when it is viewable, not hidden and overlaps it.
WindowDescription describeWindow(const ClientWindowProperties &properties, const QRect &screen,
    const DesktopEntryIndex &desktopEntries, const QString &localHostName);

// Reads the managed client windows, topmost first: from _NET_CLIENT_LIST_STACKING when the window
// manager publishes it, otherwise from the window tree (top-level windows carrying WM_STATE, or
// their first descendant that does). Nothing when the server cannot be asked.
std::optional<std::vector<ClientWindowProperties>> readClientWindows(xcb::Connection &connection);

// Decodes a text property (UTF8_STRING, STRING as Latin-1, COMPOUND_TEXT as far as it is ASCII).
QString decodeTextProperty(const xcb::Property &property, xcb_atom_t utf8StringAtom);

} // namespace pellux::x11
