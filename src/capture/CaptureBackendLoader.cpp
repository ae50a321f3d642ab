#include "capture/CaptureBackendLoader.h"

#include "capture/NullCaptureBackend.h"

namespace pellux {

CaptureBackend &CaptureBackend::shared()
{
    static const std::unique_ptr<CaptureBackend> backend = createCaptureBackend();
    return *backend;
}

std::unique_ptr<CaptureBackend> createCaptureBackend()
{
    return std::make_unique<NullCaptureBackend>(QStringLiteral("No display server is available for screen capture"));
}

std::unique_ptr<ActivitySource> createActivitySource(QObject *parent)
{
    return std::make_unique<NullActivitySource>(parent);
}

} // namespace pellux
