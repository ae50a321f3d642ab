// READ FIRST: /work/helper-common.md holds the binding rules and working conventions for this task
// (what you may not read or fetch, how to test, how to build on this shared machine, the deadline).
// Delete this note when you replace this stub.
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
