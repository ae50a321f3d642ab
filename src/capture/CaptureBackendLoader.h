#pragma once

#include "capture/ActivitySource.h"
#include "capture/CaptureBackend.h"

#include <memory>

namespace pellux {

// The backends for the current desktop session: X11 when a display is reachable, otherwise ones
// that report the screen (and input) as unavailable.
std::unique_ptr<CaptureBackend> createCaptureBackend();
std::unique_ptr<ActivitySource> createActivitySource(QObject *parent = nullptr);

} // namespace pellux
