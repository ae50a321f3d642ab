#include "capture/CaptureBackendLoader.h"

#include "capture/NullCaptureBackend.h"
#include "capture/x11/X11CaptureBackend.h"
#include "capture/x11/XInputActivitySource.h"

namespace pellux {

CaptureBackend &CaptureBackend::shared()
{
    static const std::unique_ptr<CaptureBackend> backend = createCaptureBackend();
    return *backend;
}

std::unique_ptr<CaptureBackend> createCaptureBackend()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return std::make_unique<NullCaptureBackend>(
            QStringLiteral("No X display is available for screen capture (DISPLAY is not set)"));
    return std::make_unique<X11CaptureBackend>();
}

std::unique_ptr<ActivitySource> createActivitySource(QObject *parent)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return std::make_unique<NullActivitySource>(parent);
    return std::make_unique<XInputActivitySource>(QString(), parent);
}

} // namespace pellux
