#include "capture/wayland/WaylandBackends.h"
#include "capture/wayland/portal/PortalCaptureBackend.h"

namespace pellux::wayland {

std::unique_ptr<CaptureBackend> createPortalCaptureBackend()
{
    return std::make_unique<PortalCaptureBackend>(
        QDBusConnection::sessionBus(), portal::settingsFileRestoreTokenStore());
}

} // namespace pellux::wayland
