#include "capture/wayland/WaylandBackends.h"
#include "capture/wayland/kde/KWinCaptureBackend.h"

namespace pellux::wayland {

std::unique_ptr<CaptureBackend> createKWinCaptureBackend() { return std::make_unique<kwin::KWinCaptureBackend>(); }

} // namespace pellux::wayland
