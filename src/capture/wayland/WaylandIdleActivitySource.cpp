#include "capture/NullCaptureBackend.h"
#include "capture/wayland/WaylandBackends.h"

namespace pellux::wayland {

std::unique_ptr<ActivitySource> createWaylandIdleActivitySource(QObject *parent)
{
    return std::make_unique<NullActivitySource>(parent);
}

} // namespace pellux::wayland
