#pragma once

#include "capture/CaptureBackend.h"

#include <QByteArray>
#include <QRect>
#include <QString>

#include <optional>
#include <vector>

namespace pellux {
class DesktopEntryIndex;
}

namespace pellux::wayland::sway {

// One output of sway's layout: its place in layout coordinates (logical pixels), its scale and its
// transform ("normal", "90", "flipped-180", ...).
struct Output {
    QString name;
    QRect rect;
    double scale = 1.0;
    QString transform;

    friend bool operator==(const Output &, const Output &) = default;
};

// One application window (a view) of sway's tree. `contentRect` is the client area without title
// bar and borders, in layout coordinates. `appId` is the Wayland app_id or, for an XWayland window,
// its WM_CLASS class (then `instance` is the WM_CLASS instance).
struct Window {
    qint64 id = 0;
    std::optional<QString> title;
    QString appId;
    QString instance;
    qint64 pid = 0;
    QRect contentRect;
    bool focused = false;
    // On a shown workspace and not hidden behind a tab, a stack or a fullscreen window.
    bool visible = false;
    bool fullscreen = false;
    bool floating = false;
    // The output whose tree holds the window; empty for the scratchpad.
    QString outputName;
    // The ext-foreign-toplevel-list identifier (sway 1.10 and later; empty before).
    QString foreignToplevelIdentifier;

    friend bool operator==(const Window &, const Window &) = default;
};

struct Tree {
    std::vector<Window> windows;
    std::vector<Output> outputs;
};

// The windows and outputs of a GET_TREE reply, windows in tree order (tiled before floating within
// a workspace, floating ones bottom to top). An error for a reply that is not sway's tree.
CaptureResult<Tree> parseTree(const QByteArray &json);

// The windows front to back: the focused one, then the shown ones (fullscreen, then floating from
// the top, then tiled, which do not overlap), then the hidden ones in tree order.
std::vector<Window> frontToBack(std::vector<Window> windows);

// The output a window is on, or nothing.
const Output *outputOf(const Tree &tree, const Window &window);

// A window as the capture service sees it, under the given id.
WindowDescription describe(const Window &window, quint32 windowID, const DesktopEntryIndex &desktopEntries);

} // namespace pellux::wayland::sway
