#include "capture/NullCaptureBackend.h"
#include "capture/wayland/WaylandBackends.h"

namespace pellux::wayland {

std::unique_ptr<CaptureBackend> createMutterCaptureBackend()
{
    return std::make_unique<NullCaptureBackend>(QStringLiteral("Capture on this GNOME desktop is not available yet"));
}

} // namespace pellux::wayland

namespace pellux::wayland {

std::unique_ptr<ActivitySource> createMutterActivitySource(QObject *parent)
{
    return std::make_unique<NullActivitySource>(parent);
}

} // namespace pellux::wayland
