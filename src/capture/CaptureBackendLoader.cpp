#include "capture/CaptureBackendLoader.h"

#include "capture/NullCaptureBackend.h"
#include "capture/x11/X11CaptureBackend.h"
#include "capture/x11/XInputActivitySource.h"
#include "runtime/Log.h"
#include "runtime/SharedInstance.h"

#if PELLUX_WAYLAND
#include "capture/wayland/WaylandBackends.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#endif

namespace pellux {

namespace {

DesktopSession detectSession()
{
    const BusNameProbe busNameHasOwner = [](const QString &name) {
#if PELLUX_WAYLAND
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        return bus && bus->isServiceRegistered(name).value();
#else
        Q_UNUSED(name);
        return false;
#endif
    };
    const DesktopSession session = detectDesktopSession(SessionEnvironment::fromProcess(), busNameHasOwner);
    log::debug(QStringLiteral("DEBUG CaptureBackendLoader: desktop session \"%1\"").arg(desktopSessionName(session)));
    return session;
}

} // namespace

DesktopSession currentDesktopSession()
{
    static const DesktopSession session = detectSession();
    return session;
}

CaptureBackend &CaptureBackend::shared() { return SharedInstance<CaptureBackend>::get("CaptureBackend"); }

std::unique_ptr<CaptureBackend> createCaptureBackend()
{
    switch (currentDesktopSession()) {
    case DesktopSession::x11:
        return std::make_unique<X11CaptureBackend>();
#if PELLUX_WAYLAND
    case DesktopSession::kde:
        return wayland::createKWinCaptureBackend();
    case DesktopSession::gnome:
        return wayland::createMutterCaptureBackend();
    case DesktopSession::wlroots:
        return wayland::createWlrootsCaptureBackend();
    case DesktopSession::portal:
        return wayland::createPortalCaptureBackend();
#else
    case DesktopSession::kde:
    case DesktopSession::gnome:
    case DesktopSession::wlroots:
    case DesktopSession::portal:
        return std::make_unique<NullCaptureBackend>(
            QStringLiteral("This build of Pellux cannot capture on Wayland (built without PELLUX_WAYLAND)"));
#endif
    case DesktopSession::none:
        break;
    }
    return std::make_unique<NullCaptureBackend>(QStringLiteral(
        "No display server is available for screen capture (neither WAYLAND_DISPLAY nor DISPLAY is set)"));
}

std::unique_ptr<ActivitySource> createActivitySource(QObject *parent)
{
    switch (currentDesktopSession()) {
    case DesktopSession::x11:
        return std::make_unique<XInputActivitySource>(QString(), parent);
#if PELLUX_WAYLAND
    case DesktopSession::kde:
    case DesktopSession::wlroots:
        return wayland::createWaylandIdleActivitySource(parent);
    case DesktopSession::gnome:
        return wayland::createMutterActivitySource(parent);
    case DesktopSession::portal:
        // Portals offer no idle notifications: try the Wayland ones, which most compositors have.
        return wayland::createWaylandIdleActivitySource(parent);
#else
    case DesktopSession::kde:
    case DesktopSession::gnome:
    case DesktopSession::wlroots:
    case DesktopSession::portal:
#endif
    case DesktopSession::none:
        break;
    }
    return std::make_unique<NullActivitySource>(parent);
}

} // namespace pellux
