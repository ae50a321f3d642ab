#include "capture/NullCaptureBackend.h"
#include "capture/wayland/WaylandBackends.h"

namespace pellux::wayland {

std::unique_ptr<CaptureBackend> createPortalCaptureBackend()
{
    return std::make_unique<NullCaptureBackend>(QStringLiteral("Capture on this portal desktop is not available yet"));
}

} // namespace pellux::wayland
