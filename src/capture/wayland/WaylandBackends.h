#pragma once

#include "capture/ActivitySource.h"
#include "capture/CaptureBackend.h"

#include <QObject>

#include <memory>

// The Wayland backends, one pair per kind of desktop. Only the loader calls these.
namespace pellux::wayland {

// KDE Plasma: a KWin script lists the windows, ScreenShot2 delivers one window's pixels,
// ext-idle-notify reports presence.
std::unique_ptr<CaptureBackend> createKWinCaptureBackend();
// GNOME: Pellux's shell extension lists the windows, Mutter's ScreenCast records one window over
// PipeWire, Mutter's IdleMonitor reports presence.
std::unique_ptr<CaptureBackend> createMutterCaptureBackend();
std::unique_ptr<ActivitySource> createMutterActivitySource(QObject *parent);
// wlroots compositors: sway IPC (or foreign-toplevel) lists the windows, wlr-screencopy of the
// output cropped to each visible window (or ext-image-copy-capture of the window where offered).
std::unique_ptr<CaptureBackend> createWlrootsCaptureBackend();
// Presence from ext-idle-notify-v1, or org_kde_kwin_idle where that is all the compositor offers
// (KWin and wlroots compositors).
std::unique_ptr<ActivitySource> createWaylandIdleActivitySource(QObject *parent);
// Any other Wayland desktop: the ScreenCast portal, one window per monitor.
std::unique_ptr<CaptureBackend> createPortalCaptureBackend();

} // namespace pellux::wayland
