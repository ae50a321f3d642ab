#include "capture/wayland/WaylandBackends.h"
#include "capture/wayland/gnome/MutterCaptureBackend.h"
#include "capture/wayland/gnome/MutterIdleMonitor.h"

namespace pellux::wayland {

std::unique_ptr<CaptureBackend> createMutterCaptureBackend() { return std::make_unique<MutterCaptureBackend>(); }

std::unique_ptr<ActivitySource> createMutterActivitySource(QObject *parent)
{
    return std::make_unique<MutterIdleMonitor>(QDBusConnection::sessionBus(), parent);
}

} // namespace pellux::wayland
