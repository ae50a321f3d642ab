#pragma once

#include "capture/ActivitySource.h"
#include "capture/CaptureBackend.h"
#include "capture/DesktopSession.h"

#include <memory>

namespace pellux {

// The session Pellux runs in, detected once (see DesktopSession.h).
DesktopSession currentDesktopSession();

// The backends for the current desktop session: X11, one of the Wayland desktops, or ones that
// report the screen (and input) as unavailable.
std::unique_ptr<CaptureBackend> createCaptureBackend();
std::unique_ptr<ActivitySource> createActivitySource(QObject *parent = nullptr);

} // namespace pellux
